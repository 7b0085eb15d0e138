#pragma once
// TSoundtrackEncoder: any sound file the audio library reads, encoded by a
// libavcodec audio encoder, packet by packet in order. The file is decoded
// through the audio facade (reader and format filter: 44100 Hz stereo 16-bit;
// the loudness compressor is left out, the music is encoded as it is),
// converted with libswresample to the encoder's rate and sample format, cut or
// lengthened to the length asked for, and encoded.
//
// The AVI path encodes to MP3 (libmp3lame) and copies the frames into the
// video like those of an MP3 soundtrack; the MP4 and WebM outputs take the
// packets of the AAC and Opus encoders straight into their muxers.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/U_AudioFile.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace sdm {

class TSoundtrackEncoder {
public:
  struct TSettings {
    std::string Encoder;     // "libmp3lame" (AVI), "aac" (MP4), "libopus" (WebM)
    int BitRate = 192000;    // bits per second
    int SampleRate = 44100;  // the encoder's rate: 44100, or 48000 for Opus (converted with libswresample)
    // Samples per channel at SampleRate the result must have, or -1 for the
    // whole soundtrack. Longer music is cut there, faded out over the last
    // second; shorter music is followed by silence up to it.
    int64_t Length = -1;
  };
  // Throws EError naming the file and what it is when it cannot be read or
  // the encoder is missing at run time (a clear message, never a crash).
  TSoundtrackEncoder(const std::string& soundPath, const TSettings& settings);
  ~TSoundtrackEncoder();
  TSoundtrackEncoder(const TSoundtrackEncoder&) = delete;
  TSoundtrackEncoder& operator=(const TSoundtrackEncoder&) = delete;

  // The encoder's context after opening: codec id, sample rate, channel
  // layout, frame_size, extradata, time_base 1/SampleRate (for a muxer's
  // codecpar via avcodec_parameters_from_context).
  const AVCodecContext* Context() const { return codec_; }
  // Fills pkt (caller-owned, av_packet_alloc) with the next packet, pts and
  // duration in 1/SampleRate; false at the end (after the encoder is drained).
  // A reader's or encoder's error on the way throws EError naming the file.
  bool NextPacket(AVPacket* pkt);
  // Decoding trouble met so far (damaged frames the reader skipped), for a
  // log line or warning; 0 for a sound file read cleanly.
  int DamagedBlocks() const;

  // Additions for progress and checks:
  // The share of the soundtrack read so far, 0 to 1 (from the reader's
  // position in its PCM; an estimate for files whose length is unknown).
  double Progress() const;
  // Samples per channel at SampleRate handed to the encoder so far (the
  // music with its padding); the whole result's length once NextPacket has
  // returned false.
  int64_t SamplesEncoded() const { return sent_; }
  // What the file is, as the reader saw it: "FLAC", "WAV", ...
  std::string SourceKind() const;

private:
  void Start();
  void Release();
  bool FillFrame();   // converts source into pending_ until a frame is ready; false at the end
  bool ReadSource();  // one block of source PCM through the converter into pending_
  void SendFrame(int samples);
  void ApplyFade();

  std::string path_;
  TSettings settings_;
  TAudioFile audio_;
  AVCodecContext* codec_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwrContext* swr_ = nullptr;
  std::vector<uint8_t> block_;     // source PCM, 16-bit stereo
  std::vector<float> pending_[2];  // converted samples not yet encoded, per channel
  size_t pendingAt_ = 0;           // samples of pending_ already encoded
  int64_t converted_ = 0;          // samples per channel put into pending_ (music and padding)
  int64_t sent_ = 0;               // samples per channel handed to the encoder
  bool sourceEnded_ = false;       // the music has given its last sample
  bool lengthReached_ = false;     // ... or was cut at Length (faded)
  bool flushed_ = false;           // the encoder has been told the input ended
  bool drained_ = false;
  int frameSize_ = 1152;
};

}  // namespace sdm
