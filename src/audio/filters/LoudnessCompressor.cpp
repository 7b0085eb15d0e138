#include "audio/filters/LoudnessCompressor.h"

#include <algorithm>
#include <cmath>

namespace sdm {

TCompressor::TCompressor(TAbstractAudioFile* source) : TAbstractAudioFile(source->FileName), Source(source) {
  for (int n = 19; n >= 0; --n) {
    float in = static_cast<float>(-(n + 1) * 100.0 / 21.0);
    Knots.Add(in, in);
  }
  SetAmount(5);
  Enabled = true;
  Amount = 5;
  SetMaxLevel(1);
  AutoAmount = false;
  SetTargetLevel(-12);
  SetTolerance(30);
  SetGateLevel(-60);
  SetFallCoef(0.5f);
  SetRiseCoef(0.07f);
}

void TCompressor::SetAmount(int32_t a) {
  Amount = a;
  const float k = static_cast<float>(std::min(std::max(a, 0), 49));
  for (int i = 0; i < Knots.Count(); ++i) {
    float in = Knots[i].InputDb;
    Knots[i].OutputDb = in + ((0.0f - in) / 50.0f) * k;
  }
}

void TCompressor::SetMaxLevel(float level) {
  MaxLevel = std::min(std::fabs(level), 1.0f);
  ClipLimit = static_cast<int32_t>(std::nearbyint(MaxLevel * 32766.0));
}

void TCompressor::SetTargetLevel(int32_t db) { TargetLevel = std::clamp(db, -100, 0); }
void TCompressor::SetTolerance(int32_t db) { Tolerance = std::clamp(db, 0, 100); }
void TCompressor::SetGateLevel(int32_t db) { GateLevel = db >= -39 ? -40 : std::max(db, -100); }

namespace {
float ClampCoef(float c) { return std::isnan(c) || c < 0 ? 0.0f : std::min(c, 1.0f); }
}  // namespace

void TCompressor::SetRiseCoef(float c) { RiseCoef = ClampCoef(c); }
void TCompressor::SetFallCoef(float c) { FallCoef = ClampCoef(c); }

float TCompressor::MeasureLevel(const int16_t* s, int32_t bytes) {
  const int32_t samples = bytes / 2;
  double sum = 0;
  for (int32_t i = 0; i + 1 < samples; i += 2) {
    double m = (s[i] + s[i + 1]) * 0.5;
    sum += m * m;
  }
  // Divided by the sample count, not the frame count, as the curve expects.
  double mean = bytes >= 2 ? sum / samples : 0;
  if (bytes < 2 || mean == 0) mean = 10;
  return static_cast<float>(10.0 * std::log10(mean * std::ldexp(1.0, -30)));
}

float TCompressor::TransferLevel(float x) const {
  if (x >= 0) return x;
  float prevIn = -100, prevOut = -100;
  const int n = Knots.Count();
  for (int k = 0; k <= n; ++k) {
    float in = k < n ? Knots[k].InputDb : 0.0f;
    float out = k < n ? Knots[k].OutputDb : Knots[n - 1].OutputDb;
    if (in >= x) {
      float s = in == prevIn ? 1.0f : (out - prevOut) / (in - prevIn);
      return x * s + (prevOut - prevIn * s);
    }
    prevIn = in;
    prevOut = out;
  }
  return x;
}

void TCompressor::Compress(int16_t* s, int32_t bytes) {
  const float level = MeasureLevel(s, bytes);
  const float target = TransferLevel(level);
  const float d = target - level;
  const float c = d > GainDb ? RiseCoef : FallCoef;
  GainDb = GainDb * (1 - c) + d * c;
  const double factor = std::pow(10.0, GainDb / 20.0);
  const int32_t samples = bytes / 2;
  for (int32_t i = 0; i + 1 < samples; i += 2) {
    for (int k = 0; k < 2; ++k) {
      double v = s[i + k] * factor;
      int32_t r = v > ClipLimit ? ClipLimit : v < -ClipLimit ? -ClipLimit : static_cast<int32_t>(v);
      s[i + k] = static_cast<int16_t>(r);
    }
  }
  if (AutoAmount && level >= GateLevel) {
    if (target > TargetLevel && Amount > 0)
      SetAmount(Amount - 1);
    else if (target < TargetLevel - std::abs(Tolerance) && Amount < 100)
      SetAmount(Amount + 1);
  }
}

bool TCompressor::ReadPcm(void* buffer, int32_t& count) {
  bool more = Source->ReadPcm(buffer, count);
  if (Enabled && count > 0) Compress(static_cast<int16_t*>(buffer), count);
  return more;
}

}  // namespace sdm
