#pragma once
// Unit U_LoaderDlg.
// TLoaderDlg: "Thumbnails", the small modal progress dialog shown while the
// strip's slots are rendered one by one. It cannot be closed while it works
// and closes itself when the last slot is done.
#include <QDialog>
#include <functional>
#include <memory>

#include "frames/Bitmap32.h"

class QProgressBar;

namespace Ui {
class LoaderDlg;
}

namespace sdm {

class IUiThread;

class TLoaderDlg : public QDialog {
  Q_OBJECT
public:
  TLoaderDlg(IUiThread& ui, QWidget* parent);
  ~TLoaderDlg() override;

  // The range of picture indices to show, set before each run.
  int FirstIndex = 0;
  int LastIndex = -1;
  // The main window's parts: its progress call (which also moves the taskbar
  // entry) and the step that fills slot `slot` with picture FirstIndex + slot.
  std::function<void(QProgressBar* bar, int position, int max)> SetProgress;
  std::function<void(int slot, int picture, TBitmap32& bitmap)> SlotStep;

  bool Execute();
  bool Working() const { return working_; }
  Ui::LoaderDlg* Form() const { return ui_.get(); }

  void reject() override;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  std::unique_ptr<Ui::LoaderDlg> ui_;
  IUiThread& uiThread_;
  bool working_ = false;
};

}  // namespace sdm
