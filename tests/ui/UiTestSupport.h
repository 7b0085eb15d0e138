#pragma once
// Driving the program's windows as a user does: a fixture that starts the
// program's windows in a private registry and data folder, and a script of
// answers for the modal dialogs that the clicks open (message boxes, file
// pickers, the program's own dialogs).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"
#include "ui/ProgramWindows.h"
#include "ui_U_MainDlg.h"

namespace sdm::test {

// Answers the modal dialogs that open one after the other, one step each, in
// order. A step runs when a dialog it has not handled yet is on screen.
class ModalScript : public QObject {
public:
  using Step = std::function<void(QWidget* dialog)>;
  ModalScript();
  ~ModalScript() override;
  ModalScript& Then(Step step);
  int Pending() const { return static_cast<int>(steps_.size()); }
  // The "Thumbnails" dialog closes by itself; it is answered only when asked.
  bool IgnoreLoader = true;
  // When set, only dialogs of this object name are answered (a script for the
  // boxes that open inside another script's dialog).
  ModalScript& Only(const char* objectName) {
    only_ = objectName;
    return *this;
  }
  // The texts of the message boxes answered, in order.
  std::vector<std::string> Texts;

  // Steps for the usual dialogs.
  Step Answer(QMessageBox::StandardButton button);
  // Picks files in a file dialog by typing their names into it and pressing
  // its accept button; an empty list cancels.
  static Step Choose(const std::vector<std::string>& paths);
  static Step Cancel();
  // Clicks the button of that object name in the dialog.
  static Step Click(const char* buttonName);

private:
  void Poll();
  std::deque<Step> steps_;
  QString only_;
  QPointer<QWidget> handled_;
  QTimer timer_;
};

// The visible buttons and labels of a window whose caption is wider than the
// control (a check box's box and a button's frame taken off); captions that
// wrap by design are left out.
std::vector<std::string> CaptionsThatDoNotFit(QWidget& window);

class WindowTest : public PrivateRegistryTest {
protected:
  void SetUp() override;
  void TearDown() override;

  // Makes and shows the program's windows and waits for the first activation.
  // installed: whether the machine hive has the uninstall entry (else portable).
  void Start(const std::vector<std::string>& arguments = {}, bool installed = true);
  // Closes and frees the windows, as the program does at its end.
  void Stop();

  TMainDlg& Main() { return windows->Main(); }
  Ui::MainDlg& Form() { return *windows->Main().Form(); }
  TSlideProject& Project() { return windows->Main().Project(); }
  std::string ProgramPath() const { return dir.file("prog/slidomat"); }
  std::string Panel(int i) const;
  // The log's messages, oldest first.
  std::vector<std::string> LogMessages();
  bool WaitFor(const std::function<bool()>& done, int timeoutMs = 60000);
  // Waits until the running job has ended.
  void WaitForJob();
  // Copies of the example pictures in a folder of the test: name -> example.
  std::string Picture(const std::string& name, const std::string& example = "landscape.jpg");

  // Three compressors keep the start-up's listing short.
  ScopedEnv codecs_{"SLIDOMAT_CODECS", "xvid,MJPG,DIB "};
  // Fails a test fast, instead of hanging it, when a dialog nobody answers
  // stays open.
  QTimer watchdog;
  QPointer<QWidget> stuck;
  int stuckTicks = 0;
  std::unique_ptr<TProgramWindows> windows;
  std::vector<std::string> opened;  // what the window handed to the desktop
};

}  // namespace sdm::test
