#pragma once
// What the main window's units share: the translation of its own texts and
// the tests a file name passes to be taken as a soundtrack or a picture.
#include <string>

namespace sdm::main_dlg {

std::string Translated(const std::string& english);
// The extension of a file name as written: from its last dot, "" without one.
std::string ExtensionOf(const std::string& path);
// One dropped file is the soundtrack when its extension is that of a sound
// file the library reads, written in lower case as ".mp3" always had to be.
bool IsDroppedSoundtrack(const std::string& path);
bool EndsWith(const std::string& s, const std::string& suffix);
// The picture dialog's first filter: every kind we read, by every extension.
std::string AllPicturesFilter(const std::string& label);

}  // namespace sdm::main_dlg
