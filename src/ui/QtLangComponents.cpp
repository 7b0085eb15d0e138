#include "ui/QtLangComponents.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTextEdit>
#include <QTranslator>
#include <algorithm>
#include <cmath>

#include "localization/LanguageList.h"
#include "localization/TextStorage.h"

namespace sdm {

namespace {

const char* const kCharsetProperty = "sdmLangCharset";
// A tool tip switched off by a language file is kept here, so that switching
// it on again brings it back.
const char* const kHiddenHintProperty = "sdmLangHiddenHint";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

std::vector<std::string> ToLines(const QStringList& list) {
  std::vector<std::string> lines;
  for (const QString& s : list) lines.push_back(S(s));
  return lines;
}

// Windows the program makes: not Qt's file pickers and message boxes, which
// are the toolkit's and translate themselves.
bool IsProgramWindow(const QWidget* w) {
  return w && w->isWindow() && !w->objectName().isEmpty() &&
         (qobject_cast<const QDialog*>(w) || qobject_cast<const QMainWindow*>(w)) &&
         !qobject_cast<const QFileDialog*>(w) && !qobject_cast<const QMessageBox*>(w);
}

// A window of its own inside a window (a dialog made by it, a file picker),
// as opposed to a pop-up that belongs to the form (a menu, a list drop-down).
bool IsOtherWindow(const QObject* o) {
  const auto* w = qobject_cast<const QWidget*>(o);
  return w && w->isWindow() && w->windowType() != Qt::Popup;
}

bool IsComponent(const QObject* o) {
  const QString name = o->objectName();
  if (name.isEmpty() || name.startsWith("qt_")) return false;
  return o->isWidgetType() || qobject_cast<const QAction*>(o) || qobject_cast<const TTextStorageObject*>(o);
}

// Every component placed on a window, depth first in the order they were
// made, which is the order of the form.
void CollectOwned(const QObject* parent, std::vector<TLangComponentPtr>& out) {
  for (QObject* child : parent->children()) {
    if (IsOtherWindow(child)) continue;
    if (IsComponent(child)) out.push_back(LangComponentOf(child));
    CollectOwned(child, out);
  }
}

class TQtLangComponent : public ILangComponent {
public:
  explicit TQtLangComponent(QObject* object) : object_(object), widget_(qobject_cast<QWidget*>(object)) {}

  std::string Name() const override { return object_ ? S(object_->objectName()) : std::string(); }

  std::vector<TLangComponentPtr> Components() const override {
    std::vector<TLangComponentPtr> out;
    if (widget_ && IsOtherWindow(widget_)) CollectOwned(widget_, out);
    return out;
  }

  bool Has(TLangProp prop) const override {
    if (!object_) return false;
    switch (prop) {
      case TLangProp::Caption: return CaptionKind() != kNone;
      case TLangProp::Text: return qobject_cast<QLineEdit*>(object_) != nullptr;
      case TLangProp::Hint: return widget_ || qobject_cast<QAction*>(object_);
      case TLangProp::ShowHint: return widget_ != nullptr;
      case TLangProp::Items:
        return qobject_cast<QComboBox*>(object_) || qobject_cast<QListWidget*>(object_) ||
               qobject_cast<QTableWidget*>(object_);
      case TLangProp::Lines: return qobject_cast<QPlainTextEdit*>(object_) || qobject_cast<QTextEdit*>(object_);
      case TLangProp::ItemIndex: return qobject_cast<QComboBox*>(object_) || qobject_cast<QListWidget*>(object_);
      case TLangProp::Alignment:
      case TLangProp::Layout: return qobject_cast<QLabel*>(object_) != nullptr;
      case TLangProp::Font: return widget_ != nullptr;
    }
    return false;
  }

  std::string GetString(TLangProp prop) const override {
    if (prop == TLangProp::Text) return S(static_cast<QLineEdit*>(widget_.data())->text());
    if (prop == TLangProp::Hint) {
      if (auto* a = qobject_cast<QAction*>(object_)) return S(a->statusTip());
      return S(HintHidden() ? widget_->property(kHiddenHintProperty).toString() : widget_->toolTip());
    }
    switch (CaptionKind()) {
      case kWindow: return S(widget_->windowTitle());
      case kMenu: return S(static_cast<QMenu*>(widget_.data())->title());
      case kGroup: return S(static_cast<QGroupBox*>(widget_.data())->title());
      case kButton: return S(static_cast<QAbstractButton*>(widget_.data())->text());
      case kLabel: return S(static_cast<QLabel*>(widget_.data())->text());
      case kAction: return S(static_cast<QAction*>(object_.data())->text());
      case kNone: break;
    }
    return {};
  }

  void SetString(TLangProp prop, const std::string& value) override {
    const QString v = Q(value);
    if (prop == TLangProp::Text) return static_cast<QLineEdit*>(widget_.data())->setText(v);
    if (prop == TLangProp::Hint) {
      if (auto* a = qobject_cast<QAction*>(object_)) return a->setStatusTip(v);
      if (HintHidden()) return (void)widget_->setProperty(kHiddenHintProperty, v);
      return widget_->setToolTip(v);
    }
    switch (CaptionKind()) {
      case kWindow: return widget_->setWindowTitle(v);
      case kMenu: return static_cast<QMenu*>(widget_.data())->setTitle(v);
      case kGroup: return static_cast<QGroupBox*>(widget_.data())->setTitle(v);
      case kButton: return static_cast<QAbstractButton*>(widget_.data())->setText(v);
      case kLabel: return static_cast<QLabel*>(widget_.data())->setText(v);
      case kAction: return static_cast<QAction*>(object_.data())->setText(v);
      case kNone: break;
    }
  }

  int GetInt(TLangProp prop) const override {
    switch (prop) {
      case TLangProp::ShowHint: return HintHidden() ? 0 : 1;
      case TLangProp::ItemIndex:
        if (auto* c = qobject_cast<QComboBox*>(object_)) return c->currentIndex();
        return static_cast<QListWidget*>(widget_.data())->currentRow();
      case TLangProp::Alignment: {
        const Qt::Alignment a = static_cast<QLabel*>(widget_.data())->alignment();
        return a & Qt::AlignRight ? 1 : a & Qt::AlignHCenter ? 2 : 0;
      }
      case TLangProp::Layout: {
        const Qt::Alignment a = static_cast<QLabel*>(widget_.data())->alignment();
        return a & Qt::AlignTop ? 0 : a & Qt::AlignBottom ? 2 : 1;
      }
      default: return 0;
    }
  }

  void SetInt(TLangProp prop, int value) override {
    switch (prop) {
      case TLangProp::ShowHint: return ShowHint(value != 0);
      case TLangProp::ItemIndex: {
        // Not the user's choice: the window is not told.
        const QSignalBlocker quiet(object_);
        if (auto* c = qobject_cast<QComboBox*>(object_)) return c->setCurrentIndex(value);
        return static_cast<QListWidget*>(widget_.data())->setCurrentRow(value);
      }
      case TLangProp::Alignment:
      case TLangProp::Layout: return SetLabelAlignment(prop, value);
      default: return;
    }
  }

  std::vector<std::string> GetLines(TLangProp) const override {
    if (auto* c = qobject_cast<QComboBox*>(object_)) {
      std::vector<std::string> lines;
      for (int i = 0; i < c->count(); ++i) lines.push_back(S(c->itemText(i)));
      return lines;
    }
    if (auto* l = qobject_cast<QListWidget*>(object_)) {
      std::vector<std::string> lines;
      for (int i = 0; i < l->count(); ++i) lines.push_back(S(l->item(i)->text()));
      return lines;
    }
    if (auto* t = qobject_cast<QTableWidget*>(object_)) {
      std::vector<std::string> lines;
      for (int i = 0; i < t->columnCount(); ++i)
        lines.push_back(t->horizontalHeaderItem(i) ? S(t->horizontalHeaderItem(i)->text()) : std::string());
      return lines;
    }
    if (auto* e = qobject_cast<QPlainTextEdit*>(object_)) return ToLines(e->toPlainText().split('\n'));
    if (auto* e = qobject_cast<QTextEdit*>(object_)) return ToLines(e->toPlainText().split('\n'));
    return {};
  }

  // The language files rewrite items in place: the lists keep their length
  // (a combo box keeps its selection), the lines of a text edit are replaced.
  // A new text is not a new choice: the window that reacts to the current
  // item (a size, a codec) is not told.
  void SetLines(TLangProp, const std::vector<std::string>& lines) override {
    const QSignalBlocker quiet(object_);
    const int n = int(lines.size());
    if (auto* c = qobject_cast<QComboBox*>(object_)) {
      for (int i = 0; i < std::min(n, c->count()); ++i) c->setItemText(i, Q(lines[size_t(i)]));
    } else if (auto* l = qobject_cast<QListWidget*>(object_)) {
      for (int i = 0; i < std::min(n, l->count()); ++i) l->item(i)->setText(Q(lines[size_t(i)]));
    } else if (auto* t = qobject_cast<QTableWidget*>(object_)) {
      for (int i = 0; i < std::min(n, t->columnCount()); ++i) {
        if (!t->horizontalHeaderItem(i)) t->setHorizontalHeaderItem(i, new QTableWidgetItem);
        t->horizontalHeaderItem(i)->setText(Q(lines[size_t(i)]));
      }
    } else {
      QStringList text;
      for (const std::string& line : lines) text << Q(line);
      if (auto* e = qobject_cast<QPlainTextEdit*>(object_)) e->setPlainText(text.join('\n'));
      if (auto* e = qobject_cast<QTextEdit*>(object_)) e->setPlainText(text.join('\n'));
    }
  }

  TLangFont GetFont() const override {
    TLangFont f;
    if (!widget_) return f;
    const QFont font = widget_->font();
    f.name = S(font.family());
    f.charset = LangCharsetOf(widget_);
    f.size = PointSize(font);
    return f;
  }

  // Only what differs is changed, so a language that keeps the program's face
  // and sizes leaves every font as the window set it. A face that is not
  // installed (a Windows name such as "MS Sans Serif") is not taken: the
  // toolkit would put some other face in its place and the layouts were
  // drawn for this one.
  void SetFont(const TLangFont& want) override {
    if (!widget_) return;
    widget_->setProperty(kCharsetProperty, want.charset & 0xFF);
    QFont font = widget_->font();
    bool changed = false;
    const QString face = Q(want.name);
    if (!face.isEmpty() && face != font.family() && QFontDatabase::hasFamily(face)) {
      font.setFamily(face);
      changed = true;
    }
    if (want.size > 0 && want.size != PointSize(font)) {
      if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, int(std::lround(want.size * Dpi() / 72.0))));
      else
        font.setPointSize(want.size);
      changed = true;
    }
    if (changed) widget_->setFont(font);
  }

private:
  enum TCaptionKind { kNone, kWindow, kMenu, kGroup, kButton, kLabel, kAction };

  TCaptionKind CaptionKind() const {
    if (qobject_cast<QMenu*>(object_)) return kMenu;
    if (widget_ && widget_->isWindow()) return kWindow;
    if (qobject_cast<QGroupBox*>(object_)) return kGroup;
    if (qobject_cast<QAbstractButton*>(object_)) return kButton;
    if (qobject_cast<QLabel*>(object_)) return kLabel;
    if (qobject_cast<QAction*>(object_)) return kAction;
    return kNone;
  }

  bool HintHidden() const { return widget_ && widget_->property(kHiddenHintProperty).isValid(); }

  void ShowHint(bool show) {
    if (show == !HintHidden()) return;
    if (show) {
      widget_->setToolTip(widget_->property(kHiddenHintProperty).toString());
      widget_->setProperty(kHiddenHintProperty, QVariant());
    } else {
      widget_->setProperty(kHiddenHintProperty, widget_->toolTip());
      widget_->setToolTip(QString());
    }
  }

  // Alignment 0 left, 1 right, 2 centred; Layout 0 top, 1 centred, 2 bottom.
  void SetLabelAlignment(TLangProp prop, int value) {
    auto* label = static_cast<QLabel*>(widget_.data());
    Qt::Alignment a = label->alignment();
    if (prop == TLangProp::Alignment) {
      a &= ~Qt::AlignHorizontal_Mask;
      a |= value == 1 ? Qt::AlignRight : value == 2 ? Qt::AlignHCenter : Qt::AlignLeft;
    } else {
      a &= ~Qt::AlignVertical_Mask;
      a |= value == 0 ? Qt::AlignTop : value == 2 ? Qt::AlignBottom : Qt::AlignVCenter;
    }
    label->setAlignment(a);
  }

  double Dpi() const { return widget_->logicalDpiY() > 0 ? widget_->logicalDpiY() : 96.0; }

  // Sizes in points, as the language files give them; the windows' fonts are
  // set in pixels.
  int PointSize(const QFont& font) const {
    if (font.pointSize() > 0) return font.pointSize();
    return int(std::lround(font.pixelSize() * 72.0 / Dpi()));
  }

  QPointer<QObject> object_;
  QPointer<QWidget> widget_;
};

}  // namespace

TTextStorageObject::TTextStorageObject(TTextStorage& storage, QObject* owner) : QObject(owner), storage_(storage) {
  setObjectName(QString::fromStdString(storage.Name()));
}

TLangComponentPtr LangComponentOf(QObject* object) {
  if (auto* ts = qobject_cast<TTextStorageObject*>(object))
    return std::make_shared<TTextStorageComponent>(ts->Storage());
  return std::make_shared<TQtLangComponent>(object);
}

void UseToolkitLanguage(uint16_t langId) {
  static QPointer<QTranslator> installed;
  if (installed) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
  }
  std::string locale;
  for (const TProbeLanguage& p : ProbeLanguages())
    if (p.langId == langId) locale = p.locale;
  if (locale.empty()) return;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QLocale(QString::fromStdString(locale)), "qtbase", "_",
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
    installed = translator;
  } else {
    delete translator;
  }
}

int LangCharsetOf(const QWidget* widget) {
  const QVariant v = widget ? widget->property(kCharsetProperty) : QVariant();
  return v.isValid() ? v.toInt() : 1;
}

std::vector<TLangComponentPtr> TQtLangRoot::Components() const {
  std::vector<QWidget*> windows;
  auto add = [&windows](QWidget* w) {
    if (IsProgramWindow(w) && std::find(windows.begin(), windows.end(), w) == windows.end()) windows.push_back(w);
  };
  // The main window and the dialogs it owns, in the order they were made.
  if (main_) {
    add(main_);
    for (QObject* child : main_->children()) add(qobject_cast<QWidget*>(child));
  }
  // Any other window of the program, by name so the order stays the same.
  QList<QWidget*> others = QApplication::topLevelWidgets();
  std::sort(others.begin(), others.end(), [](QWidget* a, QWidget* b) { return a->objectName() < b->objectName(); });
  for (QWidget* w : others) add(w);
  std::vector<TLangComponentPtr> out;
  for (QWidget* w : windows) out.push_back(LangComponentOf(w));
  return out;
}

TLangFont TQtLangRoot::GetFont() const {
  TLangFont f;
  f.name = QApplication::font().family().toStdString();
  return f;
}

TLangComponentPtr TQtLangRoot::MainForm() const { return main_ ? LangComponentOf(main_) : nullptr; }

}  // namespace sdm
