// libFuzzer target for the audio facade: every reader chosen by the input's
// first byte (its extension), the format filter and compressor behind them,
// the WAV reader and the tag classes (ID3v1, ID3v2, APEv2, Vorbis comments:
// reading, and writing and removing on a copy). Build and run it with
// scripts/fuzz.sh --target audio.
#include <string>

#include "AudioFuzzBody.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A folder of this process for the input and its copy.
  static const std::string folder = [] {
    const std::string dir = sdm::fuzz::ScratchPath("audio_fuzz", "");
    std::filesystem::create_directories(dir);
    return dir;
  }();
  const sdm::fuzz::TAudioRun run = sdm::fuzz::RunAudioInput(data, size, folder);
  sdm::fuzz::AbortOnFaults("audio_fuzz (" + run.extension + ")", run.faults);
  return 0;
}
