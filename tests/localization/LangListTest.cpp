#include "localization/LanguageList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "localization/FakeComponents.h"
#include "localization/StoreBytes.h"
#include "platform/registry/Registry.h"
#include "support/Errors.h"
#include "support/SettingsStore.h"
#include "support/VersionInfo.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;
using P = TLangProp;

namespace {

class LangList : public test::PrivateRegistryTest {
protected:
  void SetUp() override {
    fs::create_directories(dir.file("prog"));
    list.SetProgramFolder(dir.file("prog"));
    list.FilePrefix = "SDM_";
    list.RegKey = "Software\\Tarvenit\\Slidomat";
    list.SetRoot(prog.root);
    list.AfterLanguageSwitch = [this] { ++afterCalls; };
  }
  std::string Lang(const std::string& name) const { return dir.file("prog/" + name); }
  // A revision-4 file whose main window caption reads caption.
  void Write(const std::string& name, uint16_t langId, const std::string& listName, const std::string& caption,
             const TBytes& flag = {}) {
    TLangFileBytes f = TLangFileBytes::Header(4, langId, listName, listName + " header", "suffix",
                                              PackVersion("1.2.3.4"), "Arial", 0, 8, flag);
    f.Entry(4, "MainDlg", 0x21, caption);
    WriteBytes(Lang(name), f.Bytes());
  }

  // The locale names a language no test ships.
  test::ScopedEnv lcAll_{"LC_ALL", nullptr}, lcMessages_{"LC_MESSAGES", nullptr}, lang_{"LANG", "it_IT.UTF-8"};
  TFakeProgram prog;
  TLangList list;
  int afterCalls = 0;
};

std::vector<uint32_t> Ids(const TLangList& l) {
  std::vector<uint32_t> ids;
  for (int i = 0; i < l.Count(); ++i) ids.push_back(l.LanguageId(i));
  return ids;
}

}  // namespace

TEST(ProbeLanguages, TableAndLocalesMatchOneAnother) {
  const auto& table = ProbeLanguages();
  ASSERT_EQ(table.size(), 145u);
  EXPECT_EQ(table.front().langId, 0x0000);
  EXPECT_EQ(table[1].langId, 0x0400);
  EXPECT_EQ(table[57].langId, 0x040C);
  EXPECT_EQ(table[65].langId, 0x0407);
  EXPECT_EQ(table[113].langId, 0x0C0A);
  EXPECT_EQ(table.back().langId, 0x0843);
  std::set<uint16_t> ids;
  for (const TProbeLanguage& p : table) {
    EXPECT_TRUE(ids.insert(p.langId).second) << std::hex << p.langId;
    // Every locale of the table leads back to its own language.
    if (*p.locale) {
      EXPECT_EQ(LangIdFromLocale(p.locale), p.langId) << p.locale;
    }
  }

  EXPECT_EQ(LangIdFromLocale("fr_CA.UTF-8"), 0x0C0C);
  EXPECT_EQ(LangIdFromLocale("fr_SN.UTF-8"), 0x040C) << "an unknown country: the language's own";
  EXPECT_EQ(LangIdFromLocale("fr"), 0x040C);
  EXPECT_EQ(LangIdFromLocale("de"), 0x0407);
  EXPECT_EQ(LangIdFromLocale("es"), 0x0C0A);
  EXPECT_EQ(LangIdFromLocale("en"), 0x0409);
  EXPECT_EQ(LangIdFromLocale("sr_RS.UTF-8@latin"), 0x081A);
  EXPECT_EQ(LangIdFromLocale("no_NO"), 0x0414);
  EXPECT_EQ(LangIdFromLocale("C"), 0x0409);
  EXPECT_EQ(LangIdFromLocale("C.UTF-8"), 0x0409);
  EXPECT_EQ(LangIdFromLocale("xx_YY"), 0);
  EXPECT_EQ(LangIdFromLocale(""), 0);
}

TEST_F(LangList, ScanListsProbedLanguagesAndTheirVariantsInOrder) {
  Write("SDM_0000040C.SPK", 0x040C, "Français", "Slidomat FR");
  Write("SDM_0002040C.SPK", 0x040C, "Français 2", "x");                     // no variant 1 before it
  WriteBytes(Lang("SDM_00000407.SPK"), Store("Xol LANGUAGE FILX", 6, {}));  // wrong signature
  Write("SDM_00010407.SPK", 0x0407, "Deutsch", "Slidomat DE");
  Write("SDM_00001234.SPK", 0x1234, "Unknown", "x");  // not a probed language
  // Revision 0: no version in the display string.
  TLangFileBytes old;
  old.records.push_back(Record(0, {0x0A, 0x0C}));
  old.Text(1, "Español");
  old.Text(2, "Idioma");
  old.Text(3, "Spanish");
  WriteBytes(Lang("SDM_00000C0A.SPK"), old.Bytes());
  // Five records: listed, though it can never be applied.
  TLangFileBytes five = TLangFileBytes::Header(4, 0x0409, "English", "Language", "US");
  five.records.resize(5);
  WriteBytes(Lang("SDM_00000409.SPK"), five.Bytes());

  ASSERT_TRUE(list.ScanLanguages());
  EXPECT_EQ(Ids(list), (std::vector<uint32_t>{0x0409, 0x040C, 0x10407, 0x0C0A}));
  EXPECT_EQ(list.DisplayString(1), "Français [1.2.3.4] - suffix");
  EXPECT_EQ(list.DisplayString(3), "Español - Spanish");
  EXPECT_EQ(list.FileOf(2), Lang("SDM_00010407.SPK"));
  EXPECT_EQ(list.LanguageId(4), 0u);
  EXPECT_EQ(list.LanguageId(-1), 0u);

  // The five-record file is chosen but nothing is applied or announced.
  list.SetLanguageIndex(0);
  EXPECT_EQ(list.LanguageIndex(), 0);
  EXPECT_FALSE(list.LanguageLoaded());
  EXPECT_EQ(afterCalls, 0);
  EXPECT_EQ(list.CurrentHeaderName(), "");
  EXPECT_EQ(GetSettingDWord("langue"), 0x0409u) << "the choice is remembered all the same";

  list.SetLanguageIndex(2);
  EXPECT_EQ(prog.main->strings[P::Caption], "Slidomat DE");
  EXPECT_EQ(afterCalls, 1);
  EXPECT_EQ(list.CurrentHeaderName(), "Deutsch header");
  EXPECT_EQ(GetSettingDWord("langue"), 0x10407u);

  list.SetLanguageIndex(7);  // out of range: nothing
  EXPECT_EQ(list.LanguageIndex(), 2);

  TempDir empty;
  list.SetProgramFolder(empty.path().string());
  EXPECT_FALSE(list.ScanLanguages());
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(LangList, SwitchingAsksFirstAndAppliesAgainOnTheSameChoice) {
  Write("SDM_0000040C.SPK", 0x040C, "Français", "Slidomat FR");
  Write("SDM_00000407.SPK", 0x0407, "Deutsch", "Slidomat DE");
  list.ScanLanguages();
  std::vector<std::pair<int32_t, int32_t>> asked;
  bool allow = false;
  list.BeforeLanguageSwitch = [&](TLangList&, int32_t oldCode, int32_t newCode, bool& canChange) {
    asked.emplace_back(oldCode, newCode);
    canChange = allow;
  };
  list.SetLanguageIndex(0);
  EXPECT_EQ(list.LanguageIndex(), -1);
  EXPECT_FALSE(GetSettingDWord("langue").has_value()) << "a refused switch stores nothing";
  EXPECT_EQ(prog.main->strings[P::Caption], "Slidomat");
  allow = true;
  list.SetLanguageIndex(1);
  list.SetLanguageIndex(0);
  prog.main->strings[P::Caption] = "changed meanwhile";
  list.SetLanguageIndex(0);
  EXPECT_EQ(asked,
            (std::vector<std::pair<int32_t, int32_t>>{{0, 0x040C}, {0, 0x0407}, {0x0407, 0x040C}, {0x040C, 0x040C}}));
  EXPECT_EQ(prog.main->strings[P::Caption], "Slidomat FR");
  EXPECT_EQ(afterCalls, 3);

  // Without Autoload the choice is applied but not remembered.
  list.Autoload = false;
  list.SetLanguageIndex(1);
  EXPECT_EQ(GetSettingDWord("langue"), 0x040Cu);

  // A newer revision: the choice is stored, the error reaches the caller,
  // and no language counts as loaded.
  list.Autoload = true;
  TBytes newer = ReadBytes(Lang("SDM_00000407.SPK"));
  newer[17 + 4 + 8 + 2] = 5;  // revision in the high half of record 0
  WriteBytes(Lang("SDM_00000407.SPK"), newer);
  EXPECT_THROW(list.SetLanguageIndex(1), EError);
  EXPECT_EQ(GetSettingDWord("langue"), 0x0407u);
  EXPECT_FALSE(list.LanguageLoaded());
  EXPECT_EQ(list.CurrentHeaderName(), "");
}

TEST_F(LangList, RestoreFindsTheStoredLanguageOrNothing) {
  Write("SDM_0000040C.SPK", 0x040C, "Français", "Slidomat FR");
  Write("SDM_00000C0A.SPK", 0x0C0A, "Español", "Slidomat ES");
  list.ScanLanguages();

  // Variant 1 of French is gone: its language's main file is chosen.
  ASSERT_TRUE(SetSettingDWord("langue", 0x0001040C));
  list.RestoreLanguage();
  EXPECT_EQ(list.LanguageIndex(), 0);
  EXPECT_EQ(prog.main->strings[P::Caption], "Slidomat FR");

  // A stored German choice without a German file selects nothing, even
  // though the user's own language has a file.
  TLangList other;
  other.SetProgramFolder(dir.file("prog"));
  other.FilePrefix = "SDM_";
  other.RegKey = list.RegKey;
  other.ScanLanguages();
  SetSettingDWord("langue", 0x0407);
  setenv("LC_ALL", "es_ES.UTF-8", 1);
  other.RestoreLanguage();
  EXPECT_EQ(other.LanguageIndex(), -1);

  // Nothing stored: the user's language, LC_ALL before LC_MESSAGES before
  // LANG, matched by its primary language (Mexican Spanish -> Spain's file).
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kProductKey, false));
  reg.DeleteValue("langue");
  unsetenv("LC_ALL");
  setenv("LC_MESSAGES", "es_MX.UTF-8", 1);
  setenv("LANG", "fr_FR.UTF-8", 1);
  other.RestoreLanguage();
  EXPECT_EQ(other.LanguageId(other.LanguageIndex()), 0x0C0Au);
  // The language taken from the locale is remembered like a choice made in
  // Settings: a later start under another locale keeps it.
  EXPECT_EQ(GetSettingDWord("langue"), 0x0C0Au);
  setenv("LC_MESSAGES", "fr_FR.UTF-8", 1);
  TLangList later;
  later.SetProgramFolder(dir.file("prog"));
  later.FilePrefix = "SDM_";
  later.RegKey = list.RegKey;
  later.ScanLanguages();
  later.RestoreLanguage();
  EXPECT_EQ(later.LanguageId(later.LanguageIndex()), 0x0C0Au);
  // A locale without a shipped language selects nothing and remembers
  // nothing, so the next start looks at the locale again.
  reg.DeleteValue("langue");
  setenv("LC_MESSAGES", "it_IT.UTF-8", 1);
  TLangList italian;
  italian.SetProgramFolder(dir.file("prog"));
  italian.FilePrefix = "SDM_";
  italian.RegKey = list.RegKey;
  italian.ScanLanguages();
  italian.RestoreLanguage();
  EXPECT_EQ(italian.LanguageIndex(), -1);
  EXPECT_FALSE(GetSettingDWord("langue").has_value());
  EXPECT_TRUE(other.SelectLanguageId(0x080C)) << "Belgian French: the primary language matches";
  EXPECT_EQ(other.LanguageIndex(), 0);
  EXPECT_FALSE(other.SelectLanguageId(0x0410));

  // Without a key the list neither reads nor selects.
  TLangList keyless;
  keyless.SetProgramFolder(dir.file("prog"));
  keyless.FilePrefix = "SDM_";
  keyless.RegKey = "";
  keyless.ScanLanguages();
  keyless.RestoreLanguage();
  EXPECT_EQ(keyless.LanguageIndex(), -1);
}

TEST_F(LangList, FlagsComeFromListedFilesAndNoFileIsEverCreated) {
  const TBytes frFlag = Str("BM french flag"), deFlag = Str("BM german flag");
  Write("SDM_0000040C.SPK", 0x040C, "Français", "x", frFlag);
  WriteBytes(Lang("SDM_00000407.SPK"), Store("not a language file", 0, {}));
  Write("SDM_00010407.SPK", 0x0407, "Deutsch", "x", deFlag);
  list.ScanLanguages();
  ASSERT_EQ(list.Count(), 2);

  std::vector<uint8_t> bmp{1};
  EXPECT_TRUE(list.LoadFlag(0x040C, bmp));
  EXPECT_EQ(bmp, frFlag);
  // German is listed only through its variant 1: that file has the flag.
  EXPECT_TRUE(list.LoadFlag(0x0407, bmp));
  EXPECT_EQ(bmp, deFlag);
  fs::remove(Lang("SDM_00000407.SPK"));
  EXPECT_TRUE(list.LoadFlag(0x0407, bmp));
  EXPECT_FALSE(fs::exists(Lang("SDM_00000407.SPK")));

  // An unlisted language has no flag, and asking leaves no empty file behind.
  EXPECT_FALSE(list.LoadFlag(0x0410, bmp));
  EXPECT_TRUE(bmp.empty());
  EXPECT_FALSE(fs::exists(Lang("SDM_00000410.SPK")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("prog")), fs::directory_iterator()), 2);
}

TEST_F(LangList, FirstActivationWritesTheSourceFileOnlyWhenAsked) {
  Write("SDM_0000040C.SPK", 0x040C, "Français", "Slidomat FR");
  SetSettingDWord("langue", 0x040C);
  std::vector<std::pair<int, int>> beeps;
  list.OnBeep = [&](int hz, int ms) { beeps.emplace_back(hz, ms); };

  list.OnFirstActivate({"/common/pictures/a.jpg", "x.sdm"});
  EXPECT_TRUE(list.FirstActivationDone());
  EXPECT_FALSE(fs::exists(Lang("SDM_ORIGINAL.SPK")));
  EXPECT_TRUE(beeps.empty());
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(prog.main->strings[P::Caption], "Slidomat FR") << "the remembered language is restored";

  for (const std::string arg : {"-co", "-CO", "/co", "/Co", "-compile"})
    EXPECT_TRUE(IsSourceLanguageSwitch(arg)) << arg;
  for (const std::string arg : {"co", "", "--co", "/common/pictures", "x-co"})
    EXPECT_FALSE(IsSourceLanguageSwitch(arg)) << arg;

  TFakeProgram english;
  english.main->font.charset = 0;
  TLangList fresh;
  fresh.SetProgramFolder(dir.file("prog"));
  fresh.FilePrefix = "SDM_";
  fresh.RegKey = list.RegKey;
  fresh.SetRoot(english.root);
  fresh.OnBeep = list.OnBeep;
  fresh.OnFirstActivate({"x.sdm", "/CO", "-co"});
  EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{4000, 100}}));
  fresh.OnFirstActivate({"/CO"});
  EXPECT_EQ(beeps.size(), 1u) << "once per run";
  EXPECT_EQ(english.main->strings[P::Caption], "Slidomat FR");

  // The file of the program's own texts, read back with the language record.
  ASSERT_TRUE(fs::exists(Lang("SDM_ORIGINAL.SPK")));
  TLanguageRecord src(4, nullptr);
  TStorefile store;
  store.SetSignature(kLanguageSignature);
  store.SetFilename(Lang("SDM_ORIGINAL.SPK"));
  store.SetReadOnly(true);
  ASSERT_TRUE(store.OpenExisting());
  src.ReadHeader(store);
  EXPECT_EQ(src.Revision, 4);
  EXPECT_EQ(src.LangId, 0);
  EXPECT_EQ(src.MinFontSize, 8);
  EXPECT_EQ(src.FontName, "MS Sans Serif");
  EXPECT_EQ(src.Charset, 0);
  EXPECT_EQ(src.ProgramVersion, PackVersion(ProgramVersionText()));
  std::vector<std::string> paths;
  TLangEntry e;
  while (TLanguageRecord::ReadEntry(store, 4, e)) paths.push_back(e.path);
  // Taken from the tree before the restore translated it.
  EXPECT_EQ(paths, (std::vector<std::string>{"MainDlg", "MainDlg.go_btn", "MainDlg.res_lst", "MainDlg.codecs_cmb",
                                             "MainDlg.notes_mem", "subtitle_lbl", "ReorderDlg", "ReorderDlg.lst"}));
  EXPECT_EQ(store.RecordCount(), 14 + 5 * 8);
}

TEST_F(LangList, LanguageFolderOfACopyAndOfAnInstalledProgram) {
  EXPECT_EQ(list.GetLanguageFolder(), dir.file("prog") + "/");
  list.SubDir = "lang";
  fs::create_directories(dir.file("prog/system/lang"));
  EXPECT_EQ(list.GetLanguageFolder(), dir.file("prog/system/lang") + "/");
  fs::create_directories(dir.file("prog/lang"));
  EXPECT_EQ(list.GetLanguageFolder(), dir.file("prog/lang") + "/");
  list.SubDir = "elsewhere";
  EXPECT_EQ(list.GetLanguageFolder(), fs::current_path().string() + "/elsewhere/");

  list.SubDir = "";
  fs::create_directories(dir.file("usr/bin"));
  list.SetProgramFolder(dir.file("usr/bin"));
  EXPECT_EQ(list.GetLanguageFolder(), dir.file("usr/bin") + "/");
  fs::create_directories(dir.file("usr/share/slidomat"));
  EXPECT_EQ(list.GetLanguageFolder(), dir.file("usr/share/slidomat") + "/");
  EXPECT_EQ(list.SourceLanguageFileName(), dir.file("usr/share/slidomat/SDM_ORIGINAL.SPK"));
}
