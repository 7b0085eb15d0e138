// Frames per second of the frame server at 720 × 576 over ten 12-megapixel
// JPEGs at 75 frames per picture, with cross-fade, dynamic pictures and
// on-video text on, and where the time goes. Usage: bench_frameserver [PICTURES]
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchJpeg.h"

#include "frames/U_FrameServer.h"

namespace {

// A 4000 × 3000 picture with gradients and noise, so the JPEG is not trivially
// small to decode.
void WriteJpeg(const std::string& path, int seed) {
  const int w = 4000, h = 3000;
  std::mt19937 rng(static_cast<unsigned>(seed));
  bench::WriteJpeg(path, w, h, 90, [&](int y, JSAMPLE* row) {
    for (int x = 0; x < w; ++x) {
      row[3 * x] = static_cast<JSAMPLE>((x * 255 / w + seed * 40) & 0xFF);
      row[3 * x + 1] = static_cast<JSAMPLE>(y * 255 / h);
      row[3 * x + 2] = static_cast<JSAMPLE>(rng() & 0x3F);
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int pictureCount = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
  const auto dir = std::filesystem::temp_directory_path() / ("slidomat-bench-frames-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  sdm::TStringList pictures;
  std::printf("writing %d pictures of 4000 x 3000...\n", pictureCount);
  for (int i = 0; i < pictureCount; ++i) {
    const std::string path = (dir / ("p" + std::to_string(i) + ".jpg")).string();
    WriteJpeg(path, i);
    pictures.Add(path);
  }
  sdm::TStringList captions(
      std::vector<std::string>(static_cast<size_t>(pictureCount), "Caption with \xC3\xA9 and \xD0\x96"));

  sdm::TFrameServer server(pictures, &captions, 75, 576, 720, {.dynamic = true, .crossFade = true, .osd = true});
  sdm::TBitmap32 frame;
  const int total = server.FrameCount();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < total; ++i) server.GetFrame(frame, i);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::filesystem::remove_all(dir);

  const sdm::TFrameServerStats& s = server.Stats();
  const auto share = [seconds](double part) { return 100.0 * part / seconds; };
  std::printf("frames           %d in %.2f s: %.1f frames/s\n", total, seconds, total / seconds);
  std::printf("pictures decoded %d (of %d), transitions %d\n", s.Loads, pictureCount, s.Transitions);
  std::printf("decoding         %6.2f s  %5.1f %%\n", s.DecodeSeconds, share(s.DecodeSeconds));
  std::printf("fitting          %6.2f s  %5.1f %%\n", s.FitSeconds, share(s.FitSeconds));
  std::printf("frame windows    %6.2f s  %5.1f %%\n", s.WindowSeconds, share(s.WindowSeconds));
  std::printf("blending         %6.2f s  %5.1f %%\n", s.BlendSeconds, share(s.BlendSeconds));
  std::printf("text             %6.2f s  %5.1f %%\n", s.TextSeconds, share(s.TextSeconds));
  return s.Loads == pictureCount ? 0 : 1;
}
