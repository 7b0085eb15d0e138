#pragma once
// Unit U_wav.
// TWavAudioFile: uncompressed PCM from RIFF/WAVE files, delivered as the
// file's bytes unchanged.
#include <cstdint>
#include <memory>

#include "audio/AudioFileStream.h"
#include "audio/U_AudioBase.h"
#include "audio/readers/WavChunk.h"

namespace sdm {

// The Windows wave format record, 18 bytes.
struct TWaveFormatRecord {
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t ExtraSize = 0;
};

class TWavAudioFile : public TAbstractAudioFile {
public:
  // Opens and checks the file; raises "Bad .wav format. ..." or the file-open
  // error, in which case nothing stays open.
  explicit TWavAudioFile(const std::string& fileName);
  ~TWavAudioFile() override;

  uint32_t GetBitRate() override;
  uint32_t GetChannels() override { return Format.Channels; }
  int64_t GetFileSize() override;
  int64_t GetPosition() override;
  // The data chunk's size as far as the file holds it: a header that claims
  // hours for seconds of samples is not believed.
  int64_t GetPcmSize() override;
  uint32_t GetSampleRate() override { return Format.SamplesPerSec; }
  uint32_t GetBitsPerSample() override { return Format.BitsPerSample; }
  uint8_t GetFormatKind() override { return akWav; }
  void Seek(int64_t position) override;
  bool CanRead() override { return true; }
  bool ReadPcm(void* buffer, int32_t& count) override;

  TWaveFormatRecord Format;

private:
  std::unique_ptr<TWFileStream> stream_;
  std::unique_ptr<TWaveChunk> Chunk;  // the data chunk after construction
};

}  // namespace sdm
