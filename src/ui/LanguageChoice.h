#pragma once
// Unit Lang_langChoice.
// TLanguageChoice: the languages found beside the program, each with its
// flag, as a list the user clicks to switch the windows' language at once.
// The Settings dialog shows one (`lng`) bound to the main window's language
// list.
//
// A bordered panel holding a header label (16 pixels, the language's
// "Choose your language"), a raised line under it, and a list whose 32-pixel
// entries draw the flag in a light frame and the display string beside it.
#include <QFrame>
#include <QListWidget>

class QLabel;

namespace sdm {

class TLangList;

class TLanguageChoice : public QFrame {
  Q_OBJECT
public:
  explicit TLanguageChoice(QWidget* parent = nullptr);

  TLangList* LanguageList() const { return languageList_; }
  // Scans the language files and lists them, and follows every switch of the
  // list from then on (made here or anywhere else). nullptr empties the list.
  void SetLanguageList(TLangList* list);

  QLabel* Header() const { return header_; }
  QListWidget* List() const { return list_; }

signals:
  // The user switched language here.
  void Click();

private:
  void ListClick(int row);
  void NameList();

  QLabel* header_ = nullptr;
  QFrame* separator_ = nullptr;
  QListWidget* list_ = nullptr;
  TLangList* languageList_ = nullptr;
};

}  // namespace sdm
