#pragma once
// What the language files see of the running program: a tree of named
// components with a few properties addressed by name. The window layer
// implements it on the Qt object tree (a component's name is its objectName,
// its owned components are its children that have one); tests implement it in
// memory. Nothing here knows about widgets.
//
// The root is the application: it has no name, owns the windows, and knows
// which window is the main one. Paths are built from names, so "MainDlg",
// "MainDlg.go_btn", "ReorderDlg.lst".
#include <memory>
#include <string>
#include <vector>

namespace sdm {

// The properties language files read and write.
//   Caption, Text, Hint : strings (window title, button or label text, tool tip)
//   ShowHint            : 0 or 1, whether the tool tip shows
//   Items, Lines        : string lists (combo-box and list items; text lines)
//   ItemIndex           : the selected item
//   Alignment, Layout   : integers of the alignment records (0, 1)
//   Font                : see TLangFont
enum class TLangProp { Caption, Text, Hint, ShowHint, Items, Lines, ItemIndex, Alignment, Layout, Font };

// A component's font as language files change it: the face name, the
// Windows character-set code (only the low byte counts), the size in points.
// An empty name stands for the default face.
struct TLangFont {
  std::string name;
  int charset = 1;
  int size = 8;
};

class ILangComponent;
using TLangComponentPtr = std::shared_ptr<ILangComponent>;

class ILangComponent {
public:
  virtual ~ILangComponent() = default;

  // "" for a component without a name (it adds nothing to paths).
  virtual std::string Name() const = 0;
  // The owned components in ownership order. A nameless component adds
  // nothing to the paths below it and its components' paths start afresh, so
  // a toolkit that nests a window's controls in nameless containers lists
  // them as the window's own (they are "MainDlg.go_btn", not "go_btn").
  virtual std::vector<TLangComponentPtr> Components() const = 0;
  // Whether the component has the property at all (an empty caption is still
  // a caption).
  virtual bool Has(TLangProp prop) const = 0;

  // Each accessor is called only for properties the component has.
  virtual std::string GetString(TLangProp) const { return {}; }
  virtual void SetString(TLangProp, const std::string&) {}
  virtual int GetInt(TLangProp) const { return 0; }
  virtual void SetInt(TLangProp, int) {}
  virtual std::vector<std::string> GetLines(TLangProp) const { return {}; }
  virtual void SetLines(TLangProp, const std::vector<std::string>&) {}
  virtual TLangFont GetFont() const { return {}; }
  virtual void SetFont(const TLangFont&) {}
};

// The application object at the root of the tree.
class ILangRoot : public ILangComponent {
public:
  // The main window, or nullptr while there is none yet.
  virtual TLangComponentPtr MainForm() const = 0;
  // The fonts the system draws tool tips, icon titles and menus with take the
  // language's character set; a toolkit without character sets ignores it.
  virtual void SetSystemFontsCharset(int) {}
};
using TLangRootPtr = std::shared_ptr<ILangRoot>;

}  // namespace sdm
