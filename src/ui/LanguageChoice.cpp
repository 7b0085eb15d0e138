#include "ui/LanguageChoice.h"

#include <QGroupBox>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <functional>

#include "localization/LanguageList.h"
#include "ui/QtUserInteraction.h"

namespace sdm {

namespace {

constexpr int kHeaderHeight = 16;
constexpr int kItemHeight = 32;
constexpr int kIdRole = Qt::UserRole;

// The list of the control: a key that moves the selection chooses the
// language as a click does.
class TChoiceList : public QListWidget {
public:
  explicit TChoiceList(QWidget* parent) : QListWidget(parent) {}
  std::function<void(int row)> Chosen;

protected:
  void keyPressEvent(QKeyEvent* event) override {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before && currentRow() >= 0 && Chosen) Chosen(currentRow());
  }
};

// One entry: the flag in a frame, then the display string, centred in the
// entry's height.
class TChoiceDelegate : public QStyledItemDelegate {
public:
  TChoiceDelegate(TLanguageChoice& owner) : QStyledItemDelegate(&owner), owner_(owner) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight);
  }

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& pal = option.palette;
    const QBrush brush = selected ? pal.highlight() : pal.base();
    // The item's edges as the drawing rules count them: Bottom is the first
    // row below the item.
    const int left = option.rect.left(), top = option.rect.top(), bottom = top + option.rect.height();
    p->save();
    p->fillRect(option.rect, brush);
    QImage flag;
    if (TLangList* list = owner_.LanguageList()) {
      std::vector<uint8_t> bmp;
      const auto langId = uint16_t(index.data(kIdRole).toUInt() & 0xFFFF);
      if (list->LoadFlag(langId, bmp)) flag.loadFromData(bmp.data(), int(bmp.size()), "BMP");
    }
    const int w = flag.isNull() ? 0 : flag.width();
    const int h = flag.isNull() ? 0 : flag.height();
    const int y = (top + bottom - 28) / 2;
    // A frame W + 2 by H + 2 from (Left + 3, Y - 1), the flag inside it; a
    // missing flag leaves the empty frame.
    p->setPen(QColor(255, 251, 240));
    p->setBrush(brush);
    p->drawRect(left + 3, y - 1, w + 1, h + 1);
    if (!flag.isNull()) p->drawImage(left + 4, y, flag);
    p->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
    p->setFont(option.font);
    const int textHeight = option.fontMetrics.height();
    const QRect text(left + w + 12, (top + bottom - textHeight) / 2, option.rect.right() - (left + w + 12), textHeight);
    p->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, index.data(Qt::DisplayRole).toString());
    p->restore();
  }

private:
  TLanguageChoice& owner_;
};

}  // namespace

TLanguageChoice::TLanguageChoice(QWidget* parent) : QFrame(parent) {
  resize(121, 100);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setLineWidth(1);
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  setFocusPolicy(Qt::NoFocus);

  header_ = new QLabel(this);
  header_->setFixedHeight(kHeaderHeight);
  header_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  separator_ = new QFrame(this);
  separator_->setFrameStyle(QFrame::HLine | QFrame::Raised);
  separator_->setLineWidth(1);
  separator_->setFixedHeight(2);
  auto* list = new TChoiceList(this);
  list_ = list;
  list_->setFrameStyle(QFrame::NoFrame);
  list_->setUniformItemSizes(true);
  list_->setItemDelegate(new TChoiceDelegate(*this));
  list_->setFocusPolicy(Qt::StrongFocus);
  setFocusProxy(list_);
  NameList();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(header_);
  layout->addWidget(separator_);
  layout->addWidget(list_, 1);

  connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { ListClick(list_->row(item)); });
  list->Chosen = [this](int row) { ListClick(row); };
}

void TLanguageChoice::SetLanguageList(TLangList* list) {
  languageList_ = list;
  list_->clear();
  if (!list) return;
  list->ScanLanguages();
  for (int i = 0; i < list->Count(); ++i) {
    auto* item = new QListWidgetItem(QString::fromStdString(list->DisplayString(i)), list_);
    item->setData(kIdRole, uint(list->LanguageId(i)));
  }
  // Follow every switch, wherever it is made: the entry of the language
  // selected, the handler that was there before called, the header written.
  // The control may go before the list does, so it is checked for each call.
  QPointer<TLanguageChoice> self(this);
  TLangList::TNotifyEvent before = list->AfterLanguageSwitch;
  list->AfterLanguageSwitch = [self, before, list] {
    const bool bound = self && self->languageList_ == list;
    if (bound) self->list_->setCurrentRow(list->LanguageIndex());
    if (before) before();
    if (bound) self->header_->setText("  " + QString::fromStdString(list->CurrentHeaderName()));
    if (bound) self->NameList();
  };
  NameList();
}

void TLanguageChoice::NameList() {
  // For screen readers the list is named by its header ("Choose your
  // language"), or before a language gives one by the group around it.
  QString name = header_->text().trimmed();
  for (QWidget* p = parentWidget(); name.isEmpty() && p; p = p->parentWidget())
    if (auto* group = qobject_cast<QGroupBox*>(p)) name = group->title();
  list_->setAccessibleName(name);
}

void TLanguageChoice::ListClick(int row) {
  if (!languageList_ || row < 0) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Let the busy cursor show before the windows are rewritten.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  try {
    languageList_->SetLanguageIndex(row);
  } catch (const std::exception& e) {
    // A file of a later revision: the choice is stored, nothing applied.
    QApplication::restoreOverrideCursor();
    ShowErrorBox(e.what());
    return;
  }
  header_->setText(QString::fromStdString(languageList_->CurrentHeaderName()));
  NameList();
  QApplication::restoreOverrideCursor();
  emit Click();
}

}  // namespace sdm
