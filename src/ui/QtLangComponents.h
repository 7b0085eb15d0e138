#pragma once
// The running windows as the language files see them: the component tree of
// localization/LangComponent.h on Qt's object tree.
//
// The root is the application; its components are the program's windows
// (the main window first, then the dialogs in the order they were made). A
// window owns every named widget and action placed on it, whatever widget
// they sit in, as a form owns its components: the paths are
// "MainDlg.go_btn", never "MainDlg.out_grp.go_btn". A text storage of a
// window is a named child object of it (MainDlg.main_ts). Qt's own helpers
// ("qt_..." names), the file pickers and message boxes are not the program's
// components and are left out.
//
//   Caption  window title; button, label and action text; group box and menu
//            title
//   Text     a line edit's text
//   Hint     tool tip (an action's status tip); ShowHint whether it shows
//   Items    combo-box and list items; a table's column captions
//   Lines    a text edit's lines
//   ItemIndex the current item of a combo box or list
//   Font     the widget's font: face, character set, size in points
//   Alignment, Layout  a label's horizontal and vertical alignment
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "localization/LangComponent.h"

namespace sdm {

class TTextStorage;

// A window's text storage as an object of its tree, named after the storage.
class TTextStorageObject : public QObject {
  Q_OBJECT
public:
  TTextStorageObject(TTextStorage& storage, QObject* owner);
  TTextStorage& Storage() const { return storage_; }

private:
  TTextStorage& storage_;
};

// The component an object of a window stands for.
TLangComponentPtr LangComponentOf(QObject* object);

class TQtLangRoot : public ILangRoot {
public:
  explicit TQtLangRoot(QWidget* mainWindow) : main_(mainWindow) {}
  std::string Name() const override { return {}; }
  std::vector<TLangComponentPtr> Components() const override;
  bool Has(TLangProp) const override { return false; }
  TLangFont GetFont() const override;
  TLangComponentPtr MainForm() const override;
  // Qt draws every text in Unicode: the character set is remembered only.
  void SetSystemFontsCharset(int charset) override { systemCharset_ = charset; }
  int SystemFontsCharset() const { return systemCharset_; }

private:
  QPointer<QWidget> main_;
  int systemCharset_ = 1;
};

// Installs Qt's own translation for a Windows language identifier (the file
// pickers' and message boxes' texts), or none for a language Qt has none of.
void UseToolkitLanguage(uint16_t langId);

// The character set a language file gave the widget's font (1, the default
// set, until one did).
int LangCharsetOf(const QWidget* widget);

}  // namespace sdm
