#pragma once
// Unit C_TextStorage.
// TTextStorage: the English texts of the messages a window composes at run
// time, with their current translation. Code asks Translate(English literal);
// language files replace Items line by line, index-aligned with the English
// copy, which never changes once the storage is made.
#include <mutex>
#include <string>
#include <vector>

#include "localization/LangComponent.h"

namespace sdm {

class TTextStorage {
public:
  // Name is the component name ("main_ts"); english the texts in order.
  TTextStorage(std::string name, std::vector<std::string> english);

  const std::string& Name() const { return name_; }
  std::vector<std::string> Items() const;
  const std::vector<std::string>& English() const { return english_; }
  // Replaces the current texts wholesale.
  void SetItems(const std::vector<std::string>& items);
  // Replaces the first lines.size() texts (a language file with fewer lines
  // leaves the rest as they were); lines beyond the English list are ignored.
  void ApplyItems(const std::vector<std::string>& lines);
  // Back to the English texts.
  void Reset();

  // The current text for an English text (found without regard to case);
  // unknown texts, and lines translated as "unused", give the text back.
  std::string Translate(const std::string& englishText) const;

private:
  const std::string name_;
  const std::vector<std::string> english_;
  mutable std::mutex mutex_;
  std::vector<std::string> items_;
};

// A text storage as the language files see it: a named component whose Items
// are the current texts. The window layer puts one in its tree for each
// storage a window carries (MainDlg.main_ts).
class TTextStorageComponent : public ILangComponent {
public:
  explicit TTextStorageComponent(TTextStorage& storage) : storage_(storage) {}
  std::string Name() const override { return storage_.Name(); }
  std::vector<TLangComponentPtr> Components() const override { return {}; }
  bool Has(TLangProp prop) const override { return prop == TLangProp::Items; }
  std::vector<std::string> GetLines(TLangProp) const override { return storage_.Items(); }
  void SetLines(TLangProp, const std::vector<std::string>& lines) override { storage_.SetItems(lines); }

private:
  TTextStorage& storage_;
};

// The English lines of the main window's list, in order: the 22 the
// language files have always indexed, then those added since.
const std::vector<std::string>& MainTextStorageLines();
// The main window's text storage, shared by the dialogs that borrow it.
TTextStorage& main_ts();

}  // namespace sdm
