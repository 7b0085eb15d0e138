// MP3 reading speed. First, decoding: a three-minute 128 kbit/s stereo MP3
// (made with sox and lame) is decoded to the end by TMpegAudioFile and by
// mpg123 in the same run, and both times are printed with their ratio.
// Second, the frame index: a one-hour file (the frames of a short CBR file
// repeated) is opened and measured with GetPcmSize, which reads every frame
// header; the fast estimate is timed beside it. Figures only, no verdict.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/mpeg/FastMp3Size.h"
#include "audio/mpeg/U_MpegAudio.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Processor time (user and system) of this process, and of its finished
// children: on a machine shared with other work the wall time says more
// about the neighbours than about the decoder.
double OwnCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ChildrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  auto s = [](const timeval& v) { return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) * 1e-6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

bool Run(const std::string& command) {
  if (std::system(command.c_str()) == 0) return true;
  std::fprintf(stderr, "bench_mp3: failed: %s\n", command.c_str());
  return false;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Decodes the whole file through the reader in 64 KiB requests, as the
// soundtrack copy does; returns the PCM bytes delivered.
int64_t DecodeAll(const std::string& path) {
  sdm::TMpegAudioFile f(path);
  std::vector<uint8_t> buf(65536);
  int64_t total = 0;
  bool more = true;
  while (more) {
    int32_t n = static_cast<int32_t>(buf.size());
    more = f.ReadPcm(buf.data(), n);
    total += n;
  }
  return total;
}

struct TempFolder {
  std::filesystem::path path;
  TempFolder() {
    std::string t = (std::filesystem::temp_directory_path() / "sdm_bench_mp3_XXXXXX").string();
    if (::mkdtemp(t.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path = t;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string file(const char* name) const { return (path / name).string(); }
};

void DecodeBenchmark(const TempFolder& dir) {
  const std::string wav = dir.file("three-minutes.wav"), mp3 = dir.file("three-minutes.mp3");
  // Pink noise on the left and a slow sweep on the right keep every band
  // busy, so the decoder does the full work of a dense music file.
  if (!Run("sox -n -r 44100 -b 16 -c 2 " + Quote(wav) + " synth 180 pinknoise sine 200-4000 vol 0.5") ||
      !Run("lame --quiet -b 128 " + Quote(wav) + " " + Quote(mp3)))
    return;

  double ours = 1e9, theirs = 1e9, oursCpu = 1e9, theirsCpu = 1e9;
  int64_t bytes = 0;
  for (int run = 0; run < 5; ++run) {
    auto t0 = Clock::now();
    double c0 = OwnCpuSeconds();
    bytes = DecodeAll(mp3);
    oursCpu = std::min(oursCpu, OwnCpuSeconds() - c0);
    ours = std::min(ours, Seconds(t0));
    t0 = Clock::now();
    c0 = ChildrenCpuSeconds();
    if (!Run("mpg123 -q -s " + Quote(mp3) + " > /dev/null")) return;
    theirsCpu = std::min(theirsCpu, ChildrenCpuSeconds() - c0);
    theirs = std::min(theirs, Seconds(t0));
  }
  const double audioSeconds = static_cast<double>(bytes) / (44100.0 * 4.0);
  std::printf("decode 3 min 128 kbit/s stereo MP3 (%.1f MB, %.1f s of audio), best of 5:\n",
              static_cast<double>(std::filesystem::file_size(mp3)) / 1e6, audioSeconds);
  std::printf("  TMpegAudioFile: %.3f s wall, %.3f s CPU (%.0fx real time)\n", ours, oursCpu, audioSeconds / oursCpu);
  std::printf("  mpg123 -q -s:   %.3f s wall, %.3f s CPU (%.0fx real time, process start included)\n", theirs,
              theirsCpu, audioSeconds / theirsCpu);
  std::printf("  ratio ours / mpg123: %.2f wall, %.2f CPU\n", ours / theirs, oursCpu / theirsCpu);
}

void IndexBenchmark(const TempFolder& dir) {
  // Ten seconds of CBR frames without a summary frame (-t), repeated to an
  // hour: 360 copies of 383 frames.
  const std::string wav = dir.file("ten-seconds.wav"), shortMp3 = dir.file("ten-seconds.mp3");
  const std::string hour = dir.file("one-hour.mp3");
  if (!Run("sox -n -r 44100 -b 16 -c 2 " + Quote(wav) + " synth 10 pinknoise vol 0.5") ||
      !Run("lame --quiet -t -b 128 " + Quote(wav) + " " + Quote(shortMp3)))
    return;
  std::vector<char> frames;
  {
    std::ifstream in(shortMp3, std::ios::binary);
    frames.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  {
    std::ofstream out(hour, std::ios::binary);
    for (int i = 0; i < 360; ++i) out.write(frames.data(), static_cast<std::streamsize>(frames.size()));
  }
  const double mb = static_cast<double>(std::filesystem::file_size(hour)) / 1e6;

  double open = 1e9, index = 1e9, indexCpu = 1e9, fast = 1e9;
  int64_t pcm = 0;
  int count = 0;
  double playDays = 0.0, fastDays = 0.0;
  for (int run = 0; run < 3; ++run) {
    auto t0 = Clock::now();
    sdm::TMpegAudioFile f(hour);
    open = std::min(open, Seconds(t0));
    t0 = Clock::now();
    const double c0 = OwnCpuSeconds();
    pcm = f.GetPcmSize();
    indexCpu = std::min(indexCpu, OwnCpuSeconds() - c0);
    index = std::min(index, Seconds(t0));
    count = f.Loader().Frames();
    playDays = f.GetPlayTime();
    t0 = Clock::now();
    sdm::TFastMp3size estimate(hour);
    fastDays = estimate.GetPlayTime();
    fast = std::min(fast, Seconds(t0));
  }
  std::printf("index of a one-hour 128 kbit/s MP3 (%.1f MB, file in the page cache), best of 3:\n", mb);
  std::printf(
      "  open: %.4f s, GetPcmSize (full index): %.3f s wall, %.3f s CPU (%.0f MB/s), %d frames, %lld PCM "
      "bytes, %.1f s\n",
      open, index, indexCpu, mb / index, count, static_cast<long long>(pcm), playDays * 86400.0);
  std::printf("  TFastMp3size estimate: %.4f s, %.1f s\n", fast, fastDays * 86400.0);
}

}  // namespace

int main() {
  for (const char* tool : {"sox", "lame", "mpg123"}) {
    if (std::system((std::string("command -v ") + tool + " > /dev/null").c_str()) != 0) {
      std::fprintf(stderr, "bench_mp3: %s is missing (scripts/setup.sh installs it)\n", tool);
      return 1;
    }
  }
  TempFolder dir;
  DecodeBenchmark(dir);
  IndexBenchmark(dir);
  return 0;
}
