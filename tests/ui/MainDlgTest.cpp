// The main window driven as a user drives it: clicks on its buttons and menu
// items, answers to the boxes and pickers they open, files dropped on it.
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <filesystem>

#include "avi/SoundtrackFixtures.h"
#include "frames/U_FrameServer.h"
#include "localization/TextStorage.h"
#include "platform/registry/Registry.h"
#include "platform/vfw/Vfw.h"
#include "support/SettingsStore.h"
#include "support/U_SysUtils.h"
#include "ui/CodecDlgs.h"
#include "ui/CodecLoadingDlg.h"
#include "ui/GlyphButton.h"
#include "ui/U_ExpertDlg.h"
#include "ui/UiTestSupport.h"
#include "ui_CodecAboutDlg.h"
#include "ui_CodecConfigDlg.h"
#include "ui_U_ExpertDlg.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Files dragged from a file manager: enter, then drop. Returns whether the
// window accepted the drag.
bool DropFiles(QWidget& window, const std::vector<std::string>& paths, bool drop = true) {
  QMimeData data;
  QList<QUrl> urls;
  for (const std::string& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
  data.setUrls(urls);
  const QPoint at(400, 300);
  QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  if (!enter.isAccepted() || !drop) return enter.isAccepted();
  QDropEvent dropEvent(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &dropEvent);
  QCoreApplication::processEvents();  // the window handles a drop once it has returned
  return dropEvent.isAccepted();
}

std::vector<int> SlotIndices(TMainDlg& main) {
  std::vector<int> v;
  for (int i = 0; i < TMainDlg::ThumbSlotCount; ++i)
    v.push_back(main.ThumbSlot(i)->isVisible() ? main.ThumbSlot(i)->PictureIndex : -2);
  return v;
}

class MainWindow : public WindowTest {};

}  // namespace

TEST_F(MainWindow, StartUpListsTheCodecsAndSelectsTheRememberedOne) {
  // The "Loading..." dialog is modal while the codecs are listed and refuses
  // to be closed before it is done.
  ModalScript script;
  script.Then([](QWidget* w) {
    EXPECT_EQ(w->objectName(), "LoadDlg");
    EXPECT_EQ(w->windowTitle(), "Loading...");
    static_cast<QDialog*>(w)->reject();
    EXPECT_TRUE(w->isVisible());
  });
  setenv("SLIDOMAT_CODECS", "xvid,cvid,DIB ", 1);
  SetSetting("LastFCC", "CVID");  // written in capitals, the entry is "cvid ..."
  Start({"--first-argument"});
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_EQ(Form().codecs_cmb->count(), 3);
  EXPECT_EQ(Form().codecs_cmb->currentText(), "cvid Cinepak Codec");
  EXPECT_EQ(Project().CodecEntry(), "cvid Cinepak Codec");
  EXPECT_EQ(Main().windowTitle().toStdString(), "Slidomat v" + GetFileVersionString(ProgramFilePath()));
  QStringList resolutions;
  for (int i = 0; i < Form().res_cmb->count(); ++i) resolutions << Form().res_cmb->itemText(i);
  EXPECT_EQ(resolutions,
            QStringList({"320x240", "640x480", "720x480", "720x576", "1280x720", "1920x1080", "3840x2160"}));
  EXPECT_EQ(Form().res_cmb->currentText(), "720x480");
  EXPECT_EQ(Panel(0), "0 pictures");
  EXPECT_FALSE(Form().matchaudio_btn->isEnabled());
  EXPECT_FALSE(Form().cancel_btn->isEnabled());
  const auto log = LogMessages();
  ASSERT_GE(log.size(), 7u);
  EXPECT_EQ(log[0], "Starting");
  EXPECT_EQ(log[1], ProgramPath());
  EXPECT_EQ(log[2], Main().windowTitle().toStdString());
  EXPECT_EQ(log[3].rfind("Windows : ", 0), 0u) << log[3];
  EXPECT_EQ(log[4].rfind("64Bits : ", 0), 0u);
  EXPECT_EQ(log[5].rfind("Administrator : ", 0), 0u);
  EXPECT_EQ(log[6], "--first-argument");
  Stop();

  // Nothing remembered: the entry beginning with "xvid", else the first one.
  SetSetting("LastFCC", "");
  Start();
  EXPECT_EQ(Form().codecs_cmb->currentText(), "xvid Xvid MPEG-4 Video Codec");
  Stop();
  setenv("SLIDOMAT_CODECS", "MJPG,DIB ", 1);
  Start();
  EXPECT_EQ(Form().codecs_cmb->currentText(), "MJPG Motion JPEG");
  Stop();

  // No compressor at all: nothing chosen, the codec buttons stay off, and Go
  // says so.
  setenv("SLIDOMAT_CODECS", "", 1);
  Start();
  EXPECT_EQ(Form().codecs_cmb->count(), 0);
  EXPECT_EQ(Project().CodecEntry(), "");
  EXPECT_FALSE(Form().codecconfig_btn->isEnabled());
  EXPECT_FALSE(Form().codecabout_btn->isEnabled());
  Main().AddFiles({Picture("a.jpg")});
  Project().SetOutputPath(dir.file("out.avi"));
  ModalScript noCodec;
  noCodec.Then(noCodec.Answer(QMessageBox::Ok));
  Form().go_btn->click();
  EXPECT_EQ(noCodec.Texts, std::vector<std::string>{"Please select a codec first"});
  EXPECT_FALSE(Main().Job()->Running());
}

TEST_F(MainWindow, AddFilesTakesThePicturesInTheFoldersOrder) {
  Start();
  const std::string a = Picture("a.jpg"), b = Picture("b.bmp", "bars.bmp"), c = Picture("c.jpg", "wide.jpg");
  WriteText(dir.file("pics/notes.txt"), "not a picture");
  ModalScript script;
  script.Then(ModalScript::Choose({c, dir.file("pics/notes.txt"), b, a}));
  QTest::mouseClick(Form().addphotos_btn, Qt::LeftButton);
  ASSERT_EQ(script.Pending(), 0);
  EXPECT_EQ(Project().PictureList().Items(), (std::vector<std::string>{a, b, c}));
  EXPECT_EQ(Project().CaptionList().Items(), (std::vector<std::string>{"a.jpg", "b.bmp", "c.jpg"}));
  const auto log = LogMessages();
  EXPECT_TRUE(Contains(log, "Files count : 0"));
  EXPECT_TRUE(Contains(log, "4 files to be added"));
  EXPECT_TRUE(Contains(log, "File not supported : " + dir.file("pics/notes.txt")));
  EXPECT_TRUE(Contains(log, "Files count : 3"));
  EXPECT_EQ(Panel(0), "3 pictures");
  EXPECT_EQ(GetSetting("PicsPath"), dir.file("pics/"));
  EXPECT_EQ(Form().thumbstats_lbl->text(), "1 - 3 / 3");
  EXPECT_EQ(SlotIndices(Main()), (std::vector<int>{0, 1, 2, -2, -2}));

  // The picture dialog opens in the remembered folder the next time.
  ModalScript again;
  again.Then([&](QWidget* w) {
    EXPECT_EQ(static_cast<QFileDialog*>(w)->directory().absolutePath().toStdString() + "/", dir.file("pics/"));
    EXPECT_TRUE(static_cast<QFileDialog*>(w)->selectedNameFilter().startsWith("All pictures (*.jpg"));
    static_cast<QFileDialog*>(w)->reject();
  });
  Form().Add1->trigger();
  EXPECT_EQ(again.Pending(), 0);
  EXPECT_EQ(Project().PictureCount(), 3);
}

TEST_F(MainWindow, DroppedFilesArePicturesUnlessOneMp3Alone) {
  Start();
  const std::string mp3 = MakeMp3(dir, "song.mp3", 44100, 2, 2.0, {"-b", "128"});
  const std::string loud = dir.file("LOUD.MP3");
  fs::copy_file(mp3, loud);
  const std::string pic = Picture("p.jpg");

  // A picture with an MP3: the picture is added, the MP3 logged.
  EXPECT_TRUE(DropFiles(Main(), {pic, mp3}));
  EXPECT_EQ(Project().PictureList().Items(), std::vector<std::string>{pic});
  EXPECT_TRUE(Contains(LogMessages(), "File not supported : " + mp3));
  EXPECT_EQ(Project().SoundPath(), "");
  // One ".MP3" in capitals is not a soundtrack; a folder brings its
  // pictures in name order, and names what it holds besides.
  EXPECT_TRUE(DropFiles(Main(), {loud}));
  EXPECT_TRUE(Contains(LogMessages(), "File not supported : " + loud));
  const std::string other = Picture("b.png", "bars.bmp");
  WriteText(dir.file("pics/notes.txt"), "not a picture");
  EXPECT_TRUE(DropFiles(Main(), {dir.file("pics")}));
  EXPECT_TRUE(Contains(LogMessages(), "File not supported : " + dir.file("pics/notes.txt")));
  EXPECT_EQ(Project().PictureList().Items(), (std::vector<std::string>{pic, other, pic}));
  EXPECT_EQ(Project().SoundPath(), "");
  Form().imgreset_btn->click();
  Main().AddFiles({pic});

  // One ".mp3" alone becomes the soundtrack, with its length.
  EXPECT_TRUE(DropFiles(Main(), {mp3}));
  EXPECT_EQ(Project().SoundPath(), mp3);
  EXPECT_EQ(Form().sound_txt->text().toStdString(), mp3);
  EXPECT_EQ(Form().audioduration_lbl->text(), "0:02");
  EXPECT_TRUE(Form().matchaudio_btn->isEnabled());
  EXPECT_EQ(Project().PictureCount(), 1);

  // So does any other sound file the library reads, by its lower-case
  // extension: a WAV of three seconds.
  const std::string wav = dir.file("tune.wav");
  ASSERT_EQ(RunCommand({"sox", "-n", "-r", "22050", "-c", "1", "-b", "16", wav, "synth", "3", "sine", "440"}).status,
            0);
  EXPECT_TRUE(DropFiles(Main(), {wav}));
  EXPECT_EQ(Project().SoundPath(), wav);
  EXPECT_EQ(Form().audioduration_lbl->text(), "0:03");
  EXPECT_EQ(Project().PictureCount(), 1);
}

TEST_F(MainWindow, ThumbnailStripMovesOnePictureAtATimeAndRendersOnlyWhatIsNew) {
  Start();
  const char* examples[] = {"landscape.jpg", "portrait.jpg", "wide.jpg", "bars.bmp", "portrait.bmp"};
  std::vector<std::string> five;
  for (int i = 0; i < 5; ++i) five.push_back(Picture("p" + std::to_string(i) + ".jpg", examples[i]));
  Main().AddFiles(five);
  // Five pictures or fewer: the strip does not move, and Jump opens nothing.
  ModalScript none;
  Form().next_btn->click();
  Form().prev_btn->click();
  Form().jump_btn->click();
  EXPECT_EQ(Main().FirstThumb(), 0);
  EXPECT_EQ(Form().thumbstats_lbl->text(), "1 - 5 / 5");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  Main().AddFiles({Picture("p5.jpg", "wide.jpg"), Picture("p6.jpg", "landscape.jpg")});
  EXPECT_EQ(SlotIndices(Main()), (std::vector<int>{0, 1, 2, 3, 4}));
  const int loads = Main().ThumbServer()->Stats().Loads;
  Form().next_btn->click();
  EXPECT_EQ(Form().thumbstats_lbl->text(), "2 - 6 / 7");
  EXPECT_EQ(SlotIndices(Main()), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Main().ThumbServer()->Stats().Loads, loads + 1);  // only the new last slot
  Form().next_btn->click();
  EXPECT_EQ(Form().thumbstats_lbl->text(), "3 - 7 / 7");
  Form().next_btn->click();
  EXPECT_EQ(Form().thumbstats_lbl->text(), "3 - 7 / 7");
  EXPECT_EQ(Main().FirstThumb(), 2);
  EXPECT_EQ(Main().ThumbServer()->Stats().Loads, loads + 2);
  Form().prev_btn->click();
  EXPECT_EQ(Form().thumbstats_lbl->text(), "2 - 6 / 7");
  EXPECT_EQ(SlotIndices(Main()), (std::vector<int>{1, 2, 3, 4, 5}));

  // The slots show what the thumbnail server renders for their picture.
  TBitmap32 expected;
  Main().ThumbServer()->GetFrame(expected, 3);
  EXPECT_EQ(Main().ThumbSlot(2)->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
            QImage(reinterpret_cast<const uchar*>(expected.Bits()), 100, 75, QImage::Format_RGB32));

  // Reset empties the strip, its label and the count.
  QTest::mouseClick(Form().imgreset_btn, Qt::LeftButton);
  EXPECT_EQ(Form().thumbstats_lbl->text(), "");
  EXPECT_FALSE(Form().thumbstats_lbl->isVisible());
  EXPECT_EQ(Panel(0), "0 pictures");
  EXPECT_EQ(Main().FirstThumb(), 0);
  EXPECT_EQ(SlotIndices(Main()), (std::vector<int>{-2, -2, -2, -2, -2}));
}

TEST_F(MainWindow, OutputNameGetsAviAndItsFolderIsRemembered) {
  Start();
  ModalScript script;
  script.Then(ModalScript::Choose({dir.file("movie")}))
      .Then(ModalScript::Choose({dir.file("clip.AVI")}))
      .Then(ModalScript::Choose({}));
  Form().out_btn->click();
  EXPECT_EQ(Project().OutputPath(), dir.file("movie.avi"));
  EXPECT_EQ(Form().out_txt->text().toStdString(), dir.file("movie.avi"));
  EXPECT_EQ(GetSetting("OutPath"), dir.file(""));
  Form().out_btn->click();
  EXPECT_EQ(Project().OutputPath(), dir.file("clip.AVI.avi"));
  Form().out_btn->click();  // cancelled: unchanged
  EXPECT_EQ(Project().OutputPath(), dir.file("clip.AVI.avi"));
  EXPECT_EQ(script.Pending(), 0);
}

TEST_F(MainWindow, TheOutputKindChoosesTheCodecListAndIsRemembered) {
  Start();
  const QString aviEntry = Form().codecs_cmb->currentText();
  ASSERT_FALSE(aviEntry.startsWith("avc1"));
  // Types a name with the filter of that kind chosen.
  auto chooseAs = [](int filter, const std::string& path) {
    return [filter, path](QWidget* w) {
      auto* dlg = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dlg, nullptr);
      ASSERT_EQ(dlg->nameFilters().size(), 3);
      dlg->selectNameFilter(dlg->nameFilters().at(filter));
      ModalScript::Choose({path})(w);
    };
  };
  QString openedOn;
  ModalScript script;
  script.Then(chooseAs(1, dir.file("show")));
  Form().out_btn->click();
  EXPECT_EQ(Project().OutputPath(), dir.file("show.mp4"));
  EXPECT_EQ(GetSetting("OutputKind"), "mp4");
  ASSERT_EQ(Form().codecs_cmb->count(), 1);
  EXPECT_EQ(Form().codecs_cmb->currentText(), "avc1 H.264 Video (x264)");
  EXPECT_EQ(Project().FourCC(), "avc1");
  EXPECT_TRUE(Form().codecconfig_btn->isEnabled());

  // The H.264 encoder's own settings, kept for the next job.
  script.Then([](QWidget* w) {
    auto* dlg = qobject_cast<TCodecConfigDlg*>(w);
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->Form()->quality_trk->isVisible());
    EXPECT_EQ(dlg->Form()->crf_txt->value(), 20);
    EXPECT_EQ(dlg->Form()->preset_cmb->currentText(), "medium");
    dlg->Form()->crf_txt->setValue(23);
    dlg->Form()->preset_cmb->setCurrentText("slow");
    QTest::mouseClick(dlg->Form()->ok_btn, Qt::LeftButton);
  });
  QTest::mouseClick(Form().codecconfig_btn, Qt::LeftButton);
  EXPECT_EQ(LoadH264Settings(), (TH264Settings{23, "slow"}));
  QString encoder;
  script.Then([&](QWidget* w) {
    encoder = static_cast<TCodecAboutDlg*>(w)->Form()->encoder_lbl->text();
    static_cast<QDialog*>(w)->accept();
  });
  QTest::mouseClick(Form().codecabout_btn, Qt::LeftButton);
  EXPECT_EQ(encoder, "Encoder : libx264, aac");

  script.Then([&](QWidget* w) {
    // The picker opens on the kind chosen last; a name that ends in an
    // extension of ours keeps it.
    openedOn = static_cast<QFileDialog*>(w)->selectedNameFilter();
    ModalScript::Choose({dir.file("clip.webm")})(w);
  });
  Form().out_btn->click();
  EXPECT_EQ(openedOn, Main().FileDialog("JSD")->nameFilters().at(1));
  EXPECT_EQ(Project().OutputPath(), dir.file("clip.webm"));
  EXPECT_EQ(Form().codecs_cmb->currentText(), "vp09 VP9 Video (libvpx)");
  EXPECT_EQ(GetSetting("OutputKind"), "webm");

  // Back to AVI: the compressor chosen before comes back, LastFCC untouched.
  script.Then(chooseAs(0, dir.file("back")));
  Form().out_btn->click();
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_EQ(Project().OutputPath(), dir.file("back.avi"));
  EXPECT_EQ(Form().codecs_cmb->currentText(), aviEntry);
  EXPECT_GT(Form().codecs_cmb->count(), 1);
  EXPECT_EQ(GetSetting("OutputKind"), "avi");
  EXPECT_EQ(GetSetting("LastFCC"), "");

  // Picture scaling in the Expert dialog: applied and remembered on Ok only.
  script.Then([](QWidget* w) {
    auto* d = qobject_cast<TExpertDlg*>(w);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Form()->scaling_cmb->currentIndex(), 0);  // Automatic
    d->Form()->scaling_cmb->setCurrentIndex(2);
    ModalScript::Click("ok_btn")(w);
  });
  Form().exp_btn->click();
  script.Then([](QWidget* w) {
    auto* d = static_cast<TExpertDlg*>(w);
    EXPECT_EQ(d->Form()->scaling_cmb->currentText(), "Smooth");
    d->Form()->scaling_cmb->setCurrentIndex(1);
    w->close();
  });
  Form().exp_btn->click();
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_EQ(Project().Scaling(), TPictureScaling::Smooth);
  EXPECT_EQ(GetSetting("PictureScaling"), "smooth");
}

TEST_F(MainWindow, TheRememberedKindAndScalingComeBackAtTheStart) {
  SetSetting("OutputKind", "webm");
  SetSetting("PictureScaling", "sharp");
  Start();
  EXPECT_EQ(Form().codecs_cmb->currentText(), "vp09 VP9 Video (libvpx)");
  EXPECT_EQ(Project().FourCC(), "vp09");
  EXPECT_EQ(Project().Scaling(), TPictureScaling::Sharp);
  // A project whose output is an AVI brings the compressors back.
  Project().SetOutputPath(dir.file("old.avi"));
  Main().SyncFromProject();
  EXPECT_GT(Form().codecs_cmb->count(), 1);
  EXPECT_FALSE(Project().FourCC() == "vp09");
}

TEST_F(MainWindow, GoChecksThePicturesThenTheOutputAndStartsNothing) {
  Start();
  const std::string pic = Picture("a.jpg");
  ModalScript script;
  script.Then(script.Answer(QMessageBox::Ok)).Then(ModalScript::Choose({pic}));
  Form().go_btn->click();
  EXPECT_EQ(script.Texts, std::vector<std::string>{"Empty picture list"});
  EXPECT_EQ(Project().PictureCount(), 1);  // added by the dialog, but no job
  EXPECT_FALSE(Main().Job()->Running());

  script.Then(script.Answer(QMessageBox::Ok)).Then(ModalScript::Choose({}));
  Form().go_btn->click();
  EXPECT_EQ(script.Texts.back(), "Invalid output file");
  EXPECT_FALSE(Main().Job()->Running());

  // An existing output: No keeps it and starts nothing.
  WriteText(dir.file("old.avi"), "keep me");
  Project().SetOutputPath(dir.file("old.avi"));
  script.Then(script.Answer(QMessageBox::No));
  Form().go_btn->click();
  EXPECT_EQ(script.Texts.back(), "Output file already exists, and will be overwritten. Continue anyway ?");
  EXPECT_EQ(ReadText(dir.file("old.avi")), "keep me");
  EXPECT_FALSE(Main().Job()->Running());
  EXPECT_EQ(script.Pending(), 0);
}

TEST_F(MainWindow, AJobRunsToAPlayableVideoWithAndWithoutSoundtrack) {
  Start();
  Main().AddFiles({Picture("a.jpg"), Picture("b.bmp", "bars.bmp")});
  Form().res_cmb->setCurrentText("320x240");
  Form().time_txt->setValue(2000);  // 15 fps x 2000 ms keeps the visual options
  ModalScript script;
  script.Then(ModalScript::Choose({dir.file("silent.avi")}));
  Form().out_btn->click();
  QStringList phases;
  QObject::connect(&Main(), &TMainDlg::PhaseChanged, [&](const QString& p) { phases << p; });
  // Each job ends with "Done !"; its Play button hands the video to the desktop.
  script.Then(ModalScript::Click("play_btn"));
  QTest::mouseClick(Form().go_btn, Qt::LeftButton);
  // While it runs, the editing controls are off and Cancel is on; the window
  // refuses to close.
  EXPECT_TRUE(Main().Job()->Running());
  EXPECT_FALSE(Form().go_btn->isEnabled());
  EXPECT_FALSE(Form().addphotos_btn->isEnabled());
  EXPECT_FALSE(Form().File1->menuAction()->isEnabled());
  EXPECT_TRUE(Form().cancel_btn->isEnabled());
  EXPECT_TRUE(Form().settings_btn->isEnabled());
  Main().close();
  EXPECT_TRUE(Main().isVisible());
  WaitForJob();
  EXPECT_EQ(Main().Job()->LastEnd(), TJobEnd::Finished) << Main().Job()->LastError();
  EXPECT_EQ(phases, QStringList({"Processing Video", ""}));
  EXPECT_EQ(opened, std::vector<std::string>{dir.file("silent.avi")});
  EXPECT_TRUE(Form().go_btn->isEnabled());
  EXPECT_FALSE(Form().cancel_btn->isEnabled());
  EXPECT_TRUE(Form().img->isVisible());  // the last frame stays in the preview
  EXPECT_TRUE(Contains(LogMessages(), "Processing Terminated"));
  EXPECT_EQ(GetSetting("LastFCC"), "xvid");
  EXPECT_EQ(ProbeValue(dir.file("silent.avi"), "v:0", "stream=codec_name"), "mpeg4");
  EXPECT_EQ(ProbeValue(dir.file("silent.avi"), "v:0", "stream=width"), "320");
  EXPECT_EQ(ProbeValue(dir.file("silent.avi"), "a", "stream=codec_name"), "");

  // With a soundtrack chosen by its dialog, the second phase adds it.
  const std::string mp3 = MakeMp3(dir, "tune.mp3", 44100, 2, 3.0, {"-b", "128"});
  script.Then(ModalScript::Choose({mp3})).Then(ModalScript::Choose({dir.file("sound.avi")}));
  script.Then(ModalScript::Click("folder_btn"));
  Form().sound_btn->click();
  EXPECT_EQ(Form().audioduration_lbl->text(), "0:03");
  EXPECT_EQ(GetSetting("AudioPath"), dir.file(""));
  Form().out_btn->click();
  phases.clear();
  Form().go_btn->click();
  WaitForJob();
  EXPECT_EQ(Main().Job()->LastEnd(), TJobEnd::Finished) << Main().Job()->LastError();
  EXPECT_EQ(phases, QStringList({"Processing Video", "Processing Audio", ""}));
  EXPECT_FALSE(Form().img->isVisible());  // hidden for the audio phase
  EXPECT_EQ(ProbeValue(dir.file("sound.avi"), "a:0", "stream=codec_name"), "mp3");
  EXPECT_EQ(ProbeValue(dir.file("sound.avi"), "v:0", "stream=codec_name"), "mpeg4");
  EXPECT_FALSE(fs::exists(dir.file("temp.avi")));
  EXPECT_EQ(opened.back(), dir.file(""));
  EXPECT_EQ(script.Pending(), 0);
  // The window closes once the job is over.
  Main().close();
  EXPECT_FALSE(Main().isVisible());
}

TEST_F(MainWindow, CancelStopsEitherPhaseAndKeepsWhatWasWritten) {
  Start();
  Main().AddFiles({Picture("a.jpg"), Picture("b.jpg", "wide.jpg"), Picture("c.bmp", "bars.bmp")});
  Form().res_cmb->setCurrentText("320x240");
  Project().SetOutputPath(dir.file("cut.avi"));
  // Cancel once a few frames are written.
  ModalScript script;
  script.Then(script.Answer(QMessageBox::Ok));
  Form().go_btn->click();
  ASSERT_TRUE(WaitFor([&] { return Form().pb->value() >= 5 || !Main().Job()->Running(); }));
  ASSERT_TRUE(Main().Job()->Running()) << "the job ended before it could be cancelled";
  QTest::mouseClick(Form().cancel_btn, Qt::LeftButton);
  EXPECT_FALSE(Form().cancel_btn->isEnabled());
  WaitForJob();
  EXPECT_EQ(Main().Job()->LastEnd(), TJobEnd::VideoAborted);
  EXPECT_EQ(script.Texts, std::vector<std::string>{"Aborted by user."});
  const int total = Main().Job()->ProgressMax();
  const int written = static_cast<int>(ProbePackets(dir.file("cut.avi"), "v:0").size());
  EXPECT_GT(written, 0);
  EXPECT_LT(written, total);
  EXPECT_TRUE(Form().go_btn->isEnabled());

  // Cancel as soon as the audio phase has started: the silent video stays.
  Main().SetSoundtrack(MakeMp3(dir, "tune.mp3", 44100, 2, 3.0, {"-b", "128"}));
  Project().SetOutputPath(dir.file("mux.avi"));
  Form().time_txt->setValue(100);
  Project().SetSingleFrame(true);
  QObject::connect(&Main(), &TMainDlg::PhaseChanged, [&](const QString& p) {
    if (p == "Processing Audio") Form().cancel_btn->click();
  });
  // 15 fps x 100 ms is below the frame budget; the check boxes are still
  // ticked, so the options are switched off first, Single Frame mode or not.
  script.Then(script.Answer(QMessageBox::Ok)).Then(script.Answer(QMessageBox::Ok));
  Form().go_btn->click();
  WaitForJob();
  EXPECT_EQ(Main().Job()->LastEnd(), TJobEnd::MuxAborted);
  // The cancel in the audio phase says where the complete silent video is.
  EXPECT_EQ(script.Texts, (std::vector<std::string>{
                              "Aborted by user.", "Visual options disabled due to incompatible temporal settings",
                              "Aborted by user.\nThe video without sound is kept as " + dir.file("temp.avi")}));
  EXPECT_FALSE(Form().xfade_chk->isChecked());
  EXPECT_TRUE(fs::exists(dir.file("temp.avi")));
  EXPECT_FALSE(Project().SingleFrame());  // every ending ends Single Frame mode
  EXPECT_TRUE(Form().dynamics_chk->isEnabled());
}

TEST_F(MainWindow, ASoundtrackDroppedDuringAJobIsRefused) {
  Start();
  Main().AddFiles({Picture("a.jpg"), Picture("b.jpg", "wide.jpg")});
  Form().res_cmb->setCurrentText("720x576");
  Project().SetOutputPath(dir.file("out.avi"));
  const std::string mp3 = MakeMp3(dir, "late.mp3", 44100, 2, 1.0, {"-b", "128"});
  const std::string pic = Picture("c.jpg");
  Form().go_btn->click();
  ASSERT_TRUE(Main().Job()->Running());
  EXPECT_FALSE(DropFiles(Main(), {mp3}));
  EXPECT_EQ(Project().SoundPath(), "");
  // Pictures may be dropped: the job works on its own copy of the list.
  EXPECT_TRUE(DropFiles(Main(), {pic}));
  EXPECT_EQ(Project().PictureCount(), 3);
  QTest::mouseClick(Form().cancel_btn, Qt::LeftButton);
  ModalScript script;
  script.Then(script.Answer(QMessageBox::Ok));
  WaitForJob();
  EXPECT_EQ(script.Pending(), 0);
}

TEST_F(MainWindow, SaveThenLoadGivesBackTheProject) {
  Start();
  const std::string a = Picture("a.jpg"), b = Picture("b.bmp", "bars.bmp");
  const std::string mp3 = MakeMp3(dir, "song.mp3", 44100, 2, 2.0, {"-b", "128"});
  Main().AddFiles({a, b});
  Project().SetCaption(1, "Colour bars\tand more");
  Main().SetSoundtrack(mp3);
  Project().SetOutputPath(dir.file("show.avi"));
  Form().Sepia1->trigger();
  ModalScript script;
  script.Then(ModalScript::Choose({dir.file("show")})).Then(script.Answer(QMessageBox::Yes));
  Form().save_btn->click();
  ASSERT_EQ(script.Pending(), 0);
  EXPECT_NE(script.Texts.at(0).find("does not exist"), std::string::npos);
  EXPECT_EQ(ReadText(dir.file("show.sdm")), ";Effect=Sepia\r\n;Sound=" + mp3 + "\r\n;Output=" + dir.file("show.avi") +
                                                "\r\n" + a + "\r\n" + b + "\tColour bars\tand more\r\n");

  Form().New1->trigger();
  EXPECT_EQ(Project().PictureCount(), 0);
  EXPECT_EQ(Project().SoundPath(), "");
  EXPECT_FALSE(Form().Sepia1->isChecked());
  script.Then(ModalScript::Choose({dir.file("show.sdm")}));
  Form().load_btn->click();
  EXPECT_EQ(Project().PictureList().Items(), (std::vector<std::string>{a, b}));
  EXPECT_EQ(Project().CaptionList().Items(), (std::vector<std::string>{"a.jpg", "Colour bars\tand more"}));
  EXPECT_EQ(Form().sound_txt->text().toStdString(), mp3);
  EXPECT_EQ(Form().out_txt->text().toStdString(), dir.file("show.avi"));
  EXPECT_TRUE(Form().Sepia1->isChecked());
  EXPECT_FALSE(Form().Greyscale1->isChecked());
  EXPECT_EQ(Panel(0), "2 pictures");
  EXPECT_EQ(Form().thumbstats_lbl->text(), "1 - 2 / 2");

  // A soundtrack that has gone: its reader's error is shown, and the lines
  // after it (the output and the pictures) are not applied.
  WriteText(dir.file("gone.sdm"), ";Sound=" + dir.file("gone.mp3") + "\r\n;Output=/elsewhere.avi\r\n" + a + "\r\n");
  script.Then(ModalScript::Choose({dir.file("gone.sdm")})).Then(script.Answer(QMessageBox::Ok));
  Form().Load1->trigger();
  EXPECT_EQ(script.Pending(), 0) << ::testing::PrintToString(script.Texts);
  EXPECT_FALSE(script.Texts.back().empty());
  EXPECT_EQ(Project().PictureCount(), 2);
  EXPECT_EQ(Project().OutputPath(), dir.file("show.avi"));
  EXPECT_EQ(Project().SoundPath(), mp3);
}

// A project whose pictures are partly gone: those found beside it are
// taken, the others are told in one message, and a save asks before it
// drops them from the file.
TEST_F(MainWindow, PicturesLeftOutOfALoadedProjectAreToldOnceAndSavedOnlyWhenTheUserSays) {
  Start();
  const std::string a = Picture("a.jpg"), moved = Picture("moved.jpg");
  std::string text = ";Sound=\r\n;Output=\r\n" + a + "\r\n/old/place/moved.jpg\r\n";
  for (int i = 0; i < 14; ++i) text += "/old/place/gone" + std::to_string(i) + ".jpg\r\n";
  WriteText(dir.file("pics/show.sdm"), text);
  ModalScript script;
  script.Then(ModalScript::Choose({dir.file("pics/show.sdm")})).Then(script.Answer(QMessageBox::Ok));
  Form().load_btn->click();
  ASSERT_EQ(script.Pending(), 0);
  EXPECT_EQ(Project().PictureList().Items(), (std::vector<std::string>{a, moved}));
  EXPECT_TRUE(Contains(LogMessages(), "Picture relinked : /old/place/moved.jpg -> " + moved));
  ASSERT_EQ(script.Texts.size(), 1u);
  std::string listed;
  for (int i = 0; i < 12; ++i) listed += "\n/old/place/gone" + std::to_string(i) + ".jpg";
  EXPECT_EQ(script.Texts[0], "These pictures of the project were not found, or are not pictures Slidomat can read:\n" +
                                 listed + "\nand 2 more");

  // Saving asks first; No keeps the file as it is, and no picker opens.
  script.Then(script.Answer(QMessageBox::No));
  Form().save_btn->click();
  ASSERT_EQ(script.Pending(), 0);
  EXPECT_EQ(script.Texts.back(), "These pictures of the project were not found when it was loaded:\n" + listed +
                                     "\nand 2 more\n\nSave the project without them?");
  EXPECT_EQ(ReadText(dir.file("pics/show.sdm")), text);
  // Yes saves without them, and the next save asks no more.
  script.Then(script.Answer(QMessageBox::Yes)).Then(ModalScript::Choose({dir.file("pics/show.sdm")}));
  Form().Save1->trigger();
  ASSERT_EQ(script.Pending(), 0);
  EXPECT_EQ(ReadText(dir.file("pics/show.sdm")), ";Sound=\r\n;Output=\r\n" + a + "\r\n" + moved + "\r\n");
  script.Then(ModalScript::Choose({dir.file("pics/again.sdm")})).Then(script.Answer(QMessageBox::Yes));
  Form().save_btn->click();
  ASSERT_EQ(script.Pending(), 0);
  EXPECT_NE(script.Texts.back().find("does not exist"), std::string::npos);
}

TEST_F(MainWindow, OptionsFollowTheirRules) {
  Start();
  QTest::mouseClick(Form().dynamics_chk, Qt::LeftButton);
  EXPECT_EQ(Form().FPS_txt->value(), 25);
  QTest::mouseClick(Form().dynamics_chk, Qt::LeftButton);
  EXPECT_EQ(Form().FPS_txt->value(), 15);
  Form().Greyscale1->trigger();
  EXPECT_TRUE(Form().Greyscale1->isChecked());
  Form().Sepia1->trigger();
  EXPECT_TRUE(Form().Sepia1->isChecked());
  EXPECT_FALSE(Form().Greyscale1->isChecked());
  EXPECT_FALSE(Project().Greyscale());
  Form().Sepia1->trigger();
  EXPECT_FALSE(Project().Sepia());

  // Match audio: 2 pictures, 2 seconds at 15 fps: 14 frames of 66 ms a
  // picture (too few for fades) and the 2 leading samples make 1.980 s.
  Main().AddFiles({Picture("a.jpg"), Picture("b.jpg")});
  Main().SetSoundtrack(MakeMp3(dir, "two.mp3", 44100, 2, 2.0, {"-b", "128"}));
  QTest::mouseClick(Form().matchaudio_btn, Qt::LeftButton);
  EXPECT_EQ(Form().time_txt->value(), 924);
  EXPECT_EQ(Project().MsPerPicture(), 924);
  QTest::mouseClick(Form().resetaudio_btn, Qt::LeftButton);
  EXPECT_EQ(Form().sound_txt->text(), "");
  EXPECT_EQ(Form().audioduration_lbl->text(), "");
  EXPECT_FALSE(Form().matchaudio_btn->isEnabled());

  // New puts everything back but the codec.
  Form().codecs_cmb->setCurrentIndex(2);
  const QString codec = Form().codecs_cmb->currentText();
  Form().res_cmb->setCurrentText("320x240");
  QTest::mouseClick(Form().xfade_chk, Qt::LeftButton);
  Form().New1->trigger();
  EXPECT_EQ(Form().codecs_cmb->currentText(), codec);
  EXPECT_EQ(Project().CodecEntry(), codec.toStdString());
  EXPECT_EQ(Form().res_cmb->currentText(), "720x480");
  EXPECT_TRUE(Form().xfade_chk->isChecked());
  EXPECT_EQ(Form().time_txt->value(), 3000);
  EXPECT_EQ(Project().PictureCount(), 0);

  // A sound file its reader cannot read: the reader's error, nothing changed.
  WriteText(dir.file("broken.mp3"), "no frames in here");
  ModalScript script;
  script.Then(ModalScript::Choose({dir.file("broken.mp3")})).Then(script.Answer(QMessageBox::Ok));
  Form().Select1->trigger();
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_FALSE(script.Texts.at(0).empty());
  EXPECT_EQ(Project().SoundPath(), "");
  EXPECT_EQ(GetSetting("AudioPath"), "");  // the error ended the command first
}

TEST_F(MainWindow, CodecDialogsEditWhatTheNextJobUses) {
  Start();
  ModalScript script;
  script.Then([](QWidget* w) {
    auto* dlg = qobject_cast<TCodecConfigDlg*>(w);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->Form()->codec_lbl->text(), "xvid - Xvid MPEG-4 Video Codec");
    dlg->Form()->quality_trk->setValue(40);
    dlg->Form()->keyframe_txt->setValue(12);
    QTest::mouseClick(dlg->Form()->ok_btn, Qt::LeftButton);
  });
  QTest::mouseClick(Form().codecconfig_btn, Qt::LeftButton);
  ASSERT_EQ(script.Pending(), 0);
  TCompressorSettings stored;
  CompressorSettingsStore().Load(mmioFOURCC('x', 'v', 'i', 'd'), stored);
  EXPECT_EQ(stored.Quality, 4000);
  EXPECT_EQ(stored.KeyFrameInterval, 12);

  QString encoder;
  script.Then([&](QWidget* w) {
    auto* dlg = qobject_cast<TCodecAboutDlg*>(w);
    ASSERT_NE(dlg, nullptr);
    encoder = dlg->Form()->encoder_lbl->text();
    EXPECT_TRUE(dlg->Form()->library_lbl->text().startsWith("Library : libavcodec "));
    QTest::mouseClick(dlg->Form()->ok_btn, Qt::LeftButton);
  });
  QTest::mouseClick(Form().codecabout_btn, Qt::LeftButton);
  EXPECT_TRUE(encoder == "Encoder : libxvid" || encoder == "Encoder : mpeg4") << encoder.toStdString();

  // An entry no compressor takes: the writer's message, and no dialog.
  Project().SetCodecEntry("ZZZZ No such codec");
  script.Then(script.Answer(QMessageBox::Ok));
  QTest::mouseClick(Form().codecconfig_btn, Qt::LeftButton);
  EXPECT_EQ(script.Texts.back(), "No compressor for ZZZZ available");
  EXPECT_EQ(script.Pending(), 0);
}

TEST_F(MainWindow, WebFunctionsOpenTheInstalledFilesOrTheProjectsAddress) {
  Start();
  Form().help_btn->click();
  Form().ChangeLog1->trigger();
  // Installed beside the program, the help page and change log open.
  fs::create_directories(dir.file("prog/data/help"));
  WriteText(dir.file("prog/data/help/index.html"), "<html></html>");
  WriteText(dir.file("prog/data/ChangeLog"), "1.0");
  Form().Help1->trigger();
  Form().ChangeLog1->trigger();
  Form().Checkforupdate1->trigger();
  Form().BugreportFeaturerequestKnownissues1->trigger();
  Form().trv_btn->click();
  const std::string web = TMainDlg::WebAddress();
  EXPECT_EQ(opened, (std::vector<std::string>{web, web, dir.file("prog/data/help/index.html"),
                                              dir.file("prog/data/ChangeLog"), web, web, web}));
  EXPECT_EQ(web.rfind("https://", 0), 0u);

  ModalScript script;
  script.Then([](QWidget* w) {
    EXPECT_EQ(w->objectName(), "AboutDlg");
    const QString libs = w->findChild<QLabel*>("libs_lbl")->text();
    for (const char* name : {"Qt ", "libavcodec ", "libjpeg-turbo ", "FreeType ", "libvorbis "})
      EXPECT_TRUE(libs.contains(name)) << name;
    EXPECT_TRUE(libs.contains(qVersion()));
    EXPECT_EQ(w->findChild<QLabel*>("version_lbl")->text().toStdString(),
              "Version " + GetFileVersionString(ProgramFilePath()));
    ModalScript::Click("ok_btn")(w);
  });
  Form().about_btn->click();
  EXPECT_EQ(script.Pending(), 0);
}

TEST_F(MainWindow, AProjectNamedOnTheCommandLineIsLoadedAfterStartUp) {
  const std::string a = Picture("a.jpg"), b = Picture("b.jpg", "wide.jpg");
  WriteText(dir.file("trip.sdm"), ";Output=" + dir.file("trip.avi") + "\r\n" + a + "\r\n" + b + "\tThe sea\r\n");
  Start({dir.file("trip.sdm")});
  EXPECT_EQ(Project().PictureCount(), 2);
  EXPECT_EQ(Project().CaptionList()[1], "The sea");
  EXPECT_EQ(Form().out_txt->text().toStdString(), dir.file("trip.avi"));
  EXPECT_EQ(Panel(0), "2 pictures");
  EXPECT_TRUE(Contains(LogMessages(), dir.file("trip.sdm")));
}

TEST_F(MainWindow, APortableCopyKeepsItsSettingsBesideItAndNothingInTheRegistry) {
  WriteText(dir.file("prog/settings.ini"), "[Settings]\r\nLastFCC=MJPG\r\n");
  Start({}, /*installed=*/false);
  EXPECT_TRUE(Main().Portable());
  EXPECT_EQ(Form().codecs_cmb->currentText(), "MJPG Motion JPEG");  // imported before the listing
  ModalScript script;
  script.Then(ModalScript::Choose({dir.file("film")}));
  Form().out_btn->click();
  Stop();
  const std::string ini = ReadText(dir.file("prog/settings.ini"));
  EXPECT_NE(ini.find("LastFCC=MJPG"), std::string::npos) << ini;
  EXPECT_NE(ini.find("OutPath=" + dir.file("")), std::string::npos) << ini;
  TRegistry reg(HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.KeyExists(kProductKey));
  EXPECT_FALSE(reg.KeyExists(kCompanyKey));
  // The log was written last, with its closing line on top.
  const std::string log = ReadText(dir.file("data/Tarvenit/Slidomat/Slidomat.log"));
  EXPECT_NE(log.find("Closing..."), std::string::npos);
  EXPECT_LT(log.find("Closing..."), log.find("Starting"));
}

TEST_F(MainWindow, ALanguageSwitchRebuildsTheCaptionAndTheFileFilters) {
  Start();
  // Every kind of picture first, so a folder of photos never looks empty.
  const QString every =
      "(*.jpg *.jpeg *.jpe *.jfif *.bmp *.dib *.png *.gif *.webp *.tif *.tiff *.heic *.heif *.hif *.avif)";
  EXPECT_EQ(Main().FileDialog("JOD")->nameFilters(),
            QStringList({"All pictures " + every, "JPEG (*.jpeg *.jpg)", "Bitmap (*.bmp)"}));
  EXPECT_EQ(Main().FileDialog("JSD")->nameFilters(),
            QStringList({"AVI video (*.avi)", "MP4 video (H.264) (*.mp4)", "WebM video (VP9) (*.webm)"}));
  std::vector<std::string> french = MainTextStorageLines();
  french[15] = "Fichiers MP3";
  french[16] = "Images Bitmap";
  french[18] = "Projet Slidomat";
  french[51] = "Toutes les images";
  french[72] = "Fichiers audio";
  main_ts().SetItems(french);
  Main().setWindowTitle("x");
  Main().langueAfterLanguageSwitch();
  main_ts().Reset();
  EXPECT_EQ(Main().windowTitle().toStdString(), "Slidomat v" + GetFileVersionString(ProgramFilePath()));
  // Every sound file the library reads, or MP3 files only.
  EXPECT_EQ(
      Main().FileDialog("JODSound")->nameFilters(),
      QStringList({"Fichiers audio (*.mp3 *.mp2 *.mp1 *.wav *.ogg *.flac *.wma *.asf *.ape *.ac3 *.mpc *.aac *.m4a)",
                   "Fichiers MP3 (*.mp3)"}));
  EXPECT_EQ(Main().FileDialog("JOD")->nameFilters(),
            QStringList({"Toutes les images " + every, "Images Bitmap (*.bmp)", "JPEG Files (*.jpg *.jpeg)"}));
  EXPECT_EQ(Main().FileDialog("JSD_fl")->nameFilters(), QStringList({"Projet Slidomat (*.sdm)"}));
  EXPECT_EQ(Main().FileDialog("JOD_fl")->nameFilters(), QStringList({"Projet Slidomat (*.sdm)"}));
}

TEST_F(MainWindow, LayoutHasTheFixedClientAreaAndNamedComponents) {
  Start();
  EXPECT_EQ(Form().client->size(), QSize(783, 504));
  EXPECT_EQ(Form().StatusBar->height(), 19);
  EXPECT_EQ(Main().minimumSize(), Main().maximumSize());  // not resizable
  EXPECT_EQ(Main().objectName(), "MainDlg");
  EXPECT_EQ(Form().go_btn->geometry(), QRect(8, 112, 97, 41));
  EXPECT_EQ(Form().photo_grp->geometry(), QRect(104, 40, 673, 161));
  EXPECT_EQ(Main().ThumbSlot(4)->geometry(), QRect(32 + 4 * 103 + 1, 17, 100, 75));
  EXPECT_EQ(Form().time_txt->minimum(), 100);
  EXPECT_EQ(Form().time_txt->maximum(), 60000);
  EXPECT_EQ(Form().time_txt->singleStep(), 100);
  EXPECT_EQ(Form().FPS_txt->maximum(), 60);
  EXPECT_EQ(Form().Settings1->shortcut(), QKeySequence("Ctrl+S"));
  EXPECT_EQ(Form().Openlogfile1->shortcut(), QKeySequence("Ctrl+L"));
  EXPECT_EQ(Form().Checkforupdate1->shortcut(), QKeySequence("Ctrl+G"));
  // Every caption fits its control in the font the windows use.
  EXPECT_EQ(CaptionsThatDoNotFit(Main()), std::vector<std::string>{});
  // The dialogs were made once, in the program's order, after the window.
  std::vector<std::string> dialogs;
  for (QDialog* d : Main().findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly))
    if (d->objectName().endsWith("Dlg")) dialogs.push_back(d->objectName().toStdString());
  EXPECT_EQ(dialogs,
            (std::vector<std::string>{"AboutDlg", "JumpDlg", "ReorderDlg", "LoaderDlg", "SettingsDlg", "ExpertDlg",
                                      "ProcessSuccessDlg", "BrennoDlg", "LoadDlg", "CodecConfigDlg", "CodecAboutDlg"}));
}
