// libFuzzer target for the AVI reader and the muxer over it: what mux asks of
// a silent video it is given (headers, formats, every sample, key frames),
// then the copy itself, checked against the source. The reader works on
// files, so each input is written to a file of this process first. Build and
// run it with scripts/fuzz.sh.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "AviFuzzBody.h"

namespace {

const std::string& Dir() {
  static const std::string dir = std::filesystem::temp_directory_path().string();
  return dir;
}

const std::string& InputPath() {
  static const std::string path = Dir() + "/sdm_avi_fuzz_" + std::to_string(::getpid()) + ".avi";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
      std::fprintf(stderr, "avi_fuzz: cannot write %s\n", path.c_str());
      std::abort();
    }
  }
  const sdm::fuzz::TAviRun run = sdm::fuzz::RunAviFile(path, Dir());
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  if (!run.faults.empty()) {
    for (const std::string& f : run.faults) std::fprintf(stderr, "avi_fuzz: %s\n", f.c_str());
    std::abort();
  }
  return 0;
}
