// libFuzzer target for settings.ini: import into the registry, export to a
// new file and over the file read, import each again. The file and the hive
// live in folders of this process. Build and run it with scripts/fuzz.sh.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "SettingsFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    const auto dir = std::filesystem::temp_directory_path() / ("sdm_settings_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "ini");
    std::filesystem::create_directories(dir / "hive");
    ::setenv("SLIDOMAT_REGISTRY_DIR", (dir / "hive").c_str(), 1);
    return (dir / "ini").string();
  }();
  const sdm::fuzz::TSettingsRun run =
      sdm::fuzz::RunSettingsIni(folder, std::string(reinterpret_cast<const char*>(data), size));
  if (!run.faults.empty()) {
    for (const std::string& f : run.faults) std::fprintf(stderr, "settings_fuzz: %s\n", f.c_str());
    std::abort();
  }
  return 0;
}
