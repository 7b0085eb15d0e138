#include "audio/mpeg/Layer3Decoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "audio/mpeg/U_MpegAudio.h"
#include "audio/mpeg/HuffmanTables.h"
#include "audio/mpeg/HybridFilter.h"

namespace sdm {

namespace {

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

const TBands kBands[9] = {
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576},
     {0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192}},
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576},
     {0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192}},
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550, 576},
     {0, 4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192}},
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
     {0, 4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192}},
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 114, 136, 162, 194, 232, 278, 332, 394, 464, 540, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 136, 180, 192}},
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192}},
    // 11.025 and 12 kHz share the boundaries of the 16 kHz rate.
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192}},
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192}},
    {{0, 12, 24, 36, 48, 60, 72, 88, 108, 132, 160, 192, 232, 280, 336, 400, 476, 566, 568, 570, 572, 574, 576},
     {0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192}},
};

const int kPretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

// MPEG-1 scale-factor lengths by scalefac_compress.
const int kSlen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
const int kSlen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};

// MPEG-2 scale factors per group, by the six scalefac_compress ranges and
// block kind (long, short, mixed); short counts are bands x 3 windows.
const int kNrOfSfb[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},    {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},   {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

struct TTables {
  float pow43[8207];  // |i|^(4/3) for every quantised magnitude a frame can carry
  float quarter[4];   // 2^(q/4)
  float isRatioL[7], isRatioR[7];  // MPEG-1 intensity positions 0-6
  TTables() {
    for (int i = 0; i < 8207; ++i) pow43[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
    for (int q = 0; q < 4; ++q) quarter[q] = static_cast<float>(std::exp2(q / 4.0));
    for (int p = 0; p < 7; ++p) {
      if (p == 6) {
        isRatioL[p] = 1.0f;
        isRatioR[p] = 0.0f;
        continue;
      }
      double r = std::tan(p * M_PI / 12.0);
      isRatioL[p] = static_cast<float>(r / (1.0 + r));
      isRatioR[p] = static_cast<float>(1.0 / (1.0 + r));
    }
  }
};

const TTables& Tab() {
  static const TTables t;
  return t;
}

// 2^(q/4) x 32768 for a gain in quarter steps relative to the standard's
// 2^((global_gain - 210)/4): the 16-bit full scale of the synthesis output
// is carried here.
inline float GainFactor(int q) {
  return std::ldexp(Tab().quarter[q & 3], (q >> 2) + 15);
}

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
      const uint64_t w = uint64_t{d[0]} << 32 | uint64_t{d[1]} << 24 | uint64_t{d[2]} << 16 | uint64_t{d[3]} << 8 | d[4];
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

// The sign of a nonzero value is the bit at position `at` of bits (counted
// from the most significant); returns the bits taken, 1 or 0.
inline int TakeSign(int& value, uint32_t bits, int at) {
  // Without branches: the signs are random, a branch on them mispredicts.
  const int nonzero = value != 0;
  const int negate = -static_cast<int>(((bits << at) >> 31) & static_cast<uint32_t>(nonzero));  // 0 or -1
  value = (value ^ negate) - negate;
  return nonzero;
}

}  // namespace

struct TL3State {
  // Frame-level side information.
  int mainDataBegin = 0;
  int scfsi[2][4] = {};
  TGranuleInfo gr[2][2];
  TScaleFactors sf[2];

  uint8_t mainData[kMainDataCapacity + kMainDataSlack] = {};
  int mainFill = 0;
  TMainReader reader;

  int quant[2][kLines] = {};
  float xr[2][kLines] = {};
  int nonZero[2] = {};
  float overlap[2][kLines] = {};
  float hybridOut[2][kLines] = {};  // 18 time samples x 32 subbands, subband-major
};


namespace {

inline bool IsShort(const TGranuleInfo& gi) { return gi.windowSwitching && gi.blockType == 2; }

// First short band of the short part of a mixed block (the long part is the
// two lowest subbands, 36 lines).
int MixedShortStart(const TBands& b) {
  int sfb = 3;
  while (sfb < 13 && 3 * b.s[sfb] < 36) ++sfb;
  return sfb;
}

// Intensity factors of one band: false for an illegal position, which
// leaves the band to middle/side (or plain stereo) processing.
bool IntensityFactors(bool mpeg1, int pos, int maxPos, int scaleBit, float& kl, float& kr) {
  if (mpeg1) {
    if (pos < 0 || pos >= 7) return false;
    kl = Tab().isRatioL[pos];
    kr = Tab().isRatioR[pos];
    return true;
  }
  if (pos == maxPos) return false;
  const float io = scaleBit ? 0.70710678f : 0.84089642f;  // 2^(-1/2), 2^(-1/4)
  kl = kr = 1.0f;
  if (pos & 1)
    kl = std::pow(io, static_cast<float>((pos + 1) / 2));
  else if (pos > 0)
    kr = std::pow(io, static_cast<float>(pos / 2));
  return true;
}

// Middle/side and intensity stereo of one granule, on the lines in coded
// order (short blocks band by band, window by window).
void StereoProcess(TL3State& s, const TBands& b, bool mpeg1, int g, bool ms, bool is) {
  float* L = s.xr[0];
  float* R = s.xr[1];
  const int nzMax = std::max(s.nonZero[0], s.nonZero[1]);
  constexpr float kInvSqrt2 = 0.70710678f;
  auto msRange = [&](int from, int to) {
    if (!ms) return;
    for (int k = from; k < to; ++k) {
      const float m = L[k], d = R[k];
      L[k] = (m + d) * kInvSqrt2;
      R[k] = (m - d) * kInvSqrt2;
    }
  };
  auto isRange = [&](int from, int to, int pos, int maxPos) {
    float kl, kr;
    if (!IntensityFactors(mpeg1, pos, maxPos, s.gr[g][1].scalefacCompress & 1, kl, kr)) {
      msRange(from, to);
      return;
    }
    for (int k = from; k < to; ++k) {
      const float v = L[k];
      L[k] = v * kl;
      R[k] = v * kr;
    }
  };
  if (!is) {
    msRange(0, nzMax);
    s.nonZero[0] = s.nonZero[1] = nzMax;
    return;
  }
  const TGranuleInfo& gi = s.gr[g][1];
  const TScaleFactors& sf = s.sf[1];
  const int nzR = s.nonZero[1];
  auto longBand = [&](int sfb, int end) {
    const int from = b.l[sfb], to = std::min(b.l[sfb + 1], end);
    const int src = sfb == 21 ? 20 : sfb;
    isRange(from, to, sf.l[src], sf.maxL[src]);
  };
  // Coded position of band sfb, window w of a short part.
  auto shortFrom = [&](int sfb, int w) { return 3 * b.s[sfb] + w * (b.s[sfb + 1] - b.s[sfb]); };
  auto shortBands = [&](int first, const int* isStart) {
    for (int sfb = first; sfb < 13; ++sfb) {
      const int width = b.s[sfb + 1] - b.s[sfb];
      for (int w = 0; w < 3; ++w) {
        const int from = shortFrom(sfb, w);
        if (sfb < isStart[w]) {
          msRange(from, from + width);
        } else {
          const int src = sfb == 12 ? 11 : sfb;
          isRange(from, from + width, sf.s[src][w], sf.maxS[src]);
        }
      }
    }
  };
  auto lastShortBand = [&](int first, int w) {
    int last = -1;
    for (int sfb = first; sfb < 13; ++sfb) {
      const int from = shortFrom(sfb, w), width = b.s[sfb + 1] - b.s[sfb];
      for (int k = from; k < from + width; ++k)
        if (R[k] != 0.0f) {
          last = sfb;
          break;
        }
    }
    return last;
  };
  if (!IsShort(gi)) {
    int start = 0;
    if (nzR > 0)
      while (start < 22 && b.l[start] < nzR) ++start;  // first band wholly above the right channel's lines
    msRange(0, b.l[start]);
    for (int sfb = start; sfb < 22; ++sfb) longBand(sfb, kLines);
  } else if (!gi.mixed) {
    int isStart[3];
    for (int w = 0; w < 3; ++w) isStart[w] = lastShortBand(0, w) + 1;
    shortBands(0, isStart);
  } else {
    const int s0 = MixedShortStart(b);
    int isStart[3];
    bool rightInShort = false;
    for (int w = 0; w < 3; ++w) {
      const int last = lastShortBand(s0, w);
      isStart[w] = last < 0 ? s0 : last + 1;
      if (last >= 0) rightInShort = true;
    }
    if (rightInShort) {
      msRange(0, 36);
      shortBands(s0, isStart);
    } else {
      int start = 0;
      if (nzR > 0)
        while (start < 22 && b.l[start] < nzR) ++start;
      msRange(0, std::min(b.l[start], 36));
      for (int sfb = start; sfb < 22 && b.l[sfb] < 36; ++sfb) longBand(sfb, 36);
      const int all[3] = {s0, s0, s0};
      shortBands(s0, all);
    }
  }
  s.nonZero[0] = s.nonZero[1] = kLines;
}

// Reordering of short blocks, antialias, IMDCT with overlap and the
// frequency inversion of the odd subbands, for one channel of a granule.
void HybridFilter(TL3State& s, const TBands& b, int g, int ch) {
  float* xr = s.xr[ch];
  const TGranuleInfo& gi = s.gr[g][ch];
  const bool shortBlocks = IsShort(gi);
  if (shortBlocks) {
    float tmp[kLines];
    const int first = gi.mixed ? MixedShortStart(b) : 0;
    std::memset(tmp, 0, sizeof tmp);
    if (gi.mixed) std::memcpy(tmp, xr, 36 * sizeof(float));
    for (int sfb = first; sfb < 13; ++sfb) {
      const int width = b.s[sfb + 1] - b.s[sfb];
      for (int w = 0; w < 3; ++w) {
        const int from = 3 * b.s[sfb] + w * width;
        for (int j = 0; j < width; ++j) tmp[3 * (b.s[sfb] + j) + w] = xr[from + j];
      }
    }
    std::memcpy(xr, tmp, sizeof tmp);
    if (gi.mixed) Antialias(xr, 1);
  } else {
    const int boundaries = std::min(31, (s.nonZero[ch] + 7) / 18);
    Antialias(xr, boundaries);
    s.nonZero[ch] = std::max(s.nonZero[ch], boundaries > 0 ? 18 * boundaries + 8 : 0);
  }
  for (int sb = 0; sb < 32; ++sb) {
    int bt = gi.windowSwitching ? gi.blockType : 0;
    if (shortBlocks && gi.mixed && sb < 2) bt = 0;
    float* o = s.hybridOut[ch] + 18 * sb;
    HybridSubband(xr + 18 * sb, bt, s.overlap[ch] + 18 * sb, o);
    if (sb & 1)
      for (int t = 1; t < 18; t += 2) o[t] = -o[t];
  }
}

}  // namespace

TL3Dec::TL3Dec(TFrameLoader& loader) : TBaseDecoder(loader), s_(std::make_unique<TL3State>()) {}

TL3Dec::~TL3Dec() = default;

// Only the full-rate, 16-bit configuration is built: reduction, frequency
// limit and conversion do not change the output.
bool TL3Dec::InitDecoder(int, int, int) {
  LastError.clear();
  const TMpegHeader& h = Loader.FirstHeader;
  if (h.LayerCode() != 2) {
    LastError = "Try to decode Another layer than Layer 3";
    return false;
  }
  Channels = h.Channels();
  SamplesPerFrame = h.Mpeg1() ? 1152 : 576;
  OutputBytes = SamplesPerFrame * Channels * 2;
  Synth.Init(static_cast<int>(Channels));
  *s_ = TL3State();
  return true;
}

void TL3Dec::ResetDecoder() {
  Synth.Reset();
  s_->mainFill = 0;
  std::memset(s_->overlap, 0, sizeof s_->overlap);
}

namespace {

std::string FrameText(const char* format, int frame) {
  char buf[160];
  std::snprintf(buf, sizeof buf, format, frame);
  return buf;
}

int BandTableIndex(const TMpegHeader& h) {
  int r = h.RateIndex() == 3 ? 0 : h.RateIndex();
  if (h.Mpeg1()) return r;
  if (h.LowRateExtension()) return 6 + r;
  return 3 + r;
}

}  // namespace

void TL3Dec::DecodeFrame(int16_t* out) {
  TL3State& s = *s_;
  if (!Loader.FrameLoaded) return;
  const TMpegHeader& h = Loader.CurrentHeader;
  // The output was sized for the first frame: a frame of the other version
  // (one granule instead of two, or the reverse) cannot be placed in it.
  if (h.LayerCode() != 2 || h.SamplesPerFrame() != SamplesPerFrame) return;
  const bool mpeg1 = h.Mpeg1();
  const int frameNo = Loader.CurrentFrame;
  const int nchFrame = static_cast<int>(h.Channels());
  const int nchOut = static_cast<int>(Channels);
  const TBands& bands = kBands[BandTableIndex(h)];

  // Side information.
  const int granules = mpeg1 ? 2 : 1;
  if (mpeg1) {
    s.mainDataBegin = static_cast<int>(Loader.GetBits(9));
    Loader.GetBits(nchFrame == 1 ? 5 : 3);
    for (int ch = 0; ch < nchFrame; ++ch)
      for (int b = 0; b < 4; ++b) s.scfsi[ch][b] = static_cast<int>(Loader.GetBit());
  } else {
    s.mainDataBegin = static_cast<int>(Loader.GetBits(8));
    Loader.GetBits(nchFrame == 1 ? 1 : 2);
  }
  for (int g = 0; g < granules; ++g) {
    for (int ch = 0; ch < nchFrame; ++ch) {
      TGranuleInfo& gi = s.gr[g][ch];
      gi = TGranuleInfo();
      gi.part23Length = static_cast<int>(Loader.GetBits(12));
      gi.bigValues = static_cast<int>(Loader.GetBits(9));
      gi.globalGain = static_cast<int>(Loader.GetBits(8));
      gi.scalefacCompress = static_cast<int>(Loader.GetBits(mpeg1 ? 4 : 9));
      gi.windowSwitching = Loader.GetBit() != 0;
      if (gi.windowSwitching) {
        gi.blockType = static_cast<int>(Loader.GetBits(2));
        gi.mixed = Loader.GetBit() != 0;
        for (int r = 0; r < 2; ++r) gi.tableSelect[r] = static_cast<int>(Loader.GetBits(5));
        for (int w = 0; w < 3; ++w) gi.subblockGain[w] = static_cast<int>(Loader.GetBits(3));
        // The region boundaries are implicit here.
        const bool lowRate = !mpeg1;
        if (h.LowRateExtension() && !mpeg1) {
          const int r0 = gi.blockType == 2 && !gi.mixed ? 5 : 7;
          gi.region1Start = bands.l[r0 + 1];
        } else if (!lowRate || gi.blockType == 2) {
          gi.region1Start = 36;
        } else {
          gi.region1Start = 54;
        }
        gi.region2Start = kLines;
      } else {
        for (int r = 0; r < 3; ++r) gi.tableSelect[r] = static_cast<int>(Loader.GetBits(5));
        const int r0 = static_cast<int>(Loader.GetBits(4));
        const int r1 = static_cast<int>(Loader.GetBits(3));
        gi.region1Start = bands.l[std::min(r0 + 1, 22)];
        gi.region2Start = bands.l[std::min(r0 + r1 + 2, 22)];
      }
      if (mpeg1) gi.preflag = static_cast<int>(Loader.GetBit());
      gi.scalefacScale = static_cast<int>(Loader.GetBit());
      gi.count1Table = static_cast<int>(Loader.GetBit());
    }
  }

  // Bit reservoir.
  const int mainSize = h.MainDataSize;
  if (mainSize < 0 || mainSize > kReservoirSize) {
    LastError = FrameText(mpeg1 ? "MP1L3 Frame #%d : number of bytes in frame is negative of exceed frame max"
                                : "MP2L3 Frame #%d : number of bytes in frame is negative of exceed frame max",
                          frameNo);
    return;
  }
  if (s.mainFill > kCompactMark || s.mainFill + mainSize > kMainDataCapacity) {
    const int keep = std::min(s.mainDataBegin, s.mainFill);
    std::memmove(s.mainData, s.mainData + s.mainFill - keep, static_cast<size_t>(keep));
    s.mainFill = keep;
  }
  const int fillBefore = s.mainFill;
  Loader.CopyBytes(s.mainData + s.mainFill, mainSize);
  s.mainFill += mainSize;
  std::memset(s.mainData + s.mainFill, 0, kMainDataSlack);
  if (fillBefore < s.mainDataBegin) {
    // The data this frame starts with went before it (a cut file or just
    // after a seek): the frame plays as silence but feeds the reservoir.
    return;
  }
  s.reader.Attach(s.mainData, static_cast<int64_t>(s.mainFill) * 8,
                  static_cast<int64_t>(fillBefore - s.mainDataBegin) * 8);

  const int mode = h.ChannelMode();
  const bool msStereo = nchFrame == 2 && mode == 1 && (h.ModeExtension() & 2);
  const bool isStereo = nchFrame == 2 && mode == 1 && (h.ModeExtension() & 1);

  for (int g = 0; g < granules; ++g) {
    for (int ch = 0; ch < nchFrame; ++ch) {
      TGranuleInfo& gi = s.gr[g][ch];
      TScaleFactors& sf = s.sf[ch];
      const int64_t part2Start = s.reader.Pos();
      const bool shortBlocks = gi.windowSwitching && gi.blockType == 2;

      // Scale factors.
      if (mpeg1) {
        const int slen1 = kSlen1[gi.scalefacCompress], slen2 = kSlen2[gi.scalefacCompress];
        if (shortBlocks) {
          int sfb = 0;
          if (gi.mixed) {
            for (; sfb < 8; ++sfb) sf.l[sfb] = static_cast<int>(s.reader.Get(slen1));
            sfb = 3;
          }
          for (; sfb < 6; ++sfb)
            for (int w = 0; w < 3; ++w) sf.s[sfb][w] = static_cast<int>(s.reader.Get(slen1));
          for (; sfb < 12; ++sfb)
            for (int w = 0; w < 3; ++w) sf.s[sfb][w] = static_cast<int>(s.reader.Get(slen2));
          for (int w = 0; w < 3; ++w) sf.s[12][w] = 0;
        } else {
          static const int kGroupStart[5] = {0, 6, 11, 16, 21};
          for (int grp = 0; grp < 4; ++grp) {
            if (g == 1 && s.scfsi[ch][grp]) continue;  // reused from the first granule
            const int len = grp < 2 ? slen1 : slen2;
            for (int sfb = kGroupStart[grp]; sfb < kGroupStart[grp + 1]; ++sfb)
              sf.l[sfb] = static_cast<int>(s.reader.Get(len));
          }
          sf.l[21] = sf.l[22] = 0;
        }
      } else {
        int slen[4] = {0, 0, 0, 0};
        int table;
        const bool isRight = isStereo && ch == 1;
        int sfc = gi.scalefacCompress;
        if (isRight) {
          const int isc = sfc >> 1;
          if (isc < 180) {
            slen[0] = isc / 36;
            slen[1] = (isc % 36) / 6;
            slen[2] = (isc % 36) % 6;
            table = 3;
          } else if (isc < 244) {
            const int v = isc - 180;
            slen[0] = (v % 64) >> 4;
            slen[1] = (v % 16) >> 2;
            slen[2] = v % 4;
            table = 4;
          } else {
            const int v = isc - 244;
            slen[0] = v / 3;
            slen[1] = v % 3;
            table = 5;
          }
          gi.preflag = 0;
        } else if (sfc < 400) {
          slen[0] = (sfc >> 4) / 5;
          slen[1] = (sfc >> 4) % 5;
          slen[2] = (sfc % 16) >> 2;
          slen[3] = sfc % 4;
          gi.preflag = 0;
          table = 0;
        } else if (sfc < 500) {
          const int v = sfc - 400;
          slen[0] = (v >> 2) / 5;
          slen[1] = (v >> 2) % 5;
          slen[2] = v % 4;
          gi.preflag = 0;
          table = 1;
        } else {
          const int v = sfc - 500;
          slen[0] = v / 3;
          slen[1] = v % 3;
          gi.preflag = 1;
          table = 2;
        }
        const int kind = shortBlocks ? (gi.mixed ? 2 : 1) : 0;
        const int* nr = kNrOfSfb[table][kind];
        std::memset(sf.l, 0, sizeof sf.l);
        std::memset(sf.s, 0, sizeof sf.s);
        if (kind == 0) {
          int sfb = 0;
          for (int grp = 0; grp < 4; ++grp)
            for (int k = 0; k < nr[grp] && sfb < 22; ++k, ++sfb) {
              sf.l[sfb] = static_cast<int>(s.reader.Get(slen[grp]));
              sf.maxL[sfb] = (1 << slen[grp]) - 1;
            }
          for (; sfb < 23; ++sfb) sf.maxL[sfb] = sfb > 0 ? sf.maxL[sfb - 1] : 0;
        } else {
          int sfb = 0;
          int longLeft = kind == 2 ? 6 : 0;
          for (int grp = 0; grp < 4; ++grp) {
            int count = nr[grp];
            while (count > 0 && longLeft > 0) {
              sf.l[6 - longLeft] = static_cast<int>(s.reader.Get(slen[grp]));
              sf.maxL[6 - longLeft] = (1 << slen[grp]) - 1;
              --longLeft;
              --count;
              if (longLeft == 0) sfb = 3;
            }
            for (int k = 0; k < count / 3 && sfb < 12; ++k, ++sfb) {
              for (int w = 0; w < 3; ++w) sf.s[sfb][w] = static_cast<int>(s.reader.Get(slen[grp]));
              sf.maxS[sfb] = (1 << slen[grp]) - 1;
            }
          }
          for (; sfb < 13; ++sfb) sf.maxS[sfb] = sfb > 0 ? sf.maxS[sfb - 1] : 0;
        }
      }

      // Huffman decoding of the big values and the count1 region.
      int* q = s.quant[ch];
      std::memset(q, 0, sizeof s.quant[ch]);
      const int64_t part23End = part2Start + gi.part23Length;
      int limit = kLines;
      if (!mpeg1) {
        limit = shortBlocks ? 3 * bands.s[12] : std::min(bands.l[21] + 8, kBandLimitLines);
        if (shortBlocks && gi.mixed) limit = std::max(limit, 36);
      } else if (!shortBlocks) {
        limit = kBandLimitLines;
      }
      const int bigEnd = std::min(gi.bigValues * 2, kLines);
      const int regionEnd[3] = {std::min(gi.region1Start, bigEnd), std::min(gi.region2Start, bigEnd), bigEnd};
      int line = 0;
      bool bad = false;
      for (int r = 0; r < 3 && !bad; ++r) {
        const THuffPairTable& t = HuffPairTable(gi.tableSelect[r]);
        if (line < regionEnd[r] && gi.tableSelect[r] != 0 && t.TreeId < 0) {
          LastError = FrameText("MPL3 Frame #%d : Bad huffmann data in single lookup", frameNo);
          bad = true;
          break;
        }
        for (; line < regionEnd[r] && line < limit; line += 2) {
          int x = 0, y = 0;
          if (gi.tableSelect[r] != 0) {
            int length = 0;
            const uint32_t bits = s.reader.Peek32();
            const bool known = HuffDecodePairBits(t.TreeId, bits, x, y, length);
            if (!known) {
              s.reader.Skip(length);
              LastError = FrameText(t.Linbits ? "MPL3 Frame #%d : Bad huffmann data in linbit decoding"
                                              : "MPL3 Frame #%d : Bad huffmann data in no linbits decoding",
                                    frameNo);
              bad = true;
              break;
            }
            if (t.Linbits == 0) {
              // Codes of these tables are at most 19 bits: the two sign bits
              // are still in the word read.
              s.reader.Skip(length + TakeSign(x, bits, length) + TakeSign(y, bits, length + (x != 0)));
            } else {
              s.reader.Skip(length);
              if (x == 15) x += static_cast<int>(s.reader.Get(t.Linbits));
              if (x && s.reader.NextBit()) x = -x;
              if (y == 15) y += static_cast<int>(s.reader.Get(t.Linbits));
              if (y && s.reader.NextBit()) y = -y;
            }
          }
          q[line] = x;
          q[line + 1] = y;
        }
        if (line >= limit) break;
      }
      if (!bad && line >= bigEnd) {
        line = bigEnd;
        const bool quadB = gi.count1Table != 0;
        while (line < limit && s.reader.Pos() < part23End) {
          if (line + 4 > kLines) {
            LastError = FrameText("MPL3 Frame #%d : index overflow with negative nbits in huffmann quad", frameNo);
            bad = true;
            break;
          }
          int v, w, x, y, length = 0;
          const uint32_t bits = s.reader.Peek32();
          const bool known = HuffDecodeQuadBits(quadB, bits, v, w, x, y, length);
          if (!known) s.reader.Skip(length);
          if (!known) {
            LastError = FrameText("MPL3 Frame #%d : Bad huffmann data in \"A\" type quad", frameNo);
            bad = true;
            break;
          }
          // A quadruple's code is at most 6 bits: its sign bits follow in
          // the word read.
          int vals[4] = {v, w, x, y};
          int used = length;
          for (int& val : vals) used += TakeSign(val, bits, used);
          s.reader.Skip(used);
          if (s.reader.Pos() > part23End) break;  // the last quad ran past the granule: it is not part of it
          for (int k = 0; k < 4; ++k) q[line + k] = vals[k];
          line += 4;
        }
      }
      if (!bad && s.reader.Pos() > part23End + 39) {
        LastError = FrameText("MPL3 Frame #%d : Data overrun. Frame is zeroed", frameNo);
        bad = true;
      }
      if (bad) {
        std::memset(q, 0, sizeof s.quant[ch]);
        line = 0;
      }
      line = std::min(line, kLines);
      for (int k = line; k < kLines; ++k) q[k] = 0;
      int nz = line;
      while (nz > 0 && q[nz - 1] == 0) --nz;
      s.nonZero[ch] = nz;
      s.reader.SetPos(part23End);

      // Requantisation, in the order the lines were coded.
      float* xr = s.xr[ch];
      std::memset(xr, 0, sizeof s.xr[ch]);
      const TTables& T = Tab();
      const int sfShift = 1 + gi.scalefacScale;  // quarter steps per scale-factor unit / 2
      // |q|^(4/3) x the band's gain, with q's sign; q = 0 gives 0.
      auto value = [&T](int qv, float f) {
        const int a = std::abs(qv);
        const float m = T.pow43[a < 8206 ? a : 8206] * f;
        // q's sign bit onto the (positive) magnitude, without a branch on
        // the random signs.
        return std::bit_cast<float>(std::bit_cast<uint32_t>(m) | (static_cast<uint32_t>(qv) & 0x80000000u));
      };
      int longEnd = 0;  // lines coded as long blocks
      if (!shortBlocks)
        longEnd = kLines;
      else if (gi.mixed)
        longEnd = 36;
      const int longCoded = std::min(longEnd, nz);
      for (int sfb = 0; sfb < 22 && bands.l[sfb] < longCoded; ++sfb) {
        const int e = gi.globalGain - 210 - 2 * sfShift * (sf.l[sfb] + (gi.preflag ? kPretab[sfb] : 0));
        const float f = GainFactor(e);
        const int end = std::min(bands.l[sfb + 1], longEnd);
        for (int k = bands.l[sfb]; k < end; ++k) xr[k] = value(q[k], f);
      }
      if (shortBlocks) {
        int sfb = gi.mixed ? 3 : 0;
        while (gi.mixed && sfb < 13 && 3 * bands.s[sfb] < 36) ++sfb;
        int k = 3 * bands.s[sfb];
        for (; sfb < 13 && k < nz; ++sfb) {
          const int width = bands.s[sfb + 1] - bands.s[sfb];
          for (int w = 0; w < 3; ++w) {
            const int e = gi.globalGain - 210 - 8 * gi.subblockGain[w] - 2 * sfShift * sf.s[sfb][w];
            const float f = GainFactor(e);
            for (int j = 0; j < width; ++j, ++k) xr[k] = value(q[k], f);
          }
        }
      }
    }

    if (nchFrame == 2 && (msStereo || isStereo)) StereoProcess(s, bands, mpeg1, g, msStereo, isStereo);

    for (int ch = 0; ch < nchFrame; ++ch) HybridFilter(s, bands, g, ch);

    if (out != nullptr) {
      try {
        int16_t* dst = out + static_cast<size_t>(g) * kLines * nchOut;
        float left[32], right[32];
        for (int t = 0; t < 18; ++t) {
          for (int sb = 0; sb < 32; ++sb) {
            left[sb] = s.hybridOut[0][sb * 18 + t];
            right[sb] = s.hybridOut[nchFrame == 2 ? 1 : 0][sb * 18 + t];
          }
          left[31] = right[31] = 0.0f;
          Synth.SynthBlock(left, nchOut == 2 ? right : nullptr, dst + t * 32 * nchOut);
        }
      } catch (const std::exception& e) {
        char buf[200];
        if (nchOut == 2)
          std::snprintf(buf, sizeof buf,
                        "MPL3 Frame #%d - XForm_Dual ch %d : sub-band transform has raised an exception condition, "
                        "with text ",
                        frameNo, 0);
        else
          std::snprintf(buf, sizeof buf,
                        "MPL3 Frame #%d - XForm_mono : sub-band transform has raised an exception condition, with "
                        "text ",
                        frameNo);
        LastError = std::string(buf) + "\"" + e.what() + "\"";
      }
    }
  }
}

}  // namespace sdm
