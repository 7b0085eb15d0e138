// Resampler throughput: one minute of 22050 Hz mono and of 48000 Hz stereo
// pulled through the facade's format filter to 44100 Hz stereo. Prints the
// speed as a multiple of real time.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/filters/FormatFilter.h"

namespace {

class TSineReader : public sdm::TAbstractAudioFile {
public:
  TSineReader(uint32_t rate, uint32_t channels, int64_t frames)
      : TAbstractAudioFile("sine"), rate_(rate), channels_(channels), frames_(frames) {}
  uint32_t GetChannels() override { return channels_; }
  uint32_t GetSampleRate() override { return rate_; }
  uint32_t GetBitsPerSample() override { return 16; }
  int64_t GetPcmSize() override { return frames_ * channels_ * 2; }
  bool ReadPcm(void* buffer, int32_t& count) override {
    auto* out = static_cast<int16_t*>(buffer);
    int32_t samples = count / 2, done = 0;
    for (; done < samples && pos_ < frames_ * channels_; ++done, ++pos_)
      out[done] =
          static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(pos_ / channels_) / rate_));
    std::memset(out + done, 0, static_cast<size_t>(samples - done) * 2);
    count = done * 2;
    return done > 0;
  }

private:
  uint32_t rate_, channels_;
  int64_t frames_, pos_ = 0;
};

void Run(uint32_t rate, uint32_t channels) {
  const int seconds = 60;
  TSineReader src(rate, channels, static_cast<int64_t>(rate) * seconds);
  sdm::TRsmpFilter filter(&src, 44100, 2);
  std::vector<uint8_t> buf(65536);
  int64_t bytes = 0;
  auto t0 = std::chrono::steady_clock::now();
  for (;;) {
    int32_t n = static_cast<int32_t>(buf.size());
    if (!filter.ReadPcm(buf.data(), n)) break;
    bytes += n;
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%6u Hz x%u -> 44100 Hz x2: %lld bytes in %.3f s, %.1f x real time\n", rate, channels,
              static_cast<long long>(bytes), s, seconds / s);
}

}  // namespace

int main() {
  Run(22050, 1);
  Run(48000, 2);
  Run(32000, 2);
  return 0;
}
