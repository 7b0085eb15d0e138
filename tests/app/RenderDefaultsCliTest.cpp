// render behaves the same whatever ran before it: its defaults are its own,
// it says what it used, its progress at a terminal is light, and Match audio
// makes the video as long as the soundtrack.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "avi/SoundtrackFixtures.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

// The codec render picks without --codec: xvid when it is listed, else the
// first line of `codecs`.
std::string ExpectedDefaultCodec() {
  const std::string listing = RunCli({"codecs"}).out;
  if (listing.rfind("xvid ", 0) == 0 || listing.find("\nxvid ") != std::string::npos) return "xvid";
  return listing.substr(0, 4);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

}  // namespace

using RenderDefaults = PrivateRegistryTest;

TEST_F(RenderDefaults, TheWindowsLastCodecIsNeverTheCommandLinesDefault) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::string codec = ExpectedDefaultCodec();
  ASSERT_NE(codec, "FFV1");
  // The window (or an earlier `render --codec FFV1`) chose FFV1 last.
  ASSERT_EQ(RunCli({"settings", "set", "LastFCC", "FFV1"}).status, 0);
  const std::string out = dir.file("plain.avi");
  const CommandResult r = RunCli({"render", "--resolution", "320x240", "--single-frame", "-o", out,
                                  SourcePath("examples/bars.bmp"), SourcePath("examples/landscape.jpg")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ProbeValue(out, "v:0", "stream=codec_name"), "ffv1");
  // It says what it used, before the job's first line.
  const std::string said = "Codec " + codec;
  EXPECT_EQ(r.err.rfind(said, 0), 0u) << r.err;
  EXPECT_NE(r.err.find("frame size 320x240, 15 fps"), std::string::npos) << r.err;
  EXPECT_LT(r.err.find(said), r.err.find("Processing Video"));

  // --quiet says nothing at all when all goes well.
  const CommandResult quiet = RunCli({"render", "--resolution", "320x240", "--single-frame", "--quiet", "-o",
                                      dir.file("quiet.avi"), SourcePath("examples/bars.bmp")});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, "");
}

TEST_F(RenderDefaults, MatchAudioMakesTheVideoAsLongAsTheSoundtrack) {
  if (!HaveTool("ffprobe") || !HaveTool("lame")) GTEST_SKIP() << "ffprobe or lame is not installed";
  // Three pictures and 10 s at 25 fps: 71 frames a picture (2840 ms) with
  // 18-frame fades and the writer's two empty samples make 251 frames of
  // 40 ms, 10.04 s, the nearest the frame rules allow.
  const std::string mp3 = MakeMp3(dir, "ten.mp3", 44100, 2, 10.0, {"-b", "64"});
  const std::string out = dir.file("matched.avi");
  const CommandResult r = RunCli({"render", "--codec", "MJPG", "--resolution", "320x240", "--fps", "25", "--no-osd",
                                  "--sound", mp3, "--match-audio", "-o", out, SourcePath("examples/bars.bmp"),
                                  SourcePath("examples/landscape.jpg"), SourcePath("examples/portrait.jpg")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("2840 ms per picture"), std::string::npos) << r.err;
  EXPECT_EQ(ProbeValue(out, "v:0", "stream=nb_frames"), "251");
  const double video = std::stod(ProbeValue(out, "v:0", "stream=duration"));
  const double audio = std::stod(ProbeValue(out, "a:0", "stream=duration"));
  EXPECT_NEAR(video, 10.04, 0.001);
  EXPECT_LT(std::abs(video - audio), 0.1) << video << " s of video for " << audio << " s of sound";
}

TEST_F(RenderDefaults, ProgressAtATerminalIsRedrawnAtMostTenTimesASecond) {
  if (!HaveTool("script")) GTEST_SKIP() << "script (bsdutils) is not installed";
  // Over two thousand frames, each of which used to redraw the line.
  const std::string typescript = dir.file("typescript");
  const std::string command = std::string("'") + SDM_CLI + "' render --resolution 320x240 --ms-per-picture 60000 -o '" +
                              dir.file("long.avi") + "' '" + SourcePath("examples/bars.bmp") + "' '" +
                              SourcePath("examples/landscape.jpg") + "'";
  const auto start = std::chrono::steady_clock::now();
  const CommandResult r = RunCommand({"script", "-qec", command, typescript});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string screen = ReadText(typescript);
  const size_t redraws = Count(screen, "\r\033[K");
  EXPECT_LE(redraws, static_cast<size_t>(seconds * 10) + 5) << redraws << " redraws in " << seconds << " s";
  EXPECT_NE(screen.find("2088/2088 frames"), std::string::npos) << "the end of the phase is shown";
  // Half a second into the phase the rate and the time left are known.
  if (seconds > 2.0) {
    EXPECT_NE(screen.find(" fps"), std::string::npos);
    EXPECT_NE(screen.find(" left"), std::string::npos);
  }
}

TEST_F(RenderDefaults, AFailureSaysWhichFileAndWhyFirst) {
  const std::string out = dir.file("no/such/folder/x.avi");
  const CommandResult r =
      RunCli({"render", "--codec", "MJPG", "--single-frame", "-o", out, SourcePath("examples/bars.bmp")});
  EXPECT_EQ(r.status, 1);
  const std::string first = "Cannot write \"" + out + "\": No such file or directory\n";
  const size_t at = r.err.find(first);
  ASSERT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.compare(at + first.size(), 24, "FileOpen failed. Err: $8"), 0) << r.err;
}
