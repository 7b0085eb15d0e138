#pragma once
// Wall clock and processor time of the benchmarks' runs: a command run by the
// shell, or a render in a child process, each measured on its own, and the
// best of several rounds (a shared machine slows single runs at random).
#include <sys/resource.h>
#include <sys/wait.h>

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

// One timed run: wall clock and processor time (all threads, user and
// system); negative when the run failed.
struct TTimed {
  double seconds = -1;
  double cpuSeconds = -1;
  bool ok() const { return seconds >= 0; }
};

// Runs a shell command; its time and that of every process it started.
inline TTimed TimeCommand(const std::string& cmd) {
  rusage before{}, after{};
  getrusage(RUSAGE_CHILDREN, &before);
  const auto t0 = Clock::now();
  const int rc = std::system(cmd.c_str());
  const auto t1 = Clock::now();
  getrusage(RUSAGE_CHILDREN, &after);
  if (!WIFEXITED(rc) || WEXITSTATUS(rc) != 0) {
    std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    return {};
  }
  return {Seconds(t0, t1), CpuSeconds(after) - CpuSeconds(before)};
}

// The run of least wall-clock time, or a failed one when none succeeded.
inline TTimed Best(const std::vector<TTimed>& runs) {
  TTimed best;
  for (const TTimed& r : runs)
    if (r.ok() && (!best.ok() || r.seconds < best.seconds)) best = r;
  return best;
}

}  // namespace bench
