#include "localization/LanguageRecord.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "localization/FakeComponents.h"
#include "localization/StoreBytes.h"
#include "localization/TextStorage.h"
#include "support/Errors.h"
#include "support/UserInteraction.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;
using P = TLangProp;
using Lines = std::vector<std::string>;

namespace {

class LanguageRecord : public ::testing::Test {
protected:
  bool Apply(const TLangFileBytes& f) {
    WriteBytes(file, f.Bytes());
    TLanguageRecord rec(4, prog.root);
    const bool ok = rec.LoadAndApply(file);
    loaded = rec;
    return ok;
  }
  TempDir dir;
  std::string file = dir.file("SDM_0000040C.SPK");
  TFakeProgram prog;
  TLanguageRecord loaded;
};

struct TCaptured : IUserInteraction {
  std::vector<std::string> shown;
  int MessageBox(const std::string&, const std::string& text, int, int) override {
    shown.push_back(text);
    return mrOk;
  }
};

std::vector<std::string> Paths(const TPathList& list) {
  std::vector<std::string> p;
  for (const auto& e : list) p.push_back(e.first);
  return p;
}

}  // namespace

TEST_F(LanguageRecord, PathsJoinNamesAndSkipExcludedOnes) {
  TPathList list;
  TLanguageRecord::CollectComponents("", list, {}, prog.root);
  // A nameless component adds nothing and its components start afresh.
  EXPECT_EQ(Paths(list),
            (Lines{"MainDlg", "MainDlg.go_btn", "MainDlg.res_lst", "MainDlg.codecs_cmb", "MainDlg.sound_txt",
                   "MainDlg.notes_mem", "subtitle_lbl", "ReorderDlg", "ReorderDlg.lst"}));
  EXPECT_EQ(list[1].second.get(), prog.go.get());

  list.clear();
  // By bare name or by path, without regard to case; a window excluded by
  // name still lends its name to its components.
  TLanguageRecord::CollectComponents("", list, {"CODECS_CMB", "reorderdlg.LST", "MainDlg"}, prog.root);
  EXPECT_EQ(Paths(list), (Lines{"MainDlg.go_btn", "MainDlg.res_lst", "MainDlg.sound_txt", "MainDlg.notes_mem",
                                "subtitle_lbl", "ReorderDlg"}));
}

TEST_F(LanguageRecord, AppliesOnlyTranslatedTextsAndKeepsSelections) {
  TLangFileBytes f = TLangFileBytes::Header(4, 0x040C, "Français", "Choix de la langue", "French", 0x01000000);
  // Tag 1 is the English text of a source file: left alone.
  f.Entry(4, "MainDlg.go_btn", 0x01, "Allez", 0x22, "Lancer", 0, "", 2);
  f.Entry(4, "MainDlg", 0x21, "Slidomat FR");
  // Three lines for two items: both change, the third is dropped.
  f.Entry(4, "MainDlg.res_lst", 0, "", 0x32, "Taille", 0x23, "petit\r\nmoyen\r\ngrand\r\n");
  f.Entry(4, "Nowhere.ghost", 0x21, "x", 0x22, "y", 0x23, "z");  // not in the program: skipped whole
  f.Entry(4, "MainDlg.codecs_cmb", 0x21, "texte", 0, "", 0x23, "un\r\ndeux");
  f.Entry(4, "MainDlg.sound_txt", 0xA0000021, "negative flag word");
  f.Entry(4, "MainDlg.notes_mem", 0, "", 0, "", 0x23, "premier");
  f.Entry(4, "subtitle_lbl", 0x21, "Des films");
  ASSERT_TRUE(Apply(f));

  EXPECT_EQ(prog.go->strings[P::Caption], "Go !");
  EXPECT_EQ(prog.go->strings[P::Hint], "Lancer");
  EXPECT_EQ(prog.go->ints[P::ShowHint], 0);
  EXPECT_EQ(prog.go->ints[P::Alignment], 0);
  EXPECT_EQ(prog.go->ints[P::Layout], 1);
  EXPECT_EQ(prog.main->strings[P::Caption], "Slidomat FR");
  EXPECT_EQ(prog.list->lines[P::Items], (Lines{"petit", "moyen"}));
  EXPECT_EQ(prog.list->ints[P::ItemIndex], 1) << "the selection survives the new item texts";
  EXPECT_EQ(prog.list->strings[P::Hint], "Taille");
  EXPECT_EQ(prog.combo->strings[P::Text], "texte") << "no Caption: the Text takes it";
  EXPECT_EQ(prog.combo->lines[P::Items], (Lines{"un", "deux", "DIB "}));
  EXPECT_EQ(prog.combo->ints[P::ItemIndex], 2);
  EXPECT_EQ(prog.edit->written.count(P::Text), 0u);
  EXPECT_EQ(prog.memo->lines[P::Lines], (Lines{"premier", "second"}));
  EXPECT_EQ(prog.label->strings[P::Caption], "Des films");

  // Fonts following the main window's face take the language's face; every
  // font gets its character set and at least its minimum size.
  EXPECT_EQ(prog.main->font.name, "Arial");
  EXPECT_EQ(prog.main->font.charset, 238);
  EXPECT_EQ(prog.main->font.size, 9);
  EXPECT_EQ(prog.go->font.name, "Arial");
  EXPECT_EQ(prog.go->font.size, 10);
  EXPECT_EQ(prog.combo->font.name, "Tahoma");
  EXPECT_EQ(prog.combo->font.charset, 238);
  EXPECT_EQ(prog.combo->font.size, 9);
  EXPECT_EQ(prog.root->systemCharset, 238);
  EXPECT_EQ(prog.root->font.charset, 1) << "the application itself is not a listed component";

  EXPECT_EQ(loaded.LangId, 0x040C);
  EXPECT_EQ(loaded.Revision, 4);
  EXPECT_EQ(loaded.HeaderName, "Choix de la langue");
  EXPECT_EQ(loaded.Notes, (Lines{"note one", "note two"}));
  EXPECT_EQ(loaded.ProgramVersion, 0x01000000u);
  EXPECT_EQ(loaded.MinFontSize, 9);

  // A second language changes what it flags and nothing else.
  TLangFileBytes g = TLangFileBytes::Header(4, 0x0407, "Deutsch", "Sprache", "German");
  g.Entry(4, "MainDlg", 0x01, "Slidomat DE");
  g.Entry(4, "MainDlg.go_btn", 0x21, "Los !");
  ASSERT_TRUE(Apply(g));
  EXPECT_EQ(prog.main->strings[P::Caption], "Slidomat FR");
  EXPECT_EQ(prog.go->strings[P::Caption], "Los !");
  EXPECT_EQ(prog.go->strings[P::Hint], "Lancer");
}

TEST_F(LanguageRecord, OlderRevisionsAreReadByTheirOwnLayout) {
  // The same entry in revisions 1 to 3: a misplaced header or entry record
  // would shift every text that follows.
  for (int rev = 1; rev <= 3; ++rev) {
    SCOPED_TRACE(rev);
    prog = TFakeProgram();
    TFakeProgram& p = prog;
    TLangFileBytes f = TLangFileBytes::Header(rev, 0x0C0A, "Español", "Idioma", "Spanish", 0, "Verdana", 0x1A3);
    f.Entry(rev, "MainDlg.go_btn", 0x21, "Vamos", 0x32, "Empezar", 0, "", 1);
    f.Entry(rev, "MainDlg.res_lst", 0, "", 0, "", 0x23, "a\r\nb");
    ASSERT_TRUE(Apply(f));
    EXPECT_EQ(p.go->strings[P::Caption], "Vamos");
    EXPECT_EQ(p.go->strings[P::Hint], "Empezar");
    EXPECT_EQ(p.go->ints[P::ShowHint], 1);
    EXPECT_EQ(p.list->lines[P::Items], (Lines{"a", "b"}));
    // Alignment records exist from revision 3 on; a minimum size only in 4.
    EXPECT_EQ(p.go->written.count(P::Alignment), rev == 3 ? 1u : 0u);
    EXPECT_EQ(p.combo->font.size, 6);
    EXPECT_EQ(p.main->font.name, "Verdana");
    EXPECT_EQ(p.main->font.charset, 0xA3) << "only the low byte of the character set counts";
  }
}

TEST_F(LanguageRecord, RevisionZeroFilesApplyNonEmptyTextsByKind) {
  TLangFileBytes f;
  f.records.push_back(Record(0, {0x07, 0x04}));  // a LANGID alone
  for (uint32_t t = 1; t <= 4; ++t) f.Text(t, "x");
  f.records.push_back(Record(5, {}));
  f.Text(6, "MainDlg.go_btn");
  f.Text(0, "Los");
  f.Text(0, "");  // an empty hint is not applied
  f.Text(11, "MainDlg.res_lst");
  f.Text(0, "");
  f.Text(0, "Auflösung");
  f.Text(0, "klein\r\nmittel\r\ngroß");
  f.Text(12, "MainDlg.codecs_cmb");
  f.Text(0, "kept aside");     // kind 12: consumed, not applied
  f.Text(99, "unknown kind");  // ignored; the next record is a path again
  f.Text(13, "MainDlg");
  f.Text(0, "Menü");
  f.Text(0, "");
  f.Text(6, "subtitle_lbl");  // two levels down in a nameless panel: not listed
  f.Text(0, "nie");
  f.Text(0, "");
  f.Text(7, "ReorderDlg");
  f.Text(0, "Ordnen");
  f.Text(0, "");
  ASSERT_TRUE(Apply(f));
  EXPECT_EQ(loaded.LangId, 0x0407);
  EXPECT_EQ(loaded.Revision, 0);
  EXPECT_EQ(prog.go->strings[P::Caption], "Los");
  EXPECT_EQ(prog.go->written.count(P::Hint), 0u);
  EXPECT_EQ(prog.list->strings[P::Hint], "Auflösung");
  EXPECT_EQ(prog.list->lines[P::Items], (Lines{"klein", "mittel"}));
  EXPECT_EQ(prog.combo->lines[P::Items], (Lines{"xvid", "MJPG", "DIB "}));
  EXPECT_EQ(prog.main->strings[P::Caption], "Menü");
  EXPECT_EQ(prog.label->strings[P::Caption], "Professional looking movies");
  EXPECT_EQ(prog.reorder->strings[P::Caption], "Ordnen");
  // Made for the default character set; faces and sizes stay.
  EXPECT_EQ(prog.main->font.charset, 1);
  EXPECT_EQ(prog.combo->font.name, "Tahoma");
  EXPECT_EQ(prog.combo->font.size, 6);
  EXPECT_EQ(prog.root->systemCharset, 1);
}

TEST_F(LanguageRecord, FilesThatCannotBeAppliedChangeNothing) {
  TLanguageRecord rec(4, prog.root);
  EXPECT_FALSE(rec.LoadAndApply(dir.file("SDM_00000407.SPK")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("SDM_00000407.SPK"))) << "a missing file is not created";

  TLangFileBytes f = TLangFileBytes::Header(4, 0x040C, "Français", "Langue", "French");
  f.Entry(4, "MainDlg", 0x21, "changed");
  TBytes wrong = f.Bytes();
  wrong[16] = 'X';
  WriteBytes(file, wrong);
  EXPECT_FALSE(rec.LoadAndApply(file));

  // Five records are not enough, whatever their content.
  TLangFileBytes five;
  five.records.assign(f.records.begin(), f.records.begin() + 5);
  EXPECT_FALSE(Apply(five));
  // Nor is a count that promises more records than the file holds.
  TLangFileBytes cut;
  cut.records.assign(f.records.begin(), f.records.begin() + 3);
  TBytes cutBytes = cut.Bytes();
  cutBytes[17] = 9;
  WriteBytes(file, cutBytes);
  EXPECT_FALSE(rec.LoadAndApply(file));

  // A newer revision than this program knows is refused with a message.
  TLangFileBytes newer = TLangFileBytes::Header(4, 0x040C, "Français", "Langue", "French");
  newer.records[0] = Record(0, Le32(5u << 16 | 0x040C));
  newer.Entry(4, "MainDlg", 0x21, "changed");
  WriteBytes(file, newer.Bytes());
  try {
    rec.LoadAndApply(file);
    FAIL() << "no error";
  } catch (const EError& e) {
    EXPECT_STREQ(e.what(), "Format not supported in this revision");
  }
  EXPECT_EQ(prog.main->strings[P::Caption], "Slidomat");
  EXPECT_EQ(prog.main->font.name, "MS Sans Serif");
  EXPECT_EQ(prog.root->systemCharset, -1);
}

TEST_F(LanguageRecord, TheTextStorageIsTranslatedLikeAList) {
  TTextStorage ts("main_ts", MainTextStorageLines());
  prog.main->AddChild(std::make_shared<TTextStorageComponent>(ts));
  TLangFileBytes f = TLangFileBytes::Header(4, 0x040C, "Français", "Langue", "French");
  // Fewer lines than the storage holds: the later messages stay English.
  f.Entry(4, "MainDlg.main_ts", 0, "", 0, "", 0x23,
          "Bande son trop courte\r\nListe d'images vide\r\nFichier introuvable :\r\n");
  ASSERT_TRUE(Apply(f));
  EXPECT_EQ(ts.Translate("empty picture list"), "Liste d'images vide");
  EXPECT_EQ(ts.Translate("Invalid output file"), "Invalid output file");
  EXPECT_EQ(ts.Items().size(), MainTextStorageLines().size());
}

TEST_F(LanguageRecord, SourceLanguageFileHoldsEveryComponentWithText) {
  prog.go->strings[P::Hint] = "Start the job";
  prog.go->ints[P::ShowHint] = 0;
  prog.edit->strings[P::Text] = "  \t";        // blank: nothing to translate
  prog.list->strings[P::Hint] = "Frame size";  // no ShowHint property: shown
  TLanguageRecord rec(4, prog.root);
  rec.LangId = 0;
  rec.ListName = "English";
  rec.Notes = {"note one", "note two"};
  rec.ProgramVersion = 0x01000000;
  rec.ImeName = "ime";
  rec.FontName = "MS Sans Serif";
  rec.Charset = 1;
  rec.ExcludedComps = {"notes_mem"};
  ASSERT_TRUE(rec.SaveSourceLanguage(file));

  TLangFileBytes want = TLangFileBytes::Header(4, 0, "English", "", "", 0x01000000, "MS Sans Serif", 1, 8);
  want.Entry(4, "MainDlg", 1, "Slidomat", 0, "", 0, "", 0, 529);
  want.Entry(4, "MainDlg.go_btn", 1, "Go !", 2, "Start the job", 0, "", 0, 530);
  want.Entry(4, "MainDlg.res_lst", 0, "", 18, "Frame size", 3, "320x240\r\n640x480\r\n", 0, 530);
  want.Entry(4, "MainDlg.codecs_cmb", 0, "", 0, "", 3, "xvid\r\nMJPG\r\nDIB \r\n", 0, 529);
  want.Entry(4, "subtitle_lbl", 1, "Professional looking movies", 0, "", 0, "", 0, 529);
  want.Entry(4, "ReorderDlg", 1, "Organize", 0, "", 0, "", 0, 529);
  want.Entry(4, "ReorderDlg.lst", 0, "", 0, "", 3, "", 0, 529);  // an empty list is still a list
  EXPECT_EQ(ReadBytes(file), want.Bytes());

  // Applied back, a source file changes no text: nothing in it is flagged
  // as translated.
  ASSERT_TRUE(Apply(TLangFileBytes{want}));
  EXPECT_EQ(prog.go->written.count(P::Caption), 0u);
  EXPECT_EQ(prog.list->lines[P::Items], (Lines{"320x240", "640x480"}));

  // A component that fails is reported and the others are still written.
  TCaptured ui;
  SetUserInteraction(&ui);
  prog.go->failOnRead = true;
  ASSERT_TRUE(rec.SaveSourceLanguage(file));
  SetUserInteraction(nullptr);
  EXPECT_EQ(ui.shown, Lines{"Exception cannot read go_btn - component No 1"});
  TStorefile s;
  s.SetSignature(kLanguageSignature);
  s.SetFilename(file);
  ASSERT_TRUE(s.OpenExisting());
  EXPECT_EQ(s.RecordCount(), int32_t(want.records.size()) - 5);
}
