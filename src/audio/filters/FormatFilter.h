#pragma once
// Unit U_resample.
// TRsmpFilter: presents a reader's PCM as 16-bit samples at a target rate and
// channel count: widens 8-bit sources, mixes sources of more than two
// channels down to stereo, converts the rate with TResampler and turns mono
// into stereo or stereo into mono. At the end of a resampled source the
// converter's tail is played out up to where the samples the source really
// gave end, converted (whatever its header claimed), in whole sample frames;
// then the rest of a request is zero-filled.
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/U_AudioBase.h"
#include "audio/filters/Resampler.h"

namespace sdm {

class TRsmpFilter : public TAbstractAudioFile {
public:
  // source is not owned and must outlive the filter.
  TRsmpFilter(TAbstractAudioFile* source, uint32_t targetRate, uint32_t targetChannels);
  ~TRsmpFilter() override;

  uint32_t GetBitRate() override { return Source->GetBitRate(); }
  uint32_t GetChannels() override { return TargetChannels; }
  int64_t GetFileSize() override { return Source->GetFileSize(); }
  int64_t GetPosition() override { return ToOutput(Source->GetPosition()); }
  int64_t GetPcmSize() override { return ToOutput(Source->GetPcmSize()); }
  uint32_t GetSampleRate() override { return TargetRate; }
  uint32_t GetBitsPerSample() override { return 16; }
  uint8_t GetFormatKind() override { return Source->GetFormatKind(); }
  void Seek(int64_t position) override;
  bool CanRead() override { return true; }
  // Raises EError for a source this filter cannot convert (no channels or
  // more than 18, sample widths other than 8 or 16 bits, absurd rates).
  bool ReadPcm(void* buffer, int32_t& count) override;

  std::unique_ptr<TResampler> Resampler;
  TAbstractAudioFile* Source;
  int32_t InBlockBytes = 4096;
  int32_t OutBlockBytes = 0;
  uint32_t TargetRate;
  int32_t CarryBytes = 0;
  int32_t OutRemaining = 0;
  int32_t OutOffset = 0;
  uint32_t TargetChannels;
  uint32_t TargetBits = 16;
  bool NeedResample = false;
  bool NeedChannelChange = false;
  bool ToStereo = false;

private:
  int64_t ToMixed(int64_t sourceBytes) const;
  int64_t ToOutput(int64_t sourceBytes);
  bool ReadWidened(uint8_t* buffer, int32_t& count);
  bool ReadMixed(uint8_t* buffer, int32_t& count);
  bool ReadResampled(uint8_t* buffer, int32_t& count);
  bool ReadConverted(uint8_t* buffer, int32_t& count);

  bool supported_ = true;
  bool eightBit_ = false;
  uint32_t sourceChannels_ = 0;
  uint32_t mixChannels_ = 0;                 // what the resampler sees: the source's, at most 2
  std::vector<int32_t> mixLeft_, mixRight_;  // per source channel, 14-bit fixed point
  bool sourceEnded_ = false;
  int64_t resampledPos_ = 0;  // bytes of converter output delivered
  int64_t resampledEnd_ = 0;  // ... and where the source's end lies in them
  int64_t sourceRead_ = 0;    // bytes of mixed source PCM read so far
  std::vector<uint8_t> inBuffer_;
  std::vector<uint8_t> outBuffer_;
  std::vector<uint8_t> temp_;   // 8-bit samples before widening
  std::vector<uint8_t> temp2_;  // samples before channel conversion
  std::vector<uint8_t> temp3_;  // samples before the mix-down
};

}  // namespace sdm
