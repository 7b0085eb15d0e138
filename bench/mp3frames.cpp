// How long the muxer's frame index takes for a one-hour soundtrack: an MP3
// of 128 kbit/s at 44100 Hz (about 57 MB, 137 812 frames) made of real frame
// headers with random payload, loaded from a file and scanned. The target is
// well under a second for the whole load and scan.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "avi/U_MP3FrameExtract.h"

int main() {
  constexpr int kFrames = 137812;  // 3600 s * 44100 / 1152
  std::vector<uint8_t> data;
  data.reserve(static_cast<size_t>(kFrames) * 418);
  std::mt19937 random(12345);
  for (int i = 0; i < kFrames; ++i) {
    // 417 or 418 bytes: padding keeps the mean at 144 * 128000 / 44100.
    const bool padded = (i * 96) % 100 < 96;
    const uint8_t header[4] = {0xFF, 0xFB, static_cast<uint8_t>(padded ? 0x92 : 0x90), 0x64};
    data.insert(data.end(), header, header + 4);
    for (int k = 4; k < (padded ? 418 : 417); ++k) data.push_back(static_cast<uint8_t>(random()));
  }
  const auto path = std::filesystem::temp_directory_path() / ("sdm_bench_" + std::to_string(::getpid()) + ".mp3");
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }

  using Clock = std::chrono::steady_clock;
  sdm::TMP3FrameExtract frames(path.string());
  int reports = 0;
  frames.OnProgress = [&](sdm::TMP3FrameExtract&, uint8_t) { ++reports; };
  frames.OnAbortQuery = [] { return false; };
  double best = 1e9, bestMemory = 1e9;
  for (int run = 0; run < 3; ++run) {
    auto t0 = Clock::now();
    frames.Scan();
    auto t1 = Clock::now();
    frames.ScanBuffer(data.data(), data.size());
    auto t2 = Clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    bestMemory = std::min(bestMemory, std::chrono::duration<double>(t2 - t1).count());
  }
  std::filesystem::remove(path);
  std::printf("one-hour 128 kbit/s MP3: %.1f MB, %d frames found (of %d written), %d progress reports per scan\n",
              static_cast<double>(data.size()) / 1e6, frames.Count() + 1, kFrames, reports / 6);
  std::printf("load + scan: %.3f s (best of 3), scan in memory: %.3f s (%.0f MB/s)\n", best, bestMemory,
              static_cast<double>(data.size()) / 1e6 / bestMemory);
  return 0;
}
