#pragma once
// The Layer III decoder's working state and the steps that read a frame's
// bitstream (side information, reservoir, scale factors, Huffman-coded
// spectrum), shared by Layer3Decoder.cpp, which turns the spectrum into PCM,
// and Layer3Bitstream.cpp. Not for use outside the decoder.
#include <cstdint>

namespace sdm {

class TFrameLoader;
class TMpegHeader;

namespace l3 {

constexpr int kLines = 576;
constexpr int kReservoirSize = 8192;
// The reservoir is compacted once its fill passes this mark, which leaves
// room for the largest frame's main data behind it.
constexpr int kCompactMark = 6692;
// Room for one more frame after the mark, plus zeroed slack so the bit reader
// may look a few bytes ahead of the data without a bounds test.
constexpr int kMainDataCapacity = kReservoirSize + 4096;
constexpr int kMainDataSlack = 8;
// The decoder never outputs the top subband: 31 subbands are decoded.
constexpr int kDecodedSubbands = 31;
constexpr int kBandLimitLines = 18 * kDecodedSubbands;

// Scale-factor band boundaries, long (22 bands) and short (13 bands), for
// MPEG-1 44.1/48/32 kHz, MPEG-2 22.05/24/16 kHz and MPEG-2.5 11.025/12/8 kHz.
struct TBands {
  int l[23];
  int s[14];
};

struct TGranuleInfo {
  int part23Length = 0;
  int bigValues = 0;
  int globalGain = 0;
  int scalefacCompress = 0;
  bool windowSwitching = false;
  int blockType = 0;
  bool mixed = false;
  int tableSelect[3] = {0, 0, 0};
  int subblockGain[3] = {0, 0, 0};
  int region1Start = 0;  // lines
  int region2Start = 0;
  int preflag = 0;
  int scalefacScale = 0;
  int count1Table = 0;
};

struct TScaleFactors {
  int l[23] = {};
  int s[13][3] = {};
  // MPEG-2 intensity stereo: the illegal (largest) position of each band.
  int maxL[23] = {};
  int maxS[13] = {};
};

// Bit reader over the reservoir: reads past the data give zeros.
class TMainReader {
public:
  void Attach(const uint8_t* data, int64_t sizeBits, int64_t pos) {
    data_ = data;
    sizeBits_ = sizeBits;
    pos_ = pos;
  }
  int64_t Pos() const { return pos_; }
  void SetPos(int64_t p) { pos_ = p; }
  // The next 32 bits, most significant first, zeros past the data; the
  // position stays.
  uint32_t Peek32() const {
    if (pos_ >= 0 && pos_ + 40 <= sizeBits_) {
      const uint8_t* d = data_ + (pos_ >> 3);
      const uint64_t w =
          uint64_t{d[0]} << 32 | uint64_t{d[1]} << 24 | uint64_t{d[2]} << 16 | uint64_t{d[3]} << 8 | d[4];
      return static_cast<uint32_t>(w >> (8 - (pos_ & 7)));
    }
    uint32_t v = 0;  // near the end (or before the start): bit by bit
    for (int64_t p = pos_; p < pos_ + 32; ++p)
      v = v << 1 | ((p < 0 || p >= sizeBits_) ? 0u : static_cast<uint32_t>((data_[p >> 3] >> (7 - (p & 7))) & 1));
    return v;
  }
  void Skip(int n) { pos_ += n; }
  // n bits (n <= 32) as a number.
  uint32_t Get(int n) {
    if (n <= 0) return 0;
    const uint32_t v = Peek32() >> (32 - n);
    pos_ += n;
    return v;
  }
  int NextBit() { return static_cast<int>(Get(1)); }

private:
  const uint8_t* data_ = nullptr;
  int64_t sizeBits_ = 0;
  int64_t pos_ = 0;
};

inline bool IsShort(const TGranuleInfo& gi) { return gi.windowSwitching && gi.blockType == 2; }

}  // namespace l3

struct TL3State {
  // Frame-level side information.
  int mainDataBegin = 0;
  int scfsi[2][4] = {};
  l3::TGranuleInfo gr[2][2];
  l3::TScaleFactors sf[2];

  uint8_t mainData[l3::kMainDataCapacity + l3::kMainDataSlack] = {};
  int mainFill = 0;
  l3::TMainReader reader;

  int quant[2][l3::kLines] = {};
  float xr[2][l3::kLines] = {};
  int nonZero[2] = {};
  float overlap[2][l3::kLines] = {};
  float hybridOut[2][l3::kLines] = {};  // 18 time samples x 32 subbands, subband-major
};

namespace l3 {

// The side information of a frame: where its main data begins in the
// reservoir and, per granule and channel, how its spectrum is coded.
void ReadSideInfo(TFrameLoader& loader, const TMpegHeader& h, const TBands& bands, TL3State& s);
// Appends the frame's main data to the bit reservoir and points the reader at
// the data the frame starts with. False when that data went before it (a cut
// file or just after a seek): the frame then plays as silence but feeds the
// reservoir.
bool FillReservoir(TFrameLoader& loader, TL3State& s, int mainSize);
// MPEG-1 scale factors of granule g, channel ch; the second granule reuses
// the groups its scfsi bits mark.
void ReadScaleFactorsMpeg1(TL3State& s, int g, int ch);
// MPEG-2 and 2.5 scale factors (one granule): their lengths come from
// scalefac_compress by ranges, the right channel of intensity stereo has its
// own table, and the largest value of each band is remembered as its
// illegal intensity position.
void ReadScaleFactorsMpeg2(TL3State& s, int ch, bool isRight);
// Huffman decoding of the big values and the count1 region of one granule
// and channel into s.quant[ch], ending at part23End. Returns the format of
// the error text for a damaged granule (which is then zeroed), else null.
// Sets s.nonZero[ch] and leaves the reader at part23End.
const char* DecodeSpectrum(TL3State& s, const TBands& bands, bool mpeg1, const TGranuleInfo& gi, int ch,
                           int64_t part23End);

}  // namespace l3
}  // namespace sdm
