#pragma once
// Errors say their plain cause first: "Cannot write "<file>": <reason>",
// with the technical text of the failing check on the next line. The few
// words that begin such a cause are the program's own and are translated
// where an error is shown; the file, the system's reason and the technical
// text stay as they are.
#include <string>

namespace sdm {

class TTextStorage;

// text with its leading "Cannot read", "Cannot write" or "Cannot load
// picture" in the current language of `storage`; any other text unchanged.
std::string TranslatedCause(const std::string& text, const TTextStorage* storage);

}  // namespace sdm
