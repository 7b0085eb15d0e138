#include "ui/U_ExpertDlg.h"

#include "ui_U_ExpertDlg.h"

namespace sdm {

TExpertDlg::TExpertDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::ExpertDlg>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  connect(ui_->ok_btn, &QPushButton::clicked, this, &QDialog::accept);
}

TExpertDlg::~TExpertDlg() = default;

bool TExpertDlg::SingleFrame() const { return ui_->sng_chk->isChecked(); }

// The list's items are in the order of TPictureScaling.
TPictureScaling TExpertDlg::Scaling() const {
  switch (ui_->scaling_cmb->currentIndex()) {
    case 1: return TPictureScaling::Sharp;
    case 2: return TPictureScaling::Smooth;
    default: return TPictureScaling::Automatic;
  }
}

bool TExpertDlg::Execute(bool singleFrame, TPictureScaling scaling) {
  ui_->sng_chk->setChecked(singleFrame);
  ui_->scaling_cmb->setCurrentIndex(static_cast<int>(scaling));
  return exec() == QDialog::Accepted;
}

}  // namespace sdm
