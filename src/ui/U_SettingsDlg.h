#pragma once
// TSettingsDlg: "Settings": the language of the windows (the language chooser
// `lng` in the Language group) and the verbose log ("Debug mode"), which the
// log reads at the next start.
#include <QDialog>
#include <memory>

namespace Ui {
class SettingsDlg;
}

namespace sdm {

class TSettingsDlg : public QDialog {
  Q_OBJECT
public:
  explicit TSettingsDlg(QWidget* parent);
  ~TSettingsDlg() override;
  // Shows the stored debug mode; OK stores the box ("1" or "0"), Cancel
  // stores nothing.
  bool Execute();
  void Fill();
  Ui::SettingsDlg* Form() const { return ui_.get(); }

private:
  std::unique_ptr<Ui::SettingsDlg> ui_;
};

}  // namespace sdm
