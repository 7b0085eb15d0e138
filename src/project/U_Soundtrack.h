#pragma once
// Taking a sound file as the project's soundtrack, the same way from the
// window's Browse button, a dropped file, a project file and the command line.
#include <string>

namespace sdm {

class TSlideProject;

// Opens the file through the audio facade. When it opens, it becomes the
// soundtrack with its play time and true is returned. A name of no known sound
// format changes nothing and returns false. A file of a known format that its
// reader cannot read throws the reader's error; the soundtrack is unchanged.
bool OpenSoundtrack(TSlideProject& project, const std::string& path);

}  // namespace sdm
