#pragma once
// Opening a named pipe for reading blocks until some writer appears, and a
// device or socket can feed bytes for ever, so every file the program reads is
// first checked to be a plain file. The descriptor is opened non-blocking and
// checked with fstat, so the check and the open see the same object even if the
// path is swapped in between.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace sdm {

// Why st does not describe a regular file ("" when it does).
inline std::string NonRegularFileReason(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return {};
  if (S_ISDIR(st.st_mode)) return "is a folder";
  if (S_ISFIFO(st.st_mode)) return "is a named pipe";
  if (S_ISSOCK(st.st_mode)) return "is a socket";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "is a device";
  return "is not a regular file";
}

// "" when path names a regular file (links followed); otherwise the reason:
// the system's text when it cannot be examined ("No such file or directory"),
// or what kind of object it is.
inline std::string RegularFileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  return NonRegularFileReason(st);
}

// Opens path for reading only when it is a regular file. Returns the
// descriptor (blocking mode restored, close-on-exec set), or -1 with problem
// holding the reason as RegularFileProblem gives it.
inline int OpenRegularFileForReading(const std::string& path, std::string& problem) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    problem = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  problem = NonRegularFileReason(st);
  if (!problem.empty()) {
    ::close(fd);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

// Whether path is the object st describes, by device and inode: one file
// reached by two names (links, "..", another spelling) is still one file.
inline bool SameFile(const struct stat& st, const std::string& path) {
  struct stat other {};
  return ::stat(path.c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino;
}

inline bool SameFile(const std::string& a, const std::string& b) {
  struct stat st {};
  return ::stat(a.c_str(), &st) == 0 && SameFile(st, b);
}

}  // namespace sdm
