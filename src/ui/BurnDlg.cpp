#include "ui/BurnDlg.h"

#include <QStyle>

#include "platform/shell/Process.h"
#include "ui_BurnDlg.h"

namespace sdm {

TBrennoDlg::TBrennoDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::BrennoDlg>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  const QIcon disc = style()->standardIcon(QStyle::SP_DriveCDIcon);
  setWindowIcon(disc);
  ui_->logo_img->setPixmap(disc.pixmap(31, 31));
  tmr.setInterval(1000);
  connect(&tmr, &QTimer::timeout, this, [this] { tmrTimer(); });
  connect(ui_->cancel_btn, &QPushButton::clicked, this, &QDialog::reject);
}

TBrennoDlg::~TBrennoDlg() = default;

bool TBrennoDlg::Execute() {
  StartError.clear();
  burner_ = FindBurner();
  if (!burner_.Found() || FileCount < 1 || Prefix.empty()) return false;
  ui_->prog->setRange(0, FileCount);
  ui_->prog->setValue(0);
  Done = 0;
  tmr.start();
  const int result = exec();
  tmr.stop();
  Launching = false;
  // A program still burning goes on; it is reaped when it ends.
  process_.reset();
  return result == QDialog::Accepted;
}

bool TBrennoDlg::BurnerRunning() { return NamedMutexExists(kBurnMutexName) || (process_ && process_->Running()); }

void TBrennoDlg::tmrTimer() {
  if (Launching || BurnerRunning()) return;
  if (Done == FileCount) {
    accept();
    return;
  }
  ++Done;
  ui_->prog->setValue(Done);
  // Started from the event loop, after this tick has returned.
  QMetaObject::invokeMethod(
      this, [this, d = Done] { Launch(d); }, Qt::QueuedConnection);
}

void TBrennoDlg::Launch(int d) {
  Launching = true;
  const std::string file = CompilationFileName(DataFolder, Prefix, d - 1);
  std::string error;
  process_ = TProcess::Start(BurnCommand(burner_, file), error);
  Launching = false;
  if (!process_) {
    // A burn that did not start is not shown as one: the dialog ends and
    // says why.
    StartError = burner_.Path + " : " + error;
    tmr.stop();
    reject();
  }
}

}  // namespace sdm
