#include "ui/U_MainDlg.h"

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
#include "ui/U_ProcessSuccess.h"
#include "ui/U_ReorderDlg.h"
#include "ui/U_SettingsDlg.h"
#include "ui/U_TaskBarLauncher.h"
#include "ui/UiHelpers.h"
#include "ui_U_MainDlg.h"

namespace sdm {

namespace main_dlg {

std::string Translated(const std::string& english) { return main_ts().Translate(english); }

std::string ExtensionOf(const std::string& path) {
  const std::string name = ExtractFileNameW(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool IsDroppedSoundtrack(const std::string& path) {
  const std::string extension = ExtensionOf(path);
  return IsSoundFileName(path) && extension == LowerCase(extension);
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string AllPicturesFilter(const std::string& label) {
  std::string patterns;
  for (const std::string& ext : PictureExtensions()) patterns += (patterns.empty() ? "*" : ";*") + ext;
  return label + "|" + patterns;
}

}  // namespace main_dlg

using namespace main_dlg;

namespace {

// The five file dialogs of the window and what each is for.
struct TFileDialogKind {
  const char* name;
  QFileDialog::AcceptMode accept;
  QFileDialog::FileMode mode;
  const char* builtInFilter;  // in force until the first language switch
  const char* defaultSuffix;
};
const TFileDialogKind kFileDialogs[] = {
    {"JOD", QFileDialog::AcceptOpen, QFileDialog::ExistingFiles, "JPEG|*.jpeg;*.jpg|Bitmap|*.bmp", nullptr},
    {"JODSound", QFileDialog::AcceptOpen, QFileDialog::ExistingFile,
     "Sound files|*.mp3;*.mp2;*.mp1;*.wav;*.ogg;*.flac;*.wma;*.asf;*.ape;*.ac3;*.mpc;*.aac;*.m4a|MP3 files|*.mp3",
     nullptr},
    {"JOD_fl", QFileDialog::AcceptOpen, QFileDialog::ExistingFile, "Slidomat Project|*.sdm", nullptr},
    {"JSD_fl", QFileDialog::AcceptSave, QFileDialog::AnyFile, "Slidomat Project|*.sdm", nullptr},
    {"JSD", QFileDialog::AcceptSave, QFileDialog::AnyFile,
     "AVI video (*.avi)|*.avi|MP4 video (H.264) (*.mp4)|*.mp4|WebM video (VP9) (*.webm)|*.webm", "avi"},
};

// The pictures, one a line; past a dozen, how many more there are.
std::string PictureLines(const std::vector<std::string>& pictures) {
  constexpr size_t kShown = 12;
  std::string text;
  for (size_t i = 0; i < pictures.size() && i < kShown; ++i) text += "\n" + pictures[i];
  if (pictures.size() > kShown) {
    // The count goes where the translation puts "%d", never through printf.
    std::string more = Translated("and %d more");
    const size_t at = more.find("%d");
    const std::string count = std::to_string(pictures.size() - kShown);
    more = at == std::string::npos ? more + " " + count : more.replace(at, 2, count);
    text += "\n" + more;
  }
  return text;
}

// The output picker's filters, in this order.
constexpr TOutputKind kOutputKinds[] = {TOutputKind::Avi, TOutputKind::Mp4, TOutputKind::WebM};

// The kind of video a name chosen in the output picker is written as: the
// one its extension names exactly, else the one of the filter chosen, whose
// extension is then appended (a name typed as "show" or "show.AVI" under
// "AVI video" becomes "show.avi" or "show.AVI.avi", as it always has).
TOutputKind ChosenOutput(std::string& name, TOutputKind filterKind) {
  for (TOutputKind k : kOutputKinds)
    if (EndsWith(name, ExtensionOf(k))) return k;
  name += ExtensionOf(filterKind);
  return filterKind;
}

}  // namespace

std::string TMainDlg::LeftOutMessage(const std::vector<std::string>& pictures) {
  return Translated("These pictures of the project were not found, or are not pictures Slidomat can read:") + "\n" +
         PictureLines(pictures);
}

std::string TMainDlg::SaveWithoutLeftOutQuestion(const std::vector<std::string>& pictures) {
  return Translated("These pictures of the project were not found when it was loaded:") + "\n" +
         PictureLines(pictures) + "\n\n" + Translated("Save the project without them?");
}

// ---------------------------------------------------------------- creation

TMainDlg::TMainDlg(TProgramEnvironment environment, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      environment_(std::move(environment)),
      ui_(std::make_unique<Ui::MainDlg>()) {
  ui_->setupUi(this);
  ShellOpener = [](const std::string& target) { return ShellOpen(target); };
  uiThread_ = std::make_unique<TQtUiThread>();

  // Two status panels: the picture count, 200 wide, and the job phase, which
  // takes the rest of the bar so its text is never cut.
  statusPanel0_ = new QLabel(ui_->StatusBar);
  statusPanel0_->setObjectName("StatusBar_panel0");
  statusPanel0_->setFixedWidth(200);
  statusPanel1_ = new QLabel(ui_->StatusBar);
  statusPanel1_->setObjectName("StatusBar_panel1");
  statusPanel1_->setMinimumWidth(50);
  ui_->StatusBar->addWidget(statusPanel0_);
  ui_->StatusBar->addWidget(statusPanel1_, 1);
  ui_->StatusBar->setFixedHeight(19);
  ui_->client->setFixedSize(783, 504);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  // The pickers are the desktop's own (GTK, KDE, the desktop portal) where
  // the platform offers them, so they look and behave like every other
  // program's. A platform without a desktop (offscreen, where the tests drive
  // the windows) gets Qt's own, which the tests can fill in.
  const QString platform = QGuiApplication::platformName();
  const bool toolkitPickers = platform == "offscreen" || platform == "minimal";
  for (const TFileDialogKind& k : kFileDialogs) {
    auto* dlg = new QFileDialog(this);
    dlg->setObjectName(k.name);
    dlg->setAcceptMode(k.accept);
    dlg->setFileMode(k.mode);
    dlg->setOption(QFileDialog::DontUseNativeDialog, toolkitPickers);
    if (k.accept == QFileDialog::AcceptSave) dlg->setOption(QFileDialog::DontConfirmOverwrite, true);
    if (k.defaultSuffix) dlg->setDefaultSuffix(k.defaultSuffix);
    const std::string filter =
        std::string(k.name) == "JOD" ? AllPicturesFilter("All pictures") + "|" + k.builtInFilter : k.builtInFilter;
    dlg->setNameFilters(DialogNameFilters(filter));
  }

  // The windows' languages. Every run starts from the program's own English
  // texts; the language chosen before is applied at the first activation.
  main_ts().Reset();
  UseToolkitLanguage(0);
  new TTextStorageObject(main_ts(), this);
  langue_.FilePrefix = "SDM_";
  langue_.RegKey = "Software\\Tarvenit\\Slidomat";
  if (!environment_.ProgramPath.empty()) langue_.SetProgramFolder(ExtractFilePath(environment_.ProgramPath));
  langRoot_ = std::make_shared<TQtLangRoot>(this);
  langue_.SetRoot(langRoot_);
  langue_.AfterLanguageSwitch = [this] { langueAfterLanguageSwitch(); };
  // The status panels show what the window composes; they have no text of
  // their own to translate.
  langue_.SetExcludedComps({statusPanel0_->objectName().toStdString(), statusPanel1_->objectName().toStdString()});
  langue_.OnBeep = [](int, int) { QApplication::beep(); };

  project_.Translator = [](const std::string& s) { return Translated(s); };
  project_.Log = [this](const std::string& m, int level) { LogLine(m, level); };

  SetUpLook();
  ConnectCommands();
  strip_ = std::make_unique<TThumbStrip>(ui_->photo_grp, ui_->thumb_rct, ui_->thumbstats_lbl, project_);
  connect(strip_.get(), &TThumbStrip::SlotClicked, this,
          [this](TThumbSlot* s) { Command([this, s] { OnThumbClick(s); }); });
  ShowPictureCount();

  // FormCreate: a portable copy brings its settings file into the registry
  // before anything reads a setting.
  portable_ = std::make_unique<TPortableMode>(environment_.ProgramPath);
}

TMainDlg::~TMainDlg() {
  // A window destroyed without having been closed (the session ended) still
  // writes its portable settings back.
  if (!closed_) FormClose();
  // FormDestroy.
  LogLine("Closing...");
  strip_.reset();
  taskbarProgress_.reset();
  launcher_.reset();
  job_.reset();
  thumbServer_.reset();  // before the lists it observes
  project_.ClearPictures();
  avi_.reset();
  dropTarget_.reset();
  dropList_.clear();
  if (log_) SetPictureNoteSink({});
  log_.reset();  // last: it writes its file when it goes
}

void TMainDlg::SetDialogs(const TMainDialogs& dialogs) {
  dialogs_ = dialogs;
  strip_->SetLoader(dialogs_.Loader);
}

IUiThread& TMainDlg::UiThread() { return *uiThread_; }

bool TMainDlg::Portable() const { return portable_ && portable_->Portable(); }

QFileDialog* TMainDlg::FileDialog(const char* name) const { return findChild<QFileDialog*>(name); }

std::string TMainDlg::WebAddress() { return SDM_WEB_ADDRESS; }

std::string TMainDlg::HelpPagePath() const { return FindDataFile(environment_.ProgramPath, "help/index.html"); }
std::string TMainDlg::ChangeLogPath() const { return FindDataFile(environment_.ProgramPath, "ChangeLog"); }

void TMainDlg::SetUpLook() {
  // The program-wide style sheet takes over palettes; the banner's colours are
  // therefore given the same way.
  ui_->top_pnl->setStyleSheet(
      "#top_pnl { background-color: #262932; }"
      "#product_lbl { color: #c0c0c0; } #subtitle_lbl { color: white; }");
  QFont product = ui_->product_lbl->font();
  product.setBold(true);
  product.setPixelSize(15);
  ui_->product_lbl->setFont(product);
  QFont subtitle = ui_->subtitle_lbl->font();
  subtitle.setPixelSize(13);
  ui_->subtitle_lbl->setFont(subtitle);
  ui_->subtitle_lbl->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ui_->product_lbl->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  QPalette white = ui_->modes_pnl->palette();
  white.setColor(QPalette::Window, Qt::white);
  ui_->modes_pnl->setPalette(white);

  const QIcon appIcon(":/slidomat/icon.png");
  setWindowIcon(appIcon);
  ui_->Image1->setPixmap(appIcon.pixmap(48, 48));
  ui_->trv_btn->setIcon(appIcon);
  QStyle* s = style();
  ui_->settings_btn->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
  ui_->help_btn->setIcon(s->standardIcon(QStyle::SP_DialogHelpButton));
  ui_->about_btn->setIcon(s->standardIcon(QStyle::SP_MessageBoxInformation));
  ui_->jump_btn->setIcon(s->standardIcon(QStyle::SP_MediaSkipForward));
  ui_->sort_btn->setIcon(s->standardIcon(QStyle::SP_FileDialogListView));

  QFont stats = ui_->thumbstats_lbl->font();
  stats.setBold(true);
  stats.setPixelSize(14);
  ui_->thumbstats_lbl->setFont(stats);
  ui_->thumbstats_lbl->hide();

  QPalette grey = ui_->thumb_rct->palette();
  grey.setColor(QPalette::WindowText, QColor(160, 160, 160));
  ui_->thumb_rct->setPalette(grey);

  // The output name is shown, never typed: it looks disabled.
  QPalette out = ui_->out_txt->palette();
  out.setColor(QPalette::Base, out.color(QPalette::Window));
  ui_->out_txt->setPalette(out);
  ui_->pb->setRange(0, 100);
  ui_->pb->setValue(0);
}

// ---------------------------------------------------------------- commands

void TMainDlg::Command(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
}

void TMainDlg::ConnectCommands() {
  auto command = [this](auto* sender, auto signal, void (TMainDlg::*method)()) {
    connect(sender, signal, this, [this, method] { Command([this, method] { (this->*method)(); }); });
  };
  using B = QAbstractButton;
  using A = QAction;
  command(ui_->addphotos_btn, &B::clicked, &TMainDlg::addphotos_btnClick);
  command(ui_->Add1, &A::triggered, &TMainDlg::addphotos_btnClick);
  command(ui_->imgreset_btn, &B::clicked, &TMainDlg::imgreset_btnClick);
  command(ui_->reset1, &A::triggered, &TMainDlg::imgreset_btnClick);
  command(ui_->save_btn, &B::clicked, &TMainDlg::save_btnClick);
  command(ui_->Save1, &A::triggered, &TMainDlg::save_btnClick);
  command(ui_->load_btn, &B::clicked, &TMainDlg::load_btnClick);
  command(ui_->Load1, &A::triggered, &TMainDlg::load_btnClick);
  command(ui_->prev_btn, &B::clicked, &TMainDlg::prev_btnClick);
  command(ui_->next_btn, &B::clicked, &TMainDlg::next_btnClick);
  command(ui_->jump_btn, &B::clicked, &TMainDlg::jump_btnClick);
  command(ui_->sort_btn, &B::clicked, &TMainDlg::sort_btnClick);
  command(ui_->Organize1, &A::triggered, &TMainDlg::sort_btnClick);
  command(ui_->sound_btn, &B::clicked, &TMainDlg::sound_btnClick);
  command(ui_->Select1, &A::triggered, &TMainDlg::sound_btnClick);
  command(ui_->resetaudio_btn, &B::clicked, &TMainDlg::resetaudio_btnClick);
  command(ui_->Remove1, &A::triggered, &TMainDlg::resetaudio_btnClick);
  command(ui_->matchaudio_btn, &B::clicked, &TMainDlg::matchaudio_btnClick);
  command(ui_->exp_btn, &B::clicked, &TMainDlg::exp_btnClick);
  command(ui_->codecconfig_btn, &B::clicked, &TMainDlg::codecconfig_btnClick);
  command(ui_->codecabout_btn, &B::clicked, &TMainDlg::codecabout_btnClick);
  command(ui_->out_btn, &B::clicked, &TMainDlg::out_btnClick);
  command(ui_->go_btn, &B::clicked, &TMainDlg::go_btnClick);
  command(ui_->cancel_btn, &B::clicked, &TMainDlg::cancel_btnClick);
  command(ui_->New1, &A::triggered, &TMainDlg::ResetProject);
  command(ui_->settings_btn, &B::clicked, &TMainDlg::settings_btnClick);
  command(ui_->Settings1, &A::triggered, &TMainDlg::settings_btnClick);
  command(ui_->help_btn, &B::clicked, &TMainDlg::help_btnClick);
  command(ui_->Help1, &A::triggered, &TMainDlg::help_btnClick);
  command(ui_->about_btn, &B::clicked, &TMainDlg::about_btnClick);
  command(ui_->About1, &A::triggered, &TMainDlg::about_btnClick);
  connect(ui_->Quit1, &QAction::triggered, this, &QWidget::close);
  connect(ui_->Openlogfile1, &QAction::triggered, this, [this] {
    if (log_) log_->OpenLogFile();
  });
  connect(ui_->ChangeLog1, &QAction::triggered, this, [this] {
    const std::string path = ChangeLogPath();
    OpenWeb(path.empty() ? WebAddress() : path);
  });
  connect(ui_->Checkforupdate1, &QAction::triggered, this, [this] { OpenWeb(WebAddress()); });
  connect(ui_->BugreportFeaturerequestKnownissues1, &QAction::triggered, this, [this] { OpenWeb(WebAddress()); });
  connect(ui_->trv_btn, &QToolButton::clicked, this, [this] { OpenWeb(WebAddress()); });

  // Options: each control writes its field; the project's rules may change
  // others (the frame rate follows Dynamic), which the controls then show.
  connect(ui_->dynamics_chk, &QCheckBox::clicked, this, [this](bool on) {
    project_.SetDynamic(on);
    SyncFromProject();
  });
  connect(ui_->xfade_chk, &QCheckBox::clicked, this, [this](bool on) { project_.SetCrossFade(on); });
  connect(ui_->osd_chk, &QCheckBox::clicked, this, [this](bool on) { project_.SetOsd(on); });
  connect(ui_->time_txt, &QSpinBox::valueChanged, this, [this](int v) {
    if (!syncing_) project_.SetMsPerPicture(v);
  });
  connect(ui_->FPS_txt, &QSpinBox::valueChanged, this, [this](int v) {
    if (!syncing_) project_.SetFramesPerSecond(v);
  });
  connect(ui_->res_cmb, &QComboBox::currentTextChanged, this, [this](const QString& t) {
    if (!syncing_) project_.SetResolution(t.toStdString());
  });
  connect(ui_->codecs_cmb, &QComboBox::currentTextChanged, this, [this](const QString& t) {
    if (!syncing_) project_.SetCodecEntry(t.toStdString());
  });
  connect(ui_->Greyscale1, &QAction::triggered, this, [this] {
    project_.ToggleGreyscale();
    SyncFromProject();
  });
  connect(ui_->Sepia1, &QAction::triggered, this, [this] {
    project_.ToggleSepia();
    SyncFromProject();
  });
}

void TMainDlg::SyncFromProject() {
  // The codec list follows the kind of the output (a project file may have
  // named another); without an output it stays as it is.
  if (startupDone_) ShowCodecsFor(project_.OutputKind());
  syncing_ = true;
  ui_->dynamics_chk->setChecked(project_.Dynamic());
  ui_->xfade_chk->setChecked(project_.CrossFade());
  ui_->osd_chk->setChecked(project_.Osd());
  ui_->time_txt->setValue(project_.MsPerPicture());
  ui_->FPS_txt->setValue(project_.FramesPerSecond());
  ui_->res_cmb->setCurrentIndex(ui_->res_cmb->findText(QString::fromStdString(project_.Resolution())));
  ui_->codecs_cmb->setCurrentIndex(ui_->codecs_cmb->findText(QString::fromStdString(project_.CodecEntry())));
  ui_->out_txt->setText(QString::fromStdString(project_.OutputPath()));
  ui_->sound_txt->setText(QString::fromStdString(project_.SoundPath()));
  ui_->audioduration_lbl->setText(
      project_.SoundPath().empty() ? QString() : QString::fromStdString(FormatDuration(project_.SoundDuration())));
  ui_->Greyscale1->setChecked(project_.Greyscale());
  ui_->Sepia1->setChecked(project_.Sepia());
  syncing_ = false;
  ApplyControlStates();
}

void TMainDlg::ApplyControlStates() {
  if (!job_) return;
  static const char* const kSingleFrameLocked[] = {"dynamics_chk", "xfade_chk", "osd_chk", "time_txt"};
  for (const auto& [name, enabled] : job_->Controls()) {
    bool on = enabled;
    if (name == "matchaudio_btn") on = project_.MatchAudioEnabled();
    for (const char* locked : kSingleFrameLocked)
      if (name == locked) on = enabled && !project_.SingleFrame();
    if (QMenu* menu = findChild<QMenu*>(QString::fromStdString(name)))
      menu->menuAction()->setEnabled(on);
    else if (QWidget* w = findChild<QWidget*>(QString::fromStdString(name)))
      w->setEnabled(on);
  }
}

void TMainDlg::LogLine(const std::string& line, int level) {
  if (log_) log_->AddLine(line, level);
}

std::vector<std::string> TMainDlg::ChooseFiles(const char* dialogName, const std::string& folder) {
  // The named dialog keeps what is set on it (mode, filters, title, in the
  // current language); each command runs a fresh copy of it, so nothing
  // picked the time before is still selected in it.
  const QFileDialog* kept = FileDialog(dialogName);
  QFileDialog dlg(this);
  dlg.setObjectName(kept->objectName());
  dlg.setWindowTitle(kept->windowTitle());
  dlg.setOptions(kept->options());
  dlg.setAcceptMode(kept->acceptMode());
  dlg.setFileMode(kept->fileMode());
  dlg.setDefaultSuffix(kept->defaultSuffix());
  dlg.setNameFilters(kept->nameFilters());
  if (!folder.empty() && DirectoryExistsLong(folder)) dlg.setDirectory(QString::fromStdString(folder));
  std::vector<std::string> files;
  if (dlg.exec() != QDialog::Accepted) return files;
  for (const QString& f : dlg.selectedFiles()) files.push_back(f.toStdString());
  return files;
}

std::string TMainDlg::ChooseFile(const char* dialogName, const std::string& folder) {
  const std::vector<std::string> files = ChooseFiles(dialogName, folder);
  return files.empty() ? std::string() : files.front();
}

// --- Pictures.

void TMainDlg::AddPicture(const std::string& text) {
  project_.AddPicture(text);
  ShowPictureCount();
}

void TMainDlg::AddFiles(const std::vector<std::string>& list) {
  project_.AddFiles(list);
  ShowPictureCount();
  RefreshThumbs();
}

void TMainDlg::addphotos_btnClick() {
  const std::vector<std::string> picked = ChooseFiles("JOD", GetSetting("PicsPath"));
  if (picked.empty()) return;
  const std::vector<std::string> list = SortByFolderOrder(picked);
  AddFiles(list);
  if (!list.empty()) SetSetting("PicsPath", ExtractFilePath(list.front()));
}

void TMainDlg::imgreset_btnClick() {
  ClearPictures();
  strip_->ClearStats();
  ui_->img->hide();
  ShowPictureCount();
}

void TMainDlg::ClearPictures() {
  project_.ClearPictures();
  strip_->Recreate();
  strip_->Refresh();
}

void TMainDlg::ShowPictureCount() {
  statusPanel0_->setText(
      QString("%1 %2").arg(project_.PictureCount()).arg(QString::fromStdString(Translated("pictures"))));
}

// --- Thumbnail strip.

void TMainDlg::RenderSlot(int slot, int picture, TBitmap32& bitmap) { strip_->RenderSlot(slot, picture, bitmap); }

void TMainDlg::RefreshThumbs() { strip_->Refresh(); }

int TMainDlg::FirstThumb() const { return strip_->First(); }

TThumbSlot* TMainDlg::ThumbSlot(int i) const { return strip_->Slot(i); }

void TMainDlg::next_btnClick() { strip_->Next(); }

void TMainDlg::prev_btnClick() { strip_->Prev(); }

void TMainDlg::jump_btnClick() {
  const int n = project_.PictureCount();
  if (n < 6 || !dialogs_.Jump) return;
  if (dialogs_.Jump->Execute(n, strip_->First())) strip_->JumpTo(dialogs_.Jump->FirstIndex());
}

void TMainDlg::sort_btnClick() { Organize(); }

void TMainDlg::OnThumbClick(TThumbSlot* slot) {
  if (dialogs_.Reorder) dialogs_.Reorder->StartIndex = slot->PictureIndex;
  Organize();
}

void TMainDlg::Organize() {
  if (!dialogs_.Reorder) return;
  dialogs_.Reorder->Project = &project_;
  dialogs_.Reorder->ThumbServer = thumbServer_.get();
  dialogs_.Reorder->Execute();
  strip_->PicturesEdited();
  ShowPictureCount();
}

// --- Soundtrack.

void TMainDlg::SetSoundtrack(const std::string& path) {
  OpenSoundtrack(project_, path);
  SyncFromProject();
}

void TMainDlg::sound_btnClick() {
  const std::string file = ChooseFile("JODSound", GetSetting("AudioPath"));
  if (file.empty()) return;
  SetSoundtrack(file);  // a reader's error ends the command here
  SetSetting("AudioPath", ExtractFilePath(file));
}

void TMainDlg::resetaudio_btnClick() {
  project_.ClearSoundtrack();
  SyncFromProject();
}

void TMainDlg::matchaudio_btnClick() {
  project_.MatchAudio();
  SyncFromProject();
}

void TMainDlg::exp_btnClick() {
  if (!dialogs_.Expert || !dialogs_.Expert->Execute(project_.SingleFrame(), project_.Scaling())) return;
  project_.SetSingleFrame(dialogs_.Expert->SingleFrame());
  project_.SetScaling(dialogs_.Expert->Scaling());
  SetSetting("PictureScaling", ScalingWord(project_.Scaling()));
  ApplyControlStates();
}

// --- Codec, output, job.

void TMainDlg::codecconfig_btnClick() {
  if (codecKind_ == TOutputKind::Mp4) {
    // The H.264 encoder's settings, kept like a compressor's.
    TH264Settings settings = LoadH264Settings();
    if (!dialogs_.CodecConfig || !dialogs_.CodecConfig->ExecuteH264(project_.CodecEntry(), settings)) return;
    if (!SaveH264Settings(settings))
      throw std::runtime_error(Translated("Unable to write file") + " : Software\\Tarvenit VfW\\avc1");
    return;
  }
  if (codecKind_ != TOutputKind::Avi || !avi_) return;  // VP9 has nothing to set
  avi_->SetFourCC(project_.FourCC());
  avi_->Configure(0);
}

void TMainDlg::codecabout_btnClick() {
  if (codecKind_ == TOutputKind::Mp4 || codecKind_ == TOutputKind::WebM) {
    const std::string entry = project_.CodecEntry();
    if (dialogs_.CodecAbout && !entry.empty())
      dialogs_.CodecAbout->Execute(mmioStringToFOURCC(entry.substr(0, 4)), entry.size() > 5 ? entry.substr(5) : "",
                                   codecKind_ == TOutputKind::Mp4 ? "libx264, aac" : "libvpx-vp9, libopus");
    return;
  }
  if (!avi_) return;
  avi_->SetFourCC(project_.FourCC());
  avi_->About(0);
}

void TMainDlg::out_btnClick() {
  TOutputKind kind = RememberedOutputKind();
  std::string chosen = ChooseOutput(GetSetting("OutPath"), kind);
  if (chosen.empty()) return;
  SetSetting("OutPath", ExtractFilePath(chosen));
  kind = ChosenOutput(chosen, kind);
  project_.SetOutputPath(chosen);
  SetSetting("OutputKind", KindSettingValue(kind));
  SyncFromProject();
}

TOutputKind TMainDlg::RememberedOutputKind() {
  const TOutputKind kind = KindFromSettingValue(GetSetting("OutputKind"));
  return kind == TOutputKind::Unknown ? TOutputKind::Avi : kind;
}

std::string TMainDlg::ChooseOutput(const std::string& folder, TOutputKind& kind) {
  // The output picker as ChooseFiles runs it, opened on the kind chosen last.
  const QFileDialog* kept = FileDialog("JSD");
  QFileDialog dlg(this);
  dlg.setObjectName(kept->objectName());
  dlg.setWindowTitle(kept->windowTitle());
  dlg.setOptions(kept->options());
  dlg.setAcceptMode(kept->acceptMode());
  dlg.setFileMode(kept->fileMode());
  dlg.setNameFilters(kept->nameFilters());
  auto indexOf = [](TOutputKind k) {
    for (int i = 0; i < 3; ++i)
      if (kOutputKinds[i] == k) return i;
    return 0;
  };
  const QStringList filters = dlg.nameFilters();
  const int first = std::min(indexOf(kind), static_cast<int>(filters.size()) - 1);
  if (first >= 0) dlg.selectNameFilter(filters[first]);
  // No default suffix of the dialog's own: the extension of the kind chosen
  // is appended by the window's rule, whichever way the filter was picked.
  if (!folder.empty() && DirectoryExistsLong(folder)) dlg.setDirectory(QString::fromStdString(folder));
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  const int chosen = static_cast<int>(dlg.nameFilters().indexOf(dlg.selectedNameFilter()));
  if (chosen >= 0 && chosen < 3) kind = kOutputKinds[chosen];
  return dlg.selectedFiles().front().toStdString();
}

void TMainDlg::ShowCodecsFor(TOutputKind kind) {
  if (kind == TOutputKind::Unknown || kind == codecKind_) return;
  // The AVI compressor chosen is kept for when the output is an AVI again.
  if (codecKind_ == TOutputKind::Avi) aviCodecEntry_ = project_.CodecEntry();
  codecKind_ = kind;
  const std::vector<std::string> entries = kind == TOutputKind::Avi ? codecItems_.Items() : ContainerCodecEntries(kind);
  syncing_ = true;
  ui_->codecs_cmb->clear();
  for (const std::string& entry : entries) ui_->codecs_cmb->addItem(QString::fromStdString(entry));
  syncing_ = false;
  std::string chosen;
  if (kind != TOutputKind::Avi) {
    if (!entries.empty()) chosen = entries.front();
  } else if (std::find(entries.begin(), entries.end(), aviCodecEntry_) != entries.end()) {
    chosen = aviCodecEntry_;
  } else if (!entries.empty()) {
    // The start-up choice: the remembered FourCC, else the first compressor.
    std::string lastFcc = GetSetting("LastFCC");
    if (lastFcc.empty()) lastFcc = "xvid";
    chosen = entries.front();
    for (const std::string& entry : entries)
      if (StartsText(entry, lastFcc)) {
        chosen = entry;
        break;
      }
  }
  project_.SetCodecEntry(chosen);
  if (job_) job_->SetCodecListEmpty(entries.empty());
}

void TMainDlg::go_btnClick() {
  if (!job_) return;
  try {
    job_->Go();
  } catch (...) {
    SyncFromProject();
    throw;
  }
  // The frame budget rule may have switched options off in the project.
  SyncFromProject();
}

void TMainDlg::cancel_btnClick() {
  if (job_) job_->Cancel();
}

void TMainDlg::ShowJobFinished(const std::string& videoPath) {
  if (dialogs_.ProcessSuccess) dialogs_.ProcessSuccess->Execute(videoPath);
}

// --- Project file.

void TMainDlg::save_btnClick() {
  // Pictures the project named but that were not there when it was loaded
  // are not in the lists: saving would drop them from the file for good.
  const std::vector<std::string> leftOut = project_.LeftOutPictures();
  if (!leftOut.empty() && ShowMessageBox(SaveWithoutLeftOutQuestion(leftOut), mbYesNo, mkQuestion) != mrYes) return;
  const std::string chosen = ChooseFile("JSD_fl", "");
  if (chosen.empty()) return;
  // Like the system's save dialog of this command: a name that does not
  // exist yet is created only when the user says so.
  if (!FileExistsLong(chosen) && ShowMessageBox(chosen + "\n" + Translated("This file does not exist.") + "\n" +
                                                    Translated("Do you want to create it?"),
                                                mbYesNo, mkQuestion) != mrYes)
    return;
  SaveProject(project_, chosen);
  project_.SetLeftOutPictures({});
}

void TMainDlg::load_btnClick() {
  const std::string file = ChooseFile("JOD_fl", "");
  if (file.empty()) return;
  LoadProjectFile(file);
}

void TMainDlg::LoadProjectFile(const std::string& file) {
  TProjectLoadActions actions;
  actions.SetSoundtrack = [this](const std::string& p) { SetSoundtrack(p); };
  actions.ClearPictures = [this] { imgreset_btnClick(); };
  actions.AddFiles = [this](const std::vector<std::string>& l) { AddFiles(l); };
  try {
    LoadProject(project_, file, actions);
  } catch (...) {
    SyncFromProject();  // the header lines before the failing one took effect
    throw;
  }
  ShowPictureCount();
  SyncFromProject();
  // One message for all the pictures that were left out, not one each.
  if (!project_.LeftOutPictures().empty()) ShowMessageBox(LeftOutMessage(project_.LeftOutPictures()), mbOk, mkWarning);
}

// --- New, dialogs, web.

void TMainDlg::ResetProject() {
  project_.ResetProject();
  ClearPictures();
  strip_->ClearStats();
  ui_->img->hide();
  ShowPictureCount();
  if (job_) job_->EnableControls(true);  // which ends Single Frame mode
  SyncFromProject();
}

void TMainDlg::settings_btnClick() {
  if (dialogs_.Settings) dialogs_.Settings->Execute();
}

void TMainDlg::help_btnClick() {
  const std::string page = HelpPagePath();
  OpenWeb(page.empty() ? WebAddress() : page);
}

void TMainDlg::about_btnClick() {
  if (dialogs_.About) dialogs_.About->Execute(environment_.ProgramPath);
}

void TMainDlg::OpenWeb(const std::string& address) {
  if (ShellOpener) ShellOpener(address);
}

// --- Dropped files.

// ---------------------------------------------------------------- IJobView

void TMainDlg::SetProgress(QProgressBar* bar, int position, int max) {
  // A maximum of 0 would make Qt's bar run as a busy indicator; an empty bar
  // is what such a range means here.
  bar->setRange(0, std::max(max, 1));
  if (taskbarProgress_) taskbarProgress_->SetMax(max);
  bar->setValue(std::clamp(position, 0, std::max(max, 1)));
  if (taskbarProgress_) taskbarProgress_->SetPosition(position);
}

void TMainDlg::ProgressChanged(int position, int max) { SetProgress(ui_->pb, position, max); }

void TMainDlg::PreviewChanged(const TDib24* frame) {
  if (!frame) {
    ui_->img->hide();
    return;
  }
  ui_->img->setPixmap(QPixmap::fromImage(DibToImage(*frame)));
  ui_->img->show();
}

void TMainDlg::StatusChanged(const std::string& text) {
  statusPanel1_->setText(QString::fromStdString(text));
  emit PhaseChanged(statusPanel1_->text());
}

void TMainDlg::ProgressLabelChanged(const std::string& text) { ui_->prog_lbl->setText(QString::fromStdString(text)); }

void TMainDlg::ControlsChanged() { SyncFromProject(); }

void TMainDlg::OpenAddFilesDialog() { addphotos_btnClick(); }

void TMainDlg::OpenOutputDialog() { out_btnClick(); }

}  // namespace sdm
