#include "audio/readers/WavChunk.h"

#include <cstring>

namespace sdm {

int32_t WaveChunkKind(const char* id) {
  static const char* const kIds[] = {"RIFF", "LIST", "fmt", "data", "fact", "DISP", "PAD "};
  for (int32_t k = 0; k < 7; ++k)
    if (std::memcmp(id, kIds[k], k == ckFmt ? 3 : 4) == 0) return k;
  return ckUnknown;
}

bool TWaveChunk::ReadHeader(TWFileStream& stream) {
  bool listType = !SubChunk;
  SubChunk = false;
  ChunkKind = ckUnknown;
  uint8_t h[8];
  Complete = stream.Read(h, 8) == 8;
  if (!Complete) {
    std::memset(Id, 0, 4);
    Size = 0;
    DataStart = stream.Position();
    return false;
  }
  std::memcpy(Id, h, 4);
  Size = h[4] | (h[5] << 8) | (h[6] << 16) | (uint32_t{h[7]} << 24);
  ChunkKind = WaveChunkKind(Id);
  if (listType && (ChunkKind == ckRiff || ChunkKind == ckList)) Complete = stream.Read(ListType, 4) == 4;
  DataStart = stream.Position();
  return ChunkKind != ckUnknown;
}

}  // namespace sdm
