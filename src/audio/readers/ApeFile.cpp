#include "audio/readers/ApeFile.h"

#include "audio/tags/ReaderTags.h"

namespace sdm {

TApeFile::TApeFile(const std::string& fileName) : TAvAudioReader(fileName) {
  if (!AvFormatAvailable("ape", {"ape"})) throw EError("APE format support library (MACDLL.DLL) not found.");
  // Monkey's Audio frames stand alone and are timed in samples.
  Av.ExactSeek = true;
  if (Av.OpenContainer(fileName, {"ape"}) < 0 || OpenAudio(0) < 0) throw EError("Invalid APE file " + fileName);
  TFileTags t = ReadFileTags(*this, tkId3v1 | tkId3v2 | tkApeV2);
  Tags = t.HasApe ? t.Ape : t.HasId3v2 ? t.Id3v2 : t.Id3v1;
}

}  // namespace sdm
