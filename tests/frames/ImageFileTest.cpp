#include "frames/U_ImageFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "frames/PictureFiles.h"
#include "support/Errors.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

using test::BmpLayout;
using test::MakeBmp;

const TColor32 kBlack = Color32(0, 0, 0);
const TColor32 kWhite = Color32(255, 255, 255);

// An all-white picture of any size as a small 1-bit BMP.
std::string WhiteBmp(const test::TempDir& dir, int w, int h) {
  const size_t stride = (static_cast<size_t>(w) + 31) / 32 * 4;
  const std::string name = dir.file("white" + std::to_string(w) + "x" + std::to_string(h) + ".bmp");
  test::WriteBytes(name,
                   MakeBmp(w, h, {40, 1, 0, false, {0x000000, 0xFFFFFF}, {}}, std::vector<uint8_t>(stride * h, 0xFF)));
  return name;
}

// A 24-bit BMP from a bitmap (rows written bottom-up by hand).
std::string Bmp24(const test::TempDir& dir, const std::string& name, const TBitmap32& b) {
  const size_t stride = (static_cast<size_t>(b.Width()) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> px(stride * b.Height(), 0);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      uint8_t* p = px.data() + (b.Height() - 1 - y) * stride + 3 * x;
      const TColor32 c = b.Pixel(x, y);
      p[0] = BlueOf(c);
      p[1] = GreenOf(c);
      p[2] = RedOf(c);
    }
  test::WriteBytes(dir.file(name), MakeBmp(b.Width(), b.Height(), {}, px));
  return dir.file(name);
}

// Which rows (or columns) of the fitted picture are black bars.
void ExpectBars(const TImageFile& f, int x, int y) {
  const TBitmap32& b = f.Bitmap();
  const int W = b.Width(), H = b.Height();
  for (int row : {0, y - 1, y, H / 2, H - y - 1, H - y, H - 1}) {
    if (row < 0 || row >= H) continue;
    for (int col : {0, x - 1, x, W / 2, W - x - 1, W - x, W - 1}) {
      if (col < 0 || col >= W) continue;
      const bool bar = row < y || row >= H - y || col < x || col >= W - x;
      EXPECT_EQ(b.Pixel(col, row), bar ? kBlack : kWhite) << "at " << col << "," << row;
    }
  }
}

// The worked examples for a 720 × 576 frame.
TEST(ImageFileTest, FitIntoPalFramePutsTheBarsWhereTheTableSays) {
  test::TempDir dir;
  struct Case {
    int w, h, barX, barY;
  } cases[] = {{4000, 3000, 0, 18}, {3000, 4000, 144, 0}, {1000, 800, 0, 0}, {1920, 1080, 0, 86}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    TImageFile f(WhiteBmp(dir, c.w, c.h), 720, 576);
    ASSERT_EQ(f.Width(), 720);
    ASSERT_EQ(f.Height(), 576);
    ExpectBars(f, c.barX, c.barY);
  }
}

// 4 × 2 into 6 × 6: y = nearest(6/4 × (4 - 2) / 2) = nearest(1.5) = 2, so the
// picture takes rows 2 and 3; sx = 4/6 in single precision, giving source
// columns floor(i × 0.6666667) = 0 0 1 2 2 3.
TEST(ImageFileTest, FitSamplesTheNearestSourcePixel) {
  test::TempDir dir;
  TBitmap32 src(4, 2);
  for (int x = 0; x < 4; ++x) {
    src.SetPixel(x, 0, Color32(static_cast<uint8_t>(10 + x), 0, 0));
    src.SetPixel(x, 1, Color32(0, static_cast<uint8_t>(20 + x), 0));
  }
  TImageFile f(Bmp24(dir, "small.bmp", src), 6, 6);
  const int columns[6] = {0, 0, 1, 2, 2, 3};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(f.Bitmap().Pixel(i, 1), kBlack);
    EXPECT_EQ(f.Bitmap().Pixel(i, 2), src.Pixel(columns[i], 0)) << i;
    EXPECT_EQ(f.Bitmap().Pixel(i, 3), src.Pixel(columns[i], 1)) << i;
    EXPECT_EQ(f.Bitmap().Pixel(i, 4), kBlack);
  }

  // 5 × 5 into 3 × 1: x = nearest(1/5 × (5 × 3 - 5) / 2) = 1, leaving a single
  // pixel, which takes the middle of the picture, (2, 2).
  TBitmap32 five(5, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x)
      five.SetPixel(x, y, Color32(static_cast<uint8_t>(x * 40), static_cast<uint8_t>(y * 40), 7));
  TImageFile g(Bmp24(dir, "five.bmp", five), 3, 1);
  EXPECT_EQ(g.Bitmap().Pixel(0, 0), kBlack);
  EXPECT_EQ(g.Bitmap().Pixel(1, 0), five.Pixel(2, 2));
  EXPECT_EQ(g.Bitmap().Pixel(2, 0), kBlack);

  // The frame's own size copies pixel for pixel; a zero size leaves it alone.
  TImageFile same(Bmp24(dir, "five.bmp", five), 5, 5);
  EXPECT_EQ(same.Bitmap(), five);
  same.Fit(0, 100);
  EXPECT_EQ(same.Bitmap(), five);

  // The enlargement for dynamic pictures is a plain fit to 4/3 of the frame.
  TImageFile big(WhiteBmp(dir, 4000, 3000), 720 * 4 / 3, 576 * 4 / 3);
  EXPECT_EQ(big.Width(), 960);
  EXPECT_EQ(big.Height(), 768);
  ExpectBars(big, 0, 24);  // nearest(960/4000 × (4000/1.25 − 3000) / 2) = 24
}

TEST(ImageFileTest, CopyWindowTakesTheRectangleAtTopLeft) {
  test::TempDir dir;
  TBitmap32 src(4, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) src.SetPixel(x, y, Color32(static_cast<uint8_t>(x), static_cast<uint8_t>(y), 9));
  TImageFile f(Bmp24(dir, "w.bmp", src));
  TBitmap32 window(9, 9);
  f.CopyWindow(1, 2, 2, 2, window);  // top 1, left 2, height 2, width 2
  ASSERT_EQ(window.Width(), 2);
  ASSERT_EQ(window.Height(), 2);
  EXPECT_EQ(window.Pixel(0, 0), src.Pixel(2, 1));
  EXPECT_EQ(window.Pixel(1, 1), src.Pixel(3, 2));
  // A window reaching past the picture is black where nothing was copied,
  // whatever the bitmap held before.
  window.SetSize(3, 3);
  window.FillRect(0, 0, 3, 3, Color32(200, 200, 200));
  f.CopyWindow(2, 3, 3, 3, window);
  EXPECT_EQ(window.Pixel(0, 0), src.Pixel(3, 2));
  EXPECT_EQ(window.Pixel(1, 0), Color32(0, 0, 0));
  EXPECT_EQ(window.Pixel(0, 1), Color32(0, 0, 0));
  EXPECT_EQ(window.Pixel(2, 2), Color32(0, 0, 0));
}

// Pictures decoded one after another into the storage the one before was
// decoded into come out as they do alone.
TEST(ImageFileTest, StorageHandedOnFromPictureToPictureGivesTheSamePictures) {
  test::TempDir dir;
  TBitmap32 big(40, 30), small(8, 12);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      big.SetPixel(x, y, Color32(static_cast<uint8_t>(x * 6), static_cast<uint8_t>(y * 8), 50));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 8; ++x)
      small.SetPixel(x, y, Color32(static_cast<uint8_t>(x * 30), 7, static_cast<uint8_t>(y * 20)));
  const std::string bigFile = Bmp24(dir, "big.bmp", big), smallFile = Bmp24(dir, "small.bmp", small);
  // JPEGs are decoded straight into the storage, upright and turned.
  const std::vector<uint8_t> jpeg =
      test::MakeJpeg(48, 32, 3, JCS_RGB, test::BlockRgb(48, 32, {0x204060, 0xC08020, 0x10F010}));
  const std::string upright = dir.file("upright.jpg"), turned = dir.file("turned.jpg");
  test::WriteBytes(upright, jpeg);
  test::WriteBytes(turned, test::WithApp1(jpeg, test::ExifWithOrientation(6)));
  TBitmap32 storage;
  for (const std::string& file : {bigFile, upright, smallFile, turned, bigFile, upright, smallFile}) {
    TImageFile alone(file, TFitSize{20, 16});
    alone.Fit(20, 16);
    TImageFile reused(file, TFitSize{20, 16}, std::move(storage));
    reused.Fit(20, 16, &storage);
    EXPECT_EQ(reused.Bitmap(), alone.Bitmap()) << file;
    EXPECT_FALSE(storage.Empty());
  }
}

TEST(ImageFileTest, GreyscaleAndSepiaValues) {
  test::TempDir dir;
  TBitmap32 src(6, 1);
  src.SetPixel(0, 0, Color32(255, 0, 0));
  src.SetPixel(1, 0, Color32(0, 255, 0));
  src.SetPixel(2, 0, Color32(0, 0, 255));
  src.SetPixel(3, 0, Color32(255, 255, 255));
  src.SetPixel(4, 0, Color32(0, 0, 0));
  src.SetPixel(5, 0, Color32(100, 100, 100));
  const std::string name = Bmp24(dir, "c.bmp", src);

  TImageFile grey(name);
  grey.Greyscale();
  const uint8_t greys[6] = {60, 173, 20, 255, 0, 100};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(grey.Bitmap().Pixel(x, 0), Color32(greys[x], greys[x], greys[x])) << x;

  TImageFile sepia(name);
  sepia.Sepia();
  EXPECT_EQ(sepia.Bitmap().Pixel(3, 0), Color32(255, 255, 239));  // white: 344, 306.8, 238.9
  EXPECT_EQ(sepia.Bitmap().Pixel(4, 0), Color32(0, 0, 0));
  EXPECT_EQ(sepia.Bitmap().Pixel(0, 0), Color32(100, 89, 69));   // red: 100.2, 89.0, 69.4
  EXPECT_EQ(sepia.Bitmap().Pixel(5, 0), Color32(135, 120, 94));  // grey 100: 135.1, 120.3, 93.7

  // Grey first, then sepia, as a frame with both effects gets them; the bars
  // stay black throughout.
  TImageFile both(WhiteBmp(dir, 40, 20), 40, 40);
  both.Greyscale();
  both.Sepia();
  EXPECT_EQ(both.Bitmap().Pixel(20, 20), Color32(255, 255, 239));
  EXPECT_EQ(both.Bitmap().Pixel(20, 0), kBlack);
  EXPECT_EQ(both.Bitmap().Pixel(20, 39), kBlack);
}

std::string LoadError(const std::string& name) {
  try {
    TImageFile f(name);
  } catch (const EError& e) {
    return e.what();
  }
  return "no error";
}

TEST(ImageFileTest, SignatureFirstThenTheExtensionChoosesTheDecoder) {
  test::TempDir dir;
  const std::vector<uint8_t> bmp = test::ReadBytes(WhiteBmp(dir, 8, 4));
  const std::vector<uint8_t> jpeg = test::MakeJpeg(8, 8, 3, JCS_RGB, test::BlockRgb(8, 8, {0xFF0000}));
  for (const char* name : {"a.jpg", "a.gif", "noext"}) {  // "BM" wins over any name
    test::WriteBytes(dir.file(name), bmp);
    EXPECT_EQ(TImageFile(dir.file(name)).Width(), 8) << name;
  }
  // So does a JPEG's signature, since pictures are told by their content.
  for (const char* name : {"b.JPG", "b.Jpeg", "jpeg.bmp", "c.png"}) {
    test::WriteBytes(dir.file(name), jpeg);
    EXPECT_EQ(TImageFile(dir.file(name)).Height(), 8) << name;
  }
  // Content of no kind: the name's kind reads it and says what is wrong.
  test::WriteText(dir.file("text.bmp"), "BxNOT A BITMAP");
  EXPECT_NE(LoadError(dir.file("text.bmp")).find("text.bmp"), std::string::npos);
  test::WriteText(dir.file("d.xyz"), "no picture");
  EXPECT_NE(LoadError(dir.file("d.xyz")).find("not a picture of a kind we read"), std::string::npos)
      << LoadError(dir.file("d.xyz"));
  const std::string missing = LoadError(dir.file("missing.jpg"));
  EXPECT_NE(missing.find(dir.file("missing.jpg")), std::string::npos) << missing;
  test::WriteBytes(dir.file("empty.jpg"), {});
  EXPECT_NE(LoadError(dir.file("empty.jpg")).find("empty.jpg"), std::string::npos);
  EXPECT_NE(LoadError(dir.path().string()).find("Cannot load picture"), std::string::npos);  // a folder
}

// A folder, a named pipe or a device given as a picture is refused with what
// it is, at once: opening a pipe for reading used to wait for a writer for ever.
TEST(ImageFileTest, OnlyRegularFilesAreReadAndTheErrorSaysWhatTheNameIs) {
  test::TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("folder.jpg").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir.file("pipe.jpg").c_str(), 0600), 0);
  const struct {
    std::string name, reason;
  } cases[] = {{dir.file("folder.jpg"), "is a folder"},
               {dir.file("pipe.jpg"), "is a named pipe"},
               {"/dev/zero", "is a device"},
               {dir.file("missing.jpg"), "No such file or directory"}};
  for (const auto& c : cases) {
    const std::string e = LoadError(c.name);
    EXPECT_EQ(e, "Cannot load picture \"" + c.name + "\": " + c.reason);
  }
}

// A frame of 65535 × 65535 would be a 16 GiB bitmap: refused with the size
// asked for, before the picture is read or anything allocated.
TEST(ImageFileTest, FrameSizesBeyondTheBoundAreRefusedBeforeAllocating) {
  test::TempDir dir;
  const std::string name = WhiteBmp(dir, 8, 4);
  auto fitError = [&](auto&& f) -> std::string {
    try {
      f();
    } catch (const EError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(fitError([&] { TImageFile(name, 65535, 65535); }),
            "Cannot fit a picture into 65535 x 65535 pixels: the frame is too large (65535 x 65535 pixels, "
            "16384 MiB as a 32-bit bitmap; at most 1024 MiB)");
  EXPECT_NE(fitError([&] { TImageFile(dir.file("missing.jpg"), 20000, 20000); }).find("Cannot fit"),
            std::string::npos);  // refused before the file is looked at
  TImageFile f(name);
  EXPECT_NE(fitError([&] { f.Fit(16385, 16384); }).find("16385 x 16384"), std::string::npos);
  EXPECT_NE(fitError([&] { f.Fit(-3, 5); }).find("negative"), std::string::npos);
  EXPECT_EQ(f.Width(), 8);  // the refused fits left the picture alone
  EXPECT_EQ(f.Height(), 4);
}

// The bundled example through our decoder and through ffmpeg's.
TEST(ImageFileTest, ExampleJpegMatchesFfmpeg) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  test::TempDir dir;
  const std::string src = test::SourcePath("examples/landscape.jpg");
  auto r = test::RunCommand(
      {"ffmpeg", "-v", "error", "-y", "-i", src, "-f", "rawvideo", "-pix_fmt", "rgb24", dir.file("l.rgb")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> ref = test::ReadBytes(dir.file("l.rgb"));
  TImageFile f(src);
  ASSERT_EQ(ref.size(), static_cast<size_t>(f.Width()) * f.Height() * 3);
  double total = 0;
  for (int y = 0; y < f.Height(); ++y)
    for (int x = 0; x < f.Width(); ++x) {
      const uint8_t* p = ref.data() + (static_cast<size_t>(y) * f.Width() + x) * 3;
      const TColor32 c = f.Bitmap().Pixel(x, y);
      total += std::abs(RedOf(c) - p[0]) + std::abs(GreenOf(c) - p[1]) + std::abs(BlueOf(c) - p[2]);
    }
  // The two decoders upsample colour differently; on average they agree closely.
  EXPECT_LT(total / (3.0 * f.Width() * f.Height()), 2.0);
}

}  // namespace
}  // namespace sdm
