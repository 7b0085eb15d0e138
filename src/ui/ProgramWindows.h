#pragma once
// The program's windows, created once at start-up in a fixed order (the main
// window first, then every dialog it opens) and kept for the whole run, and
// the look they share.
#include <QApplication>
#include <memory>

#include "ui/QtUserInteraction.h"
#include "ui/U_MainDlg.h"

namespace sdm {

class TAboutDlg;
class TLoadDlg;

// Fusion style and the font every window uses. "MS Sans Serif" 8 point, which
// the layouts were drawn for, does not exist here: DejaVu Sans at 11 pixels
// is as tall, and every caption fits its control at that size.
void ApplyProgramLook(QApplication& app);
inline constexpr const char* kProgramFontFamily = "DejaVu Sans";
inline constexpr int kProgramFontPixelSize = 11;

class TProgramWindows {
public:
  explicit TProgramWindows(TProgramEnvironment environment);
  ~TProgramWindows();
  TProgramWindows(const TProgramWindows&) = delete;
  TProgramWindows& operator=(const TProgramWindows&) = delete;

  TMainDlg& Main() { return *main_; }
  TQtUserInteraction& Interaction() { return interaction_; }
  const TMainDialogs& Dialogs() const { return main_->Dialogs(); }

private:
  TQtUserInteraction interaction_;
  std::unique_ptr<TMainDlg> main_;
};

}  // namespace sdm
