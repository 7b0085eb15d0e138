// audio-info on MP3 files made by lame: the play time is the sum of the
// frames, counted here by ffprobe (plus lame's Xing/Info frame, which is a
// frame too), and a leading ID3v2 tag is neither audio nor lost.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "audio/MpegTestUtil.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

TEST(MpegInfoCliTest, PlayTimeOfLameFilesIsTheSumOfTheirFrames) {
  for (const char* tool : {"lame", "sox", "ffprobe"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " missing";
  test::TempDir dir;
  struct Case {
    int rate, channels;
    std::vector<std::string> options;
    int samplesPerFrame;
    bool tagged;
  } cases[] = {
      {44100, 2, {"-b", "128", "--id3v2-only", "--tt", "Tone", "--ta", "Sox"}, 1152, true},
      {22050, 1, {"-V", "4", "-m", "m"}, 576, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string wav = test::SoxTone(dir, "in" + std::to_string(n) + ".wav", c.rate, c.channels, 3.3);
    ASSERT_FALSE(wav.empty());
    std::string mp3 = dir.file("song" + std::to_string(n++) + ".mp3");
    std::vector<std::string> argv = {"lame", "--quiet"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.push_back(wav);
    argv.push_back(mp3);
    auto made = test::RunCommand(argv);
    ASSERT_EQ(made.status, 0) << made.err;
    const bool tagged = c.tagged;
    const int frames = test::ProbePackets(mp3) + (test::FirstFrameIsXing(mp3) ? 1 : 0);
    ASSERT_GT(frames, 1);

    const long long pcm = 2LL * frames * c.samplesPerFrame * c.channels;
    const double seconds = static_cast<double>(frames) * c.samplesPerFrame / c.rate;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", seconds);
    std::string want = "kind: 3\nsamplerate: " + std::to_string(c.rate) + "\nchannels: " + std::to_string(c.channels) +
                       "\nbits: 16\npcmsize: " + std::to_string(pcm) + "\nduration: " + duration +
                       "\nseconds: " + std::to_string(std::lround(seconds)) + "\ntagkinds: " + (tagged ? "2" : "0") +
                       "\n";
    auto r = test::RunCli({"audio-info", mp3});
    ASSERT_EQ(r.status, 0) << r.err;
    SCOPED_TRACE(mp3);
    EXPECT_EQ(r.out.substr(0, want.size()), want) << r.out;
    if (tagged) {
      EXPECT_NE(r.out.find("\nTITLE=Tone\n"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("\nARTIST=Sox\n"), std::string::npos) << r.out;
    }
  }
}

}  // namespace
}  // namespace sdm
