#include "localization/LangSource.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "support/Errors.h"
#include "support/VersionInfo.h"

namespace sdm {

namespace {

constexpr const char* kUntranslated = "#~";

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

class TParser {
public:
  explicit TParser(const std::string& name) : name_(name) {}

  TLangSource Parse(const std::string& text) {
    source_.header.Revision = 4;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ++lineNo_;
      ParseLine(line);
      start = end + 1;
    }
    if (!haveLangId_) Fail("no LangId line", 0);
    for (TPending& p : pending_) source_.entries.push_back(Finish(p));
    return std::move(source_);
  }

private:
  struct TPending {
    TLangEntry entry;
    int line = 0;
    bool caption = false, hint = false, showHintGiven = false;
    int showHint = 1;
    std::map<int, std::string> items;
  };

  [[noreturn]] void Fail(const std::string& problem, int line = -1) const {
    const int at = line < 0 ? lineNo_ : line;
    throw EError(name_ + (at > 0 ? ":" + std::to_string(at) : std::string()) + ": " + problem);
  }

  std::string Unescape(const std::string& s) const {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] != '\\') {
        out += s[i];
        continue;
      }
      if (++i == s.size()) Fail("a backslash ends the line (write \\\\ for one)");
      switch (s[i]) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        default: Fail(std::string("unknown escape \\") + s[i]);
      }
    }
    return out;
  }

  long Number(const std::string& v, int base, long lo, long hi) const {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, base);
    if (v.empty() || *end || n < lo || n > hi)
      Fail("\"" + v + "\" is not a number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return n;
  }

  void ParseLine(const std::string& line) {
    if (line.empty() || line[0] == '#') return;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) Fail("expected NAME=TEXT");
    const std::string key = line.substr(0, eq);
    if (!seen_.insert(key).second) Fail(key + " is given twice");
    const std::string value = Unescape(line.substr(eq + 1));
    const size_t dot = key.rfind('.');
    if (dot == std::string::npos)
      Header(key, value);
    else
      Entry(key.substr(0, dot), key.substr(dot + 1), value);
  }

  void Header(const std::string& key, const std::string& value) {
    TLanguageRecord& h = source_.header;
    if (key == "LangId") {
      h.LangId = uint16_t(Number(value, 16, 0, 0xFFFF));
      haveLangId_ = true;
    } else if (key == "Revision") {
      h.Revision = int(Number(value, 10, 1, 4));
    } else if (key == "ListName") {
      h.ListName = value;
    } else if (key == "HeaderName") {
      h.HeaderName = value;
    } else if (key == "ListSuffix") {
      h.ListSuffix = value;
    } else if (key.rfind("Notes", 0) == 0) {
      h.Notes.push_back(value);
    } else if (key == "ProgramVersion") {
      h.ProgramVersion = PackVersion(value);
    } else if (key == "ImeName") {
      h.ImeName = value;
    } else if (key == "FontName") {
      h.FontName = value;
    } else if (key == "Charset") {
      h.Charset = int(Number(value, 10, 0, 255));
    } else if (key == "MinFontSize") {
      h.MinFontSize = int(Number(value, 10, 0, 1000));
    } else if (key == "Flag") {
      source_.flagFile = value;
    } else {
      Fail("unknown header value " + key);
    }
  }

  void Entry(const std::string& path, const std::string& prop, const std::string& value) {
    if (path.empty()) Fail("a property without a component path");
    auto [it, fresh] = index_.emplace(path, pending_.size());
    if (fresh) {
      pending_.emplace_back();
      pending_.back().entry.path = path;
      pending_.back().line = lineNo_;
    }
    TPending& p = pending_[it->second];
    if (prop == "Caption") {
      p.caption = true;
      p.entry.caption = {kTagCaption | kTagTranslated, value};
    } else if (prop == "Hint") {
      p.hint = true;
      p.entry.hint.text = value;
    } else if (prop == "ShowHint") {
      p.showHintGiven = true;
      p.showHint = int(Number(value, 10, 0, 1));
    } else if (prop == "Alignment") {
      p.entry.alignment = int32_t(Number(value, 10, 0, 2));
    } else if (prop.rfind("Items[", 0) == 0 && prop.back() == ']') {
      const int n = int(Number(prop.substr(6, prop.size() - 7), 10, 0, 100000));
      p.items[n] = value;
    } else {
      Fail("unknown property " + prop + " (Caption, Hint, ShowHint, Alignment or Items[n])");
    }
  }

  TLangEntry Finish(TPending& p) const {
    TLangEntry& e = p.entry;
    int count = p.caption ? 1 : 0;
    if (p.hint) {
      e.hint.tag = kTagHint | kTagTranslated | (p.showHint ? kTagShowHint : 0);
      ++count;
    } else if (p.showHintGiven) {
      Fail(e.path + ".ShowHint without a Hint", p.line);
    }
    if (!p.items.empty()) {
      std::vector<std::string> lines;
      for (const auto& [n, text] : p.items) {
        // Items replace a list's lines from the first one on, so a gap
        // would shift every later line to the wrong item.
        if (n != int(lines.size()))
          Fail(e.path + ".Items[" + std::to_string(n) + "] without Items[" + std::to_string(lines.size()) + "]",
               p.line);
        lines.push_back(text);
      }
      e.items = {kTagItems | kTagTranslated, JoinLines(lines)};
      ++count;
    }
    e.pathTag = kTagEntryPath + count;
    return e;
  }

  std::string name_;
  int lineNo_ = 0;
  bool haveLangId_ = false;
  TLangSource source_;
  std::vector<TPending> pending_;
  std::map<std::string, size_t> index_;
  std::set<std::string> seen_;
};

void AddLine(std::string& out, bool translated, const std::string& key, const std::string& value) {
  if (!translated) out += kUntranslated;
  out += key + "=" + Escape(value) + "\n";
}

}  // namespace

TLangSource ParseLangSource(const std::string& text, const std::string& sourceName) {
  return TParser(sourceName).Parse(text);
}

std::string FormatLangSource(const TLangSource& source) {
  const TLanguageRecord& h = source.header;
  std::string out = "# Slidomat language file\n";
  bool untranslated = false;
  for (const TLangEntry& e : source.entries)
    for (const TLangText* t : {&e.caption, &e.hint, &e.items})
      if (!t->Translated() && !t->text.empty()) untranslated = true;
  if (untranslated)
    out += "# Lines starting with " + std::string(kUntranslated) + " hold texts not translated yet: remove the " +
           kUntranslated + " once a line is in your language.\n";
  char id[8];
  std::snprintf(id, sizeof id, "%04X", h.LangId);
  out += std::string("LangId=") + id + "\n";
  if (h.Revision != 4) out += "Revision=" + std::to_string(h.Revision) + "\n";
  AddLine(out, true, "ListName", h.ListName);
  AddLine(out, true, "HeaderName", h.HeaderName);
  AddLine(out, true, "ListSuffix", h.ListSuffix);
  for (size_t i = 0; i < h.Notes.size(); ++i)
    AddLine(out, true, i == 0 ? "Notes" : "Notes" + std::to_string(i + 1), h.Notes[i]);
  out += "ProgramVersion=" + VersionIntToText(h.ProgramVersion) + "\n";
  AddLine(out, true, "ImeName", h.ImeName);
  AddLine(out, true, "FontName", h.FontName);
  out += "Charset=" + std::to_string(h.Charset) + "\n";
  out += "MinFontSize=" + std::to_string(h.MinFontSize) + "\n";
  if (!source.flagFile.empty()) AddLine(out, true, "Flag", source.flagFile);

  std::string window;
  for (const TLangEntry& e : source.entries) {
    const std::string w = e.path.substr(0, e.path.find('.'));
    if (w != window || &e == &source.entries.front()) out += "\n";
    window = w;
    if (e.alignment != 0) out += e.path + ".Alignment=" + std::to_string(e.alignment) + "\n";
    if (e.caption.Translated() || !e.caption.text.empty())
      AddLine(out, e.caption.Translated(), e.path + ".Caption", e.caption.text);
    if (e.hint.Translated() || !e.hint.text.empty()) {
      AddLine(out, e.hint.Translated(), e.path + ".Hint", e.hint.text);
      if (e.hint.Translated() && !(e.hint.tag & kTagShowHint)) out += e.path + ".ShowHint=0\n";
    }
    const std::vector<std::string> lines = SplitLines(e.items.text);
    for (size_t i = 0; i < lines.size(); ++i)
      AddLine(out, e.items.Translated(), e.path + ".Items[" + std::to_string(i) + "]", lines[i]);
  }
  return out;
}

void WriteLanguageFile(const TLangSource& source, const std::string& fileName) {
  TStorefile store;
  store.SetSignature(kLanguageSignature);
  store.SetFilename(fileName);
  store.Clear();
  store.Open();
  if (!store.IsOpen() || store.IsReadOnly()) throw EError("Cannot write " + fileName);
  bool ok = source.header.WriteHeader(store);
  for (const TLangEntry& e : source.entries) ok = TLanguageRecord::WriteEntry(store, source.header.Revision, e) && ok;
  store.Close();
  if (!ok) throw EError("Cannot write " + fileName);
}

TLangSource ReadLanguageFile(const std::string& fileName) {
  TStorefile store;
  store.SetSignature(kLanguageSignature);
  store.SetFilename(fileName);
  store.SetReadOnly(true);
  if (!store.OpenExisting()) throw EError(fileName + " is not a language file");
  if (store.RecordCount() <= 5) throw EError(fileName + " holds no more than its names");
  TLangSource source;
  source.header.ReadHeader(store);
  if (source.header.Revision == 0) throw EError(fileName + ": revision 0 files cannot be turned into text");
  TLangEntry e;
  while (TLanguageRecord::ReadEntry(store, source.header.Revision, e)) source.entries.push_back(e);
  return source;
}

}  // namespace sdm
