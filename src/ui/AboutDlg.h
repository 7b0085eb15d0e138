#pragma once
// TAboutDlg: the program's name, its version, the libraries it runs on with
// their versions, and the project's web address.
#include <QDialog>
#include <memory>

namespace Ui {
class AboutDlg;
}

namespace sdm {

class TAboutDlg : public QDialog {
  Q_OBJECT
public:
  explicit TAboutDlg(QWidget* parent);
  ~TAboutDlg() override;

  // Fills the texts for the program file and shows the dialog modally.
  bool Execute(const std::string& programPath);
  void Fill(const std::string& programPath);
  Ui::AboutDlg* Form() const { return ui_.get(); }

  // Opens the web address (the main window's shell opener).
  std::function<void(const std::string&)> OpenWeb;

private:
  std::unique_ptr<Ui::AboutDlg> ui_;
};

}  // namespace sdm
