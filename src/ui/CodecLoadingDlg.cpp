#include "ui/CodecLoadingDlg.h"

#include <QCloseEvent>

#include "ui/CodecLoadingThd.h"
#include "ui_CodecLoadingDlg.h"

namespace sdm {

TLoadDlg::TLoadDlg(IUiThread& ui, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::LoadDlg>()),
      uiThread_(ui) {
  ui_->setupUi(this);
  setFixedSize(225, 29);
  Tmr.setInterval(20);
  Tmr.setSingleShot(true);
  TmrPB.setInterval(100);
  connect(&Tmr, &QTimer::timeout, this, [this] { TmrTimer(); });
  connect(&TmrPB, &QTimer::timeout, this, [this] { TmrPBTimer(); });
}

TLoadDlg::~TLoadDlg() = default;

bool TLoadDlg::Execute() {
  ui_->pb->setValue(0);
  working_ = true;
  Tmr.start();
  return exec() == QDialog::Accepted;
}

void TLoadDlg::TmrTimer() {
  Tmr.stop();
  auto* thread = new TLoadThd(uiThread_);  // frees itself when it ends
  thread->FreeOnTerminate = true;
  thread->Avi = Avi;
  thread->CodecItems = CodecItems;
  thread->OnTerminate = [this](TThread&) {
    TmrPB.stop();
    working_ = false;
    accept();
  };
  thread->Start();
  TmrPB.start();
}

void TLoadDlg::TmrPBTimer() {
  if (ui_->pb->value() >= ui_->pb->maximum()) ui_->pb->setValue(0);
  ui_->pb->setValue(ui_->pb->value() + 10);
}

// Closing before the list is filled would let the start-up go on without it.
void TLoadDlg::reject() {
  if (!working_) QDialog::reject();
}

void TLoadDlg::closeEvent(QCloseEvent* event) {
  if (working_)
    event->ignore();
  else
    QDialog::closeEvent(event);
}

}  // namespace sdm
