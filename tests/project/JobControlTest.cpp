#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "avi/OutputKind.h"
#include "avi/SoundtrackFixtures.h"
#include "avi/U_BmpToAvi.h"
#include "project/U_JobControl.h"
#include "project/U_ProjectFile.h"
#include "project/U_SlideProject.h"
#include "support/Errors.h"
#include "support/SettingsStore.h"
#include "support/U_Log.h"
#include "support/UserInteraction.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

class Recorder : public IUserInteraction {
public:
  std::vector<std::string> messages, questions, finished;
  int answer = mrNo;
  int MessageBox(const std::string&, const std::string& text, int buttons, int) override {
    if (buttons == mbOk) {
      messages.push_back(text);
      return mrOk;
    }
    questions.push_back(text);
    return answer;
  }
  void JobFinished(const std::string& path) override { finished.push_back(path); }
};

class View : public IJobView {
public:
  int addFilesDialogs = 0, outputDialogs = 0, frames = 0;
  std::vector<std::string> statuses, labels;
  std::function<void()> onFrame;        // after each preview
  std::function<void()> onMuxProgress;  // after each muxer report
  void PreviewChanged(const TDib24* f) override {
    if (!f) return;
    ++frames;
    if (onFrame) onFrame();
  }
  void StatusChanged(const std::string& t) override { statuses.push_back(t); }
  void ProgressLabelChanged(const std::string& t) override {
    labels.push_back(t);
    if (!t.empty() && onMuxProgress) onMuxProgress();
  }
  void OpenAddFilesDialog() override { ++addFilesDialogs; }
  void OpenOutputDialog() override { ++outputDialogs; }
};

std::string DibEntry(TBmpToAvi& avi) {
  TStringList codecs;
  avi.ListCodecs(codecs);
  for (const auto& l : codecs.Items())
    if (l.compare(0, 4, "DIB ") == 0) return l;
  ADD_FAILURE() << "no DIB entry";
  return "DIB ";
}

int VideoPackets(const std::string& file) { return static_cast<int>(ProbePackets(file, "v:0").size()); }

// The files a job writes under names of their own beside its output.
std::vector<std::string> PendingFilesIn(const TempDir& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.path().extension() == ".part") found.push_back(e.path().string());
  return found;
}

}  // namespace

class JobControl : public PrivateRegistryTest {
protected:
  Recorder ui;
  View view;
  TEventLoop loop;
  TBmpToAvi avi;
  TSlideProject project;
  std::unique_ptr<TKLog> log;
  std::unique_ptr<TJobControl> job;
  std::string out;

  void SetUp() override {
    SetUserInteraction(&ui);
    project.Interaction = &ui;
    log = std::make_unique<TKLog>(dir.file("job.log"), false, 10000, false);
    job = std::make_unique<TJobControl>(project, avi, loop, log.get(), nullptr, &view);
    out = dir.file("out.avi");
    project.SetResolution("320x240");
    project.SetCodecEntry(DibEntry(avi));
  }
  void TearDown() override {
    job.reset();
    SetUserInteraction(nullptr);
  }
  void Pictures(int n) {
    const char* names[] = {"examples/bars.bmp", "examples/portrait.bmp", "examples/landscape.jpg"};
    for (int i = 0; i < n; ++i) project.AddPicture(SourcePath(names[i % 3]));
  }
  // A short job: one frame per picture.
  void Quick() {
    project.SetSingleFrame(true);
    project.SetOutputPath(out);
  }
  void RunToEnd() {
    loop.RunUntil([&] { return !job->Running(); });
  }
  // The messages of the log, oldest first, as "Level message".
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    for (const auto& l : log->Lines()) {
      const auto a = l.find('\t'), b = l.find('\t', a + 1);
      lines.push_back(l.substr(0, a) + " " + l.substr(b + 1));
    }
    std::reverse(lines.begin(), lines.end());
    return lines;
  }
  bool Logged(const std::string& line) {
    auto l = LogLines();
    return std::find(l.begin(), l.end(), line) != l.end();
  }
};

TEST_F(JobControl, GoChecksStopInTheirOrderWithTheirMessages) {
  EXPECT_FALSE(job->Go());
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Empty picture list"});
  EXPECT_EQ(view.addFilesDialogs, 1);

  Pictures(1);
  EXPECT_FALSE(job->Go());
  EXPECT_EQ(ui.messages.back(), "Invalid output file");
  EXPECT_EQ(view.outputDialogs, 1);

  project.SetOutputPath(out);
  const std::string codec = project.CodecEntry();
  project.SetCodecEntry("");
  EXPECT_FALSE(job->Go());
  EXPECT_EQ(ui.messages.back(), "Please select a codec first");
  project.SetCodecEntry(codec);

  // An existing video is asked about; No keeps it as it is.
  WriteText(out, "an older video");
  EXPECT_FALSE(job->Go());
  EXPECT_EQ(ui.questions,
            std::vector<std::string>{"Output file already exists, and will be overwritten. Continue anyway ?"});
  EXPECT_EQ(ReadText(out), "an older video");
  EXPECT_TRUE(log->Lines().empty() || !Logged("Info Start Encoding"));
  EXPECT_EQ(ui.messages.size(), 3u);
  EXPECT_FALSE(job->Running());
  EXPECT_TRUE(job->ControlEnabled("go_btn"));

  // An empty file is not asked about.
  WriteText(out, "");
  project.SetSingleFrame(true);
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(job->LastEnd(), TJobEnd::Finished);
}

TEST_F(JobControl, FinishedJobLogsItsSettingsAndEndsIdle) {
  Pictures(3);
  project.SetOutputPath(out);
  project.SetSingleFrame(true);
  WriteText(out, "old");
  ui.answer = mrYes;
  bool sawBusy = false;
  view.onFrame = [&] {
    sawBusy = job->Busy() && project.Busy && !job->ControlEnabled("go_btn") && !job->ControlEnabled("load_btn") &&
              job->ControlEnabled("cancel_btn") && job->StatusText() == "Processing Video";
  };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_TRUE(sawBusy);
  EXPECT_EQ(job->LastEnd(), TJobEnd::Finished);
  EXPECT_EQ(ui.finished, std::vector<std::string>{out});
  EXPECT_EQ(ui.messages, std::vector<std::string>{});
  const std::vector<std::string> expected{"Info Start Encoding",
                                          "Info Resolution : 320x240",
                                          "Info FPS : 15",
                                          "Info Time per Picture : 3000 ms",
                                          "Info FCC : DIB ",
                                          "Info OSD : No",
                                          "Info Dynamic Pictures : No",
                                          "Info XFade : No",
                                          "Info Single Frame mode : Yes",
                                          "Info Processing Terminated"};
  auto lines = LogLines();
  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [](const std::string& l) {
                               return l.find("Files count") != std::string::npos ||
                                      l.find("files to be added") != std::string::npos;
                             }),
              lines.end());
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(GetSetting("LastFCC"), "DIB ");
  EXPECT_EQ(VideoPackets(out) >= 3 && VideoPackets(out) <= 5, true);
  // Idle again: controls enabled, Cancel off, Single Frame mode over.
  EXPECT_FALSE(job->Busy());
  EXPECT_TRUE(job->ControlEnabled("go_btn"));
  EXPECT_FALSE(job->ControlEnabled("cancel_btn"));
  EXPECT_FALSE(project.SingleFrame());
  EXPECT_EQ(job->StatusText(), "");
  EXPECT_TRUE(job->PreviewVisible());  // the last frame stays on show
}

TEST_F(JobControl, FrameBudgetSwitchesVisualOptionsOffButKeepsTheRateRead) {
  Pictures(2);
  project.SetOutputPath(out);
  project.SetDynamic(true);  // 25 fps
  project.SetMsPerPicture(1000);
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Visual options disabled due to incompatible temporal settings"});
  EXPECT_TRUE(Logged("Info FPS : 25"));
  EXPECT_TRUE(Logged("Info Dynamic Pictures : No"));
  EXPECT_TRUE(Logged("Info XFade : No"));
  EXPECT_EQ(project.FramesPerSecond(), 15);
  EXPECT_EQ(view.frames, 50);  // 2 pictures × 25 frames, no fades
}

TEST_F(JobControl, WriterRefusalReturnsToIdleWithTheWritersMessage) {
  Pictures(1);
  Quick();
  project.SetCodecEntry("ZZZZ no such codec");
  try {
    job->Go();
    FAIL() << "no error";
  } catch (const EError& e) {
    EXPECT_EQ(std::string(e.what()), "No compressor for ZZZZ available");
  }
  EXPECT_FALSE(job->Running());
  EXPECT_FALSE(job->Busy());
  EXPECT_TRUE(job->ControlEnabled("go_btn"));
  EXPECT_FALSE(job->ControlEnabled("cancel_btn"));
  EXPECT_EQ(GetSetting("LastFCC"), "");
}

TEST_F(JobControl, CancelDuringTheVideoLeavesAShorterValidVideo) {
  Pictures(2);
  project.SetOutputPath(out);
  project.SetMsPerPicture(2000);  // 30 frames each
  project.SetCrossFade(false);
  project.SetOsd(false);
  view.onFrame = [&] {
    if (view.frames == 3) {
      job->Cancel();
      EXPECT_FALSE(job->ControlEnabled("cancel_btn"));
    }
  };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::VideoAborted);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Aborted by user."});
  EXPECT_TRUE(Logged("Info Video processing aborted by user"));
  EXPECT_TRUE(ui.finished.empty());
  const int packets = VideoPackets(out);
  EXPECT_TRUE(packets == 3 || packets == 5) << packets;
  EXPECT_TRUE(job->ControlEnabled("go_btn"));
}

TEST_F(JobControl, FailureAtTheFirstFrameIsAFailureAndTheNextJobRuns) {
  const std::string pic = dir.file("p.bmp");
  fs::copy_file(SourcePath("examples/bars.bmp"), pic);
  project.AddPicture(pic);
  Quick();
  fs::remove(pic);  // gone after it was added: the very first frame fails
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::VideoFailed);
  // The classic text, then the picture's own error on a line of its own.
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind("An error has occured. Please reset the application.\n", 0), 0u) << ui.messages[0];
  EXPECT_NE(ui.messages[0].find(pic), std::string::npos) << ui.messages[0];
  EXPECT_EQ(ui.messages[0].substr(ui.messages[0].find('\n') + 1), job->LastError());
  EXPECT_TRUE(ui.finished.empty());
  EXPECT_TRUE(Logged("Info Video processing failed"));
  auto lines = LogLines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.rfind("Error ", 0) == 0 && l.find("p.bmp") != std::string::npos;
  }));
  // The window is idle: its status says the job failed, not that it runs.
  EXPECT_EQ(job->StatusText(), "Video processing failed");
  EXPECT_TRUE(job->ControlEnabled("go_btn"));

  fs::copy_file(SourcePath("examples/bars.bmp"), pic);
  project.SetSingleFrame(true);
  ui.answer = mrYes;
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::Finished);
}

TEST_F(JobControl, AVideoThatEndsEmptyAsksForAnotherCodec) {
  Pictures(2);
  Quick();
  // The writer's file vanishes under it.
  view.onFrame = [&] {
    for (const auto& f : PendingFilesIn(dir)) fs::remove(f);
  };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::VideoEmpty);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"An error occured while processing video. Please choose another "
                                                  "codec or different settings and retry."});
  EXPECT_TRUE(Logged("Info Video processing failed"));
  EXPECT_EQ(job->StatusText(), "Video processing failed");
  EXPECT_TRUE(job->ControlEnabled("go_btn"));
}

TEST_F(JobControl, TheJobKeepsTheListsItStartedWith) {
  Pictures(2);
  Quick();
  view.onFrame = [&] {
    if (view.frames == 1) {
      project.AddPicture(SourcePath("examples/wide.jpg"));
      project.DeletePicture(0);
    }
  };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::Finished);
  EXPECT_EQ(view.frames, 2);
  EXPECT_EQ(job->ProgressMax(), 2);
}

TEST_F(JobControl, SoundtrackIsMuxedAndAForeignTempFileIsLeftAlone) {
  const std::string mp3 = MakeMp3(dir, "s.mp3", 44100, 2, 2.0, {"-b", "128"});
  Pictures(2);
  Quick();
  project.SetSoundtrack(mp3, 2.0 / 86400);
  const std::string foreign = dir.file("temp.avi");
  WriteText(foreign, "someone else's file");
  std::vector<std::string> labels;
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::Finished) << job->LastError();
  EXPECT_EQ(ui.finished, std::vector<std::string>{out});
  EXPECT_EQ(ReadText(foreign), "someone else's file");
  EXPECT_FALSE(fs::exists(dir.file("temp-1.avi")));
  EXPECT_EQ(ProbeValue(out, "a:0", "stream=codec_name"), "mp3");
  EXPECT_EQ(ProbeValue(out, "v:0", "stream=width"), "320");
  EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(), "Processing Audio"), view.statuses.end());
  EXPECT_NE(std::find(view.labels.begin(), view.labels.end(), "Adding Audio Stream"), view.labels.end());
  EXPECT_TRUE(Logged("Info Processing Audio"));
  EXPECT_EQ(LogLines().back(), "Info Processing Terminated");
  EXPECT_FALSE(job->PreviewVisible());
  EXPECT_EQ(job->ProgressLabel(), "");
}

TEST_F(JobControl, ASoundtrackThatCannotBeReadIsRefusedBeforeTheVideo) {
  const std::string bad = dir.file("noise.mp3");
  WriteText(bad, std::string(5000, 'x'));
  Pictures(2);
  Quick();
  WriteText(out, "an older video");
  ui.answer = mrYes;
  project.SetSoundtrack(bad, 1.0 / 86400);
  EXPECT_FALSE(job->Go());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind("The soundtrack cannot be used\nThe sound file \"" + bad + "\" cannot be read", 0), 0u)
      << ui.messages[0];
  EXPECT_FALSE(Logged("Info Start Encoding"));
  EXPECT_EQ(view.frames, 0);
  EXPECT_EQ(ReadText(out), "an older video");
  EXPECT_TRUE(job->ControlEnabled("go_btn"));
}

TEST_F(JobControl, AFailedMuxKeepsTheSilentVideoAndNeverAnEarlierFile) {
  // A good soundtrack when Go checks it, ruined while the video is made.
  const std::string mp3 = MakeMp3(dir, "s.mp3", 44100, 2, 1.0, {"-b", "128"});
  Pictures(2);
  Quick();
  project.SetSoundtrack(mp3, 1.0 / 86400);
  view.onFrame = [&] { WriteText(mp3, std::string(5000, 'x')); };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::MuxFailed);
  EXPECT_TRUE(ui.finished.empty());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(out), std::string::npos) << ui.messages[0];
  EXPECT_TRUE(Logged("Info Audio processing failed"));
  EXPECT_EQ(job->StatusText(), "Audio processing failed");
  // Nothing was at the output: the complete silent video is put there.
  EXPECT_EQ(ProbeValue(out, "v:0", "stream=width"), "320");
  EXPECT_EQ(ProbeValue(out, "a", "stream=codec_name"), "");
  EXPECT_FALSE(fs::exists(dir.file("temp.avi")));
  EXPECT_TRUE(job->ControlEnabled("go_btn"));

  // With an earlier video at the output, that stays, and the silent video
  // is kept as "temp.avi", which the message names.
  WriteText(out, "an older video");
  WriteBytes(mp3, ReadBytes(MakeMp3(dir, "s2.mp3", 44100, 2, 1.0, {"-b", "128"})));
  ui.messages.clear();
  ui.answer = mrYes;
  project.SetSingleFrame(true);
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::MuxFailed);
  EXPECT_EQ(ReadText(out), "an older video");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(dir.file("temp.avi")), std::string::npos) << ui.messages[0];
  EXPECT_EQ(VideoPackets(dir.file("temp.avi")), 2);
  EXPECT_TRUE(PendingFilesIn(dir).empty());
}

TEST_F(JobControl, TheEarlierVideoStaysUntilTheNewOneIsComplete) {
  const std::string old = "an older video";
  Pictures(2);
  project.SetOutputPath(out);
  project.SetMsPerPicture(2000);
  ui.answer = mrYes;
  // While the job runs, the output is still the earlier video.
  WriteText(out, old);
  std::string during;
  view.onFrame = [&] {
    if (view.frames == 2) during = ReadText(out);
    if (view.frames == 3) job->Cancel();
  };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(during, old);
  // Cancelled after some frames: the shorter video takes its place.
  EXPECT_EQ(job->LastEnd(), TJobEnd::VideoAborted);
  EXPECT_GE(VideoPackets(out), 3);

  // A failure: the picture vanishes at the second frame.
  WriteText(out, old);
  const std::string pic = dir.file("p.bmp");
  fs::copy_file(SourcePath("examples/bars.bmp"), pic);
  project.AddPicture(pic);
  project.SetSingleFrame(true);
  view.onFrame = [&] { fs::remove(pic); };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::VideoFailed);
  EXPECT_EQ(ReadText(out), old);

  // A cancel before the first frame: no video at all, the earlier one stays.
  project.DeletePicture(project.PictureCount() - 1);
  view.onFrame = nullptr;
  ASSERT_TRUE(job->Go());
  job->Cancel();
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::VideoAborted);
  EXPECT_EQ(ReadText(out), old);
  EXPECT_TRUE(PendingFilesIn(dir).empty());
}

TEST_F(JobControl, CancelDuringTheAudioKeepsTheTemporaryVideo) {
  const std::string mp3 = MakeMp3(dir, "s.mp3", 44100, 2, 2.0, {"-b", "128"});
  Pictures(2);
  Quick();
  project.SetSoundtrack(mp3, 2.0 / 86400);
  view.onMuxProgress = [&] { job->Cancel(); };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::MuxAborted);
  // The message says where the complete silent video is.
  const std::string temp = dir.file("temp.avi");
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Aborted by user.\nThe video without sound is kept as " + temp});
  EXPECT_TRUE(Logged("Info Audio processing aborted by user"));
  EXPECT_TRUE(Logged("Info The video without sound is kept as " + temp));
  ASSERT_TRUE(fs::exists(temp));
  EXPECT_EQ(VideoPackets(temp), 2);
  // What the muxer wrote before it stopped is a valid AVI too.
  if (fs::exists(out)) {
    const CommandResult check = RunCommand({"ffmpeg", "-v", "error", "-i", out, "-f", "null", "-"});
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.err, "");
  }
}

TEST_F(JobControl, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsDeleted) {
  const std::string picture = dir.file("p.bmp");
  fs::copy_file(SourcePath("examples/bars.bmp"), picture);
  const std::string mp3 = MakeMp3(dir, "s.mp3", 44100, 2, 1.0, {"-b", "128"});
  const std::string sdm = dir.file("show.sdm");
  project.AddPicture(picture);
  project.SetSingleFrame(true);
  project.SetSoundtrack(mp3, 1.0 / 86400);
  SaveProject(project, sdm);
  ASSERT_EQ(project.ProjectFile(), sdm);
  ASSERT_EQ(fs::create_directory(dir.file("links")), true);
  ui.answer = mrYes;  // any overwrite question would be answered yes
  const std::string refusal = "The output file must differ from the pictures, the soundtrack and the project file\n";
  for (const std::string& input : {picture, mp3, sdm}) {
    const std::vector<uint8_t> before = ReadBytes(input);
    const std::string name = fs::path(input).filename().string();
    fs::create_symlink(input, dir.file("links/sym-" + name));
    fs::create_hard_link(input, dir.file("links/hard-" + name));
    // The file itself, through a symbolic link, by a hard link, by a path
    // with a detour: all the same file.
    for (const std::string& output :
         {input, dir.file("links/sym-" + name), dir.file("links/hard-" + name), dir.file("links/../" + name)}) {
      SCOPED_TRACE(output);
      ui.messages.clear();
      project.SetOutputPath(output);
      EXPECT_FALSE(job->Go());
      EXPECT_TRUE(ui.questions.empty());
      ASSERT_EQ(ui.messages.size(), 1u);
      EXPECT_EQ(ui.messages[0], refusal + output + " = " + (input == picture ? picture : input));
      EXPECT_EQ(ReadBytes(input), before);
      EXPECT_FALSE(job->Running());
      EXPECT_TRUE(job->ControlEnabled("go_btn"));
    }
  }
  EXPECT_TRUE(Logged("Error The output file must differ from the pictures, the soundtrack and the project file : " +
                     mp3 + " = " + mp3));
  // A file of the same content is another file: it may be replaced.
  fs::copy_file(picture, dir.file("copy.avi"));
  project.ClearSoundtrack();
  project.SetOutputPath(dir.file("copy.avi"));
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::Finished);
  EXPECT_EQ(ReadBytes(picture), ReadBytes(SourcePath("examples/bars.bmp")));
}

TEST_F(JobControl, AFolderAtTheOutputPathIsNeverTouched) {
  Pictures(1);
  project.SetSingleFrame(true);
  ui.answer = mrYes;
  const std::string empty = dir.file("empty.avi"), full = dir.file("full.avi");
  fs::create_directory(empty);
  fs::create_directories(full + "/inside");
  ASSERT_EQ(mkfifo(dir.file("pipe.avi").c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {empty, "is a folder"}, {full, "is a folder"}, {dir.file("pipe.avi"), "is a named pipe"}};
  for (const auto& [output, kind] : cases) {
    ui.messages.clear();
    project.SetOutputPath(output);
    EXPECT_FALSE(job->Go());
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Invalid output file\n" + output + " " + kind});
    EXPECT_TRUE(Logged("Error Invalid output file : " + output + " " + kind));
  }
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(fs::is_directory(empty));
  EXPECT_TRUE(fs::is_directory(full + "/inside"));
  EXPECT_TRUE(fs::is_fifo(dir.file("pipe.avi")));
  EXPECT_EQ(view.outputDialogs, 0);
}

TEST_F(JobControl, ASoundtrackGoneByTheEndOfTheVideoGivesASilentVideo) {
  const std::string mp3 = MakeMp3(dir, "s.mp3", 44100, 2, 1.0, {"-b", "128"});
  Pictures(2);
  Quick();
  project.SetSoundtrack(mp3, 1.0 / 86400);
  view.onFrame = [&] { fs::remove(mp3); };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::Finished);
  EXPECT_EQ(ui.finished, std::vector<std::string>{out});
  EXPECT_EQ(ProbeValue(out, "a", "stream=codec_name"), "");
}

// ---------------------------------------------------------------- MP4 and WebM

TEST_F(JobControl, AnMp4IsWrittenInOnePassWithItsSoundAtTheExactRate) {
  const std::string song = dir.file("song.wav");
  ASSERT_EQ(RunCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", song, "synth", "5", "sine", "440"}).status,
            0);
  project.AddPicture(SourcePath("examples/landscape.jpg"));
  project.SetSoundtrack(song, 5.0 / 86400);
  project.SetFramesPerSecond(30);
  project.SetMsPerPicture(3000);
  project.SetOsd(false);
  out = dir.file("show.mp4");
  project.SetOutputPath(out);
  project.SetCodecEntry(ContainerCodecEntries(TOutputKind::Mp4).front());
  WriteText(out, "an older video");
  ui.answer = mrYes;
  std::string during;
  view.onFrame = [&] {
    if (view.frames == 1) during = ReadText(out);
  };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  ASSERT_EQ(job->LastEnd(), TJobEnd::Finished) << job->LastError();
  EXPECT_EQ(during, "an older video") << "replaced only when complete";
  EXPECT_EQ(ui.finished, std::vector<std::string>{out});
  EXPECT_EQ(ui.messages, std::vector<std::string>{});
  EXPECT_EQ(view.statuses, (std::vector<std::string>{"Processing Video", ""})) << "no audio phase";
  EXPECT_FALSE(fs::exists(dir.file("temp.avi")));
  // 3000 ms at exactly 30 frames a second is 90 frames (an AVI at "30", that
  // is 1000/33, has 91).
  EXPECT_EQ(view.frames, 90);
  EXPECT_EQ(ProbeValue(out, "v:0", "stream=codec_name"), "h264");
  EXPECT_EQ(ProbeValue(out, "v:0", "stream=r_frame_rate"), "30/1");
  EXPECT_EQ(ProbeValue(out, "v:0", "stream=nb_frames"), "90");
  EXPECT_EQ(ProbeValue(out, "a:0", "stream=codec_name"), "aac");
  EXPECT_TRUE(Logged("Info Container : MP4"));
  EXPECT_TRUE(Logged("Info H.264 : CRF 20, preset medium"));
  EXPECT_TRUE(Logged("Info Picture scaling : Smooth"));
  EXPECT_EQ(GetSetting("LastFCC"), "") << "the AVI compressor's choice stays what it was";
}

TEST_F(JobControl, ACancelledMp4IsFinishedAndAFailedOneLeavesTheEarlierVideo) {
  Pictures(2);
  project.SetMsPerPicture(2000);  // 30 frames each
  project.SetCrossFade(false);
  project.SetOsd(false);
  out = dir.file("show.webm");
  project.SetOutputPath(out);
  project.SetCodecEntry(ContainerCodecEntries(TOutputKind::WebM).front());
  view.onFrame = [&] {
    if (view.frames == 6) job->Cancel();
  };
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::VideoAborted);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Aborted by user.\nThe video made so far is kept as " + out});
  EXPECT_TRUE(Logged("Info The video made so far is kept as " + out));
  EXPECT_EQ(ProbeValue(out, "v:0", "stream=codec_name"), "vp9");
  EXPECT_EQ(static_cast<int>(ProbePackets(out, "v:0").size()), 6);

  // A picture gone by the time its frames are made: the job fails, and the
  // video made before stays as it was, with nothing left beside it.
  const std::vector<uint8_t> before = ReadBytes(out);
  const std::string pic = dir.file("gone.jpg");
  fs::copy_file(SourcePath("examples/wide.jpg"), pic);
  project.AddPicture(pic);
  fs::remove(pic);
  ui.messages.clear();
  ui.answer = mrYes;
  view.onFrame = nullptr;
  ASSERT_TRUE(job->Go());
  RunToEnd();
  EXPECT_EQ(job->LastEnd(), TJobEnd::VideoFailed);
  EXPECT_EQ(ReadBytes(out), before);
  for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_NE(e.path().extension(), ".part") << e.path();
}

TEST_F(JobControl, AnOutputOfAnotherKindOrWithoutItsEncoderIsRefusedBeforeAnything) {
  Pictures(1);
  Quick();
  for (const std::string name : {"show.mov", "show", "show.mp4.part"}) {
    const std::string path = dir.file(name);
    WriteText(path, "keep me");
    project.SetOutputPath(path);
    ui.messages.clear();
    EXPECT_FALSE(job->Go()) << name;
    EXPECT_EQ(ui.messages,
              std::vector<std::string>{"Only AVI (.avi), MP4 (.mp4) and WebM (.webm) videos can be written\n" + path});
    EXPECT_EQ(ReadText(path), "keep me");
  }
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(
      Logged("Error Only AVI (.avi), MP4 (.mp4) and WebM (.webm) videos can be written : " + dir.file("show.mov")));

  ScopedEnv only("SLIDOMAT_CODECS", "DIB ");
  project.SetOutputPath(dir.file("show.mp4"));
  ui.messages.clear();
  EXPECT_FALSE(job->Go());
  EXPECT_EQ(ui.messages,
            std::vector<std::string>{"This kind of video cannot be made here: its encoder is missing\nMP4 : libx264"});
  EXPECT_FALSE(fs::exists(dir.file("show.mp4")));
  EXPECT_TRUE(job->ControlEnabled("go_btn"));
}

TEST_F(JobControl, AnAviIsTheSameFileWithAutomaticScalingAsItAlwaysWas) {
  project.AddPicture(SourcePath("examples/landscape.jpg"));
  Quick();
  ui.answer = mrYes;
  auto render = [&](TPictureScaling scaling) {
    project.SetScaling(scaling);
    project.SetSingleFrame(true);
    EXPECT_TRUE(job->Go());
    RunToEnd();
    EXPECT_EQ(job->LastEnd(), TJobEnd::Finished);
    return ReadBytes(out);
  };
  const std::vector<uint8_t> sharp = render(TPictureScaling::Sharp);
  EXPECT_EQ(render(TPictureScaling::Automatic), sharp);
  EXPECT_FALSE(Logged("Info Picture scaling : Smooth"));
  EXPECT_NE(render(TPictureScaling::Smooth), sharp);
  EXPECT_TRUE(Logged("Info Picture scaling : Smooth"));
}

TEST(JobControlNames, FreeTempNameSkipsExistingFiles) {
  TempDir dir;
  const std::string out = dir.file("v.avi");
  EXPECT_EQ(TJobControl::FreeTempName(out), dir.file("temp.avi"));
  WriteText(dir.file("temp.avi"), "x");
  WriteText(dir.file("temp-1.avi"), "x");
  EXPECT_EQ(TJobControl::FreeTempName(out), dir.file("temp-2.avi"));
  // An output that is itself called temp.avi is never its own temporary.
  EXPECT_NE(TJobControl::FreeTempName(dir.file("temp.avi")), dir.file("temp.avi"));
}
