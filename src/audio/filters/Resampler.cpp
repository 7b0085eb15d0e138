#include "audio/filters/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/Errors.h"

namespace sdm {

namespace {

constexpr int kNa = 7;  // coefficient-interpolation bits
constexpr int kAmask = (1 << kNa) - 1;
constexpr int kPmask = (1 << TResampler::PhaseBits) - 1;
constexpr int kNpc = TResampler::PointsPerCrossing;
constexpr int kProductShift = 14;
constexpr int kGuardShift = 2;
constexpr int kGainShift = 13;

// Zeroth-order modified Bessel function, by its power series.
double Izero(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 200; ++k) {
    double h = x / (2.0 * k);
    term *= h * h;
    sum += term;
    if (term < 1e-21 * sum) break;
  }
  return sum;
}

}  // namespace

TResampleFilter DesignResampleFilter(int nmult, double rolloff, double beta) {
  TResampleFilter f;
  f.Nmult = nmult;
  f.Wing = kNpc * (nmult - 1) / 2;
  f.Rolloff = rolloff;
  f.Beta = beta;
  const int n = f.Wing;
  const double frq = 0.5 * rolloff;  // cutoff as a fraction of the sample rate
  // Ideal lowpass impulse response (right half), then the Kaiser window. The
  // window is cut off at its last point rather than ramped to zero, which
  // keeps the first side lobe down.
  std::vector<double> c(static_cast<size_t>(n));
  c[0] = 2.0 * frq;
  for (int i = 1; i < n; ++i) {
    double t = M_PI * i / kNpc;
    c[static_cast<size_t>(i)] = std::sin(2.0 * t * frq) / t;
  }
  const double ibeta = 1.0 / Izero(beta);
  for (int i = 1; i < n; ++i) {
    double t = static_cast<double>(i) / (n - 1);
    c[static_cast<size_t>(i)] *= Izero(beta * std::sqrt(1.0 - t * t)) * ibeta;
  }
  // Largest coefficient (the centre) maps to 32767; (int)(x + 0.5) rounding.
  const double scale = 32767.0 / c[0];
  f.Coefs.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    f.Coefs[static_cast<size_t>(i)] = static_cast<int32_t>(c[static_cast<size_t>(i)] * scale + 0.5);
  f.Diffs.resize(static_cast<size_t>(n));
  for (int i = 0; i + 1 < n; ++i)
    f.Diffs[static_cast<size_t>(i)] = f.Coefs[static_cast<size_t>(i + 1)] - f.Coefs[static_cast<size_t>(i)];
  f.Diffs[static_cast<size_t>(n - 1)] = -f.Coefs[static_cast<size_t>(n - 1)];
  // The gain scale that makes the DC gain one: the coefficients met at an
  // integer read time, both wings, times the scale, equal 2^29 (the product,
  // guard and gain shifts together).
  double dc = f.Coefs[0];
  for (int i = kNpc; i < n; i += kNpc) dc += 2.0 * f.Coefs[static_cast<size_t>(i)];
  f.GainScale = static_cast<int>(std::lround(std::ldexp(1.0, kProductShift + kGuardShift + kGainShift) / dc));
  return f;
}

// Roll-off and Kaiser parameters chosen so that the tables open with
// 32767, 32766, 32764, 32760, ... (small) and 32767, 32766, 32764, 32761, ...
// (large), and so that each table ends at 0.
const TResampleFilter& SmallResampleFilter() {
  static const TResampleFilter f = DesignResampleFilter(13, 0.886, 12.0);
  return f;
}

const TResampleFilter& LargeResampleFilter() {
  static const TResampleFilter f = DesignResampleFilter(65, 0.90, 9.0);
  return f;
}

TResampler::TResampler(bool largeFilter, bool linearMode, bool interpolateCoefficients)
    : InterpolateCoefficients(interpolateCoefficients), LargeFilter(largeFilter), LinearMode(linearMode) {}

void TResampler::InitChannels(int channels, double factor) {
  channels_ = std::clamp(channels, 1, 2);
  factor_ = factor;
  firstCall_ = true;
  filter_ = LargeFilter ? &LargeResampleFilter() : &SmallResampleFilter();
  reach_ = LinearMode ? 10 : static_cast<int>(std::max(1.0, 1.0 / factor) * (filter_->Nmult + 1) / 2.0 + 10);
  for (int c = 0; c < 2; ++c) {
    history_[c].assign(HistorySize, 0);
    outSamples_[c].assign(static_cast<size_t>(std::max(0.0, factor * BlockSize + 0.5)), 0);
  }
  // The stream starts with `reach` samples of silence before its first sample.
  fill_ = std::min(reach_, BlockSize);
  time_ = 0;
}

int32_t TResampler::OutputBytesFor(int32_t inBytes) const {
  auto bytes = static_cast<int64_t>(inBytes * factor_);
  bytes -= bytes % 4;
  if (factor_ > 1) bytes -= 4 * static_cast<int64_t>(factor_);
  return static_cast<int32_t>(std::max<int64_t>(0, bytes));
}

int32_t TResampler::FilterUp(const int32_t* x, int phase, int inc) const {
  const int32_t* coef = filter_->Coefs.data();
  const int32_t* diff = filter_->Diffs.data();
  const int wing = filter_->Wing;
  int k = phase >> kNa;
  const int a = phase & kAmask;
  if (inc == 1 && phase == 0) k += kNpc;  // the centre tap belongs to the left wing
  int32_t v = 0;
  for (; k < wing; k += kNpc, x += inc) {
    int32_t c = coef[k];
    if (InterpolateCoefficients) c += (diff[k] * a) >> kNa;
    int32_t t = c * *x;
    if (t & (1 << (kProductShift - 1))) t += 1 << (kProductShift - 1);
    v += t >> kProductShift;
  }
  return v;
}

int32_t TResampler::FilterDown(const int32_t* x, int phase, int inc, uint32_t dhb) const {
  const int32_t* coef = filter_->Coefs.data();
  const int32_t* diff = filter_->Diffs.data();
  const uint32_t wing = static_cast<uint32_t>(filter_->Wing);
  uint32_t ho = (static_cast<uint32_t>(phase) * dhb) >> PhaseBits;
  if (inc == 1 && phase == 0) ho += dhb;
  int32_t v = 0;
  for (; (ho >> kNa) < wing; ho += dhb, x += inc) {
    int32_t c = coef[ho >> kNa];
    if (InterpolateCoefficients) c += (diff[ho >> kNa] * static_cast<int32_t>(ho & kAmask)) >> kNa;
    int32_t t = c * *x;
    if (t & (1 << (kProductShift - 1))) t += 1 << (kProductShift - 1);
    v += t >> kProductShift;
  }
  return v;
}

int TResampler::Pass(int wanted, int16_t* output, int outOffset) {
  const int x = reach_;
  const int nMax = fill_ - 2 * x;
  if (nMax <= 0 || wanted <= 0) return 0;
  const int outCap = static_cast<int>(factor_ * BlockSize);
  int perPass = LinearMode ? outCap - static_cast<int>(20 * factor_ + 0.5) : outCap - static_cast<int>(2 * x * factor_);
  const int m = std::min(wanted, perPass);
  if (m <= 0) return 0;
  const uint32_t dt = static_cast<uint32_t>(std::ldexp(1.0, PhaseBits) / factor_ + 0.5);
  const uint32_t endTime = time_ + (static_cast<uint32_t>(nMax) << PhaseBits);
  const uint32_t dhb = static_cast<uint32_t>(std::min<double>(kNpc * factor_, kNpc) * (1 << kNa) + 0.5);
  const int64_t gain = factor_ < 1 ? static_cast<int64_t>(gain_ * factor_ + 0.5) : gain_;

  uint32_t tEnd = time_;
  int produced = 0;
  for (int ch = 0; ch < channels_; ++ch) {
    const int32_t* h = history_[ch].data();
    int32_t* out = outSamples_[ch].data();
    uint32_t t = time_;
    int n = 0;
    while (n < m && t < endTime) {
      const int i = static_cast<int>(t >> PhaseBits);
      const int p = static_cast<int>(t & kPmask);
      int32_t sample;
      if (LinearMode) {
        int64_t v = static_cast<int64_t>(32768 - p) * h[i] + static_cast<int64_t>(p) * h[i + 1] + 16384;
        sample = static_cast<int32_t>(v / 32768);
      } else {
        const int rp = (0x8000 - p) & kPmask;
        int32_t v = factor_ >= 1 ? FilterUp(h + i, p, -1) + FilterUp(h + i + 1, rp, 1)
                                 : FilterDown(h + i, p, -1, dhb) + FilterDown(h + i + 1, rp, 1, dhb);
        v >>= kGuardShift;
        sample = static_cast<int32_t>((gain * v + 4096) >> kGainShift);
      }
      if (n >= static_cast<int>(outSamples_[ch].size())) throw EError("Output array overflow");
      out[n++] = sample;
      t += dt;
    }
    produced = n;
    tEnd = t;
  }
  if (produced > outCap) throw EError("Output array overflow");
  // Move the read time back by the whole samples it passed over and drop
  // them from the history, keeping the reach before the new position.
  const int consumed = static_cast<int>((tEnd >> PhaseBits) - (time_ >> PhaseBits));
  time_ = tEnd - (static_cast<uint32_t>(consumed) << PhaseBits);
  for (int ch = 0; ch < channels_; ++ch) {
    int32_t* h = history_[ch].data();
    std::memmove(h, h + consumed, sizeof(int32_t) * static_cast<size_t>(fill_ - consumed));
    for (int k = 0; k < produced; ++k)
      output[(outOffset + k) * channels_ + ch] =
          static_cast<int16_t>(static_cast<uint16_t>(outSamples_[ch][static_cast<size_t>(k)]));
  }
  fill_ -= consumed;
  return produced;
}

void TResampler::ProcessBlock(int& inFrames, int& outFrames, int16_t* output, const int16_t* input) {
  if (!filter_) InitChannels(channels_, factor_);
  if (!LinearMode && 2 * reach_ > BlockSize) throw EError("IBUFFSIZE (or factor) is too small");
  if (firstCall_) {
    time_ = static_cast<uint32_t>(reach_) << PhaseBits;
    gain_ = filter_->GainScale;
    firstCall_ = false;
  }
  const int given = std::max(0, inFrames), wanted = std::max(0, outFrames);
  int consumed = 0, produced = 0;
  while (produced < wanted) {
    const int take = std::min(BlockSize - fill_, given - consumed);
    for (int k = 0; k < take; ++k)
      for (int ch = 0; ch < channels_; ++ch)
        history_[ch][static_cast<size_t>(fill_ + k)] = input[(consumed + k) * channels_ + ch];
    fill_ += take;
    consumed += take;
    const int n = Pass(wanted - produced, output, produced);
    produced += n;
    if (n == 0 && (consumed == given || take == 0)) break;
  }
  inFrames = consumed;
  outFrames = produced;
}

}  // namespace sdm
