// libFuzzer target for the project file: reading, applying the header and
// picture lines, and saving what was loaded so that it loads back the same.
// Build and run it with scripts/fuzz.sh.
#include <string>

#include "FuzzInput.h"
#include "ProjectFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = sdm::fuzz::ScratchPath("project_fuzz", ".sdm"),
                           scratch = sdm::fuzz::ScratchPath("project_fuzz", "-saved.sdm");
  sdm::fuzz::WriteInput("project_fuzz", input, data, size);
  const sdm::fuzz::TProjectRun run = sdm::fuzz::RunProjectFile(input, scratch);
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(input.c_str());
  std::remove(scratch.c_str());
  sdm::fuzz::AbortOnFaults("project_fuzz", run.faults);
  return 0;
}
