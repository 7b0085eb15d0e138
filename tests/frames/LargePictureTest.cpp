// Pictures too large to hold whole: a JPEG is decoded at a reduced scale that
// still covers the frame, a BMP is refused with its size, and neither is ever
// allocated at full size.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "frames/PictureFiles.h"
#include "frames/U_FrameServer.h"
#include "frames/U_ImageFile.h"
#include "support/Errors.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

// A w × h JPEG made of two rows repeated: the top part one row, the bottom
// part another, each row flat colours in bands whose edges fall on 16-pixel
// blocks, so every block is flat and decodes to its colour at any scale.
// Encoded a row at a time from those two rows: making it takes no more memory
// than the compressed file, a few megabytes of flat blocks.
struct TBands {
  std::vector<int> columnEdges;  // band i spans [edge i, edge i+1)
  int rowEdge;                   // the bottom part starts here
  uint32_t Colour(int band, bool bottom) const {
    const int k = band + (bottom ? 4 : 0);
    return static_cast<uint32_t>((30 + 30 * k) << 16 | (220 - 25 * k) << 8 | (k % 2 ? 200 : 40));
  }
  int BandOf(int x) const {
    int b = 0;
    while (b + 1 < static_cast<int>(columnEdges.size()) - 1 && x >= columnEdges[static_cast<size_t>(b) + 1]) ++b;
    return b;
  }
};

void WriteBandedJpeg(const std::string& name, int w, int h, const TBands& bands) {
  std::vector<uint8_t> rows[2];
  for (int part = 0; part < 2; ++part)
    for (int x = 0; x < w; ++x) {
      const uint32_t colour = bands.Colour(bands.BandOf(x), part == 1);
      rows[part].insert(rows[part].end(), {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                                           static_cast<uint8_t>(colour)});
    }
  test::WriteBytes(name, test::EncodeJpeg(
                             w, h, 3, JCS_RGB,
                             [&](int y, JSAMPLE* row) {
                               const std::vector<uint8_t>& r = rows[y >= bands.rowEdge];
                               std::copy(r.begin(), r.end(), row);
                             },
                             [](jpeg_compress_struct& c) {
                               jpeg_set_quality(&c, 90, TRUE);
                               c.dct_method = JDCT_IFAST;
                             }));
}

// The memory a step takes at its peak, in MiB, above what the process held
// when the step began (other tests of the same process, and under the address
// sanitizer its quarantine of freed blocks, stay out of it): the kernel is
// told to forget the process's high-water mark first. -1 where it cannot be.
class TPeakMemory {
public:
  TPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    ok_ = static_cast<bool>(clear);
    start_ = Field("VmRSS:");
  }
  long GrowthMiB() const { return ok_ ? (Field("VmHWM:") - start_) / 1024 : -1; }

private:
  static long Field(const std::string& name) {  // in kB
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.compare(0, name.size(), name) == 0) return std::stol(line.substr(name.size()));
    return 0;
  }
  bool ok_ = false;
  long start_ = 0;
};

bool Near(TColor32 p, uint32_t c) {
  return std::abs(RedOf(p) - static_cast<int>(c >> 16)) <= 3 &&
         std::abs(GreenOf(p) - static_cast<int>((c >> 8) & 0xFF)) <= 3 &&
         std::abs(BlueOf(p) - static_cast<int>(c & 0xFF)) <= 3;
}

// 20000 × 15000 is 300 million pixels, a 1144 MiB bitmap: beyond the bound.
// Into 720 × 576 (and 960 × 768 for dynamic pictures) 1/8 still covers the
// frame: 2500 × 1875, 18 MiB. Fitted like any picture: ri = 4/3 > 1.25, so
// y = nearest(720/2500 × (2500/1.25 − 1875) / 2) = 18.
TEST(LargePictureTest, HugeJpegIsDecodedAtTheScaleThatCoversTheFrame) {
  test::TempDir dir;
  const std::string name = dir.file("huge.jpg");
  const TBands bands{{0, 4992, 10000, 15008, 20000}, 7504};
  WriteBandedJpeg(name, 20000, 15000, bands);

  const TPeakMemory memory;
  const TImageFile fitted(name, 720, 576);
  // Far below the 1144 MiB the whole picture would take (the file itself is
  // some 10 MiB, the picture at 1/8 18 MiB); a decode at 1/2 would take 286 MiB.
  EXPECT_LT(memory.GrowthMiB(), 150);
  ASSERT_EQ(fitted.Width(), 720);
  ASSERT_EQ(fitted.Height(), 576);
  const TBitmap32& b = fitted.Bitmap();
  for (int x : {0, 359, 719}) {
    EXPECT_EQ(b.Pixel(x, 17), Color32(0, 0, 0));
    EXPECT_EQ(b.Pixel(x, 558), Color32(0, 0, 0));
  }
  // Each band's middle, mapped to the frame by the picture's scale of 720/20000.
  for (int band = 0; band < 4; ++band) {
    const int x = (bands.columnEdges[static_cast<size_t>(band)] + bands.columnEdges[static_cast<size_t>(band) + 1]) /
                  2 * 720 / 20000;
    EXPECT_TRUE(Near(b.Pixel(x, 18 + 3750 * 540 / 15000), bands.Colour(band, false))) << band;
    EXPECT_TRUE(Near(b.Pixel(x, 18 + 11250 * 540 / 15000), bands.Colour(band, true))) << band;
  }

  // Loaded for the 4/3 enlargement, it comes at 1/8 as well; the frame server
  // asks for it so.
  EXPECT_EQ(TImageFile(name, TFitSize{960, 768}).Width(), 2500);
  TStringList pictures;
  pictures.Add(name);
  TFrameServer server(pictures, nullptr, 3, 576, 720, {.dynamic = true});
  TBitmap32 frame;
  server.GetFrame(frame, 0);  // the window at (0, 0) of the 960 × 768 enlargement, bars of 24 rows
  EXPECT_TRUE(Near(frame.Pixel(100, 200), bands.Colour(0, false)));  // picture (2083, 3666)
  EXPECT_EQ(frame.Pixel(100, 23), Color32(0, 0, 0));
}

// A panorama beyond the bound whose height at 1/8 would fall below the frame
// comes at 1/4: 65000 × 4200 → 16250 × 1050 (not 8125 × 525 < 576).
TEST(LargePictureTest, PanoramaKeepsEnoughRowsForTheFrame) {
  test::TempDir dir;
  const std::string name = dir.file("panorama.jpg");
  WriteBandedJpeg(name, 65000, 4200, TBands{{0, 16000, 32000, 48000, 65000}, 2096});
  const TImageFile loaded(name, TFitSize{720, 576});
  EXPECT_EQ(loaded.Width(), 16250);
  EXPECT_EQ(loaded.Height(), 1050);
}

TEST(LargePictureTest, BmpBeyondTheBoundIsRefusedWithItsSize) {
  test::TempDir dir;
  // A 1-bit BMP header for 20000 × 15000 (its pixels would fill 36 MiB of
  // file): the size alone refuses it, before any pixel is read.
  const std::string name = dir.file("huge.bmp");
  const TPeakMemory memory;
  test::WriteBytes(name, test::MakeBmp(20000, 15000, {40, 1, 0, false, {0, 0xFFFFFF}, {}}, std::vector<uint8_t>(64)));
  try {
    TImageFile f(name, 720, 576);
    FAIL() << "loaded";
  } catch (const EError& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find(name), std::string::npos) << m;
    EXPECT_NE(m.find("20000 x 15000 pixels, 1145 MiB"), std::string::npos) << m;
  }
  EXPECT_LT(memory.GrowthMiB(), 50);
}

}  // namespace
}  // namespace sdm
