#include "localization/LanguageRecord.h"

#include <strings.h>

#include <cstdio>
#include <exception>
#include <unordered_map>

#include "support/Errors.h"
#include "support/U_SysUtils.h"
#include "support/UserInteraction.h"

namespace sdm {

namespace {

// Header record tags as written; readers go by position instead.
enum : int32_t {
  kTagProgramVersion = 512,
  kTagImeName = 513,
  kTagFontName = 514,
  kTagCharset = 515,
  kTagSpareInt = 516,
  kTagMinFontSize = 516,
  kTagSpareStr1 = 517,
  kTagSpareStr2 = 518,
};

// Entry kinds of revision-0 files.
enum : int32_t { kKindFirst = 6, kKindWithItems = 11, kKindItemsOnly = 12, kKindMenu = 13 };

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// Lines 0, 1, ... of the property take the new lines as far as both lists
// reach: a language file never adds or removes items.
void ReplaceLines(ILangComponent& c, TLangProp prop, const std::vector<std::string>& lines) {
  std::vector<std::string> current = c.GetLines(prop);
  for (size_t i = 0; i < current.size() && i < lines.size(); ++i) current[i] = lines[i];
  c.SetLines(prop, current);
}

void SetCaptionOrText(ILangComponent& c, const std::string& text) {
  if (c.Has(TLangProp::Caption))
    c.SetString(TLangProp::Caption, text);
  else if (c.Has(TLangProp::Text))
    c.SetString(TLangProp::Text, text);
}

void ReplaceItemsOrLines(ILangComponent& c, const std::string& text) {
  const std::vector<std::string> lines = SplitLines(text);
  if (c.Has(TLangProp::Items))
    ReplaceLines(c, TLangProp::Items, lines);
  else if (c.Has(TLangProp::Lines))
    ReplaceLines(c, TLangProp::Lines, lines);
}

std::unordered_map<std::string, ILangComponent*> IndexPaths(const TPathList& list) {
  std::unordered_map<std::string, ILangComponent*> index;
  // The first component of a path wins, as a search from the front would.
  for (const auto& [path, comp] : list) index.emplace(path, comp.get());
  return index;
}

ILangComponent* Find(const std::unordered_map<std::string, ILangComponent*>& index, const std::string& path) {
  auto it = index.find(path);
  return it == index.end() ? nullptr : it->second;
}

int32_t ReadInt(TStorefile& store) {
  int32_t v = 0;
  store.ReadInteger(v, true);
  return v;
}

std::string ReadStr(TStorefile& store) {
  std::string s;
  store.ReadString(s, true);
  return s;
}

TLangText ReadText(TStorefile& store) {
  TLangText t;
  t.tag = store.ReadString(t.text, true);
  return t;
}

}  // namespace

bool TNoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return ::strcasecmp(a.c_str(), b.c_str()) < 0;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

TLanguageRecord::TLanguageRecord(int revision, TLangRootPtr root) : Revision(revision), Root(std::move(root)) {}

void TLanguageRecord::CollectComponents(const std::string& prefix, TPathList& list, const TNameSet& excluded,
                                        const TLangComponentPtr& component) {
  if (!component) return;
  const std::string name = component->Name();
  if (!name.empty() && !excluded.count(name) && !excluded.count(prefix + name))
    list.emplace_back(prefix + name, component);
  const std::string childPrefix = name.empty() ? std::string() : prefix + name + ".";
  for (const TLangComponentPtr& child : component->Components()) CollectComponents(childPrefix, list, excluded, child);
}

void TLanguageRecord::ClearHeader() {
  LangId = 0;
  Revision = 0;
  ListName.clear();
  HeaderName.clear();
  ListSuffix.clear();
  Notes.clear();
  Flag.clear();
  ProgramVersion = 0;
  SpareInt = 0;
  SpareStr1.clear();
  SpareStr2.clear();
  ImeName.clear();
  FontName.clear();
  Charset = 1;
  MinFontSize = 8;
}

void TLanguageRecord::ReadHeader(TStorefile& store) {
  ClearHeader();
  store.First();
  uint8_t id[4] = {0, 0, 0, 0};
  int32_t size = 4;
  store.ReadData(id, size, true);
  LangId = uint16_t(id[0] | id[1] << 8);
  Revision = size == 4 ? int(id[2] | id[3] << 8) : 0;
  ListName = ReadStr(store);
  HeaderName = ReadStr(store);
  ListSuffix = ReadStr(store);
  Notes = SplitLines(ReadStr(store));
  store.ReadBytes(Flag, true);
  if (Revision == 0) return;
  if (Revision > 4) throw EError(kUnsupportedRevisionMessage);
  ProgramVersion = uint32_t(ReadInt(store));
  if (Revision >= 2) {
    SpareInt = ReadInt(store);
    SpareStr1 = ReadStr(store);
    SpareStr2 = ReadStr(store);
  }
  ImeName = ReadStr(store);
  FontName = ReadStr(store);
  Charset = ReadInt(store) & 0xFF;
  if (Revision == 4) MinFontSize = ReadInt(store);
}

bool TLanguageRecord::WriteHeader(TStorefile& store) const {
  bool ok = store.AppendInteger(0, Revision * 65536 + LangId) > 0;
  ok = store.AppendString(1, ListName) > 0 && ok;
  ok = store.AppendString(2, HeaderName) > 0 && ok;
  ok = store.AppendString(3, ListSuffix) > 0 && ok;
  ok = store.AppendString(4, JoinLines(Notes)) > 0 && ok;
  ok = store.AppendData(5, Flag.data(), int32_t(Flag.size())) > 0 && ok;
  if (Revision < 1) return ok;
  ok = store.AppendInteger(kTagProgramVersion, int32_t(ProgramVersion)) > 0 && ok;
  if (Revision >= 2) {
    ok = store.AppendInteger(kTagSpareInt, SpareInt) > 0 && ok;
    ok = store.AppendString(kTagSpareStr1, SpareStr1) > 0 && ok;
    ok = store.AppendString(kTagSpareStr2, SpareStr2) > 0 && ok;
  }
  ok = store.AppendString(kTagImeName, ImeName) > 0 && ok;
  ok = store.AppendString(kTagFontName, FontName) > 0 && ok;
  ok = store.AppendInteger(kTagCharset, Charset) > 0 && ok;
  if (Revision >= 4) ok = store.AppendInteger(kTagMinFontSize, MinFontSize) > 0 && ok;
  return ok;
}

bool TLanguageRecord::ReadEntry(TStorefile& store, int revision, TLangEntry& entry) {
  if (store.AtEnd()) return false;
  entry = TLangEntry();
  entry.pathTag = store.ReadString(entry.path, true);
  if (revision >= 3) entry.alignment = ReadInt(store);
  entry.caption = ReadText(store);
  entry.hint = ReadText(store);
  entry.items = ReadText(store);
  return true;
}

bool TLanguageRecord::WriteEntry(TStorefile& store, int revision, const TLangEntry& entry) {
  bool ok = store.AppendString(entry.pathTag, entry.path) > 0;
  if (revision >= 3) ok = store.AppendInteger(kTagAlignment, entry.alignment) > 0 && ok;
  ok = store.AppendString(entry.caption.tag, entry.caption.text) > 0 && ok;
  ok = store.AppendString(entry.hint.tag, entry.hint.text) > 0 && ok;
  ok = store.AppendString(entry.items.tag, entry.items.text) > 0 && ok;
  return ok;
}

std::string TLanguageRecord::MainFontName() const {
  if (!Root) return {};
  TLangComponentPtr main = Root->MainForm();
  return main ? main->GetFont().name : Root->GetFont().name;
}

void TLanguageRecord::ApplyFonts(const TPathList& list, const std::string& mainFontName) const {
  for (const auto& [path, comp] : list) {
    if (!comp->Has(TLangProp::Font)) continue;
    TLangFont font = comp->GetFont();
    // Only fonts that follow the main window's face change face; a control
    // with a face of its own keeps it and gets the character set alone.
    if (font.name == mainFontName) font.name = FontName;
    font.charset = Charset;
    if (Revision == 4 && font.size < MinFontSize) font.size = MinFontSize;
    comp->SetFont(font);
  }
}

void TLanguageRecord::ApplyEntry(const TLangEntry& e, ILangComponent& c) const {
  // Replacing item texts must not move the selection.
  const bool hasIndex = c.Has(TLangProp::ItemIndex);
  const int index = hasIndex ? c.GetInt(TLangProp::ItemIndex) : 0;
  if (Revision >= 3 && (e.alignment == 1 || e.alignment == 2)) {
    if (c.Has(TLangProp::Alignment)) c.SetInt(TLangProp::Alignment, e.alignment == 1 ? 1 : 0);
    if (c.Has(TLangProp::Layout)) c.SetInt(TLangProp::Layout, e.alignment == 1 ? 0 : 1);
  }
  if (e.caption.Translated()) SetCaptionOrText(c, e.caption.text);
  if (e.hint.Translated() && c.Has(TLangProp::Hint)) {
    c.SetString(TLangProp::Hint, e.hint.text);
    if (c.Has(TLangProp::ShowHint)) c.SetInt(TLangProp::ShowHint, (e.hint.tag & kTagShowHint) ? 1 : 0);
  }
  if (e.items.Translated()) ReplaceItemsOrLines(c, e.items.text);
  if (hasIndex) c.SetInt(TLangProp::ItemIndex, index);
}

void TLanguageRecord::LoadRevision0(TStorefile& store) const {
  // These files name only the windows and the components they own directly,
  // and were made for the default character set.
  TPathList list;
  if (Root) {
    for (const TLangComponentPtr& window : Root->Components()) {
      const std::string name = window->Name();
      if (name.empty()) continue;
      list.emplace_back(name, window);
      for (const TLangComponentPtr& child : window->Components())
        if (!child->Name().empty()) list.emplace_back(name + "." + child->Name(), child);
    }
  }
  for (const auto& [path, comp] : list) {
    if (!comp->Has(TLangProp::Font)) continue;
    TLangFont font = comp->GetFont();
    font.charset = 1;
    comp->SetFont(font);
  }
  const auto index = IndexPaths(list);
  while (!store.AtEnd()) {
    std::string path;
    const int32_t kind = store.ReadString(path, true);
    ILangComponent* c = Find(index, path);
    if (kind == kKindItemsOnly) {
      // The list these lines belong to cannot be told from the file: the
      // record is consumed and its lines left alone.
      store.Next();
      continue;
    }
    if (kind < kKindFirst || kind > kKindMenu) continue;  // read the next record as a path
    const std::string caption = ReadStr(store);
    const std::string hint = ReadStr(store);
    const std::string items = kind == kKindWithItems ? ReadStr(store) : std::string();
    if (!c) continue;
    if (!caption.empty()) SetCaptionOrText(*c, caption);
    if (!hint.empty() && c->Has(TLangProp::Hint)) c->SetString(TLangProp::Hint, hint);
    if (!items.empty() && c->Has(TLangProp::Items)) ReplaceLines(*c, TLangProp::Items, SplitLines(items));
  }
}

bool TLanguageRecord::LoadAndApply(const std::string& fileName) {
  TStorefile store;
  store.SetSignature(kLanguageSignature);
  store.SetFilename(fileName);
  store.SetReadOnly(true);
  // Never Open: that would create the missing file.
  if (!store.OpenExisting()) return false;
  if (store.RecordCount() <= 5) return false;
  // The count is only the header's word: a cut file may hold fewer records
  // than it says, and one without its six names is no language.
  store.GoTo(5);
  if (store.RecordIndex() != 5 || store.AtEnd()) return false;
  ReadHeader(store);
  if (Revision == 0) {
    Charset = 1;
    LoadRevision0(store);
  } else {
    TPathList list;
    if (Root) CollectComponents("", list, ExcludedComps, Root);
    ApplyFonts(list, MainFontName());
    const auto index = IndexPaths(list);
    TLangEntry entry;
    while (ReadEntry(store, Revision, entry))
      if (ILangComponent* c = Find(index, entry.path)) ApplyEntry(entry, *c);
  }
  if (Root) Root->SetSystemFontsCharset(Charset);
  return true;
}

bool TLanguageRecord::SaveSourceLanguage(const std::string& fileName) {
  TStorefile store;
  store.SetSignature(kLanguageSignature);
  store.SetFilename(fileName);
  store.Clear();
  store.Open();
  if (!store.IsOpen() || store.IsReadOnly()) return false;
  bool ok = WriteHeader(store);
  TPathList list;
  if (Root) CollectComponents("", list, ExcludedComps, Root);
  for (size_t i = 0; i < list.size(); ++i) {
    try {
      ILangComponent& c = *list[i].second;
      TLangEntry e;
      e.path = list[i].first;
      e.alignment = 0;
      int count = 0;
      std::string caption;
      if (c.Has(TLangProp::Caption)) caption = c.GetString(TLangProp::Caption);
      if (Trim(caption).empty() && c.Has(TLangProp::Text)) caption = c.GetString(TLangProp::Text);
      if (!Trim(caption).empty()) {
        e.caption = {kTagCaption, caption};
        ++count;
      }
      if (c.Has(TLangProp::Hint)) {
        const std::string hint = c.GetString(TLangProp::Hint);
        if (!Trim(hint).empty()) {
          const int show = c.Has(TLangProp::ShowHint) ? (c.GetInt(TLangProp::ShowHint) ? 1 : 0) : 1;
          e.hint = {kTagHint + kTagShowHint * show, hint};
          ++count;
        }
      }
      const TLangProp listProp = c.Has(TLangProp::Items) ? TLangProp::Items : TLangProp::Lines;
      if (c.Has(listProp)) {
        e.items = {kTagItems, JoinLines(c.GetLines(listProp))};
        ++count;
      }
      if (count == 0) continue;
      e.pathTag = kTagEntryPath + count;
      ok = WriteEntry(store, Revision, e) && ok;
    } catch (const std::exception& ex) {
      char buf[64];
      std::snprintf(buf, sizeof buf, " - component No %zu", i);
      UserInteraction().ShowMessage(std::string("Exception ") + ex.what() + buf);
    }
  }
  store.Close();
  return ok;
}

}  // namespace sdm
