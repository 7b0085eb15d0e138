#include "audio/tags/ReaderTags.h"

#include <exception>

#include "audio/tags/U_ApeTag.h"
#include "audio/tags/U_ID3.h"

namespace sdm {

TFileTags ReadFileTags(TAbstractAudioFile& reader, uint32_t kinds) {
  TFileTags found;
  try {
    if (kinds & tkId3v2) {
      TId3V2Tag tag;
      found.HasId3v2 = tag.ReadFromFile(reader.FileName) && tag.Present;
      if (found.HasId3v2) {
        found.Id3v2 = tag.Values;
        reader.Id3v2Size = tag.TotalSize;
      }
    }
    if (kinds & tkId3v1) {
      TId3V1Tag tag;
      found.HasId3v1 = tag.ReadFromFile(reader.FileName) && tag.Present;
      if (found.HasId3v1) found.Id3v1 = tag.Values;
    }
    if (kinds & tkApeV2) {
      TAPEV2Tag tag;
      found.HasApe = tag.ReadFromFile(reader.FileName);
      if (found.HasApe) found.Ape = tag.Values;
    }
  } catch (const std::exception&) {
  }
  reader.TagKinds = (found.HasId3v1 ? uint32_t{tkId3v1} : 0u) | (found.HasId3v2 ? uint32_t{tkId3v2} : 0u) |
                    (found.HasApe ? uint32_t{tkApeV2} : 0u);
  return found;
}

}  // namespace sdm
