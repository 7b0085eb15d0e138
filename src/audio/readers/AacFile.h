#pragma once
// TAacFile: AAC audio ("*.aac" ADTS streams and "*.m4a" MP4 files, kind 10),
// decoded by libav's demuxers and AAC decoder. Its tags are not read or
// written beyond a leading ID3v2 tag of an ADTS stream.
#include "audio/readers/AvAudioStream.h"

namespace sdm {

class TAacFile : public TAvAudioReader {
public:
  // Raises "Invalid AAC file <name>" for a file that holds no AAC audio, or
  // the file-open error.
  explicit TAacFile(const std::string& fileName);
  uint8_t GetFormatKind() override { return akAac; }
  bool RemoveTags(uint32_t kinds) override { return !RefusesKinds(kinds); }
  bool WriteTags(uint32_t kinds) override { return !RefusesKinds(kinds); }
  uint32_t WritableTagKinds() override { return 0; }
};

}  // namespace sdm
