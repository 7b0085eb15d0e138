#include "platform/shell/Shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace sdm {

bool ShellOpen(const std::string& target) {
  if (target.empty()) return false;
  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) return false;
  // The opener's chatter does not belong on our terminal.
  for (int fd : {0, 1, 2})
    ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  const char* argv[] = {"xdg-open", target.c_str(), nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, "xdg-open", &actions, nullptr, const_cast<char* const*>(argv), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  // Reap the opener when it ends, without making the caller wait for it.
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace sdm
