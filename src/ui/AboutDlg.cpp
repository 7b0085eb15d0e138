#include "ui/AboutDlg.h"

#include "localization/TextStorage.h"

#include <QIcon>

#include "support/SettingsStore.h"
#include "support/U_SysUtils.h"
#include "ui/LibraryVersions.h"
#include "ui/U_MainDlg.h"
#include "ui_AboutDlg.h"

namespace sdm {

TAboutDlg::TAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::AboutDlg>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  ui_->icon_img->setPixmap(QIcon(":/slidomat/icon.png").pixmap(48, 48));
  QFont big = ui_->name_lbl->font();
  big.setBold(true);
  big.setPixelSize(18);
  ui_->name_lbl->setFont(big);
  connect(ui_->ok_btn, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->web_lbl, &QLabel::linkActivated, this, [this](const QString& link) {
    if (OpenWeb) OpenWeb(link.toStdString());
  });
}

TAboutDlg::~TAboutDlg() = default;

void TAboutDlg::Fill(const std::string& programPath) {
  ui_->version_lbl->setText(
      QString::fromStdString(main_ts().Translate("Version") + " " + GetFileVersionString(programPath)));
  QString libs;
  for (const auto& [name, version] : LibraryVersions())
    libs += QString("%1 %2\n").arg(QString::fromStdString(name), QString::fromStdString(version));
  ui_->libs_lbl->setText(libs.trimmed());
  const QString web = QString::fromStdString(TMainDlg::WebAddress());
  ui_->web_lbl->setText(QString("<a href=\"%1\">%1</a>").arg(web.toHtmlEscaped()));
}

bool TAboutDlg::Execute(const std::string& programPath) {
  Fill(programPath);
  return exec() == QDialog::Accepted;
}

}  // namespace sdm
