#pragma once
// Unit C_LangPack.
// TLangList: the languages found beside the program, the chosen one, and the
// switch between them.
//
// Language files are named FilePrefix + eight upper-case hexadecimal digits of
// the identifier + ".SPK" (SDM_0000040C.SPK): the identifier is variant << 16
// | LANGID, variant 0 being a language's main file. Only the LANGIDs of the
// probe table are looked for, in its order, and the variants of one LANGID
// from 0 up to the first missing one. The choice is remembered as a 32-bit
// value named after the list (`langue`) under RegKey of the user's hive.
//
// The language folder of a copy run from its own folder is the program
// folder (+ SubDir), else its "system/" subfolder, else the current
// directory; an installed program (PREFIX/bin/) reads PREFIX/share/slidomat/
// first.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "localization/LanguageRecord.h"

namespace sdm {

// One language the list looks for: its Windows language identifier, its
// English name and the POSIX locale that stands for it.
struct TProbeLanguage {
  uint16_t langId;
  const char* englishName;
  const char* locale;  // "fr_FR", "sr_RS@latin"; "" when no locale matches
};
// The 145 languages in the order files are looked for.
const std::vector<TProbeLanguage>& ProbeLanguages();

// The LANGID of a locale name as LC_ALL, LC_MESSAGES or LANG hold it
// ("fr_CA.UTF-8", "de", "sr_RS@latin"); 0 when no language of the probe table
// matches. A language without a known territory gets its main LANGID.
uint16_t LangIdFromLocale(const std::string& locale);
// The user's language from LC_ALL, then LC_MESSAGES, then LANG (the first
// that is set); "C" and "POSIX" are US English.
uint16_t UserDefaultLangId();

class TLangList {
public:
  // Name is the component name, which names the remembered value.
  explicit TLangList(std::string name = "langue");

  // Called before a switch with the identifiers of the current and the new
  // entry; clearing canChange refuses the switch.
  using TBeforeChangeEvent = std::function<void(TLangList& sender, int32_t oldCode, int32_t newCode, bool& canChange)>;
  using TNotifyEvent = std::function<void()>;

  const std::string& Name() const { return name_; }
  std::string FilePrefix;
  std::string SubDir;
  std::string RegKey = "Software\\Xol\\Localization";
  bool Autoload = true;
  TBeforeChangeEvent BeforeLanguageSwitch;
  // Called after a language file was loaded and applied.
  TNotifyEvent AfterLanguageSwitch;
  // Sounded when the source-language file is written (4000 Hz, 100 ms).
  std::function<void(int hz, int ms)> OnBeep;

  const TNameSet& ExcludedComps() const { return excluded_; }
  void SetExcludedComps(const TNameSet& names);

  // The application at the root of the component tree: set once the windows
  // exist, before the first activation.
  void SetRoot(TLangRootPtr root);
  // Taken from the running program at creation; tests point it elsewhere.
  const std::string& ProgramFolder() const { return programFolder_; }
  void SetProgramFolder(const std::string& folder);

  std::string GetLanguageFolder() const;
  // The file of an identifier in the language folder.
  std::string LanguageFileName(uint32_t id) const;

  // Rebuilds the list; true when at least one file was listed.
  bool ScanLanguages();
  int Count() const { return int(entries_.size()); }
  // "ListName [1.0.0.0] - ListSuffix" (revision 0: "ListName - ListSuffix").
  std::string DisplayString(int index) const;
  // 0 when index is out of range.
  uint32_t LanguageId(int index) const;
  std::string FileOf(int index) const;

  int LanguageIndex() const { return languageIndex_; }
  // Switches to entry value: asks BeforeLanguageSwitch, remembers the choice
  // (Autoload), applies the file, then calls AfterLanguageSwitch when the
  // file was applied. Values out of range do nothing.
  void SetLanguageIndex(int value);

  bool SelectLanguageId(uint32_t id);
  bool SelectUserDefaultLanguage();
  void RestoreLanguage();
  void StoreLanguage();

  // The flag picture (a whole BMP file) of a language: from the first listed
  // file of that LANGID, else from its variant-0 file when one exists. No
  // file is ever created. False, with bmp empty, when there is none.
  bool LoadFlag(uint16_t langId, std::vector<uint8_t>& bmp) const;
  // HeaderName of the loaded language, "" when none is loaded.
  std::string CurrentHeaderName() const;
  bool LanguageLoaded() const { return loaded_; }

  // FilePrefix + "ORIGINAL.SPK" in the language folder.
  std::string SourceLanguageFileName() const;
  // Writes the source-language file from the live tree; false when the file
  // could not be written.
  bool SaveSourceLanguageFile();

  // The work of the application's first activation, done once: an argument
  // "-co" or "/CO" (any case) writes the source-language file; then the scan,
  // and the remembered (or the user's) language is restored when Autoload.
  void OnFirstActivate(const std::vector<std::string>& args);
  bool FirstActivationDone() const { return activated_; }
  // True when the first activation was asked for the source-language file
  // and could not write it (an installed copy's folder is read-only): the
  // window tells the user rather than let the switch seem to have worked.
  bool SourceLanguageFileFailed() const { return sourceFailed_; }

  TLanguageRecord& CurrentRecord() { return current_; }
  TLanguageRecord& ReferenceRecord() { return reference_; }

private:
  struct TEntry {
    std::string display;
    uint32_t id;
    std::string file;
  };
  int FindEntry(const std::function<bool(uint32_t)>& match) const;

  std::string name_;
  std::string programFolder_;
  TNameSet excluded_;
  std::vector<TEntry> entries_;
  int languageIndex_ = -1;
  TLanguageRecord reference_;
  TLanguageRecord current_;
  bool loaded_ = false;
  bool activated_ = false;
  bool sourceFailed_ = false;
};

// Whether a command-line argument asks for the source-language file.
bool IsSourceLanguageSwitch(const std::string& arg);
// The system's input method, "" when none is configured.
std::string DefaultInputMethodName();

}  // namespace sdm
