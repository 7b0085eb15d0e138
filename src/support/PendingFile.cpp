#include "support/PendingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

namespace sdm {

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A fresh random suffix each call: process id, time and the system's
// randomness, so two programs never pick the same name.
std::string RandomSuffix() {
  static thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), static_cast<unsigned>(::getpid()),
                       static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
    return std::mt19937_64(seed);
  }();
  char text[20];
  std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(generator() & 0xFFFFFFFFFFFFull));
  return text;
}

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync a folder
  ::close(fd);
  return ok;
}

}  // namespace

TPendingFile::TPendingFile(std::string target) : target_(std::move(target)) { ChooseName(); }

TPendingFile::~TPendingFile() {
  if (!committed_) Discard();
}

void TPendingFile::ChooseName() {
  // Hidden, so a file manager showing the folder meanwhile does not offer a
  // half-written video; ".part" says what it is to whoever finds one after
  // a crash.
  temp_ = FolderOf(target_) + "." + NameOf(target_) + "." + RandomSuffix() + ".part";
}

bool TPendingFile::Reserve(std::string& why) {
  const int fd = OpenForWriting(why);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int TPendingFile::OpenForWriting(std::string& why) {
  if (reserved_) {
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) why = std::strerror(errno);
    return fd;
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      reserved_ = true;
      return fd;
    }
    if (errno != EEXIST) break;
    ChooseName();
  }
  why = std::strerror(errno);
  return -1;
}

bool TPendingFile::Commit(std::string& why) {
  if (committed_) return true;
  // What was written must be on the disk before the name points at it, or
  // a power cut right after the rename could leave an empty file there.
  if (!SyncPath(temp_, O_RDONLY)) {
    why = std::strerror(errno);
    return false;
  }
  struct stat old {};
  if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::chmod(temp_.c_str(), old.st_mode & 07777);
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    why = std::strerror(errno);
    return false;
  }
  committed_ = true;
  const std::string folder = FolderOf(target_);
  SyncPath(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
  return true;
}

void TPendingFile::Discard() {
  if (committed_) return;
  ::unlink(temp_.c_str());
  reserved_ = false;
}

}  // namespace sdm
