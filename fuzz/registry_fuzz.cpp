// libFuzzer target for the registry hive: parsing, walking every key, writing
// a value and reading everything back. The hive lives in a folder of this
// process. Build and run it with scripts/fuzz.sh.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "RegistryFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    const auto dir = std::filesystem::temp_directory_path() / ("sdm_registry_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ::setenv("SLIDOMAT_REGISTRY_DIR", dir.c_str(), 1);
    return dir.string();
  }();
  const sdm::fuzz::TRegistryRun run =
      sdm::fuzz::RunRegistryHive(std::string(reinterpret_cast<const char*>(data), size));
  if (!run.faults.empty()) {
    for (const std::string& f : run.faults) std::fprintf(stderr, "registry_fuzz: %s\n", f.c_str());
    std::abort();
  }
  return 0;
}
