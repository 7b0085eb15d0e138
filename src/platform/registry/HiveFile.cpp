#include "platform/registry/HiveFile.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/RegularFile.h"

namespace sdm::hive {

namespace {

namespace fs = std::filesystem;

// A hive holds a few dozen values; anything this large is not one of ours and
// is refused rather than read into memory. The same bound holds for writing:
// a hive we wrote larger would be refused at the next start, every setting in
// it with it.
constexpr off_t kMaxHiveBytes = 16 * 1024 * 1024;

std::map<std::string, Hive> g_hives;
std::vector<std::string> g_problems;

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return id;
  id.exists = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

// Keeps a garbled hive under a name of its own so the user can still look at it.
std::string KeepAside(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    std::string aside = path + ".garbled" + (i ? "." + std::to_string(i) : "");
    if (::access(aside.c_str(), F_OK) == 0) continue;
    if (::rename(path.c_str(), aside.c_str()) == 0) return aside;
    return "";
  }
  return "";
}

void Load(Hive& h, const std::string& path, const std::string& rootName) {
  h.loaded = true;
  h.unreadable = false;
  h.root = Node{};
  h.root.name = rootName;
  h.identity = IdentityOf(path);
  if (!h.identity.exists) return;

  std::string text;
  bool tooLarge = h.identity.size > kMaxHiveBytes;
  if (!tooLarge) {
    // A hive that is a named pipe or a device would block or never end.
    std::string problem;
    const int fd = OpenRegularFileForReading(path, problem);
    if (fd < 0) {
      h.unreadable = true;
      g_problems.push_back("Registry file " + path + " cannot be read: " + problem);
      return;
    }
    text.reserve(static_cast<size_t>(h.identity.size) + 1);
    char buf[65536];
    ssize_t n = 0;
    while (text.size() <= static_cast<size_t>(kMaxHiveBytes) &&
           ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
      if (n > 0) text.append(buf, static_cast<size_t>(n));
    const int err = n < 0 ? errno : 0;
    ::close(fd);
    if (err != 0) {
      h.unreadable = true;
      g_problems.push_back("Registry file " + path + " cannot be read: " + std::strerror(err));
      return;
    }
    tooLarge = text.size() > static_cast<size_t>(kMaxHiveBytes);
  }
  int badLine = 0;
  if (!tooLarge && Parse(text, rootName, h.root, badLine)) return;

  h.root = Node{};
  h.root.name = rootName;
  std::string aside = KeepAside(path);
  std::string why = tooLarge ? "is too large" : "is garbled (line " + std::to_string(badLine) + ")";
  if (aside.empty()) {
    // Could not move it: keep it where it is and refuse to write over it.
    h.unreadable = true;
    g_problems.push_back("Registry file " + path + " " + why + " and could not be set aside");
  } else {
    g_problems.push_back("Registry file " + path + " " + why + "; kept as " + aside + ", starting empty");
  }
  h.identity = IdentityOf(path);
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_dir ? pw->pw_dir : "";
  return "";
}

std::string ExeFolder() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return ".";
  buf[n] = 0;
  return fs::path(buf).parent_path().string();
}

std::string EnvDir(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : std::string();
}

}  // namespace

std::mutex& HivesMutex() {
  static std::mutex m;
  return m;
}

// The hive as the file holds it now. Hives are a few hundred bytes, so the
// file is read at every access: another process's change is always seen,
// whatever the file system's time-stamp granularity. Only a file already found
// unusable is not read (and reported) again until it changes.
Hive& Current(const std::string& path, const std::string& rootName) {
  Hive& h = g_hives[path];
  if (!(h.loaded && h.unreadable && IdentityOf(path) == h.identity)) Load(h, path, rootName);
  return h;
}

bool Save(Hive& h, const std::string& path, const std::string& rootName) {
  std::string text;
  if (!Serialise(h.root, rootName, static_cast<size_t>(kMaxHiveBytes), text)) {
    g_problems.push_back("Registry file " + path + " would grow beyond " + std::to_string(kMaxHiveBytes >> 20) +
                         " MiB; the change is not written");
    return false;
  }
  static int counter = 0;
  const std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int err = fd < 0 ? errno : 0;
  for (size_t done = 0; err == 0 && done < text.size();) {
    ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0)
      err = w < 0 ? errno : EIO;
    else
      done += static_cast<size_t>(w);
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (fd >= 0 && ::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    if (fd >= 0) ::unlink(tmp.c_str());
    g_problems.push_back("Registry file " + path + " cannot be written: " + std::strerror(err));
    return false;
  }
  h.identity = IdentityOf(path);
  return true;
}

THiveLock::THiveLock(const std::string& hivePath) {
  std::error_code ec;
  fs::create_directories(fs::path(hivePath).parent_path(), ec);
  fd_ = ::open((hivePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ >= 0)
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

THiveLock::~THiveLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace sdm::hive

namespace sdm {

using namespace hive;

std::string RootKeyName(TRootKey root) {
  return root == TRootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string RegistryHivePath(TRootKey root) {
  const std::string file = RootKeyName(root) + ".reg";
  if (root == TRootKey::LocalMachine) {
    std::string dir = EnvDir("SLIDOMAT_MACHINE_REGISTRY_DIR");
    if (dir.empty()) dir = (fs::path(ExeFolder()) / ".." / "share" / "slidomat").lexically_normal().string();
    return (fs::path(dir) / file).string();
  }
  std::string dir = EnvDir("SLIDOMAT_REGISTRY_DIR");
  if (dir.empty()) {
    std::string config = EnvDir("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') config = HomeFolder() + "/.config";
    dir = config + "/Tarvenit";
  }
  return (fs::path(dir) / file).string();
}

std::vector<std::string> TakeRegistryProblems() {
  std::lock_guard<std::mutex> g(HivesMutex());
  std::vector<std::string> r;
  r.swap(g_problems);
  return r;
}

}  // namespace sdm
