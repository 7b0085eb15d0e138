// Embedded colour profiles: a picture tagged with a profile that exchanges
// red and green comes out with them exchanged, whatever its kind; an Adobe
// RGB photo is converted to sRGB; untagged and sRGB-tagged pictures stay
// exactly as decoded; a profile that cannot be used is ignored with a log
// line and never stops the picture.
#include <gtest/gtest.h>

#include <mutex>

#include "frames/PictureNotes.h"
#include "frames/PictureTestFiles.h"
#include "frames/U_ImageFile.h"
#include "support/U_Log.h"
#include "testsupport/JpegWriter.h"

namespace sdm {
namespace {

using test::Bytes;

constexpr int W = 96, H = 64;
const char* const kAdobeRgb = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const char* const kColordSrgb = "/usr/share/color/icc/colord/sRGB.icc";
const char* const kPressCmyk = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

// A JPEG at quality 100 without chroma subsampling, so pure colours come
// back within a level or two; with an ICC profile when one is given.
Bytes Jpeg(int w, int h, int components, J_COLOR_SPACE space, const Bytes& samples, const Bytes* profile,
           bool adobeMarker = true) {
  return test::EncodeJpeg(
      w, h, components, space, test::RowsOf(samples, w, components),
      [&](jpeg_compress_struct& c) {
        jpeg_set_quality(&c, 100, TRUE);
        for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
        if (space == JCS_CMYK) c.write_Adobe_marker = adobeMarker;
      },
      [&](jpeg_compress_struct& c) {
        if (profile) jpeg_write_icc_profile(&c, profile->data(), static_cast<unsigned>(profile->size()));
      });
}

void ExpectNear(TColor32 got, int r, int g, int b, int tolerance, const std::string& what) {
  EXPECT_LE(std::abs(RedOf(got) - r), tolerance) << what << ": red " << int(RedOf(got));
  EXPECT_LE(std::abs(GreenOf(got) - g), tolerance) << what << ": green " << int(GreenOf(got));
  EXPECT_LE(std::abs(BlueOf(got) - b), tolerance) << what << ": blue " << int(BlueOf(got));
}

// The log lines the readers hand on while the object lives.
class TNotes {
public:
  TNotes()
      : sink_([this](const std::string& line, int level) {
          std::lock_guard<std::mutex> lock(mutex_);
          lines_.push_back(std::to_string(level) + " " + line);
        }) {}
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  TScopedPictureNoteSink sink_;
};

TEST(ColorProfileTest, ASwappingProfileSwapsRedAndGreenInEveryKind) {
  test::TempDir dir;
  const Bytes swap = test::SwapProfile();
  const Bytes rgba = test::PatternRgba(W, H);
  struct Tagged {
    const char* name;
    Bytes file;
    int tolerance;
  };
  test::PngLayout png;
  png.profile = &swap;
  test::TiffLayout tiff;
  tiff.profile = &swap;
  std::vector<Tagged> files = {
      {"swap.png", test::EncodePng(W, H, test::Channels(rgba, 3), png), 1},
      {"swap.tif", test::EncodeTiff(W, H, test::Channels(rgba, 3), tiff), 1},
      {"swap.webp", test::EncodeWebp(W, H, rgba, true, &swap), 1},
      {"swap.jpg", Jpeg(W, H, 3, JCS_RGB, test::Channels(rgba, 3), &swap), 3},
  };
  if (test::CanEncodeHeic()) {
    test::HeicOptions heic;
    heic.profile = &swap;
    files.push_back({"swap.heic", test::EncodeHeic(W, H, rgba, heic), 3});
  }
  for (const Tagged& t : files) {
    SCOPED_TRACE(t.name);
    test::WriteBytes(dir.file(t.name), t.file);
    const TImageFile f(dir.file(t.name));
    // The top patches: stored red shows as green, green as red, blue stays.
    ExpectNear(f.Bitmap().Pixel(16, 16), 1, 255, 0, t.tolerance, "red patch");
    ExpectNear(f.Bitmap().Pixel(48, 16), 255, 0, 0, t.tolerance, "green patch");
    ExpectNear(f.Bitmap().Pixel(80, 16), 0, 0, 255, t.tolerance, "blue patch");
  }
  // The profile applies to the colour, then the picture goes over black.
  png.colorType = PNG_COLOR_TYPE_RGBA;
  test::WriteBytes(dir.file("half.png"), test::EncodePng(1, 1, {255, 0, 0, 128}, png));
  ExpectNear(TImageFile(dir.file("half.png")).Bitmap().Pixel(0, 0), 1, 128, 0, 1, "half-transparent red");
}

TEST(ColorProfileTest, AnAdobeRgbPhotoIsConvertedToSrgb) {
  const Bytes adobe = test::ProfileFile(kAdobeRgb);
  if (adobe.empty()) GTEST_SKIP() << "colord-data not installed";
  test::TempDir dir;
  // Adobe RGB's green and red lie outside sRGB: these colours move a long
  // way (values from lcms's matrix of the two spaces, rounded).
  const Bytes samples = {100, 200, 100, 200, 100, 50, 128, 128, 128, 0, 0, 255};
  test::PngLayout png;
  png.profile = &adobe;
  test::WriteBytes(dir.file("adobe.png"), test::EncodePng(4, 1, samples, png));
  test::WriteBytes(dir.file("adobe.jpg"), Jpeg(4, 1, 3, JCS_RGB, samples, &adobe));
  for (const char* name : {"adobe.png", "adobe.jpg"}) {
    SCOPED_TRACE(name);
    const int tolerance = std::string(name) == "adobe.png" ? 1 : 3;
    const TImageFile f(dir.file(name));
    ExpectNear(f.Bitmap().Pixel(0, 0), 0, 201, 92, tolerance, "green");
    ExpectNear(f.Bitmap().Pixel(1, 0), 227, 100, 42, tolerance, "orange");
    ExpectNear(f.Bitmap().Pixel(2, 0), 129, 129, 129, tolerance, "grey");
    ExpectNear(f.Bitmap().Pixel(3, 0), 0, 0, 255, tolerance, "blue");
  }
}

TEST(ColorProfileTest, UntaggedAndSrgbTaggedPicturesStayExactlyAsDecoded) {
  test::TempDir dir;
  const Bytes rgb = test::Channels(test::PatternRgba(W, H), 3);
  const Bytes srgb = test::SrgbProfile();
  const Bytes colordSrgb = test::ProfileFile(kColordSrgb);
  test::WriteBytes(dir.file("plain.png"), test::EncodePng8(W, H, PNG_COLOR_TYPE_RGB, rgb));
  test::WriteBytes(dir.file("plain.jpg"), Jpeg(W, H, 3, JCS_RGB, rgb, nullptr));
  const TBitmap32 plainPng = TImageFile(dir.file("plain.png")).Bitmap();
  const TBitmap32 plainJpeg = TImageFile(dir.file("plain.jpg")).Bitmap();
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * W + x) * 3];
      ASSERT_EQ(plainPng.Pixel(x, y), Color32(p[0], p[1], p[2]));
    }
  TNotes notes;
  for (const Bytes* profile : {&srgb, &colordSrgb}) {
    if (profile->empty()) continue;
    test::WriteBytes(dir.file("srgb.png"), test::EncodePng8(W, H, PNG_COLOR_TYPE_RGB, rgb, profile));
    test::WriteBytes(dir.file("srgb.jpg"), Jpeg(W, H, 3, JCS_RGB, rgb, profile));
    EXPECT_TRUE(TImageFile(dir.file("srgb.png")).Bitmap() == plainPng);
    EXPECT_TRUE(TImageFile(dir.file("srgb.jpg")).Bitmap() == plainJpeg);
  }
  EXPECT_TRUE(notes.Lines().empty());
}

TEST(ColorProfileTest, AProfileThatCannotBeUsedIsIgnoredWithALogLine) {
  test::TempDir dir;
  const Bytes rgba = test::PatternRgba(W, H);
  const Bytes rgb = test::Channels(rgba, 3);
  const Bytes swap = test::SwapProfile();
  Bytes garbled = swap;  // a sound header over destroyed tags
  for (size_t i = 128; i < garbled.size(); i += 7) garbled[i] ^= 0x5A;
  const Bytes cut(swap.begin(), swap.begin() + 200);  // shorter than its header says
  const Bytes junk(300, 0x41);                        // no profile at all
  const Bytes grey = test::LinearGreyProfile();       // of another colour space than the pictures
  const TBitmap32 plainJpeg = [&] {
    test::WriteBytes(dir.file("plain.jpg"), Jpeg(W, H, 3, JCS_RGB, rgb, nullptr));
    return TImageFile(dir.file("plain.jpg")).Bitmap();
  }();
  test::WriteBytes(dir.file("plain.tif"), test::EncodeTiff(W, H, rgb, {}));
  test::WriteBytes(dir.file("plain.webp"), test::EncodeWebp(W, H, rgba, true));
  const TBitmap32 plainTiff = TImageFile(dir.file("plain.tif")).Bitmap();
  const TBitmap32 plainWebp = TImageFile(dir.file("plain.webp")).Bitmap();
  for (const Bytes* bad : std::vector<const Bytes*>{&garbled, &cut, &junk, &grey}) {
    TNotes notes;
    test::TiffLayout tiff;
    tiff.profile = bad;
    const std::string jpg = dir.file("bad.jpg"), tif = dir.file("bad.tif"), webp = dir.file("bad.webp");
    test::WriteBytes(jpg, Jpeg(W, H, 3, JCS_RGB, rgb, bad));
    test::WriteBytes(tif, test::EncodeTiff(W, H, rgb, tiff));
    test::WriteBytes(webp, test::EncodeWebp(W, H, rgba, true, bad));
    EXPECT_TRUE(TImageFile(jpg).Bitmap() == plainJpeg);
    EXPECT_TRUE(TImageFile(tif).Bitmap() == plainTiff);
    EXPECT_TRUE(TImageFile(webp).Bitmap() == plainWebp);
    const std::vector<std::string> lines = notes.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("2 Colour profile ignored : " + jpg + " (", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("2 Colour profile ignored : " + tif + " (", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("2 Colour profile ignored : " + webp + " (", 0), 0u) << lines[2];
  }
  // libpng drops a garbled profile by itself; the picture loads as untagged.
  test::PngLayout png;
  png.profile = &garbled;
  png.rawProfile = true;
  test::WriteBytes(dir.file("bad.png"), test::EncodePng(W, H, rgb, png));
  test::WriteBytes(dir.file("plain.png"), test::EncodePng8(W, H, PNG_COLOR_TYPE_RGB, rgb));
  EXPECT_TRUE(TImageFile(dir.file("bad.png")).Bitmap() == TImageFile(dir.file("plain.png")).Bitmap());
}

TEST(ColorProfileTest, GreyPicturesTakeGreyProfiles) {
  test::TempDir dir;
  const Bytes linear = test::LinearGreyProfile();
  // A linear grey of 128 is half the light: sRGB level 188; 64 gives 137.
  const Bytes samples = {128, 64, 0, 255};
  test::PngLayout png;
  png.colorType = PNG_COLOR_TYPE_GRAY;
  png.profile = &linear;
  test::TiffLayout tiff;
  tiff.samples = 1;
  tiff.profile = &linear;
  test::WriteBytes(dir.file("g.png"), test::EncodePng(4, 1, samples, png));
  test::WriteBytes(dir.file("g.tif"), test::EncodeTiff(4, 1, samples, tiff));
  test::WriteBytes(dir.file("g.jpg"), Jpeg(4, 1, 1, JCS_GRAYSCALE, samples, &linear));
  for (const char* name : {"g.png", "g.tif", "g.jpg"}) {
    SCOPED_TRACE(name);
    const TImageFile f(dir.file(name));
    ExpectNear(f.Bitmap().Pixel(0, 0), 188, 188, 188, 1, "128");
    ExpectNear(f.Bitmap().Pixel(1, 0), 137, 137, 137, 1, "64");
    ExpectNear(f.Bitmap().Pixel(2, 0), 0, 0, 0, 1, "black");
    ExpectNear(f.Bitmap().Pixel(3, 0), 255, 255, 255, 1, "white");
  }
}

TEST(ColorProfileTest, CmykPhotosGoThroughTheirPressProfile) {
  const Bytes press = test::ProfileFile(kPressCmyk);
  if (press.empty()) GTEST_SKIP() << "libgs-common not installed";
  test::TempDir dir;
  // Pure cyan, magenta, no ink, full black; plain CMYK stores ink amounts,
  // Adobe's form their complement.
  const Bytes ink = {255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255};
  Bytes inverted = ink;
  for (uint8_t& v : inverted) v = static_cast<uint8_t>(255 - v);
  test::WriteBytes(dir.file("plain.jpg"), Jpeg(4, 1, 4, JCS_CMYK, ink, &press, false));
  test::WriteBytes(dir.file("adobe.jpg"), Jpeg(4, 1, 4, JCS_CMYK, inverted, &press, true));
  const TBitmap32 plain = TImageFile(dir.file("plain.jpg")).Bitmap();
  const TBitmap32 adobe = TImageFile(dir.file("adobe.jpg")).Bitmap();
  for (int x = 0; x < 4; ++x)
    ExpectNear(plain.Pixel(x, 0), RedOf(adobe.Pixel(x, 0)), GreenOf(adobe.Pixel(x, 0)), BlueOf(adobe.Pixel(x, 0)), 2,
               "the two forms agree");
  // Printed cyan is far from the screen's (0, 255, 255): a mid blue-green.
  const TColor32 cyan = plain.Pixel(0, 0);
  EXPECT_LT(RedOf(cyan), 60);
  EXPECT_GT(GreenOf(cyan), 120);
  EXPECT_LT(GreenOf(cyan), 210);
  EXPECT_GT(BlueOf(cyan), 200);
  EXPECT_GT(RedOf(plain.Pixel(2, 0)), 235);   // paper stays (nearly) white
  EXPECT_LT(GreenOf(plain.Pixel(3, 0)), 60);  // full black ink
  for (int x = 0; x < 4; ++x) EXPECT_EQ(AlphaOf(plain.Pixel(x, 0)), 255);
}

}  // namespace
}  // namespace sdm
