#pragma once
// Unit U_FLAC.
// TFLACFile: FLAC files ("*.flac", kind 9), decoded by libav's FLAC decoder,
// with their real rate, channels, length and samples. Tags: ID3v2, else
// ID3v1 (the kinds it writes and removes), followed by the file's own Vorbis
// comments.
#include "audio/readers/AvAudioStream.h"

namespace sdm {

class TFLACFile : public TAvAudioReader {
public:
  // Raises "Invalid FLAC file <name>" for a file that is none, or the
  // file-open error.
  explicit TFLACFile(const std::string& fileName);
  uint8_t GetFormatKind() override { return akFlac; }
  // ID3v1 and ID3v2 only: its own comments are not written.
  uint32_t WritableTagKinds() override { return tkId3v1 | tkId3v2; }
};

// The comments of the VORBIS_COMMENT block of the FLAC stream starting at
// offset (after any ID3v2 tag); empty when there is none or it is damaged.
TTagLines ReadFlacComments(const std::string& fileName, int64_t offset);

}  // namespace sdm
