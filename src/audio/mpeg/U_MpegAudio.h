#pragma once
// Unit U_MpegAudio.
// The MPEG audio reader (Layers I, II and III of MPEG-1, MPEG-2 and 2.5):
// TFrameLoader keeps the index of the file's frames and the loaded frame's
// bytes with the bit reader the layer decoders use; TMpDec is the decoder
// front end; TMpegAudioFile is the reader the facade builds for "*.mp[123]".
// The play time comes from the complete frame index, never from a Xing or
// VBRI summary, so it is right for constant and variable bit rates alike.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioFileStream.h"
#include "audio/U_AudioBase.h"
#include "audio/mpeg/BaseDecoder.h"
#include "audio/mpeg/MpegHeader.h"

namespace sdm {

class TFrameLoader {
public:
  static constexpr int FrameDataSize = 8192;

  // Raises "Invalid MPEG file <name>" when the file cannot be opened or holds
  // no frame.
  explicit TFrameLoader(const std::string& fileName);
  ~TFrameLoader();
  TFrameLoader(const TFrameLoader&) = delete;
  TFrameLoader& operator=(const TFrameLoader&) = delete;

  bool OpenFile(const std::string& fileName);
  void Reset();
  // Completes the index synchronously with a second file handle.
  void ScanAll();
  // Loads frame n into FrameData; false when n is beyond the index.
  bool LoadFrame(int n);
  // Extends the index when needed and loads the next frame; false at the end.
  bool NextFrame();
  int64_t GetTotalSamples() const { return SampleTotal; }
  void SetCurrentFrame(int n) { CurrentFrame = n < 0 ? 0 : n; }

  // The bit reader over FrameData: never reads past its 8192 bytes (0 there).
  uint32_t GetBit();
  uint32_t GetBits(int n);  // n <= 25
  void CopyBytes(uint8_t* dest, int count);

  // Index figures, read under the lock.
  int Frames();
  uint32_t FrameOffset(int n);
  uint32_t FrameLengthAt(int n);
  int FrameEndTime(int n);

  std::string FileName;
  std::unique_ptr<TWFileStream> Stream;
  bool IsOpen = false;
  bool ScanComplete = false;
  uint32_t AudioBytes = 0;
  uint32_t ScannedEnd = 0;
  TMpegHeader FirstHeader;
  TMpegHeader CurrentHeader;
  int FrameCount = 0;
  double TotalMs = 0.0;
  int64_t SampleTotal = 0;
  uint8_t FrameData[FrameDataSize] = {};
  uint32_t BitPos = 0;
  int CurrentFrame = 0;
  bool FrameLoaded = false;

private:
  void Append(const TMpegHeader& h);
  void Complete();

  std::vector<uint32_t> frameOffsets_, frameLengths_;
  std::vector<int32_t> frameEndTimes_;
  std::mutex lock_;
};

class TMpDec {
public:
  TMpDec() = default;
  ~TMpDec();
  TMpDec(const TMpDec&) = delete;
  TMpDec& operator=(const TMpDec&) = delete;

  bool OpenDecoder(TFrameLoader* loader);
  uint32_t GetFrameBytes() const;
  // Decodes the loaded frame into buffer (GetFrameBytes bytes); false while a
  // seek is priming the decoder.
  bool DecodeFrame(void* buffer);
  bool SeekFrame(int n);
  TBaseDecoder* Decoder() { return decoder_.get(); }

private:
  std::unique_ptr<TBaseDecoder> decoder_;
  int layerCode_ = 3;
  TFrameLoader* loader_ = nullptr;
  bool busy_ = false;
};

class TMpegAudioFile : public TAbstractAudioFile {
public:
  explicit TMpegAudioFile(const std::string& fileName);
  ~TMpegAudioFile() override;

  uint32_t GetBitRate() override;
  uint32_t GetChannels() override;
  int64_t GetFileSize() override { return FileSizeValue; }
  int64_t GetPosition() override { return PcmPos; }
  int64_t GetPcmSize() override;
  uint32_t GetSampleRate() override;
  uint32_t GetBitsPerSample() override { return 16; }
  uint8_t GetFormatKind() override { return akMpeg; }
  void Seek(int64_t position) override;
  double GetPlayTime() override;
  bool CanRead() override { return true; }
  bool ReadPcm(void* buffer, int32_t& count) override;

  TFrameLoader& Loader() { return *loader_; }
  TMpDec& Decoder() { return *decoder_; }

private:
  void ReadTags();
  void NoteFrame(int n);

  std::unique_ptr<TFrameLoader> loader_;
  std::unique_ptr<TMpDec> decoder_;
  std::vector<uint8_t> pcmBuffer_;
  uint32_t FrameBytes = 0;
  uint32_t Remaining = 0;
  int64_t FileSizeValue = 0;
  int64_t PcmPos = 0;
};

}  // namespace sdm
