#pragma once
// Unit U_Ac3.
// TAc3File: AC-3 files ("*.ac3", kind 7). The reader finds the frames itself
// and hands them one by one to libavcodec's AC-3 decoder, which stands in for
// the Windows AC-3 library. It has no limit of one open file.
#include <memory>
#include <vector>

#include "audio/AudioFileStream.h"
#include "audio/U_AudioBase.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace sdm {

// The size in bytes of an AC-3 frame with these sample-rate and frame-size
// codes (A/52 table 5.18); 0 for codes that name no frame.
int Ac3FrameBytes(int sampleRateCode, int frameSizeCode);

class TAc3File : public TAbstractAudioFile {
public:
  static constexpr int SamplesPerFrame = 1536;

  // Raises "AZID.DLL not found. AC3 support is not enabled" when this FFmpeg
  // build has no AC-3 decoder, "Invalid AC3 file" when no frame is found or
  // the first cannot be decoded, or the file-open error.
  explicit TAc3File(const std::string& fileName);
  ~TAc3File() override;

  uint32_t GetBitRate() override;
  uint32_t GetChannels() override { return static_cast<uint32_t>(Channels); }
  int64_t GetFileSize() override { return stream_->Size(); }
  int64_t GetPosition() override { return PcmPos; }
  int64_t GetPcmSize() override { return PcmSize; }
  uint32_t GetSampleRate() override;
  uint32_t GetBitsPerSample() override { return 16; }
  uint8_t GetFormatKind() override { return akAc3; }
  // Rounds down to a sample frame and starts at the frame that holds it.
  void Seek(int64_t position) override;
  bool CanRead() override { return true; }
  // Fills the request, silence after the end, and says with count where the
  // sound ended; false at the end. A damaged frame plays as silence and is
  // counted in DamagedBlocks.
  bool ReadPcm(void* buffer, int32_t& count) override;
  // Tags go only before the stream (ID3v2): raw AC-3 readers take anything
  // after the last frame for part of it.
  uint32_t WritableTagKinds() override { return tkId3v2; }
  // Tags appended by older versions (ID3v1, APEv2) may still be removed.
  bool RemoveTags(uint32_t kinds) override {
    TagProblem.clear();
    return (kinds & tkVorbis) ? !RefusesKinds(kinds) : RemoveKinds(kinds);
  }

  int Channels = 0;
  int SampleRateCode = 0;
  int FrameSizeCode = 0;
  int64_t FirstFrameOffset = 0;
  int FrameSize = 0;
  int64_t PcmSize = 0;
  int64_t PcmPos = 0;

private:
  enum class TFrameResult { Decoded, Damaged, End };
  int64_t FindSync(int64_t from, int step, uint8_t* header5);
  TFrameResult DecodeFrame();
  uint32_t FrameBytes() const { return static_cast<uint32_t>(SamplesPerFrame * 2 * Channels); }
  bool StartDecoder();
  void Release();

  std::unique_ptr<TWFileStream> stream_;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  std::vector<int16_t> frameBuffer_;
  std::vector<int16_t> converted_;
  uint32_t remaining_ = 0;  // bytes of frameBuffer_ still to deliver
  bool ended_ = false;
};

}  // namespace sdm
