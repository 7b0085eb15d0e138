#include "project/BurnTools.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/registry/Registry.h"
#include "support/U_SysUtils.h"

namespace sdm {

std::string FindToolPath(const std::string& value, const std::string& executable) {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKeyReadOnly(kVendorKey)) return {};
  const std::string text = reg.ReadString(value).value_or("");
  if (text.empty()) return {};
  if (FileExistsLong(text)) return text;
  const std::string inFolder = IncludeTrailingBackslashW(text) + executable;
  return FileExistsLong(inFolder) ? inFolder : std::string();
}

std::string FindBurnTool() {
  std::string path = FindToolPath("BrennoCD", "BrennoCd.exe");
  if (path.empty()) path = FindToolPath("Brenno", "BrennoCd.exe");
  return path;
}

std::string FindDvdTool() {
  std::string path = FindToolPath("Kerdova", "Kerdova.exe");
  if (path.empty()) path = FindToolPath("Sandrovid", "sandrovid.exe");
  return path;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path || name.empty()) return {};
  std::stringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (folder.empty()) continue;
    const std::string candidate = IncludeTrailingBackslashW(folder) + name;
    if (FileExistsLong(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

TBurner FindBurner() {
  TBurner b;
  b.Path = FindBurnTool();
  if (b.Found()) {
    b.Vendor = true;
    return b;
  }
  // The disc burners of the Linux desktops, each with the option that opens
  // a data disc holding the files that follow.
  static const struct {
    const char* name;
    const char* option;
  } kBurners[] = {{"brasero", "--data"}, {"k3b", "--data"}, {"xfburn", "--data-composition"}};
  for (const auto& k : kBurners) {
    b.Path = FindOnPath(k.name);
    if (b.Found()) {
      b.FileOptions = {k.option};
      return b;
    }
  }
  return b;
}

std::string CompilationFileName(const std::string& dataFolder, const std::string& prefix, int k) {
  return IncludeTrailingBackslashW(dataFolder) + prefix + "_" + std::to_string(k) + ".brn";
}

bool WriteCompilationFile(const std::string& fileName, const std::vector<std::string>& files) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  for (const std::string& f : files) out << f << "\r\n";
  out.flush();
  return static_cast<bool>(out);
}

std::vector<std::string> ReadCompilationFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::vector<std::string> files;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) files.push_back(line);
  }
  return files;
}

std::vector<std::string> BurnCommand(const TBurner& burner, const std::string& fileName) {
  std::vector<std::string> argv{burner.Path};
  if (burner.Vendor) {
    argv.push_back("/datafl");
    argv.push_back(fileName);
    return argv;
  }
  argv.insert(argv.end(), burner.FileOptions.begin(), burner.FileOptions.end());
  for (const std::string& f : ReadCompilationFile(fileName)) argv.push_back(f);
  return argv;
}

}  // namespace sdm
