#pragma once
// The files the window program was started with, as a file manager passes
// them through the desktop entry (Exec=slidomat %F): a project file to load,
// pictures and folders of pictures to add to a new slideshow, and other files
// that may be a soundtrack. What cannot be taken is kept with the reason, so
// the window can say so instead of opening empty without a word.
#include <string>
#include <vector>

namespace sdm {

enum class TLeftOutReason {
  NotFound,      // no such file or folder
  NotSupported,  // a file that is neither a picture nor a project
  EmptyFolder,   // a folder without a picture in it
};

struct TLeftOut {
  std::string Path;
  TLeftOutReason Reason;
};

struct TStartArguments {
  std::string ProjectFile;            // the first ".sdm" named
  std::vector<std::string> Pictures;  // in the order named; a folder's by name
  std::vector<std::string> Others;    // existing files that are not pictures: perhaps a soundtrack
  std::vector<TLeftOut> LeftOut;
};

// True for the program's switches ("-co", "/CO", "--anything"): a word that
// names no existing file and begins with "-", or with "/" without a further
// "/" in it. They are the language list's business, not files.
bool IsProgramSwitch(const std::string& argument);

// Sorts the arguments out. A picture is a file whose name IsSupportedPictureName
// accepts; a folder gives its pictures (not those of its sub-folders, not
// hidden ones) sorted by name.
TStartArguments SortStartArguments(const std::vector<std::string>& arguments);

}  // namespace sdm
