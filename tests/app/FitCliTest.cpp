// The fit command end to end: its BMP is read back by ffmpeg's decoder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

// The pixels of a picture file as ffmpeg decodes them, RGB from the top.
std::vector<uint8_t> FfmpegRgb(const test::TempDir& dir, const std::string& file) {
  auto r = test::RunCommand(
      {"ffmpeg", "-v", "error", "-y", "-i", file, "-f", "rawvideo", "-pix_fmt", "rgb24", dir.file("decoded.rgb")});
  EXPECT_EQ(r.status, 0) << r.err;
  return test::ReadBytes(dir.file("decoded.rgb"));
}

TEST(FitCliTest, FitsTheExampleWithBarsAndEffects) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  test::TempDir dir;
  const std::string out = dir.file("fitted.bmp");
  // 640 × 480 into 720 × 576: y = nearest(720/640 × (640/1.25 − 480) / 2) = 18.
  auto r = test::RunCli({"fit", test::SourcePath("examples/landscape.jpg"), "720x576", out});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> rgb = FfmpegRgb(dir, out);
  ASSERT_EQ(rgb.size(), 720u * 576u * 3u);
  auto pixelSum = [&](int x, int y) {
    const uint8_t* p = rgb.data() + (static_cast<size_t>(y) * 720 + x) * 3;
    return p[0] + p[1] + p[2];
  };
  for (int x : {0, 359, 719}) {
    EXPECT_EQ(pixelSum(x, 0), 0);
    EXPECT_EQ(pixelSum(x, 17), 0);
    EXPECT_EQ(pixelSum(x, 558), 0);
    EXPECT_EQ(pixelSum(x, 575), 0);
  }
  int lit = 0;
  for (int x = 0; x < 720; ++x) lit += pixelSum(x, 18) > 0 || pixelSum(x, 557) > 0;
  EXPECT_GT(lit, 100);  // the picture reaches its first and last rows

  // Greyscale then sepia: every pixel is a sepia tone of a grey level, so
  // red ≥ green ≥ blue throughout.
  ASSERT_EQ(
      test::RunCli({"fit", test::SourcePath("examples/bars.bmp"), "320x240", out, "--greyscale", "--sepia"}).status, 0);
  const std::vector<uint8_t> sepia = FfmpegRgb(dir, out);
  ASSERT_EQ(sepia.size(), 320u * 240u * 3u);
  for (size_t i = 0; i < sepia.size(); i += 3) {
    ASSERT_GE(sepia[i], sepia[i + 1]) << i / 3;
    ASSERT_GE(sepia[i + 1], sepia[i + 2]) << i / 3;
  }
}

TEST(FitCliTest, ErrorsNameTheProblemAndLeaveNoOutput) {
  test::TempDir dir;
  const std::string out = dir.file("never.bmp");
  auto missing = test::RunCli({"fit", dir.file("missing.jpg"), "720x576", out});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(dir.file("missing.jpg")), std::string::npos) << missing.err;

  test::WriteText(dir.file("broken.jpg"), "\xFF\xD8 not really a picture");
  auto broken = test::RunCli({"fit", dir.file("broken.jpg"), "720x576", out});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("broken.jpg"), std::string::npos) << broken.err;

  auto badSize = test::RunCli({"fit", test::SourcePath("examples/wide.jpg"), "720by576", out});
  EXPECT_EQ(badSize.status, 2);
  auto badOption = test::RunCli({"fit", test::SourcePath("examples/wide.jpg"), "720x576", out, "--sharpen"});
  EXPECT_EQ(badOption.status, 2);
  auto tooFew = test::RunCli({"fit", test::SourcePath("examples/wide.jpg")});
  EXPECT_EQ(tooFew.status, 2);
  EXPECT_FALSE(std::filesystem::exists(out));

  auto help = test::RunCli({"--help"});
  EXPECT_NE(help.out.find("fit INPUT WIDTHxHEIGHT OUTPUT.bmp"), std::string::npos);
}

// Sizes and files that used to end in "std::bad_alloc" or hang: a clear error
// naming what was asked, status 1, and no output.
TEST(FitCliTest, HugeFramesAndNonFilesAreRefusedClearly) {
  test::TempDir dir;
  const std::string out = dir.file("never.bmp");
  auto huge = test::RunCli({"fit", test::SourcePath("examples/wide.jpg"), "65535x65535", out});
  EXPECT_EQ(huge.status, 1);
  EXPECT_NE(huge.err.find("Cannot fit a picture into 65535 x 65535 pixels"), std::string::npos) << huge.err;
  ASSERT_EQ(::mkfifo(dir.file("pipe.jpg").c_str(), 0600), 0);
  auto pipe = test::RunCli({"fit", dir.file("pipe.jpg"), "720x576", out});
  EXPECT_EQ(pipe.status, 1);
  EXPECT_NE(pipe.err.find("is a named pipe"), std::string::npos) << pipe.err;
  std::filesystem::create_directory(dir.file("folder.jpg"));
  auto folder = test::RunCli({"fit", dir.file("folder.jpg"), "720x576", out});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("folder.jpg\": is a folder"), std::string::npos) << folder.err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace sdm
