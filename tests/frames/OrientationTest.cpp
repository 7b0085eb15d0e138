// Photos taken with the camera turned: the EXIF orientation is applied before
// fitting, so every picture stands as the photographer saw it.
#include <gtest/gtest.h>

#include "frames/PictureFiles.h"
#include "frames/U_ImageFile.h"
#include "frames/U_JpegReader.h"
#include "support/Errors.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

using test::ExifWithOrientation;
using test::MakeJpeg;
using test::WithApp1;

// The upright picture: 3 × 5 blocks of 8 × 8 pixels, each a flat colour of its
// own, so libjpeg codes a block the same wherever it lies and the stored forms
// decode to exactly the same pixels once turned back. 40 rows make the reader
// place them in more than one band.
constexpr int kW = 24, kH = 40;

uint32_t BlockColour(int bx, int by) {
  const int k = by * 3 + bx;
  return static_cast<uint32_t>((20 + 45 * (k % 5)) << 16 | (30 + 70 * (k / 5)) << 8 | (k * 53) % 256);
}

// Where the tag's definition shows stored row 0 and stored column 0.
struct TSides {
  char row0, col0;  // 't'op, 'b'ottom, 'l'eft, 'r'ight
};
const TSides kSides[9] = {{},         {'t', 'l'}, {'t', 'r'}, {'b', 'r'}, {'b', 'l'},
                          {'l', 't'}, {'r', 't'}, {'r', 'b'}, {'l', 'b'}};

// The pixels a camera holding the picture in orientation o stores (RGB
// samples of a ws × hs picture): stored (x, y) is the upright picture's pixel
// at the place the tag's definition gives it.
std::vector<uint8_t> StoredSamples(int o, int& ws, int& hs) {
  const bool turned = o >= 5;
  ws = turned ? kH : kW;
  hs = turned ? kW : kH;
  std::vector<uint8_t> s;
  for (int y = 0; y < hs; ++y)
    for (int x = 0; x < ws; ++x) {
      const TSides d = kSides[o];
      int ux, uy;
      if (!turned) {
        uy = d.row0 == 't' ? y : hs - 1 - y;
        ux = d.col0 == 'l' ? x : ws - 1 - x;
      } else {
        ux = d.row0 == 'l' ? y : hs - 1 - y;
        uy = d.col0 == 't' ? x : ws - 1 - x;
      }
      const uint32_t c = BlockColour(ux / 8, uy / 8);
      s.push_back(static_cast<uint8_t>(c >> 16));
      s.push_back(static_cast<uint8_t>(c >> 8));
      s.push_back(static_cast<uint8_t>(c));
    }
  return s;
}

std::vector<uint8_t> StoredJpeg(int o) {
  int ws = 0, hs = 0;
  const std::vector<uint8_t> samples = StoredSamples(o, ws, hs);
  return MakeJpeg(ws, hs, 3, JCS_RGB, samples);
}

TEST(OrientationTest, EveryOrientationFitsLikeTheUprightPicture) {
  test::TempDir dir;
  test::WriteBytes(dir.file("upright.jpg"), StoredJpeg(1));
  const TImageFile reference(dir.file("upright.jpg"));
  ASSERT_EQ(reference.Width(), kW);
  ASSERT_EQ(reference.Height(), kH);
  // The reference is the picture meant: its corner blocks, as coded.
  auto near = [](TColor32 p, uint32_t c) {
    return std::abs(RedOf(p) - static_cast<int>(c >> 16)) <= 2 &&
           std::abs(GreenOf(p) - static_cast<int>((c >> 8) & 0xFF)) <= 2 &&
           std::abs(BlueOf(p) - static_cast<int>(c & 0xFF)) <= 2;
  };
  EXPECT_TRUE(near(reference.Bitmap().Pixel(0, 0), BlockColour(0, 0)));
  EXPECT_TRUE(near(reference.Bitmap().Pixel(kW - 1, 0), BlockColour(2, 0)));
  EXPECT_TRUE(near(reference.Bitmap().Pixel(0, kH - 1), BlockColour(0, 4)));
  EXPECT_TRUE(near(reference.Bitmap().Pixel(kW - 1, kH - 1), BlockColour(2, 4)));

  const TImageFile referenceFitted(dir.file("upright.jpg"), 50, 30);  // bars at the sides, scaled down
  for (int o = 1; o <= 8; ++o) {
    for (bool bigEndian : {false, true}) {
      SCOPED_TRACE("orientation " + std::to_string(o) + (bigEndian ? " (Motorola)" : " (Intel)"));
      const std::string name = dir.file("o" + std::to_string(o) + ".jpg");
      test::WriteBytes(name, WithApp1(StoredJpeg(o), ExifWithOrientation(o, bigEndian)));
      EXPECT_EQ(TImageFile(name).Bitmap(), reference.Bitmap());
      EXPECT_EQ(TImageFile(name, 50, 30).Bitmap(), referenceFitted.Bitmap());
    }
  }
}

TEST(OrientationTest, CmykPicturesTurnToo) {
  // A quarter turn of a two-colour CMYK picture: left half cyan ink, right
  // half none. Turned clockwise (6), the stored top row becomes the right
  // column, so the cyan half (stored left) ends up at the top.
  std::vector<uint8_t> cmyk;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      const uint8_t ink = x < 16 ? 255 : 0;
      cmyk.insert(cmyk.end(), {static_cast<uint8_t>(255 - ink), 255, 255, 255});  // Adobe's inverted form
    }
  const std::vector<uint8_t> file = WithApp1(MakeJpeg(32, 16, 4, JCS_CMYK, cmyk, false, 100), ExifWithOrientation(6));
  TBitmap32 out;
  ReadJpeg(file.data(), file.size(), "turned.jpg", out);
  ASSERT_EQ(out.Width(), 16);
  ASSERT_EQ(out.Height(), 32);
  EXPECT_LE(RedOf(out.Pixel(8, 4)), 3);  // cyan: no red
  EXPECT_GE(GreenOf(out.Pixel(8, 4)), 252);
  EXPECT_GE(RedOf(out.Pixel(8, 28)), 252);  // no ink: white
}

// A damaged EXIF block is passed over: the picture loads as stored.
TEST(OrientationTest, GarbledExifLoadsUprightWithoutError) {
  test::TempDir dir;
  const std::vector<uint8_t> upright = StoredJpeg(1);
  test::WriteBytes(dir.file("upright.jpg"), upright);
  const TImageFile reference(dir.file("upright.jpg"));

  std::vector<uint8_t> truncated = ExifWithOrientation(6);
  truncated[14] = 40;  // IFD0 claims 40 entries; the block holds 3
  std::vector<test::ExifIfd> loop = {{{{0x010F, 2, 4, 0}}}, {{{0x0112, 3, 1, 6}}}};
  const std::vector<uint32_t> at = test::ExifIfdOffsets(loop);
  loop[0].next = at[1];
  loop[1].next = at[0];  // the thumbnail's directory links back to the first
  std::vector<uint8_t> cut = ExifWithOrientation(8);
  cut.resize(20);
  for (const auto& payload : {truncated, test::ExifPayload(loop), cut}) {
    test::WriteBytes(dir.file("garbled.jpg"), WithApp1(upright, payload));
    EXPECT_EQ(TImageFile(dir.file("garbled.jpg")).Bitmap(), reference.Bitmap());
  }
}

}  // namespace
}  // namespace sdm
