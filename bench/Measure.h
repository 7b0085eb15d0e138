#pragma once
// Wall clock and processor time of the benchmarks' runs: a command run by the
// shell, or a render in a child process, each measured on its own, and the
// best of several rounds (a shared machine slows single runs at random).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

inline double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One timed run: wall clock, processor time (all threads, user and system)
// and peak resident memory; negative times when the run failed.
struct TTimed {
  double seconds = -1;
  double cpuSeconds = -1;
  long peakKiB = 0;
  bool ok() const { return seconds >= 0; }
};

// Runs a shell command; its time and that of every process it started, and
// the peak memory of the largest of them. The command runs in a child of its
// own, so that nothing this process ran before counts.
inline TTimed TimeCommand(const std::string& cmd) {
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    return {};
  }
  return {Seconds(t0, Clock::now()), CpuSeconds(usage), usage.ru_maxrss};
}

// The run of least wall-clock time, or a failed one when none succeeded.
inline TTimed Best(const std::vector<TTimed>& runs) {
  TTimed best;
  for (const TTimed& r : runs)
    if (r.ok() && (!best.ok() || r.seconds < best.seconds)) best = r;
  return best;
}

}  // namespace bench
