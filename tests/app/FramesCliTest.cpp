// The frames command end to end: counts, and single frames read back by
// ffmpeg's BMP decoder.
#include <gtest/gtest.h>

#include "frames/U_BmpWriter.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

std::string PlainPicture(const test::TempDir& dir, const std::string& name, int w, int h, TColor32 c) {
  TBitmap32 b(w, h);
  b.FillRect(0, 0, w, h, c);
  const std::string path = dir.file(name);
  SaveBmp24(b, path);
  return path;
}

std::vector<uint8_t> FfmpegRgb(const test::TempDir& dir, const std::string& file) {
  auto r = test::RunCommand(
      {"ffmpeg", "-v", "error", "-y", "-i", file, "-f", "rawvideo", "-pix_fmt", "rgb24", dir.file("decoded.rgb")});
  EXPECT_EQ(r.status, 0) << r.err;
  return test::ReadBytes(dir.file("decoded.rgb"));
}

TEST(FramesCliTest, CountsFramesOfTheTimeline) {
  const std::string pic = test::SourcePath("examples/landscape.jpg");
  std::vector<std::string> args = {"frames", "--fpp", "75", "--xfade", "--count"};
  for (int i = 0; i < 10; ++i) args.push_back(pic);
  auto r = test::RunCli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "912\n");
  EXPECT_EQ(test::RunCli({"frames", "--count", pic, pic, pic}).out, "3\n");
  EXPECT_EQ(test::RunCli({"frames", "--fpp", "19", "--xfade", "--count", pic, pic}).out, "38\n");
}

TEST(FramesCliTest, WritesAFadeFrame) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  test::TempDir dir;
  const std::string a = PlainPicture(dir, "a.bmp", 32, 24, Color32(100, 100, 100));
  const std::string b = PlainPicture(dir, "b.bmp", 32, 24, Color32(136, 64, 100));
  const std::string out = dir.file("f80.bmp");
  // Frame 80 is fade frame 5 of 18: a difference of 36 moves by 10.
  auto r = test::RunCli({"frames", "--size", "32x24", "--fpp", "75", "--xfade", "--index", "80", "--out", out, a, b});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> rgb = FfmpegRgb(dir, out);
  ASSERT_EQ(rgb.size(), 32u * 24u * 3u);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    ASSERT_EQ(rgb[i], 110) << i / 3;
    ASSERT_EQ(rgb[i + 1], 90) << i / 3;
    ASSERT_EQ(rgb[i + 2], 100) << i / 3;
  }
}

TEST(FramesCliTest, CaptionAfterATabDefaultsToTheFileName) {
  test::TempDir dir;
  const std::string pic = PlainPicture(dir, "holiday.bmp", 320, 240, Color32(90, 120, 150));
  auto frame = [&](const std::string& picture, const std::string& name) {
    const std::string out = dir.file(name);
    auto r = test::RunCli({"frames", "--size", "320x240", "--osd", "--index", "0", "--out", out, picture});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadBytes(out);
  };
  const auto plain = frame(pic, "plain.bmp");
  EXPECT_EQ(frame(pic + "\tholiday.bmp", "named.bmp"), plain);
  const auto captioned = frame(pic + "\tAt the lake \xC3\xA9t\xC3\xA9", "captioned.bmp");
  EXPECT_EQ(captioned.size(), plain.size());
  EXPECT_NE(captioned, plain);
}

TEST(FramesCliTest, ErrorsLeaveEarlierOutputAlone) {
  test::TempDir dir;
  const std::string out = dir.file("keep.bmp");
  test::WriteText(out, "earlier file");
  const std::string good = PlainPicture(dir, "good.bmp", 16, 12, Color32(1, 2, 3));
  auto missing = test::RunCli({"frames", "--index", "1", "--out", out, good, dir.file("missing.jpg")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("missing.jpg"), std::string::npos) << missing.err;
  auto range = test::RunCli({"frames", "--index", "2", "--out", out, good, good});
  EXPECT_EQ(range.status, 1);
  EXPECT_NE(range.err.find("out of range"), std::string::npos) << range.err;
  auto huge = test::RunCli({"frames", "--size", "60000x60000", "--index", "0", "--out", out, good});
  EXPECT_EQ(huge.status, 1);
  EXPECT_NE(huge.err.find("Frame size too large (60000 x 60000)"), std::string::npos) << huge.err;
  EXPECT_EQ(test::ReadText(out), "earlier file");

  for (const std::vector<std::string>& bad : {std::vector<std::string>{"frames", good},
                                              {"frames", "--count", "--index", "0", "--out", out, good},
                                              {"frames", "--index", "0", good},
                                              {"frames", "--fpp", "0", "--count", good},
                                              {"frames", "--count"},
                                              {"frames", "--count", "--wobble", good},
                                              {"frames", "--count", "--size", "12", good},
                                              {"frames", "--index", "-3", "--out", out, good},
                                              {"frames", "--count", "--fpp"}}) {
    auto r = test::RunCli(bad);
    EXPECT_EQ(r.status, 2) << bad.size() << " " << r.err;
  }
}

}  // namespace
}  // namespace sdm
