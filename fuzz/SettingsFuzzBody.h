#pragma once
// What the settings.ini fuzz target and its corpus test do with one file:
// import it as a portable copy's start does, export the values to a new file
// and over the file itself as the end of the run does, and import each result
// into an empty key again. Whatever the file held, the values that went in
// come back the same, and an export that fails leaves its file as it was.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"
#include "support/SettingsStore.h"

namespace sdm::fuzz {

struct TSettingsRun {
  size_t values = 0;  // values imported
  bool exported = false;
  std::vector<std::string> faults;
};

namespace detail {

// The values of the product key, sorted: the file keeps strings and numbers
// in sections of their own, so their order among each other is not kept.
inline std::vector<std::string> ProductValues() {
  std::vector<std::string> r;
  TRegistry reg;
  if (reg.OpenKeyReadOnly(kProductKey))
    for (const TRegValueInfo& v : reg.GetValues())
      r.push_back(v.name + '\0' + std::to_string(v.type) + '\0' + v.text + '\0' + std::to_string(v.number));
  std::sort(r.begin(), r.end());
  return r;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Exports into file, then imports that into an empty key: the values must be
// those of before. A failed export must give a reason and leave the file.
inline bool ExportAndBack(const std::string& file, const std::vector<std::string>& values, const char* what,
                          TSettingsRun& run) {
  const bool existed = std::filesystem::exists(file);
  const std::string old = existed ? ReadAll(file) : std::string();
  std::string problem;
  if (!ExportSettingsToIni(kProductName, file, &problem)) {
    if (problem.empty()) run.faults.push_back(std::string("an export ") + what + " failed without a reason");
    if (std::filesystem::exists(file) != existed || (existed && ReadAll(file) != old))
      run.faults.push_back(std::string("a failed export ") + what + " changed the file");
    if (ProductValues() != values) run.faults.push_back(std::string("a failed export ") + what + " changed the values");
    return false;
  }
  DeleteProductKey(kProductName);
  ImportSettingsFromIni(kProductName, file);
  if (ProductValues() != values)
    run.faults.push_back(std::string("the values exported ") + what + " came back different");
  return true;
}

}  // namespace detail

// The file goes to folder/settings.ini; the current user's hive must live in
// a folder of the caller's (SLIDOMAT_REGISTRY_DIR). Both folders are emptied
// afterwards.
inline TSettingsRun RunSettingsIni(const std::string& folder, const std::string& bytes) {
  namespace fs = std::filesystem;
  TSettingsRun run;
  const std::string ini = folder + "/settings.ini";
  {
    std::ofstream(ini, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::string problem;
  ImportSettingsFromIni(kProductName, ini, &problem);
  const std::vector<std::string> values = detail::ProductValues();
  run.values = values.size();
  detail::ExportAndBack(folder + "/fresh.ini", values, "to a new file", run);
  run.exported = detail::ExportAndBack(ini, values, "over the file read", run);

  std::error_code ec;
  for (const std::string& dir : {folder, fs::path(RegistryHivePath(HKEY_CURRENT_USER)).parent_path().string()})
    for (const auto& e : fs::directory_iterator(dir, ec)) fs::remove_all(e.path(), ec);
  TakeRegistryProblems();
  return run;
}

}  // namespace sdm::fuzz
