#pragma once
// An in-memory component tree for the language tests and the fuzz target. It
// behaves like the window's controls where that matters to language files:
// replacing the items of a list loses its selection, and a component answers
// only for the properties it was given.
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "localization/LangComponent.h"

namespace sdm::test {

class TFakeComponent : public ILangComponent {
public:
  TFakeComponent(std::string name, std::set<TLangProp> props) : name_(std::move(name)), props_(std::move(props)) {}

  std::shared_ptr<TFakeComponent> Add(const std::string& name, std::set<TLangProp> props) {
    auto c = std::make_shared<TFakeComponent>(name, std::move(props));
    children_.push_back(c);
    return c;
  }
  void AddChild(TLangComponentPtr c) { children_.push_back(std::move(c)); }

  std::string Name() const override { return name_; }
  std::vector<TLangComponentPtr> Components() const override { return children_; }
  bool Has(TLangProp p) const override { return props_.count(p) > 0; }

  std::string GetString(TLangProp p) const override {
    if (failOnRead) throw std::runtime_error("cannot read " + name_);
    auto it = strings.find(p);
    return it == strings.end() ? std::string() : it->second;
  }
  void SetString(TLangProp p, const std::string& v) override {
    Set(p);
    strings[p] = v;
  }
  int GetInt(TLangProp p) const override {
    auto it = ints.find(p);
    return it == ints.end() ? 0 : it->second;
  }
  void SetInt(TLangProp p, int v) override {
    Set(p);
    ints[p] = v;
  }
  std::vector<std::string> GetLines(TLangProp p) const override {
    auto it = lines.find(p);
    return it == lines.end() ? std::vector<std::string>() : it->second;
  }
  void SetLines(TLangProp p, const std::vector<std::string>& v) override {
    Set(p);
    lines[p] = v;
    // A list box whose items are rewritten forgets its selection.
    if (p == TLangProp::Items && Has(TLangProp::ItemIndex)) ints[TLangProp::ItemIndex] = -1;
  }
  TLangFont GetFont() const override { return font; }
  void SetFont(const TLangFont& f) override {
    Set(TLangProp::Font);
    font = f;
  }

  std::map<TLangProp, std::string> strings;
  std::map<TLangProp, int> ints;
  std::map<TLangProp, std::vector<std::string>> lines;
  TLangFont font;
  bool failOnRead = false;
  // Properties written by a language file, in no particular order.
  std::set<TLangProp> written;

private:
  void Set(TLangProp p) {
    if (!Has(p)) throw std::logic_error(name_ + ": a property it does not have was set");
    written.insert(p);
  }
  std::string name_;
  std::set<TLangProp> props_;
  std::vector<TLangComponentPtr> children_;
};

class TFakeRoot : public ILangRoot {
public:
  std::shared_ptr<TFakeComponent> AddWindow(const std::string& name, std::set<TLangProp> props) {
    auto w = std::make_shared<TFakeComponent>(name, std::move(props));
    windows.push_back(w);
    return w;
  }
  void AddComponent(TLangComponentPtr c) { extra.push_back(std::move(c)); }

  std::string Name() const override { return ""; }
  std::vector<TLangComponentPtr> Components() const override {
    std::vector<TLangComponentPtr> all(windows.begin(), windows.end());
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  }
  bool Has(TLangProp p) const override { return p == TLangProp::Font; }
  TLangFont GetFont() const override { return font; }
  void SetFont(const TLangFont& f) override { font = f; }
  TLangComponentPtr MainForm() const override { return mainForm; }
  void SetSystemFontsCharset(int charset) override { systemCharset = charset; }

  std::vector<std::shared_ptr<TFakeComponent>> windows;
  std::vector<TLangComponentPtr> extra;
  TLangComponentPtr mainForm;
  TLangFont font{"Sans", 1, 9};
  int systemCharset = -1;
};

// A small program: a main window with a button, a list box, a combo box with
// its own font, an edit, a memo and a hidden nameless panel holding a label;
// a second window. Every font but the combo's is the main window's.
struct TFakeProgram {
  std::shared_ptr<TFakeRoot> root = std::make_shared<TFakeRoot>();
  std::shared_ptr<TFakeComponent> main, go, list, combo, edit, memo, label, reorder, reorderList;

  TFakeProgram() {
    using P = TLangProp;
    const TLangFont mainFont{"MS Sans Serif", 1, 8};
    main = root->AddWindow("MainDlg", {P::Caption, P::Font});
    main->strings[P::Caption] = "Slidomat";
    main->font = mainFont;
    root->mainForm = main;
    go = main->Add("go_btn", {P::Caption, P::Hint, P::ShowHint, P::Font, P::Alignment, P::Layout});
    go->strings[P::Caption] = "Go !";
    go->font = {"MS Sans Serif", 1, 10};
    list = main->Add("res_lst", {P::Items, P::ItemIndex, P::Font, P::Hint});
    list->lines[P::Items] = {"320x240", "640x480"};
    list->ints[P::ItemIndex] = 1;
    list->font = mainFont;
    combo = main->Add("codecs_cmb", {P::Items, P::ItemIndex, P::Text, P::Font});
    combo->lines[P::Items] = {"xvid", "MJPG", "DIB "};
    combo->ints[P::ItemIndex] = 2;
    combo->font = {"Tahoma", 1, 6};
    edit = main->Add("sound_txt", {P::Text, P::Font});
    edit->font = mainFont;
    memo = main->Add("notes_mem", {P::Lines, P::Font});
    memo->lines[P::Lines] = {"first", "second"};
    memo->font = mainFont;
    auto panel = main->Add("", {P::Font});
    panel->font = mainFont;
    label = panel->Add("subtitle_lbl", {P::Caption, P::Font});
    label->strings[P::Caption] = "Professional looking movies";
    label->font = mainFont;
    reorder = root->AddWindow("ReorderDlg", {P::Caption, P::Font});
    reorder->strings[P::Caption] = "Organize";
    reorder->font = mainFont;
    reorderList = reorder->Add("lst", {P::Items, P::ItemIndex});
  }
};

}  // namespace sdm::test
