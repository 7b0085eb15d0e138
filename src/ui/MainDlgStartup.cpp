// The main window from its first showing to its closing: the first start's
// work (language, codec list, arguments of the command line and of a second
// start, files dropped on it), the language switch, and what closing saves.
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include "avi/U_BmpToAvi.h"
#include "frames/PictureFormats.h"
#include "frames/PictureNotes.h"
#include "frames/U_FrameServer.h"
#include "localization/TextStorage.h"
#include "platform/shell/Shell.h"
#include "project/StartArguments.h"
#include "project/U_PictureSelection.h"
#include "project/U_ProjectFile.h"
#include "project/U_Soundtrack.h"
#include "support/MessageBoxes.h"
#include "support/PortableMode.h"
#include "support/SettingsStore.h"
#include "support/TaskBarProgress.h"
#include "support/U_Log.h"
#include "support/U_SysUtils.h"
#include "ui/AboutDlg.h"
#include "ui/CodecDlgs.h"
#include "ui/CodecLoadingDlg.h"
#include "ui/MainDlgHelpers.h"
#include "ui/QtLangComponents.h"
#include "ui/QtUiThread.h"
#include "ui/QtUserInteraction.h"
#include "ui/ThumbnailLoaderDlg.h"
#include "ui/ThumbnailStrip.h"
#include "ui/U_DragDrop.h"
#include "ui/U_ExpertDlg.h"
#include "ui/U_JumpDlg.h"
#include "ui/U_MainDlg.h"
#include "ui/U_ProcessSuccess.h"
#include "ui/U_ReorderDlg.h"
#include "ui/U_SettingsDlg.h"
#include "ui/U_TaskBarLauncher.h"
#include "ui/UiHelpers.h"
#include "ui_U_MainDlg.h"

namespace sdm {

using namespace main_dlg;

namespace {

constexpr const char* kDesktopId = "io.github.tarvenit.Slidomat.desktop";

}  // namespace

// ---------------------------------------------------------------- language

void TMainDlg::langueAfterLanguageSwitch() {
  setWindowTitle(
      QString::fromStdString(std::string(kProductName) + " v" + GetFileVersionString(environment_.ProgramPath)));
  const std::string project = Translated("Slidomat Project") + "(*.sdm)|*.sdm";
  const std::pair<const char*, std::string> filters[] = {
      // Every kind the audio library reads: one that is not MP3 is encoded
      // to MP3 when the video is made.
      {"JODSound",
       Translated("Sound files") + "|" + SoundFilePatterns() + "|" + Translated("MP3 files") + "(*.mp3)|*.mp3"},
      {"JOD", AllPicturesFilter(Translated("All pictures")) + "|" + Translated("Bitmap Files") + " (*.bmp)|*.bmp" +
                  "|" + Translated("JPEG Files") + " (*.jpg, *.jpeg)|*.jpg;*.jpeg"},
      {"JSD_fl", project},
      {"JOD_fl", project},
      {"JSD", Translated("AVI video") + " (*.avi)|*.avi|" + Translated("MP4 video (H.264)") + " (*.mp4)|*.mp4|" +
                  Translated("WebM video (VP9)") + " (*.webm)|*.webm"},
  };
  for (const auto& [name, filter] : filters) FileDialog(name)->setNameFilters(DialogNameFilters(filter));
  // What the window composed in the language before is composed again.
  ShowPictureCount();
  strip_->NameSlots();
  // The toolkit's own texts (the file pickers, the buttons of message boxes)
  // follow when Qt's translation of the language is installed.
  UseToolkitLanguage(langue_.CurrentRecord().LangId);
}

// ---------------------------------------------------------------- start-up

void TMainDlg::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (activated_) return;
  activated_ = true;
  // The start-up work waits until the window is on screen. The language
  // comes first, so that everything shown from then on is in it; a language
  // file that fails is reported and the start-up goes on.
  QTimer::singleShot(0, this, [this] {
    Command([this] {
      langue_.OnFirstActivate(environment_.Arguments);
      if (langue_.SourceLanguageFileFailed())
        throw std::runtime_error(Translated("Unable to write file") + " : " + langue_.SourceLanguageFileName());
    });
    Command([this] { AppEvtActivate(); });
  });
}

void TMainDlg::AppEvtActivate() {
  const std::string title = kProductName;
  const std::string& program = environment_.ProgramPath;
  SetProgramLocation(title, program);
  setWindowTitle(QString::fromStdString(title + " v" + GetFileVersionString(program)));

  dropTarget_ = std::make_unique<TMyDropTarget>(this, dropList_, [this] { Command([this] { OnFilesDropped(); }); });
  // The running job keeps the soundtrack it started with: a sound file
  // dropped meanwhile is refused rather than swapped in under it.
  dropTarget_->Refuses = [this](const std::vector<std::string>& names) {
    return job_ && job_->Running() && names.size() == 1 && IsDroppedSoundtrack(names[0]);
  };

  const bool debug = GetSetting("DebugMode") == "1";
  log_ = std::make_unique<TKLog>(GetAppDataFolder(program, title) + title + ".log", debug, 10000, false);
  // The picture readers' notes (a colour profile they could not use) come
  // from the job's thread as well as this one; the log takes both.
  SetPictureNoteSink([log = log_.get()](const std::string& line, int level) { log->AddLine(line, level); });
  LogLine("Starting");
  LogLine(program);
  LogLine(windowTitle().toStdString());
  for (const std::string& line : OperatingSystemLogLines()) LogLine(line);
  if (!environment_.Arguments.empty()) LogLine(environment_.Arguments.front());
  LogRegistryProblems(*log_);

  avi_ = std::make_unique<TBmpToAvi>();
  job_ = std::make_unique<TJobControl>(project_, *avi_, *uiThread_, log_.get(), &main_ts(), this);

  if (dialogs_.Load) {
    dialogs_.Load->Avi = avi_.get();
    dialogs_.Load->CodecItems = &codecItems_;
    dialogs_.Load->Execute();
  } else {
    avi_->ListCodecs(codecItems_);
  }
  // The codec list of the kind of video chosen last (AVI until one is), the
  // remembered FourCC chosen in the AVI list.
  codecKind_ = TOutputKind::Unknown;
  ShowCodecsFor(TOutputKind::Avi);
  ShowCodecsFor(RememberedOutputKind());
  project_.SetScaling(ScalingFromWord(GetSetting("PictureScaling")));

  thumbServer_ = TFrameServer::CreateThumbnailServer(project_.PictureList(), &project_.CaptionList());
  strip_->SetServer(thumbServer_.get());

  syncing_ = true;
  ui_->res_cmb->clear();
  for (const std::string& r : TSlideProject::Resolutions()) ui_->res_cmb->addItem(QString::fromStdString(r));
  syncing_ = false;

  launcher_ = std::make_unique<TLauncherEntry>(kDesktopId);
  taskbarProgress_ = std::make_unique<TTaskProgressBar>(launcher_->Available() ? winId() : 0);
  taskbarProgress_->OnChange = [this](int flag, int64_t position, int64_t max) {
    launcher_->Update(flag, position, max);
  };

  ResetProject();
  // There is no silent update check: "Check for update..." opens the
  // project's page when the user asks.

  startupDone_ = true;
  // The files the program was started with (how a file manager opens them)
  // are taken once the window is ready.
  if (!environment_.Arguments.empty()) Command([this] { OpenArguments(environment_.Arguments); });
  emit StartupFinished();
}

void TMainDlg::OpenArguments(const std::vector<std::string>& arguments) {
  // A project file is loaded as it always was; pictures, and the pictures of
  // folders, are added to the slideshow; another file becomes the soundtrack
  // when the audio library opens it. What is left out is said, not only
  // logged: the user named those files.
  TStartArguments start = SortStartArguments(arguments);
  if (!start.ProjectFile.empty()) LoadProjectFile(start.ProjectFile);
  if (!start.Pictures.empty()) AddFiles(start.Pictures);
  bool soundTaken = false;
  for (const std::string& other : start.Others) {
    try {
      if (!soundTaken && OpenSoundtrack(project_, other)) {
        soundTaken = true;
        continue;
      }
      start.LeftOut.push_back({other, TLeftOutReason::NotSupported});
    } catch (const std::exception& e) {
      // A sound file its reader cannot read: its own error, then the rest.
      ShowErrorBox(e.what());
    }
  }
  SyncFromProject();
  if (start.LeftOut.empty()) return;
  std::string text = Translated("Some files were not added:");
  for (const TLeftOut& left : start.LeftOut) {
    const char* why = left.Reason == TLeftOutReason::NotFound      ? "File not found :"
                      : left.Reason == TLeftOutReason::EmptyFolder ? "No picture in the folder :"
                                                                   : "File not supported :";
    LogLine(std::string(why) + " " + left.Path, llError);
    text += "\n" + Translated(why) + " " + left.Path;
  }
  ShowMessageBox(text, mbOk, mkWarning);
}

// ---------------------------------------------------------------- closing

void TMainDlg::closeEvent(QCloseEvent* event) {
  // FormCloseQuery: no closing while a job runs.
  if (job_ && job_->Running()) {
    event->ignore();
    return;
  }
  if (!closed_) FormClose();
  event->accept();
}

void TMainDlg::FormClose() {
  closed_ = true;
  const std::string v = CleanVirtualStore(ExtractFilePath(environment_.ProgramPath));
  if (!v.empty()) LogLine("Cleaning VirtualStore : " + v, llVerbose);
  if (portable_) portable_->Finish();
}

void TMainDlg::OnFilesDropped() {
  const std::vector<std::string> names = std::move(dropList_);
  dropList_.clear();
  if (names.size() == 1 && IsDroppedSoundtrack(names[0]))
    SetSoundtrack(names[0]);
  else
    AddFiles(names);
}

}  // namespace sdm
