#include "localization/LangSource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "localization/FakeComponents.h"
#include "localization/LanguageList.h"
#include "localization/StoreBytes.h"
#include "localization/TextStorage.h"
#include "support/Errors.h"
#include "support/VersionInfo.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

std::string ErrorOf(const std::string& text) {
  try {
    ParseLangSource(text, "x.txt");
  } catch (const EError& e) {
    return e.what();
  }
  return "no error";
}

// path.Property -> text of every line of a source, in file order.
std::vector<std::pair<std::string, std::string>> Lines(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  const TLangSource s = ParseLangSource(text, "source");
  for (const TLangEntry& e : s.entries) {
    if (e.caption.Translated()) out.emplace_back(e.path + ".Caption", e.caption.text);
    const auto items = SplitLines(e.items.text);
    for (size_t i = 0; i < items.size(); ++i) out.emplace_back(e.path + ".Items[" + std::to_string(i) + "]", items[i]);
  }
  return out;
}

const std::string kHead = "LangId=040C\nListName=Français\nHeaderName=Langue\nListSuffix=French\n";

}  // namespace

TEST(LangSource, CompilesToTheRecordsOfALanguageFile) {
  const std::string text = kHead +
                           "Notes=made by hand\nNotes2=second line\nProgramVersion=1.2.3.4\nFontName=Arial\n"
                           "Charset=238\nMinFontSize=9\n"
                           "# a comment\n"
                           "MainDlg.Caption=Slidomat\n"
                           "MainDlg.go_btn.Hint=Démarrer \\\\ maintenant\\n\n"
                           "MainDlg.go_btn.ShowHint=0\n"
                           "MainDlg.go_btn.Alignment=2\n"
                           "MainDlg.go_btn.Caption=Lancer !\r\n"
                           "ReorderDlg.txt_lbl.Caption=Texte : \n"
                           "MainDlg.main_ts.Items[1]=deux\n"
                           "MainDlg.main_ts.Items[0]=un\n";
  TLangSource src = ParseLangSource(text, "fr.txt");
  src.header.Flag = Str("BM flag");
  TempDir dir;
  WriteLanguageFile(src, dir.file("SDM_0000040C.SPK"));

  TLangFileBytes want = TLangFileBytes::Header(4, 0x040C, "Français", "Langue", "French", PackVersion("1.2.3.4"),
                                               "Arial", 238, 9, Str("BM flag"));
  want.records[4] = Record(4, Str("made by hand\r\nsecond line\r\n"));
  want.records[10] = Record(513, {});  // no ImeName line
  want.Entry(4, "MainDlg", 0x21, "Slidomat", 0, "", 0, "", 0, 529);
  want.Entry(4, "MainDlg.go_btn", 0x21, "Lancer !", 0x22, "Démarrer \\ maintenant\n", 0, "", 2, 530);
  want.Entry(4, "ReorderDlg.txt_lbl", 0x21, "Texte : ", 0, "", 0, "", 0, 529);
  want.Entry(4, "MainDlg.main_ts", 0, "", 0, "", 0x23, "un\r\ndeux\r\n", 0, 529);
  EXPECT_EQ(ReadBytes(dir.file("SDM_0000040C.SPK")), want.Bytes());

  // Back to text and compiled again: the same file.
  TLangSource back = ReadLanguageFile(dir.file("SDM_0000040C.SPK"));
  back.flagFile = "flag.bmp";
  const std::string again = FormatLangSource(back);
  EXPECT_NE(again.find("MainDlg.go_btn.Hint=Démarrer \\\\ maintenant\\n\nMainDlg.go_btn.ShowHint=0\n"),
            std::string::npos)
      << again;
  TLangSource reparsed = ParseLangSource(again, "again.txt");
  EXPECT_EQ(reparsed.flagFile, "flag.bmp");
  reparsed.header.Flag = Str("BM flag");
  WriteLanguageFile(reparsed, dir.file("again.SPK"));
  EXPECT_EQ(ReadBytes(dir.file("again.SPK")), want.Bytes());
}

TEST(LangSource, TextsNotYetTranslatedBecomeLinesTheCompilerSkips) {
  // What the -co switch writes: every text flagged as the program's own.
  TLangFileBytes original = TLangFileBytes::Header(4, 0, "", "", "");
  original.Entry(4, "MainDlg.go_btn", 1, "Go !", 18, "Start", 0, "", 0, 530);
  original.Entry(4, "MainDlg.res_cmb", 0, "", 0, "", 3, "320x240\r\n640x480\r\n", 0, 529);
  TempDir dir;
  WriteBytes(dir.file("SDM_ORIGINAL.SPK"), original.Bytes());
  const std::string text = FormatLangSource(ReadLanguageFile(dir.file("SDM_ORIGINAL.SPK")));
  EXPECT_NE(text.find("#~MainDlg.go_btn.Caption=Go !\n#~MainDlg.go_btn.Hint=Start\n"), std::string::npos) << text;
  EXPECT_NE(text.find("#~MainDlg.res_cmb.Items[1]=640x480\n"), std::string::npos) << text;
  // Compiled as it stands, nothing is translated: a list filled at run time
  // (codecs, sizes) is never overwritten by a translator's machine's items.
  EXPECT_TRUE(ParseLangSource(text, "t").entries.empty());
}

TEST(LangSource, MistakesAreReportedWithTheirLine) {
  EXPECT_EQ(ErrorOf("ListName=x\n"), "x.txt: no LangId line");
  EXPECT_EQ(ErrorOf(kHead + "MainDlg.go_btn.Captoin=Go\n"),
            "x.txt:5: unknown property Captoin (Caption, Hint, ShowHint, Alignment or Items[n])");
  EXPECT_EQ(ErrorOf(kHead + "MainDlg.Caption=a\nMainDlg.Caption=b\n"), "x.txt:6: MainDlg.Caption is given twice");
  EXPECT_EQ(ErrorOf(kHead + "\nA.main_ts.Items[0]=a\nA.main_ts.Items[2]=c\n"),
            "x.txt:6: A.main_ts.Items[2] without Items[1]");
  EXPECT_EQ(ErrorOf(kHead + "A.b.ShowHint=1\n"), "x.txt:5: A.b.ShowHint without a Hint");
  EXPECT_EQ(ErrorOf(kHead + "A.b.Caption=50\\%\n"), "x.txt:5: unknown escape \\%");
  EXPECT_EQ(ErrorOf(kHead + "Charset=300\n"), "x.txt:5: \"300\" is not a number from 0 to 255");
  EXPECT_EQ(ErrorOf(kHead + "just words\n"), "x.txt:5: expected NAME=TEXT");
  EXPECT_EQ(ErrorOf(kHead + "Fontname=Arial\n"), "x.txt:5: unknown header value Fontname");
}

TEST(ShippedTranslations, CoverEveryTextOfTheEnglishFile) {
  const auto english = Lines(ReadText(SourcePath("data/lang/english.txt")));
  std::map<std::string, std::string> englishText(english.begin(), english.end());
  std::vector<std::string> mainTs;
  for (const auto& [key, text] : english)
    if (key.rfind("MainDlg.main_ts.", 0) == 0) mainTs.push_back(text);
  EXPECT_EQ(mainTs, MainTextStorageLines());

  // Texts a language may share with English; any other unchanged line is
  // one the translator missed.
  const std::map<std::string, std::set<std::string>> same = {
      {"french",
       {"MainDlg.photo_grp.Caption", "MainDlg.codecs_grp.Caption", "MainDlg.options_grp.Caption",
        "MainDlg.exp_btn.Caption", "ProcessSuccessDlg.dvd_btn.Caption", "SettingsDlg.ok_btn.Caption",
        "MainDlg.main_ts.Items[35]", "MainDlg.main_ts.Items[38]", "MainDlg.main_ts.Items[39]",
        "MainDlg.main_ts.Items[45]", "AboutDlg.ok_btn.Caption", "ReorderDlg.lst.Items[0]", "ReorderDlg.lst.Items[2]",
        "CodecConfigDlg.ok_btn.Caption", "CodecAboutDlg.ok_btn.Caption"}},
      {"german",
       {"MainDlg.codecs_grp.Caption", "MainDlg.Sepia1.Caption", "ProcessSuccessDlg.dvd_btn.Caption",
        "SettingsDlg.ok_btn.Caption", "MainDlg.main_ts.Items[39]", "MainDlg.main_ts.Items[45]",
        "MainDlg.main_ts.Items[46]", "AboutDlg.ok_btn.Caption", "ReorderDlg.lst.Items[0]", "ReorderDlg.lst.Items[1]",
        "CodecConfigDlg.ok_btn.Caption", "CodecAboutDlg.ok_btn.Caption"}},
      {"spanish",
       {"MainDlg.Sepia1.Caption", "ProcessSuccessDlg.dvd_btn.Caption", "MainDlg.main_ts.Items[37]",
        "ReorderDlg.lst.Items[0]"}},
  };
  for (const auto& [language, allowed] : same) {
    SCOPED_TRACE(language);
    const auto lines = Lines(ReadText(SourcePath("data/lang/" + language + ".txt")));
    std::vector<std::string> keys, englishKeys;
    std::set<std::string> unchanged;
    for (const auto& [key, text] : lines) {
      keys.push_back(key);
      if (text == englishText[key]) unchanged.insert(key);
      // Spaces at either end only where the English has them.
      const std::string& en = englishText[key];
      ASSERT_FALSE(text.empty() || en.empty()) << key;
      EXPECT_EQ(text.front() == ' ' || text.back() == ' ', en.front() == ' ' || en.back() == ' ') << key;
    }
    for (const auto& [key, text] : english) englishKeys.push_back(key);
    EXPECT_EQ(keys, englishKeys) << "the same lines in the same order";
    EXPECT_EQ(unchanged, allowed);
  }
}

TEST(ShippedTranslations, BuiltFilesAreListedAndAppliedFromTheProgramFolder) {
  TLangList list;
  list.SetProgramFolder(SDM_BINARY_DIR);
  list.FilePrefix = "SDM_";
  list.RegKey = "";
  auto prog = std::make_shared<TFakeProgram>();
  TTextStorage ts("main_ts", MainTextStorageLines());
  prog->main->AddChild(std::make_shared<TTextStorageComponent>(ts));
  list.SetRoot(prog->root);
  ASSERT_TRUE(list.ScanLanguages());
  ASSERT_EQ(list.Count(), 4);
  const std::string version = " [" + ProgramVersionText() + "] - ";
  EXPECT_EQ(list.DisplayString(0), "English" + version + "English");
  EXPECT_EQ(list.DisplayString(1), "Français" + version + "French");
  EXPECT_EQ(list.DisplayString(2), "Deutsch" + version + "German");
  EXPECT_EQ(list.DisplayString(3), "Español" + version + "Spanish");

  list.SetLanguageIndex(1);
  EXPECT_EQ(list.CurrentHeaderName(), "Choisissez votre langue");
  EXPECT_EQ(ts.Translate("Empty picture list"), "La liste d'images est vide");
  EXPECT_EQ(std::to_string(12) + " " + ts.Translate("pictures"), "12 images");
  list.SetLanguageIndex(3);
  EXPECT_EQ(ts.Translate("Aborted by user."), "Cancelado por el usuario.");
  list.SetLanguageIndex(0);
  EXPECT_EQ(ts.Items(), MainTextStorageLines()) << "English brings every message back";

  // The flags, decoded by ffmpeg: left, middle and right of the top and
  // middle rows.
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  const std::map<uint16_t, std::vector<int>> colours = {
      {0x040C, {0, 35, 149, 255, 255, 255, 237, 41, 57, 0, 35, 149, 255, 255, 255, 237, 41, 57}},
      {0x0407, {0, 0, 0, 0, 0, 0, 0, 0, 0, 221, 0, 0, 221, 0, 0, 221, 0, 0}},
      {0x0C0A, {170, 21, 27, 170, 21, 27, 170, 21, 27, 241, 191, 0, 241, 191, 0, 241, 191, 0}},
  };
  for (const auto& [langId, want] : colours) {
    std::vector<uint8_t> bmp;
    ASSERT_TRUE(list.LoadFlag(langId, bmp));
    WriteBytes(dir.file("flag.bmp"), bmp);
    const CommandResult r =
        RunCommand({"ffmpeg", "-v", "error", "-i", dir.file("flag.bmp"), "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 30u * 20u * 3u);
    std::vector<int> got;
    for (int y : {0, 10})
      for (int x : {0, 15, 29})
        for (int c = 0; c < 3; ++c) got.push_back(uint8_t(r.out[size_t((y * 30 + x) * 3 + c)]));
    EXPECT_EQ(got, want) << std::hex << langId;
  }
}
