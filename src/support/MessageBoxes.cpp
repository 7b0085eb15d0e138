#include "support/MessageBoxes.h"

#include "support/UserInteraction.h"

namespace sdm {

std::string MessageBoxCaption(int kind) {
  switch (kind) {
    case mkMessage: return "Message";
    case mkWarning: return "Warning";
    case mkError: return "Error";
    case mkQuestion: return "Question";
    case mkInformation: return "Information";
    default: return "";
  }
}

int ShowMessageBox(const std::string& text, int buttons, int kind) {
  if (buttons < mbOk || buttons > mbOkCancel) buttons = mbOk;
  // Unknown kinds show neither caption nor icon.
  if (kind < mkMessage || kind > mkInformation) kind = mkPlain;
  return UserInteraction().MessageBox(MessageBoxCaption(kind), text, buttons, kind);
}

int AskYesNo(const std::string& text) { return ShowMessageBox(text, mbYesNo, mkQuestion); }

}  // namespace sdm
