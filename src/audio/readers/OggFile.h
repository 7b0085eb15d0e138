#pragma once
// Unit U_Ogg.
// TOggFile: Ogg Vorbis files ("*.ogg", kind 5) through libvorbisfile's
// callback interface over our file stream; the Vorbis comments are its tags
// (kind 8), read and rewritten by TOggTag.
#include <vorbis/vorbisfile.h>

#include <memory>

#include "audio/AudioFileStream.h"
#include "audio/U_AudioBase.h"

namespace sdm {

// The stream origin of a seek request of the Vorbis file library: 0, 1 and 2
// are the start, the current position and the end; anything else raises
// "Bad file origin".
int OggSeekOrigin(int whence);

class TOggFile : public TAbstractAudioFile {
public:
  // Raises "\"<name>\" is not a Ogg bitstream" for a file libvorbisfile
  // cannot open, or the file-open error.
  explicit TOggFile(const std::string& fileName);
  ~TOggFile() override;

  uint32_t GetBitRate() override;
  uint32_t GetChannels() override;
  int64_t GetFileSize() override;
  int64_t GetPosition() override;
  int64_t GetPcmSize() override;
  uint32_t GetSampleRate() override;
  uint32_t GetBitsPerSample() override { return 16; }
  uint8_t GetFormatKind() override { return akOgg; }
  void Seek(int64_t position) override;
  bool CanRead() override { return true; }
  // Fills the request as far as the stream goes and zero-fills the rest.
  bool ReadPcm(void* buffer, int32_t& count) override;
  // Only the Vorbis comments (kind 8) are written and removed; a rewrite
  // that could not keep every page is refused (TagProblem says why).
  bool RemoveTags(uint32_t kinds) override;
  bool WriteTags(uint32_t kinds) override;
  uint32_t WritableTagKinds() override { return tkVorbis; }

private:
  std::unique_ptr<TWFileStream> stream_;  // owned by the Vorbis file once open
  OggVorbis_File file_{};
  vorbis_info* info_ = nullptr;
  int64_t totalSamples_ = 0;
  int bitstream_ = 0;
};

}  // namespace sdm
