#include "ui/ProgramWindows.h"

#include <QFont>
#include <QStyleFactory>

#include "support/SettingsStore.h"
#include "ui/AboutDlg.h"
#include "ui/BurnDlg.h"
#include "ui/CodecDlgs.h"
#include "ui/CodecLoadingDlg.h"
#include "ui/LanguageChoice.h"
#include "ui/ThumbnailLoaderDlg.h"
#include "ui/U_ExpertDlg.h"
#include "ui/U_JumpDlg.h"
#include "ui/U_ProcessSuccess.h"
#include "ui/U_ReorderDlg.h"
#include "ui/U_SettingsDlg.h"
#include "ui_U_SettingsDlg.h"

// The icons are compiled into the window library; a static library's
// resources are registered by hand, outside any namespace.
static void InitUiResources() { Q_INIT_RESOURCE(ui); }

namespace sdm {

void ApplyProgramLook(QApplication& app) {
  InitUiResources();
  app.setApplicationName(kProductName);
  // No display name: Qt would append it to every window title ("Slidomat
  // v1.0.0.0 — Slidomat"); a dialog without a title of its own shows the
  // application name all the same.
  app.setDesktopFileName("io.github.tarvenit.Slidomat");
  if (QStyle* fusion = QStyleFactory::create("Fusion")) app.setStyle(fusion);
  QFont font(kProgramFontFamily);
  font.setPixelSize(kProgramFontPixelSize);
  app.setFont(font);
  // Group captions sit on the frame line, as the layouts expect: a child
  // placed 16 pixels down is inside the frame, below its caption.
  app.setStyleSheet(
      "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px; padding: 0 2px; }");
}

TProgramWindows::TProgramWindows(TProgramEnvironment environment) {
  SetUserInteraction(&interaction_);
  main_ = std::make_unique<TMainDlg>(std::move(environment));
  TMainDlg* m = main_.get();
  interaction_.SetParent(m);
  // The dialogs, in the order the program has always made them; each is a
  // child of the main window, which frees them.
  TMainDialogs d;
  d.About = new TAboutDlg(m);
  d.About->OpenWeb = [m](const std::string& address) {
    if (m->ShellOpener) m->ShellOpener(address);
  };
  d.Jump = new TJumpDlg(m);
  d.Reorder = new TReorderDlg(m);
  d.Loader = new TLoaderDlg(m->UiThread(), m);
  d.Loader->SetProgress = [m](QProgressBar* bar, int position, int max) { m->SetProgress(bar, position, max); };
  d.Loader->SlotStep = [m](int slot, int picture, TBitmap32& bitmap) { m->RenderSlot(slot, picture, bitmap); };
  d.Settings = new TSettingsDlg(m);
  // The language chooser lists the languages once, when its window is made.
  d.Settings->Form()->lng->SetLanguageList(&m->langue());
  d.Expert = new TExpertDlg(m);
  d.ProcessSuccess = new TProcessSuccessDlg(m);
  d.ProcessSuccess->ProgramPath = m->Environment().ProgramPath;
  d.ProcessSuccess->DownloadPage = TMainDlg::WebAddress();
  d.ProcessSuccess->ShellOpener = [m](const std::string& target) { return m->ShellOpener && m->ShellOpener(target); };
  d.ProcessSuccess->Brenno = new TBrennoDlg(m);
  d.Load = new TLoadDlg(m->UiThread(), m);
  // The compressors' own dialogs, shown through the compressor layer.
  d.CodecConfig = new TCodecConfigDlg(m);
  d.CodecAbout = new TCodecAboutDlg(m);
  m->SetDialogs(d);
  interaction_.OnJobFinished = [m](const std::string& video) { m->ShowJobFinished(video); };
  InstallCompressorDialogs(d.CodecConfig, d.CodecAbout);
}

TProgramWindows::~TProgramWindows() {
  InstallCompressorDialogs(nullptr, nullptr);
  main_.reset();
  SetUserInteraction(nullptr);
}

}  // namespace sdm
