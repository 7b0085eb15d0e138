#pragma once
// Pictures that moved. A project names its pictures by full path; copied to
// another disk or machine, or with its folder renamed, those paths lead
// nowhere while the pictures lie beside the project file or in folders below
// it. TPictureFinder finds a picture there by its file name.
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace sdm {

class TPictureFinder {
public:
  // Searches the folder root and the folders below it.
  explicit TPictureFinder(std::string root);

  // The file that stands for a picture not found at storedPath: one of the
  // same name (exactly, else ignoring case) under the root. Among several,
  // the one whose folders end like the stored path's (".../2019/IMG_0001.jpg"
  // rather than ".../2020/IMG_0001.jpg"), then the one nearest the root, then
  // the first by name. "" when there is none.
  std::string Find(const std::string& storedPath);

  // How many files and folders the search may look at: a project file saved
  // at the top of a home folder must not have us walk the whole disk.
  static constexpr size_t kMaxEntries = 200000;
  static constexpr int kMaxDepth = 12;

private:
  void Index();

  std::string root_;
  bool indexed_ = false;
  // Pictures under the root by lower-case file name, nearest the root first.
  std::unordered_map<std::string, std::vector<std::string>> byName_;
};

// Replaces, in the picture lines of a project file (the lines after its
// header, "path" or "path<TAB>caption"), each path that names no file by
// the file TPictureFinder finds beside the project file, keeping the
// caption. log receives "Picture relinked : <old> -> <new>" for each.
void RelinkMovedPictures(std::vector<std::string>& lines, const std::string& projectFile,
                         const std::function<void(const std::string& line)>& log);

}  // namespace sdm
