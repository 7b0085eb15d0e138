#pragma once
// Unit U_LoadDlg.
// TLoadDlg: "Loading...", shown while the installed compressors are listed at
// start-up. Its bar runs round in steps of ten while the listing thread works;
// it closes itself when the list is filled and cannot be closed before.
#include <QDialog>
#include <QTimer>
#include <memory>

#include "support/StringList.h"

namespace Ui {
class LoadDlg;
}

namespace sdm {

class TBmpToAvi;
class IUiThread;

class TLoadDlg : public QDialog {
  Q_OBJECT
public:
  TLoadDlg(IUiThread& ui, QWidget* parent);
  ~TLoadDlg() override;

  // Set before Execute.
  TBmpToAvi* Avi = nullptr;
  TStringList* CodecItems = nullptr;

  // Shows the dialog modally until the codec list is filled.
  bool Execute();
  Ui::LoadDlg* Form() const { return ui_.get(); }

  // The start timer and the animation timer.
  QTimer Tmr;
  QTimer TmrPB;

  void reject() override;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void TmrTimer();
  void TmrPBTimer();

  std::unique_ptr<Ui::LoadDlg> ui_;
  IUiThread& uiThread_;
  bool working_ = false;
};

}  // namespace sdm
