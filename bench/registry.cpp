// What the settings store costs on hives far beyond the few dozen values the
// program writes: one setting read (GetSetting) and written (SetSetting) with
// 60 000 values in the product key, the same on a hive with a key 512 levels
// deep, and the import and export of a settings.ini of 60 000 values. Every
// access reads the whole hive again, so each figure grows with the file's
// size; the target is well under a second for each.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/registry/Registry.h"
#include "support/SettingsStore.h"

namespace {

using Clock = std::chrono::steady_clock;

double BestMs(const std::function<void()>& f) {
  double best = 1e18;
  for (int run = 0; run < 3; ++run) {
    const auto t = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t).count());
  }
  return best;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("sdm_bench_registry_" + std::to_string(::getpid()));
  fs::create_directories(dir / "hive");
  ::setenv("SLIDOMAT_REGISTRY_DIR", (dir / "hive").c_str(), 1);
  const std::string hive = sdm::RegistryHivePath(sdm::HKEY_CURRENT_USER);

  std::string wide = "Slidomat registry hive 1\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Tarvenit\\Slidomat]\n";
  for (int i = 0; i < 60000; ++i) wide += "\"v" + std::to_string(i) + "\"=\"" + std::to_string(i * 7) + "\"\n";
  WriteFile(hive, wide);
  std::printf("60 000 values (%zu kB): GetSetting %.1f ms, SetSetting %.1f ms\n", wide.size() / 1024,
              BestMs([] { sdm::GetSetting("v59999"); }), BestMs([] { sdm::SetSetting("v123", "x"); }));

  std::string deep = "Slidomat registry hive 1\n\n[HKEY_CURRENT_USER";
  for (int i = 0; i < 512; ++i) deep += "\\key";
  deep += "]\n";
  WriteFile(hive, deep);
  sdm::SetSetting("LastFCC", "XVID");  // written out: every level gets its section
  std::printf("a key 512 levels deep (%ju kB as written): GetSetting %.1f ms, SetSetting %.1f ms\n",
              static_cast<uintmax_t>(fs::file_size(hive) / 1024), BestMs([] { sdm::GetSetting("LastFCC"); }),
              BestMs([] { sdm::SetSetting("LastFCC", "MJPG"); }));

  fs::remove(hive);
  std::string ini = "[Settings]\r\n";
  for (int i = 0; i < 60000; ++i) ini += "s" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  const std::string iniPath = (dir / "settings.ini").string();
  WriteFile(iniPath, ini);
  const double import = BestMs([&] { sdm::ImportSettingsFromIni("Slidomat", iniPath); });
  const double exported = BestMs([&] { sdm::ExportSettingsToIni("Slidomat", iniPath); });
  std::printf("settings.ini of 60 000 values: import %.1f ms, export %.1f ms\n", import, exported);
  fs::remove_all(dir);
}
