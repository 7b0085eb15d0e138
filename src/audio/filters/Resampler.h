#pragma once
// Unit rs_filters.
// TResampler: sample-rate conversion by bandlimited interpolation. A
// Kaiser-windowed sinc lowpass is stored as its right half, 256 points per
// zero crossing, and evaluated at fractional read times in 15-bit fixed point.
// Consecutive ProcessBlock calls continue one stream.
#include <cstdint>
#include <vector>

namespace sdm {

// One lowpass filter of the converter: coefficients (entry 0 = 32767 at the
// centre), their differences, the zero crossings it spans and the gain scale
// that gives it unity gain.
struct TResampleFilter {
  int Nmult = 0;
  int Wing = 0;
  int GainScale = 0;
  double Rolloff = 0;
  double Beta = 0;
  std::vector<int32_t> Coefs;
  std::vector<int32_t> Diffs;
};

// Designed once on first use from the roll-off and Kaiser parameter.
const TResampleFilter& SmallResampleFilter();
const TResampleFilter& LargeResampleFilter();
// The design itself (exposed so tests can check it independently).
TResampleFilter DesignResampleFilter(int nmult, double rolloff, double beta);

class TResampler {
public:
  static constexpr int BlockSize = 4096;  // input samples per channel buffer
  static constexpr int PhaseBits = 15;
  static constexpr int PointsPerCrossing = 256;
  static constexpr int HistorySize = 4352;

  TResampler(bool largeFilter = false, bool linearMode = false, bool interpolateCoefficients = false);

  // Starts a new stream: channels 1 or 2, factor = target rate / source rate.
  void InitChannels(int channels, double factor);
  // Consumes up to inFrames interleaved 16-bit frames, writes at most
  // outFrames; on return both hold what was consumed and produced.
  void ProcessBlock(int& inFrames, int& outFrames, int16_t* output, const int16_t* input);
  // trunc(inBytes * Factor) down to a multiple of 4, minus 4 * trunc(Factor)
  // when upsampling.
  int32_t OutputBytesFor(int32_t inBytes) const;

  double Factor() const { return factor_; }
  int Reach() const { return reach_; }

  bool InterpolateCoefficients;
  bool LargeFilter;
  bool LinearMode;

private:
  int Pass(int wanted, int16_t* output, int outOffset);
  int32_t FilterUp(const int32_t* x, int phase, int inc) const;
  int32_t FilterDown(const int32_t* x, int phase, int inc, uint32_t dhb) const;

  bool firstCall_ = true;
  std::vector<int32_t> history_[2];
  std::vector<int32_t> outSamples_[2];
  uint32_t time_ = 0;
  int channels_ = 1;
  double factor_ = 1.0;
  int reach_ = 0;
  int fill_ = 0;  // valid samples in each history buffer
  const TResampleFilter* filter_ = nullptr;
  int gain_ = 0;
};

}  // namespace sdm
