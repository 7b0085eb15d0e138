#pragma once
// Unit AvAudio.
// TAvAudioStream: one audio stream of a file decoded by libavformat and
// libavcodec into interleaved 16-bit PCM. The readers that stand in for the
// Windows decoding libraries (WMA/ASF, Monkey's Audio, Musepack, FLAC) sit on
// it. The file is read through TWFileStream, so only regular files are
// opened, and every error comes back as a libav error code for the reader to
// turn into its own message. A damaged packet or frame met while reading is
// reported (OnDamage) and left out, and the reading goes on after it.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/U_AudioBase.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;

namespace sdm {

class TWFileStream;
struct TAvIo;

// libav's code for "there is no decoder for this": reported by readers that
// find the container but cannot decode its stream.
int AvDecoderNotFound();

// Keeps libav's demuxers and decoders from printing on stderr.
void AvQuietReading();

// True when this FFmpeg build has the demuxer and every named decoder.
bool AvFormatAvailable(const char* demuxer, std::initializer_list<const char*> decoders);

// Converts one decoded frame (any sample format libav decoders produce) to
// interleaved signed 16-bit samples appended to out. Float samples are scaled
// by floatScale and rounded to nearest, as FFmpeg's own converter does with
// 32768; wider integers keep their top 16 bits.
void AppendS16(const AVFrame* frame, int channels, float floatScale, std::vector<int16_t>& out);

// The WAVE channel mask of a decoded layout when its channels are in mask
// order, else 0 (the usual layout for the count).
uint32_t ChannelMaskOf(const AVCodecContext* codec);

class TAvAudioStream {
public:
  TAvAudioStream();
  ~TAvAudioStream();
  TAvAudioStream(const TAvAudioStream&) = delete;
  TAvAudioStream& operator=(const TAvAudioStream&) = delete;

  // Opens the container with the first of the named libav demuxers that
  // accepts it (e.g. {"mpc", "mpc8"}). Returns
  // 0 or a negative libav error code. The file-open error of TWFileStream
  // propagates.
  int OpenContainer(const std::string& fileName, std::initializer_list<const char*> demuxers);
  int StreamCount() const;
  bool IsAudio(int stream) const;
  // Opens the decoder of that stream and learns the format; 0 or an error.
  // A stream without a rate, channels or a known length is found out by
  // decoding it through once.
  int OpenDecoder(int stream);

  // Fills out with up to bytes of PCM (whole sample frames); returns the
  // bytes delivered, fewer only at the end of the stream.
  int32_t Read(uint8_t* out, int32_t bytes);
  // Moves to sample frame `frame`: the next Read starts exactly where reading
  // from the start would be at that frame.
  void SeekFrame(int64_t frame);

  AVFormatContext* Format() const { return format_; }
  const std::string& DemuxerName() const { return demuxer_; }

  uint32_t SampleRate = 0;
  uint32_t Channels = 0;
  uint32_t ChannelMask = 0;
  int64_t TotalFrames = 0;    // sample frames per channel
  int64_t FramePosition = 0;  // next sample frame Read delivers
  int64_t BitRate = 0;        // bits per second, from the container or the size and length
  int64_t FileSize = 0;
  // Set by readers whose demuxer gives sample-exact times (one packet per
  // codec frame, times counted in samples): a seek then jumps near the
  // target through the container and decodes the rest. Without it a seek
  // decodes its way there from the start, or from here when it lies ahead.
  bool ExactSeek = false;
  // Set when TotalFrames is exact and what the decoder gives beyond it is
  // padding: Read then ends there.
  bool StopAtTotal = false;
  // Set when the container's length claimed more than its packets hold and
  // TotalFrames was brought down to where the packets end.
  bool LengthCorrected = false;
  // Called for each damaged packet or frame met while reading (the reader
  // counts them); the reading goes on with the next.
  std::function<void(const std::string&)> OnDamage;

private:
  int OpenFormat();
  int StartDecoder(int stream);
  int Restart();
  bool DecodeNext();
  bool SeekByDecoding();
  void Close();
  int64_t CountFrames();
  // Where the stream's packets end, in sample frames, read through without
  // decoding; -1 when they carry no times.
  int64_t DemuxedEnd();
  void Damage(const std::string& what);
  int ReadPacket();

  std::string fileName_;
  std::vector<std::string> accepted_;
  std::unique_ptr<TWFileStream> file_;
  std::unique_ptr<TAvIo> ioSource_;
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  std::string demuxer_;
  int stream_ = -1;
  bool flushed_ = false;  // the decoder has been told the input ended
  bool ended_ = false;    // ... and has nothing more to give
  std::vector<int16_t> pending_;
  size_t pendingAt_ = 0;     // samples of pending_ already delivered
  int64_t discard_ = 0;      // sample frames still to drop before delivering
  int64_t target_ = 0;       // the frame the last seek asked for
  int64_t seekTarget_ = -1;  // set while the first frame after a seek is awaited
  bool seekFailed_ = false;  // ... and the seek is not yet confirmed
  bool counting_ = false;    // reading through only to measure: damage is not reported twice
  int errorsInARow_ = 0;     // errors without a frame between them
  int64_t packetsRead_ = 0;  // since the file was opened
  int64_t packetBytes_ = 0;  // ... and the bytes they held
};

// The part of the readers over libav that is the same for each: the
// figures and the PCM of the one audio stream. The PCM is always 16-bit;
// ReadPcm reports a short count only at the end and zero-fills nothing.
class TAvAudioReader : public TAbstractAudioFile {
public:
  explicit TAvAudioReader(const std::string& fileName) : TAbstractAudioFile(fileName) {
    Av.OnDamage = [this](const std::string& what) { NoteDamage(what); };
  }

  uint32_t GetBitRate() override { return static_cast<uint32_t>(std::clamp<int64_t>(Av.BitRate, 0, UINT32_MAX)); }
  uint32_t GetChannels() override { return Av.Channels; }
  int64_t GetFileSize() override { return Av.FileSize; }
  int64_t GetPosition() override { return Saturated(Av.FramePosition); }
  int64_t GetPcmSize() override { return Saturated(Av.TotalFrames); }
  uint32_t GetSampleRate() override { return Av.SampleRate; }
  uint32_t GetBitsPerSample() override { return 16; }
  void Seek(int64_t position) override;
  bool CanRead() override { return true; }
  bool ReadPcm(void* buffer, int32_t& count) override;

  TAvAudioStream Av;

protected:
  int64_t FrameBytes() const { return int64_t{2} * Av.Channels; }
  // frames × FrameBytes(), kept within int64_t whatever a header claims.
  int64_t Saturated(int64_t frames) const {
    int64_t bytes;
    if (frames <= 0) return 0;
    return __builtin_mul_overflow(frames, FrameBytes(), &bytes) ? INT64_MAX : bytes;
  }
  // Opens the single audio stream and takes over its channel layout.
  int OpenAudio(int stream);
};

}  // namespace sdm
