#pragma once
// Unit BrennoDlg.
// TBrennoDlg: "Burn", which hands the compilation files to the burning
// program one at a time: every second it looks whether the program is still
// running (the vendor's holds the "BRENNOCD_RUNNING" mutex; one we started
// counts until it exits), starts it with the next file when it is not, and
// closes itself when the last file has been handed over and the program has
// ended.
#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>

#include "project/BurnTools.h"

namespace Ui {
class BrennoDlg;
}

namespace sdm {

class TProcess;

class TBrennoDlg : public QDialog {
  Q_OBJECT
public:
  explicit TBrennoDlg(QWidget* parent);
  ~TBrennoDlg() override;

  int FileCount = 0;
  std::string Prefix;
  int Done = 0;
  bool Launching = false;
  std::string DataFolder;  // where the compilation files are
  QTimer tmr;
  // Why the burning program could not be started, when it could not.
  std::string StartError;

  // False at once, showing nothing, when no burning program is found or
  // there is nothing to hand over; else true when all files were handed over.
  bool Execute();
  Ui::BrennoDlg* Form() const { return ui_.get(); }
  const TBurner& Burner() const { return burner_; }
  bool BurnerRunning();

private:
  void tmrTimer();
  void Launch(int d);

  std::unique_ptr<Ui::BrennoDlg> ui_;
  TBurner burner_;
  std::unique_ptr<TProcess> process_;
};

}  // namespace sdm
