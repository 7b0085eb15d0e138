// render to MP4 and WebM from the command line, checked by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <filesystem>

#include "testsupport/TestSupport.h"
#include "testsupport/VideoCheck.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

class ContainerRender : public PrivateRegistryTest {
protected:
  std::vector<std::string> Photos() {
    return {SourcePath("examples/landscape.jpg"), SourcePath("examples/portrait.jpg"), SourcePath("examples/wide.jpg")};
  }
  CommandResult Render(std::vector<std::string> args) {
    args.insert(args.begin(), "render");
    const std::vector<std::string> photos = Photos();
    args.insert(args.end(), photos.begin(), photos.end());
    return RunCli(args);
  }
  std::string Song(double seconds) {
    const std::string ogg = dir.file("song.ogg");
    const CommandResult r =
        RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=440:duration=" + std::to_string(seconds), "-ac", "2", "-c:a", "libvorbis", ogg});
    EXPECT_EQ(r.status, 0) << r.err;
    return ogg;
  }
};

}  // namespace

TEST_F(ContainerRender, AnHdMp4WithAnOggSoundtrackPlaysAndEndsWithItsPictures) {
  const std::string mp4 = dir.file("show.mp4");
  const CommandResult r = Render({"--resolution", "1920x1080", "--fps", "2", "--ms-per-picture", "1000", "--no-xfade",
                                  "--no-osd", "--sound", Song(10), "-o", mp4});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Video written: " + mp4), std::string::npos) << r.err;
  EXPECT_EQ(DecodeErrors(mp4), "");
  EXPECT_EQ(Probe(mp4, "v:0", "codec_name"), "h264");
  EXPECT_EQ(Probe(mp4, "v:0", "pix_fmt"), "yuv420p");
  EXPECT_EQ(Probe(mp4, "v:0", "width") + "x" + Probe(mp4, "v:0", "height"), "1920x1080");
  EXPECT_EQ(Probe(mp4, "v:0", "r_frame_rate"), "2/1");
  EXPECT_EQ(Probe(mp4, "a:0", "codec_name"), "aac");
  EXPECT_EQ(Probe(mp4, "a:0", "channels"), "2");
  const TStreamSpan video = DecodedSpan(mp4, "v"), sound = DecodedSpan(mp4, "a");
  EXPECT_EQ(video.frames, 6);
  EXPECT_NEAR(video.end, 3.0, 0.001);
  EXPECT_NEAR(sound.end, video.end, 0.25) << "ten seconds of music cut at the last picture";
}

TEST_F(ContainerRender, AWebmOfAnyEvenSizeAndWhatIsRefused) {
  const std::string webm = dir.file("show.webm");
  CommandResult r = Render(
      {"--resolution", "1000x562", "--single-frame", "--no-xfade", "--no-osd", "--scaling", "sharp", "-o", webm});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(DecodeErrors(webm), "");
  EXPECT_EQ(Probe(webm, "v:0", "codec_name"), "vp9");
  EXPECT_EQ(Probe(webm, "v:0", "width") + "x" + Probe(webm, "v:0", "height"), "1000x562");
  EXPECT_EQ(Probe(webm, "a:0", "codec_name"), "") << "no soundtrack, no sound stream";

  // Usage errors (status 2), and an extension nothing writes (status 1): all
  // refused before any file is made.
  const std::vector<std::vector<std::string>> usage = {
      {"--resolution", "1001x562", "-o", dir.file("odd.mp4")},
      {"--resolution", "3842x2160", "-o", dir.file("wide.mp4")},
      {"--resolution", "1000x562", "-o", dir.file("custom.avi")},
      {"--scaling", "blurry", "-o", dir.file("s.mp4")},
      {"--codec", "xvid", "-o", dir.file("x.mp4")},
  };
  for (const auto& args : usage) {
    r = Render(args);
    EXPECT_EQ(r.status, 2) << args[0] << " " << args[1] << ": " << r.err;
  }
  r = Render({"--yes", "-o", dir.file("show.mov")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Only AVI (.avi), MP4 (.mp4) and WebM (.webm) videos can be written"), std::string::npos)
      << r.err;
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (!e.is_directory()) files.push_back(e.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"show.webm"});
}
