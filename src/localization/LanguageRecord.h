#pragma once
// Unit Lang_Languages.
// TLanguageRecord: one language file, read and applied to the live component
// tree, or written from it as the source-language file a translator starts
// from.
//
// A language file is a record store signed "Xol LANGUAGE FILE". Its header
// records are read by position (their tags are written but never trusted):
//
//   0 LangId | Revision << 16 (revision-0 files: a 2-byte LANGID alone)
//   1 ListName  2 HeaderName  3 ListSuffix  4 Notes (CR LF lines)  5 flag BMP
//   revision 1+: 512 ProgramVersion (packed)
//   revision 2+: 516 spare integer, 517 and 518 spare strings
//   revision 1+: 513 ImeName, 514 FontName, 515 Charset
//   revision 4 : 516 MinFontSize
//
// Then one entry per component: the path ("MainDlg.go_btn"), an alignment
// integer (revisions 3 and 4), then the caption, hint and items records. The
// tag of each text record is a flag word: the text applies only when the tag
// is positive with bit 0x20 (translated) set; in a hint's tag bit 0x10 is the
// ShowHint value. Revision-0 entries are a path whose tag is the entry kind,
// followed by the kind's text records.
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "localization/LangComponent.h"
#include "localization/StoreFile.h"

namespace sdm {

inline constexpr const char* kLanguageSignature = "Xol LANGUAGE FILE";
inline constexpr const char* kUnsupportedRevisionMessage = "Format not supported in this revision";

// Flag words of text records.
inline constexpr int32_t kTagTranslated = 0x20;
inline constexpr int32_t kTagShowHint = 0x10;
enum : int32_t { kTagCaption = 1, kTagHint = 2, kTagItems = 3, kTagEntryPath = 528, kTagAlignment = 768 };

// Component names compared without regard to case, as the exclusion list is.
struct TNoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using TNameSet = std::set<std::string, TNoCaseLess>;

// Component paths with their components, in the order they were collected.
using TPathList = std::vector<std::pair<std::string, TLangComponentPtr>>;

// A text as stored: its flag word and its bytes.
struct TLangText {
  int32_t tag = 0;
  std::string text;
  bool Translated() const { return tag > 0 && (tag & kTagTranslated) != 0; }
};

// One entry of a revision 1 to 4 file.
struct TLangEntry {
  std::string path;
  int32_t pathTag = 0;
  int32_t alignment = 0;  // revisions 3 and 4: 0 leave, 1 and 2 set
  TLangText caption, hint, items;
};

// Lines separated by CR LF, CR or LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(const std::string& text);
// Each line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

class TLanguageRecord {
public:
  // Revision is the one files are written in; root is the application.
  explicit TLanguageRecord(int revision = 4, TLangRootPtr root = nullptr);

  // Header values of the file last read, or of the file to write.
  uint16_t LangId = 0;
  int Revision = 4;
  std::string ListName, HeaderName, ListSuffix;
  std::vector<std::string> Notes;
  std::vector<uint8_t> Flag;  // a whole BMP file, empty when there is none
  uint32_t ProgramVersion = 0;
  int32_t SpareInt = 0;
  std::string SpareStr1, SpareStr2;
  std::string ImeName, FontName;
  int Charset = 1;
  int MinFontSize = 8;

  TLangRootPtr Root;
  TNameSet ExcludedComps;

  // Adds prefix + name for every named component of the tree under component
  // (itself included) that is not excluded by name or by path.
  static void CollectComponents(const std::string& prefix, TPathList& list, const TNameSet& excluded,
                                const TLangComponentPtr& component);

  // Reads the file and applies it to the tree. False when the file is
  // missing, not a language file or has no more than the 5 first records; a
  // revision above 4 raises "Format not supported in this revision" and
  // applies nothing.
  bool LoadAndApply(const std::string& fileName);

  // Writes the source-language file from the live tree (record 0 holds
  // Revision and LangId). An error on one component is shown as
  // "Exception %s - component No %d" and the others are still written.
  // False when the file could not be written.
  bool SaveSourceLanguage(const std::string& fileName);

  // The file layout, shared with the language-source tool.
  // Reads records 0 up to the last header record of the file's revision.
  void ReadHeader(TStorefile& store);
  // Writes the header records of Revision.
  bool WriteHeader(TStorefile& store) const;
  // Reads the next entry of a revision 1 to 4 file; false at the end.
  static bool ReadEntry(TStorefile& store, int revision, TLangEntry& entry);
  static bool WriteEntry(TStorefile& store, int revision, const TLangEntry& entry);

private:
  void ClearHeader();
  void ApplyFonts(const TPathList& list, const std::string& mainFontName) const;
  void ApplyEntry(const TLangEntry& entry, ILangComponent& component) const;
  void LoadRevision0(TStorefile& store) const;
  std::string MainFontName() const;
};

}  // namespace sdm
