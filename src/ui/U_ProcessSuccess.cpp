#include "ui/U_ProcessSuccess.h"

#include <QStyle>

#include "localization/TextStorage.h"
#include "platform/shell/Process.h"
#include "project/BurnTools.h"
#include "support/MessageBoxes.h"
#include "support/SettingsStore.h"
#include "support/U_SysUtils.h"
#include "support/UserInteraction.h"
#include "ui/BurnDlg.h"
#include "ui/QtUserInteraction.h"
#include "ui_U_ProcessSuccess.h"

namespace sdm {

TProcessSuccessDlg::TProcessSuccessDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::ProcessSuccessDlg>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  QStyle* s = style();
  ui_->icon_img->setPixmap(s->standardIcon(QStyle::SP_DialogApplyButton).pixmap(32, 32));
  ui_->play_btn->setIcon(s->standardIcon(QStyle::SP_MediaPlay));
  ui_->burncd_btn->setIcon(s->standardIcon(QStyle::SP_DriveCDIcon));
  ui_->dvd_btn->setIcon(s->standardIcon(QStyle::SP_DriveDVDIcon));
  ui_->folder_btn->setIcon(s->standardIcon(QStyle::SP_DirOpenIcon));
  connect(ui_->play_btn, &QToolButton::clicked, this, [this] { play_btnClick(); });
  connect(ui_->folder_btn, &QToolButton::clicked, this, [this] { folder_btnClick(); });
  connect(ui_->dvd_btn, &QToolButton::clicked, this, [this] { dvd_btnClick(); });
  connect(ui_->burncd_btn, &QToolButton::clicked, this, [this] { burncd_btnClick(); });
}

TProcessSuccessDlg::~TProcessSuccessDlg() = default;

bool TProcessSuccessDlg::Execute(const std::string& videoFile) {
  VideoFile = videoFile;
  return exec() == QDialog::Accepted;
}

bool TProcessSuccessDlg::Open(const std::string& target) { return ShellOpener && ShellOpener(target); }

void TProcessSuccessDlg::play_btnClick() {
  Open(VideoFile);
  accept();
}

void TProcessSuccessDlg::folder_btnClick() {
  Open(ExtractFilePath(VideoFile));
  accept();
}

void TProcessSuccessDlg::dvd_btnClick() {
  if (FindDvdTool().empty()) {
    if (ShowMessageBox(main_ts().Translate("Convertion to DVD requires a third party product from Xol Software. "
                                           "Do you want to download it now ?"),
                       mbYesNo, mkWarning) != mrYes)
      return;  // the dialog stays for another choice
    Open(DownloadPage);
  }
  // Looked up again: the download may have installed it. Still missing, the
  // opening fails without a word, as the page has just been offered.
  const std::string tool = FindDvdTool();
  std::string error;
  if (!tool.empty()) TProcess::Start({tool, VideoFile}, error);
  accept();
}

void TProcessSuccessDlg::burncd_btnClick() {
  if (!FindBurner().Found()) {
    if (ShowMessageBox(
            main_ts().Translate("BrennoDVD is required to burn CDs or DVDs. Do you want to download it now ?"), mbYesNo,
            mkWarning) != mrYes)
      return;
    Open(DownloadPage);
  }
  const std::string folder = GetAppDataFolder(ProgramPath, kProductName);
  const std::string compilation = CompilationFileName(folder, "sdm", 0);
  if (!WriteCompilationFile(compilation, {VideoFile})) {
    ShowErrorBox(main_ts().Translate("Unable to write file") + " : " + compilation);
    return;
  }
  if (Brenno) {
    Brenno->FileCount = 1;
    Brenno->Prefix = "sdm";
    Brenno->DataFolder = folder;
    Brenno->Execute();
    if (!Brenno->StartError.empty()) {
      // Nothing is burning: say so, and leave the other choices open.
      ShowErrorBox(main_ts().Translate("The burning program could not be started.") + "\n" + Brenno->StartError);
      return;
    }
  }
  accept();
}

}  // namespace sdm
