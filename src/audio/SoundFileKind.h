#pragma once
// What a file holds, told from its bytes rather than its name, for the
// messages that refuse a soundtrack and for the facade's choice of reader
// when a file's name and content disagree (an AAC stream named .mp3).
#include <cstddef>
#include <cstdint>
#include <string>

namespace sdm {

class TAudioFile;

// The format kind the file's bytes show (akWav, akMpeg, akAac, ...), looked
// for after a leading ID3v2 tag: a signature (RIFF WAVE, OggS, fLaC, MAC,
// MPCK/MP+, the ASF header, an MP4 "ftyp"), or for the formats without one
// (MPEG audio, AC-3, ADTS AAC) frames whose lengths lead each to the next
// over a run too long to be chance. akNone when it shows none of them.
uint8_t SniffFormatKind(const std::string& path);
// True when bytes[0..size) hold at least `run` MPEG audio frames in a row
// from `at` (each header's length leading to the next header of the same
// version, layer and rate), or frames that chain up to the very end.
bool MpegFramesChainAt(const uint8_t* bytes, size_t size, size_t at, int run);
// True when frames of MPEG audio that lead one to the next start somewhere in
// the file's first 64 KiB after a leading ID3v2 tag (in a RIFF wrapper too).
bool HoldsMpegFrames(const std::string& path);

// A short description of what the file holds, for a message: "an empty
// file", "a folder", "raw ADTS AAC (Advanced Audio Coding)", "data of no known
// sound format"...
std::string DescribeFileContent(const std::string& path);

// Opens path through the facade, or throws EError naming the file, the
// reader's reason and what the file holds. A name of no known sound kind is
// refused the same way.
void OpenSoundFile(TAudioFile& audio, const std::string& path);

}  // namespace sdm
