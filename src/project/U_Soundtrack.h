#pragma once
// Taking a sound file as the project's soundtrack, the same way from the
// window's Browse button, a dropped file, a project file and the command line.
#include <string>

namespace sdm {

class TSlideProject;

// Opens the file through the audio facade. When it opens and its sound can
// be decoded, it becomes the soundtrack with its play time and true is
// returned. A name of no known sound format changes nothing and returns
// false. A file that cannot be read (its reader refuses it, its first samples
// cannot be decoded, or a file named as MPEG audio whose frames do not follow
// one another) throws EError naming the file and what it holds; the
// soundtrack is unchanged. Any kind the library reads will do: the job copies
// MPEG audio as it is and encodes anything else to MP3.
bool OpenSoundtrack(TSlideProject& project, const std::string& path);

// Checks a soundtrack again before a job uses it (it may have changed since
// it was chosen); throws EError as OpenSoundtrack does.
void CheckSoundtrack(const std::string& path);

// Whether the name is that of a sound file the library reads (by its
// extension, as the facade chooses): for dropped files and file pickers.
bool IsSoundFileName(const std::string& path);
// The file picker's patterns of those names: "*.mp3;*.wav;...".
std::string SoundFilePatterns();

}  // namespace sdm
