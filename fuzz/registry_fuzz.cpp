// libFuzzer target for the registry hive: parsing, walking every key, writing
// a value and reading everything back. The hive lives in a folder of this
// process. Build and run it with scripts/fuzz.sh.
#include <stdlib.h>

#include <string>

#include "FuzzInput.h"
#include "RegistryFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    const std::string dir = sdm::fuzz::ScratchPath("registry_fuzz", "");
    std::filesystem::create_directories(dir);
    ::setenv("SLIDOMAT_REGISTRY_DIR", dir.c_str(), 1);
    return dir;
  }();
  const sdm::fuzz::TRegistryRun run =
      sdm::fuzz::RunRegistryHive(std::string(reinterpret_cast<const char*>(data), size));
  sdm::fuzz::AbortOnFaults("registry_fuzz", run.faults);
  return 0;
}
