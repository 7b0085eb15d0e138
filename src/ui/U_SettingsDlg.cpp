#include "ui/U_SettingsDlg.h"

#include "support/SettingsStore.h"
#include "ui_U_SettingsDlg.h"

namespace sdm {

TSettingsDlg::TSettingsDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::SettingsDlg>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  connect(ui_->ok_btn, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->cancel_btn, &QPushButton::clicked, this, &QDialog::reject);
}

TSettingsDlg::~TSettingsDlg() = default;

void TSettingsDlg::Fill() { ui_->debug_chk->setChecked(GetSetting("DebugMode") == "1"); }

bool TSettingsDlg::Execute() {
  Fill();
  if (exec() != QDialog::Accepted) return false;
  SetSettingBool("DebugMode", ui_->debug_chk->isChecked());
  return true;
}

}  // namespace sdm
