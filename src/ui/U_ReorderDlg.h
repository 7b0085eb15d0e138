#pragma once
// TReorderDlg: "Organize", where the pictures are put in order, deleted,
// shuffled and captioned. It edits the project's two lists directly and keeps
// them index-aligned with its rows: row i shows picture i.
#include <QDialog>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class ReorderDlg;
}

namespace sdm {

class TFrameServer;
class TSlideProject;

class TReorderDlg : public QDialog {
  Q_OBJECT
public:
  static constexpr int kMaxCaptionLength = 50;

  explicit TReorderDlg(QWidget* parent);
  ~TReorderDlg() override;

  // Set by the main window before each opening.
  TSlideProject* Project = nullptr;
  TFrameServer* ThumbServer = nullptr;  // the strip's: frame k is picture k at 100 x 75
  int StartIndex = -1;                  // the picture to select on opening, -1 for none
  bool Shuffling = false;
  // A uniform random integer in lo … hi; by default a generator seeded from
  // the system's random source. Tests may replace it.
  std::function<int(int lo, int hi)> Random;

  // Fills the list and shows the dialog modally. With no pictures it returns
  // at once without showing anything. Never ends with OK: Exit is Cancel.
  bool Execute();
  // The opening without the modal loop (Execute's first steps).
  bool Fill();
  int SelectedRow() const;
  Ui::ReorderDlg* Form() const { return ui_.get(); }

  // The commands of the dialog's controls.
  void ShowSelection();
  void change_btnClick();
  void del_btnClick();
  void shuffle_btnClick();

protected:
  void showEvent(QShowEvent* event) override;

private:
  void txtEdited(const QString& text);
  void SetRow(int row, const std::string& caption, const std::string& path);
  void Renumber(int from, int to);
  void SelectRow(int row);
  void FitColumns();

  std::unique_ptr<Ui::ReorderDlg> ui_;
  QString shownCaption_;  // the caption as the edit field last accepted it
  int scrollTo_ = -1;
};

}  // namespace sdm
