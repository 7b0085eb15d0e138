#pragma once
// Starting another program and following it, and the named mutexes by which
// programs tell each other that one of them is running (the burning program
// holds one while it works).
#include <memory>
#include <string>
#include <vector>

namespace sdm {

// A program we started. Its handles are not inherited, its output goes
// nowhere, and it is not waited for: Running() says whether it still runs.
class TProcess {
public:
  // Starts argv[0] (looked up on PATH when it has no '/') with the rest as its
  // arguments. Null when it could not be started (no such program, not
  // executable); error then says why.
  static std::unique_ptr<TProcess> Start(const std::vector<std::string>& argv, std::string& error);
  // Does not stop the program; one still running is reaped when it ends.
  ~TProcess();
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  bool Running();
  int Pid() const { return pid_; }
  // The exit status once it has ended (-1 before, or when killed by a signal).
  int ExitStatus() const { return exitStatus_; }

private:
  explicit TProcess(int pid) : pid_(pid) {}
  int pid_;
  bool ended_ = false;
  int exitStatus_ = -1;
};

// Named mutexes: a lock file "<name>.lock" in $XDG_RUNTIME_DIR (else the
// system's temporary folder), held with an exclusive lock by its owner. It
// exists while a process holds it; a lock file left by a program that ended
// does not count, since the lock goes with the process.
std::string NamedMutexPath(const std::string& name);
bool NamedMutexExists(const std::string& name);

class TNamedMutex {
public:
  explicit TNamedMutex(const std::string& name);  // takes it when free
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;
  bool Held() const { return fd_ >= 0; }

private:
  int fd_ = -1;
};

}  // namespace sdm
