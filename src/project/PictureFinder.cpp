#include "project/PictureFinder.h"

#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <filesystem>

#include "project/U_SlideProject.h"
#include "support/U_SysUtils.h"

namespace sdm {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> FoldersOf(const std::string& path) {
  std::vector<std::string> parts;
  for (const auto& p : fs::path(path).parent_path()) parts.push_back(LowerCase(p.string()));
  return parts;
}

// How many folders, from the innermost out, two paths have in common.
size_t CommonTail(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[a.size() - 1 - n] == b[b.size() - 1 - n]) ++n;
  return n;
}

}  // namespace

TPictureFinder::TPictureFinder(std::string root) : root_(std::move(root)) {}

void TPictureFinder::Index() {
  indexed_ = true;
  if (root_.empty()) return;
  // Breadth first, so nearer pictures come first; hidden folders (caches,
  // trash) and linked folders (which may loop) are not entered.
  std::deque<std::pair<fs::path, int>> folders{{fs::path(root_), 0}};
  size_t seen = 0;
  while (!folders.empty() && seen < kMaxEntries) {
    const auto [folder, depth] = folders.front();
    folders.pop_front();
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && seen < kMaxEntries; it.increment(ec), ++seen)
      entries.push_back(*it);
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& e : entries) {
      const std::string name = e.path().filename().string();
      std::error_code ignored;
      if (e.is_directory(ignored) && !e.is_symlink(ignored)) {
        if (name[0] != '.' && depth < kMaxDepth) folders.emplace_back(e.path(), depth + 1);
      } else if (e.is_regular_file(ignored) && IsSupportedPictureName(name)) {
        byName_[LowerCase(name)].push_back(e.path().string());
      }
    }
  }
}

std::string TPictureFinder::Find(const std::string& storedPath) {
  const std::string name = fs::path(storedPath).filename().string();
  if (name.empty()) return {};
  if (!indexed_) Index();
  const auto it = byName_.find(LowerCase(name));
  if (it == byName_.end()) return {};
  const std::vector<std::string> storedFolders = FoldersOf(storedPath);
  std::string best;
  int bestScore = -1;
  for (const std::string& candidate : it->second) {
    // The exact name counts above any number of matching folders.
    const bool exact = fs::path(candidate).filename().string() == name;
    const int score = (exact ? 1 << 16 : 0) + static_cast<int>(CommonTail(storedFolders, FoldersOf(candidate)));
    if (score > bestScore) {  // ties: the earlier, nearer the root
      best = candidate;
      bestScore = score;
    }
  }
  return best;
}

void RelinkMovedPictures(std::vector<std::string>& lines, const std::string& projectFile,
                         const std::function<void(const std::string&)>& log) {
  TPictureFinder finder(ExtractFilePath(projectFile).empty() ? "." : ExtractFilePath(projectFile));
  size_t i = 0;
  while (i < lines.size() && !lines[i].empty() && lines[i][0] == ';') ++i;  // the header
  for (; i < lines.size(); ++i) {
    std::string& line = lines[i];
    const size_t tab = line.find('\t');
    const std::string path = line.substr(0, tab);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) == 0) continue;  // there (or a folder): nothing moved
    const std::string found = finder.Find(path);
    if (found.empty()) continue;
    // A caption that was the old file name stays what it was.
    const std::string caption = tab == std::string::npos ? PictureFileName(path) : line.substr(tab + 1);
    line = found + (caption == PictureFileName(found) ? "" : "\t" + caption);
    if (log) log("Picture relinked : " + path + " -> " + found);
  }
}

}  // namespace sdm
