#pragma once
// Compressor settings kept in memory, so a test sees what the layer stores
// and leaves no trace in the user's settings.
#include <map>

#include "platform/vfw/Vfw.h"

namespace sdm::test {

struct MemoryStore : ICompressorSettingsStore {
  std::map<FOURCC, TCompressorSettings> values;
  void Load(FOURCC f, TCompressorSettings& s) override {
    if (auto it = values.find(f); it != values.end()) s = it->second;
  }
  bool Save(FOURCC f, const TCompressorSettings& s) override {
    values[f] = s;
    return true;
  }
};

}  // namespace sdm::test
