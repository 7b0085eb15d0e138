// The compressors' own settings, kept in one small text file of the current
// user's hive folder ($SLIDOMAT_REGISTRY_DIR, else $XDG_CONFIG_HOME/Tarvenit,
// else ~/.config/Tarvenit): one line per FourCC, "FOURCC<TAB>quality<TAB>key
// interval". A damaged line is ignored, so a broken file costs the settings
// of one compressor, never an error. The file is replaced atomically.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/vfw/Vfw.h"

namespace sdm {
namespace {

namespace fs = std::filesystem;

fs::path SettingsFile() {
  if (const char* d = std::getenv("SLIDOMAT_REGISTRY_DIR"); d && *d) return fs::path(d) / "compressors.txt";
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return fs::path(x) / "Tarvenit" / "compressors.txt";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / ".config" / "Tarvenit" / "compressors.txt";
}

int Clamp(long v, int lo, int hi) { return static_cast<int>(v < lo ? lo : v > hi ? hi : v); }

class TFileSettingsStore final : public ICompressorSettingsStore {
public:
  void Load(FOURCC fcc, TCompressorSettings& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto all = ReadAll();
    if (auto it = all.find(FourCCChars(fcc)); it != all.end()) s = it->second;
  }

  bool Save(FOURCC fcc, const TCompressorSettings& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto all = ReadAll();
    all[FourCCChars(fcc)] = s;
    const fs::path file = SettingsFile();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const fs::path tmp = file.string() + ".tmp" + std::to_string(::getpid());
    {
      std::ofstream out(tmp, std::ios::trunc);
      for (const auto& [name, v] : all) out << name << '\t' << v.Quality << '\t' << v.KeyFrameInterval << '\n';
      out.flush();
      if (!out) {
        fs::remove(tmp, ec);
        return false;
      }
    }
    fs::rename(tmp, file, ec);
    if (ec) fs::remove(tmp, ec);
    return !ec;
  }

private:
  static std::map<std::string, TCompressorSettings> ReadAll() {
    std::map<std::string, TCompressorSettings> all;
    std::ifstream in(SettingsFile());
    std::string line;
    while (std::getline(in, line)) {
      if (line.size() < 6 || line[4] != '\t') continue;
      std::istringstream rest(line.substr(5));
      long q = 0, k = 0;
      char tab = 0;
      if (!(rest >> q) || !rest.get(tab) || tab != '\t' || !(rest >> k)) continue;
      all[line.substr(0, 4)] = {Clamp(q, 0, 10000), Clamp(k, 1, 10000)};
    }
    return all;
  }

  std::mutex mutex_;
};

TFileSettingsStore& FileStore() {
  static TFileSettingsStore store;
  return store;
}

ICompressorSettingsStore* g_store = nullptr;

}  // namespace

ICompressorSettingsStore& CompressorSettingsStore() { return g_store ? *g_store : FileStore(); }
void SetCompressorSettingsStore(ICompressorSettingsStore* store) { g_store = store; }

TCompressorSettings DefaultCompressorSettings(FOURCC /*fcc*/) { return TCompressorSettings{}; }

}  // namespace sdm
