// What a command finds at its output path stays until the new file is
// complete: a failure leaves it as it was, mux asks before replacing it like
// render, a pipe or device there is refused, and no half-written file is left
// beside it. Damaged sound is decoded as far as it goes, with a warning and
// a failing status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::RunCli;
using test::RunCommand;
using test::WriteText;

using EarlierOutputs = test::PrivateRegistryTest;

bool NoPendingFiles(const test::TempDir& dir) {
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.path().extension() == ".part") return false;
  return true;
}

TEST_F(EarlierOutputs, AFailingCommandLeavesTheEarlierFileAsItWas) {
  const std::string earlier = "an earlier file";
  const std::string bad = dir.file("notes.wav"), badPicture = dir.file("broken.jpg");
  WriteText(bad, "not a sound at all");
  WriteText(badPicture, std::string("\xFF\xD8\xFF", 3) + std::string(100, 'x'));
  struct Case {
    std::vector<std::string> args;
    std::string output;
  };
  const Case cases[] = {
      {{"decode", bad, dir.file("out.wav")}, dir.file("out.wav")},
      {{"fit", badPicture, "64x48", dir.file("out.bmp")}, dir.file("out.bmp")},
      {{"frames", "--index", "0", "--out", dir.file("frame.bmp"), badPicture}, dir.file("frame.bmp")},
      {{"encode", "--codec", "ZZZZ", "-o", dir.file("out.avi"), test::SourcePath("examples/bars.bmp")},
       dir.file("out.avi")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    WriteText(c.output, earlier);
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(ReadText(c.output), earlier);
  }
  EXPECT_TRUE(NoPendingFiles(dir));
  // A command that succeeds replaces it, keeping its permissions.
  const std::string out = dir.file("out.bmp");
  ::chmod(out.c_str(), 0640);
  ASSERT_EQ(RunCli({"fit", test::SourcePath("examples/bars.bmp"), "64x48", out}).status, 0);
  EXPECT_NE(ReadText(out), earlier);
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(EarlierOutputs, MuxAsksBeforeReplacingAVideoAndRefusesPipes) {
  const std::string video = dir.file("silent.avi");
  ASSERT_EQ(RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=5", "-t", "1", "-c:v",
                        "mjpeg", video})
                .status,
            0);
  const std::string wav = dir.file("tone.wav");
  ASSERT_EQ(RunCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}).status,
            0);
  const std::string out = dir.file("precious.avi");
  WriteText(out, "a precious video");
  // Without a terminal and without --yes the answer is No.
  auto r = RunCli({"mux", video, wav, out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Output file already exists, and will be overwritten. Continue anyway ? no (use --yes"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadText(out), "a precious video");
  r = RunCli({"mux", "--yes", video, wav, out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("The soundtrack (WAV) was encoded to MP3."), std::string::npos) << r.err;
  EXPECT_EQ(RunCommand({"ffmpeg", "-v", "error", "-i", out, "-f", "null", "-"}).err, "");

  // A named pipe at the output would block the writer: refused at once.
  const std::string pipe = dir.file("pipe.avi");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"mux", "--yes", video, wav, pipe}, {"decode", wav, pipe}}) {
    r = RunCli(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The output \"" + pipe + "\" is a named pipe; nothing was written.\n");
  }
  EXPECT_TRUE(fs::is_fifo(pipe));
  EXPECT_TRUE(NoPendingFiles(dir));
}

TEST_F(EarlierOutputs, TwoRendersToOneOutputEachWriteAWholeVideo) {
  // Each job writes a file of its own and judges its success by it: both
  // say "Video written", and what stands at the output is one whole video.
  const std::string out = dir.file("same.avi");
  const std::string pictures = test::SourcePath("examples/landscape.jpg") + " " + test::SourcePath("examples/bars.bmp");
  const std::string render = std::string(SDM_CLI) + " render --yes --codec MJPG --resolution 320x240 -o " + out + " ";
  const auto r = RunCommand({"sh", "-c",
                             render + pictures + " 2>" + dir.file("a.txt") + " & " + render + "--ms-per-picture 500 " +
                                 pictures + " 2>" + dir.file("b.txt") + "; wait"});
  EXPECT_EQ(r.status, 0);
  for (const char* log : {"a.txt", "b.txt"}) {
    const std::string err = ReadText(dir.file(log));
    EXPECT_NE(err.find("Video written: " + out), std::string::npos) << err;
    EXPECT_EQ(err.find("choose another codec"), std::string::npos) << err;
  }
  EXPECT_EQ(RunCommand({"ffmpeg", "-v", "error", "-i", out, "-f", "null", "-"}).err, "");
  EXPECT_TRUE(NoPendingFiles(dir));
}

TEST_F(EarlierOutputs, DecodeOfADamagedFileWarnsAndFails) {
  const std::string flac = dir.file("damaged.flac"), out = dir.file("out.wav");
  ASSERT_EQ(RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=4", flac}).status, 0);
  auto bytes = test::ReadBytes(flac);
  for (size_t i = 0; i < 300; ++i) bytes[bytes.size() / 3 + i] = static_cast<uint8_t>(i * 13 + 5);
  test::WriteBytes(flac, bytes);
  const auto r = RunCli({"decode", flac, out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Warning: " + flac + " is damaged: ", 0), 0u) << r.err;
  // What could be decoded is there, a valid WAV of most of the four seconds.
  const auto probe = RunCommand({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", out});
  EXPECT_EQ(probe.err, "");
  EXPECT_GT(std::stod(probe.out), 3.0);
  EXPECT_LE(std::stod(probe.out), 4.0);
}

}  // namespace
}  // namespace sdm
