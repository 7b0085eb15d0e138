#pragma once
// What a file holds, told from its bytes rather than its name, for the
// messages that refuse a soundtrack and for the facade's choice of reader
// when a file's name and content disagree (an AAC stream named .mp3).
#include <string>

namespace sdm {

class TAudioFile;

// A short description of what the file holds, for a message: "an empty
// file", "a folder", "raw ADTS AAC (Advanced Audio Coding)", "data of no known
// sound format"...
std::string DescribeFileContent(const std::string& path);

// Opens path through the facade, or throws EError naming the file, the
// reader's reason and what the file holds. A name of no known sound kind is
// refused the same way.
void OpenSoundFile(TAudioFile& audio, const std::string& path);

}  // namespace sdm
