#pragma once
// Unit mhead.
// TMpegHeader: one MPEG audio frame header: decoding and validation of the
// 32-bit word, the frame length, the size of the main data, and the search for
// a frame through a file stream (skipping a leading ID3v2 tag, zero padding,
// junk and embedded ID3v1 blocks).
#include <cstdint>

#include "audio/AudioFileStream.h"

namespace sdm {

class TMpegHeader {
public:
  uint32_t HeaderWord = 0;   // four header bytes, first byte in bits 31-24; 0 when invalid
  uint32_t FrameLength = 0;  // whole frame including the header; 0 when invalid
  int32_t MainDataSize = 0;  // bytes after header, CRC and (Layer III) side information
  uint32_t Offset = 0;       // file offset of the frame's first byte
  uint16_t Crc = 0;          // the CRC word of a protected frame (ReadAt only)

  // Stores the word and computes FrameLength and MainDataSize; an invalid word
  // leaves all three 0.
  void Decode(uint32_t word);
  bool Valid() const { return HeaderWord != 0; }

  // First frame from the stream's position (next false) or the frame after
  // this one (next true). On success the fields describe the found frame and
  // the stream stands 4 bytes past its start.
  bool FindFrame(TWFileStream& stream, bool next);
  // Reads and decodes the header at offset (and the CRC word of a protected
  // frame). True when the header is valid.
  bool ReadAt(TWFileStream& stream, uint32_t offset);

  // Fields and derived values of the stored word.
  int LayerCode() const { return 3 - static_cast<int>((HeaderWord >> 17) & 3); }  // 0 = Layer I
  bool Mpeg1() const { return (HeaderWord >> 19) & 1; }
  bool LowRateExtension() const { return ((HeaderWord >> 20) & 1) == 0; }  // MPEG-2.5
  bool Protected() const { return ((HeaderWord >> 16) & 1) == 0; }
  int BitRateIndex() const { return (HeaderWord >> 12) & 15; }
  int RateIndex() const { return (HeaderWord >> 10) & 3; }
  int Padding() const { return (HeaderWord >> 9) & 1; }
  int ChannelMode() const { return (HeaderWord >> 6) & 3; }
  int ModeExtension() const { return (HeaderWord >> 4) & 3; }
  uint32_t Channels() const { return ChannelMode() == 3 ? 1 : 2; }
  uint32_t BitRate() const { return BitRateOf(HeaderWord); }
  uint32_t SampleRate() const { return SampleRateOf(HeaderWord); }
  // Samples per channel one frame yields: 384, 1152, or 576 for Layer III of
  // the low sampling frequencies.
  uint32_t SamplesPerFrame() const;
  float FrameMs() const;

  static uint32_t BitRateOf(uint32_t word);
  static uint32_t SampleRateOf(uint32_t word);
  // Frame length of a word, 0 when the word is no valid header.
  static uint32_t FrameLengthOf(uint32_t word);
};

}  // namespace sdm
