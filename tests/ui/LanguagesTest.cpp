// The windows in the shipped languages: chosen before the start, chosen in
// Settings while the program runs, and back to English; the language chooser
// itself; the source-language file of "-co"; and the language files applied
// to live controls, whose selections and fonts must survive them.
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <map>
#include <set>

#include "localization/LangSource.h"
#include "localization/TextStorage.h"
#include "platform/registry/Registry.h"
#include "support/SettingsStore.h"
#include "support/U_SysUtils.h"
#include "support/VersionInfo.h"
#include "ui/AboutDlg.h"
#include "ui/BurnDlg.h"
#include "ui/CodecDlgs.h"
#include "ui/CodecLoadingDlg.h"
#include "ui/LanguageChoice.h"
#include "ui/QtLangComponents.h"
#include "ui/ThumbnailLoaderDlg.h"
#include "ui/U_ExpertDlg.h"
#include "ui/U_JumpDlg.h"
#include "ui/U_ProcessSuccess.h"
#include "ui/U_ReorderDlg.h"
#include "ui/U_SettingsDlg.h"
#include "ui/UiTestSupport.h"
#include "ui_U_SettingsDlg.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

using TTexts = std::map<std::string, std::string>;

// Every text of the live windows, keyed as the language sources write them
// ("MainDlg.go_btn.Caption", "MainDlg.main_ts.Items[3]").
TTexts LiveTexts(const TLangRootPtr& root) {
  TPathList list;
  TLanguageRecord::CollectComponents("", list, {}, root);
  TTexts texts;
  for (const auto& [path, c] : list) {
    if (c->Has(TLangProp::Caption)) texts[path + ".Caption"] = c->GetString(TLangProp::Caption);
    if (c->Has(TLangProp::Hint)) texts[path + ".Hint"] = c->GetString(TLangProp::Hint);
    const TLangProp lines = c->Has(TLangProp::Items) ? TLangProp::Items : TLangProp::Lines;
    if (!c->Has(lines)) continue;
    const std::vector<std::string> items = c->GetLines(lines);
    for (size_t i = 0; i < items.size(); ++i) texts[path + ".Items[" + std::to_string(i) + "]"] = items[i];
  }
  return texts;
}

// The texts of a language source, keyed the same way.
TTexts SourceTexts(const std::string& language) {
  const TLangSource src = ParseLangSource(ReadText(SourcePath("data/lang/" + language + ".txt")), language);
  TTexts texts;
  for (const TLangEntry& e : src.entries) {
    if (e.caption.Translated()) texts[e.path + ".Caption"] = e.caption.text;
    if (e.hint.Translated()) texts[e.path + ".Hint"] = e.hint.text;
    const std::vector<std::string> items = SplitLines(e.items.text);
    for (size_t i = 0; i < items.size(); ++i) texts[e.path + ".Items[" + std::to_string(i) + "]"] = items[i];
  }
  return texts;
}

// Texts that are names or signs in every language: the product, its maker,
// the strip's arrows, the help menu's "?".
const std::set<std::string> kNames = {"Slidomat", "Tarvenit", "<", ">", "?"};

class Languages : public WindowTest {
protected:
  // The shipped language files, beside the program as a copy run from its
  // folder has them.
  void InstallLanguages() {
    fs::create_directories(dir.file("prog"));
    for (const auto& entry : fs::directory_iterator(SDM_BINARY_DIR)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("SDM_0000", 0) == 0 && entry.path().extension() == ".SPK")
        fs::copy_file(entry.path(), dir.file("prog/" + name), fs::copy_options::overwrite_existing);
    }
  }
  // The choice the program remembers from an earlier run.
  void Remember(uint32_t id) {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("Software\\Tarvenit\\Slidomat", true));
    reg.WriteInteger("langue", id);
  }
  uint32_t Remembered() {
    TRegistry reg(HKEY_CURRENT_USER);
    if (!reg.OpenKeyReadOnly("Software\\Tarvenit\\Slidomat")) return 0;
    return reg.ReadInteger("langue").value_or(0);
  }
  TLangRootPtr Root() { return Main().langue().CurrentRecord().Root; }
  TLanguageChoice* Chooser() { return Main().Dialogs().Settings->Form()->lng; }
  int Row(uint16_t langId) {
    for (int i = 0; i < Main().langue().Count(); ++i)
      if ((Main().langue().LanguageId(i) & 0xFFFF) == langId) return i;
    return -1;
  }
  void ClickRow(int row) {
    QListWidget* list = Chooser()->List();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
  }

  // Every text a language source gives is on its component.
  void ExpectLanguage(const std::string& language) {
    SCOPED_TRACE(language);
    const TTexts live = LiveTexts(Root());
    int wrong = 0;
    for (const auto& [key, text] : SourceTexts(language)) {
      auto it = live.find(key);
      if (it == live.end() || it->second != text) {
        ADD_FAILURE() << key << " is \"" << (it == live.end() ? "<missing>" : it->second) << "\", not \"" << text
                      << "\"";
        if (++wrong == 5) return;
      }
    }
  }

  // Each window as the user sees it, filled as its command fills it: every
  // caption fits its control.
  void ExpectEveryCaptionFits(const std::string& language) {
    SCOPED_TRACE(language);
    EXPECT_EQ(CaptionsThatDoNotFit(Main()), std::vector<std::string>{}) << "MainDlg";
    const TMainDialogs& d = Main().Dialogs();
    d.Jump->Fill(6, 0);
    d.Reorder->Project = &Project();
    d.Reorder->ThumbServer = Main().ThumbServer();
    d.Reorder->StartIndex = 0;
    d.Reorder->Fill();
    d.Reorder->StartIndex = -1;
    d.Settings->Fill();
    d.About->Fill(ProgramPath());
    d.CodecConfig->Fill(mmioFOURCC('x', 'v', 'i', 'd'), "Xvid MPEG-4 Video Codec", TCompressorSettings{});
    d.CodecAbout->Fill(mmioFOURCC('D', 'I', 'B', ' '), "Uncompressed frames");
    for (QDialog* dialog :
         std::vector<QDialog*>{d.About, d.Jump, d.Reorder, d.Loader, d.Settings, d.Expert, d.ProcessSuccess,
                               d.ProcessSuccess->Brenno, d.Load, d.CodecConfig, d.CodecAbout}) {
      dialog->show();
      QCoreApplication::processEvents();
      EXPECT_EQ(CaptionsThatDoNotFit(*dialog), std::vector<std::string>{}) << dialog->objectName().toStdString();
      dialog->hide();
    }
    // The configuration of an MP4's H.264 encoder shows controls of its own.
    d.CodecConfig->FillH264(ContainerCodecEntries(TOutputKind::Mp4).front(), TH264Settings{});
    d.CodecConfig->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(CaptionsThatDoNotFit(*d.CodecConfig), std::vector<std::string>{}) << "CodecConfigDlg (H.264)";
    d.CodecConfig->hide();
  }

  // Picks a language in Settings with a click, as a user does, and closes
  // the dialog with OK.
  void ChooseInSettings(uint16_t langId, const std::function<void()>& whileOpen = {}) {
    ModalScript script;
    script.Then([&](QWidget* w) {
      ASSERT_EQ(w, Main().Dialogs().Settings);
      const int row = Row(langId);
      ASSERT_GE(row, 0);
      ClickRow(row);
      if (whileOpen) whileOpen();
      ModalScript::Click("ok_btn")(w);
    });
    Form().settings_btn->click();
    EXPECT_EQ(script.Pending(), 0);
  }
};

TEST_F(Languages, FrenchChosenBeforeTheStartIsInEveryWindowAndMessage) {
  InstallLanguages();
  Remember(0x040C);
  Start();
  ASSERT_TRUE(Main().langue().LanguageLoaded());
  ExpectLanguage("french");
  // A few as the user reads them, menus and composed texts among them.
  EXPECT_EQ(Form().go_btn->text().toStdString(), "Lancer !");
  EXPECT_EQ(Form().File1->title().toStdString(), "Fichier");
  EXPECT_EQ(Form().New1->text().toStdString(), "Nouveau");
  EXPECT_EQ(Main().Dialogs().Reorder->windowTitle().toStdString(), "Organiser");
  EXPECT_EQ(Main().Dialogs().CodecConfig->windowTitle().toStdString(), "Configuration du codec");
  EXPECT_EQ(Panel(0), "0 images");
  EXPECT_EQ(Main().windowTitle().toStdString(), "Slidomat v" + GetFileVersionString(ProgramPath()));
  EXPECT_EQ(Main().FileDialog("JSD")->nameFilters(),
            QStringList({"Vidéo AVI (*.avi)", "Vidéo MP4 (H.264) (*.mp4)", "Vidéo WebM (VP9) (*.webm)"}));
  EXPECT_EQ(Main().FileDialog("JOD")->nameFilters(),
            (QStringList{"Toutes les images (*.jpg *.jpeg *.jpe *.jfif *.bmp *.dib *.png *.gif *.webp *.tif *.tiff "
                         "*.heic *.heif *.hif *.avif)",
                         "Fichiers bitmap (*.bmp)", "Fichiers JPEG (*.jpg *.jpeg)"}));
  EXPECT_EQ(Main().FileDialog("JOD_fl")->nameFilters(), QStringList{"Projet Slidomat (*.sdm)"});
  // The chooser shows the restored language with its header indented.
  EXPECT_EQ(Chooser()->List()->currentRow(), Row(0x040C));
  EXPECT_EQ(Chooser()->Header()->text().toStdString(), "  Choisissez votre langue");

  // Messages: Go without pictures, and saving under a new name.
  ModalScript script;
  script.Then(script.Answer(QMessageBox::Ok)).Then(ModalScript::Cancel());  // then the picture picker
  Form().go_btn->click();
  const std::string project = dir.file("nouveau.sdm");
  QString title, no;
  script.Then(ModalScript::Choose({project})).Then([&](QWidget* w) {
    title = w->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(w)) no = box->button(QMessageBox::No)->text();
    script.Answer(QMessageBox::No)(w);
  });
  Form().save_btn->click();
  EXPECT_EQ(script.Pending(), 0);
  ASSERT_EQ(script.Texts.size(), 2u);
  EXPECT_EQ(script.Texts[0], "La liste d'images est vide");
  EXPECT_EQ(script.Texts[1], project + "\nCe fichier n'existe pas.\nVoulez-vous le créer ?");
  EXPECT_EQ(title.toStdString(), "Question");
  EXPECT_FALSE(fs::exists(project));
  // The buttons are Qt's, in French where Qt's translations are installed.
  if (fs::exists("/usr/share/qt6/translations/qtbase_fr.qm")) {
    EXPECT_EQ(no.toStdString(), "&Non");
  }
}

TEST_F(Languages, ChosenInSettingsEveryWindowChangesAtOnceAndEnglishComesBack) {
  InstallLanguages();
  Remember(0x0409);
  Start();
  ExpectLanguage("english");
  const TTexts english = LiveTexts(Root());

  ChooseInSettings(0x040C, [this] {
    // Applied while the dialog is still open, the header without its indent.
    EXPECT_EQ(Chooser()->Header()->text().toStdString(), "Choisissez votre langue");
    EXPECT_EQ(Main().Dialogs().Settings->windowTitle().toStdString(), "Paramètres");
    EXPECT_EQ(Form().go_btn->text().toStdString(), "Lancer !");
    EXPECT_EQ(Panel(0), "0 images");
    EXPECT_EQ(Main().FileDialog("JSD")->nameFilters(),
              QStringList({"Vidéo AVI (*.avi)", "Vidéo MP4 (H.264) (*.mp4)", "Vidéo WebM (VP9) (*.webm)"}));
  });
  EXPECT_EQ(Remembered(), 0x040Cu);
  ExpectLanguage("french");
  ExpectEveryCaptionFits("french");

  ChooseInSettings(0x0407);
  EXPECT_EQ(Remembered(), 0x0407u);
  ExpectLanguage("german");
  ExpectEveryCaptionFits("german");

  ChooseInSettings(0x0C0A);
  ExpectLanguage("spanish");
  ExpectEveryCaptionFits("spanish");
  EXPECT_EQ(main_ts().Translate("Empty picture list"), "La lista de imágenes está vacía");

  ChooseInSettings(0x0409);
  // Every text a language file sets is English again (labels the dialogs
  // compose when they open are composed anew then).
  const TTexts back = LiveTexts(Root());
  for (const auto& [key, text] : SourceTexts("english")) EXPECT_EQ(back.at(key), english.at(key)) << key;
  EXPECT_EQ(Panel(0), "0 pictures");
  ExpectEveryCaptionFits("english");

  // The choice holds at the next start.
  ChooseInSettings(0x0407);
  Stop();
  Start();
  ExpectLanguage("german");
  EXPECT_EQ(Chooser()->Header()->text().toStdString(), "  Wählen Sie Ihre Sprache");
}

TEST_F(Languages, TheChooserFollowsSwitchesFromElsewhereTakesKeysAndDrawsItsFlags) {
  InstallLanguages();
  Remember(0x0409);
  Start();
  TLanguageChoice* lng = Chooser();
  QListWidget* list = lng->List();
  ASSERT_EQ(list->count(), 4);
  EXPECT_EQ(list->item(1)->text().toStdString(), "Français [" + ProgramVersionText() + "] - French");
  int clicks = 0;
  QObject::connect(lng, &TLanguageChoice::Click, [&clicks] { ++clicks; });

  // A switch made by the program: the entry selected, the header indented.
  EXPECT_TRUE(Main().langue().SelectLanguageId(0x0407));
  EXPECT_EQ(list->currentRow(), Row(0x0407));
  EXPECT_EQ(lng->Header()->text().toStdString(), "  Wählen Sie Ihre Sprache");
  EXPECT_EQ(clicks, 0);

  // A key that moves the selection switches as a click does.
  Main().Dialogs().Settings->show();
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(list->currentRow(), Row(0x0C0A));
  EXPECT_EQ(lng->Header()->text().toStdString(), "Elija su idioma");
  EXPECT_EQ(Form().go_btn->text().toStdString(), "¡Adelante!");
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(Remembered(), 0x0C0Au);

  // Each entry is 32 pixels high; the French flag (30 x 20, blue, white and
  // red bands) of entry 1 sits at (4, Y) with Y = (32 + 64 - 28) / 2 = 34,
  // inside a one-pixel frame of RGB(255, 251, 240) from (3, 33) to (34, 54);
  // the text starts at 0 + 30 + 12.
  EXPECT_EQ(list->visualItemRect(list->item(1)), QRect(0, 32, list->viewport()->width(), 32));
  const QImage shot = list->viewport()->grab().toImage();
  const QColor frame(255, 251, 240);
  EXPECT_EQ(shot.pixelColor(3, 33), frame);
  EXPECT_EQ(shot.pixelColor(34, 54), frame);
  EXPECT_EQ(shot.pixelColor(20, 33), frame);
  EXPECT_EQ(shot.pixelColor(4, 34), QColor(0, 35, 149));
  EXPECT_EQ(shot.pixelColor(33, 53), QColor(237, 41, 57));
  EXPECT_NE(shot.pixelColor(35, 44), frame);
  int firstInk = -1;
  const QColor background = shot.pixelColor(40, 40);
  for (int x = 35; x < 80 && firstInk < 0; ++x)
    for (int y = 33; y < 63; ++y)
      if (shot.pixelColor(x, y) != background) {
        firstInk = x;
        break;
      }
  EXPECT_GE(firstInk, 42) << "the text is drawn from x = Left + W + 12";
  EXPECT_LE(firstInk, 44);
  Main().Dialogs().Settings->hide();
}

TEST_F(Languages, SourceLanguageFileHoldsEveryTextAndTheShippedFilesNameOnlyRealComponents) {
  InstallLanguages();
  Start({"/Co"});
  const std::string original = dir.file("prog/SDM_ORIGINAL.SPK");
  ASSERT_TRUE(fs::exists(original));
  const TLangSource co = ReadLanguageFile(original);
  EXPECT_EQ(co.header.Revision, 4);
  EXPECT_EQ(co.header.LangId, 0);
  EXPECT_EQ(co.header.MinFontSize, 8);
  EXPECT_EQ(co.header.FontName, "DejaVu Sans");
  EXPECT_EQ(co.header.ProgramVersion, PackVersion(GetFileVersionString(ProgramPath())));
  TTexts written;
  for (const TLangEntry& e : co.entries) {
    EXPECT_FALSE(e.caption.Translated() || e.hint.Translated() || e.items.Translated()) << e.path;
    if (!e.caption.text.empty()) written[e.path + ".Caption"] = e.caption.text;
    if (!e.hint.text.empty()) written[e.path + ".Hint"] = e.hint.text;
    const std::vector<std::string> items = SplitLines(e.items.text);
    for (size_t i = 0; i < items.size(); ++i) written[e.path + ".Items[" + std::to_string(i) + "]"] = items[i];
  }
  EXPECT_EQ(written["MainDlg.go_btn.Caption"], "Go !");
  EXPECT_EQ(written["SettingsDlg.lang_grp.Caption"], "Language");
  EXPECT_EQ(written["MainDlg.main_ts.Items[49]"], "frames");
  // Written before the start-up work, so the lists it fills are empty, and
  // the status panels, which only show what the window composes, are left out.
  EXPECT_FALSE(written.count("MainDlg.res_cmb.Items[0]"));
  EXPECT_FALSE(written.count("MainDlg.StatusBar_panel0.Caption"));

  // Every text of the program is translated in every shipped language, and
  // every line of a shipped language names a component that exists.
  const TTexts live = LiveTexts(Root());
  for (const char* language : {"english", "french", "german", "spanish"}) {
    SCOPED_TRACE(language);
    const TTexts source = SourceTexts(language);
    for (const auto& [key, text] : written)
      if (!kNames.count(text)) {
        EXPECT_TRUE(source.count(key)) << key << " (" << text << ") has no line";
      }
    for (const auto& [key, text] : source) EXPECT_TRUE(live.count(key)) << key << " names nothing";
  }
}

TEST_F(Languages, SourceLanguageFileThatCannotBeWrittenIsReportedInTheUsersLanguage) {
  InstallLanguages();
  Remember(0x040C);
  // A folder where the file should go: opening it fails even for root.
  const std::string original = dir.file("prog/SDM_ORIGINAL.SPK");
  fs::create_directories(original);
  ModalScript script;
  script.Then(script.Answer(QMessageBox::Ok));
  Start({"-co"});
  EXPECT_EQ(script.Pending(), 0);
  ASSERT_EQ(script.Texts.size(), 1u);
  EXPECT_EQ(script.Texts[0], "Impossible d'écrire le fichier : " + original);
  // The start-up went on in the remembered language.
  EXPECT_EQ(Form().go_btn->text().toStdString(), "Lancer !");
  EXPECT_TRUE(fs::is_directory(original));
}

TEST_F(Languages, LiveControlsKeepTheirSelectionAndTheirOwnFontFaces) {
  Start();
  // res_cmb holds seven sizes with "720x480" chosen; osd_chk is given a face
  // of its own.
  ASSERT_EQ(Form().res_cmb->count(), 7);
  ASSERT_EQ(Form().res_cmb->currentText().toStdString(), "720x480");
  QFont serif = Form().osd_chk->font();
  serif.setFamily("DejaVu Serif");
  Form().osd_chk->setFont(serif);

  auto apply = [this](const std::string& source) {
    const std::string spk = dir.file("test.spk");
    WriteLanguageFile(ParseLangSource(source, "test"), spk);
    TLanguageRecord record(4, Root());
    ASSERT_TRUE(record.LoadAndApply(spk));
  };
  apply(
      "LangId=040E\nFontName=DejaVu Sans Mono\nCharset=238\nMinFontSize=8\n"
      "MainDlg.res_cmb.Items[0]=a\nMainDlg.res_cmb.Items[1]=b\nMainDlg.res_cmb.Items[2]=c\n"
      "MainDlg.res_cmb.Items[3]=d\nMainDlg.res_cmb.Items[4]=e\nMainDlg.res_cmb.Items[5]=f\n"
      "MainDlg.res_cmb.Items[6]=g\nMainDlg.res_cmb.Items[7]=h\n");
  // Seven items changed, the eighth line dropped, the selection where it was.
  ASSERT_EQ(Form().res_cmb->count(), 7);
  EXPECT_EQ(Form().res_cmb->itemText(6).toStdString(), "g");
  EXPECT_EQ(Form().res_cmb->currentIndex(), 2);
  EXPECT_EQ(Project().Resolution(), "720x480") << "the project keeps its size";
  // Fonts that follow the main window take the language's face; a face of
  // its own stays; all take the character set.
  EXPECT_EQ(Form().go_btn->font().family().toStdString(), "DejaVu Sans Mono");
  EXPECT_EQ(Form().osd_chk->font().family().toStdString(), "DejaVu Serif");
  EXPECT_EQ(LangCharsetOf(Form().osd_chk), 238);
  EXPECT_EQ(LangCharsetOf(Form().go_btn), 238);
  EXPECT_EQ(Main().font().family().toStdString(), "DejaVu Sans Mono");

  // A face this machine does not have (a Windows name) is not taken, and a
  // font below the smallest size grows to it.
  QFont tiny = Form().fps_lbl->font();
  tiny.setPixelSize(8);
  Form().fps_lbl->setFont(tiny);
  apply("LangId=040E\nFontName=MS Sans Serif\nCharset=0\nMinFontSize=9\n");
  EXPECT_EQ(Form().go_btn->font().family().toStdString(), "DejaVu Sans Mono");
  EXPECT_EQ(Form().fps_lbl->font().pixelSize(), 12) << "9 points at 96 dots per inch";
  EXPECT_EQ(LangCharsetOf(Form().go_btn), 0);
}

}  // namespace
