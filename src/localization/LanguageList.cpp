#include "localization/LanguageList.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/registry/Registry.h"
#include "support/U_SysUtils.h"
#include "support/VersionInfo.h"

namespace sdm {

const std::vector<TProbeLanguage>& ProbeLanguages() {
  // Windows language identifiers sorted by their English names (the two
  // neutral ones first), each with the locale a Linux user would set for it.
  static const std::vector<TProbeLanguage> table = {
      {0x0000, "Language Neutral", ""},
      {0x0400, "Process Default Language", ""},
      {0x0436, "Afrikaans", "af_ZA"},
      {0x041C, "Albanian", "sq_AL"},
      {0x0401, "Arabic (Saudi Arabia)", "ar_SA"},
      {0x0801, "Arabic (Iraq)", "ar_IQ"},
      {0x0C01, "Arabic (Egypt)", "ar_EG"},
      {0x1001, "Arabic (Libya)", "ar_LY"},
      {0x1401, "Arabic (Algeria)", "ar_DZ"},
      {0x1801, "Arabic (Morocco)", "ar_MA"},
      {0x1C01, "Arabic (Tunisia)", "ar_TN"},
      {0x2001, "Arabic (Oman)", "ar_OM"},
      {0x2401, "Arabic (Yemen)", "ar_YE"},
      {0x2801, "Arabic (Syria)", "ar_SY"},
      {0x2C01, "Arabic (Jordan)", "ar_JO"},
      {0x3001, "Arabic (Lebanon)", "ar_LB"},
      {0x3401, "Arabic (Kuwait)", "ar_KW"},
      {0x3801, "Arabic (U.A.E.)", "ar_AE"},
      {0x3C01, "Arabic (Bahrain)", "ar_BH"},
      {0x4001, "Arabic (Qatar)", "ar_QA"},
      {0x042B, "Armenian", "hy_AM"},
      {0x044D, "Assamese", "as_IN"},
      {0x042C, "Azeri (Latin)", "az_AZ"},
      {0x082C, "Azeri (Cyrillic)", "az_AZ@cyrillic"},
      {0x042D, "Basque", "eu_ES"},
      {0x0423, "Belarusian", "be_BY"},
      {0x0445, "Bengali (India)", "bn_IN"},
      {0x0402, "Bulgarian", "bg_BG"},
      {0x0455, "Burmese", "my_MM"},
      {0x0403, "Catalan", "ca_ES"},
      {0x0404, "Chinese (Taiwan)", "zh_TW"},
      {0x0804, "Chinese (PRC)", "zh_CN"},
      {0x0C04, "Chinese (Hong Kong SAR)", "zh_HK"},
      {0x1004, "Chinese (Singapore)", "zh_SG"},
      {0x1404, "Chinese (Macau SAR)", "zh_MO"},
      {0x041A, "Croatian", "hr_HR"},
      {0x0405, "Czech", "cs_CZ"},
      {0x0406, "Danish", "da_DK"},
      {0x0413, "Dutch (Netherlands)", "nl_NL"},
      {0x0813, "Dutch (Belgium)", "nl_BE"},
      {0x0409, "English (United States)", "en_US"},
      {0x0809, "English (United Kingdom)", "en_GB"},
      {0x0C09, "English (Australian)", "en_AU"},
      {0x1009, "English (Canadian)", "en_CA"},
      {0x1409, "English (New Zealand)", "en_NZ"},
      {0x1809, "English (Ireland)", "en_IE"},
      {0x1C09, "English (South Africa)", "en_ZA"},
      {0x2009, "English (Jamaica)", "en_JM"},
      {0x2409, "English (Caribbean)", ""},
      {0x2809, "English (Belize)", "en_BZ"},
      {0x2C09, "English (Trinidad)", "en_TT"},
      {0x3009, "English (Zimbabwe)", "en_ZW"},
      {0x3409, "English (Philippines)", "en_PH"},
      {0x0425, "Estonian", "et_EE"},
      {0x0438, "Faeroese", "fo_FO"},
      {0x0429, "Farsi", "fa_IR"},
      {0x040B, "Finnish", "fi_FI"},
      {0x040C, "French (Standard)", "fr_FR"},
      {0x080C, "French (Belgian)", "fr_BE"},
      {0x0C0C, "French (Canadian)", "fr_CA"},
      {0x100C, "French (Switzerland)", "fr_CH"},
      {0x140C, "French (Luxembourg)", "fr_LU"},
      {0x180C, "French (Monaco)", "fr_MC"},
      {0x0456, "Galician", "gl_ES"},
      {0x0437, "Georgian", "ka_GE"},
      {0x0407, "German (Standard)", "de_DE"},
      {0x0807, "German (Switzerland)", "de_CH"},
      {0x0C07, "German (Austria)", "de_AT"},
      {0x1007, "German (Luxembourg)", "de_LU"},
      {0x1407, "German (Liechtenstein)", "de_LI"},
      {0x0408, "Greek", "el_GR"},
      {0x0447, "Gujarati", "gu_IN"},
      {0x040D, "Hebrew", "he_IL"},
      {0x0439, "Hindi", "hi_IN"},
      {0x040E, "Hungarian", "hu_HU"},
      {0x040F, "Icelandic", "is_IS"},
      {0x0421, "Indonesian", "id_ID"},
      {0x0410, "Italian (Standard)", "it_IT"},
      {0x0810, "Italian (Switzerland)", "it_CH"},
      {0x0411, "Japanese", "ja_JP"},
      {0x044B, "Kannada", "kn_IN"},
      {0x0860, "Kashmiri (India)", "ks_IN"},
      {0x043F, "Kazakh", "kk_KZ"},
      {0x0457, "Konkani", "kok_IN"},
      {0x0412, "Korean", "ko_KR"},
      {0x0812, "Korean (Johab)", ""},
      {0x0426, "Latvian", "lv_LV"},
      {0x0427, "Lithuanian", "lt_LT"},
      {0x0827, "Lithuanian (Classic)", ""},
      {0x042F, "Macedonian", "mk_MK"},
      {0x043E, "Malay (Malaysian)", "ms_MY"},
      {0x083E, "Malay (Brunei Darussalam)", "ms_BN"},
      {0x044C, "Malayalam", "ml_IN"},
      {0x0458, "Manipuri", "mni_IN"},
      {0x044E, "Marathi", "mr_IN"},
      {0x0861, "Nepali (India)", "ne_IN"},
      {0x0414, "Norwegian (Bokmal)", "nb_NO"},
      {0x0814, "Norwegian (Nynorsk)", "nn_NO"},
      {0x0448, "Oriya", "or_IN"},
      {0x0415, "Polish", "pl_PL"},
      {0x0416, "Portuguese (Brazil)", "pt_BR"},
      {0x0816, "Portuguese (Standard)", "pt_PT"},
      {0x0446, "Punjabi", "pa_IN"},
      {0x0418, "Romanian", "ro_RO"},
      {0x0419, "Russian", "ru_RU"},
      {0x044F, "Sanskrit", "sa_IN"},
      {0x0C1A, "Serbian (Cyrillic)", "sr_RS"},
      {0x081A, "Serbian (Latin)", "sr_RS@latin"},
      {0x0459, "Sindhi", "sd_IN"},
      {0x041B, "Slovak", "sk_SK"},
      {0x0424, "Slovenian", "sl_SI"},
      {0x040A, "Spanish (Traditional Sort)", ""},
      {0x080A, "Spanish (Mexican)", "es_MX"},
      {0x0C0A, "Spanish (Modern Sort)", "es_ES"},
      {0x100A, "Spanish (Guatemala)", "es_GT"},
      {0x140A, "Spanish (Costa Rica)", "es_CR"},
      {0x180A, "Spanish (Panama)", "es_PA"},
      {0x1C0A, "Spanish (Dominican Republic)", "es_DO"},
      {0x200A, "Spanish (Venezuela)", "es_VE"},
      {0x240A, "Spanish (Colombia)", "es_CO"},
      {0x280A, "Spanish (Peru)", "es_PE"},
      {0x2C0A, "Spanish (Argentina)", "es_AR"},
      {0x300A, "Spanish (Ecuador)", "es_EC"},
      {0x340A, "Spanish (Chile)", "es_CL"},
      {0x380A, "Spanish (Uruguay)", "es_UY"},
      {0x3C0A, "Spanish (Paraguay)", "es_PY"},
      {0x400A, "Spanish (Bolivia)", "es_BO"},
      {0x440A, "Spanish (El Salvador)", "es_SV"},
      {0x480A, "Spanish (Honduras)", "es_HN"},
      {0x4C0A, "Spanish (Nicaragua)", "es_NI"},
      {0x500A, "Spanish (Puerto Rico)", "es_PR"},
      {0x0430, "Sutu", "st_ZA"},
      {0x0441, "Swahili", "sw_KE"},
      {0x041D, "Swedish", "sv_SE"},
      {0x081D, "Swedish (Finland)", "sv_FI"},
      {0x0449, "Tamil", "ta_IN"},
      {0x0444, "Tatar", "tt_RU"},
      {0x044A, "Telugu", "te_IN"},
      {0x041E, "Thai", "th_TH"},
      {0x041F, "Turkish", "tr_TR"},
      {0x0422, "Ukrainian", "uk_UA"},
      {0x0420, "Urdu (Pakistan)", "ur_PK"},
      {0x0820, "Urdu (India)", "ur_IN"},
      {0x0443, "Uzbek (Latin)", "uz_UZ"},
      {0x0843, "Uzbek (Cyrillic)", "uz_UZ@cyrillic"},
  };
  return table;
}

namespace {

struct TLocaleParts {
  std::string language, territory, modifier;
};

// "ll_CC.codeset@modifier", each part but the language optional.
TLocaleParts SplitLocale(const std::string& name) {
  TLocaleParts p;
  size_t i = 0;
  auto take = [&](std::string& out) {
    while (i < name.size() && name[i] != '_' && name[i] != '.' && name[i] != '@') out += name[i++];
  };
  take(p.language);
  if (i < name.size() && name[i] == '_') ++i, take(p.territory);
  if (i < name.size() && name[i] == '.') {
    std::string codeset;
    ++i, take(codeset);
  }
  if (i < name.size() && name[i] == '@') p.modifier = name.substr(i + 1);
  p.language = LowerCase(p.language);
  // Old language codes some systems still use.
  if (p.language == "no") p.language = "nb";
  if (p.language == "iw") p.language = "he";
  if (p.language == "in") p.language = "id";
  return p;
}

std::string EnvValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

uint16_t LangIdFromLocale(const std::string& locale) {
  if (locale == "C" || locale == "POSIX" || StartsStr(locale, "C.")) return 0x0409;
  const TLocaleParts want = SplitLocale(locale);
  if (want.language.empty()) return 0;
  const TProbeLanguage* sameLanguage = nullptr;
  const TProbeLanguage* mainLanguage = nullptr;
  for (const TProbeLanguage& p : ProbeLanguages()) {
    if (!*p.locale) continue;
    const TLocaleParts have = SplitLocale(p.locale);
    if (have.language != want.language) continue;
    if (SameText(have.territory, want.territory) && have.modifier == want.modifier) return p.langId;
    if (have.modifier != want.modifier) continue;
    if (!sameLanguage) sameLanguage = &p;
    // The language's own country (fr_FR, es_ES), else its first sublanguage.
    if (SameText(have.territory, have.language)) mainLanguage = &p;
    if (!mainLanguage && (p.langId >> 10) == 1) mainLanguage = &p;
  }
  if (mainLanguage) return mainLanguage->langId;
  return sameLanguage ? sameLanguage->langId : 0;
}

uint16_t UserDefaultLangId() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string v = EnvValue(var);
    if (!v.empty()) return LangIdFromLocale(v);
  }
  return LangIdFromLocale("C");
}

bool IsSourceLanguageSwitch(const std::string& arg) {
  std::string a = LowerCase(arg);
  for (char& c : a)
    if (c == '/') c = '-';
  if (!StartsStr(a, "-co")) return false;
  // "/co..." with a further slash is a path here ("/common/pictures"), not
  // the switch.
  return !(arg[0] == '/' && arg.find('/', 1) != std::string::npos);
}

std::string DefaultInputMethodName() {
  for (const char* var : {"QT_IM_MODULE", "GTK_IM_MODULE"}) {
    const std::string v = EnvValue(var);
    if (!v.empty()) return v;
  }
  const std::string x = EnvValue("XMODIFIERS");  // "@im=ibus"
  const size_t at = x.find("@im=");
  return at == std::string::npos ? std::string() : x.substr(at + 4);
}

TLangList::TLangList(std::string name) : name_(std::move(name)), reference_(4), current_(4) {
  SetProgramFolder(ExtractFilePath(ProgramFilePath()));
  // The source-language file carries the program's own language.
  reference_.LangId = 0;
}

void TLangList::SetExcludedComps(const TNameSet& names) {
  excluded_ = names;
  reference_.ExcludedComps = names;
  current_.ExcludedComps = names;
}

void TLangList::SetRoot(TLangRootPtr root) {
  reference_.Root = root;
  current_.Root = std::move(root);
}

void TLangList::SetProgramFolder(const std::string& folder) { programFolder_ = IncludeTrailingBackslashW(folder); }

std::string TLangList::GetLanguageFolder() const {
  namespace fs = std::filesystem;
  // An installed program lives in PREFIX/bin; its read-only data, language
  // files included, in PREFIX/share/slidomat.
  const fs::path program(programFolder_);
  if (program.parent_path().filename() == "bin") {
    const std::string shared =
        (program.parent_path().parent_path() / "share" / "slidomat" / SubDir).lexically_normal().string();
    if (DirectoryExistsLong(shared)) return IncludeTrailingBackslashW(shared);
  }
  if (DirectoryExistsLong(programFolder_ + SubDir)) return IncludeTrailingBackslashW(programFolder_ + SubDir);
  if (DirectoryExistsLong(programFolder_ + "system/" + SubDir))
    return IncludeTrailingBackslashW(programFolder_ + "system/" + SubDir);
  char cwd[4096];
  const std::string current = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
  return IncludeTrailingBackslashW(current + "/" + SubDir);
}

std::string TLangList::LanguageFileName(uint32_t id) const {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", id);
  return GetLanguageFolder() + FilePrefix + hex + ".SPK";
}

bool TLangList::ScanLanguages() {
  entries_.clear();
  const std::string folder = GetLanguageFolder();
  for (const TProbeLanguage& probe : ProbeLanguages()) {
    for (uint32_t variant = 0; variant <= 0xFFFF; ++variant) {
      const uint32_t id = variant << 16 | probe.langId;
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08X", id);
      const std::string file = folder + FilePrefix + hex + ".SPK";
      if (!FileExistsLong(file)) break;
      TStorefile store;
      store.SetSignature(kLanguageSignature);
      store.SetFilename(file);
      store.SetReadOnly(true);
      // A file that is not a language file is left out; its next variant may be one.
      if (!store.OpenExisting()) continue;
      int32_t idRev = 0;
      store.ReadInteger(idRev, true);
      std::string listName, headerName, suffix;
      store.ReadString(listName, true);
      store.ReadString(headerName, true);
      store.ReadString(suffix, true);
      std::string display = listName;
      if ((uint32_t(idRev) >> 16) >= 1) {
        store.Next();
        store.Next();
        int32_t version = 0;
        store.ReadInteger(version, true);
        display += " [" + VersionIntToText(uint32_t(version)) + "]";
      }
      entries_.push_back({display + " - " + suffix, id, file});
    }
  }
  return !entries_.empty();
}

std::string TLangList::DisplayString(int index) const {
  return index >= 0 && index < Count() ? entries_[size_t(index)].display : std::string();
}

uint32_t TLangList::LanguageId(int index) const {
  return index >= 0 && index < Count() ? entries_[size_t(index)].id : 0;
}

std::string TLangList::FileOf(int index) const {
  return index >= 0 && index < Count() ? entries_[size_t(index)].file : std::string();
}

void TLangList::SetLanguageIndex(int value) {
  if (value < 0 || value >= Count()) return;
  bool canChange = true;
  if (BeforeLanguageSwitch)
    BeforeLanguageSwitch(*this, int32_t(LanguageId(languageIndex_)), int32_t(LanguageId(value)), canChange);
  if (!canChange) return;
  languageIndex_ = value;
  if (Autoload) StoreLanguage();
  loaded_ = false;
  loaded_ = current_.LoadAndApply(FileOf(value));
  if (loaded_ && AfterLanguageSwitch) AfterLanguageSwitch();
}

int TLangList::FindEntry(const std::function<bool(uint32_t)>& match) const {
  for (int i = 0; i < Count(); ++i)
    if (match(entries_[size_t(i)].id)) return i;
  return -1;
}

bool TLangList::SelectLanguageId(uint32_t id) {
  int i = FindEntry([&](uint32_t e) { return e == id; });
  if (i < 0) i = FindEntry([&](uint32_t e) { return (e & 0xFFFF) == (id & 0xFFFF); });
  if (i < 0) i = FindEntry([&](uint32_t e) { return (e & 0x3FF) == (id & 0x3FF); });
  if (i < 0) return false;
  SetLanguageIndex(i);
  return true;
}

bool TLangList::SelectUserDefaultLanguage() {
  const uint16_t user = UserDefaultLangId();
  if (user == 0) return false;
  int i = FindEntry([&](uint32_t e) { return (e & 0xFFFF) == user; });
  if (i < 0) i = FindEntry([&](uint32_t e) { return (e & 0x3FF) == (user & 0x3FFu); });
  if (i < 0) return false;
  SetLanguageIndex(i);
  return true;
}

void TLangList::StoreLanguage() {
  if (RegKey.empty()) return;
  TRegistry reg(HKEY_CURRENT_USER);
  if (reg.OpenKey(RegKey, true) && languageIndex_ >= 0) reg.WriteInteger(name_, LanguageId(languageIndex_));
}

void TLangList::RestoreLanguage() {
  if (RegKey.empty()) return;
  TRegistry reg(HKEY_CURRENT_USER);
  std::optional<uint32_t> stored;
  if (reg.OpenKeyReadOnly(RegKey)) stored = reg.ReadInteger(name_);
  // A stored choice with no file left selects nothing: the user's choice is
  // not replaced by the system's language.
  if (stored)
    SelectLanguageId(*stored);
  else
    SelectUserDefaultLanguage();
}

bool TLangList::LoadFlag(uint16_t langId, std::vector<uint8_t>& bmp) const {
  bmp.clear();
  const int listed = FindEntry([&](uint32_t e) { return (e & 0xFFFF) == langId; });
  const std::string file = listed >= 0 ? FileOf(listed) : LanguageFileName(langId);
  TStorefile store;
  store.SetSignature(kLanguageSignature);
  store.SetFilename(file);
  store.SetReadOnly(true);
  if (!store.OpenExisting()) return false;
  store.GoTo(5);
  if (store.RecordIndex() != 5) return false;
  store.ReadBytes(bmp, false);
  return true;
}

std::string TLangList::CurrentHeaderName() const { return loaded_ ? current_.HeaderName : std::string(); }

std::string TLangList::SourceLanguageFileName() const { return GetLanguageFolder() + FilePrefix + "ORIGINAL.SPK"; }

bool TLangList::SaveSourceLanguageFile() { return reference_.SaveSourceLanguage(SourceLanguageFileName()); }

void TLangList::OnFirstActivate(const std::vector<std::string>& args) {
  if (activated_) return;
  // Once per run, even when restoring the language raises.
  activated_ = true;
  for (const std::string& arg : args) {
    if (!IsSourceLanguageSwitch(arg)) continue;
    if (OnBeep) OnBeep(4000, 100);
    ScanLanguages();
    TVersionInfo info;
    info.SetToModule();
    reference_.ProgramVersion = info.FileVersionInt();
    reference_.ImeName = DefaultInputMethodName();
    if (reference_.Root) {
      const TLangComponentPtr main = reference_.Root->MainForm();
      const TLangFont font = main ? main->GetFont() : reference_.Root->GetFont();
      reference_.FontName = font.name;
      reference_.Charset = font.charset;
    }
    sourceFailed_ = !SaveSourceLanguageFile();
    break;
  }
  ScanLanguages();
  if (Autoload) RestoreLanguage();
}

}  // namespace sdm
