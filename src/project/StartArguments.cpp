#include "project/StartArguments.h"

#include <algorithm>
#include <filesystem>

#include "project/U_SlideProject.h"
#include "support/U_SysUtils.h"

namespace sdm {

namespace fs = std::filesystem;

bool IsProgramSwitch(const std::string& argument) {
  std::error_code ec;
  if (argument.empty() || fs::exists(argument, ec)) return false;
  if (argument[0] == '-') return true;
  return argument[0] == '/' && argument.find('/', 1) == std::string::npos;
}

namespace {

std::vector<std::string> PicturesOfFolder(const std::string& folder) {
  std::vector<std::string> pictures;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (name.empty() || name[0] == '.' || !it->is_regular_file(typeError)) continue;
    if (IsSupportedPictureName(name)) pictures.push_back(it->path().string());
  }
  std::sort(pictures.begin(), pictures.end());
  return pictures;
}

}  // namespace

TStartArguments SortStartArguments(const std::vector<std::string>& arguments) {
  TStartArguments result;
  for (const std::string& argument : arguments) {
    if (IsProgramSwitch(argument)) continue;
    std::error_code ec;
    const fs::file_status status = fs::status(argument, ec);
    if (ec || !fs::exists(status)) {
      result.LeftOut.push_back({argument, TLeftOutReason::NotFound});
    } else if (fs::is_directory(status)) {
      const std::vector<std::string> pictures = PicturesOfFolder(argument);
      if (pictures.empty()) result.LeftOut.push_back({argument, TLeftOutReason::EmptyFolder});
      result.Pictures.insert(result.Pictures.end(), pictures.begin(), pictures.end());
    } else if (EndsText(argument, ".sdm") && result.ProjectFile.empty()) {
      result.ProjectFile = argument;
    } else if (IsSupportedPictureName(argument)) {
      result.Pictures.push_back(argument);
    } else if (fs::is_regular_file(status)) {
      result.Others.push_back(argument);
    } else {
      result.LeftOut.push_back({argument, TLeftOutReason::NotSupported});
    }
  }
  return result;
}

}  // namespace sdm
