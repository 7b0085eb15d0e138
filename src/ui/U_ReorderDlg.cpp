#include "ui/U_ReorderDlg.h"

#include <QSignalBlocker>
#include <algorithm>
#include <random>

#include "frames/U_FrameServer.h"
#include "project/U_SlideProject.h"
#include "ui/UiHelpers.h"
#include "ui_U_ReorderDlg.h"

namespace sdm {

TReorderDlg::TReorderDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::ReorderDlg>()) {
  ui_->setupUi(this);
  setSizeGripEnabled(true);
  // The selected row stays marked when the list loses the focus.
  QPalette p = ui_->lst->palette();
  p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
  p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
  ui_->lst->setPalette(p);
  ui_->lst->verticalHeader()->setDefaultSectionSize(ui_->lst->fontMetrics().height() + 6);

  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  Random = [engine](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(*engine); };

  ui_->lst->setAccessibleName(ui_->pic_grp->title());
  connect(ui_->lst, &QTableWidget::itemSelectionChanged, this, [this] {
    if (!Shuffling) ShowSelection();
  });
  connect(ui_->lst, &QTableWidget::cellClicked, this, [this] { ShowSelection(); });
  connect(ui_->change_btn, &QPushButton::clicked, this, [this] { change_btnClick(); });
  connect(ui_->del_btn, &QPushButton::clicked, this, [this] { del_btnClick(); });
  connect(ui_->shuffle_btn, &QPushButton::clicked, this, [this] { shuffle_btnClick(); });
  connect(ui_->exit_btn, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_->txt, &QLineEdit::textEdited, this, [this](const QString& t) { txtEdited(t); });
}

TReorderDlg::~TReorderDlg() = default;

int TReorderDlg::SelectedRow() const {
  const auto rows = ui_->lst->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void TReorderDlg::SetRow(int row, const std::string& caption, const std::string& path) {
  ui_->lst->setItem(row, 0, new QTableWidgetItem(QString::number(row + 1)));
  ui_->lst->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(caption)));
  ui_->lst->setItem(row, 2, new QTableWidgetItem(QString::fromStdString(path)));
}

void TReorderDlg::Renumber(int from, int to) {
  for (int r = from; r <= to; ++r) ui_->lst->item(r, 0)->setText(QString::number(r + 1));
}

void TReorderDlg::SelectRow(int row) {
  if (row < 0)
    ui_->lst->clearSelection();
  else
    ui_->lst->selectRow(row);
}

void TReorderDlg::FitColumns() {
  ui_->lst->resizeColumnToContents(0);
  ui_->lst->resizeColumnToContents(1);
}

bool TReorderDlg::Fill() {
  Shuffling = false;
  // The list is named by its group ("Pictures") for screen readers, in the
  // language of the moment.
  ui_->lst->setAccessibleName(ui_->pic_grp->title());
  const int n = Project ? Project->PictureCount() : 0;
  {
    const QSignalBlocker block(ui_->lst);
    ui_->lst->clearContents();
    ui_->lst->setRowCount(n);
    for (int i = 0; i < n; ++i) SetRow(i, Project->CaptionList()[i], Project->PictureList()[i]);
    ui_->lst->clearSelection();
  }
  FitColumns();
  ui_->img->hide();
  ui_->sel_grp->setTitle(QString());
  ui_->sel_grp->setToolTip(QString());
  ui_->txt->clear();
  shownCaption_.clear();
  ui_->pos_txt->setRange(1, std::max(1, n));
  ui_->pos_txt->setValue(0);
  if (n == 0) {
    StartIndex = -1;
    return false;
  }
  scrollTo_ = -1;
  if (StartIndex >= 0 && StartIndex < n) {
    SelectRow(StartIndex);
    ShowSelection();
    // Two rows below the chosen one are brought into view, so it does not
    // sit at the very bottom, unless it is among the last rows.
    scrollTo_ = StartIndex < n - 3 ? StartIndex + 2 : StartIndex;
    ui_->lst->scrollToItem(ui_->lst->item(scrollTo_, 0));
  }
  return true;
}

bool TReorderDlg::Execute() {
  if (!Fill()) return false;
  const int result = exec();
  StartIndex = -1;
  return result == QDialog::Accepted;
}

void TReorderDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The list knows its height only once shown.
  if (scrollTo_ >= 0 && scrollTo_ < ui_->lst->rowCount()) ui_->lst->scrollToItem(ui_->lst->item(scrollTo_, 0));
  scrollTo_ = -1;
}

void TReorderDlg::ShowSelection() {
  const int k = SelectedRow();
  if (k < 0 || !Project || k >= Project->PictureCount()) return;
  ui_->img->hide();
  QPixmap picture;
  if (ThumbServer) {
    try {
      TBitmap32 bitmap;
      ThumbServer->GetFrame(bitmap, k);
      picture = QPixmap::fromImage(BitmapToImage(bitmap));
    } catch (const std::exception&) {
      // A picture that cannot be read has no preview.
    }
  }
  ui_->img->setPixmap(picture);
  const QString path = QString::fromStdString(Project->PictureList()[k]);
  // The whole path is the caption; a long one is shortened in its middle so
  // the file name stays readable, and shown whole as the tip.
  const int room = std::max(40, ui_->sel_grp->width() - 24);
  ui_->sel_grp->setTitle(ui_->sel_grp->fontMetrics().elidedText(path, Qt::ElideMiddle, room));
  ui_->sel_grp->setToolTip(path);
  shownCaption_ = QString::fromStdString(Project->CaptionList()[k]);
  ui_->txt->setText(shownCaption_);
  ui_->pos_txt->setValue(k + 1);
  ui_->img->show();
}

void TReorderDlg::txtEdited(const QString& text) {
  // At most 50 characters may be typed; a longer caption that came from a
  // project file is shown whole and may be shortened, never lengthened.
  if (text.size() > kMaxCaptionLength && text.size() > shownCaption_.size()) {
    const int cursor = ui_->txt->cursorPosition() - static_cast<int>(text.size() - shownCaption_.size());
    ui_->txt->setText(shownCaption_);
    ui_->txt->setCursorPosition(std::max(0, cursor));
    return;
  }
  shownCaption_ = text;
  const int k = SelectedRow();
  if (k < 0 || !Project) return;
  Project->SetCaption(k, text.toStdString());
  ui_->lst->item(k, 1)->setText(text);
  FitColumns();
}

void TReorderDlg::change_btnClick() {
  const int k = SelectedRow();
  if (k < 0 || !Project) return;
  const int v = ui_->pos_txt->value();
  if (v == k + 1) return;
  const int t = v - 1;
  Project->MovePicture(k, t);
  {
    // One update of the list: no selection passes through the rows between.
    const QSignalBlocker block(ui_->lst);
    const QSignalBlocker blockSelection(ui_->lst->selectionModel());
    const std::string caption = ui_->lst->item(k, 1)->text().toStdString();
    const std::string path = ui_->lst->item(k, 2)->text().toStdString();
    ui_->lst->removeRow(k);
    ui_->lst->insertRow(t);
    SetRow(t, caption, path);
    Renumber(std::min(k, t), std::max(k, t));
    ui_->lst->clearSelection();
  }
  SelectRow(t);
  ui_->lst->setFocus();
}

void TReorderDlg::del_btnClick() {
  const int k = SelectedRow();
  if (k < 0 || !Project) return;
  {
    const QSignalBlocker block(ui_->lst);
    const QSignalBlocker blockSelection(ui_->lst->selectionModel());
    ui_->lst->removeRow(k);
    ui_->lst->clearSelection();
  }
  Project->DeletePicture(k);
  ui_->pos_txt->setMaximum(std::max(1, ui_->pos_txt->maximum() - 1));
  Renumber(k, ui_->lst->rowCount() - 1);
  ui_->img->hide();
  ui_->sel_grp->setTitle(QString());
  ui_->sel_grp->setToolTip(QString());
}

void TReorderDlg::shuffle_btnClick() {
  // A uniform shuffle (Fisher-Yates) made of Move steps, so the rows and the
  // project's lists move together: position i takes a row drawn from the
  // rows not placed yet, i … N-1, each equally likely.
  Shuffling = true;
  const int n = ui_->lst->rowCount();
  for (int i = 0; i + 1 < n; ++i) {
    SelectRow(Random(i, n - 1));
    ui_->pos_txt->setValue(i + 1);
    change_btnClick();
  }
  Shuffling = false;
  SelectRow(-1);
  FitColumns();
}

}  // namespace sdm
