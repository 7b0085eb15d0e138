// The decode command end to end against mpg123: a twenty-minute 128 kbit/s
// stereo MP3 (made with sox and lame) is decoded to a WAV file by
// `slidomat-cli decode` and by `mpg123 -w`, each several times, and the best
// wall and processor times, their ratio and our peak memory are printed. The
// goal is at most 1.5 times mpg123's time, with memory that does not grow
// with the length. Figures only, no verdict.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
  double wall = 0, cpu = 0;
  long peakKiB = 0;
  bool ok = false;
};

// Runs argv (no shell) with stdout and stderr thrown away; its wall time,
// processor time and peak memory.
TRun Measure(const std::vector<std::string>& argv) {
  TRun r;
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage u{};
  wait4(pid, &status, 0, &u);
  r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
  auto s = [](const timeval& v) { return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) * 1e-6; };
  r.cpu = s(u.ru_utime) + s(u.ru_stime);
  r.peakKiB = u.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

bool Run(const std::string& command) {
  if (std::system(command.c_str()) == 0) return true;
  std::fprintf(stderr, "bench_decode: failed: %s\n", command.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string cli = std::filesystem::path(argv[0]).parent_path().parent_path() / "slidomat-cli";
  std::string folder = (std::filesystem::temp_directory_path() / "sdm_bench_decode_XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) return 1;
  const std::string mp3 = folder + "/m20.mp3", ours = folder + "/ours.wav", theirs = folder + "/mpg123.wav";
  // Music-like content: a chord that changes, with some noise, so the
  // encoder uses every tool it has.
  if (!Run("sox -n -r 44100 -c 2 -b 16 -t wav - synth 1200 sine 220-880 sine 330 pinknoise vol 0.3 2>/dev/null | "
           "lame --quiet -b 128 - '" +
           mp3 + "'"))
    return 1;
  // A private registry with the program's uninstall entry, so the runs keep
  // no settings anywhere (a copy without one is portable and would write
  // settings.ini beside the program).
  setenv("SLIDOMAT_REGISTRY_DIR", (folder + "/reg").c_str(), 1);
  setenv("SLIDOMAT_MACHINE_REGISTRY_DIR", (folder + "/machine").c_str(), 1);
  setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
  std::filesystem::create_directories(folder + "/machine");
  if (FILE* hive = std::fopen((folder + "/machine/HKEY_LOCAL_MACHINE.reg").c_str(), "w")) {
    std::fputs(
        "Slidomat registry hive 1\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvenit Slidomat]\n"
        "\"DisplayName\"=\"Tarvenit Slidomat\"\n",
        hive);
    std::fclose(hive);
  }
  TRun best{1e9, 1e9, 0, true}, reference{1e9, 1e9, 0, true};
  for (int i = 0; i < rounds; ++i) {
    const TRun a = Measure({cli, "decode", mp3, ours});
    const TRun b = Measure({"mpg123", "-q", "-w", theirs, mp3});
    if (!a.ok || !b.ok) {
      std::fprintf(stderr, "bench_decode: a decode failed\n");
      return 1;
    }
    best.wall = std::min(best.wall, a.wall);
    best.cpu = std::min(best.cpu, a.cpu);
    best.peakKiB = std::max(best.peakKiB, a.peakKiB);
    reference.wall = std::min(reference.wall, b.wall);
    reference.cpu = std::min(reference.cpu, b.cpu);
    reference.peakKiB = std::max(reference.peakKiB, b.peakKiB);
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
  }
  std::printf("decode of a 20-minute 128 kbit/s MP3 to WAV, best of %d\n", rounds);
  std::printf("  slidomat-cli decode  %6.2f s wall  %6.2f s cpu  %7ld KiB peak\n", best.wall, best.cpu, best.peakKiB);
  std::printf("  mpg123 -w            %6.2f s wall  %6.2f s cpu  %7ld KiB peak\n", reference.wall, reference.cpu,
              reference.peakKiB);
  std::printf("  ratio                %6.2f wall    %6.2f cpu   (goal: wall at most 1.5)\n", best.wall / reference.wall,
              best.cpu / reference.cpu);
  std::filesystem::remove_all(folder);
  return 0;
}
