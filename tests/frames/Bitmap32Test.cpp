#include "frames/Bitmap32.h"

#include <gtest/gtest.h>

namespace sdm {
namespace {

TEST(Bitmap32Test, FillAndCopyAreClippedToBothBitmaps) {
  TBitmap32 a(4, 3);
  EXPECT_EQ(a.Pixel(3, 2), Color32(0, 0, 0));
  a.FillRect(-5, 1, 2, 99, Color32(10, 20, 30));
  EXPECT_EQ(a.Pixel(0, 1), Color32(10, 20, 30));
  EXPECT_EQ(a.Pixel(1, 2), Color32(10, 20, 30));
  EXPECT_EQ(a.Pixel(2, 1), Color32(0, 0, 0));
  EXPECT_EQ(a.Pixel(0, 0), Color32(0, 0, 0));

  TBitmap32 b(2, 2);
  b.CopyRect(1, 0, a, 0, 1, 10, 10);  // only one column and two rows fit
  EXPECT_EQ(b.Pixel(1, 0), Color32(10, 20, 30));
  EXPECT_EQ(b.Pixel(1, 1), Color32(10, 20, 30));
  EXPECT_EQ(b.Pixel(0, 0), Color32(0, 0, 0));
}

TEST(Bitmap32Test, ZeroSideGivesAnEmptyBitmap) {
  TBitmap32 a(0, 7);
  EXPECT_TRUE(a.Empty());
  EXPECT_EQ(a.Width(), 0);
  EXPECT_EQ(a.Height(), 0);
  EXPECT_THROW(a.SetSize(-1, 2), std::invalid_argument);
}

}  // namespace
}  // namespace sdm
