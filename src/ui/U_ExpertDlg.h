#pragma once
// TExpertDlg: "Expert Options": Single Frame mode on or off. Only Ok applies
// it; the close box counts as Cancel.
#include <QDialog>
#include <memory>

namespace Ui {
class ExpertDlg;
}

namespace sdm {

class TExpertDlg : public QDialog {
  Q_OBJECT
public:
  explicit TExpertDlg(QWidget* parent);
  ~TExpertDlg() override;
  // Opens with the box showing whether the mode is on; true on Ok.
  bool Execute(bool singleFrame);
  bool SingleFrame() const;
  Ui::ExpertDlg* Form() const { return ui_.get(); }

private:
  std::unique_ptr<Ui::ExpertDlg> ui_;
};

}  // namespace sdm
