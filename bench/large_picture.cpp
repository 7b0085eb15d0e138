// A picture too large to hold whole: a 20000 × 15000 JPEG (300 megapixels, a
// 1144 MiB bitmap at full size) loaded and fitted into a 720 × 576 frame, as
// the frame server does. Prints the time and the peak memory of the process,
// which stays far below the full-size bitmap because the picture is decoded at
// 1/8. The JPEG is made here with libjpeg, a few rows repeated.
//   bench_large_picture [WIDTH HEIGHT]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchJpeg.h"

#include "frames/U_ImageFile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long PeakRssMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

// Sixteen rows of a photo-like gradient with detail, repeated down the
// picture: every block is coded, so decoding is as much work as a real photo's.
void WriteRepeatedRowsJpeg(const std::string& name, int w, int h) {
  std::vector<std::vector<uint8_t>> rows(16, std::vector<uint8_t>(static_cast<size_t>(w) * 3));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < w; ++x) {
      const double detail = 20 * std::sin(x * 0.37) * std::cos(y * 0.9);
      uint8_t* p = rows[static_cast<size_t>(y)].data() + 3 * static_cast<size_t>(x);
      p[0] = static_cast<uint8_t>(std::fmin(255, std::fmax(0, 255.0 * x / w + detail)));
      p[1] = static_cast<uint8_t>(std::fmin(255, std::fmax(0, 128 - detail)));
      p[2] = static_cast<uint8_t>(std::fmin(255, std::fmax(0, 128 + 100 * std::sin(x * 0.002) + detail)));
    }
  bench::WriteJpeg(name, w, h, 85, [&](int y, JSAMPLE* row) {
    const std::vector<uint8_t>& from = rows[static_cast<size_t>(y % 16)];
    std::copy(from.begin(), from.end(), row);
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int w = argc > 2 ? std::atoi(argv[1]) : 20000;
  const int h = argc > 2 ? std::atoi(argv[2]) : 15000;
  const std::string name = (std::filesystem::temp_directory_path() / "slidomat-bench-large.jpg").string();
  auto t0 = Clock::now();
  WriteRepeatedRowsJpeg(name, w, h);
  const double made = Seconds(Clock::now() - t0);
  std::printf("picture: %d x %d JPEG, %.1f MB, made in %.2f s; a full-size bitmap would take %lld MiB\n", w, h,
              std::filesystem::file_size(name) / 1e6, made, static_cast<long long>(w) * h * 4 >> 20);
  const long before = PeakRssMiB();
  for (const auto& [fw, fh, what] :
       {std::tuple{720, 576, "frame"}, std::tuple{960, 768, "dynamic frame (4/3)"}, std::tuple{100, 75, "thumbnail"}}) {
    t0 = Clock::now();
    try {
      sdm::TImageFile picture(name, fw, fh);
      std::printf("load and fit into %4d x %3d %-20s %6.2f s\n", fw, fh, what, Seconds(Clock::now() - t0));
    } catch (const std::exception& e) {
      std::printf("load and fit into %4d x %3d: %s\n", fw, fh, e.what());
    }
  }
  std::printf("peak memory: %ld MiB (%ld MiB before loading)\n", PeakRssMiB(), before);
  std::filesystem::remove(name);
  return 0;
}
