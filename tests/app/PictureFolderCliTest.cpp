// render with the pictures people have: a folder of mixed kinds in name
// order, a project whose pictures moved with it, and damaged files of each
// kind, which end the job the way a damaged JPEG always has.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "frames/PictureTestFiles.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

Bytes Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  Bytes rgba;
  for (int i = 0; i < w * h; ++i) rgba.insert(rgba.end(), {r, g, b, 255});
  return rgba;
}

// The colour in the middle of each frame of a video, as ffmpeg decodes it.
std::vector<std::array<int, 3>> MiddleColours(const std::string& video, int w, int h) {
  test::CommandResult r = test::RunCommand(
      {"ffmpeg", "-v", "error", "-i", video, "-f", "rawvideo", "-pix_fmt", "rgb24", "-fps_mode", "passthrough", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::array<int, 3>> colours;
  const size_t frame = static_cast<size_t>(w) * h * 3;
  for (size_t at = 0; at + frame <= r.out.size(); at += frame) {
    const auto* p = reinterpret_cast<const uint8_t*>(r.out.data() + at + (static_cast<size_t>(h / 2) * w + w / 2) * 3);
    colours.push_back({p[0], p[1], p[2]});
  }
  return colours;
}

int Strongest(const std::array<int, 3>& c) {
  return static_cast<int>(std::max_element(c.begin(), c.end()) - c.begin());
}

class PictureFolderCli : public test::PrivateRegistryTest {};

TEST_F(PictureFolderCli, AFolderRendersItsPicturesInNameOrder) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  fs::create_directories(dir.file("phone"));
  test::WriteBytes(dir.file("phone/IMG_0002.png"),
                   test::EncodePng8(64, 48, PNG_COLOR_TYPE_RGBA, Solid(64, 48, 0, 255, 0)));
  test::WriteBytes(dir.file("phone/IMG_0001.webp"), test::EncodeWebp(64, 48, Solid(64, 48, 255, 0, 0), true));
  test::WriteBytes(dir.file("phone/IMG_0003.gif"),
                   test::EncodeGif(64, 48, {0, 0x0000FF}, {{0, 0, 64, 48, Bytes(64 * 48, 1), -1, false}}));
  test::WriteText(dir.file("phone/notes.txt"), "not a picture");
  const std::string out = dir.file("phone.avi");
  test::CommandResult r = test::RunCli(
      {"render", "--codec", "DIB", "--resolution", "320x240", "--single-frame", "-o", out, dir.file("phone")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("File not supported : " + dir.file("phone/notes.txt")), std::string::npos) << r.err;
  const auto colours = MiddleColours(out, 320, 240);
  ASSERT_EQ(colours.size(), 3u);
  EXPECT_EQ(Strongest(colours[0]), 0);  // IMG_0001: red
  EXPECT_EQ(Strongest(colours[1]), 1);  // IMG_0002: green
  EXPECT_EQ(Strongest(colours[2]), 2);  // IMG_0003: blue
}

TEST_F(PictureFolderCli, AProjectWhosePicturesMovedWithItRenders) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  // Saved on another machine: the paths lead nowhere here, the pictures lie
  // beside the project file and in a folder below it.
  fs::create_directories(dir.file("copied/day2"));
  test::WriteBytes(dir.file("copied/a.png"), test::EncodePng8(32, 24, PNG_COLOR_TYPE_RGBA, Solid(32, 24, 255, 0, 0)));
  test::WriteBytes(dir.file("copied/day2/b.tif"),
                   test::EncodeTiff(32, 24, test::Channels(Solid(32, 24, 0, 0, 255), 3), {}));
  test::WriteText(dir.file("copied/show.sdm"),
                  ";Sound=\r\n;Output=\r\n/home/someone/show/a.png\tArrival\r\n/home/someone/show/day2/b.tif\r\n"
                  "/home/someone/show/lost.jpg\r\n");
  const std::string out = dir.file("moved.avi");
  test::CommandResult r = test::RunCli({"render", "--codec", "DIB", "--resolution", "320x240", "--single-frame", "-o",
                                        out, dir.file("copied/show.sdm")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Picture relinked : /home/someone/show/a.png -> " + dir.file("copied/a.png")), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("File not found : /home/someone/show/lost.jpg"), std::string::npos) << r.err;
  const auto colours = MiddleColours(out, 320, 240);
  ASSERT_EQ(colours.size(), 2u);
  EXPECT_EQ(Strongest(colours[0]), 0);
  EXPECT_EQ(Strongest(colours[1]), 2);
}

TEST_F(PictureFolderCli, ADamagedPictureOfAnyKindEndsTheJobLikeADamagedJpeg) {
  const Bytes rgba = Solid(64, 48, 10, 20, 30);
  std::vector<std::pair<std::string, Bytes>> files = {
      {"cut.png", test::EncodePng8(64, 48, PNG_COLOR_TYPE_RGBA, rgba)},
      {"cut.webp", test::EncodeWebp(64, 48, rgba, false)},
      {"cut.tif", test::EncodeTiff(64, 48, test::Channels(rgba, 3), {})},
      {"cut.gif", test::EncodeGif(64, 48, {0, 0xFFFFFF}, {{0, 0, 64, 48, Bytes(64 * 48, 1), -1, false}})},
  };
  if (test::CanEncodeHeic()) files.push_back({"cut.heic", test::EncodeHeic(64, 48, rgba)});
  for (auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    bytes.resize(bytes.size() / 2);
    test::WriteBytes(dir.file(name), bytes);
    test::CommandResult r = test::RunCli({"render", "--codec", "DIB", "--resolution", "320x240", "--single-frame", "-o",
                                          dir.file(name + ".avi"), dir.file(name)});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("An error has occured. Please reset the application.\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Cannot load picture \"" + dir.file(name) + "\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Video written"), std::string::npos);
  }
}

}  // namespace
}  // namespace sdm
