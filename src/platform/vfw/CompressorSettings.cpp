// The compressors' own settings live in the current user's registry hive, one
// key per compressor as real codecs keep theirs: "Quality" and
// "KeyFrameInterval" as DWORD values under Software\Tarvenit VfW\<FOURCC>.
// A missing or damaged value leaves the compressor's default in place, so a
// broken hive costs settings, never an error.
#include <mutex>

#include "platform/registry/Registry.h"
#include "platform/vfw/Vfw.h"

namespace sdm {
namespace {

int Clamp(uint32_t v, int lo, int hi) {
  return static_cast<int>(v < static_cast<uint32_t>(lo) ? lo : v > static_cast<uint32_t>(hi) ? hi : v);
}

std::string KeyOf(FOURCC fcc) { return "Software\\Tarvenit VfW\\" + FourCCChars(fcc); }

class TRegistrySettingsStore final : public ICompressorSettingsStore {
public:
  void Load(FOURCC fcc, TCompressorSettings& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    TRegistry reg(HKEY_CURRENT_USER);
    if (!reg.OpenKeyReadOnly(KeyOf(fcc))) return;
    if (auto q = reg.ReadInteger("Quality")) s.Quality = Clamp(*q, 0, 10000);
    if (auto k = reg.ReadInteger("KeyFrameInterval")) s.KeyFrameInterval = Clamp(*k, 1, 10000);
  }

  bool Save(FOURCC fcc, const TCompressorSettings& s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    TRegistry reg(HKEY_CURRENT_USER);
    return reg.OpenKey(KeyOf(fcc), true) && reg.WriteInteger("Quality", static_cast<uint32_t>(s.Quality)) &&
           reg.WriteInteger("KeyFrameInterval", static_cast<uint32_t>(s.KeyFrameInterval));
  }

private:
  std::mutex mutex_;
};

TRegistrySettingsStore& FileStore() {
  static TRegistrySettingsStore store;
  return store;
}

ICompressorSettingsStore* g_store = nullptr;

}  // namespace

ICompressorSettingsStore& CompressorSettingsStore() { return g_store ? *g_store : FileStore(); }
void SetCompressorSettingsStore(ICompressorSettingsStore* store) { g_store = store; }

TCompressorSettings DefaultCompressorSettings(FOURCC /*fcc*/) { return TCompressorSettings{}; }

}  // namespace sdm
