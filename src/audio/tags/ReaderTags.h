#pragma once
// Unit ReaderTags.
// The tags a reader finds at the start and end of its file (ID3v2, ID3v1,
// APEv2), read in one place for the readers that each pick their list by
// their own rule.
#include <cstdint>

#include "audio/U_AudioBase.h"

namespace sdm {

struct TFileTags {
  bool HasId3v1 = false, HasId3v2 = false, HasApe = false;
  TTagLines Id3v1, Id3v2, Ape;
};

// Reads the kinds asked for (tkId3v1 | tkId3v2 | tkApeV2) from the reader's
// file and records what it found in its TagKinds and Id3v2Size. Tags are a
// courtesy: a file that cannot be read for them simply has none.
TFileTags ReadFileTags(TAbstractAudioFile& reader, uint32_t kinds);

}  // namespace sdm
