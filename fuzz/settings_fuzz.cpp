// libFuzzer target for settings.ini: import into the registry, export to a
// new file and over the file read, import each again. The file and the hive
// live in folders of this process. Build and run it with scripts/fuzz.sh.
#include <stdlib.h>

#include <string>

#include "FuzzInput.h"
#include "SettingsFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    const std::filesystem::path dir = sdm::fuzz::ScratchPath("settings_fuzz", "");
    std::filesystem::create_directories(dir / "ini");
    std::filesystem::create_directories(dir / "hive");
    ::setenv("SLIDOMAT_REGISTRY_DIR", (dir / "hive").c_str(), 1);
    return (dir / "ini").string();
  }();
  const sdm::fuzz::TSettingsRun run =
      sdm::fuzz::RunSettingsIni(folder, std::string(reinterpret_cast<const char*>(data), size));
  sdm::fuzz::AbortOnFaults("settings_fuzz", run.faults);
  return 0;
}
