#pragma once
// Unit Wav_Head.
// TWaveChunk: one RIFF chunk header met while walking a WAV file.
#include <cstdint>
#include <memory>

#include "audio/AudioFileStream.h"

namespace sdm {

// Chunk kinds, the index in the table of known identifiers.
enum : int32_t {
  ckUnknown = -1,
  ckRiff = 0,
  ckList = 1,
  ckFmt = 2,
  ckData = 3,
  ckFact = 4,
  ckDisp = 5,
  ckPad = 6,
};

class TWaveChunk {
public:
  explicit TWaveChunk(bool subChunk = false) : SubChunk(subChunk) {}

  // Reads identifier and size (and the type of RIFF/LIST chunks), sets
  // DataStart to the position after them; returns whether the identifier is
  // known. A header cut short by the end of the file reads as unknown with
  // Complete false.
  bool ReadHeader(TWFileStream& stream);

  char Id[4] = {};
  uint32_t Size = 0;
  char ListType[4] = {};
  int64_t DataStart = 0;
  bool SubChunk = false;
  int32_t ChunkKind = ckUnknown;
  bool Complete = false;            // the whole header was there
  std::unique_ptr<uint8_t[]> Data;  // never filled by the WAV reader
};

// The kind of a 4-byte identifier ("fmt" compares three bytes only).
int32_t WaveChunkKind(const char* id);

}  // namespace sdm
