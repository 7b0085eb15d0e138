// Thumbnails decoded small: a JPEG by libjpeg's DCT scaling to the smallest
// eighth that still covers the frame, or from the camera's EXIF preview when
// that has the picture's shape and covers it; a WebP scaled by libwebp; a
// HEIF from its own thumbnail. A video's frames never take these roads.
#include <gtest/gtest.h>

#include "frames/PictureFiles.h"
#include "frames/PictureTestFiles.h"
#include "frames/U_FrameServer.h"
#include "frames/U_ImageFile.h"

namespace sdm {
namespace {

using test::Bytes;

constexpr TFitSize kThumb{100, 75, true};

// A w × h JPEG of one colour, with an EXIF block when one is given.
Bytes SolidJpeg(int w, int h, uint32_t rgb, const Bytes* exif = nullptr) {
  const Bytes jpeg = test::MakeJpeg(w, h, 3, JCS_RGB, test::BlockRgb(w, h, {rgb}));
  return exif ? test::WithApp1(jpeg, *exif) : jpeg;
}

// An EXIF block with an orientation in the first directory and a JPEG
// preview in the second, as cameras write it.
Bytes ExifWithPreview(int orientation, const Bytes& preview) {
  std::vector<test::ExifIfd> ifds = {{{{0x0112, 3, 1, static_cast<uint32_t>(orientation)}}},
                                     {{{0x0201, 4, 1, 0}, {0x0202, 4, 1, static_cast<uint32_t>(preview.size())}}}};
  const std::vector<uint32_t> at = test::ExifIfdOffsets(ifds);
  ifds[0].next = at[1];
  ifds[1].entries[0].value = at[1] + 2 + 2 * 12 + 4;  // right after the second directory
  Bytes exif = test::ExifPayload(ifds);
  exif.insert(exif.end(), preview.begin(), preview.end());
  return exif;
}

TEST(ThumbnailDecodeTest, JpegsAreDecodedAtTheSmallestEighthThatCoversTheThumbnail) {
  test::TempDir dir;
  const struct {
    int w, h, orientation;
    int thumbW, thumbH;  // as loaded for a 100 × 75 thumbnail
  } cases[] = {
      {800, 600, 1, 100, 75},                              // an eighth covers it exactly
      {640, 480, 1, 160, 120},                             // an eighth (80 × 60) would not: a quarter
      {1600, 1200, 1, 200, 150}, {800, 600, 6, 150, 200},  // stands 600 × 800: an eighth is 75 wide, too narrow
      {90, 60, 1, 90, 60},                                 // smaller than the thumbnail: as it is
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " orientation " + std::to_string(c.orientation));
    const Bytes exif = test::ExifWithOrientation(c.orientation);
    test::WriteBytes(dir.file("p.jpg"), SolidJpeg(c.w, c.h, 0x3080C0, c.orientation != 1 ? &exif : nullptr));
    const TImageFile thumb(dir.file("p.jpg"), kThumb);
    EXPECT_EQ(thumb.Width(), c.thumbW);
    EXPECT_EQ(thumb.Height(), c.thumbH);
    // A frame of a video is always the whole picture.
    const TImageFile frame(dir.file("p.jpg"), TFitSize{100, 75});
    EXPECT_EQ(frame.Width(), c.orientation >= 5 ? c.h : c.w);
  }
}

TEST(ThumbnailDecodeTest, TheCamerasPreviewIsUsedWhenItHasTheShapeAndCoversTheThumbnail) {
  test::TempDir dir;
  const uint32_t red = 0xFF0000, blue = 0x0000FF;
  auto thumbnailOf = [&](int orientation, const Bytes& preview) {
    const Bytes exif = ExifWithPreview(orientation, preview);
    test::WriteBytes(dir.file("camera.jpg"), SolidJpeg(800, 600, red, &exif));
    return TImageFile(dir.file("camera.jpg"), kThumb).Bitmap();
  };
  auto isBlue = [](const TBitmap32& b) { return BlueOf(b.Pixel(b.Width() / 2, b.Height() / 2)) > 200; };
  // The usual 160 × 120 preview (blue here, to tell it from the red picture).
  const TBitmap32 preview = thumbnailOf(1, SolidJpeg(160, 120, blue));
  EXPECT_TRUE(isBlue(preview));
  EXPECT_EQ(preview.Width(), 160);
  EXPECT_EQ(preview.Height(), 120);
  // Turned with the picture.
  const TBitmap32 turned = thumbnailOf(8, SolidJpeg(160, 120, blue));
  EXPECT_TRUE(isBlue(turned));
  EXPECT_EQ(turned.Width(), 120);
  EXPECT_EQ(turned.Height(), 160);
  // Letterboxed previews of another shape, previews too small to cover the
  // thumbnail, and broken ones are passed over for the picture itself.
  for (const Bytes& p : {SolidJpeg(160, 90, blue), SolidJpeg(80, 60, blue), Bytes{0xFF, 0xD8, 0xFF, 0xDB, 1, 2}}) {
    const TBitmap32 b = thumbnailOf(1, p);
    EXPECT_FALSE(isBlue(b));
    EXPECT_EQ(b.Width(), 100);
  }
  // A video's frame never looks at the preview.
  const Bytes exif = ExifWithPreview(1, SolidJpeg(160, 120, blue));
  test::WriteBytes(dir.file("camera.jpg"), SolidJpeg(800, 600, red, &exif));
  EXPECT_FALSE(isBlue(TImageFile(dir.file("camera.jpg"), TFitSize{100, 75}).Bitmap()));
}

TEST(ThumbnailDecodeTest, TheThumbnailServerShowsThePictureAsAFullDecodeWould) {
  test::TempDir dir;
  // A photo-like picture of smooth gradients: the reduced decode and the
  // full one, both fitted into 100 × 75, differ only by the sampling.
  const int w = 1600, h = 1200;
  Bytes rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c : {x * 255 / w, y * 255 / h, 128}) rgb.push_back(static_cast<uint8_t>(c));
  test::WriteBytes(dir.file("photo.jpg"), test::MakeJpeg(w, h, 3, JCS_RGB, rgb));
  TStringList pictures({dir.file("photo.jpg")});
  auto thumbs = TFrameServer::CreateThumbnailServer(pictures, nullptr);
  TBitmap32 thumb, full;
  thumbs->GetFrame(thumb, 0);
  TFrameServer(pictures, nullptr, 1, 75, 100, {}).GetFrame(full, 0);
  ASSERT_EQ(thumb.Width(), 100);
  ASSERT_EQ(thumb.Height(), 75);
  double total = 0;
  for (int y = 0; y < 75; ++y)
    for (int x = 0; x < 100; ++x) {
      const TColor32 a = thumb.Pixel(x, y), b = full.Pixel(x, y);
      total += std::abs(RedOf(a) - RedOf(b)) + std::abs(GreenOf(a) - GreenOf(b)) + std::abs(BlueOf(a) - BlueOf(b));
    }
  EXPECT_LT(total / (3 * 100 * 75), 3.0);
}

TEST(ThumbnailDecodeTest, WebpScaledAndHeifFromItsOwnThumbnail) {
  test::TempDir dir;
  test::WriteBytes(dir.file("big.webp"), test::EncodeWebp(800, 600, test::PatternRgba(800, 600), true));
  const TImageFile webp(dir.file("big.webp"), kThumb);
  EXPECT_EQ(webp.Width(), 100);
  EXPECT_EQ(webp.Height(), 75);
  EXPECT_EQ(TImageFile(dir.file("big.webp"), TFitSize{100, 75}).Width(), 800);
  if (!test::CanEncodeHeic()) GTEST_SKIP() << "no HEVC encoder";
  test::HeicOptions s;
  s.lossless = false;
  s.thumbnail = 128;
  test::WriteBytes(dir.file("phone.heic"), test::EncodeHeic(384, 288, test::PatternRgba(384, 288), s));
  const TImageFile heif(dir.file("phone.heic"), kThumb);
  EXPECT_EQ(heif.Width(), 128);
  EXPECT_EQ(heif.Height(), 96);
  EXPECT_EQ(TImageFile(dir.file("phone.heic"), TFitSize{100, 75}).Width(), 384);
  // A thumbnail smaller than the frame will not do: the picture itself.
  s.thumbnail = 64;
  test::WriteBytes(dir.file("small.heic"), test::EncodeHeic(384, 288, test::PatternRgba(384, 288), s));
  EXPECT_EQ(TImageFile(dir.file("small.heic"), kThumb).Width(), 384);
}

}  // namespace
}  // namespace sdm
