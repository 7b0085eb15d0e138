#include "project/U_PictureSelection.h"

#include <unordered_set>

#include "support/U_SysUtils.h"

namespace sdm {

std::vector<std::string> SortByFolderOrder(const std::vector<std::string>& selection) {
  if (selection.empty()) return {};
  std::unordered_set<std::string> wanted;
  for (const std::string& s : selection) wanted.insert(LowerCase(s));
  std::vector<std::string> listing;
  ListFiles(ExtractFilePath(selection.front()), listing);
  std::vector<std::string> kept;
  for (const std::string& entry : listing)
    if (wanted.count(LowerCase(entry))) kept.push_back(entry);
  return kept;
}

}  // namespace sdm
