#pragma once
// Handing files to the desktop: open a document, folder or web address with
// the user's chosen program (xdg-open), without waiting for it.
#include <string>

namespace sdm {

// Starts the desktop's opener for Target and returns at once. False only when
// the opener could not be started; what the opener then does is not known.
bool ShellOpen(const std::string& target);

}  // namespace sdm
