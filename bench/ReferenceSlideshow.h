#pragma once
// The reference slideshow of the benchmarks: ten photo-like 4000 × 3000
// JPEGs made here (no data files needed), 720 × 576, 25 frames per second,
// 3000 ms a picture, cross-fades and on-video text: 10 × 75 + 9 × 18 = 912
// frames, compressed at quantiser 4 with a key frame every 250 frames.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BenchJpeg.h"

namespace bench {

constexpr int kPictures = 10;
constexpr int kWidth = 720, kHeight = 576, kFps = 25, kFramesPerPicture = 75, kFadeFrames = 18;
constexpr int kFrames = kPictures * kFramesPerPicture + (kPictures - 1) * kFadeFrames;  // 912
constexpr int kQuantiser = 4;
constexpr int kQuality = 9000;  // our compressors' quality for quantiser 4
constexpr int kKeyInterval = 250;

// One channel of fractal noise: value noise summed over octaves of nearly
// equal amplitude, which is what the 1/f spectrum of natural scenes gives
// per octave (fine octaves a little weaker, as lenses and JPEG soften them).
// Each octave is a grid of random values interpolated smoothly.
class TFractalNoise {
public:
  TFractalNoise(std::mt19937& rng, int width, int height, int largestCell, int smallestCell) {
    float energy = 0;
    for (int cell = largestCell; cell >= smallestCell; cell /= 2) {
      TOctave o;
      o.cell = cell;
      o.amplitude = std::pow(static_cast<float>(cell) / static_cast<float>(largestCell), 0.2f);
      energy += o.amplitude * o.amplitude / 3;  // a uniform value in -1 … 1 has variance 1/3
      o.cols = width / cell + 2;
      o.rows = height / cell + 2;
      o.values.resize(static_cast<size_t>(o.cols) * o.rows);
      std::uniform_real_distribution<float> d(-1.0f, 1.0f);
      for (float& v : o.values) v = d(rng);
      octaves_.push_back(std::move(o));
    }
    for (TOctave& o : octaves_) o.amplitude /= std::sqrt(energy);
  }

  // The noise of one row, of standard deviation about 1.
  void Row(int y, std::vector<float>& out) const {
    std::fill(out.begin(), out.end(), 0.0f);
    for (const TOctave& o : octaves_) {
      const int gy = y / o.cell;
      const float fy = Smooth(static_cast<float>(y % o.cell) / static_cast<float>(o.cell));
      const float* r0 = &o.values[static_cast<size_t>(gy) * o.cols];
      const float* r1 = r0 + o.cols;
      for (size_t x = 0; x < out.size(); ++x) {
        const int gx = static_cast<int>(x) / o.cell;
        const float fx = Smooth(static_cast<float>(static_cast<int>(x) % o.cell) / static_cast<float>(o.cell));
        const float top = r0[gx] + (r0[gx + 1] - r0[gx]) * fx;
        const float bottom = r1[gx] + (r1[gx + 1] - r1[gx]) * fx;
        out[x] += o.amplitude * (top + (bottom - top) * fy);
      }
    }
  }

private:
  struct TOctave {
    int cell = 0, cols = 0, rows = 0;
    float amplitude = 0;
    std::vector<float> values;
  };
  static float Smooth(float t) { return t * t * (3 - 2 * t); }
  std::vector<TOctave> octaves_;
};

// A photo-like 4000 × 3000 JPEG: a sky-to-ground gradient, fractal texture
// down to 2-pixel detail in brightness and colour, a few hard-edged objects
// (edges are what makes JPEG and MPEG-4 work), and sensor grain; written by
// libjpeg at quality 92 with 4:2:0 chroma as cameras do. The files come out
// at about 2.7 MB, near what a camera stores for 12 megapixels, so decoding
// them costs about what decoding real photos costs.
inline void WritePhotoLikeJpeg(const std::string& path, unsigned seed) {
  const int w = 4000, h = 3000;
  std::mt19937 rng(seed);
  const TFractalNoise light(rng, w, h, 1024, 2), hueA(rng, w, h, 512, 8), hueB(rng, w, h, 512, 8);
  struct TDisc {
    float x, y, r, shade;
  };
  std::vector<TDisc> discs;
  std::uniform_real_distribution<float> ux(0, w), uy(0, h), ur(80, 600), us(-60, 60);
  for (int i = 0; i < 12; ++i) discs.push_back({ux(rng), uy(rng), ur(rng), us(rng)});
  std::normal_distribution<float> grain(0.0f, 3.0f);

  std::vector<float> l(w), a(w), b(w);
  const float horizon = h * (0.35f + 0.1f * static_cast<float>(seed % 3));
  WriteJpeg(path, w, h, 92, [&](int y, JSAMPLE* row) {
    light.Row(y, l);
    hueA.Row(y, a);
    hueB.Row(y, b);
    const bool sky = y < horizon;
    for (int x = 0; x < w; ++x) {
      float base = sky ? 200 - 60 * y / horizon : 110 - 40 * (y - horizon) / (h - horizon);
      float texture = (sky ? 8 : 28) * l[x];
      for (const TDisc& d : discs) {
        const float dx = x - d.x, dy = y - d.y;
        if (dx * dx + dy * dy < d.r * d.r) base += d.shade;
      }
      const float v = base + texture;
      const float red = v + (sky ? -25 : 20) + 25 * a[x] + grain(rng);
      const float green = v + (sky ? 0 : 10) + 15 * b[x] + grain(rng);
      const float blue = v + (sky ? 40 : -25) - 25 * a[x] + grain(rng);
      row[3 * x] = static_cast<JSAMPLE>(std::clamp(red, 0.0f, 255.0f));
      row[3 * x + 1] = static_cast<JSAMPLE>(std::clamp(green, 0.0f, 255.0f));
      row[3 * x + 2] = static_cast<JSAMPLE>(std::clamp(blue, 0.0f, 255.0f));
    }
  });
}

// The ten pictures in dir, made when missing.
inline std::vector<std::string> ReferencePictures(const std::filesystem::path& dir) {
  std::vector<std::string> pictures;
  for (int i = 0; i < kPictures; ++i) {
    const std::string p = (dir / ("photo" + std::to_string(i) + ".jpg")).string();
    if (!std::filesystem::exists(p)) {
      std::printf("making %s\n", p.c_str());
      std::fflush(stdout);
      WritePhotoLikeJpeg(p, 1000u + static_cast<unsigned>(i));
    }
    pictures.push_back(p);
  }
  return pictures;
}

inline std::string CaptionOf(int i) { return "Photo " + std::to_string(i + 1) + " of the harbour walk"; }

}  // namespace bench
