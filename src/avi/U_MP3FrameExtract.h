#pragma once
// Where the MPEG audio frames of a soundtrack lie, so the muxer can copy them
// one per chunk without decoding anything. TMP3Header decodes and checks one
// four-byte frame header; TMP3FrameExtract scans a whole file for them.
//
// This is the muxer's own small header reader: it keeps to the few fields the
// AVI audio stream needs and is deliberately separate from the audio library's
// MPEG reader, which plays and measures files.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sdm {

class TMP3Header {
public:
  // The four bytes as they lie in the file, first byte first.
  explicit TMP3Header(const uint8_t bytes[4]);

  // The header as a big-endian number (first byte in bits 31-24); 0 when the
  // frame length came out of range and the header was rejected.
  uint32_t RawHeader = 0;
  // Length of the frame in bytes including the header; 0 when rejected.
  int32_t FrameLength = 0;

  // 0 = layer I, 1 = layer II, 2 = layer III, 3 = reserved.
  int LayerIndex() const { return 3 - static_cast<int>((RawHeader >> 17) & 3); }
  bool IsMpeg1() const { return (RawHeader >> 19) & 1; }
  // The unofficial MPEG-2.5 extension (both version bits 0). It is read with
  // the MPEG-2 tables, which gives it twice its real rate, so callers that
  // need true timing must refuse it.
  bool IsMpeg25() const { return ((RawHeader >> 19) & 3) == 0; }
  bool Padding() const { return (RawHeader >> 9) & 1; }
  int BitRate() const;     // bits per second; 0 for free format and index 15
  int SampleRate() const;  // Hz; 1 for the reserved rate index, 0 for the reserved layer
  int Channels() const { return ((RawHeader >> 6) & 3) == 3 ? 1 : 2; }
  // Sound samples per channel one frame carries: 384 for layer I, 1152 for
  // layer II and for MPEG-1 layer III, 576 for MPEG-2 layer III.
  int SamplesPerFrame() const;
  bool IsValid() const;

private:
  int BitRateKbps() const;
};

class TMP3FrameExtract {
public:
  explicit TMP3FrameExtract(std::string fileName);
  ~TMP3FrameExtract();
  TMP3FrameExtract(const TMP3FrameExtract&) = delete;
  TMP3FrameExtract& operator=(const TMP3FrameExtract&) = delete;

  std::string FileName;
  // Share of the file scanned, 0-100, reported every 10 frames.
  std::function<void(TMP3FrameExtract& sender, uint8_t percent)> OnProgress;
  // Asked after every frame found; true stops the scan (what was found stays).
  // Asked too while the file loads and every mebibyte without a frame.
  std::function<bool()> OnAbortQuery;

  // Loads the whole file and records the end of every valid frame. Throws
  // EError when the file cannot be opened or read, is not a plain file, or is
  // too large for the 32-bit offsets of the index. OnAbortQuery is also asked
  // between pieces of the load and in long stretches without a frame, so a
  // large file can be stopped at any time; nothing is found then.
  void Scan();
  // The same scan over bytes already in memory.
  void ScanBuffer(const uint8_t* data, size_t size);

  // Number of frame ends minus one: the last end is never used, so n frames
  // found give n - 1, and no frame gives -1.
  int Count() const { return static_cast<int>(frameEnds_.size()) - 1; }
  // End offset of frame i for 0 <= i < Count(), else -1.
  int64_t FramePosition(int i) const;
  // FramePosition(i + 1) - FramePosition(i) for 0 <= i < Count() - 1, else -1:
  // frame i + 1 with any bytes that lay before it.
  int64_t FrameSize(int i) const;

  // Those of the first valid frame found; 0 when none was found.
  int BitRate() const { return first_ ? first_->BitRate() : 0; }
  int Channels() const { return first_ ? first_->Channels() : 0; }
  int SampleRate() const { return first_ ? first_->SampleRate() : 0; }
  const TMP3Header* FirstHeader() const { return first_.get(); }
  const std::vector<uint32_t>& FrameEnds() const { return frameEnds_; }

  // Whether the frames found may be copied into a video as its sound: the
  // file is MPEG audio through and through (its frames make up nine tenths
  // of it or more, tags apart), of MPEG-1 or MPEG-2, with at least three
  // frames. Otherwise why says what is wrong, and the sound must be decoded
  // and encoded instead.
  bool IsCopyable(std::string* why = nullptr) const;

  // Files of this size or more are refused: frame ends are kept as 32-bit
  // offsets, and the last one may lie up to one frame past the end of file.
  static constexpr uint64_t MaxFileSize = 0x7FFFFFFFu - 16384u;

private:
  bool FindNextFrame(const uint8_t* data, int64_t size, int64_t& q);
  bool Matches(const TMP3Header& h) const;
  bool ChainsAt(const uint8_t* data, int64_t size, int64_t at, int run) const;

  std::vector<uint32_t> frameEnds_;
  std::unique_ptr<TMP3Header> first_;
  int64_t frameBytes_ = 0;  // the bytes of the frames found
  int64_t audioBytes_ = 0;  // the bytes of the file without its tags
};

}  // namespace sdm
