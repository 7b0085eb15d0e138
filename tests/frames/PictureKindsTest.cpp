// The picture kinds beyond JPEG and BMP: each decoded and fitted like a
// decode by libraries we did not write (PIL over libpng, libtiff, libwebp and
// giflib's formats; libheif's own heif-convert for HEIC), told by content
// rather than name, turned upright, bounded, and refused clearly when broken.
#include <gtest/gtest.h>

#include <cstdlib>

#include "frames/PictureFormats.h"
#include "frames/PictureTestFiles.h"
#include "frames/U_ImageFile.h"
#include "support/Errors.h"

namespace sdm {
namespace {

using test::Bytes;

constexpr int W = 96, H = 64;

std::string LoadError(const std::string& path, TFitSize fit = {}) {
  try {
    TImageFile f(path, fit);
  } catch (const EError& e) {
    return e.what();
  }
  return "no error";
}

// The largest difference of one colour channel between two bitmaps of the
// same size (256 when the sizes differ).
int MaxDifference(const TBitmap32& a, const TBitmap32& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return 256;
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const TColor32 p = a.Pixel(x, y), q = b.Pixel(x, y);
      worst = std::max(
          {worst, std::abs(RedOf(p) - RedOf(q)), std::abs(GreenOf(p) - GreenOf(q)), std::abs(BlueOf(p) - BlueOf(q))});
    }
  return worst;
}

// 16-bit samples, every one different, big-endian (PNG) or in the machine's
// order (TIFF).
Bytes Samples16(int w, int h, int channels, bool bigEndian) {
  Bytes b;
  for (int i = 0; i < w * h * channels; ++i) {
    const uint16_t v = static_cast<uint16_t>(i * 2477 + 1031);
    b.push_back(static_cast<uint8_t>(bigEndian ? v >> 8 : v));
    b.push_back(static_cast<uint8_t>(bigEndian ? v : v >> 8));
  }
  return b;
}

struct TKindCase {
  std::string name;
  Bytes file;
  int tolerance;  // levels: rounding of 16 bits or of alpha may differ by one
};

std::vector<TKindCase> KindCases() {
  const Bytes rgba = test::PatternRgba(W, H), alpha = test::PatternRgba(W, H, true);
  std::vector<TKindCase> cases;
  cases.push_back({"rgb8.png", test::EncodePng8(W, H, PNG_COLOR_TYPE_RGB, test::Channels(rgba, 3)), 0});
  {
    test::PngLayout s;
    s.colorType = PNG_COLOR_TYPE_RGBA;
    s.interlace = true;
    cases.push_back({"rgba8-interlaced.png", test::EncodePng(W, H, alpha, s), 1});
  }
  {
    test::PngLayout s;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    s.palette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    s.transparency = {255, 255, 128, 0};
    Bytes idx;
    for (int i = 0; i < W * H; ++i) idx.push_back(static_cast<uint8_t>((i % W) * 4 / W));
    cases.push_back({"palette-transparent.png", test::EncodePng(W, H, idx, s), 1});
  }
  {
    test::PngLayout s;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.depth = 16;
    cases.push_back({"grey16.png", test::EncodePng(W, H, Samples16(W, H, 1, true), s), 1});
    s.colorType = PNG_COLOR_TYPE_RGB;
    cases.push_back({"rgb16.png", test::EncodePng(W, H, Samples16(W, H, 3, true), s), 1});
    s.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
    s.depth = 8;
    cases.push_back({"grey-alpha.png", test::EncodePng(W, H, test::Channels(alpha, 2), s), 1});
  }
  test::TiffLayout t;
  cases.push_back({"rgb8.tif", test::EncodeTiff(W, H, test::Channels(rgba, 3), t), 0});
  t.samples = 4;
  cases.push_back({"rgba8-unassociated.tif", test::EncodeTiff(W, H, alpha, t), 1});
  t.samples = 1;
  t.compression = COMPRESSION_LZW;
  cases.push_back({"grey8.tif", test::EncodeTiff(W, H, test::Channels(rgba, 1), t), 0});
  t.bits = 16;
  t.compression = COMPRESSION_NONE;
  cases.push_back({"grey16.tif", test::EncodeTiff(W, H, Samples16(W, H, 1, false), t), 1});
  t.samples = 3;
  t.compression = COMPRESSION_PACKBITS;
  cases.push_back({"rgb16.tif", test::EncodeTiff(W, H, Samples16(W, H, 3, false), t), 1});
  cases.push_back({"lossless-alpha.webp", test::EncodeWebp(W, H, alpha, true), 1});
  cases.push_back({"lossy.webp", test::EncodeWebp(W, H, rgba, false), 1});
  {
    Bytes blue(rgba.size(), 0);
    for (size_t i = 0; i < blue.size(); i += 4) blue[i + 2] = blue[i + 3] = 255;
    cases.push_back({"animated.webp", test::EncodeAnimatedWebp(W, H, {alpha, blue}), 1});
  }
  {
    // A first frame inside the screen, interlaced, with a transparent
    // colour in every other row of its middle third; a second frame that
    // must not show.
    test::GifFrame first{10, 8, 60, 40, {}, 3, true};
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x)
        first.indices.push_back(static_cast<uint8_t>(x < 20 ? 1 : x < 40 ? (y % 2 ? 3 : 0) : 2));
    test::GifFrame second{0, 0, W, H, std::vector<uint8_t>(W * H, 2), -1, false};
    cases.push_back({"interlaced-transparent.gif",
                     test::EncodeGif(W, H, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF}, {first, second}), 0});
  }
  if (test::CanEncodeHeic()) {
    cases.push_back({"lossless.heic", test::EncodeHeic(W, H, rgba), 1});
    test::HeicOptions s;
    s.alpha = true;
    cases.push_back({"alpha.heic", test::EncodeHeic(W, H, alpha, s), 2});
  }
  return cases;
}

TEST(PictureKindsTest, EveryKindFittedLikeAReferenceDecode) {
  if (!test::HavePil()) GTEST_SKIP() << "python3-pil not installed";
  test::TempDir dir;
  for (const TKindCase& c : KindCases()) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file(c.name);
    test::WriteBytes(file, c.file);
    const std::string ref = dir.file(c.name + ".bmp");
    const std::string why = test::ReferenceBmp(file, ref);
    ASSERT_EQ(why, "");
    const TImageFile ours(file), theirs(ref);
    EXPECT_EQ(ours.Width(), W);
    EXPECT_EQ(ours.Height(), H);
    EXPECT_LE(MaxDifference(ours.Bitmap(), theirs.Bitmap()), c.tolerance);
    // Fitted into a frame of another shape: the same bars, the same pixels.
    const TImageFile fittedOurs(file, 120, 100), fittedTheirs(ref, 120, 100);
    EXPECT_LE(MaxDifference(fittedOurs.Bitmap(), fittedTheirs.Bitmap()), c.tolerance);
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 120; ++x) ASSERT_EQ(AlphaOf(fittedOurs.Bitmap().Pixel(x, y)), 255);
  }
}

// Values worked out by hand: where the first GIF frame lies, what is
// transparent, what a 16-bit sample rounds to.
TEST(PictureKindsTest, KnownPixelsOfEachKind) {
  test::TempDir dir;
  auto load = [&](const std::string& name, const Bytes& bytes) {
    test::WriteBytes(dir.file(name), bytes);
    return TImageFile(dir.file(name)).Bitmap();
  };
  const std::vector<uint32_t> colours = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  test::GifFrame f{2, 1, 3, 2, {1, 3, 2, 2, 1, 3}, 3, false};
  const TBitmap32 gif = load("a.gif", test::EncodeGif(6, 4, colours, {f}));
  EXPECT_EQ(gif.Pixel(0, 0), Color32(0, 0, 0));    // outside the frame
  EXPECT_EQ(gif.Pixel(2, 1), Color32(255, 0, 0));  // index 1
  EXPECT_EQ(gif.Pixel(3, 1), Color32(0, 0, 0));    // the transparent index 3
  EXPECT_EQ(gif.Pixel(4, 1), Color32(0, 255, 0));
  EXPECT_EQ(gif.Pixel(3, 2), Color32(255, 0, 0));

  // 16-bit PNG samples round to the nearest level (v / 257): 32896 is
  // exactly 128, 32767 is 127.498, and 255 is nearer 1 than 0.
  test::PngLayout s;
  s.colorType = PNG_COLOR_TYPE_RGB;
  s.depth = 16;
  const Bytes px = {0x80, 0x80, 0x7F, 0xFF, 0x00, 0xFF};
  EXPECT_EQ(load("p.png", test::EncodePng(1, 1, px, s)).Pixel(0, 0), Color32(128, 127, 1));

  // Half-transparent red over black.
  s.colorType = PNG_COLOR_TYPE_RGBA;
  s.depth = 8;
  EXPECT_EQ(load("h.png", test::EncodePng(1, 1, {255, 0, 0, 128}, s)).Pixel(0, 0), Color32(128, 0, 0));
  EXPECT_EQ(load("h.webp", test::EncodeWebp(1, 1, {0, 255, 0, 64}, true)).Pixel(0, 0), Color32(0, 64, 0));
}

// The pattern turned as each orientation says, as it should stand.
TBitmap32 Turned(const Bytes& rgba, int w, int h, int orientation) {
  const bool swaps = orientation >= 5;
  TBitmap32 b(swaps ? h : w, swaps ? w : h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
      int tx = x, ty = y;
      switch (orientation) {
        case 2: tx = w - 1 - x; break;
        case 3: tx = w - 1 - x, ty = h - 1 - y; break;
        case 4: ty = h - 1 - y; break;
        case 5: tx = y, ty = x; break;
        case 6: tx = h - 1 - y, ty = x; break;
        case 7: tx = h - 1 - y, ty = w - 1 - x; break;
        case 8: tx = y, ty = w - 1 - x; break;
      }
      b.SetPixel(tx, ty, Color32(p[0], p[1], p[2]));
    }
  return b;
}

TEST(PictureKindsTest, TiffAndHeifStandTheWayTheirFilesSay) {
  test::TempDir dir;
  const Bytes rgba = test::PatternRgba(W, H);
  for (int o : {1, 2, 3, 4, 5, 6, 7, 8}) {
    SCOPED_TRACE(o);
    test::TiffLayout t;
    t.orientation = o;
    test::WriteBytes(dir.file("o.tif"), test::EncodeTiff(W, H, test::Channels(rgba, 3), t));
    EXPECT_EQ(MaxDifference(TImageFile(dir.file("o.tif")).Bitmap(), Turned(rgba, W, H, o)), 0);
  }
  if (!test::CanEncodeHeic()) GTEST_SKIP() << "no HEVC encoder";
  // libheif writes these as the file's rotation (irot) and mirror (imir)
  // boxes and applies them when decoding.
  const std::pair<heif_orientation, int> heifCases[] = {
      {heif_orientation_rotate_90_cw, 6}, {heif_orientation_flip_horizontally, 2}, {heif_orientation_rotate_180, 3}};
  for (const auto& [orientation, exif] : heifCases) {
    SCOPED_TRACE(exif);
    test::HeicOptions s;
    s.orientation = orientation;
    test::WriteBytes(dir.file("o.heic"), test::EncodeHeic(W, H, rgba, s));
    EXPECT_LE(MaxDifference(TImageFile(dir.file("o.heic")).Bitmap(), Turned(rgba, W, H, exif)), 2);
  }
}

TEST(PictureKindsTest, TheContentNotTheNameSaysTheKind) {
  test::TempDir dir;
  const Bytes rgba = test::PatternRgba(8, 4);
  const std::pair<const char*, Bytes> misnamed[] = {
      {"png.jpg", test::EncodePng8(8, 4, PNG_COLOR_TYPE_RGBA, rgba)},
      {"webp.bmp", test::EncodeWebp(8, 4, rgba, true)},
      {"tiff.png", test::EncodeTiff(8, 4, test::Channels(rgba, 3), {})},
      {"gif", test::EncodeGif(8, 4, {0, 0xFFFFFF}, {{0, 0, 8, 4, std::vector<uint8_t>(32, 1), -1, false}})},
  };
  for (const auto& [name, bytes] : misnamed) {
    test::WriteBytes(dir.file(name), bytes);
    EXPECT_EQ(TImageFile(dir.file(name)).Width(), 8) << name;
  }
  if (test::CanEncodeHeic()) {
    test::WriteBytes(dir.file("phone.JPG"), test::EncodeHeic(8, 4, rgba));
    EXPECT_EQ(TImageFile(dir.file("phone.JPG")).Height(), 4);
  }
  // An MP4 video is a box file too, but not of the picture brands.
  Bytes mp4 = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0, 'i', 's', 'o', '2', 'm', 'p', '4', '1'};
  EXPECT_EQ(DetectPictureKind(mp4.data(), mp4.size()), TPictureKind::Unknown);
  mp4[23] = 'x';
  mp4.insert(mp4.end(), {'m', 'i', 'f', '1'});
  mp4[3] = 28;
  EXPECT_EQ(DetectPictureKind(mp4.data(), mp4.size()), TPictureKind::Heif);
  // Neither the content nor the name says a kind we read.
  test::WriteText(dir.file("notes.txt"), "shopping list");
  EXPECT_NE(LoadError(dir.file("notes.txt")).find("not a picture of a kind we read"), std::string::npos);
  // Damaged first bytes: the name chooses the reader, which says what is wrong.
  test::WriteText(dir.file("broken.png"), "PNG, honestly");
  EXPECT_NE(LoadError(dir.file("broken.png")).find("invalid PNG data"), std::string::npos)
      << LoadError(dir.file("broken.png"));
}

// Damaged files of every kind: an error naming the file and saying what is
// wrong, never a picture made up of what was there.
TEST(PictureKindsTest, DamagedFilesOfEachKindAreRefusedClearly) {
  test::TempDir dir;
  const Bytes rgba = test::PatternRgba(W, H);
  struct Damaged {
    const char* name;
    Bytes file;
    const char* reason;
  };
  auto cut = [](Bytes b, size_t keep) {
    b.resize(keep);
    return b;
  };
  const Bytes png = test::EncodePng8(W, H, PNG_COLOR_TYPE_RGB, test::Channels(rgba, 3));
  const Bytes tiff = test::EncodeTiff(W, H, test::Channels(rgba, 3), {});
  const Bytes webp = test::EncodeWebp(W, H, rgba, false);
  const Bytes gif = test::EncodeGif(W, H, {0, 0xFF0000}, {{0, 0, W, H, Bytes(W * H, 1), -1, false}});
  Bytes badCrc = png;
  badCrc[40] ^= 0x55;  // inside the first IDAT
  std::vector<Damaged> cases = {
      {"cut.png", cut(png, png.size() * 2 / 3), "PNG"},
      {"crc.png", badCrc, "invalid PNG data"},
      {"cut.tif", cut(tiff, tiff.size() / 2), "TIFF"},
      {"header.tif", cut(tiff, 6), "TIFF"},
      {"cut.webp", cut(webp, webp.size() / 2), "invalid WebP data"},
      {"cut.gif", cut(gif, gif.size() / 2), "invalid GIF data"},
      {"nopicture.gif", cut(gif, 13), "invalid GIF data"},
  };
  if (test::CanEncodeHeic()) {
    const Bytes heic = test::EncodeHeic(W, H, rgba);
    cases.push_back({"cut.heic", cut(heic, heic.size() / 2), "invalid HEIF data"});
  }
  for (const Damaged& d : cases) {
    SCOPED_TRACE(d.name);
    test::WriteBytes(dir.file(d.name), d.file);
    const std::string e = LoadError(dir.file(d.name));
    EXPECT_EQ(e.rfind("Cannot load picture \"" + dir.file(d.name) + "\": ", 0), 0u) << e;
    EXPECT_NE(e.find(d.reason), std::string::npos) << e;
  }
}

// A few bytes that declare a vast picture are refused before the picture is
// allocated; a picture beyond the bound is refused with its size, whatever
// the kind.
TEST(PictureKindsTest, SizesBeyondTheBoundOrTheDataAreRefusedBeforeAllocating) {
  test::TempDir dir;
  // PNG: 16000 × 16000 in one row's worth of data.
  test::PngLayout s;
  s.colorType = PNG_COLOR_TYPE_GRAY;
  Bytes png = test::EncodePng(1, 1, {7}, s);
  const uint8_t side[4] = {0, 0, 0x3E, 0x80};  // 16000
  std::copy(side, side + 4, png.begin() + 16);
  std::copy(side, side + 4, png.begin() + 20);
  // libpng checks the header's CRC: it is made right again.
  const uLong crc = crc32(crc32(0, nullptr, 0), png.data() + 12, 17);
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  test::WriteBytes(dir.file("huge.png"), png);
  EXPECT_NE(LoadError(dir.file("huge.png")).find("truncated PNG data"), std::string::npos)
      << LoadError(dir.file("huge.png"));

  // TIFF: 16000 × 16000 uncompressed in a few bytes.
  test::TiffLayout t;
  t.compression = COMPRESSION_NONE;
  t.samples = 1;
  t.rowsPerStrip = 16000;  // one strip, however high the picture is said to be
  Bytes tiny = test::EncodeTiff(16000, 1, Bytes(16000, 9), t);
  test::WriteBytes(dir.file("ok.tif"), tiny);
  EXPECT_EQ(TImageFile(dir.file("ok.tif")).Width(), 16000);
  // The same strip said to be 16000 rows high.
  for (size_t i = 8; i + 12 <= tiny.size(); i += 2)
    if (tiny[i] == 0x01 && tiny[i + 1] == 0x01 && (tiny[i + 2] == 3 || tiny[i + 2] == 4)) {  // ImageLength
      tiny[i + 8] = 0x80;
      tiny[i + 9] = 0x3E;
      break;
    }
  test::WriteBytes(dir.file("tall.tif"), tiny);
  EXPECT_NE(LoadError(dir.file("tall.tif")).find("truncated TIFF data"), std::string::npos)
      << LoadError(dir.file("tall.tif"));

  // GIF: a 16000 × 16000 screen around a one-pixel picture.
  test::WriteBytes(dir.file("screen.gif"),
                   test::EncodeGif(16000, 16000, {0, 0xFFFFFF}, {{0, 0, 1, 1, {1}, -1, false}}));
  EXPECT_NE(LoadError(dir.file("screen.gif")).find("truncated GIF data"), std::string::npos);

  // Beyond the bound (1 GiB): refused with the size, before decoding.
  test::WriteBytes(dir.file("bound.gif"), test::EncodeGif(65535, 65535, {0, 0xFFFFFF}, {{0, 0, 1, 1, {1}, -1, false}}));
  EXPECT_NE(LoadError(dir.file("bound.gif")).find("65535 x 65535 pixels, 16384 MiB"), std::string::npos);
}

}  // namespace
}  // namespace sdm
