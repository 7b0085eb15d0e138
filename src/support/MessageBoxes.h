#pragma once
// Unit U_MsgDlg.
// Message boxes of the program. They reach the user through the process-wide
// IUserInteraction (support/UserInteraction.h), so the window, the command
// line and the tests all answer them in their own way.
#include <string>

namespace sdm {

// Buttons: 0 OK; 1 Yes and No; 2 Yes, No and Cancel; 3 OK and Cancel (any
// other value shows OK). Kind sets the caption: 0 "Message", 1 "Warning",
// 2 "Error", 3 "Question", 4 "Information", anything else no caption.
// Returns the answer code: 1 OK, 2 Cancel, 6 Yes, 7 No.
int ShowMessageBox(const std::string& text, int buttons, int kind);
// The caption of a kind ("" for unknown kinds).
std::string MessageBoxCaption(int kind);
// ShowMessageBox(text, 1, 3): a Yes/No question; returns 6 or 7.
int AskYesNo(const std::string& text);

}  // namespace sdm
