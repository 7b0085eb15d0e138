#pragma once
// Language files as text a translator can read and edit, and back. The
// shipped translations are kept in this form and compiled into .SPK files
// when the program is built (slidomat-spk).
//
//   # comment
//   LangId=040C                      header values, one per line
//   ListName=Français
//   Notes=first line                 Notes2=, Notes3=, ... further lines
//   Flag=flags/fr.bmp                a BMP file, relative to the source
//   MainDlg.Caption=Slidomat         path.Property=text
//   MainDlg.go_btn.Hint=Start        Caption, Hint, ShowHint (0/1), Alignment
//   MainDlg.main_ts.Items[0]=...     (0/1/2) and Items[0], Items[1], ...
//
// Texts stand as written, spaces included; \n, \r, \t and \\ stand for line
// breaks, tabs and a backslash. Every text of a source counts as translated.
// Turning an .SPK into text writes the texts not marked as translated (those
// of a source-language file) as lines starting with "#~", which the compiler
// skips: a translator removes the "#~" of each line once it is translated.
#include <string>
#include <vector>

#include "localization/LanguageRecord.h"

namespace sdm {

struct TLangSource {
  TLanguageRecord header;  // header values; Flag holds the picture's bytes
  std::string flagFile;    // the Flag line as written ("" when none)
  std::vector<TLangEntry> entries;
};

// Parses a source. Errors raise EError("name:line: problem").
TLangSource ParseLangSource(const std::string& text, const std::string& sourceName);
// The source text of a language file; the flag is named flagFile.
std::string FormatLangSource(const TLangSource& source);

// Writes the .SPK file (revision from the header, 1 to 4); raises when the
// file cannot be written.
void WriteLanguageFile(const TLangSource& source, const std::string& fileName);
// Reads a .SPK file of revision 1 to 4; raises when it cannot be read.
TLangSource ReadLanguageFile(const std::string& fileName);

}  // namespace sdm
