// bench_mux: a one-hour soundtrack added to a one-hour silent video by our
// muxer thread, as the job and the mux command run it (progress reported to
// the UI thread after every video sample and every audio chunk, the thread
// waiting for each report), against `ffmpeg -c copy` joining the same two
// files in the same run.
//
// The soundtrack: 128 kbit/s, 44100 Hz, about 57 MB, 137 812 frames of real
// headers, empty side information and random payload (nothing is decoded).
// The video: 90 000 frames of 320 × 240 at 25 frames per second through our
// "xvid" compressor. Runs alternate and the best of each is kept.
//
// Usage: bench_mux [--rounds N] [--keep DIR] [--only ours|ffmpeg]
//   --keep DIR keeps the two inputs in DIR and reuses them on the next run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "avi/U_BmpToAvi.h"
#include "avi/U_MuxThd.h"
#include "support/Thread.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAudioFrames = 137812;  // 3600 s × 44100 / 1152
constexpr int kVideoFrames = 90000;   // 3600 s × 25

void MakeSoundtrack(const std::string& path) {
  std::vector<uint8_t> data;
  data.reserve(static_cast<size_t>(kAudioFrames) * 418);
  std::mt19937 random(12345);
  for (int i = 0; i < kAudioFrames; ++i) {
    // 417 or 418 bytes: padding keeps the mean at 144 × 128000 / 44100.
    const bool padded = (i * 96) % 100 < 96;
    const uint8_t header[4] = {0xFF, 0xFB, static_cast<uint8_t>(padded ? 0x92 : 0x90), 0x64};
    data.insert(data.end(), header, header + 4);
    // Empty side information (the frame is silence to a decoder that looks),
    // then random bytes.
    data.insert(data.end(), 32, 0);
    for (int k = 36; k < (padded ? 418 : 417); ++k) data.push_back(static_cast<uint8_t>(random()));
  }
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// A still picture with a moving bar, an hour long: key frames every 250
// frames and small predicted frames between, like a slideshow's.
void MakeVideo(const std::string& path) {
  sdm::TBmpToAvi avi;
  avi.Width = 320;
  avi.Height = 240;
  avi.FramePeriod = 40;
  avi.FileName = path;
  avi.SetFourCC("xvid");
  avi.Open();
  sdm::TDib24 frame(320, 240);
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      uint8_t* p = frame.TopRow(y) + 3 * x;
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>(x ^ y);
    }
  for (int i = 0; i < kVideoFrames; ++i) {
    // A new picture every 75 frames; the frames between repeat it.
    const bool repeat = i % 75 != 0;
    if (!repeat)
      for (int y = 0; y < 240; ++y) frame.TopRow(y)[3 * ((i / 75) % 320)] ^= 0xFF;
    avi.AddFrame(frame, repeat);
  }
  avi.Close();
}

struct TUsage {
  double cpu = 0;     // user + system seconds of the whole process
  long switches = 0;  // voluntary context switches: a thread went to sleep
};

TUsage UsageNow() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  TUsage t;
  t.cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  t.switches = u.ru_nvcsw;
  return t;
}

double Ours(const std::string& video, const std::string& audio, const std::string& out, TUsage& used) {
  sdm::TEventLoop loop;
  sdm::TMuxThd mux(loop);
  mux.VideoFile = video;
  mux.AudioFile = audio;
  mux.OutputFile = out;
  // What a window does with a report: keep the numbers for its progress bar.
  int position = 0, maximum = 0;
  if (!std::getenv("SDM_NOPROGRESS"))
    mux.OnProgress = [&](int p, int m, const std::string&) {
      position = p;
      maximum = m;
    };
  mux.OnMessage = [](const std::string&) {};
  const TUsage u0 = UsageNow();
  const auto t0 = Clock::now();
  mux.Start();
  loop.RunUntil([&] { return mux.Finished(); });
  mux.WaitFor();
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const TUsage u1 = UsageNow();
  used.cpu = u1.cpu - u0.cpu;
  used.switches = u1.switches - u0.switches;
  if (mux.Outcome() != sdm::TMuxOutcome::Done) {
    std::fprintf(stderr, "our mux failed: %s\n", mux.ErrorText().c_str());
    return -1;
  }
  return position == maximum || std::getenv("SDM_NOPROGRESS") ? seconds : -1;
}

double Ffmpeg(const std::string& video, const std::string& audio, const std::string& out) {
  const std::string cmd =
      "ffmpeg -v error -y -i '" + video + "' -i '" + audio + "' -map 0:v -map 1:a -c copy '" + out + "'";
  const auto t0 = Clock::now();
  const int rc = std::system(cmd.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  return WIFEXITED(rc) && WEXITSTATUS(rc) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  std::string keep, only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: bench_mux [--rounds N] [--keep DIR] [--only ours|ffmpeg]\n");
      return 2;
    }
  }
  const fs::path dir = fs::temp_directory_path() / ("slidomat-bench-mux-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path inputs = keep.empty() ? dir : fs::path(keep);
  fs::create_directories(inputs);
  setenv("SLIDOMAT_REGISTRY_DIR", (dir / "hive").c_str(), 1);
  const std::string audio = (inputs / "hour.mp3").string(), video = (inputs / "hour.avi").string();
  if (!fs::exists(audio)) MakeSoundtrack(audio);
  if (!fs::exists(video)) {
    std::printf("making a one-hour video...\n");
    std::fflush(stdout);
    MakeVideo(video);
  }
  std::printf("video %.1f MB (%d frames), soundtrack %.1f MB (%d frames)\n", fs::file_size(video) / 1e6, kVideoFrames,
              fs::file_size(audio) / 1e6, kAudioFrames);

  double ours = -1, theirs = -1;
  TUsage best;
  for (int r = 0; r < rounds; ++r) {
    TUsage used;
    const double o = only == "ffmpeg" ? -1 : Ours(video, audio, (dir / "ours.avi").string(), used);
    const double t = only == "ours" ? -1 : Ffmpeg(video, audio, (dir / "ffmpeg.avi").string());
    std::printf("  ours %.2f s (%.2f s of processor, %ld sleeps), ffmpeg %.2f s\n", o, used.cpu, used.switches, t);
    std::fflush(stdout);
    if (o > 0 && (ours < 0 || o < ours)) {
      ours = o;
      best = used;
    }
    if (t > 0 && (theirs < 0 || t < theirs)) theirs = t;
  }
  std::printf("ours          %6.2f s  (best of %d; %.2f s of processor, %ld times a thread slept)\n", ours, rounds,
              best.cpu, best.switches);
  std::printf("ffmpeg -c copy %5.2f s\n", theirs);
  if (ours > 0 && theirs > 0) std::printf("ratio ours / ffmpeg  %.2f  (target <= 1.2)\n", ours / theirs);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
