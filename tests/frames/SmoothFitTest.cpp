#include "frames/SmoothFit.h"

#include <gtest/gtest.h>

#include <cmath>

#include "frames/U_BmpWriter.h"
#include "frames/U_ImageFile.h"
#include "support/Errors.h"
#include "testsupport/JpegWriter.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

// ffmpeg's PSNR of two pictures of one size, in dB (inf for the same pixels).
double Psnr(const std::string& a, const std::string& b) {
  const CommandResult r = RunCommand({"ffmpeg", "-nostdin", "-hide_banner", "-i", a, "-i", b, "-lavfi",
                                      "[0]format=rgb24[a];[1]format=rgb24[b];[a][b]psnr", "-f", "null", "-"});
  const size_t at = r.err.find("average:");
  if (at == std::string::npos) {
    ADD_FAILURE() << r.err;
    return 0;
  }
  const std::string value = r.err.substr(at + 8, r.err.find(' ', at) - at - 8);
  return value == "inf" ? INFINITY : std::stod(value);
}

// ffmpeg's own Lanczos fit of a picture into 1920 × 1080 with black bars,
// scaled in RGB as ours is.
std::string FfmpegFit(const std::string& in, const std::string& out) {
  const CommandResult r = RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", in, "-vf",
                                      "format=bgra,scale=1920:1080:force_original_aspect_ratio=decrease:flags=lanczos,"
                                      "pad=1920:1080:(ow-iw)/2:(oh-ih)/2:color=black",
                                      "-frames:v", "1", "-pix_fmt", "rgb24", out});
  EXPECT_EQ(r.status, 0) << r.err;
  return out;
}

// A 4000 × 3000 photo-like JPEG: soft gradients under fine detail (rings
// that tighten towards the edges, a few pixels apart), where taking one
// pixel in eight aliases into moiré and a filter does not.
std::string Photo(const TempDir& dir) {
  const int w = 4000, h = 3000;
  const std::vector<uint8_t> jpeg = EncodeJpeg(
      w, h, 3, JCS_RGB,
      [&](int y, JSAMPLE* row) {
        for (int x = 0; x < w; ++x) {
          const double dx = x - w / 2.0, dy = y - h / 2.0;
          const double ring = 0.5 + 0.5 * std::cos((dx * dx + dy * dy) / 2200.0);
          row[3 * x] = static_cast<JSAMPLE>(40 + 150.0 * x / w + 60 * ring);
          row[3 * x + 1] = static_cast<JSAMPLE>(30 + 120.0 * y / h + 60 * ring);
          row[3 * x + 2] = static_cast<JSAMPLE>(200 - 120.0 * x / w);
        }
      },
      [](jpeg_compress_struct& c) { jpeg_set_quality(&c, 92, TRUE); });
  const std::string path = dir.file("photo.jpg");
  WriteBytes(path, jpeg);
  return path;
}

}  // namespace

TEST(SmoothFit, APhotoFittedSmoothIsFfmpegsLanczosFitAndSharpIsNot) {
  TempDir dir;
  const std::string photo = Photo(dir);
  TImageFile decoded(photo);
  ASSERT_EQ(decoded.Width(), 4000);
  SaveBmp24(decoded.Bitmap(), dir.file("decoded.bmp"));

  TImageFile smooth(photo, TFitSize{1920, 1080});
  smooth.Fit(1920, 1080, nullptr, TFitFilter::Smooth);
  SaveBmp24(smooth.Bitmap(), dir.file("smooth.bmp"));
  TImageFile sharp(photo, 1920, 1080);
  SaveBmp24(sharp.Bitmap(), dir.file("sharp.bmp"));

  // The same bars as the sharp fit: 1440 × 1080 at x = 240, black around.
  for (int y : {0, 539, 1079})
    for (int x : {0, 239, 1680, 1919}) EXPECT_EQ(smooth.Bitmap().Pixel(x, y) & 0xFFFFFF, 0u) << x << "," << y;
  EXPECT_NE(smooth.Bitmap().Pixel(240, 539) & 0xFFFFFF, 0u);
  EXPECT_NE(smooth.Bitmap().Pixel(1679, 539) & 0xFFFFFF, 0u);

  // Against ffmpeg fitting the very pixels we decoded, and fitting the JPEG
  // as it decodes it (its decoder rounds colours a little differently).
  const std::string same = FfmpegFit(dir.file("decoded.bmp"), dir.file("ref-same.png"));
  const std::string fromJpeg = FfmpegFit(photo, dir.file("ref-jpeg.png"));
  const double smoothSame = Psnr(dir.file("smooth.bmp"), same);
  EXPECT_GE(smoothSame, 45.0);
  EXPECT_GE(Psnr(dir.file("smooth.bmp"), fromJpeg), 38.0);
  // The nearest pixel is far from a filtered fit on fine detail.
  EXPECT_LT(Psnr(dir.file("sharp.bmp"), same), std::min(smoothSame, 60.0) - 10.0);
}

TEST(SmoothFit, EdgesOfTheFilterKeepSizesAndColours) {
  // A flat colour stays that colour (a filter that rings or shifts would not).
  TBitmap32 flat(640, 480);
  flat.FillRect(0, 0, 640, 480, Color32(200, 100, 50));
  TBitmap32 into(400, 300);
  DrawSmooth(flat, into, 40, 30, 320, 240);
  for (int y : {30, 150, 269})
    for (int x : {40, 200, 359}) {
      const TColor32 c = into.Pixel(x, y);
      EXPECT_NEAR(RedOf(c), 200, 1);
      EXPECT_NEAR(GreenOf(c), 100, 1);
      EXPECT_NEAR(BlueOf(c), 50, 1);
    }
  // Outside the rectangle nothing is touched.
  EXPECT_EQ(into.Pixel(39, 150), Color32(0, 0, 0));
  EXPECT_EQ(into.Pixel(360, 150), Color32(0, 0, 0));
  EXPECT_EQ(into.Pixel(200, 29), Color32(0, 0, 0));

  // Its own size is copied pixel for pixel.
  TBitmap32 pattern(7, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      pattern.SetPixel(x, y, Color32(static_cast<uint8_t>(x * 30), static_cast<uint8_t>(y * 50), 9));
  TBitmap32 copy(9, 7);
  DrawSmooth(pattern, copy, 1, 1, 7, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(copy.Pixel(x + 1, y + 1), pattern.Pixel(x, y));

  // Down to a single pixel and up from one, through the picture's Fit.
  TBitmap32 one(1, 1);
  DrawSmooth(pattern, one, 0, 0, 1, 1);
  DrawSmooth(TBitmap32(1, 1), copy, 0, 0, 9, 7);
  // A rectangle outside the frame is refused, not written past its end.
  EXPECT_THROW(DrawSmooth(pattern, copy, 5, 5, 7, 5), EError);
}
