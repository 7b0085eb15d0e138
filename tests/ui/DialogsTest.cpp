// The secondary dialogs, opened from the main window and used through their
// own controls: Organize, Thumbnails, Jump To..., Done ! and Burn, Settings
// and Expert Options.
#include <sys/stat.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <map>

#include "avi/SoundtrackFixtures.h"
#include "frames/U_FrameServer.h"
#include "platform/registry/Registry.h"
#include "project/BurnTools.h"
#include "support/SettingsStore.h"
#include "support/U_SysUtils.h"
#include "ui/AboutDlg.h"
#include "ui/BurnDlg.h"
#include "ui/CodecLoadingDlg.h"
#include "ui/ThumbnailLoaderDlg.h"
#include "ui/U_ExpertDlg.h"
#include "ui/U_JumpDlg.h"
#include "ui/U_ProcessSuccess.h"
#include "ui/U_ReorderDlg.h"
#include "ui/U_SettingsDlg.h"
#include "ui/UiTestSupport.h"
#include "ui_BurnDlg.h"
#include "ui_ThumbnailLoaderDlg.h"
#include "ui_U_ExpertDlg.h"
#include "ui_U_JumpDlg.h"
#include "ui_U_ProcessSuccess.h"
#include "ui_U_ReorderDlg.h"
#include "ui_U_SettingsDlg.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

class Dialogs : public WindowTest {
protected:
  // n pictures p0.jpg … in the test's folder, each with caption "c<i>".
  void AddPictures(int n) {
    const char* examples[] = {"landscape.jpg", "portrait.jpg", "wide.jpg", "bars.bmp", "portrait.bmp"};
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i)
      lines.push_back(Picture("p" + std::to_string(i) + ".jpg", examples[i % 5]) + "\tc" + std::to_string(i));
    Main().AddFiles(lines);
  }
  TReorderDlg& Reorder() { return *Main().Dialogs().Reorder; }
  // The captions of the project, which name the pictures' first places.
  std::vector<std::string> Captions() { return Project().CaptionList().Items(); }
  std::vector<std::string> Column(QTableWidget* lst, int c) {
    std::vector<std::string> v;
    for (int r = 0; r < lst->rowCount(); ++r) v.push_back(lst->item(r, c)->text().toStdString());
    return v;
  }
  // Runs `inside` in the Organize dialog opened by `open`, then closes it with Exit.
  void InOrganize(const std::function<void()>& open, const std::function<void(TReorderDlg&)>& inside) {
    ModalScript script;
    script.Then([&](QWidget* w) {
      auto* d = qobject_cast<TReorderDlg*>(w);
      ASSERT_NE(d, nullptr) << w->objectName().toStdString();
      inside(*d);
      QTest::mouseClick(d->Form()->exit_btn, Qt::LeftButton);
    });
    open();
    EXPECT_EQ(script.Pending(), 0) << "Organize did not open";
  }
  void Select(TReorderDlg& d, int row) {
    QTableWidget* lst = d.Form()->lst;
    const QRect r = lst->visualItemRect(lst->item(row, 1));
    QTest::mouseClick(lst->viewport(), Qt::LeftButton, {}, r.center());
  }
};

// A click on a check box's box.
void Tick(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(7, box->height() / 2)); }

// A program file written as a shell script.
void Script(const std::string& path, const std::string& body) {
  fs::create_directories(fs::path(path).parent_path());
  WriteText(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
}

}  // namespace

TEST_F(Dialogs, OrganizeOpensOnTheClickedPictureAndWritesThroughToTheProject) {
  Start();
  // With no pictures it returns at once, showing nothing.
  {
    ModalScript none;
    none.Then(ModalScript::Cancel());
    QTest::mouseClick(Form().sort_btn, Qt::LeftButton);
    EXPECT_EQ(none.Pending(), 1);
  }

  AddPictures(14);
  for (int i = 0; i < 7; ++i) Form().next_btn->click();
  ASSERT_EQ(Form().thumbstats_lbl->text(), "8 - 12 / 14");
  // The third slot shows picture index 9 (row 10).
  InOrganize([&] { QTest::mouseClick(Main().ThumbSlot(2), Qt::LeftButton); },
             [&](TReorderDlg& d) {
               EXPECT_EQ(d.objectName(), "ReorderDlg");
               EXPECT_EQ(d.windowTitle(), "Organize");
               EXPECT_EQ(d.SelectedRow(), 9);
               EXPECT_EQ(d.Form()->txt->text(), "c9");
               EXPECT_EQ(d.Form()->pos_txt->value(), 10);
               EXPECT_EQ(d.Form()->sel_grp->toolTip().toStdString(), Project().PictureList()[9]);
               EXPECT_TRUE(d.Form()->img->isVisible());
               TBitmap32 frame;
               Main().ThumbServer()->GetFrame(frame, 9);
               EXPECT_EQ(d.Form()->img->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
                         QImage(reinterpret_cast<const uchar*>(frame.Bits()), 100, 75, QImage::Format_RGB32));
               QTableWidget* lst = d.Form()->lst;
               EXPECT_EQ(lst->columnCount(), 3);
               EXPECT_EQ(lst->horizontalHeaderItem(0)->text(), "#");
               EXPECT_EQ(lst->horizontalHeaderItem(1)->text(), "Text");
               EXPECT_EQ(lst->horizontalHeaderItem(2)->text(), "Photo");
               EXPECT_TRUE(lst->showGrid());
               // Row 11 (two below) is in view.
               EXPECT_TRUE(lst->viewport()->rect().intersects(lst->visualItemRect(lst->item(11, 0))));
               EXPECT_EQ(d.minimumSize(), QSize(519, 569));
             });
  EXPECT_EQ(Reorder().StartIndex, -1);
  // The menu item opens it with nothing selected.
  InOrganize([&] { Form().Organize1->trigger(); },
             [&](TReorderDlg& d) {
               EXPECT_EQ(d.SelectedRow(), -1);
               EXPECT_FALSE(d.Form()->img->isVisible());
               EXPECT_EQ(d.Form()->sel_grp->title(), "");
             });
}

TEST_F(Dialogs, OrganizeMovesDeletesAndCaptionsRowsAndTheProjectAlike) {
  Start();
  AddPictures(6);
  const std::vector<std::string> paths = Project().PictureList().Items();
  InOrganize([&] { Form().sort_btn->click(); },
             [&](TReorderDlg& d) {
               QTableWidget* lst = d.Form()->lst;
               // Row 1 to position 5: rows 2 … 5 move up and 1 … 5 are renumbered.
               Select(d, 0);
               d.Form()->pos_txt->setValue(5);
               QTest::mouseClick(d.Form()->change_btn, Qt::LeftButton);
               EXPECT_EQ(Captions(), (std::vector<std::string>{"c1", "c2", "c3", "c4", "c0", "c5"}));
               EXPECT_EQ(Project().PictureList()[4], paths[0]);
               EXPECT_EQ(Column(lst, 0), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
               EXPECT_EQ(Column(lst, 1), Captions());
               EXPECT_EQ(Column(lst, 2), Project().PictureList().Items());
               EXPECT_EQ(d.SelectedRow(), 4);
               // Moving to its own place does nothing.
               QTest::mouseClick(d.Form()->change_btn, Qt::LeftButton);
               EXPECT_EQ(Captions(), (std::vector<std::string>{"c1", "c2", "c3", "c4", "c0", "c5"}));

               // Delete: the row and the project's entry go, rows below are renumbered.
               Select(d, 1);
               QTest::mouseClick(d.Form()->del_btn, Qt::LeftButton);
               EXPECT_EQ(Captions(), (std::vector<std::string>{"c1", "c3", "c4", "c0", "c5"}));
               EXPECT_EQ(Project().PictureCount(), 5);
               EXPECT_EQ(Column(lst, 0), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
               EXPECT_EQ(Column(lst, 2), Project().PictureList().Items());
               EXPECT_FALSE(d.Form()->img->isVisible());
               EXPECT_EQ(d.Form()->sel_grp->title(), "");
               EXPECT_EQ(d.Form()->pos_txt->maximum(), 5);
               QTest::mouseClick(d.Form()->del_btn, Qt::LeftButton);  // nothing selected: nothing deleted
               EXPECT_EQ(Project().PictureCount(), 5);

               // The caption field takes 50 characters and refuses the 51st.
               Select(d, 2);
               d.Form()->txt->clear();
               d.Form()->txt->setFocus();
               QTest::keyClicks(d.Form()->txt, QString(51, 'x'));
               EXPECT_EQ(d.Form()->txt->text(), QString(50, 'x'));
               EXPECT_EQ(Project().CaptionList()[2], std::string(50, 'x'));
               EXPECT_EQ(lst->item(2, 1)->text(), QString(50, 'x'));
             });
  EXPECT_EQ(Panel(0), "5 pictures");

  // A caption longer than 50 from a project file is shown whole and can be
  // shortened, not lengthened.
  Project().SetCaption(0, std::string(60, 'y'));
  InOrganize([&] { Form().sort_btn->click(); },
             [&](TReorderDlg& d) {
               Select(d, 0);
               EXPECT_EQ(d.Form()->txt->text(), QString(60, 'y'));
               d.Form()->txt->setFocus();
               d.Form()->txt->end(false);
               QTest::keyClick(d.Form()->txt, Qt::Key_Backspace);
               QTest::keyClicks(d.Form()->txt, "zz");
               EXPECT_EQ(d.Form()->txt->text(), QString(59, 'y'));
             });
  EXPECT_EQ(Project().CaptionList()[0], std::string(59, 'y'));
}

TEST_F(Dialogs, DeletingInOrganizeBringsTheStripBackIntoRange) {
  Start();
  AddPictures(8);
  for (int i = 0; i < 3; ++i) Form().next_btn->click();
  ASSERT_EQ(Form().thumbstats_lbl->text(), "4 - 8 / 8");
  InOrganize([&] { QTest::mouseClick(Main().ThumbSlot(4), Qt::LeftButton); },
             [&](TReorderDlg& d) {
               EXPECT_EQ(d.SelectedRow(), 7);
               for (int i = 0; i < 3; ++i) {
                 Select(d, 0);
                 QTest::mouseClick(d.Form()->del_btn, Qt::LeftButton);
               }
             });
  EXPECT_EQ(Main().FirstThumb(), 0);
  EXPECT_EQ(Form().thumbstats_lbl->text(), "1 - 5 / 5");
  EXPECT_EQ(Panel(0), "5 pictures");
  for (int i = 0; i < TMainDlg::ThumbSlotCount; ++i) EXPECT_EQ(Main().ThumbSlot(i)->PictureIndex, i);
  // Every slot is rendered anew: the pictures moved under them.
  TBitmap32 frame;
  Main().ThumbServer()->GetFrame(frame, 0);
  EXPECT_EQ(Main().ThumbSlot(0)->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
            QImage(reinterpret_cast<const uchar*>(frame.Bits()), 100, 75, QImage::Format_RGB32));
}

TEST_F(Dialogs, ShuffleIsUniformOverPlacesAndOrders) {
  Start();
  AddPictures(4);
  constexpr int kShuffles = 2400;
  int places[4][4] = {};              // picture c<i> seen at position p
  std::map<std::string, int> orders;  // each of the 24 orders
  QElapsedTimer clock;
  clock.start();
  InOrganize([&] { Form().sort_btn->click(); },
             [&](TReorderDlg& d) {
               for (int s = 0; s < kShuffles; ++s) {
                 d.Form()->shuffle_btn->click();
                 std::string order;
                 for (int p = 0; p < 4; ++p) {
                   const std::string c = Project().CaptionList()[p];
                   places[c[1] - '0'][p]++;
                   order += c[1];
                 }
                 orders[order]++;
               }
               // The rows follow the project, every picture keeps its caption, and no
               // row is left selected.
               EXPECT_EQ(Column(d.Form()->lst, 1), Captions());
               EXPECT_EQ(Column(d.Form()->lst, 2), Project().PictureList().Items());
               for (int p = 0; p < 4; ++p)
                 EXPECT_EQ(ExtractFileNameW(Project().PictureList()[p]), "p" + Captions()[p].substr(1) + ".jpg");
               EXPECT_EQ(d.SelectedRow(), -1);
             });
  std::cout << "[ shuffle  ] " << kShuffles << " shuffles in " << clock.elapsed() << " ms\n";
  // Chi-square against the uniform shuffle. The bounds lie far in the tail
  // (p < 1e-8), so a fair shuffle never fails them by chance; the classic
  // biased loop (first place drawn twice as often, the last two never drawn)
  // gives values in the hundreds.
  double places2 = 0;
  const double perCell = kShuffles / 4.0;
  for (auto& row : places)
    for (int n : row) places2 += (n - perCell) * (n - perCell) / perCell;
  EXPECT_LT(places2, 60.0) << "9 degrees of freedom";
  EXPECT_EQ(orders.size(), 24u);
  double orders2 = 0;
  const double perOrder = kShuffles / 24.0;
  for (const auto& [order, n] : orders) orders2 += (n - perOrder) * (n - perOrder) / perOrder;
  EXPECT_LT(orders2, 90.0) << "23 degrees of freedom";

  // Two pictures: either order, not always swapped.
  Form().imgreset_btn->click();
  AddPictures(2);
  int swapped = 0;
  InOrganize([&] { Form().sort_btn->click(); },
             [&](TReorderDlg& d) {
               for (int s = 0; s < 200; ++s) {
                 d.Form()->shuffle_btn->click();
                 swapped += Captions()[0] == "c1";
               }
             });
  EXPECT_GT(swapped, 40);
  EXPECT_LT(swapped, 160);
}

TEST_F(Dialogs, ThumbnailsDialogRendersTheStripAndCannotBeClosedWhileItWorks) {
  Start();
  TLoaderDlg& loader = *Main().Dialogs().Loader;
  // Looked at from inside its first slot step, while it works.
  int maximum = -1, steps = 0;
  bool stayed = false;
  auto step = loader.SlotStep;
  loader.SlotStep = [&](int slot, int picture, TBitmap32& bitmap) {
    if (steps++ == 0) {
      EXPECT_EQ(QApplication::activeModalWidget(), &loader);
      EXPECT_EQ(loader.windowTitle(), "Thumbnails");
      maximum = loader.Form()->pb->maximum();
      loader.reject();
      loader.close();
      QTest::keyClick(&loader, Qt::Key_Escape);
      stayed = loader.isVisible();
    }
    step(slot, picture, bitmap);
  };
  AddPictures(3);
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(maximum, 2);
  EXPECT_TRUE(stayed);
  EXPECT_FALSE(loader.isVisible());  // closed by itself
  EXPECT_EQ(Form().thumbstats_lbl->text(), "1 - 3 / 3");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Main().ThumbSlot(i)->PictureIndex, i);
  // A picture that cannot be read gets a slot of its own and the strip goes
  // on with the next one.
  WriteText(dir.file("pics/broken.jpg"), "not a JPEG");
  Main().AddFiles({dir.file("pics/broken.jpg"), Picture("after.jpg")});
  EXPECT_EQ(Form().thumbstats_lbl->text(), "1 - 5 / 5");
  EXPECT_EQ(Main().ThumbSlot(3)->PictureIndex, 3);
  EXPECT_EQ(Main().ThumbSlot(4)->PictureIndex, 4);
  EXPECT_FALSE(Main().ThumbSlot(4)->pixmap().isNull());
  EXPECT_NE(Main().ThumbSlot(3)->pixmap().toImage(), Main().ThumbSlot(4)->pixmap().toImage());
  // After "next" only the new last slot has a step that renders.
  AddPictures(6);
  const int loads = Main().ThumbServer()->Stats().Loads;
  steps = 1;
  Form().next_btn->click();
  EXPECT_EQ(steps, 6);  // five steps, four of them skipped
  EXPECT_EQ(Main().ThumbServer()->Stats().Loads, loads + 1);
}

TEST_F(Dialogs, JumpRunsOverTheWholeListAndOnlyOkMovesTheStrip) {
  Start();
  AddPictures(40);
  ModalScript script;
  script.Then([](QWidget* w) {
    auto* d = qobject_cast<TJumpDlg*>(w);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "Jump To...");
    QSlider* trk = d->Form()->trk;
    EXPECT_EQ(trk->minimum(), 0);
    EXPECT_EQ(trk->maximum(), 35);
    EXPECT_EQ(d->Form()->thumbstats_lbl->text(), "1 - 5 / 40");
    trk->setFocus();
    QTest::keyClick(trk, Qt::Key_End);
    EXPECT_EQ(d->Form()->thumbstats_lbl->text(), "36 - 40 / 40");
    trk->setValue(10);
    EXPECT_EQ(d->Form()->thumbstats_lbl->text(), "11 - 15 / 40");
    QTest::mouseClick(d->Form()->ok_btn, Qt::LeftButton);
  });
  QTest::mouseClick(Form().jump_btn, Qt::LeftButton);
  EXPECT_EQ(Main().FirstThumb(), 10);
  EXPECT_EQ(Form().thumbstats_lbl->text(), "11 - 15 / 40");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Main().ThumbSlot(i)->PictureIndex, 10 + i);
  // Cancel leaves the strip; the dialog opens on where the strip stands.
  script.Then([](QWidget* w) {
    auto* d = qobject_cast<TJumpDlg*>(w);
    EXPECT_EQ(d->Form()->trk->value(), 10);
    d->Form()->trk->setValue(0);
    QTest::keyClick(d, Qt::Key_Escape);
  });
  Form().jump_btn->click();
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_EQ(Main().FirstThumb(), 10);
}

namespace {

class DoneDialog : public Dialogs {
protected:
  void SetUp() override {
    Dialogs::SetUp();
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    fs::create_directories(dir.file("bin"));
    // Only the programs a test puts here are found: no burner of the machine.
    setenv("PATH", dir.file("bin").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.file("").c_str(), 1);
    Start();
    video = dir.file("out/holiday.avi");
    fs::create_directories(dir.file("out"));
    WriteText(video, "RIFF");
    Done().Brenno->tmr.setInterval(50);  // the one-second poll, faster
  }
  void TearDown() override {
    Dialogs::TearDown();
    setenv("PATH", oldPath_.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
  }
  TProcessSuccessDlg& Done() { return *Main().Dialogs().ProcessSuccess; }
  void Vendor(const std::string& value, const std::string& text) {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(kVendorKey, true));
    ASSERT_TRUE(reg.WriteString(value, text));
  }
  std::string Compilation() { return dir.file("data/Tarvenit/Slidomat/sdm_0.brn"); }
  std::string video;
  std::string oldPath_;
};

}  // namespace

TEST_F(DoneDialog, NoToADownloadQuestionKeepsDoneOpenAndPlayOrFolderCloseIt) {
  ModalScript script;
  script.Then([&](QWidget* w) {
    EXPECT_EQ(w->objectName(), "ProcessSuccessDlg");
    EXPECT_EQ(w->windowTitle(), "Done !");
    QTest::mouseClick(Done().Form()->burncd_btn, Qt::LeftButton);
    EXPECT_TRUE(w->isVisible());
    QTest::mouseClick(Done().Form()->dvd_btn, Qt::LeftButton);
    EXPECT_TRUE(w->isVisible());
    QTest::mouseClick(Done().Form()->folder_btn, Qt::LeftButton);
  });
  // The questions come from inside the first step, as their own modal boxes.
  ModalScript questions;
  questions.Only("MsgDlg").Then(questions.Answer(QMessageBox::No)).Then(questions.Answer(QMessageBox::No));
  Main().ShowJobFinished(video);
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_EQ(questions.Pending(), 0);
  EXPECT_EQ(
      questions.Texts,
      (std::vector<std::string>{
          "BrennoDVD is required to burn CDs or DVDs. Do you want to download it now ?",
          "Convertion to DVD requires a third party product from Xol Software. Do you want to download it now ?"}));
  EXPECT_EQ(opened, std::vector<std::string>{dir.file("out/")});
  EXPECT_FALSE(fs::exists(Compilation()));
}

TEST_F(DoneDialog, BurnHandsTheCompilationToTheProgramFoundInTheRegistryFolderAndWaitsForIt) {
  // The vendor's program, named by its folder: it records its arguments,
  // runs a little while, then says it has finished.
  Script(dir.file("xol/BrennoCd.exe"),
         "echo \"$@\" > \"" + dir.file("args") + "\"\nsleep 0.4\necho ended >> \"" + dir.file("args") + "\"\n");
  Vendor("BrennoCD", dir.file("xol"));
  ModalScript script;
  script.Then([&](QWidget*) { QTest::mouseClick(Done().Form()->burncd_btn, Qt::LeftButton); });
  // Left alone, "Burn" starts the program, shows 1 of 1 and closes itself
  // once the program has ended.
  int shown = -1;
  QString title;
  QObject::connect(&Done().Brenno->tmr, &QTimer::timeout, [&] {
    shown = Done().Brenno->Form()->prog->value();
    title = Done().Brenno->windowTitle();
  });
  Main().ShowJobFinished(video);
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_FALSE(Done().isVisible());
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(title, "Burn");
  EXPECT_EQ(Done().Brenno->Form()->prog->maximum(), 1);
  EXPECT_EQ(ReadText(Compilation()), video + "\r\n");
  // The dialog waited for the program's end before it closed.
  EXPECT_EQ(ReadText(dir.file("args")), "/datafl " + Compilation() + "\nended\n");
}

TEST_F(DoneDialog, WithoutTheVendorsProgramABurnerOnThePathGetsTheVideo) {
  Script(dir.file("bin/xfburn"), "echo \"$@\" > \"" + dir.file("args") + "\"\n");
  ModalScript script;
  script.Then([&](QWidget*) { QTest::mouseClick(Done().Form()->burncd_btn, Qt::LeftButton); });
  Main().ShowJobFinished(video);
  EXPECT_EQ(script.Pending(), 0);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir.file("args")) && !ReadText(dir.file("args")).empty(); }, 10000));
  EXPECT_EQ(ReadText(dir.file("args")), "--data-composition " + video + "\n");
  EXPECT_FALSE(Done().isVisible());
}

TEST_F(DoneDialog, ABurnThatCouldNotStartIsSaidAndDoneStaysOpen) {
  // The registry names a file that cannot be run.
  fs::create_directories(dir.file("xol"));
  WriteText(dir.file("xol/BrennoCd.exe"), "not a program");
  Vendor("Brenno", dir.file("xol/BrennoCd.exe"));
  ModalScript script;
  bool stayed = false;
  ModalScript error;
  error.Only("MsgDlg").Then(error.Answer(QMessageBox::Ok));
  script.Then([&](QWidget* w) {
    QTest::mouseClick(Done().Form()->burncd_btn, Qt::LeftButton);
    stayed = w->isVisible();
    QTest::mouseClick(Done().Form()->play_btn, Qt::LeftButton);
  });
  Main().ShowJobFinished(video);
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_TRUE(stayed);
  ASSERT_EQ(error.Texts.size(), 1u);
  EXPECT_EQ(error.Texts[0].rfind("The burning program could not be started.", 0), 0u) << error.Texts[0];
  EXPECT_NE(error.Texts[0].find(dir.file("xol/BrennoCd.exe")), std::string::npos);
  EXPECT_EQ(opened, std::vector<std::string>{video});
}

TEST_F(Dialogs, SettingsStoresDebugModeOnlyOnOk) {
  Start();
  auto tickAnd = [](const char* button) {
    return [button](QWidget* w) {
      auto* d = qobject_cast<TSettingsDlg*>(w);
      ASSERT_NE(d, nullptr);
      EXPECT_NE(d->findChild<QWidget*>("lng"), nullptr);
      EXPECT_EQ(d->findChild<QWidget*>("lng")->parentWidget(), d->Form()->lang_grp);
      EXPECT_FALSE(d->Form()->debug_chk->isChecked());
      Tick(d->Form()->debug_chk);
      ModalScript::Click(button)(w);
    };
  };
  TRegistry reg(HKEY_CURRENT_USER);
  ModalScript script;
  script.Then(tickAnd("cancel_btn"));
  Form().settings_btn->click();
  ASSERT_TRUE(reg.OpenKeyReadOnly(kProductKey));
  EXPECT_FALSE(reg.ValueExists("DebugMode"));
  // Absent, it opens unticked; OK without ticking stores "0".
  script.Then([](QWidget* w) {
    EXPECT_FALSE(static_cast<TSettingsDlg*>(w)->Form()->debug_chk->isChecked());
    ModalScript::Click("ok_btn")(w);
  });
  Form().Settings1->trigger();
  EXPECT_EQ(GetSetting("DebugMode"), "0");
  SetSetting("DebugMode", "1");
  script.Then([](QWidget* w) {
    auto* d = static_cast<TSettingsDlg*>(w);
    EXPECT_TRUE(d->Form()->debug_chk->isChecked());
    Tick(d->Form()->debug_chk);
    ModalScript::Click("ok_btn")(w);
  });
  Form().settings_btn->click();
  EXPECT_EQ(GetSetting("DebugMode"), "0");
  EXPECT_EQ(script.Pending(), 0);
}

TEST_F(Dialogs, ExpertSwitchesExactlyTheFiveControlsOnOk) {
  Start();
  auto states = [this] {
    std::map<std::string, bool> m;
    for (QWidget* w : Main().findChildren<QWidget*>())
      if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
        m[w->objectName().toStdString()] = w->isEnabled();
    return m;
  };
  const auto before = states();
  ASSERT_FALSE(before.at("matchaudio_btn"));  // no soundtrack yet
  ModalScript script;
  script.Then([](QWidget* w) {
    auto* d = qobject_cast<TExpertDlg*>(w);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "Expert Options");
    EXPECT_FALSE(d->Form()->sng_chk->isChecked());
    Tick(d->Form()->sng_chk);
    QTest::mouseClick(d->Form()->ok_btn, Qt::LeftButton);
  });
  QTest::mouseClick(Form().exp_btn, Qt::LeftButton);
  EXPECT_TRUE(Project().SingleFrame());
  const auto on = states();
  std::vector<std::string> changed;
  for (const auto& [name, enabled] : on)
    if (before.at(name) != enabled) changed.push_back(name);
  EXPECT_EQ(changed, (std::vector<std::string>{"dynamics_chk", "osd_chk", "time_txt", "xfade_chk"}));
  EXPECT_TRUE(Form().xfade_chk->isChecked());  // the check marks stay

  // Shown ticked while on; Ok unchanged keeps it; the close box changes nothing.
  script.Then([](QWidget* w) {
    EXPECT_TRUE(static_cast<TExpertDlg*>(w)->Form()->sng_chk->isChecked());
    ModalScript::Click("ok_btn")(w);
  });
  Form().exp_btn->click();
  EXPECT_TRUE(Project().SingleFrame());
  script.Then([](QWidget* w) {
    Tick(static_cast<TExpertDlg*>(w)->Form()->sng_chk);
    w->close();
  });
  Form().exp_btn->click();
  EXPECT_TRUE(Project().SingleFrame());
  EXPECT_FALSE(Form().dynamics_chk->isEnabled());

  // Off again: the four come back, and Match audio with them even without a
  // soundtrack.
  script.Then([](QWidget* w) {
    Tick(static_cast<TExpertDlg*>(w)->Form()->sng_chk);
    ModalScript::Click("ok_btn")(w);
  });
  Form().exp_btn->click();
  EXPECT_EQ(script.Pending(), 0);
  EXPECT_FALSE(Project().SingleFrame());
  auto after = states();
  EXPECT_TRUE(after.at("dynamics_chk") && after.at("osd_chk") && after.at("time_txt") && after.at("xfade_chk"));
  EXPECT_TRUE(after.at("matchaudio_btn"));
  after["matchaudio_btn"] = false;
  EXPECT_EQ(after, before);
}

TEST_F(Dialogs, OrganizingDuringAJobLeavesTheJobAsItStarted) {
  Start();
  AddPictures(3);
  Form().res_cmb->setCurrentText("720x576");
  Project().SetOutputPath(dir.file("job.avi"));
  ModalScript done;
  done.Only("ProcessSuccessDlg").Then(ModalScript::Cancel());
  Form().go_btn->click();
  ASSERT_TRUE(WaitFor([&] { return Main().Job()->ProgressPosition() > 0 || !Main().Job()->Running(); }));
  ASSERT_TRUE(Main().Job()->Running());
  const int total = Main().Job()->ProgressMax();  // the frames of three pictures
  // The strip stays clickable: the picture is deleted from the project, not
  // from the job's own list.
  InOrganize([&] { QTest::mouseClick(Main().ThumbSlot(0), Qt::LeftButton); },
             [&](TReorderDlg& d) {
               EXPECT_EQ(d.SelectedRow(), 0);
               QTest::mouseClick(d.Form()->del_btn, Qt::LeftButton);
             });
  EXPECT_EQ(Project().PictureCount(), 2);
  WaitForJob();
  EXPECT_EQ(Main().Job()->LastEnd(), TJobEnd::Finished) << Main().Job()->LastError();
  EXPECT_EQ(Main().Job()->ProgressMax(), total);
  EXPECT_EQ(done.Pending(), 0);
}

TEST_F(Dialogs, EveryDialogHasItsSizeAndEveryCaptionFits) {
  Start();
  AddPictures(6);
  const TMainDialogs& d = Main().Dialogs();
  d.Jump->Fill(6, 0);
  d.Reorder->Project = &Project();
  d.Reorder->ThumbServer = Main().ThumbServer();
  d.Reorder->StartIndex = 1;
  d.Reorder->Fill();
  d.Settings->Fill();
  const std::vector<std::pair<QDialog*, QSize>> fixed = {
      {d.Jump, {441, 89}},   {d.Loader, {258, 36}},          {d.Settings, {394, 437}},
      {d.Expert, {280, 97}}, {d.ProcessSuccess, {300, 121}}, {d.ProcessSuccess->Brenno, {201, 91}},
      {d.Load, {225, 29}},
  };
  for (const auto& [dialog, size] : fixed) {
    dialog->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->size(), size) << dialog->objectName().toStdString();
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize()) << dialog->objectName().toStdString();
    EXPECT_EQ(CaptionsThatDoNotFit(*dialog), std::vector<std::string>{}) << dialog->objectName().toStdString();
    dialog->hide();
  }
  for (QDialog* dialog : std::vector<QDialog*>{d.Reorder, d.About}) {
    dialog->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(CaptionsThatDoNotFit(*dialog), std::vector<std::string>{}) << dialog->objectName().toStdString();
    dialog->hide();
  }
  EXPECT_EQ(d.Reorder->size(), QSize(519, 659));
}
