#pragma once
// Unit U_ID3.
// ID3 tags: TId3V1Tag (the 128-byte block at the end of a file, versions 1
// and 1.1) and TId3V2Tag (a leading tag: 2.2, 2.3 and 2.4 read, 2.3 written in
// UTF-16). Both translate between the tag and a list of NAME=value lines.
//
// Each object is short-lived: point it at a file (ReadFromFile), copy or
// replace Values, then WriteToFile or RemoveFromFile, which use what the read
// found (presence, offsets, sizes) to know what to replace. Writers build the
// new file content completely before touching the file.
#include <cstdint>
#include <string>

#include "audio/AudioFileStream.h"
#include "audio/U_AudioBase.h"

namespace sdm {

// Genre names of ID3v1, numbers 0-147.
constexpr int Id3GenreCount = 148;
const char* Id3GenreName(int number);  // nullptr outside 0-147
// Number of the genre whose name equals name ignoring case; -1 when none.
int Id3GenreNumber(const std::string& name);

class TId3V1Tag {
public:
  bool Present = false;  // a "TAG" block was found
  int64_t Offset = 0;    // offset of the 128-byte block
  int BlockSize = 128;
  std::string FileName;
  int Version = 0;  // 1 = ID3v1, 2 = ID3v1.1
  TTagLines Values;

  // True when 128 bytes could be read from the end (Present tells whether
  // they were a tag). Never throws: an unopenable file reads as false.
  bool ReadFromFile(const std::string& fileName);
  // Overwrites the block in place or appends one; true when 128 bytes were
  // written. Never throws.
  bool WriteToFile();
  // Cuts the block off when there is one; always true. A file-open error
  // propagates.
  bool RemoveFromFile();

  // The 128-byte block for the current Values (exposed for tests).
  std::string BuildBlock() const;
  // Parses a 128-byte block into Values/Version; false when it is no tag.
  bool ParseBlock(const uint8_t* block);
};

class TId3V2Tag {
public:
  bool Present = false;
  int64_t Offset = 0;     // where the tag was looked for (the file start)
  int64_t TotalSize = 0;  // header, frames, padding and footer
  std::string FileName;
  TTagLines Values;
  uint8_t MajorVersion = 0;
  uint8_t WriteEncoding = 1;  // UTF-16 with byte-order mark

  // Reads the tag at the start of the file; false when the file cannot be
  // read or has no tag. Never throws.
  bool ReadFromFile(const std::string& fileName);
  // Reads a tag at the stream's current position and always restores that
  // position; returns Present. Never throws. A declared size past the end of
  // the file is read as far as the file goes (never allocating more).
  bool ReadFromStream(TWFileStream& stream);
  // Replaces the old tag (if any) by a 2.3 tag of Values; true. A file-open
  // error propagates.
  bool WriteToFile();
  // Removes the tag when one was found; true. A file-open error propagates.
  bool RemoveFromFile();

  // The complete 2.3 tag for the current Values (exposed for tests).
  std::string BuildTag() const;
  // Parses the bytes after the 10-byte header (exposed for tests).
  void ParseFrames(const uint8_t* data, size_t size, uint8_t majorVersion);
};

// Total size of an ID3v2 tag from its 10-byte header, or 0 when the bytes are
// no ID3v2 header. The top bit of the size bytes is deliberately not masked.
int64_t Id3v2TotalSize(const uint8_t* header10);

}  // namespace sdm
