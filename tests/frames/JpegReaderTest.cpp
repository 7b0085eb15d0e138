#include "frames/U_JpegReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "frames/PictureFiles.h"
#include "support/Errors.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

using test::BlockRgb;
using test::MakeJpeg;

const std::vector<uint32_t> kRows = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080, 0x204060};

TBitmap32 Decode(const std::vector<uint8_t>& file) {
  TBitmap32 out;
  ReadJpeg(file.data(), file.size(), "test.jpg", out);
  return out;
}

// Largest channel difference between the bitmap and packed RGB samples.
int MaxDifference(const TBitmap32& b, const std::vector<uint8_t>& rgb) {
  int worst = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const uint8_t* s = rgb.data() + (static_cast<size_t>(y) * b.Width() + x) * 3;
      const TColor32 p = b.Pixel(x, y);
      worst = std::max({worst, std::abs(RedOf(p) - s[0]), std::abs(GreenOf(p) - s[1]), std::abs(BlueOf(p) - s[2])});
    }
  return worst;
}

TEST(JpegReaderTest, BaselineProgressiveAndGreyDecodeAtFullSize) {
  const int w = 21, h = 48;  // not a multiple of the block size across
  const std::vector<uint8_t> rgb = BlockRgb(w, h, kRows);
  for (bool progressive : {false, true}) {
    TBitmap32 b = Decode(MakeJpeg(w, h, 3, JCS_RGB, rgb, progressive));
    ASSERT_EQ(b.Width(), w);
    ASSERT_EQ(b.Height(), h);
    EXPECT_LE(MaxDifference(b, rgb), 4) << (progressive ? "progressive" : "baseline");
    EXPECT_EQ(AlphaOf(b.Pixel(3, 3)), 255);
  }
  std::vector<uint8_t> grey(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>((i / w / 8) * 50);
  TBitmap32 g = Decode(MakeJpeg(w, h, 1, JCS_GRAYSCALE, grey));
  for (int y = 0; y < h; y += 5)
    for (int x = 0; x < w; x += 4) {
      const TColor32 p = g.Pixel(x, y);
      EXPECT_EQ(RedOf(p), GreenOf(p));
      EXPECT_EQ(GreenOf(p), BlueOf(p));
      EXPECT_NEAR(RedOf(p), grey[static_cast<size_t>(y) * w + x], 2) << x << "," << y;
    }
}

// CMYK as Adobe stores it (inverted: 255 is no ink) and plain CMYK, in both
// the CMYK and YCCK encodings. Expected colours: red = (1 - C)(1 - K) × 255.
TEST(JpegReaderTest, CmykAndYcckFilesBecomeRgb) {
  struct Case {
    uint8_t c, m, y, k;  // as stored in an Adobe (inverted) file
    uint8_t r, g, b;     // 200×200/255 = 156.9, 100×200/255 = 78.4, 50×200/255 = 39.2
  };
  const Case cases[] = {{255, 0, 0, 255, 255, 0, 0},
                        {255, 255, 255, 128, 128, 128, 128},
                        {200, 100, 50, 255, 200, 100, 50},
                        {200, 100, 50, 200, 157, 78, 39}};
  const int w = 8, h = 8 * 4;
  for (bool adobe : {true, false}) {
    std::vector<uint8_t> samples;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const Case& c = cases[y / 8];
        // Plain CMYK stores ink amounts: the complement of Adobe's values.
        for (uint8_t v : {c.c, c.m, c.y, c.k}) samples.push_back(adobe ? v : static_cast<uint8_t>(255 - v));
      }
    for (J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
      if (!adobe && stored == JCS_YCCK) continue;  // YCCK always carries Adobe's marker
      TBitmap32 b = Decode(MakeJpeg(w, h, 4, JCS_CMYK, samples, false, 100, stored, adobe));
      for (int i = 0; i < 4; ++i) {
        const TColor32 p = b.Pixel(4, 8 * i + 4);
        EXPECT_NEAR(RedOf(p), cases[i].r, 3) << i << (adobe ? " adobe" : " plain") << " " << stored;
        EXPECT_NEAR(GreenOf(p), cases[i].g, 3) << i;
        EXPECT_NEAR(BlueOf(p), cases[i].b, 3) << i;
      }
    }
  }
}

// Our decoding of a photo-like picture agrees with ffmpeg's own JPEG decoder.
TEST(JpegReaderTest, AgreesWithFfmpegsDecoder) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  test::TempDir dir;
  const int w = 64, h = 40;
  std::vector<uint8_t> rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      rgb.push_back(static_cast<uint8_t>(x * 4));
      rgb.push_back(static_cast<uint8_t>(y * 6));
      rgb.push_back(static_cast<uint8_t>((x + y) * 2));
    }
  const std::vector<uint8_t> jpeg = MakeJpeg(w, h, 3, JCS_RGB, rgb, false, 90);
  test::WriteBytes(dir.file("g.jpg"), jpeg);
  auto r = test::RunCommand({"ffmpeg", "-v", "error", "-y", "-i", dir.file("g.jpg"), "-f", "rawvideo", "-pix_fmt",
                             "rgb24", dir.file("g.rgb")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> reference = test::ReadBytes(dir.file("g.rgb"));
  ASSERT_EQ(reference.size(), static_cast<size_t>(w) * h * 3);
  EXPECT_LE(MaxDifference(Decode(jpeg), reference), 3);
}

std::string ErrorOf(const std::vector<uint8_t>& file) {
  try {
    TBitmap32 out;
    ReadJpeg(file.data(), file.size(), "/photos/broken.jpg", out);
  } catch (const EError& e) {
    return e.what();
  }
  return "no error";
}

// Rewrites the frame header's declared size.
std::vector<uint8_t> WithDeclaredSize(std::vector<uint8_t> f, int w, int h) {
  for (size_t i = 2; i + 9 < f.size(); ++i)
    if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2)) {
      f[i + 5] = static_cast<uint8_t>(h >> 8);
      f[i + 6] = static_cast<uint8_t>(h);
      f[i + 7] = static_cast<uint8_t>(w >> 8);
      f[i + 8] = static_cast<uint8_t>(w);
      return f;
    }
  ADD_FAILURE() << "no frame header";
  return f;
}

TEST(JpegReaderTest, TruncatedGarbledAndOversizedFilesGiveAnErrorNamingTheFile) {
  const std::vector<uint8_t> good = MakeJpeg(64, 64, 3, JCS_RGB, BlockRgb(64, 64, kRows));
  const std::vector<uint8_t> progressive = MakeJpeg(64, 64, 3, JCS_RGB, BlockRgb(64, 64, kRows), true);
  // Cut in the middle of the picture data, but closed with an end marker.
  std::vector<uint8_t> cutWithEnd(good.begin(), good.begin() + good.size() * 2 / 3);
  cutWithEnd.push_back(0xFF);
  cutWithEnd.push_back(0xD9);
  const std::vector<std::string> errors = {
      ErrorOf(std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)),
      ErrorOf(std::vector<uint8_t>(progressive.begin(), progressive.begin() + progressive.size() / 2)),
      ErrorOf({0xFF, 0xD8, 0x12, 0x34, 0x56}),
      ErrorOf({}),
      ErrorOf(WithDeclaredSize(good, 60000, 60000)),  // taken at 1/8, but a few hundred bytes cannot hold it
      ErrorOf(WithDeclaredSize(good, 9000, 9000)),    // a few hundred bytes cannot hold this
      ErrorOf(WithDeclaredSize(good, 0, 64)),
      ErrorOf(WithDeclaredSize(progressive, 9000, 9000)),  // its scans end long before the picture
      ErrorOf(cutWithEnd),
  };
  for (size_t i = 0; i < errors.size(); ++i)
    EXPECT_NE(errors[i].find("\"/photos/broken.jpg\""), std::string::npos) << i << ": " << errors[i];
  EXPECT_NE(errors[0].find("JPEG"), std::string::npos) << errors[0];
  EXPECT_NE(errors[4].find("truncated"), std::string::npos) << errors[4];
  EXPECT_NE(errors[5].find("truncated"), std::string::npos) << errors[5];
}

TEST(JpegReaderTest, CutAndGarbledFilesNeverEscapeAsAnythingButEError) {
  const std::vector<std::vector<uint8_t>> files = {MakeJpeg(24, 16, 3, JCS_RGB, BlockRgb(24, 16, kRows)),
                                                   MakeJpeg(24, 16, 3, JCS_RGB, BlockRgb(24, 16, kRows), true)};
  std::mt19937 rng(99);
  int refused = 0;
  for (const auto& f : files) {
    for (size_t cut = 0; cut < f.size(); cut += 7) {
      const std::string e = ErrorOf(std::vector<uint8_t>(f.begin(), f.begin() + cut));
      if (e != "no error") ++refused;
    }
    for (int k = 0; k < 200; ++k) {
      auto g = f;
      for (int n = 0; n < 4; ++n) g[2 + rng() % (g.size() - 2)] = static_cast<uint8_t>(rng());
      ErrorOf(g);  // decodes or gives EError; anything else fails the test
    }
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace sdm

namespace sdm {
namespace {

// Rows of b equal to those of a, from the top.
int SameRowsFromTheTop(const TBitmap32& a, const TBitmap32& b) {
  int y = 0;
  for (; y < a.Height() && y < b.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), sizeof(TColor32) * static_cast<size_t>(a.Width())) != 0) break;
  return y;
}

TEST(JpegReaderTest, WarningsAreNoFailureOnlyAPictureWithNothingToShowIs) {
  const std::vector<uint8_t> photo = test::ReadBytes(test::SourcePath("examples/landscape.jpg"));
  TBitmap32 whole;
  ReadJpeg(photo.data(), photo.size(), "whole.jpg", whole);
  ASSERT_GT(whole.Height(), 64);

  // Without its two-byte end marker every pixel is there.
  const std::vector<uint8_t> noEnd(photo.begin(), photo.end() - 2);
  TBitmap32 out;
  ReadJpeg(noEnd.data(), noEnd.size(), "noeoi.jpg", out);
  EXPECT_EQ(SameRowsFromTheTop(whole, out), whole.Height());

  // One flipped bit in the middle of the scan: the picture loads, the top
  // half as it was.
  std::vector<uint8_t> flipped = photo;
  flipped[photo.size() * 3 / 4] ^= 0x10;
  ReadJpeg(flipped.data(), flipped.size(), "flip.jpg", out);
  EXPECT_EQ(out.Width(), whole.Width());
  EXPECT_GE(SameRowsFromTheTop(whole, out), whole.Height() / 3);

  // Cut in half: what is there shows.
  const std::vector<uint8_t> half(photo.begin(), photo.begin() + static_cast<long>(photo.size() / 2));
  ReadJpeg(half.data(), half.size(), "half.jpg", out);
  EXPECT_EQ(out.Height(), whole.Height());
  EXPECT_GE(SameRowsFromTheTop(whole, out), 16);

  // Cut a few bytes into its scan: nothing to show, refused with the reason.
  size_t scan = 0;
  for (size_t i = 2; i + 3 < photo.size() && scan == 0; ++i)
    if (photo[i] == 0xFF && photo[i + 1] == 0xDA) scan = i + 2 + (photo[i + 2] << 8 | photo[i + 3]);
  const std::vector<uint8_t> nothing(photo.begin(), photo.begin() + static_cast<long>(scan) + 4);
  try {
    ReadJpeg(nothing.data(), nothing.size(), "nothing.jpg", out);
    ADD_FAILURE() << "no error";
  } catch (const EError& e) {
    EXPECT_NE(std::string(e.what()).find("\"nothing.jpg\""), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace sdm
