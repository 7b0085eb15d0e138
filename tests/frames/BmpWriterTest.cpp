#include "frames/U_BmpWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/Errors.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

TBitmap32 Pattern(int w, int h) {
  TBitmap32 b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(
          x, y, Color32(static_cast<uint8_t>(x * 50), static_cast<uint8_t>(y * 70), static_cast<uint8_t>(x + y), 0x12));
  return b;
}

TEST(BmpWriterTest, DibIsBottomUpBgrWithPaddedRows) {
  const TBitmap32 b = Pattern(5, 3);  // 15 bytes of pixels, 16 with padding
  const TDib24 dib = Bitmap32ToDib24(b);
  EXPECT_EQ(dib.Header.biWidth, 5);
  EXPECT_EQ(dib.Header.biHeight, 3);
  EXPECT_EQ(dib.Header.biBitCount, 24);
  EXPECT_EQ(dib.Header.biSizeImage, 48u);
  ASSERT_EQ(dib.Bits.size(), 48u);
  // Stored row 0 is the bottom row of the picture.
  const uint8_t* bottom = dib.Bits.data();
  EXPECT_EQ(bottom[3 * 4 + 0], BlueOf(b.Pixel(4, 2)));
  EXPECT_EQ(bottom[3 * 4 + 1], GreenOf(b.Pixel(4, 2)));
  EXPECT_EQ(bottom[3 * 4 + 2], RedOf(b.Pixel(4, 2)));
  EXPECT_EQ(dib.Bits[32], BlueOf(b.Pixel(0, 0)));  // stored row 2 is the top
  EXPECT_EQ(dib.Bits[15], 0);                      // padding
}

// One DIB reused for frames of every width: each pixel lands as B, G, R in
// its place whatever the width's remainder by 4, and the padding stays zero.
TEST(BmpWriterTest, OneDibReusedForManySizesHoldsEachFrameExactly) {
  TDib24 dib;
  unsigned seed = 1;
  for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 720, 5, 5, 1}) {
    const int h = 1 + w % 3;
    TBitmap32 b(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.SetPixel(x, y, (seed = seed * 1103515245u + 12345u));
    Bitmap32ToDib24(b, dib);
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
    ASSERT_EQ(dib.Bits.size(), stride * h) << w;
    EXPECT_EQ(dib.Width(), w);
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = dib.Bits.data() + (h - 1 - y) * stride;
      for (int x = 0; x < w; ++x) {
        const TColor32 c = b.Pixel(x, y);
        ASSERT_EQ(row[3 * x], BlueOf(c)) << w << " " << x << "," << y;
        ASSERT_EQ(row[3 * x + 1], GreenOf(c)) << w << " " << x << "," << y;
        ASSERT_EQ(row[3 * x + 2], RedOf(c)) << w << " " << x << "," << y;
      }
      for (size_t k = static_cast<size_t>(w) * 3; k < stride; ++k) ASSERT_EQ(row[k], 0) << w;
    }
  }
}

// The file we write is read back by ffmpeg's decoder with the same pixels.
TEST(BmpWriterTest, SavedFileDecodesInFfmpegAndInOurReader) {
  test::TempDir dir;
  const TBitmap32 b = Pattern(7, 4);
  const std::string name = dir.file("out.bmp");
  SaveBmp24(b, name);
  EXPECT_EQ(std::filesystem::file_size(name), 54u + 24u * 4u);
  EXPECT_FALSE(std::filesystem::exists(name + ".part"));

  const TDib24 back = LoadBmp24(name);
  EXPECT_EQ(back.Bits, Bitmap32ToDib24(b).Bits);

  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  auto r = test::RunCommand(
      {"ffmpeg", "-v", "error", "-y", "-i", name, "-f", "rawvideo", "-pix_fmt", "rgb24", dir.file("out.rgb")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> rgb = test::ReadBytes(dir.file("out.rgb"));
  ASSERT_EQ(rgb.size(), 7u * 4u * 3u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 7; ++x) {
      const uint8_t* p = rgb.data() + (y * 7 + x) * 3;
      EXPECT_EQ(Color32(p[0], p[1], p[2]), Color32(RedOf(b.Pixel(x, y)), GreenOf(b.Pixel(x, y)), BlueOf(b.Pixel(x, y))))
          << x << "," << y;
    }
}

TEST(BmpWriterTest, FailedWriteKeepsTheEarlierFile) {
  test::TempDir dir;
  const std::string name = dir.file("keep.bmp");
  test::WriteText(name, "earlier");
  EXPECT_THROW(SaveBmp24(Pattern(2, 2), dir.file("no/such/folder/x.bmp")), EError);
  // A folder in the way of the final name: the rename fails, nothing is left.
  std::filesystem::create_directory(dir.file("taken.bmp"));
  std::filesystem::create_directory(dir.file("taken.bmp/inner"));
  EXPECT_THROW(SaveBmp24(Pattern(2, 2), dir.file("taken.bmp")), EError);
  EXPECT_FALSE(std::filesystem::exists(dir.file("taken.bmp.part")));
  EXPECT_EQ(test::ReadText(name), "earlier");
}

}  // namespace
}  // namespace sdm
