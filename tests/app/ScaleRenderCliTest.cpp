// Videos at the sizes users make them, checked by ffmpeg: uncompressed frames
// at every resolution, noise (the largest frames a compressor makes) through
// every lossy compressor, a show of more than 20 000 frames, and a soundtrack
// of one hour. Each file must decode without a word from ffmpeg and hold the
// frames it should. Sizes are as small as the point allows: large frames only
// where their size is what is tested.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"

using namespace sdm::test;

namespace {

class ScaleRender : public PrivateRegistryTest {
protected:
  void TearDown() override { unsetenv("SLIDOMAT_AVI_RIFF_LIMIT"); }

  // Renders without questions; the status must be 0.
  void Render(std::vector<std::string> args) {
    args.insert(args.begin(), {"render", "--quiet", "--yes", "--no-xfade", "--no-osd"});
    const CommandResult r = RunCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
};

// ffmpeg decodes every stream of the file and must have nothing to say.
void ExpectCleanDecode(const std::string& avi) {
  const CommandResult r = RunCommand({"ffmpeg", "-v", "error", "-i", avi, "-f", "null", "-"});
  EXPECT_EQ(r.status, 0) << avi;
  EXPECT_EQ(r.err.substr(0, 500), "") << avi;
}

// Packets ffprobe reads in the first stream of a kind ("v", "a"), and the
// largest of them.
struct TPackets {
  size_t count = 0;
  long largest = 0;
};
TPackets Packets(const std::string& avi, const std::string& kind) {
  const CommandResult r = RunCommand({"ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_entries",
                                      "packet=size", "-of", "csv=p=0", avi});
  EXPECT_EQ(r.status, 0) << r.err;
  TPackets p;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    ++p.count;
    p.largest = std::max(p.largest, std::stol(line));
  }
  return p;
}

bool HasOpenDmlParts(const std::string& avi) {
  const std::vector<uint8_t> b = ReadBytes(avi);
  const std::string avix = "AVIX";
  return std::search(b.begin(), b.end(), avix.begin(), avix.end()) != b.end();
}

}  // namespace

TEST_F(ScaleRender, UncompressedFramesAtEveryResolution) {
  const std::vector<std::string> pictures{SourcePath("examples/landscape.jpg"), SourcePath("examples/portrait.jpg"),
                                          SourcePath("examples/bars.bmp")};
  for (const std::string size : {"320x240", "640x480", "720x480", "720x576"}) {
    SCOPED_TRACE(size);
    const std::string out = dir.file("dib" + size + ".avi");
    std::vector<std::string> args{"--codec", "DIB ", "--resolution", size, "--single-frame", "-o", out};
    args.insert(args.end(), pictures.begin(), pictures.end());
    Render(args);
    ExpectCleanDecode(out);
    const TPackets p = Packets(out, "v");
    EXPECT_EQ(p.count, 3u);
    const int w = std::stoi(size), h = std::stoi(size.substr(size.find('x') + 1));
    EXPECT_EQ(p.largest, 3L * w * h);
  }
  // The largest frames again, two to a RIFF part: the file goes on in OpenDML
  // parts as a slideshow past 1 GiB does.
  setenv("SLIDOMAT_AVI_RIFF_LIMIT", "3000000", 1);
  const std::string out = dir.file("parts.avi");
  std::vector<std::string> args{"--codec", "DIB ", "--resolution", "720x576", "--single-frame", "-o", out};
  for (int k = 0; k < 3; ++k) args.insert(args.end(), pictures.begin(), pictures.end());
  Render(args);
  EXPECT_TRUE(HasOpenDmlParts(out));
  ExpectCleanDecode(out);
  EXPECT_EQ(Packets(out, "v").count, 9u);
}

TEST_F(ScaleRender, NoisePicturesThroughEveryLossyCompressor) {
  // Noise in every channel: the largest frames a compressor makes, past the
  // 256 KiB that once broke the writer.
  std::vector<std::string> noise;
  for (int k = 0; k < 3; ++k) {
    noise.push_back(dir.file("noise" + std::to_string(k) + ".jpg"));
    const std::string expr = "nullsrc=s=720x576,geq=r=mod(random(1)*255+" + std::to_string(77 * k) +
                             "\\,256):g=random(1)*255:b=random(1)*255";
    const CommandResult r = RunCommand(
        {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", expr, "-frames:v", "1", "-q:v", "2", noise.back()});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const CommandResult codecs = RunCli({"codecs"});
  ASSERT_EQ(codecs.status, 0);
  std::istringstream lines(codecs.out);
  long largest = 0;
  int lossy = 0;
  for (std::string line; std::getline(lines, line);) {
    const std::string fcc = line.substr(0, 4);
    if (fcc == "DIB " || fcc == "FFV1" || fcc == "ZMBV") continue;
    SCOPED_TRACE(fcc);
    ++lossy;
    // Cinepak searches its code books for a long time at 720x576, and its
    // frames stay small whatever the picture: the small size shows as much.
    const std::string size = fcc == "cvid" ? "320x240" : "720x576";
    const std::string out = dir.file("noise_" + std::to_string(lossy) + ".avi");
    std::vector<std::string> args{"--codec", fcc, "--resolution", size, "--single-frame", "-o", out};
    args.insert(args.end(), noise.begin(), noise.end());
    Render(args);
    ExpectCleanDecode(out);
    const TPackets p = Packets(out, "v");
    EXPECT_EQ(p.count, 3u);
    largest = std::max(largest, p.largest);
  }
  EXPECT_GE(lossy, 2);
  EXPECT_GE(largest, 256 * 1024) << "no compressor made a frame as large as the test means to write";
}

TEST_F(ScaleRender, AShowOfMoreThanTwentyThousandFrames) {
  // Seven pictures of a minute at 50 frames per second: 21 000 frames, whose
  // idx1 index (16 bytes a frame) is larger than the writer's buffer.
  const std::string out = dir.file("long.avi");
  std::vector<std::string> args{"--codec",          "FMP4",  "--resolution", "320x240", "--fps", "50",
                                "--ms-per-picture", "60000", "-o",           out};
  for (int k = 0; k < 7; ++k) args.push_back(SourcePath(k % 2 ? "examples/bars.bmp" : "examples/landscape.jpg"));
  Render(args);
  ExpectCleanDecode(out);
  EXPECT_EQ(Packets(out, "v").count, 21000u);
}

TEST_F(ScaleRender, ASoundtrackOfOneHourIsMuxed) {
  // One hour of MPEG-2 Layer III at 8 kbit/s and 16 kHz, mono: one silent
  // frame (header, zero side information, nothing else) 100 000 times, 36 ms
  // and 36 bytes each.
  const std::vector<uint8_t> frame = [] {
    std::vector<uint8_t> f{0xFF, 0xF3, 0x18, 0xC0};
    f.resize(36, 0);
    return f;
  }();
  std::vector<uint8_t> hour;
  for (int k = 0; k < 100000; ++k) hour.insert(hour.end(), frame.begin(), frame.end());
  const std::string mp3 = dir.file("hour.mp3");
  WriteBytes(mp3, hour);

  const std::string video = dir.file("video.avi");
  Render({"--codec", "FMP4", "--resolution", "320x240", "--fps", "25", "--ms-per-picture", "1000", "-o", video,
          SourcePath("examples/landscape.jpg"), SourcePath("examples/bars.bmp")});
  const std::string out = dir.file("muxed.avi");
  const CommandResult r = RunCli({"mux", video, mp3, out});
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectCleanDecode(out);
  EXPECT_EQ(Packets(out, "v").count, 50u);
  // The first and the last frame found are not copied.
  EXPECT_EQ(Packets(out, "a").count, 99998u);
}
