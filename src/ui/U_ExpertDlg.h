#pragma once
// TExpertDlg: "Expert Options": Single Frame mode on or off, and how pictures
// are scaled into the frame. Only Ok applies them; the close box counts as
// Cancel.
#include <QDialog>
#include <memory>

#include "project/U_SlideProject.h"

namespace Ui {
class ExpertDlg;
}

namespace sdm {

class TExpertDlg : public QDialog {
  Q_OBJECT
public:
  explicit TExpertDlg(QWidget* parent);
  ~TExpertDlg() override;
  // Opens with the box showing whether the mode is on and the scaling
  // chosen; true on Ok.
  bool Execute(bool singleFrame, TPictureScaling scaling = TPictureScaling::Automatic);
  bool SingleFrame() const;
  TPictureScaling Scaling() const;
  Ui::ExpertDlg* Form() const { return ui_.get(); }

private:
  std::unique_ptr<Ui::ExpertDlg> ui_;
};

}  // namespace sdm
