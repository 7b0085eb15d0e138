// libFuzzer target for the AVI reader and the muxer over it: what mux asks of
// a silent video it is given (headers, formats, every sample, key frames),
// then the copy itself, checked against the source. The reader works on
// files, so each input is written to a file of this process first. Build and
// run it with scripts/fuzz.sh.
#include <string>

#include "AviFuzzBody.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = std::filesystem::temp_directory_path().string();
  static const std::string path = sdm::fuzz::ScratchPath("avi_fuzz", ".avi");
  sdm::fuzz::WriteInput("avi_fuzz", path, data, size);
  const sdm::fuzz::TAviRun run = sdm::fuzz::RunAviFile(path, dir);
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  sdm::fuzz::AbortOnFaults("avi_fuzz", run.faults);
  return 0;
}
