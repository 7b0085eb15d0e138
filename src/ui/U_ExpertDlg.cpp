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

bool TExpertDlg::Execute(bool singleFrame) {
  ui_->sng_chk->setChecked(singleFrame);
  return exec() == QDialog::Accepted;
}

}  // namespace sdm
