#include "frames/U_Fader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace sdm {
namespace {

TBitmap32 Filled(int w, int h, TColor32 c) {
  TBitmap32 b(w, h);
  b.FillRect(0, 0, w, h, c);
  return b;
}

TEST(FaderTest, HalfWayRoundsTiesToEven) {
  // Fade frame 9 of 18 has the weight 0.5, so odd differences meet ties.
  TBitmap32 from = Filled(3, 2, Color32(100, 100, 200));
  TBitmap32 to = Filled(3, 2, Color32(201, 203, 99));
  TFramesFader fader(from, to, 18);
  TBitmap32 out;
  fader.Blend(9, out);
  ASSERT_EQ(out.Width(), 3);
  ASSERT_EQ(out.Height(), 2);
  // 100 + nearest(50.5) = 150, 100 + nearest(51.5) = 152, 200 + nearest(-50.5) = 150; alpha 0.
  EXPECT_EQ(out.Pixel(2, 1), 0x00969896u);
}

TEST(FaderTest, WeightIsSinglePrecision) {
  // 1/6 as a float is a little above 1/6: a difference of 3 gives 0.50000001,
  // which rounds up, where exact arithmetic would meet a tie and round to 0.
  TBitmap32 from = Filled(1, 1, Color32(100, 103, 255));
  TBitmap32 to = Filled(1, 1, Color32(103, 100, 0));
  TFramesFader fader(from, to, 18);
  TBitmap32 out;
  fader.Blend(3, out);
  EXPECT_EQ(RedOf(out.Pixel(0, 0)), 101);
  EXPECT_EQ(GreenOf(out.Pixel(0, 0)), 102);
  EXPECT_EQ(BlueOf(out.Pixel(0, 0)), 255 - 43);  // -255 / 6 = -42.5000001 -> -43

  TFramesFader six(from, to, 6);
  six.Blend(1, out);
  EXPECT_EQ(BlueOf(out.Pixel(0, 0)), 255 - 43);
}

TEST(FaderTest, EndsAndEqualPixelsAndBounds) {
  std::mt19937 rng(7);
  TBitmap32 from(16, 9), to(16, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 16; ++x) {
      from.SetPixel(x, y, rng() | 0xFF000000u);
      to.SetPixel(x, y, rng() | 0xFF000000u);
    }
  to.SetPixel(4, 4, from.Pixel(4, 4));
  TFramesFader fader(from, to, 24);
  TBitmap32 out(2, 2);
  for (int k = 0; k < 24; ++k) {
    fader.Blend(k, out);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 16; ++x) {
        const TColor32 a = from.Pixel(x, y), b = to.Pixel(x, y), c = out.Pixel(x, y);
        ASSERT_EQ(AlphaOf(c), 0);
        if (k == 0) {
          ASSERT_EQ(c & 0xFFFFFF, a & 0xFFFFFF);
        }
        for (int shift : {0, 8, 16}) {
          const int va = (a >> shift) & 0xFF, vb = (b >> shift) & 0xFF, vc = (c >> shift) & 0xFF;
          ASSERT_GE(vc, std::min(va, vb));
          ASSERT_LE(vc, std::max(va, vb));
          // Within half a step of the exact linear mix.
          ASSERT_NEAR(vc, va + (vb - va) * k / 24.0, 0.5 + 1e-6);
        }
      }
    EXPECT_EQ(out.Pixel(4, 4) & 0xFFFFFF, from.Pixel(4, 4) & 0xFFFFFF);
  }
}

// Every pair of channel values, at every weight of the usual fade lengths,
// against the rule worked out byte by byte in double precision; the width
// leaves a remainder, so pixels past the last whole group are mixed too.
TEST(FaderTest, EveryPairOfValuesAtEveryWeight) {
  const int w = 259, h = 256;
  TBitmap32 from(w, h), to(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int u = x & 0xFF;
      from.SetPixel(x, y, Color32(static_cast<uint8_t>(u), static_cast<uint8_t>(y), static_cast<uint8_t>(u ^ y), 0xFF));
      to.SetPixel(x, y, Color32(static_cast<uint8_t>(y), static_cast<uint8_t>(u), static_cast<uint8_t>(255 - u), 0x7F));
    }
  auto mix = [](int a, int b, int k, int fades) {
    const double weight = static_cast<float>(static_cast<double>(k) / fades);
    return a + static_cast<int>(std::nearbyint((b - a) * weight));
  };
  TBitmap32 out;
  for (int fades : {6, 18, 24}) {
    TFramesFader fader(from, to, fades);
    for (int k = 0; k < fades; ++k) {
      fader.Blend(k, out);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const TColor32 a = from.Pixel(x, y), b = to.Pixel(x, y);
          const TColor32 want = Color32(static_cast<uint8_t>(mix(RedOf(a), RedOf(b), k, fades)),
                                        static_cast<uint8_t>(mix(GreenOf(a), GreenOf(b), k, fades)),
                                        static_cast<uint8_t>(mix(BlueOf(a), BlueOf(b), k, fades)), 0);
          ASSERT_EQ(out.Pixel(x, y), want) << fades << " " << k << " " << x << "," << y;
        }
    }
  }
}

TEST(FaderTest, ReadsTheViewsCurrentContentsAndRefusesBadRequests) {
  TBitmap32 from = Filled(2, 2, Color32(0, 0, 0));
  TBitmap32 to = Filled(2, 2, Color32(0, 0, 0));
  TFramesFader fader(from, to, 6);
  from.FillRect(0, 0, 2, 2, Color32(60, 60, 60));
  to.FillRect(0, 0, 2, 2, Color32(120, 0, 60));
  TBitmap32 out;
  fader.Blend(3, out);
  EXPECT_EQ(out.Pixel(1, 1), 0x005A1E3Cu);  // (90, 30, 60)

  EXPECT_THROW(fader.Blend(6, out), std::out_of_range);
  EXPECT_THROW(fader.Blend(-1, out), std::out_of_range);
  TFramesFader none(from, to, 0);
  EXPECT_THROW(none.Blend(0, out), std::out_of_range);
  to.SetSize(3, 2);
  EXPECT_THROW(fader.Blend(1, out), std::invalid_argument);
}

}  // namespace
}  // namespace sdm
