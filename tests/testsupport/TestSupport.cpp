#include "testsupport/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifndef SDM_SOURCE_DIR
#define SDM_SOURCE_DIR "."
#endif

namespace sdm::test {

namespace fs = std::filesystem;

namespace {

// A machine hive with the program's uninstall entry, as `cmake --install`
// records it.
const char* const kInstalledMachineHive =
    "Slidomat registry hive 1\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvenit Slidomat]\n"
    "\"DisplayName\"=\"Tarvenit Slidomat\"\n";

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const char* base = std::getenv("SDM_TEST_TMP");
  fs::path root = base && *base ? fs::path(base) : fs::temp_directory_path();
  fs::create_directories(root);
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = root / ("t" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" +
                                 std::to_string(rd() % 100000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder under " + root.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty() && !std::getenv("SDM_KEEP_TMP")) fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    setenv(name_.c_str(), old_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

PrivateRegistryTest::PrivateRegistryTest()
    : user_("SLIDOMAT_REGISTRY_DIR", dir.file("user")),
      machine_("SLIDOMAT_MACHINE_REGISTRY_DIR", dir.file("machine")),
      data_("XDG_DATA_HOME", dir.file("data")),
      cache_("XDG_CACHE_HOME", dir.file("cache")) {
  fs::create_directories(dir.file("user"));
  fs::create_directories(dir.file("machine"));
  WriteText(dir.file("machine/HKEY_LOCAL_MACHINE.reg"), kInstalledMachineHive);
}

void PrivateRegistryTest::Uninstall() { fs::remove(dir.file("machine/HKEY_LOCAL_MACHINE.reg")); }

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input) {
  CommandResult result;
  if (argv.empty()) return result;
  int inPipe[2], outPipe[2], errPipe[2];
  // Everything the child needs is made before the fork: another thread (a
  // job's worker ending) may hold the allocator's lock at that moment, and a
  // child that allocates would then wait for it for ever.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC)) return result;
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  // Feed stdin and drain both outputs together so no pipe can fill up and stall.
  size_t written = 0;
  int inFd = inPipe[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  signal(SIGPIPE, SIG_IGN);
  bool outOpen = true, errOpen = true;
  char buf[65536];
  while (outOpen || errOpen || inFd >= 0) {
    pollfd fds[3];
    int n = 0;
    int outIdx = -1, errIdx = -1, inIdx = -1;
    if (outOpen) {
      fds[n] = {outPipe[0], POLLIN, 0};
      outIdx = n++;
    }
    if (errOpen) {
      fds[n] = {errPipe[0], POLLIN, 0};
      errIdx = n++;
    }
    if (inFd >= 0) {
      fds[n] = {inFd, POLLOUT, 0};
      inIdx = n++;
    }
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    auto drain = [&](int idx, int fd, bool& open, std::string& sink) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t got = read(fd, buf, sizeof buf);
      if (got > 0)
        sink.append(buf, static_cast<size_t>(got));
      else if (got == 0 || errno != EINTR)
        open = false;
    };
    drain(outIdx, outPipe[0], outOpen, result.out);
    drain(errIdx, errPipe[0], errOpen, result.err);
    if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = write(inFd, input.data() + written, input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if (put < 0 || written >= input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

CommandResult RunCli(const std::vector<std::string>& args, const std::string& input) {
#ifdef SDM_CLI
  std::vector<std::string> argv{SDM_CLI};
#else
  std::vector<std::string> argv{"slidomat-cli"};
#endif
  argv.insert(argv.end(), args.begin(), args.end());
  // Run from the build folder the program would be a portable copy sharing
  // one settings.ini with every test running at the same time. Unless a test
  // chooses the machine hive itself, the program finds an uninstall entry and
  // keeps its settings in the registry the test set up.
  if (std::getenv("SLIDOMAT_MACHINE_REGISTRY_DIR")) return RunCommand(argv, input);
  static TempDir machine;
  WriteText(machine.file("HKEY_LOCAL_MACHINE.reg"), kInstalledMachineHive);
  setenv("SLIDOMAT_MACHINE_REGISTRY_DIR", machine.path().c_str(), 1);
  CommandResult r = RunCommand(argv, input);
  unsetenv("SLIDOMAT_MACHINE_REGISTRY_DIR");
  return r;
}

bool HaveTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::stringstream ss(path);
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string SourcePath(const std::string& relative) { return std::string(SDM_SOURCE_DIR) + "/" + relative; }

}  // namespace sdm::test
