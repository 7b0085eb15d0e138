#pragma once
// How the program's code reaches the user. The window, the command line and the
// tests each provide an implementation, so models and job control never touch
// a widget and run the same everywhere.
#include <memory>
#include <string>

namespace sdm {

// Answer codes of a message box, as the system message box returns them.
enum : int { mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Button sets of a message box.
enum : int { mbOk = 0, mbYesNo = 1, mbYesNoCancel = 2, mbOkCancel = 3 };

// Kinds of a message box; the kind sets its caption and icon:
// 0 "Message", 1 "Warning", 2 "Error", 3 "Question", 4 "Information", 5 no caption.
enum : int { mkMessage = 0, mkWarning = 1, mkError = 2, mkQuestion = 3, mkInformation = 4, mkPlain = 5 };

class IUserInteraction {
public:
  virtual ~IUserInteraction() = default;

  // A modal message box with the given caption, text, button set and kind.
  // Returns one of the answer codes above.
  virtual int MessageBox(const std::string& caption, const std::string& text, int buttons, int kind) = 0;

  // A plain message box with an OK button (the window's ShowMessage).
  virtual void ShowMessage(const std::string& text) { MessageBox("", text, mbOk, mkPlain); }

  // The finished-job hand-over (the completion dialog in the window).
  virtual void JobFinished(const std::string& /*videoPath*/) {}
};

// The interaction the program uses when no other is given: it answers every
// question with No and Cancel and keeps quiet, which is the safe default for
// code running without a user (tests, a CLI without a terminal).
class TSilentInteraction : public IUserInteraction {
public:
  int MessageBox(const std::string&, const std::string&, int buttons, int) override {
    return buttons == mbOk ? mrOk : (buttons == mbOkCancel ? mrCancel : mrNo);
  }
};

// The process-wide interaction: set once by the front end at start-up.
IUserInteraction& UserInteraction();
void SetUserInteraction(IUserInteraction* ui);  // nullptr restores the silent default

}  // namespace sdm
