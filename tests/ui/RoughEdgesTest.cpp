// The window as a user, a keyboard and a screen reader meet it: typed values
// brought into range, a name for every control, the common shortcuts, and
// files named on the command line taken into a new slideshow.
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAccessible>
#include <QComboBox>
#include <QFileDialog>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <filesystem>

#include "avi/SoundtrackFixtures.h"
#include "support/U_SysUtils.h"
#include "ui/ThumbnailStrip.h"
#include "ui/U_JumpDlg.h"
#include "ui/U_ReorderDlg.h"
#include "ui/UiTestSupport.h"
#include "ui_U_JumpDlg.h"
#include "ui_U_ReorderDlg.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

std::string AccessibleName(QWidget* w) {
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
  return a ? a->text(QAccessible::Name).toStdString() : std::string();
}

// Types text into a spin box over what it shows, then leaves it by key or by
// focus, as a user moving on does.
void TypeInto(QAbstractSpinBox* box, const QString& text, bool byEnter) {
  QLineEdit* edit = box->findChild<QLineEdit*>();
  edit->selectAll();
  QTest::keyClicks(box, text);
  if (byEnter) {
    QTest::keyClick(box, Qt::Key_Return);
  } else {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box, &out);
  }
}

// The widgets a user operates: buttons, fields, lists, sliders, the
// thumbnails; not the parts Qt builds inside them, nor Qt's own dialogs.
bool IsControl(QWidget* w) {
  for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
    if (qobject_cast<QFileDialog*>(p) || qobject_cast<QMessageBox*>(p) || qobject_cast<QAbstractSpinBox*>(p) ||
        qobject_cast<QComboBox*>(p) || qobject_cast<QAbstractItemView*>(p))
      return false;
  if (w->objectName().startsWith("qt_") || qobject_cast<QScrollBar*>(w)) return false;
  return qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w) ||
         qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSlider*>(w) || qobject_cast<QAbstractItemView*>(w) ||
         qobject_cast<TThumbSlot*>(w);
}

class RoughEdges : public WindowTest {};

}  // namespace

TEST_F(RoughEdges, TypedTimesAndRatesAreBroughtIntoTheirRangeOnLeavingTheField) {
  Start();
  auto* time = Form().time_txt;
  TypeInto(time, "50", true);
  EXPECT_EQ(time->value(), 100);
  EXPECT_EQ(Project().MsPerPicture(), 100);
  // The last digit of a number over the maximum is taken, not refused.
  TypeInto(time, "70000", false);
  EXPECT_EQ(time->value(), 60000);
  EXPECT_EQ(Project().MsPerPicture(), 60000);
  TypeInto(time, "4500", false);
  EXPECT_EQ(Project().MsPerPicture(), 4500);
  // An emptied field gets its value back.
  TypeInto(time, "", false);
  EXPECT_EQ(time->value(), 4500);

  auto* fps = Form().FPS_txt;
  TypeInto(fps, "0", true);
  EXPECT_EQ(fps->value(), 1);
  TypeInto(fps, "99", false);
  EXPECT_EQ(fps->value(), 60);
  EXPECT_EQ(Project().FramesPerSecond(), 60);
}

TEST_F(RoughEdges, EveryControlOfEveryWindowHasAName) {
  std::vector<std::string> pictures;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"}) pictures.push_back(Picture(name));
  Start();
  Main().AddFiles(pictures);
  Main().Dialogs().Jump->Fill(6, 0);  // as the Jump button fills it
  std::vector<std::string> nameless;
  for (QWidget* w : Main().findChildren<QWidget*>())
    if (IsControl(w) && AccessibleName(w).empty())
      nameless.push_back(w->window()->objectName().toStdString() + "." + w->objectName().toStdString() + " (" +
                         w->metaObject()->className() + ")");
  EXPECT_EQ(nameless, std::vector<std::string>{});

  // The spin boxes are named by their labels, not by their group.
  EXPECT_EQ(AccessibleName(Form().time_txt), "Time per picture (ms) :");
  EXPECT_EQ(AccessibleName(Form().FPS_txt), "Fps :");
  EXPECT_EQ(AccessibleName(Form().trv_btn), "Tarvenit");
  // A thumbnail by its picture's number and caption, following the strip.
  EXPECT_EQ(AccessibleName(Main().ThumbSlot(0)), "Picture 1: a.jpg");
  Form().next_btn->click();
  EXPECT_EQ(AccessibleName(Main().ThumbSlot(0)), "Picture 2: b.jpg");
  EXPECT_EQ(AccessibleName(Main().ThumbSlot(4)), "Picture 6: f.jpg");
  auto* organize = Main().Dialogs().Reorder->findChild<QWidget*>("pos_txt");
  ASSERT_NE(organize, nullptr);
  EXPECT_EQ(AccessibleName(organize), "New Position");
  EXPECT_EQ(AccessibleName(Main().Dialogs().Reorder->findChild<QWidget*>("txt")), "Text : ");
  EXPECT_EQ(AccessibleName(Main().Dialogs().Jump->findChild<QWidget*>("trk")), "First picture shown");
}

TEST_F(RoughEdges, CommonShortcutsLoadQuitAndHelp) {
  Start();
  EXPECT_EQ(Form().Load1->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(Form().Quit1->shortcut(), QKeySequence("Ctrl+Q"));
  EXPECT_EQ(Form().Help1->shortcut(), QKeySequence("F1"));
  // No two commands share a key.
  std::vector<QKeySequence> keys;
  for (QAction* a : Main().findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly))
    if (!a->shortcut().isEmpty()) {
      EXPECT_EQ(std::count(keys.begin(), keys.end(), a->shortcut()), 0) << a->objectName().toStdString();
      keys.push_back(a->shortcut());
    }
  // The keys reach their commands.
  QApplication::setActiveWindow(&Main());
  ModalScript script;
  script.Then([](QWidget* w) {
    EXPECT_EQ(w->objectName(), "JOD_fl");
    ModalScript::Cancel()(w);
  });
  QTest::keyClick(&Main(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_TRUE(WaitFor([&] { return script.Pending() == 0; }, 10000));
  QApplication::setActiveWindow(&Main());
  QTest::keyClick(&Main(), Qt::Key_F1);
  EXPECT_EQ(opened.size(), 1u);
  // Tests drive Qt's own pickers; elsewhere the desktop's are used.
  EXPECT_TRUE(Main().FileDialog("JOD")->testOption(QFileDialog::DontUseNativeDialog));
}

TEST_F(RoughEdges, PicturesAndFoldersNamedOnTheCommandLineMakeTheSlideshow) {
  const std::string a = Picture("a.jpg");
  fs::create_directories(dir.file("trip"));
  fs::copy_file(SourcePath("examples/wide.jpg"), dir.file("trip/2.jpg"));
  fs::copy_file(SourcePath("examples/bars.bmp"), dir.file("trip/1.bmp"));
  const std::string mp3 = MakeMp3(dir, "song.mp3", 44100, 2, 2.0, {"-b", "128"});
  WriteText(dir.file("notes.txt"), "not a picture");
  fs::create_directories(dir.file("empty"));

  ModalScript script;
  script.Only("MsgDlg").Then([](QWidget* w) {
    const std::string text = static_cast<QMessageBox*>(w)->text().toStdString();
    EXPECT_EQ(text.rfind("Some files were not added:\n", 0), 0u) << text;
    EXPECT_NE(text.find("File not found : "), std::string::npos) << text;
    EXPECT_NE(text.find("missing.jpg"), std::string::npos) << text;
    EXPECT_NE(text.find("File not supported : "), std::string::npos) << text;
    EXPECT_NE(text.find("notes.txt"), std::string::npos) << text;
    EXPECT_NE(text.find("No picture in the folder : "), std::string::npos) << text;
    ModalScript::Cancel()(w);
  });
  Start({a, dir.file("trip"), mp3, dir.file("missing.jpg"), dir.file("notes.txt"), dir.file("empty"), "--some-switch"});
  ASSERT_TRUE(WaitFor([&] { return script.Pending() == 0; }, 20000));
  EXPECT_EQ(Project().PictureList().Items(),
            (std::vector<std::string>{a, dir.file("trip/1.bmp"), dir.file("trip/2.jpg")}));
  EXPECT_EQ(Project().SoundPath(), mp3);
  EXPECT_EQ(Form().sound_txt->text().toStdString(), mp3);
  EXPECT_EQ(Panel(0), "3 pictures");
  EXPECT_TRUE(Main().ThumbSlot(2)->isVisible());
}

TEST_F(RoughEdges, PicturesAloneOpenWithoutAWord) {
  const std::string a = Picture("a.jpg"), b = Picture("b.jpg", "portrait.jpg");
  Start({a, b});
  EXPECT_EQ(Project().PictureCount(), 2);
  EXPECT_EQ(Panel(0), "2 pictures");
  EXPECT_EQ(Project().SoundPath(), "");
}
