#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "avi/SoundtrackFixtures.h"
#include "avi/U_BmpToAvi.h"
#include "frames/U_FrameServer.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

// The decoded frames of a video, RGB, top row first.
std::vector<std::string> Decode(const std::string& avi, int w, int h) {
  CommandResult r = RunCommand({"ffmpeg", "-v", "error", "-i", avi, "-map", "0:v:0", "-fps_mode", "passthrough", "-f",
                                "rawvideo", "-pix_fmt", "rgb24", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> frames;
  const size_t size = static_cast<size_t>(w) * h * 3;
  for (size_t at = 0; at + size <= r.out.size(); at += size) frames.push_back(r.out.substr(at, size));
  return frames;
}

std::string Rgb(const TBitmap32& b) {
  std::string out;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      TColor32 c = b.Pixel(x, y);
      out += static_cast<char>(RedOf(c));
      out += static_cast<char>(GreenOf(c));
      out += static_cast<char>(BlueOf(c));
    }
  return out;
}

// A lossless codec: FFV1 where this build has it, else uncompressed frames.
std::string LosslessCodec() {
  TBmpToAvi avi;
  TStringList codecs;
  avi.ListCodecs(codecs);
  for (const auto& l : codecs.Items())
    if (l.rfind("FFV1", 0) == 0) return "FFV1";
  return "DIB ";
}

class RenderCli : public test::PrivateRegistryTest {
protected:
  std::vector<std::string> Pics() {
    return {SourcePath("examples/landscape.jpg"), SourcePath("examples/portrait.jpg"), SourcePath("examples/bars.bmp")};
  }
};

}  // namespace

TEST_F(RenderCli, PicturesAndSoundtrackBecomeAnAviWithTheServersFrames) {
  const std::string mp3 = MakeMp3(dir, "song.mp3", 44100, 2, 3.0, {"-b", "128"});
  const std::string out = dir.file("show.avi");
  const std::string codec = LosslessCodec();
  std::vector<std::string> args{"render", "--codec",          codec,  "--resolution", "320x240", "--fps",
                                "30",     "--ms-per-picture", "1000", "--sound",      mp3,       "-o",
                                out};
  for (auto& p : Pics()) args.push_back(p);
  CommandResult r = RunCli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Processing Video"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Processing Audio"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir.file("temp.avi")));

  // 1000 ms at 1000 div 30 = 33 ms frames: 30 frames a picture, 6-frame
  // fades, so 3 × 30 + 2 × 6 frames.
  auto frames = Decode(out, 320, 240);
  ASSERT_GE(frames.size(), 102u);
  const size_t first = frames.size() - 102;
  TStringList pl(Pics()), cl;
  for (auto& p : Pics()) cl.Add(fs::path(p).filename().string());
  TFrameServer server(pl, &cl, 30, 240, 320, {.crossFade = true, .osd = true});
  TBitmap32 expected;
  for (int i : {0, 29, 30, 33, 35, 36, 101}) {
    server.GetFrame(expected, i);
    EXPECT_TRUE(frames[first + i] == Rgb(expected)) << "frame " << i;
  }
  // The sound is the soundtrack's frames, decodable and about as long.
  EXPECT_EQ(ProbeValue(out, "a:0", "stream=codec_name"), "mp3");
  EXPECT_EQ(ProbeValue(out, "a:0", "stream=sample_rate"), "44100");
  CommandResult dec = RunCommand({"ffmpeg", "-v", "error", "-i", out, "-map", "0:a:0", "-f", "null", "-"});
  EXPECT_EQ(dec.status, 0);
  EXPECT_EQ(dec.err, "");
}

TEST_F(RenderCli, ProjectFileGivesPicturesOutputAndEffectAndOptionsOverrideIt) {
  const std::string out = dir.file("from-project.avi");
  std::string text = ";Effect=Sepia\r\n;Sound=\r\n;Output=" + out + "\r\n";
  for (auto& p : Pics()) text += p + "\tcaption\r\n";
  WriteText(dir.file("p.sdm"), text);
  CommandResult r = RunCli(
      {"render", "--codec", "DIB", "--resolution", "320x240", "--single-frame", "--greyscale", dir.file("p.sdm")});
  ASSERT_EQ(r.status, 0) << r.err;
  auto frames = Decode(out, 320, 240);
  ASSERT_GE(frames.size(), 3u);
  TStringList pl(Pics());
  // The line's --greyscale wins over the file's sepia.
  TFrameServer server(pl, nullptr, 1, 240, 320, {.greyscale = true});
  TBitmap32 expected;
  server.GetFrame(expected, 2);
  EXPECT_TRUE(frames.back() == Rgb(expected));
  EXPECT_EQ(ProbeValue(out, "a", "stream=codec_name"), "");
}

TEST_F(RenderCli, AnExistingVideoIsOnlyReplacedWithYes) {
  const std::string out = dir.file("keep.avi");
  WriteText(out, "precious");
  std::vector<std::string> args{"render",       "--codec", "DIB",
                                "--resolution", "320x240", "--single-frame",
                                "-o",           out,       SourcePath("examples/bars.bmp")};
  CommandResult no = RunCli(args);
  EXPECT_NE(no.status, 0);
  EXPECT_NE(no.err.find("Output file already exists, and will be overwritten. Continue anyway ?"), std::string::npos);
  EXPECT_EQ(ReadText(out), "precious");
  args.push_back("--yes");
  CommandResult yes = RunCli(args);
  EXPECT_EQ(yes.status, 0) << yes.err;
  EXPECT_EQ(ProbeValue(out, "v:0", "stream=width"), "320");
}

TEST_F(RenderCli, BadInputEndsWithTheJobsMessages) {
  // Nothing usable to render.
  CommandResult none = RunCli({"render", "-o", dir.file("x.avi"), dir.file("missing.jpg")});
  EXPECT_NE(none.status, 0);
  EXPECT_NE(none.err.find("File not found : " + dir.file("missing.jpg")), std::string::npos) << none.err;
  EXPECT_NE(none.err.find("Empty picture list"), std::string::npos) << none.err;

  // A broken picture fails the video phase at its first frame.
  WriteText(dir.file("broken.jpg"), "not a jpeg at all");
  CommandResult broken = RunCli({"render", "--codec", "DIB", "--resolution", "320x240", "--single-frame", "-o",
                                 dir.file("b.avi"), dir.file("broken.jpg")});
  EXPECT_NE(broken.status, 0);
  EXPECT_NE(broken.err.find("An error has occured. Please reset the application.\n"), std::string::npos) << broken.err;
  EXPECT_NE(broken.err.find(dir.file("broken.jpg")), std::string::npos) << "the picture's own error follows";
  EXPECT_EQ(broken.err.find("Video written"), std::string::npos);

  // A codec that is not installed.
  CommandResult codec = RunCli({"render", "--codec", "QQQQ", "-o", dir.file("q.avi"), SourcePath("examples/bars.bmp")});
  EXPECT_NE(codec.status, 0);
  EXPECT_NE(codec.err.find("No compressor for QQQQ available"), std::string::npos) << codec.err;

  // Usage errors.
  EXPECT_EQ(
      RunCli({"render", "--resolution", "100x100", "-o", dir.file("u.avi"), SourcePath("examples/bars.bmp")}).status,
      2);
  EXPECT_EQ(RunCli({"render", "-o", dir.file("u.avi")}).status, 2);
}

TEST_F(RenderCli, InterruptCancelsAndLeavesAValidShorterVideo) {
  const std::string out = dir.file("long.avi");
  const std::string errFile = dir.file("stderr.txt");
  const std::string cli = SDM_CLI;
  const std::string pic = SourcePath("examples/landscape.jpg");  // no allocation after the fork
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int nul = ::open("/dev/null", O_RDWR);
    dup2(nul, 0);
    dup2(nul, 1);
    dup2(err, 2);
    execl(cli.c_str(), cli.c_str(), "render", "--codec", "DIB ", "--resolution", "320x240", "--fps", "60",
          "--ms-per-picture", "60000", "-o", out.c_str(), pic.c_str(), pic.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until some frames are on disk (3600 + fades are far from done then):
  // in the file the job writes under a name of its own beside the output.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  auto written = [&] {
    std::error_code ec;
    uintmax_t most = 0;
    for (const auto& e : fs::directory_iterator(dir.path(), ec))
      if (e.path().extension() == ".part") most = std::max(most, fs::file_size(e.path(), ec));
    return most;
  };
  while (std::chrono::steady_clock::now() < deadline && written() < 2000000)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(fs::exists(out));  // the output's name waits for the end
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 0);
  const std::string err = ReadText(errFile);
  EXPECT_NE(err.find("Aborted by user."), std::string::npos) << err;
  const int packets = static_cast<int>(ProbePackets(out, "v:0").size());
  EXPECT_GT(packets, 2);
  EXPECT_LT(packets, 3600);
}

TEST_F(RenderCli, NoOutputPathDestroysAnInputOrAFolder) {
  const std::string pic = dir.file("pic.bmp");
  fs::copy_file(SourcePath("examples/bars.bmp"), pic);
  const std::string mp3 = MakeMp3(dir, "song.mp3", 44100, 2, 1.0, {"-b", "128"});
  const std::string sdm = dir.file("show.sdm");
  WriteText(sdm, ";Sound=\r\n;Output=" + sdm + "\r\n" + pic + "\r\n");
  fs::create_directories(dir.file("folder.avi/inside"));
  const std::vector<uint8_t> picBytes = ReadBytes(pic), mp3Bytes = ReadBytes(mp3), sdmBytes = ReadBytes(sdm);
  const std::vector<std::string> base{"render", "--codec", "DIB", "--resolution", "320x240", "--single-frame", "--yes"};
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args);
  };
  const std::string differ = "The output file must differ from the pictures, the soundtrack and the project file";
  for (const CommandResult& r : {run({"-o", pic, pic}), run({"--sound", mp3, "-o", mp3, pic}), run({sdm})}) {
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(differ), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Output file already exists"), std::string::npos) << "refused before the question";
  }
  EXPECT_EQ(ReadBytes(pic), picBytes);
  EXPECT_EQ(ReadBytes(mp3), mp3Bytes);
  EXPECT_EQ(ReadBytes(sdm), sdmBytes);

  const CommandResult folder = run({"-o", dir.file("folder.avi"), pic});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("Invalid output file\n" + dir.file("folder.avi") + " is a folder"), std::string::npos)
      << folder.err;
  EXPECT_TRUE(fs::is_directory(dir.file("folder.avi/inside")));

  // A named pipe given as the project ends at once with the reason.
  ASSERT_EQ(mkfifo(dir.file("pipe.sdm").c_str(), 0600), 0);
  const CommandResult pipe = run({dir.file("pipe.sdm")});
  EXPECT_EQ(pipe.status, 1);
  EXPECT_NE(pipe.err.find("Cannot open file \"" + dir.file("pipe.sdm") + "\". Is a named pipe"), std::string::npos)
      << pipe.err;
}
