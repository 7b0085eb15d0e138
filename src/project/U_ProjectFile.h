#pragma once
// The project file: a slideshow saved as text, ".sdm".
//
//   ;Effect=GreyScale            (or ;Effect=Sepia, only when that effect is on)
//   ;Sound=/music/theme.mp3      (always, possibly empty)
//   ;Output=/videos/holiday.avi  (always, possibly empty)
//   /photos/IMG_0001.jpg<TAB>Arrival at the harbour
//   /photos/IMG_0002.jpg         (caption equal to the file name is not written)
//
// Lines end in CR LF when written; a CR, an LF or the pair end a line when read.
// Only the pictures, captions, soundtrack, output and colour effect are kept;
// every other option of the project keeps its value across a load.
#include <functional>
#include <string>
#include <vector>

namespace sdm {

class TSlideProject;

// What a saved slideshow holds, apart from how it is laid out in the file.
struct TProjectFileData {
  bool Greyscale = false;
  bool Sepia = false;
  std::string SoundPath;
  std::string OutputPath;
  std::vector<std::string> Pictures;
  std::vector<std::string> Captions;  // same length as Pictures
};

// The lines Save writes, in order.
std::vector<std::string> ProjectLines(const TProjectFileData& data);

// The name Save writes to: ".sdm" is appended unless the name already ends in
// exactly ".sdm" (so "show.SDM" becomes "show.SDM.sdm").
std::string ProjectFileName(const std::string& chosenName);

// Writes the lines, each ended by CR LF, replacing any file of that name. The
// new content goes to a temporary file beside it that is renamed over the old
// one, so a failed write leaves the old file (or no file) behind. Throws EError
// with the system's message when the file cannot be written.
void WriteProjectLines(const std::string& fileName, const std::vector<std::string>& lines);

// Reads all lines of a text file, a line ending at CR, LF or CR LF; a break at
// the very end does not start another line. Throws EError with the system's
// message when the file cannot be read (or is too large to be a project).
std::vector<std::string> ReadProjectLines(const std::string& fileName);

// The window operations a load goes through, so the same rules apply as when
// the user picks a soundtrack or adds pictures by hand.
struct TProjectLoadActions {
  // Takes a sound file as soundtrack when its reader opens it; a name of no
  // known sound format changes nothing; a known format that cannot be read
  // throws, which ends the load there.
  std::function<void(const std::string& path)> SetSoundtrack;
  // Empties both lists (the picture Reset command).
  std::function<void()> ClearPictures;
  // Adds picture lines ("path" or "path<TAB>caption"), skipping and logging
  // missing and unsupported files.
  std::function<void(const std::vector<std::string>& lines)> AddFiles;
};

// Applies the lines of a project file through the actions; the effect and the
// output path go to the two setters. Header lines take effect one by one, so
// a soundtrack that fails leaves the lines before it applied and nothing after.
void ApplyProjectLines(std::vector<std::string> lines, const TProjectLoadActions& actions,
                       const std::function<void(bool greyscale, bool sepia)>& setEffects,
                       const std::function<void(const std::string& outputPath)>& setOutput);

// Save and Load over the slideshow project, without a window. SaveProject
// returns the name it wrote (after the ".sdm" rule). Both remember the file
// as the project's ProjectFile. LoadProject first looks for pictures that are
// not at their stored paths beside the project file and in the folders below
// it (logging each it finds), and records those it still leaves out in the
// project's LeftOutPictures.
std::string SaveProject(TSlideProject& project, const std::string& chosenName);
void LoadProject(TSlideProject& project, const std::string& fileName, const TProjectLoadActions& actions);

}  // namespace sdm
