#include "ui/QtUserInteraction.h"

#include <QApplication>
#include <QMessageBox>

#include "localization/TextStorage.h"
#include "project/ErrorText.h"
#include "support/SettingsStore.h"

namespace sdm {

namespace {

QMessageBox::Icon IconOf(int kind) {
  switch (kind) {
    case mkWarning: return QMessageBox::Warning;
    case mkError: return QMessageBox::Critical;
    case mkQuestion: return QMessageBox::Question;
    case mkInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

int TQtUserInteraction::MessageBox(const std::string& caption, const std::string& text, int buttons, int kind) {
  QMessageBox box(parent_);
  box.setObjectName("MsgDlg");
  box.setIcon(IconOf(kind));
  // A box without a caption of its own carries the program's name, as every
  // plain message of the program does.
  box.setWindowTitle(caption.empty() ? QString(kProductName) : QString::fromStdString(main_ts().Translate(caption)));
  box.setText(QString::fromStdString(text));
  switch (buttons) {
    case mbYesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case mbYesNoCancel: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
    case mbOkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return mrYes;
    case QMessageBox::No: return mrNo;
    case QMessageBox::Ok: return mrOk;
    default:
      // Escape or the close box: the answer that changes nothing.
      return buttons == mbYesNo ? mrNo : mrCancel;
  }
}

void ShowErrorBox(const std::string& text) {
  UserInteraction().MessageBox("Error", TranslatedCause(text, &main_ts()), mbOk, mkError);
}

}  // namespace sdm
