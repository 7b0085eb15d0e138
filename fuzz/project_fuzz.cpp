// libFuzzer target for the project file: reading, applying the header and
// picture lines, and saving what was loaded so that it loads back the same.
// Build and run it with scripts/fuzz.sh.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ProjectFuzzBody.h"

namespace {

std::string TempFile(const char* suffix) {
  return (std::filesystem::temp_directory_path() / ("sdm_project_fuzz_" + std::to_string(::getpid()) + suffix))
      .string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempFile(".sdm"), scratch = TempFile("-saved.sdm");
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
      std::fprintf(stderr, "project_fuzz: cannot write %s\n", input.c_str());
      std::abort();
    }
  }
  const sdm::fuzz::TProjectRun run = sdm::fuzz::RunProjectFile(input, scratch);
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(input.c_str());
  std::remove(scratch.c_str());
  if (!run.faults.empty()) {
    for (const std::string& f : run.faults) std::fprintf(stderr, "project_fuzz: %s\n", f.c_str());
    std::abort();
  }
  return 0;
}
