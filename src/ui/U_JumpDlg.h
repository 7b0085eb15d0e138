#pragma once
// TJumpDlg: "Jump To...", a slider over the first picture the thumbnail strip
// shows, with the range of pictures it would show.
#include <QDialog>
#include <memory>

namespace Ui {
class JumpDlg;
}

namespace sdm {

class TJumpDlg : public QDialog {
  Q_OBJECT
public:
  explicit TJumpDlg(QWidget* parent);
  ~TJumpDlg() override;

  int PictureCount = 0;
  // Opens on firstIndex for pictureCount pictures (at least 6); true on Ok,
  // with the chosen first picture in FirstIndex().
  bool Execute(int pictureCount, int firstIndex);
  void Fill(int pictureCount, int firstIndex);
  int FirstIndex() const;
  Ui::JumpDlg* Form() const { return ui_.get(); }

private:
  void UpdateLabel();
  std::unique_ptr<Ui::JumpDlg> ui_;
};

}  // namespace sdm
