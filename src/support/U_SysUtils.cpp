#include "support/U_SysUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "support/VersionInfo.h"

namespace sdm {

namespace fs = std::filesystem;

// ---- File layer ---------------------------------------------------------

namespace {

THandle OpenRetrying(const std::string& path, int flags, mode_t mode = 0666) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? INVALID_HANDLE_VALUE : fd;
}

}  // namespace

THandle OpenFileLong(const std::string& path, uint32_t mode) {
  const uint32_t access = mode & 3, sharing = mode & 0xF0;
  if (path.empty() || access == 3 || sharing > 0x40) return INVALID_HANDLE_VALUE;
  const int flags = access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR;
  return OpenRetrying(path, flags);
}

THandle CreateFileLong(const std::string& path, uint32_t access, uint32_t /*share*/, THandle /*templateFile*/,
                       uint32_t /*flagsAndAttributes*/, uint32_t disposition, const void* /*security*/) {
  if (path.size() <= 2) return INVALID_HANDLE_VALUE;
  const bool r = access & GENERIC_READ, w = access & GENERIC_WRITE;
  int flags = r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: return INVALID_HANDLE_VALUE;
  }
  // Truncating needs write access, as on Windows.
  if ((flags & O_TRUNC) && !w) return INVALID_HANDLE_VALUE;
  THandle fd = OpenRetrying(path, flags);
  struct stat st {};
  if (fd != INVALID_HANDLE_VALUE && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return fd;
}

void CloseHandleLong(THandle handle) {
  if (handle != INVALID_HANDLE_VALUE) ::close(handle);
}

bool CreateDirectoryLong(const std::string& path, const void* /*security*/) {
  return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

struct TFileSearch {
  std::string folder;  // with trailing '/'
  std::string pattern;
  bool wildcard = false;
  DIR* dir = nullptr;
  bool singleDone = false;
};

namespace {

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

bool FillData(const std::string& fullPath, const std::string& name, TFindData& data) {
  struct stat st {};
  if (::stat(fullPath.c_str(), &st) != 0 && ::lstat(fullPath.c_str(), &st) != 0) return false;
  data.name = name;
  data.attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (::access(fullPath.c_str(), W_OK) != 0 && !S_ISDIR(st.st_mode)) data.attributes |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.') data.attributes |= FILE_ATTRIBUTE_HIDDEN;
  data.size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
  data.modified = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool NextMatch(TFileSearch& s, TFindData& data) {
  while (dirent* e = ::readdir(s.dir)) {
    const std::string name = e->d_name;
    // "*" matches everything on Windows, dot-names included.
    if (::fnmatch(s.pattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
    if (FillData(s.folder + name, name, data)) return true;
  }
  return false;
}

}  // namespace

TSearchHandle FindFirstLong(const std::string& path, TFindData& data) {
  if (path.empty()) return INVALID_SEARCH_HANDLE;
  std::string folder = ExtractFilePath(path), pattern = ExtractFileNameW(path);
  if (pattern.empty()) return INVALID_SEARCH_HANDLE;  // "dir/" finds nothing, as on Windows
  auto* s = new TFileSearch;
  s->folder = folder;
  s->pattern = pattern;
  s->wildcard = HasWildcard(pattern);
  if (!s->wildcard) {
    s->singleDone = true;
    if (FillData(path, pattern, data)) return s;
    delete s;
    return INVALID_SEARCH_HANDLE;
  }
  s->dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!s->dir || !NextMatch(*s, data)) {
    FindCloseLong(s);
    return INVALID_SEARCH_HANDLE;
  }
  return s;
}

bool FindNextLong(TSearchHandle handle, TFindData& data) {
  if (!handle || !handle->wildcard || !handle->dir) return false;
  return NextMatch(*handle, data);
}

void FindCloseLong(TSearchHandle handle) {
  if (!handle) return;
  if (handle->dir) ::closedir(handle->dir);
  delete handle;
}

bool FileExistsLong(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExistsLong(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string GetShortPathLong(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 ? path : std::string();
}

std::string IncludeTrailingBackslashW(const std::string& path) {
  if (path.empty() || path.back() == '/') return path;
  return path + '/';
}

std::string ExtractFileNameW(const std::string& path) {
  size_t p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFilePath(const std::string& path) {
  size_t p = path.rfind('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

// ---- Files and folders --------------------------------------------------

std::string ProgramFilePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return "";
  buf[n] = 0;
  return buf;
}

namespace {
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "";
}

// An XDG base folder: the variable when it holds an absolute path (relative
// ones are to be ignored), else the default under the home folder.
std::string XdgFolder(const char* var, const char* fallbackUnderHome) {
  const char* v = std::getenv(var);
  if (v && v[0] == '/') return v;
  std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/" + fallbackUnderHome;
}
}  // namespace

std::string RoamingDataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }
std::string LocalDataFolder() { return XdgFolder("XDG_CACHE_HOME", ".cache"); }

std::string GetAppDataFolder(const std::string& programPath, const std::string& title) {
  std::string result = ExtractFilePath(programPath);
  if (result.empty()) result = "./";
  const std::string appData = RoamingDataFolder();
  if (appData.empty()) return result;
  // A fresh account may not have the data folder yet; desktops create it on
  // demand, so do we.
  std::error_code ec;
  fs::create_directories(appData, ec);
  const std::string company = IncludeTrailingBackslashW(appData) + "Tarvenit";
  CreateDirectoryLong(company);
  const std::string own = company + "/" + title;
  CreateDirectoryLong(own);
  // The folder must also take files, or the log would go nowhere.
  if (DirectoryExistsLong(own) && ::access(own.c_str(), W_OK | X_OK) == 0) result = own + "/";
  return result;
}

int64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return 0;
  return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
}

bool FileIsNonEmpty(const std::string& path) {
  SetWow64Redirection(true);
  bool r = FileExistsLong(path) && FileSizeOf(path) > 0;
  SetWow64Redirection(false);
  return r;
}

bool SetWow64Redirection(bool) { return true; }

namespace {

enum class Want { Folders, Files };

// The immediate entries of Folder, sorted by name.
std::vector<std::pair<std::string, bool>> Entries(const std::string& folder) {
  std::vector<std::pair<std::string, bool>> r;
  DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!d) return r;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::stat((folder + name).c_str(), &st) != 0) continue;  // a dangling link
    r.emplace_back(name, S_ISDIR(st.st_mode));
  }
  ::closedir(d);
  std::sort(r.begin(), r.end());
  return r;
}

void List(const std::string& folder, Want want, std::vector<std::string>& list) {
  const std::string f = IncludeTrailingBackslashW(folder);
  for (const auto& [name, isDir] : Entries(f))
    if (isDir == (want == Want::Folders)) list.push_back(f + name);
}

// Walks the tree; depth-limited so a loop of symbolic links cannot recurse forever.
template <class Pred>
void Walk(const std::string& folder, Pred match, std::vector<std::string>& list, int depth = 0) {
  if (depth > 64) return;
  const std::string f = IncludeTrailingBackslashW(folder);
  const auto entries = Entries(f);
  for (const auto& [name, isDir] : entries)
    if (!isDir && match(name)) list.push_back(f + name);
  for (const auto& [name, isDir] : entries)
    if (isDir) Walk(f + name, match, list, depth + 1);
}

std::string Extension(const std::string& name) {
  size_t p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

}  // namespace

void ListSubfolders(const std::string& folder, std::vector<std::string>& list) { List(folder, Want::Folders, list); }
void ListFiles(const std::string& folder, std::vector<std::string>& list) { List(folder, Want::Files, list); }

void FindFileByName(const std::string& folder, const std::string& name, std::vector<std::string>& list) {
  const std::string f = IncludeTrailingBackslashW(folder);
  for (const auto& [n, isDir] : Entries(f))
    if (!isDir && SameText(n, name)) list.push_back(f + n);
}

void FindFilesByName(const std::string& folder, const std::string& name, std::vector<std::string>& list) {
  Walk(
      folder, [&](const std::string& n) { return SameText(n, name); }, list);
}

void FindFilesByExt(const std::string& folder, const std::string& ext, std::vector<std::string>& list) {
  Walk(
      folder, [&](const std::string& n) { return SameText(Extension(n), ext); }, list);
}

// ---- Text and system information ---------------------------------------

std::string FormatDuration(int64_t seconds) {
  const int64_t m = seconds / 60, s = seconds % 60;
  char buf[64];
  if (m >= 60)
    std::snprintf(buf, sizeof buf, "%lld:%.2lld:%.2lld", static_cast<long long>(m / 60), static_cast<long long>(m % 60),
                  static_cast<long long>(s));
  else
    std::snprintf(buf, sizeof buf, "%lld:%.2lld", static_cast<long long>(m), static_cast<long long>(s));
  return buf;
}

std::string GetFileVersionString(const std::string& path) {
  if (!FileExistsLong(path)) return "File not found";
  TVersionInfo info;
  info.SetFileName(path);
  if (!info.LoadInfo()) return "";
  const uint32_t ms = info.FileMajorVersion(), ls = info.FileMinorVersion();
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
         std::to_string(ls & 0xFFFF);
}

std::string GetWindowsName() {
  utsname u{};
  if (::uname(&u) != 0) return "Unknown";
  return std::string(u.sysname) + " " + u.release;
}

std::string GetNTName(int major, int minor, int build) {
  if (major == 10 && minor == 0)
    return build < 20000 ? "10.0." + std::to_string(build) + " (Windows10)"
                         : "11.0." + std::to_string(build) + " (Windows11)";
  std::string r = std::to_string(major) + "." + std::to_string(minor);
  static const struct {
    int major, minor;
    const char* name;
  } kNames[] = {{5, 0, " (Windows 2000)"}, {5, 1, " (Windows XP)"}, {5, 2, " (Windows 2003)"}, {6, 0, " (Vista)"},
                {6, 1, " (Seven)"},        {6, 2, " (Windows8)"},   {6, 3, " (Windows8.1)"}};
  for (const auto& n : kNames)
    if (n.major == major && n.minor == minor) r += n.name;
  return r;
}

std::string GetReactOSName() { return ""; }

bool IsWow64() {
  if (sizeof(void*) >= 8) return false;
  utsname u{};
  if (::uname(&u) != 0) return false;
  const std::string m = u.machine;
  return m == "x86_64" || m == "aarch64" || m == "arm64" || m == "ppc64" || m == "ppc64le" || m == "s390x" ||
         m == "riscv64" || m == "mips64" || m == "sparc64";
}

bool IsAdministrator() {
  if (::geteuid() == 0) return true;
  int n = ::getgroups(0, nullptr);
  if (n < 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n) + 1);
  n = ::getgroups(n, groups.data());
  if (n < 0) return false;
  groups.resize(static_cast<size_t>(n));
  groups.push_back(::getegid());
  for (const char* name : {"sudo", "wheel"}) {
    if (const group* g = ::getgrnam(name))
      if (std::find(groups.begin(), groups.end(), g->gr_gid) != groups.end()) return true;
  }
  return false;
}

std::string BoolToYesNo(bool b) { return b ? "Yes" : "No"; }

std::vector<std::string> OperatingSystemLogLines() {
  std::vector<std::string> r;
  const std::string reactOS = GetReactOSName();
  r.push_back(reactOS.empty() ? "Windows : " + GetWindowsName() : "ReactOS : " + reactOS);
  r.push_back("64Bits : " + BoolToYesNo(IsWow64()));
  r.push_back("Administrator : " + BoolToYesNo(IsAdministrator()));
  return r;
}

std::string LeftStr(const std::string& s, int64_t n) {
  if (n <= 0) return "";
  return s.substr(0, static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(s.size()))));
}

std::string RightStr(const std::string& s, int64_t n) {
  if (n <= 0) return "";
  const size_t k = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(s.size())));
  return s.substr(s.size() - k);
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && LowerCase(a) == LowerCase(b);
}

bool StartsText(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

bool EndsText(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && SameText(s.substr(s.size() - suffix.size()), suffix);
}

bool StartsStr(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool ContainsText(const std::string& sub, const std::string& s) {
  return LowerCase(s).find(LowerCase(sub)) != std::string::npos;
}

std::string UrlEncode(const std::string& s) {
  std::string r;
  for (unsigned char c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_') {
      r += static_cast<char>(c);
    } else if (c == ' ') {
      r += "%20";
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      r += buf;
    }
  }
  return r;
}

}  // namespace sdm
