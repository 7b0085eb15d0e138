// libFuzzer target for the audio facade: every reader chosen by the input's
// first byte (its extension), the format filter and compressor behind them,
// the WAV reader and the tag classes (ID3v1, ID3v2, APEv2, Vorbis comments:
// reading, and writing and removing on a copy). Build and run it with
// scripts/fuzz.sh --target audio.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AudioFuzzBody.h"

namespace {

// A folder of this process for the input and its copy.
const std::string& WorkFolder() {
  static const std::string path = [] {
    auto p = std::filesystem::temp_directory_path() / ("sdm_audio_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p.string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const sdm::fuzz::TAudioRun run = sdm::fuzz::RunAudioInput(data, size, WorkFolder());
  if (!run.faults.empty()) {
    for (const std::string& f : run.faults) std::fprintf(stderr, "audio_fuzz (%s): %s\n", run.extension.c_str(), f.c_str());
    std::abort();
  }
  return 0;
}
