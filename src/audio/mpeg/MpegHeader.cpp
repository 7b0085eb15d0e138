#include "audio/mpeg/MpegHeader.h"

#include <algorithm>
#include <cstring>

#include "audio/tags/U_ID3.h"

namespace sdm {

namespace {

// Bit rates in kbit/s, ISO/IEC 11172-3 (one row per layer) and ISO/IEC
// 13818-3 (Layer I row; Layers II and III share one row). Index 0 is free
// format and 15 is forbidden: both give 0, which makes the header invalid.
const uint16_t kBitRateMpeg1[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
};
const uint16_t kBitRateMpeg2[2][16] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};

// Rate index 3 is reserved: a rate of 1 makes every frame length fail the
// length test. MPEG-2.5 (the low-rate extension) halves the MPEG-2 rates.
const uint32_t kRateMpeg1[4] = {44100, 48000, 32000, 1};
const uint32_t kRateMpeg2[4] = {22050, 24000, 16000, 1};
const uint32_t kRateMpeg25[4] = {11025, 12000, 8000, 1};

// Sample rate / 50 for the Layer III length formulas; -999 keeps index 3
// from ever producing a positive length.
const int kLayer3DivMpeg1[4] = {882, 960, 640, -999};
const int kLayer3DivMpeg2[4] = {441, 480, 320, -999};

// Milliseconds per frame by layer code and rate index of the MPEG-1 and
// MPEG-2 rates; kept as the decimal constants the durations are summed from.
const float kFrameMs[3][4] = {
    {8.707483f, 8.0f, 12.0f, 0.0f},
    {26.12245f, 24.0f, 36.0f, 0.0f},
    {26.12245f, 24.0f, 36.0f, 0.0f},
};

constexpr uint32_t kMaxFrameLength = 10000;

// The frame index holds 32-bit offsets and lengths: frames are taken only up
// to 2 GiB into a file. Beyond that an offset would wrap round to the start
// and the index of a file over 4 GiB would grow for ever.
constexpr int64_t kOffsetLimit = int64_t{1} << 31;

// Reads a file through a small window so that the byte-wise resync after junk
// does not cost one system call per byte, while a frame boundary still reads
// only the four header bytes.
class TByteScanner {
public:
  explicit TByteScanner(TWFileStream& stream) : stream_(stream) {}

  // Byte at pos, or -1 past the end of the file.
  int At(int64_t pos) {
    if (pos < start_ || pos >= start_ + count_) Fill(pos);
    if (pos < start_ || pos >= start_ + count_) return -1;
    return buf_[pos - start_];
  }

private:
  void Fill(int64_t pos) {
    // The first read of a search is the header at a frame boundary.
    int64_t want = first_ ? 4 : static_cast<int64_t>(sizeof buf_);
    first_ = false;
    start_ = pos;
    count_ = 0;
    if (stream_.Seek(pos, 0) != pos) return;
    int64_t n = stream_.Read(buf_, want);
    count_ = n > 0 ? n : 0;
  }

  TWFileStream& stream_;
  uint8_t buf_[4096];
  int64_t start_ = 0;
  int64_t count_ = 0;
  bool first_ = true;
};

}  // namespace

uint32_t TMpegHeader::BitRateOf(uint32_t word) {
  int layerCode = 3 - static_cast<int>((word >> 17) & 3);
  if (layerCode == 3) return 0;
  int index = (word >> 12) & 15;
  bool mpeg1 = (word >> 19) & 1;
  if (mpeg1) return 1000u * kBitRateMpeg1[layerCode][index];
  return 1000u * kBitRateMpeg2[layerCode == 0 ? 0 : 1][index];
}

uint32_t TMpegHeader::SampleRateOf(uint32_t word) {
  int index = (word >> 10) & 3;
  if ((word >> 19) & 1) return kRateMpeg1[index];
  // The extension flag must select the halved rates: otherwise an 8 kHz file
  // would be measured, sized and played as 16 kHz.
  if (((word >> 20) & 1) == 0) return kRateMpeg25[index];
  return kRateMpeg2[index];
}

uint32_t TMpegHeader::FrameLengthOf(uint32_t word) {
  if ((word & 0xFFE00000u) != 0xFFE00000u) return 0;
  int layerCode = 3 - static_cast<int>((word >> 17) & 3);
  if (layerCode == 3) return 0;
  uint32_t rate = SampleRateOf(word);
  uint32_t bitRate = BitRateOf(word);
  if (rate == 0 || bitRate == 0) return 0;
  int64_t padding = (word >> 9) & 1;
  int rateIndex = (word >> 10) & 3;
  bool mpeg1 = (word >> 19) & 1;
  bool extension = ((word >> 20) & 1) == 0;
  int64_t kbps = bitRate / 1000;
  int64_t length;
  if (layerCode == 0) {
    length = (12 * static_cast<int64_t>(bitRate) / rate + padding) * 4;
  } else if (layerCode == 1) {
    length = 144 * static_cast<int64_t>(bitRate) / rate + padding;
  } else if (mpeg1 && !extension) {
    length = kbps * 2880 / kLayer3DivMpeg1[rateIndex] + padding;
  } else if (extension && !mpeg1) {
    // 72000 * kbps / rate with the true MPEG-2.5 rate (its rate / 50 is not whole).
    length = rateIndex == 3 ? 0 : 72000 * kbps / rate + padding;
  } else {
    // The MPEG-2 row also serves the reserved version code (version bit set
    // with the extension flag clear would be read as MPEG-1 otherwise).
    int64_t kbps2 = kBitRateMpeg2[1][(word >> 12) & 15];
    length = kbps2 * 1440 / kLayer3DivMpeg2[rateIndex] + padding;
  }
  if (length <= 0 || length > kMaxFrameLength) return 0;
  return static_cast<uint32_t>(length);
}

void TMpegHeader::Decode(uint32_t word) {
  uint32_t length = FrameLengthOf(word);
  if (length == 0) {
    HeaderWord = 0;
    FrameLength = 0;
    MainDataSize = 0;
    return;
  }
  HeaderWord = word;
  FrameLength = length;
  int32_t size = static_cast<int32_t>(length) - 4;
  if (Protected()) size -= 2;
  if (LayerCode() == 2) {
    bool mono = ChannelMode() == 3;
    if (Mpeg1())
      size -= mono ? 17 : 32;
    else
      size -= mono ? 9 : 17;
  }
  MainDataSize = size;
}

uint32_t TMpegHeader::SamplesPerFrame() const {
  switch (LayerCode()) {
    case 0: return 384;
    case 1: return 1152;
    case 2: return Mpeg1() ? 1152 : 576;
    default: return 0;
  }
}

float TMpegHeader::FrameMs() const {
  int layerCode = LayerCode();
  if (layerCode == 3) return 0.0f;
  float ms = kFrameMs[layerCode][RateIndex()];
  // The table holds the MPEG-1 and MPEG-2 Layer III durations. Layers I and
  // II keep their sample count at the low rates, so their frames last twice
  // as long there, and MPEG-2.5 halves the rate once more; without this the
  // play time of such files would come out half or a quarter too short.
  if (!Mpeg1() && layerCode != 2) ms *= 2.0f;
  if (!Mpeg1() && LowRateExtension()) ms *= 2.0f;
  return ms;
}

bool TMpegHeader::ReadAt(TWFileStream& stream, uint32_t offset) {
  Offset = offset;
  uint8_t b[4];
  if (stream.Seek(offset, 0) != offset || stream.Read(b, 4) != 4) {
    Decode(0);
    return false;
  }
  Decode(static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 | static_cast<uint32_t>(b[2]) << 8 |
         b[3]);
  if (!Valid()) return false;
  if (Protected()) {
    uint8_t c[2] = {0, 0};
    if (stream.Read(c, 2) == 2) Crc = static_cast<uint16_t>(c[0] << 8 | c[1]);
  }
  return true;
}

bool TMpegHeader::FindFrame(TWFileStream& stream, bool next) {
  int64_t p;
  if (next) {
    p = static_cast<int64_t>(Offset) + FrameLength;
  } else {
    p = stream.Position();
    if (p < 0) p = 0;
  }
  HeaderWord = 0;
  FrameLength = 0;
  MainDataSize = 0;
  const int64_t size = std::min(stream.Size(), kOffsetLimit);
  TByteScanner scan(stream);

  if (p == 0) {
    // A leading ID3v2 tag, perhaps followed by zero padding.
    uint8_t h[10];
    int64_t tagSize = 0;
    if (stream.Seek(0, 0) == 0 && stream.Read(h, 10) == 10) tagSize = Id3v2TotalSize(h);
    if (tagSize > 0) {
      int64_t q = tagSize;
      int b;
      while ((b = scan.At(q)) == 0) ++q;
      if (b < 0) return false;
      p = q;
    }
  }
  if (p == 0) {
    // Zero bytes before the first frame: skipped only within the first 8 KiB.
    int64_t q = 0;
    while (q < 8192 && scan.At(q) == 0) ++q;
    if (q >= 4) p = q >= 8192 ? 8191 : q;
  }

  while (true) {
    if (p >= size - 4) return false;
    int b0 = scan.At(p), b1 = scan.At(p + 1), b2 = scan.At(p + 2), b3 = scan.At(p + 3);
    if (b0 < 0 || b1 < 0 || b2 < 0 || b3 < 0) return false;
    if (b0 == 0xFF && (b1 & 0xE0) == 0xE0) {
      Decode(static_cast<uint32_t>(b0) << 24 | static_cast<uint32_t>(b1) << 16 | static_cast<uint32_t>(b2) << 8 |
             static_cast<uint32_t>(b3));
      if (Valid()) {
        // A frame cut short by the end of the file ends the search.
        if (p + FrameLength > size) {
          Decode(0);
          return false;
        }
        Offset = static_cast<uint32_t>(p);
        stream.Seek(p + 4, 0);
        return true;
      }
      p += 2;
    } else if (b0 == 'T' && b1 == 'A' && b2 == 'G') {
      if (p + 124 >= size) return false;
      p += 128;
    } else {
      p += 1;
    }
  }
}

}  // namespace sdm
