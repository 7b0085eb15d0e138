#pragma once
// Listening to a file through ffmpeg: the sound of anything we write is
// decoded by code we did not write and compared with what it should hold
// (a test tone's level, silence where there should be none).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"

namespace sdm::test {

// The file's first audio stream as ffmpeg decodes it at rate, the mean of
// its two channels (a mono file counts as both). decodedCleanly says whether
// ffmpeg printed nothing (no error, no warning).
inline std::vector<float> DecodeMono(const std::string& path, int rate, bool* decodedCleanly = nullptr) {
  const CommandResult r = RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "2",
                                      "-ar", std::to_string(rate), "-f", "f32le", "-"});
  if (decodedCleanly) *decodedCleanly = r.status == 0 && r.err.empty();
  std::vector<float> lr(r.out.size() / sizeof(float));
  std::memcpy(lr.data(), r.out.data(), lr.size() * sizeof(float));
  std::vector<float> samples(lr.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.5f * (lr[2 * i] + lr[2 * i + 1]);
  return samples;
}

// Root mean square of samples [from, to) seconds (clamped to what is there).
inline double Rms(const std::vector<float>& s, int rate, double from, double to) {
  const size_t a = std::min(s.size(), static_cast<size_t>(std::max(0.0, from) * rate));
  const size_t b = std::min(s.size(), static_cast<size_t>(std::max(0.0, to) * rate));
  if (b <= a) return 0.0;
  double sum = 0;
  for (size_t i = a; i < b; ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / static_cast<double>(b - a));
}

// The amplitude of the frequency f in samples [from, to) seconds (a single
// bin of the Fourier transform): a sine of amplitude A gives about A.
inline double ToneLevel(const std::vector<float>& s, int rate, double f, double from, double to) {
  const size_t a = std::min(s.size(), static_cast<size_t>(std::max(0.0, from) * rate));
  const size_t b = std::min(s.size(), static_cast<size_t>(std::max(0.0, to) * rate));
  if (b <= a) return 0.0;
  double re = 0, im = 0;
  for (size_t i = a; i < b; ++i) {
    const double phase = 2 * M_PI * f * static_cast<double>(i) / rate;
    re += s[i] * std::cos(phase);
    im += s[i] * std::sin(phase);
  }
  return 2 * std::hypot(re, im) / static_cast<double>(b - a);
}

// Normalised cross-correlation of a and b over their common length, at the
// best lag within maxLag samples either way: 1 for the same sound.
inline double BestCorrelation(const std::vector<float>& a, const std::vector<float>& b, int maxLag) {
  double best = -1;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      const long j = static_cast<long>(i) + lag;
      if (j < 0 || j >= static_cast<long>(b.size())) continue;
      ab += static_cast<double>(a[i]) * b[static_cast<size_t>(j)];
      aa += static_cast<double>(a[i]) * a[i];
      bb += static_cast<double>(b[static_cast<size_t>(j)]) * b[static_cast<size_t>(j)];
    }
    if (aa > 0 && bb > 0) best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

}  // namespace sdm::test
