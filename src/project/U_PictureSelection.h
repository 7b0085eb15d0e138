#pragma once
// The order in which pictures picked in a file dialog are added.
#include <string>
#include <vector>

namespace sdm {

// The selection put into the order of its folder's listing: the files of the
// folder of the first selected file (sub-folders skipped), in the folder's
// order, that occur in the selection (paths compared without regard to case).
// Entries from another folder and duplicates drop out. The listing is sorted by
// name, which is how a file manager shows the folder; the raw directory order
// of a Linux file system is a hash order that means nothing to the user.
std::vector<std::string> SortByFolderOrder(const std::vector<std::string>& selection);

}  // namespace sdm
