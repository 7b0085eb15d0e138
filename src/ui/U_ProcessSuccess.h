#pragma once
// TProcessSuccessDlg: "Done !", shown after every finished job: play the
// video, open its folder, burn it with a disc-burning program or make a DVD
// of it with the vendor's authoring program.
#include <QDialog>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class ProcessSuccessDlg;
}

namespace sdm {

class TBrennoDlg;

class TProcessSuccessDlg : public QDialog {
  Q_OBJECT
public:
  explicit TProcessSuccessDlg(QWidget* parent);
  ~TProcessSuccessDlg() override;

  std::string VideoFile;
  // Set once at start-up by the program's window set.
  TBrennoDlg* Brenno = nullptr;
  std::string ProgramPath;   // its data folder holds the compilation file
  std::string DownloadPage;  // offered when a program of the vendor is missing
  std::function<bool(const std::string& target)> ShellOpener;

  bool Execute(const std::string& videoFile);
  Ui::ProcessSuccessDlg* Form() const { return ui_.get(); }

  void play_btnClick();
  void folder_btnClick();
  void dvd_btnClick();
  void burncd_btnClick();

private:
  bool Open(const std::string& target);
  std::unique_ptr<Ui::ProcessSuccessDlg> ui_;
};

}  // namespace sdm
