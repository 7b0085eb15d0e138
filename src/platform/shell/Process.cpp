#include "platform/shell/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace sdm {

std::unique_ptr<TProcess> TProcess::Start(const std::vector<std::string>& argv, std::string& error) {
  error.clear();
  if (argv.empty() || argv[0].empty()) {
    error = "no program given";
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  for (int fd : {0, 1, 2})
    ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  // None of our own files (the log, the registry's lock) goes with it.
  ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  ::posix_spawnattr_init(&attr);
  // Its own process group: a Ctrl-C meant for us does not stop the burner.
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  ::posix_spawnattr_setpgroup(&attr, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  // glibc reports a program that cannot be executed here, not in the child.
  const int rc = ::posix_spawnp(&pid, argv[0].c_str(), &actions, &attr, args.data(), environ);
  ::posix_spawnattr_destroy(&attr);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    error = std::strerror(rc);
    return nullptr;
  }
  return std::unique_ptr<TProcess>(new TProcess(pid));
}

TProcess::~TProcess() {
  if (ended_) return;
  const pid_t pid = pid_;
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

bool TProcess::Running() {
  if (ended_) return false;
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r == 0) return true;
  ended_ = true;
  if (r == pid_ && WIFEXITED(status)) exitStatus_ = WEXITSTATUS(status);
  return false;
}

std::string NamedMutexPath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime && *runtime ? runtime : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder + name + ".lock";
}

bool NamedMutexExists(const std::string& name) {
  const int fd = ::open(NamedMutexPath(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // Free when we can take it ourselves; it is given back at once.
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

TNamedMutex::TNamedMutex(const std::string& name) {
  fd_ = ::open(NamedMutexPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

TNamedMutex::~TNamedMutex() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace sdm
