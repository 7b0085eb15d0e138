#include "frames/U_BmpReader.h"

#include <gtest/gtest.h>

#include <random>

#include "frames/PictureFiles.h"
#include "platform/WinTypes.h"
#include "support/Errors.h"

namespace sdm {
namespace {

using test::BmpLayout;
using test::MakeBmp;

// The reference picture: 5 × 3 (an odd width, so rows need padding), palette
// indices from the top row down.
constexpr int kW = 5, kH = 3;
const int kIndex[kH][kW] = {{0, 1, 2, 3, 4}, {5, 6, 7, 0, 1}, {2, 3, 4, 5, 6}};
const std::vector<uint32_t> kPalette = {0x102030, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x123456, 0x808080, 0xFEDCBA};

TColor32 Rgb(uint32_t c) { return Color32(c >> 16, (c >> 8) & 0xFF, c & 0xFF); }

// Rows of the reference picture in stored order, packed at bitCount bits per
// pixel: palette indices up to 8 bits, colours at 24 and 32.
std::vector<uint8_t> StoredRows(int bitCount, bool topDown, int indexMask = 7) {
  const size_t stride = (static_cast<size_t>(kW) * bitCount + 31) / 32 * 4;
  std::vector<uint8_t> data(stride * kH, 0);
  for (int r = 0; r < kH; ++r) {
    const int y = topDown ? r : kH - 1 - r;
    uint8_t* row = data.data() + r * stride;
    for (int x = 0; x < kW; ++x) {
      const int i = kIndex[y][x] & indexMask;
      const uint32_t c = kPalette[static_cast<size_t>(i)];
      if (bitCount <= 8) {
        const int perByte = 8 / bitCount;
        row[x / perByte] |= static_cast<uint8_t>(i << (8 - bitCount * (x % perByte + 1)));
      } else {
        uint8_t* p = row + x * (bitCount / 8);
        p[0] = c & 0xFF;
        p[1] = (c >> 8) & 0xFF;
        p[2] = (c >> 16) & 0xFF;
      }
    }
  }
  return data;
}

TBitmap32 Decode(const std::vector<uint8_t>& file) {
  TBitmap32 out;
  ReadBmp(file.data(), file.size(), "test.bmp", out);
  return out;
}

void ExpectReference(const TBitmap32& b, int indexMask, const std::string& what) {
  ASSERT_EQ(b.Width(), kW) << what;
  ASSERT_EQ(b.Height(), kH) << what;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      EXPECT_EQ(b.Pixel(x, y), Rgb(kPalette[static_cast<size_t>(kIndex[y][x] & indexMask)]))
          << what << " at " << x << "," << y;
}

TEST(BmpReaderTest, PaletteAndTrueColourLayoutsGiveTheSamePixels) {
  const std::vector<uint32_t> twoColours = {kPalette[0], kPalette[1]};
  for (bool topDown : {false, true}) {
    const std::string dir = topDown ? " top-down" : " bottom-up";
    ExpectReference(Decode(MakeBmp(kW, kH, {40, 1, 0, topDown, twoColours, {}}, StoredRows(1, topDown, 1))), 1,
                    "1 bit" + dir);
    ExpectReference(Decode(MakeBmp(kW, kH, {40, 4, 0, topDown, kPalette, {}}, StoredRows(4, topDown))), 7,
                    "4 bits" + dir);
    ExpectReference(Decode(MakeBmp(kW, kH, {40, 8, 0, topDown, kPalette, {}}, StoredRows(8, topDown))), 7,
                    "8 bits" + dir);
    ExpectReference(Decode(MakeBmp(kW, kH, {40, 24, 0, topDown, {}, {}}, StoredRows(24, topDown))), 7, "24 bits" + dir);
    ExpectReference(Decode(MakeBmp(kW, kH, {40, 32, 0, topDown, {}, {}}, StoredRows(32, topDown))), 7, "32 bits" + dir);
  }
  // OS/2 core header: 16-bit sizes and 3-byte palette entries.
  ExpectReference(Decode(MakeBmp(kW, kH, {12, 8, 0, false, kPalette, {}}, StoredRows(8, false))), 7, "core 8");
  ExpectReference(Decode(MakeBmp(kW, kH, {12, 24, 0, false, {}, {}}, StoredRows(24, false))), 7, "core 24");
  // V4 and V5 headers with plain 24-bit rows.
  ExpectReference(Decode(MakeBmp(kW, kH, {108, 24, 0, false, {}, {}}, StoredRows(24, false))), 7, "V4 24");
  ExpectReference(Decode(MakeBmp(kW, kH, {124, 8, 0, false, kPalette, {}}, StoredRows(8, false))), 7, "V5 8");
}

// 16-bit pixels: two rows of raw values and the channels worked out by hand
// (a 5-bit 16 is 16/31 of 255 = 131.6, a 6-bit 32 is 129.5).
TEST(BmpReaderTest, SixteenBitPixelsScaleEachChannelTo255) {
  auto rows = [](std::vector<uint16_t> top, std::vector<uint16_t> bottom) {
    std::vector<uint8_t> d;
    for (auto* r : {&bottom, &top}) {
      for (uint16_t v : *r) test::Put16(d, v);
      while (d.size() % 4) d.push_back(0);
    }
    return d;
  };
  TBitmap32 b = Decode(MakeBmp(3, 2, {40, 16, 0, false, {}, {}}, rows({0x7C00, 0x03E0, 0x001F}, {0x7FFF, 0x4210, 0})));
  EXPECT_EQ(b.Pixel(0, 0), Color32(255, 0, 0));
  EXPECT_EQ(b.Pixel(1, 0), Color32(0, 255, 0));
  EXPECT_EQ(b.Pixel(2, 0), Color32(0, 0, 255));
  EXPECT_EQ(b.Pixel(0, 1), Color32(255, 255, 255));
  EXPECT_EQ(b.Pixel(1, 1), Color32(132, 132, 132));
  EXPECT_EQ(b.Pixel(2, 1), Color32(0, 0, 0));

  const std::vector<uint32_t> m565 = {0xF800, 0x07E0, 0x001F};
  TBitmap32 c = Decode(
      MakeBmp(3, 2, {40, 16, BI_BITFIELDS, false, {}, m565}, rows({0xF800, 0x07E0, 0x0400}, {0x001F, 0x8410, 0xFFFF})));
  EXPECT_EQ(c.Pixel(0, 0), Color32(255, 0, 0));
  EXPECT_EQ(c.Pixel(1, 0), Color32(0, 255, 0));
  EXPECT_EQ(c.Pixel(2, 0), Color32(0, 130, 0));
  EXPECT_EQ(c.Pixel(0, 1), Color32(0, 0, 255));
  EXPECT_EQ(c.Pixel(1, 1), Color32(132, 130, 132));
  EXPECT_EQ(c.Pixel(2, 1), Color32(255, 255, 255));

  // The same masks inside a V5 header.
  TBitmap32 d = Decode(MakeBmp(3, 2, {124, 16, BI_BITFIELDS, false, {}, m565},
                               rows({0xF800, 0x07E0, 0x0400}, {0x001F, 0x8410, 0xFFFF})));
  EXPECT_EQ(d, c);
}

TEST(BmpReaderTest, ThirtyTwoBitFieldsFollowTheirMasks) {
  // Red in the low byte and blue in the high byte, the reverse of the usual.
  std::vector<uint8_t> px;
  test::Put32(px, 0x000000FF);  // red
  test::Put32(px, 0x00FF0000);  // blue
  test::Put32(px, 0x12345678);  // r 0x78, g 0x56, b 0x34
  const std::vector<uint32_t> masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  for (int header : {40, 108}) {
    TBitmap32 b = Decode(MakeBmp(3, 1, {header, 32, BI_BITFIELDS, false, {}, masks}, px));
    EXPECT_EQ(b.Pixel(0, 0), Color32(255, 0, 0)) << header;
    EXPECT_EQ(b.Pixel(1, 0), Color32(0, 0, 255)) << header;
    EXPECT_EQ(b.Pixel(2, 0), Color32(0x78, 0x56, 0x34)) << header;
  }
}

TEST(BmpReaderTest, Rle8RunsAbsoluteRunsJumpsAndLineEnds) {
  // 5 × 3. Stored bottom row first:
  //   bottom: absolute run 2 3 4 5 6 (padded to 16 bits), end of line
  //   middle: 5, 6, then 7 three times, end of line
  //   top:    jump one right (pixel 0 stays black), absolute 1 2 3 4, end of picture
  const std::vector<uint8_t> rle = {0, 5, 2, 3, 4, 5, 6, 0, 0, 0,         // bottom
                                    1, 5, 1, 6, 3, 7, 0, 0,               // middle
                                    0, 2, 1, 0, 0, 4, 1, 2, 3, 4, 0, 1};  // top
  TBitmap32 b = Decode(MakeBmp(kW, kH, {40, 8, BI_RLE8, false, kPalette, {}}, rle));
  const int expected[3][5] = {{-1, 1, 2, 3, 4}, {5, 6, 7, 7, 7}, {2, 3, 4, 5, 6}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(b.Pixel(x, y), expected[y][x] < 0 ? Color32(0, 0, 0) : Rgb(kPalette[expected[y][x]])) << x << "," << y;
}

TEST(BmpReaderTest, Rle4AlternatesTheTwoNibbles) {
  // bottom: run of 5 over the pair 1,2; top: absolute 3 4 5, then run 6 6.
  const std::vector<uint8_t> rle = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2, 0x66, 0, 1};
  TBitmap32 b = Decode(MakeBmp(5, 2, {40, 4, BI_RLE4, false, kPalette, {}}, rle));
  const int expected[2][5] = {{3, 4, 5, 6, 6}, {1, 2, 1, 2, 1}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(b.Pixel(x, y), Rgb(kPalette[expected[y][x]])) << x << "," << y;
}

std::string ErrorOf(const std::vector<uint8_t>& file) {
  try {
    TBitmap32 out;
    ReadBmp(file.data(), file.size(), "/photos/broken.bmp", out);
  } catch (const EError& e) {
    return e.what();
  }
  return "no error";
}

TEST(BmpReaderTest, BrokenAndHostileHeadersGiveAnErrorNamingTheFile) {
  const std::vector<uint8_t> px = StoredRows(24, false);
  const std::vector<uint8_t> whole = MakeBmp(kW, kH, {}, px);
  auto withSize = [&](int w, int h, BmpLayout l, std::vector<uint8_t> p) { return ErrorOf(MakeBmp(w, h, l, p)); };
  const std::vector<std::string> errors = {
      withSize(0, 3, {}, px),                                                     // zero width
      withSize(5, 0, {}, px),                                                     // zero height
      withSize(60000, 60000, {}, px),                                             // far beyond any picture
      withSize(30000, 3000, {}, px),                                              // plausible size, data missing
      withSize(9000, 9000, {40, 8, BI_RLE8, false, kPalette, {}}, {0, 0, 0, 0}),  // RLE that stops
      withSize(kW, kH, {40, 7, 0, false, {}, {}}, px),                            // no such bit count
      withSize(kW, kH, {40, 24, 4, false, {}, {}}, px),                           // embedded JPEG
      withSize(kW, kH, {40, 4, BI_RLE8, false, kPalette, {}}, px),                // RLE8 needs 8 bits
      withSize(kW, kH, {64 + 1, 24, 0, false, {}, {}}, px),                       // unknown header size
      ErrorOf({'B', 'M', 1, 2, 3}),                                               // cut inside the file header
      ErrorOf(std::vector<uint8_t>(whole.begin(), whole.begin() + 30)),           // cut inside the info header
      ErrorOf(std::vector<uint8_t>(whole.begin(), whole.end() - 4)),              // last row cut short
  };
  for (size_t i = 0; i < errors.size(); ++i) {
    EXPECT_NE(errors[i].find("\"/photos/broken.bmp\""), std::string::npos) << i << ": " << errors[i];
  }
  EXPECT_NE(errors[0].find("zero"), std::string::npos) << errors[0];
  EXPECT_NE(errors[2].find("too large"), std::string::npos) << errors[2];
  EXPECT_NE(errors[3].find("truncated"), std::string::npos) << errors[3];
  EXPECT_NE(errors[4].find("truncated"), std::string::npos) << errors[4];
}

// Every cut and many random byte changes of valid files either decode or give
// EError: never a crash, a read out of bounds (the sanitizer build checks) or
// another exception.
TEST(BmpReaderTest, CutAndGarbledFilesNeverEscapeAsAnythingButEError) {
  const std::vector<std::vector<uint8_t>> files = {
      MakeBmp(kW, kH, {40, 8, 0, false, kPalette, {}}, StoredRows(8, false)),
      MakeBmp(kW, kH, {12, 24, 0, false, {}, {}}, StoredRows(24, false)),
      MakeBmp(5, 2, {40, 4, BI_RLE4, false, kPalette, {}}, {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2, 0x66, 0, 1}),
      MakeBmp(3, 1, {108, 32, BI_BITFIELDS, false, {}, {0xFF, 0xFF00, 0xFF0000}}, std::vector<uint8_t>(12, 7)),
  };
  std::mt19937 rng(1234);
  int decoded = 0, refused = 0;
  for (const auto& f : files) {
    std::vector<std::vector<uint8_t>> variants;
    for (size_t cut = 0; cut < f.size(); ++cut) variants.emplace_back(f.begin(), f.begin() + cut);
    for (int k = 0; k < 300; ++k) {
      auto g = f;
      for (int n = 0; n < 3; ++n) g[2 + rng() % (g.size() - 2)] = static_cast<uint8_t>(rng());
      variants.push_back(g);
    }
    for (const auto& v : variants) {
      try {
        TBitmap32 out;
        ReadBmp(v.data(), v.size(), "x.bmp", out);
        EXPECT_GT(out.Width() * out.Height(), 0);
        ++decoded;
      } catch (const EError&) {
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(decoded, 0);
}

}  // namespace
}  // namespace sdm
