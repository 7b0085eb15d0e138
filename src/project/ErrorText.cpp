#include "project/ErrorText.h"

#include <cstring>

#include "avi/FileFailure.h"
#include "frames/U_ImageFile.h"
#include "localization/TextStorage.h"

namespace sdm {

std::string TranslatedCause(const std::string& text, const TTextStorage* storage) {
  if (!storage) return text;
  for (const char* words : {EFileFailure::kCannotRead, EFileFailure::kCannotWrite, kCannotLoadPicture}) {
    // The words are followed by the quoted file name, or they are only a
    // sentence that happens to begin alike.
    const size_t n = std::strlen(words);
    if (text.compare(0, n, words) == 0 && text.compare(n, 2, " \"") == 0)
      return storage->Translate(words) + text.substr(n);
  }
  return text;
}

}  // namespace sdm
