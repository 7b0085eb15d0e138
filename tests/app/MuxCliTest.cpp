// The mp3frames and mux commands run as a user runs them, their results read
// back with ffprobe.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

using test::RunCli;
using test::RunCommand;
using test::TempDir;

std::string MakeTone(const TempDir& dir, const std::string& name, const std::vector<std::string>& lame) {
  const std::string wav = dir.file(name + ".wav"), mp3 = dir.file(name);
  EXPECT_EQ(RunCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "2", "sine", "440"}).status,
            0);
  std::vector<std::string> args{"lame", "--quiet"};
  args.insert(args.end(), lame.begin(), lame.end());
  args.insert(args.end(), {wav, mp3});
  EXPECT_EQ(RunCommand(args).status, 0);
  return mp3;
}

int CountLines(const std::string& text, const std::string& start) {
  int n = 0;
  size_t at = 0;
  while ((at = text.find(start, at)) != std::string::npos) {
    ++n;
    at += start.size();
  }
  return n;
}

TEST(Mp3FramesCliTest, PrintsTheFrameIndexOfASoundtrack) {
  TempDir dir;
  const auto mp3 = MakeTone(dir, "tone.mp3", {"-b", "160"});
  // ffprobe lists every frame but lame's leading information frame; the
  // index counts the frames found less one: the same number.
  auto probe = RunCommand({"ffprobe", "-v", "error", "-select_streams", "a:0", "-count_packets", "-show_entries",
                           "stream=nb_read_packets", "-of", "default=nw=1:nk=1", mp3});
  ASSERT_EQ(probe.status, 0) << probe.err;
  const int packets = std::stoi(probe.out);

  auto r = RunCli({"mp3frames", mp3});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Count: " + std::to_string(packets) + "\nSampleRate: 44100\nChannels: 2\nBitRate: 160000\n");

  const std::string text = dir.file("notes.txt");
  test::WriteText(text, "no sound in here\n");
  // Not a single frame: a failure that says so, not "Count: -1" and success.
  r = RunCli({"mp3frames", text});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "No MPEG audio frame found in \"" + text + "\".\n");

  r = RunCli({"mp3frames", dir.file("missing.mp3")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.mp3"), std::string::npos) << r.err;
  EXPECT_EQ(RunCli({"mp3frames"}).status, 2);
}

// Every command runs with the test's own registry, never the settings.ini
// beside the program.
using MuxCliTest = sdm::test::PrivateRegistryTest;

TEST_F(MuxCliTest, JoinsAVideoOfAnotherWriterAndASoundtrack) {
  const std::string video = dir.file("silent.avi");
  auto made = RunCommand({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10", "-t", "3",
                          "-c:v", "mjpeg", video});
  ASSERT_EQ(made.status, 0) << made.err;
  const auto before = test::ReadBytes(video);
  const auto mp3 = MakeTone(dir, "tone.mp3", {"-V", "4"});
  const std::string out = dir.file("out.avi");

  auto r = RunCli({"mux", video, mp3, out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountLines(r.err, "Loading MP3 file\n"), 1) << r.err;
  EXPECT_NE(r.err.find("Adding Video Stream: 0 / 30\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Adding Audio Stream\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Done\n"), std::string::npos) << r.err;

  auto streams =
      RunCommand({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type", "-of", "default=nw=1:nk=1", out});
  EXPECT_EQ(streams.out, "video\naudio\n");
  // Every picture of an ffmpeg-made video, its first key frame at sample 0
  // included.
  auto frames = RunCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                            "stream=nb_read_packets", "-of", "default=nw=1:nk=1", out});
  EXPECT_EQ(frames.out, "30\n");
  auto decode = RunCommand({"ffmpeg", "-v", "error", "-xerror", "-i", out, "-f", "null", "-"});
  EXPECT_EQ(decode.status, 0) << decode.err;
  EXPECT_EQ(decode.err, "");
  EXPECT_EQ(test::ReadBytes(video), before);
}

TEST_F(MuxCliTest, BadInputFailsWithoutTouchingTheVideo) {
  const std::string video = dir.file("silent.avi");
  ASSERT_EQ(RunCommand({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=5", "-t", "1",
                        "-c:v", "mjpeg", video})
                .status,
            0);
  const auto before = test::ReadBytes(video);
  const auto mp3 = MakeTone(dir, "tone.mp3", {"-b", "128"});

  auto r = RunCli({"mux", video, dir.file("missing.mp3"), dir.file("out.avi")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.mp3"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.avi")));

  r = RunCli({"mux", video, mp3, video});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is the same file as the input"), std::string::npos) << r.err;

  r = RunCli({"mux", mp3, mp3, dir.file("out.avi")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("FileOpen failed. Err: $"), std::string::npos) << r.err;

  EXPECT_EQ(RunCli({"mux", video, mp3}).status, 2);
  EXPECT_EQ(test::ReadBytes(video), before);
}

// The output on a disk that fills up: the command fails naming the file and
// the system's reason, never "Wrote", and the silent video stays as it was.
TEST_F(MuxCliTest, AFullDiskFailsWithThePathAndTheReason) {
  const std::string video = dir.file("silent.avi");
  ASSERT_EQ(RunCommand({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=5", "-t", "2",
                        "-c:v", "rawvideo", "-pix_fmt", "bgr24", video})
                .status,
            0);
  const auto before = test::ReadBytes(video);
  const auto mp3 = MakeTone(dir, "tone.mp3", {"-b", "128"});
  const std::string small = dir.file("small");
  std::filesystem::create_directory(small);
  auto r = RunCommand({"unshare", "-m", "sh", "-c", "mount -t tmpfs -o size=512k tmpfs \"$0\" || exit 99; exec \"$@\"",
                       small, SDM_CLI, "mux", video, mp3, small + "/out.avi"});
  if (r.status == 99 || (r.status != 0 && r.err.find("unshare") != std::string::npos))
    GTEST_SKIP() << "cannot mount a tmpfs here: " << r.err;
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("failed. Err: $8004406E (U_MuxThd, line "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("out.avi\": " + std::string(std::strerror(ENOSPC)) + "\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Done\n"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadBytes(video), before);
}

}  // namespace
}  // namespace sdm
