// Loading and fitting one 12-megapixel photo (4000 × 3000) into a 720 × 576
// frame, the work the frame server does for every picture of a slideshow.
// The JPEG is made here with libjpeg so the figures need no data files.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "BenchJpeg.h"

#include "frames/U_ImageFile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// An EXIF block (Intel byte order) holding only the orientation tag.
std::vector<uint8_t> ExifOrientationBlock(int orientation) {
  return {'E',  'x',  'i', 'f', 0, 0, 'I', 'I', 42,
          0,    8,    0,   0,   0,  // TIFF header, IFD0 at 8
          1,    0,                  // one entry
          0x12, 0x01, 3,   0,   1, 0, 0,   0,   static_cast<uint8_t>(orientation),
          0,    0,    0,   0,   0, 0, 0};  // no next directory
}

// A photo-like picture: smooth gradients with fine detail, 4:2:0, quality 90,
// much like a camera's output; with an orientation other than 1, as a phone
// held upright stores it.
void WriteTestJpeg(const std::string& name, int w, int h, int orientation = 1) {
  const std::vector<uint8_t> exif = ExifOrientationBlock(orientation);
  bench::WriteJpeg(
      name, w, h, 90,
      [&](int y, JSAMPLE* row) {
        for (int x = 0; x < w; ++x) {
          const double detail = 20 * std::sin(x * 0.37) * std::cos(y * 0.23);
          row[3 * x] = static_cast<uint8_t>(std::clamp(255.0 * x / w + detail, 0.0, 255.0));
          row[3 * x + 1] = static_cast<uint8_t>(std::clamp(255.0 * y / h - detail, 0.0, 255.0));
          const double blue = 128 + 100 * std::sin((x + y) * 0.002) + detail;
          row[3 * x + 2] = static_cast<uint8_t>(std::clamp(blue, 0.0, 255.0));
        }
      },
      orientation != 1 ? &exif : nullptr);
}

}  // namespace

int main() {
  const std::string name = (std::filesystem::temp_directory_path() / "slidomat-bench-12mp.jpg").string();
  WriteTestJpeg(name, 4000, 3000);
  std::printf("picture: 4000 x 3000 JPEG, %.1f MB\n", std::filesystem::file_size(name) / 1e6);

  const int runs = 5;
  double bestDecode = 1e9, bestFit = 1e9, bestGrey = 1e9, bestSepia = 1e9, sumDecode = 0, sumFit = 0;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    sdm::TImageFile picture(name);
    auto t1 = Clock::now();
    picture.Fit(720, 576);
    auto t2 = Clock::now();
    picture.Greyscale();
    auto t3 = Clock::now();
    picture.Sepia();
    auto t4 = Clock::now();
    bestDecode = std::min(bestDecode, Ms(t1 - t0));
    bestFit = std::min(bestFit, Ms(t2 - t1));
    bestGrey = std::min(bestGrey, Ms(t3 - t2));
    bestSepia = std::min(bestSepia, Ms(t4 - t3));
    sumDecode += Ms(t1 - t0);
    sumFit += Ms(t2 - t1);
  }
  std::printf("decode   best %8.2f ms   mean %8.2f ms\n", bestDecode, sumDecode / runs);
  std::printf("fit      best %8.2f ms   mean %8.2f ms   (into 720 x 576)\n", bestFit, sumFit / runs);
  std::printf("greyscale on the fitted frame  best %6.2f ms\n", bestGrey);
  std::printf("sepia on the fitted frame      best %6.2f ms\n", bestSepia);

  // The same picture as a phone held upright stores it: a quarter turn is
  // applied while decoding.
  const std::string turned = (std::filesystem::temp_directory_path() / "slidomat-bench-12mp-turned.jpg").string();
  WriteTestJpeg(turned, 4000, 3000, 6);
  double bestTurned = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    sdm::TImageFile picture(turned);
    bestTurned = std::min(bestTurned, Ms(Clock::now() - t0));
  }
  std::printf("decode turned a quarter (EXIF orientation 6)  best %8.2f ms\n", bestTurned);
  std::filesystem::remove(turned);
  std::filesystem::remove(name);
  return 0;
}
