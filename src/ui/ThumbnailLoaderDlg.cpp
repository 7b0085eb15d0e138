#include "ui/ThumbnailLoaderDlg.h"

#include <QCloseEvent>

#include "ui/ThumbnailLoaderThd.h"
#include "ui_ThumbnailLoaderDlg.h"

namespace sdm {

TLoaderDlg::TLoaderDlg(IUiThread& ui, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::LoaderDlg>()),
      uiThread_(ui) {
  ui_->setupUi(this);
  setFixedSize(size());
}

TLoaderDlg::~TLoaderDlg() = default;

bool TLoaderDlg::Execute() {
  auto* thread = new TLoaderThd(uiThread_);  // frees itself when it ends
  thread->FreeOnTerminate = true;
  thread->FirstIndex = FirstIndex;
  thread->LastIndex = LastIndex;
  const int max = LastIndex - FirstIndex;
  thread->SlotStep = [this, max](int slot, TBitmap32& bitmap) {
    if (SetProgress) SetProgress(ui_->pb, slot, max);
    if (SlotStep) SlotStep(slot, FirstIndex + slot, bitmap);
  };
  thread->OnTerminate = [this](TThread&) {
    working_ = false;
    accept();
  };
  working_ = true;
  if (SetProgress) SetProgress(ui_->pb, 0, max);
  thread->Start();
  // The thread's steps and its end are handed over while this loop runs.
  return exec() == QDialog::Accepted;
}

void TLoaderDlg::reject() {
  if (!working_) QDialog::reject();
}

void TLoaderDlg::closeEvent(QCloseEvent* event) {
  if (working_)
    event->ignore();
  else
    QDialog::closeEvent(event);
}

}  // namespace sdm
