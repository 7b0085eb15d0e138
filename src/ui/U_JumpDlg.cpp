#include "ui/U_JumpDlg.h"

#include <algorithm>

#include "localization/TextStorage.h"
#include "ui_U_JumpDlg.h"

namespace sdm {

TJumpDlg::TJumpDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::JumpDlg>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  QFont stats = ui_->thumbstats_lbl->font();
  stats.setBold(true);
  stats.setPixelSize(14);
  ui_->thumbstats_lbl->setFont(stats);
  connect(ui_->trk, &QSlider::valueChanged, this, [this] { UpdateLabel(); });
  connect(ui_->ok_btn, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->cancel_btn, &QPushButton::clicked, this, &QDialog::reject);
}

TJumpDlg::~TJumpDlg() = default;

int TJumpDlg::FirstIndex() const { return ui_->trk->value(); }

void TJumpDlg::Fill(int pictureCount, int firstIndex) {
  PictureCount = pictureCount;
  // The slider has no caption of its own: a screen reader says what it moves.
  ui_->trk->setAccessibleName(QString::fromStdString(main_ts().Translate("First picture shown")));
  ui_->trk->setRange(0, std::max(0, PictureCount - 5));
  ui_->trk->setValue(firstIndex);
  UpdateLabel();
}

bool TJumpDlg::Execute(int pictureCount, int firstIndex) {
  Fill(pictureCount, firstIndex);
  return exec() == QDialog::Accepted;
}

void TJumpDlg::UpdateLabel() {
  const int q = ui_->trk->value();
  ui_->thumbstats_lbl->setText(QString("%1 - %2 / %3").arg(q + 1).arg(std::min(PictureCount, q + 5)).arg(PictureCount));
}

}  // namespace sdm
