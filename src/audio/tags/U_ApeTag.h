#pragma once
// Unit U_ApeTag.
// TAPEV2Tag: the APEv2 tag at the end of a file (before an ID3v1 block when
// there is one), read into and written from NAME=value lines in UTF-8.
#include <cstdint>
#include <string>

#include "audio/U_AudioBase.h"

namespace sdm {

class TAPEV2Tag {
public:
  bool Present = false;
  bool Id3v1Present = false;
  int64_t TagOffset = 0;    // first byte of the tag (header if any, else first item)
  int64_t ItemsOffset = 0;  // first item
  int64_t TagSize = 0;      // items + footer, + 32 with a header
  int64_t ItemsSize = 0;
  std::string FileName;
  TTagLines Values;

  // Returns Present. A file-open error propagates. Tags of 1000 item bytes or
  // more, or of another version than 2000, count as absent.
  bool ReadFromFile(const std::string& fileName);
  // Replaces the old tag, or goes before an ID3v1 block, or is appended; true.
  bool WriteToFile();
  // Removes the tag when present; true.
  bool RemoveFromFile();

  // Items and footer for the current Values (exposed for tests).
  std::string BuildTag() const;
};

}  // namespace sdm
