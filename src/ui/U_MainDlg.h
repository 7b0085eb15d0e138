#pragma once
// TMainDlg: the program's main window. It shows the slideshow project in its
// controls, forwards every command to the model below it (the project, the
// job controller, the audio facade, the project file) and follows a running
// job through IJobView. The layout lives in U_MainDlg.ui; the object names
// there are the component names the language files address.
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frames/Bitmap32.h"
#include "localization/LanguageList.h"
#include "project/U_JobControl.h"
#include "project/U_SlideProject.h"
#include "support/StringList.h"
#include "ui/ThumbnailStrip.h"

class QFileDialog;
class QProgressBar;

namespace Ui {
class MainDlg;
}

namespace sdm {

class TBmpToAvi;
class TFrameServer;
class TKLog;
class TMyDropTarget;
class TPortableMode;
class TQtUiThread;
class TTaskProgressBar;
class TLauncherEntry;
class TLoadDlg;
class TAboutDlg;
class TJumpDlg;
class TReorderDlg;
class TLoaderDlg;
class TSettingsDlg;
class TExpertDlg;
class TProcessSuccessDlg;
class TCodecConfigDlg;
class TCodecAboutDlg;
class TQtLangRoot;

// Where the program runs from and what it was started with.
struct TProgramEnvironment {
  std::string ProgramPath;             // the program file; its folder holds settings.ini in portable mode
  std::vector<std::string> Arguments;  // the command-line arguments after the program name
};

// The dialogs the main window opens; created once at start-up by the
// program's window set, in its order, and handed over.
struct TMainDialogs {
  TLoadDlg* Load = nullptr;
  TAboutDlg* About = nullptr;
  TJumpDlg* Jump = nullptr;
  TReorderDlg* Reorder = nullptr;
  TLoaderDlg* Loader = nullptr;
  TSettingsDlg* Settings = nullptr;
  TExpertDlg* Expert = nullptr;
  TProcessSuccessDlg* ProcessSuccess = nullptr;
  TCodecConfigDlg* CodecConfig = nullptr;
  TCodecAboutDlg* CodecAbout = nullptr;
};

class TMainDlg : public QMainWindow, public IJobView {
  Q_OBJECT
public:
  static constexpr int ThumbSlotCount = TThumbStrip::SlotCount;

  // FormCreate: a portable copy imports its settings file here, before
  // anything reads a setting.
  explicit TMainDlg(TProgramEnvironment environment, QWidget* parent = nullptr);
  ~TMainDlg() override;

  void SetDialogs(const TMainDialogs& dialogs);
  const TMainDialogs& Dialogs() const { return dialogs_; }

  // --- Window operations other windows use.
  void AddPicture(const std::string& text);
  void AddFiles(const std::vector<std::string>& list);
  // Takes a sound file as soundtrack when the audio facade opens it; a known
  // format that cannot be read throws the reader's error.
  void SetSoundtrack(const std::string& path);
  void ClearPictures();
  void RefreshThumbs();
  // The thumbnail loader's step: slot `slot` shows picture `picture`, drawn
  // into `bitmap`, unless it shows that picture already.
  void RenderSlot(int slot, int picture, TBitmap32& bitmap);
  void ShowPictureCount();
  void SetProgress(QProgressBar* bar, int position, int max);
  // The end of a finished job: the completion dialog for the video.
  void ShowJobFinished(const std::string& videoPath);
  // Rebuilds the caption and the file-dialog filters from the current
  // language's labels; the language list calls it after every switch.
  void langueAfterLanguageSwitch();
  // The languages of the windows: found beside the program at the first
  // activation, chosen in Settings, remembered under the program's key.
  TLangList& langue() { return langue_; }

  // The controls show the project, the codec list the encoders of its
  // output's kind; for commands and rules that changed the project.
  void SyncFromProject();

  // --- What the window holds.
  TSlideProject& Project() { return project_; }
  TJobControl* Job() { return job_.get(); }
  TBmpToAvi* Avi() { return avi_.get(); }
  TFrameServer* ThumbServer() { return thumbServer_.get(); }
  TKLog* Log() { return log_.get(); }
  TTaskProgressBar* TaskbarProgress() { return taskbarProgress_.get(); }
  int FirstThumb() const;
  TThumbSlot* ThumbSlot(int i) const;
  bool Portable() const;
  bool StartupDone() const { return startupDone_; }
  Ui::MainDlg* Form() const { return ui_.get(); }
  const TProgramEnvironment& Environment() const { return environment_; }
  IUiThread& UiThread();
  // The file dialogs by name ("JOD", "JODSound", "JOD_fl", "JSD_fl", "JSD"):
  // what each command's picker is made from.
  QFileDialog* FileDialog(const char* name) const;

  // How files and web pages are handed to the desktop (xdg-open); tests
  // replace it to see what would be opened.
  std::function<bool(const std::string& target)> ShellOpener;
  // The installed help page and change log (or the copies beside a portable
  // program); empty when missing.
  std::string HelpPagePath() const;
  std::string ChangeLogPath() const;
  static std::string WebAddress();

  // The messages about a project's pictures that were left out when it was
  // loaded (not found, or not pictures we read): told after the load, and
  // asked before a save that would drop them. Each lists the pictures.
  static std::string LeftOutMessage(const std::vector<std::string>& pictures);
  static std::string SaveWithoutLeftOutQuestion(const std::vector<std::string>& pictures);

signals:
  // The first activation's work is done (codecs listed, project reset, a
  // project named on the command line loaded).
  void StartupFinished();
  // The job's phase as status panel 1 shows it ("Processing Video", "" when
  // the job has ended); emitted as the panel changes.
  void PhaseChanged(const QString& text);

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

  // IJobView.
  void ProgressChanged(int position, int max) override;
  void PreviewChanged(const TDib24* frame) override;
  void StatusChanged(const std::string& text) override;
  void ProgressLabelChanged(const std::string& text) override;
  void ControlsChanged() override;
  void OpenAddFilesDialog() override;
  void OpenOutputDialog() override;

private:
  // Start-up and shutdown.
  void AppEvtActivate();
  void FormClose();
  void LogLine(const std::string& line, int level = 1);

  // Commands.
  void addphotos_btnClick();
  void imgreset_btnClick();
  void save_btnClick();
  void load_btnClick();
  void prev_btnClick();
  void next_btnClick();
  void jump_btnClick();
  void sort_btnClick();
  void OnThumbClick(TThumbSlot* slot);
  void sound_btnClick();
  void resetaudio_btnClick();
  void matchaudio_btnClick();
  void exp_btnClick();
  void codecconfig_btnClick();
  void codecabout_btnClick();
  void out_btnClick();
  void go_btnClick();
  void cancel_btnClick();
  void ResetProject();
  void settings_btnClick();
  void help_btnClick();
  void about_btnClick();
  void OpenWeb(const std::string& address);
  void OnFilesDropped();
  void Organize();
  void LoadProjectFile(const std::string& file);
  // The files the program was started with: a project, pictures, folders of
  // pictures, a soundtrack; a message for what could not be taken.
  void OpenArguments(const std::vector<std::string>& arguments);

  // Runs a command; an error it does not handle ends it and is shown in an
  // error box, and the window goes on.
  void Command(const std::function<void()>& body);
  void ConnectCommands();
  void SetUpLook();
  void ApplyControlStates();
  // Runs the named file dialog in the folder; the chosen files, none when
  // cancelled.
  std::vector<std::string> ChooseFiles(const char* dialogName, const std::string& folder);
  std::string ChooseFile(const char* dialogName, const std::string& folder);
  // The output picker: the chosen name, and in kind the kind of its filter
  // (it opens on the kind given).
  std::string ChooseOutput(const std::string& folder, TOutputKind& kind);
  // The kind of video chosen last in the output picker; AVI until one is.
  static TOutputKind RememberedOutputKind();
  // Fills the codec list with the encoders of that kind and chooses one.
  void ShowCodecsFor(TOutputKind kind);

  TProgramEnvironment environment_;
  std::unique_ptr<Ui::MainDlg> ui_;
  TLangList langue_{"langue"};
  std::shared_ptr<TQtLangRoot> langRoot_;
  TMainDialogs dialogs_;
  std::unique_ptr<TPortableMode> portable_;
  std::unique_ptr<TQtUiThread> uiThread_;

  TSlideProject project_;
  std::unique_ptr<TKLog> log_;
  std::unique_ptr<TBmpToAvi> avi_;
  std::unique_ptr<TJobControl> job_;
  std::unique_ptr<TFrameServer> thumbServer_;
  std::unique_ptr<TTaskProgressBar> taskbarProgress_;
  std::unique_ptr<TLauncherEntry> launcher_;
  std::vector<std::string> dropList_;
  std::unique_ptr<TMyDropTarget> dropTarget_;
  std::unique_ptr<TThumbStrip> strip_;
  TStringList codecItems_;                        // the AVI compressors, listed at start-up
  TOutputKind codecKind_ = TOutputKind::Unknown;  // whose encoders codecs_cmb shows
  std::string aviCodecEntry_;                     // the AVI compressor chosen, while another kind is shown
  QLabel* statusPanel0_ = nullptr;
  QLabel* statusPanel1_ = nullptr;
  bool activated_ = false;
  bool startupDone_ = false;
  bool closed_ = false;
  bool syncing_ = false;
};

}  // namespace sdm
