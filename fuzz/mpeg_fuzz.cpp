// libFuzzer target for the MPEG audio reader: the frame search, the frame
// index, the Layer I, II and III decoders and the fast play-time estimate.
// The reader works on files, so each input is written to a file of this
// process first. Build and run it with scripts/fuzz.sh.
#include <string>

#include "FuzzInput.h"
#include "MpegFuzzBody.h"

namespace {

uint64_t Seed(const uint8_t* data, size_t size) {
  // FNV-1a over the input: the same input always gets the same request sizes,
  // so a crash reproduces from its file alone.
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = sdm::fuzz::ScratchPath("mpeg_fuzz", ".mp3");
  sdm::fuzz::WriteInput("mpeg_fuzz", path, data, size);
  const sdm::fuzz::TMpegRun run = sdm::fuzz::RunMpegFile(path, Seed(data, size));
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  sdm::fuzz::AbortOnFaults("mpeg_fuzz", run.faults);
  return 0;
}
