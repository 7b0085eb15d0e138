#include "project/U_SlideProject.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <filesystem>

#include "support/UserInteraction.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

// Records every message the project shows.
class TRecordingInteraction : public IUserInteraction {
public:
  int MessageBox(const std::string&, const std::string& text, int, int) override {
    messages.push_back(text);
    return mrOk;
  }
  std::vector<std::string> messages;
};

struct ProjectFixture : ::testing::Test {
  ProjectFixture() {
    project.Interaction = &ui;
    project.Log = [this](const std::string& m, int level) { log.push_back(std::to_string(level) + " " + m); };
  }
  TRecordingInteraction ui;
  std::vector<std::string> log;
  TSlideProject project;
};

using SlideProjectTest = ProjectFixture;

TEST_F(SlideProjectTest, NewRestoresTheDefaultsButKeepsTheCodec) {
  project.SetCodecEntry("XVID XviD MPEG-4 Codec");
  project.SetDynamic(true);
  project.SetCrossFade(false);
  project.SetOsd(false);
  project.SetMsPerPicture(1200);
  project.SetResolution("320x240");
  project.SetOutputPath("/v/out.avi");
  project.SetSoundtrack("/m/a.mp3", 60.0 / 86400);
  project.ToggleSepia();
  project.SetSingleFrame(true);
  project.AppendPicture("/p/a.jpg", "a.jpg");

  project.ResetProject();
  EXPECT_EQ(project.CodecEntry(), "XVID XviD MPEG-4 Codec");
  EXPECT_EQ(project.Resolution(), "720x480");
  EXPECT_EQ(project.MsPerPicture(), 3000);
  EXPECT_EQ(project.FramesPerSecond(), 15);
  EXPECT_FALSE(project.Dynamic());
  EXPECT_TRUE(project.CrossFade());
  EXPECT_TRUE(project.Osd());
  EXPECT_FALSE(project.SingleFrame());
  EXPECT_FALSE(project.Greyscale());
  EXPECT_FALSE(project.Sepia());
  EXPECT_EQ(project.PictureCount(), 0);
  EXPECT_EQ(project.CaptionList().Count(), 0);
  EXPECT_EQ(project.SoundPath(), "");
  EXPECT_EQ(project.SoundDuration(), 0);
  EXPECT_EQ(project.OutputPath(), "");
  EXPECT_FALSE(project.MatchAudioEnabled());
  EXPECT_TRUE(project.ControlsEnabled());
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SlideProjectTest, TimingValuesAreClampedAndTheFramePeriodDropsTheRemainder) {
  project.SetMsPerPicture(50);
  EXPECT_EQ(project.MsPerPicture(), 100);
  project.SetMsPerPicture(70000);
  EXPECT_EQ(project.MsPerPicture(), 60000);
  project.SetMsPerPicture(-5'000'000'000LL);
  EXPECT_EQ(project.MsPerPicture(), 100);
  project.SetFramesPerSecond(0);
  EXPECT_EQ(project.FramesPerSecond(), 1);
  project.SetFramesPerSecond(61);
  EXPECT_EQ(project.FramesPerSecond(), 60);

  project.SetMsPerPicture(60000);  // long enough that the visual options stay
  for (auto [fps, period] : {std::pair{15, 66}, {25, 40}, {30, 33}, {60, 16}, {1, 1000}}) {
    project.SetFramesPerSecond(fps);
    const TJobSettings job = project.MakeJobSettings();
    EXPECT_EQ(job.FramesPerSecond, fps);
    EXPECT_EQ(job.FramePeriod, period) << fps;
  }
}

TEST(ResolutionRuleTest, NumbersAroundTheFirstLowerCaseX) {
  struct Case {
    const char* text;
    int w, h;
  } cases[] = {{"720x576", 720, 576}, {"320x240", 320, 240}, {"", 640, 480},
               {"720576", 640, 480},  {"abcx576", 640, 576}, {"720x", 720, 480},
               {"320X240", 640, 480}, {"1x2x3", 1, 480},     {"x", 640, 480}};
  for (const Case& c : cases) {
    int32_t w = 0, h = 0;
    ParseResolution(c.text, w, h);
    EXPECT_EQ(w, c.w) << c.text;
    EXPECT_EQ(h, c.h) << c.text;
  }
}

TEST_F(SlideProjectTest, JobRecordTakesSizeFourCCAndTheProjectsOwnLists) {
  project.SetResolution("720x576");
  project.SetCodecEntry("dx50 DivX codec");
  project.SetOutputPath("/v/o.avi");
  project.ToggleGreyscale();
  project.AppendPicture("/p/a.jpg", "A");
  TJobSettings job = project.MakeJobSettings();
  EXPECT_EQ(job.Width, 720);
  EXPECT_EQ(job.Height, 576);
  EXPECT_EQ(job.FourCC, "dx50");  // case kept
  EXPECT_EQ(job.OutputPath, "/v/o.avi");
  EXPECT_EQ(job.MsPerPicture, 3000);
  EXPECT_TRUE(job.Options.greyscale);
  EXPECT_FALSE(job.Options.sepia);
  EXPECT_TRUE(job.Options.crossFade);
  EXPECT_TRUE(job.Options.osd);
  EXPECT_FALSE(job.Options.dynamic);
  EXPECT_EQ(job.Pictures, &project.PictureList());
  EXPECT_EQ(job.Captions, &project.CaptionList());

  project.SetCodecEntry("");
  EXPECT_EQ(project.MakeJobSettings().FourCC, "");
  project.SetResolution("");
  EXPECT_EQ(project.MakeJobSettings().Width, 640);
  EXPECT_THROW(project.SetResolution("800x600"), std::invalid_argument);
}

TEST_F(SlideProjectTest, FrameBudgetSwitchesTheVisualOptionsOffBelowThirtyFrames) {
  struct Case {
    int fps, ms;
    bool keeps;
  } cases[] = {{15, 3000, true}, {15, 1900, false}, {25, 1200, true}, {30, 1000, true}, {30, 900, false}};
  for (const Case& c : cases) {
    project.ResetProject();
    ui.messages.clear();
    project.SetFramesPerSecond(c.fps);
    project.SetMsPerPicture(c.ms);
    const TJobSettings job = project.MakeJobSettings();
    EXPECT_EQ(job.Options.crossFade, c.keeps) << c.fps << " x " << c.ms;
    EXPECT_EQ(job.Options.osd, c.keeps);
    EXPECT_EQ(project.CrossFade(), c.keeps);
    EXPECT_EQ(project.Osd(), c.keeps);
    EXPECT_EQ(ui.messages.size(), c.keeps ? 0u : 1u);
    if (!c.keeps) {
      EXPECT_EQ(ui.messages[0], "Visual options disabled due to incompatible temporal settings");
    }
  }
  // All three already off: nothing to switch, nothing to say.
  ui.messages.clear();
  project.MakeJobSettings();
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SlideProjectTest, DynamicSetsTheFrameRateAndAStartingJobKeepsTheRateItRead) {
  project.SetDynamic(true);
  EXPECT_EQ(project.FramesPerSecond(), 25);
  project.SetFramesPerSecond(30);
  project.SetDynamic(true);  // no change, no new rate
  EXPECT_EQ(project.FramesPerSecond(), 30);
  project.SetDynamic(false);
  EXPECT_EQ(project.FramesPerSecond(), 15);

  project.SetDynamic(true);
  project.SetMsPerPicture(1000);  // 25 × 1000 = 25000 frames·ms: too short
  const TJobSettings job = project.MakeJobSettings();
  EXPECT_EQ(job.FramesPerSecond, 25);
  EXPECT_EQ(job.FramePeriod, 40);
  EXPECT_FALSE(job.Options.dynamic);
  EXPECT_FALSE(project.Dynamic());
  EXPECT_EQ(project.FramesPerSecond(), 15);
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(SlideProjectTest, SingleFrameModeLocksOptionsTheJobIgnoresThem) {
  project.SetSingleFrame(true);
  EXPECT_TRUE(project.OptionsLocked());
  EXPECT_FALSE(project.MatchAudioEnabled());
  TJobSettings job = project.MakeJobSettings();
  EXPECT_TRUE(job.Options.singleFrame);
  EXPECT_FALSE(job.Options.crossFade);
  EXPECT_FALSE(job.Options.osd);
  EXPECT_TRUE(project.CrossFade());  // the check marks stay
  EXPECT_TRUE(project.Osd());

  // The budget rule still looks at the checked boxes, which stay unchecked.
  project.SetMsPerPicture(1000);
  job = project.MakeJobSettings();
  EXPECT_EQ(ui.messages.size(), 1u);
  project.EnableControls(true);  // the end of a job
  EXPECT_FALSE(project.SingleFrame());
  EXPECT_FALSE(project.CrossFade());
  EXPECT_FALSE(project.Osd());

  // Leaving the mode from the Expert dialog enables Match audio even without
  // a soundtrack; enabling the controls leaves it off without one.
  project.SetSingleFrame(true);
  project.SetSingleFrame(false);
  EXPECT_TRUE(project.MatchAudioEnabled());
  project.EnableControls(false);
  EXPECT_TRUE(project.OptionsLocked());
  project.EnableControls(true);
  EXPECT_FALSE(project.MatchAudioEnabled());
}

TEST_F(SlideProjectTest, GreyscaleAndSepiaAreExclusiveToggles) {
  project.ToggleGreyscale();
  EXPECT_TRUE(project.Greyscale());
  project.ToggleSepia();
  EXPECT_TRUE(project.Sepia());
  EXPECT_FALSE(project.Greyscale());
  project.ToggleSepia();
  EXPECT_FALSE(project.Sepia());
  EXPECT_FALSE(project.Greyscale());
  project.SetEffects(true, true);
  EXPECT_TRUE(project.Greyscale());
  EXPECT_FALSE(project.Sepia());
  project.SetEffects(false, true);
  EXPECT_TRUE(project.Sepia());
  EXPECT_FALSE(project.Greyscale());
}

// The length of the video a job makes of the project, in milliseconds,
// worked out from the frame rules: whole frames per picture, (fpp div 20) × 6
// fade frames between pictures when cross-fades survive the budget rule, and
// the writer's two empty leading samples.
int64_t VideoMs(TSlideProject& p) {
  const int64_t period = 1000 / p.FramesPerSecond();
  const int64_t fpp = std::max<int64_t>(1, std::llround(static_cast<double>(p.MsPerPicture()) / period));
  const bool fades = p.CrossFade() && p.FramesPerSecond() * p.MsPerPicture() >= 30000;
  const int64_t n = p.PictureCount();
  return (n * fpp + (n - 1) * (fades ? fpp / 20 * 6 : 0) + 2) * period;
}

TEST_F(SlideProjectTest, MatchAudioFillsTheSoundtrack) {
  project.SetSoundtrack("/m/a.mp3", 180.0 / 86400);
  EXPECT_EQ(project.SoundDuration(), 180);
  EXPECT_TRUE(project.MatchAudioEnabled());
  project.MatchAudio();  // no pictures: nothing happens
  EXPECT_EQ(project.MsPerPicture(), 3000);

  // 20 pictures, 180 s at 15 fps (66 ms frames): 108 frames a picture and 18
  // fade frames make 2732 frames, 180.312 s; 107 would give 2712, 178.992 s.
  for (int i = 0; i < 20; ++i) project.AppendPicture("/p/" + std::to_string(i) + ".jpg", "");
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 108 * 66);
  EXPECT_EQ(VideoMs(project), 180312);
  // Without fades: 136 frames a picture, 2722 frames, 179.652 s.
  project.SetCrossFade(false);
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 136 * 66);
  EXPECT_EQ(VideoMs(project), 179652);
  EXPECT_TRUE(ui.messages.empty());

  // The case that ended 6.8 s short with the 1.3 factor: 20 pictures, 62 s.
  // 39 frames a picture (6 fade frames) give 59.136 s; 40 (12 fade frames)
  // would give 67.980 s, further off.
  project.SetCrossFade(true);
  project.SetSoundtrack("/m/s62.mp3", 62.0 / 86400);
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 39 * 66);
  EXPECT_EQ(VideoMs(project), 59136);

  // At 25 fps the budget rule keeps the fades at 71 frames a picture (2840
  // ms): 3 pictures and 10 s give 251 frames, 10.040 s.
  project.ClearPictures();
  for (int i = 0; i < 3; ++i) project.AppendPicture("/p/x.jpg", "x");
  project.SetFramesPerSecond(25);
  project.SetSoundtrack("/m/d.mp3", 10.0 / 86400);
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 71 * 40);
  EXPECT_EQ(VideoMs(project), 10040);
  // At 30 fps an AVI's frames last 33 ms and it starts with two empty
  // samples: 84 frames a picture, 2772 ms, 302 frames, 9.966 s. An MP4 runs
  // at exactly 30 fps with no empty samples: 84 frames a picture are 2800 ms
  // and 300 frames, the soundtrack's 10 s exactly.
  project.SetFramesPerSecond(30);
  project.SetOutputPath("/v/show.avi");
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 84 * 33);
  project.SetOutputPath("/v/show.mp4");
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 2800);
  project.SetOutputPath("");
  // Two pictures and two seconds at 15 fps: fewer than 30 frames a picture,
  // so the budget rule drops the fades; 14 frames a picture give 1.980 s.
  project.ClearPictures();
  for (int i = 0; i < 2; ++i) project.AppendPicture("/p/x.jpg", "x");
  project.SetFramesPerSecond(15);
  project.SetSoundtrack("/m/e.mp3", 2.0 / 86400);
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 14 * 66);
  EXPECT_EQ(VideoMs(project), 1980);
  EXPECT_TRUE(ui.messages.empty());

  // Ten pictures and one second: the shortest time is still too long, so
  // the minimum is taken and said.
  project.ClearPictures();
  for (int i = 0; i < 10; ++i) project.AppendPicture("/p/x.jpg", "x");
  project.SetSoundtrack("/m/b.mp3", 1.0 / 86400);
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 100);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "Soundtrack too short or too many picture loaded. Using minimal picture duration.");

  // 200 pictures in 10 seconds with cross-fades: the minimum again.
  project.ClearPictures();
  for (int i = 0; i < 200; ++i) project.AppendPicture("/p/x.jpg", "x");
  project.SetSoundtrack("/m/c.mp3", 10.0 / 86400);
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 100);
  EXPECT_EQ(ui.messages.size(), 2u);

  // A soundtrack of years cannot overflow: the time goes to the maximum.
  project.ClearPictures();
  project.AppendPicture("/p/x.jpg", "x");
  project.SetSoundtrack("/m/long.mp3", 1e7);
  EXPECT_EQ(project.SoundDuration(), INT32_MAX);
  project.MatchAudio();
  EXPECT_EQ(project.MsPerPicture(), 60000);
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(SlideProjectTest, SoundDurationRoundsHalvesToEven) {
  for (auto [seconds, expected] : {std::pair{0.5, 0}, {1.5, 2}, {2.5, 2}, {179.6, 180}}) {
    project.SetSoundtrack("/m/a.mp3", seconds / 86400.0);
    EXPECT_EQ(project.SoundDuration(), expected) << seconds;
    EXPECT_EQ(project.MatchAudioEnabled(), expected > 0);
  }
  project.ClearSoundtrack();
  EXPECT_EQ(project.SoundPath(), "");
  EXPECT_FALSE(project.MatchAudioEnabled());
}

TEST_F(SlideProjectTest, AddPictureChecksTheFileAndItsExtension) {
  test::TempDir dir;
  for (const char* n : {"a.JPG", "b.Jpeg", "c.bmp", "d.gif", "e.png", "f.HEIC", "g.txt", "h.mp3"})
    test::WriteText(dir.file(n), "");
  project.AddFiles({dir.file("a.JPG"), dir.file("b.Jpeg") + "\tHarbour\tat dusk", dir.file("c.bmp"), dir.file("d.gif"),
                    dir.file("e.png"), dir.file("f.HEIC"), dir.file("g.txt"), dir.file("h.mp3"),
                    dir.file("missing.jpg"), dir.path().string() + "/\tcaption", ""});
  ASSERT_EQ(project.PictureCount(), 6);
  EXPECT_EQ(project.PictureList()[0], dir.file("a.JPG"));
  EXPECT_EQ(project.CaptionList()[0], "a.JPG");
  EXPECT_EQ(project.PictureList()[1], dir.file("b.Jpeg"));
  EXPECT_EQ(project.CaptionList()[1], "Harbour\tat dusk");  // only the first TAB separates
  EXPECT_EQ(project.CaptionList()[2], "c.bmp");
  EXPECT_EQ(project.CaptionList()[5], "f.HEIC");
  const std::vector<std::string> expected = {"1 Files count : 0",
                                             "1 11 files to be added",
                                             "2 File not supported : " + dir.file("g.txt"),
                                             "2 File not supported : " + dir.file("h.mp3"),
                                             "2 File not found : " + dir.file("missing.jpg"),
                                             "2 File not found : " + dir.path().string() + "/",
                                             "2 File not found : ",
                                             "1 Files count : 6"};
  EXPECT_EQ(log, expected);
  for (const char* name : {"x.jpe", "x.jfif", "x.dib", "x.webp", "x.tif", "x.TIFF", "x.heif", "x.hif", "x.avif"})
    EXPECT_TRUE(IsSupportedPictureName(name)) << name;
  for (const char* name : {"x.mp3", "x.txt", "x", "jpg", "/a.jpg/x", "x.jpg.part"})
    EXPECT_FALSE(IsSupportedPictureName(name)) << name;
}

// A folder, dropped or given to render, brings its pictures in name order;
// its other files are logged, its sub-folders are not entered.
TEST_F(SlideProjectTest, AFolderAddsItsPicturesInNameOrder) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.file("holiday/inner"));
  for (const char* n : {"holiday/IMG_0010.jpg", "holiday/IMG_0002.HEIC", "holiday/b.png", "holiday/notes.txt",
                        "holiday/inner/deep.jpg", "holiday/a screenshot.webp"})
    test::WriteText(dir.file(n), "");
  project.AddFiles({dir.file("holiday/b.png"), dir.file("holiday")});
  const std::vector<std::string> pictures = {dir.file("holiday/b.png"), dir.file("holiday/IMG_0002.HEIC"),
                                             dir.file("holiday/IMG_0010.jpg"), dir.file("holiday/a screenshot.webp"),
                                             dir.file("holiday/b.png")};
  EXPECT_EQ(project.PictureList().Items(), pictures);
  EXPECT_EQ(project.CaptionList()[1], "IMG_0002.HEIC");
  const std::vector<std::string> expected = {"1 Files count : 0", "1 2 files to be added",
                                             "2 File not supported : " + dir.file("holiday/notes.txt"),
                                             "1 Files count : 5"};
  EXPECT_EQ(log, expected);
}

TEST_F(SlideProjectTest, ListEditsKeepCaptionsWithTheirPictures) {
  for (const char* n : {"a", "b", "c", "d"}) project.AppendPicture(std::string("/p/") + n + ".jpg", n);
  // A subscriber to the picture list (a frame server) must already find the
  // matching caption when it hears of a change.
  int mismatches = 0, notices = 0;
  project.PictureList().Subscribe([&] {
    ++notices;
    const auto& p = project.PictureList();
    const auto& c = project.CaptionList();
    if (p.Count() != c.Count()) ++mismatches;
    for (int i = 0; i < std::min(p.Count(), c.Count()); ++i)
      if (p[i] != "/p/" + c[i] + ".jpg") ++mismatches;
  });
  project.MovePicture(0, 3);                  // b c d a
  project.ExchangePictures(0, 1);             // c b d a
  project.InsertPicture(2, "/p/e.jpg", "e");  // c b e d a
  project.DeletePicture(0);                   // b e d a
  project.SetCaption(1, "e");
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(notices, 4);
  const std::vector<std::string> order = {"b", "e", "d", "a"};
  EXPECT_EQ(project.CaptionList().Items(), order);
  EXPECT_THROW(project.DeletePicture(4), std::out_of_range);
  EXPECT_THROW(project.MovePicture(0, 4), std::out_of_range);
  EXPECT_THROW(project.InsertPicture(5, "/p/x.jpg", "x"), std::out_of_range);
  EXPECT_EQ(project.CaptionList().Count(), project.PictureCount());
  project.ClearPictures();
  EXPECT_EQ(project.CaptionList().Count(), 0);
  EXPECT_EQ(mismatches, 0);
}

TEST_F(SlideProjectTest, MessagesGoThroughTheTranslator) {
  project.Translator = [](const std::string& s) { return "[de] " + s; };
  project.SetMsPerPicture(100);
  project.MakeJobSettings();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "[de] Visual options disabled due to incompatible temporal settings");
}

TEST_F(SlideProjectTest, HdSizesFollowTheClassicOnesAndScalingFollowsTheKindOfVideo) {
  EXPECT_EQ(TSlideProject::Resolutions(), (std::vector<std::string>{"320x240", "640x480", "720x480", "720x576",
                                                                    "1280x720", "1920x1080", "3840x2160"}));
  project.SetResolution("3840x2160");
  project.ResetProject();
  EXPECT_EQ(project.Resolution(), "720x480") << "New chooses it by name, not by place";

  // Any even size up to 3840 × 2160, for the command line's MP4 and WebM.
  project.SetFrameSize(1000, 562);
  EXPECT_EQ(project.MakeJobSettings().Width, 1000);
  EXPECT_EQ(project.MakeJobSettings().Height, 562);
  const std::pair<int, int> refused[] = {{1001, 562}, {1000, 563}, {3842, 2160}, {3840, 2162}, {0, 100}, {-2, 100}};
  for (const auto& [w, h] : refused) EXPECT_THROW(project.SetFrameSize(w, h), std::invalid_argument) << w << "x" << h;

  // Automatic is Smooth for MP4 and WebM and Sharp for AVI (and for a name
  // Go will refuse anyway); the other two are what they say for every kind.
  const std::pair<std::string, TFitFilter> automatic[] = {{"a.mp4", TFitFilter::Smooth},
                                                          {"a.WEBM", TFitFilter::Smooth},
                                                          {"a.avi", TFitFilter::Sharp},
                                                          {"a.mov", TFitFilter::Sharp}};
  for (const auto& [out, fit] : automatic) {
    project.SetOutputPath(out);
    EXPECT_EQ(project.MakeJobSettings().Options.fit, fit) << out;
  }
  project.SetScaling(TPictureScaling::Smooth);
  EXPECT_EQ(project.MakeJobSettings().Options.fit, TFitFilter::Smooth);
  project.SetScaling(TPictureScaling::Sharp);
  project.SetOutputPath("a.mp4");
  EXPECT_EQ(project.MakeJobSettings().Options.fit, TFitFilter::Sharp);
  EXPECT_EQ(project.MakeJobSettings().Kind, TOutputKind::Mp4);
  project.ResetProject();
  EXPECT_EQ(project.Scaling(), TPictureScaling::Sharp) << "a remembered setting, not part of the slideshow";
  for (TPictureScaling s : {TPictureScaling::Automatic, TPictureScaling::Sharp, TPictureScaling::Smooth})
    EXPECT_EQ(ScalingFromWord(ScalingWord(s)), s);
  EXPECT_EQ(ScalingFromWord("blurry"), TPictureScaling::Automatic);
}

}  // namespace
}  // namespace sdm
