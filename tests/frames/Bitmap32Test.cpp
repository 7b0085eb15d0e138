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
  EXPECT_THROW(a.SetSizeForOverwrite(2, -1), std::invalid_argument);
  a.SetSizeForOverwrite(3, 0);
  EXPECT_TRUE(a.Empty());
}

// A bitmap reused at another size has that size, and SetSize still clears
// what an earlier, larger use left behind.
TEST(Bitmap32Test, ReusedStorageTakesTheNewSize) {
  TBitmap32 a(6, 5);
  a.FillRect(0, 0, 6, 5, Color32(9, 9, 9));
  a.SetSizeForOverwrite(3, 4);
  EXPECT_EQ(a.Width(), 3);
  EXPECT_EQ(a.Height(), 4);
  a.FillRect(0, 0, 3, 4, Color32(1, 2, 3));
  EXPECT_EQ(a.Pixel(2, 3), Color32(1, 2, 3));
  a.SetSize(6, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(a.Pixel(x, y), Color32(0, 0, 0)) << x << "," << y;
}

}  // namespace
}  // namespace sdm
