// The dynamics compressor: knots, level measurement, transfer curve, clamps
// and the automatic amount.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/filters/LoudnessCompressor.h"

using namespace sdm;

namespace {

struct TSilence : TAbstractAudioFile {
  TSilence() : TAbstractAudioFile("s") {}
  bool ReadPcm(void*, int32_t& c) override { return (c = 0), false; }
};

std::vector<int16_t> Constant(int frames, int16_t v) {
  return std::vector<int16_t>(static_cast<size_t>(2 * frames), v);
}

}  // namespace

TEST(Compressor, ConstructionKnotsAndAmounts) {
  TSilence s;
  TCompressor c(&s);
  ASSERT_EQ(c.Knots.Count(), 20);
  EXPECT_NEAR(c.Knots[0].InputDb, -95.238, 1e-3);
  EXPECT_NEAR(c.Knots[1].InputDb, -90.476, 1e-3);
  EXPECT_NEAR(c.Knots[19].InputDb, -4.762, 1e-3);
  EXPECT_NEAR(c.Knots[0].OutputDb, -95.238 * 0.9, 1e-3);  // amount 5
  EXPECT_TRUE(c.Enabled);
  EXPECT_FALSE(c.AutoAmount);
  EXPECT_EQ(c.Amount, 5);
  EXPECT_EQ(c.ClipLimit, 32766);
  EXPECT_EQ(c.TargetLevel, -12);
  EXPECT_EQ(c.Tolerance, 30);
  EXPECT_EQ(c.GateLevel, -60);
  EXPECT_FLOAT_EQ(c.RiseCoef, 0.07f);
  EXPECT_FLOAT_EQ(c.FallCoef, 0.5f);
  c.SetAmount(0);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(c.Knots[i].OutputDb, c.Knots[i].InputDb);
  c.SetAmount(49);
  float at49 = c.Knots[3].OutputDb;
  EXPECT_NEAR(at49, c.Knots[3].InputDb / 50, 1e-4);
  c.SetAmount(80);
  EXPECT_EQ(c.Knots[3].OutputDb, at49);
  EXPECT_EQ(c.Amount, 80);
}

TEST(Compressor, SettersClamp) {
  TSilence s;
  TCompressor c(&s);
  c.SetGateLevel(-20);
  EXPECT_EQ(c.GateLevel, -40);
  c.SetGateLevel(-39);
  EXPECT_EQ(c.GateLevel, -40);
  c.SetGateLevel(-200);
  EXPECT_EQ(c.GateLevel, -100);
  c.SetTargetLevel(5);
  EXPECT_EQ(c.TargetLevel, 0);
  c.SetTargetLevel(-101);
  EXPECT_EQ(c.TargetLevel, -100);
  c.SetTolerance(-1);
  EXPECT_EQ(c.Tolerance, 0);
  c.SetTolerance(101);
  EXPECT_EQ(c.Tolerance, 100);
  c.SetRiseCoef(NAN);
  EXPECT_EQ(c.RiseCoef, 0);
  c.SetFallCoef(2);
  EXPECT_EQ(c.FallCoef, 1);
  c.SetMaxLevel(-0.5f);
  EXPECT_EQ(c.MaxLevel, 0.5f);
  EXPECT_EQ(c.ClipLimit, 16383);
}

TEST(Compressor, MeasuresLevelsAndMapsThemThroughTheCurve) {
  auto silent = Constant(100, 0);
  EXPECT_NEAR(TCompressor::MeasureLevel(silent.data(), 400), 10 * std::log10(10 * std::pow(2.0, -30)), 1e-4);
  EXPECT_NEAR(TCompressor::MeasureLevel(silent.data(), 400), -80.3, 0.05);
  std::vector<int16_t> square;
  for (int i = 0; i < 100; ++i) square.insert(square.end(), 2, static_cast<int16_t>(i % 2 ? 32767 : -32767));
  EXPECT_NEAR(TCompressor::MeasureLevel(square.data(), 400), 10 * std::log10(32767.0 * 32767 / 2 * std::pow(2.0, -30)),
              1e-4);
  EXPECT_NEAR(TCompressor::MeasureLevel(square.data(), 400), -3.0, 0.05);
  EXPECT_NEAR(TCompressor::MeasureLevel(square.data(), 1), -80.3, 0.05);  // under one sample

  TSilence s;
  TCompressor c(&s);
  EXPECT_EQ(c.TransferLevel(3), 3);
  EXPECT_NEAR(c.TransferLevel(-50), -45, 1e-3);                  // knots at 0.9 x input
  EXPECT_NEAR(c.TransferLevel(-2), c.Knots[19].OutputDb, 1e-5);  // flat after the last knot
  // First segment: from (-100, -100) to the first knot (-95.238, -85.714).
  const double k0in = -100.0 * 20 / 21, k0out = 0.9 * k0in;
  EXPECT_NEAR(c.TransferLevel(-97), -100 + 3 * (k0out + 100) / (k0in + 100), 1e-3);
}

TEST(Compressor, GainClampAndAutomaticAmount) {
  TSilence s;
  TCompressor c(&s);
  c.GainDb = 6;
  c.SetRiseCoef(0);
  c.SetFallCoef(0);
  std::vector<int16_t> block = {30000, -30000, 100, -100};
  c.Compress(block.data(), 8);
  EXPECT_EQ(block[0], 32766);
  EXPECT_EQ(block[1], -32766);
  EXPECT_EQ(block[2], static_cast<int16_t>(100 * std::pow(10.0, 0.3)));  // truncated toward zero
  EXPECT_EQ(block[3], -199);

  TCompressor a(&s);
  a.AutoAmount = true;
  auto quiet = Constant(512, 147);  // about -50 dB: below target - tolerance, above the gate
  a.Compress(quiet.data(), 2048);
  EXPECT_EQ(a.Amount, 6);
  auto faint = Constant(512, 10);  // about -73 dB: under the gate
  a.Compress(faint.data(), 2048);
  EXPECT_EQ(a.Amount, 6);
  auto loud = Constant(512, 20000);  // above the target: the amount falls
  a.Compress(loud.data(), 2048);
  EXPECT_EQ(a.Amount, 5);
}
