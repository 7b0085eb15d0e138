#pragma once
// A Layer III bitstream builder for tests: it writes the frames encoders never
// produce (intensity stereo, mixed blocks, MPEG-2.5 intensity, a main-data
// start pointing before the file, lying lengths) from quantised values chosen
// by the test. Everything is written the way ISO/IEC 11172-3 and 13818-3 lay
// it out, so a reference decoder (mpg123) can read the same bytes.
//
// A test fills TL3Stream with frames; each granule/channel holds its side
// information, its scale factors in the order they are coded and its 576
// quantised lines in coded order (for short blocks: band by band, window by
// window inside a band). BuildLayer3 derives big_values, count1 and
// part2_3_length from the lines, Huffman-codes them with the program's own
// code tables and lays the main data out through the bit reservoir.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/mpeg/HuffmanTables.h"

namespace sdm::test {

// Bits appended most significant first.
class TBitWriter {
public:
  void Put(uint32_t value, int bits) {
    for (int b = bits - 1; b >= 0; --b) PutBit((value >> b) & 1);
  }
  void PutBit(int bit) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> (count_ % 8));
    ++count_;
  }
  void Append(const TBitWriter& other) {
    for (size_t i = 0; i < other.count_; ++i) PutBit((other.bytes_[i / 8] >> (7 - i % 8)) & 1);
  }
  size_t Bits() const { return count_; }
  // Padded with zero bits to whole bytes.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
  std::vector<uint8_t> bytes_;
  size_t count_ = 0;
};

enum TL3Version { kMpeg1 = 1, kMpeg2 = 2, kMpeg25 = 25 };

struct TL3Channel {
  int BlockType = 0;  // 0 normal, 1 start, 2 short, 3 stop
  bool Mixed = false;
  int GlobalGain = 150;
  int ScalefacCompress = 0;  // 4 bits in MPEG-1, 9 bits in MPEG-2/2.5
  bool Preflag = false;      // MPEG-1 only (MPEG-2 derives it from ScalefacCompress)
  bool ScalefacScale = false;
  bool Count1TableB = false;
  int Tables[3] = {1, 1, 1};
  int Region0Count = 7;  // normal blocks only; the others imply their regions
  int Region1Count = 7;
  int SubblockGain[3] = {0, 0, 0};
  std::vector<int> Scalefac;  // coded order; ScalefacWidths gives the count
  int Lines[576] = {};        // quantised values in coded order
  bool NoCount1 = false;      // code small values at the top as pairs too

  // Damage: written instead of the true values when not negative.
  int Part23LengthOverride = -1;
  int BigValuesOverride = -1;
};

struct TL3Frame {
  TL3Channel Gr[2][2];    // [granule][channel]; MPEG-2/2.5 use granule 0 only
  int Scfsi[2][4] = {};   // MPEG-1 scale-factor reuse in granule 1
  int ModeExtension = 0;  // joint stereo: bit 1 middle/side, bit 0 intensity
  int BitrateIndex = 0;   // 0: the builder picks one that holds the data
  bool Padding = false;
  int MainDataBegin = -1;  // >= 0: this main-data start (must be legal)
};

struct TL3Stream {
  TL3Version Version = kMpeg1;
  int RateIndex = 0;
  int Mode = 1;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  bool Crc = false;
  // Frame 0 claims this many main-data bytes before the file (a cut file).
  int FirstMainDataBegin = 0;
  std::vector<TL3Frame> Frames;

  bool Mpeg1() const { return Version == kMpeg1; }
  int Channels() const { return Mode == 3 ? 1 : 2; }
  int Granules() const { return Mpeg1() ? 2 : 1; }
  int SampleRate() const {
    static const int rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    return rates[Version == kMpeg1 ? 0 : Version == kMpeg2 ? 1 : 2][RateIndex];
  }
};

// Scale-factor band starts (long: 23 entries, short: 14), ISO/IEC 11172-3
// Table B.8, ISO/IEC 13818-3 Table B.2 and the MPEG-2.5 8 kHz bands. MPEG-2.5
// at 11025/12000 Hz uses the bands of MPEG-2 at 16 kHz, as mpg123 does.
inline const int* LongBands(const TL3Stream& s) {
  static const int bands[7][23] = {
      {0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576},
      {0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576},
      {0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550, 576},
      {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
      {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 114, 136, 162, 194, 232, 278, 332, 394, 464, 540, 576},
      {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
      {0, 12, 24, 36, 48, 60, 72, 88, 108, 132, 160, 192, 232, 280, 336, 400, 476, 566, 568, 570, 572, 574, 576},
  };
  if (s.Version == kMpeg1) return bands[s.RateIndex];
  if (s.Version == kMpeg25) return s.RateIndex == 2 ? bands[6] : bands[5];
  return bands[3 + s.RateIndex];
}

inline const int* ShortBands(const TL3Stream& s) {
  static const int bands[7][14] = {
      {0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192},
      {0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192},
      {0, 4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192},
      {0, 4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192},
      {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 136, 180, 192},
      {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192},
      {0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192},
  };
  if (s.Version == kMpeg1) return bands[s.RateIndex];
  if (s.Version == kMpeg25) return s.RateIndex == 2 ? bands[6] : bands[5];
  return bands[3 + s.RateIndex];
}

// One coded band of a granule: its lines in coded order, the scale factor
// that serves it (index into TL3Channel::Scalefac, -1 for the uncoded top
// band) and, for short blocks, the window.
struct TL3Band {
  int Start = 0, End = 0;
  int Window = -1;  // -1 long
  int Band = 0;     // scale-factor band number (long or short numbering)
};

// The coded bands of a block in coded order.
inline std::vector<TL3Band> CodedBands(const TL3Stream& s, const TL3Channel& c) {
  std::vector<TL3Band> out;
  const int* lb = LongBands(s);
  const int* sb = ShortBands(s);
  if (c.BlockType != 2) {
    for (int b = 0; b < 22; ++b) out.push_back({lb[b], lb[b + 1], -1, b});
    return out;
  }
  int firstShort = 0;
  int pos = 0;
  if (c.Mixed) {
    const int longCount = s.Mpeg1() ? 8 : 6;
    for (int b = 0; b < longCount; ++b) out.push_back({lb[b], lb[b + 1], -1, b});
    pos = lb[longCount];
    firstShort = 3;
  }
  for (int b = firstShort; b < 13; ++b) {
    const int w = sb[b + 1] - sb[b];
    for (int win = 0; win < 3; ++win) {
      out.push_back({pos, pos + w, win, b});
      pos += w;
    }
  }
  return out;
}

// Widths of the coded scale factors of a granule/channel, in coded order.
// For MPEG-1 long blocks group[i] is the scfsi group (0-3) of entry i.
inline std::vector<int> ScalefacWidths(const TL3Stream& s, int ch, int modeExt, const TL3Channel& c,
                                       std::vector<int>* group = nullptr) {
  std::vector<int> w;
  if (group) group->clear();
  if (s.Mpeg1()) {
    static const int slen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
    static const int slen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};
    const int a = slen1[c.ScalefacCompress & 15], b = slen2[c.ScalefacCompress & 15];
    if (c.BlockType != 2) {
      for (int i = 0; i < 21; ++i) {
        w.push_back(i < 11 ? a : b);
        if (group) group->push_back(i < 6 ? 0 : i < 11 ? 1 : i < 16 ? 2 : 3);
      }
    } else if (c.Mixed) {
      for (int i = 0; i < 8 + 9; ++i) w.push_back(a);
      for (int i = 0; i < 18; ++i) w.push_back(b);
    } else {
      for (int i = 0; i < 18; ++i) w.push_back(a);
      for (int i = 0; i < 18; ++i) w.push_back(b);
    }
    return w;
  }
  // ISO/IEC 13818-3: scalefac_compress picks the widths and one of six
  // partitions of the bands; the intensity-coded right channel has its own.
  static const int partition[6][3][4] = {
      {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
      {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
      {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
  };
  int slen[4] = {0, 0, 0, 0};
  int table = 0;
  const int sfc = c.ScalefacCompress & 511;
  if ((modeExt & 1) && ch == 1) {
    const int isc = sfc >> 1;
    if (isc < 180) {
      slen[0] = isc / 36, slen[1] = (isc % 36) / 6, slen[2] = isc % 6, table = 3;
    } else if (isc < 244) {
      const int v = isc - 180;
      slen[0] = (v % 64) >> 4, slen[1] = (v % 16) >> 2, slen[2] = v % 4, table = 4;
    } else {
      const int v = isc - 244;
      slen[0] = v / 3, slen[1] = v % 3, table = 5;
    }
  } else if (sfc < 400) {
    slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc % 16) >> 2, slen[3] = sfc % 4;
    table = 0;
  } else if (sfc < 500) {
    const int v = sfc - 400;
    slen[0] = (v >> 2) / 5, slen[1] = (v >> 2) % 5, slen[2] = v % 4, table = 1;
  } else {
    const int v = sfc - 500;
    slen[0] = v / 3, slen[1] = v % 3, table = 2;
  }
  const int kind = c.BlockType != 2 ? 0 : c.Mixed ? 2 : 1;
  for (int g = 0; g < 4; ++g)
    for (int i = 0; i < partition[table][kind][g]; ++i) {
      w.push_back(slen[g]);
      if (group) group->push_back(g);
    }
  return w;
}

// Largest value a pair table codes (0 for the unused tables 4 and 14).
inline int TableMax(int table) {
  const THuffPairTable& t = HuffPairTable(table);
  if (table == 0) return 0;
  if (t.TreeId < 0) return -1;
  return t.Linbits ? 15 + (1 << t.Linbits) - 1 : t.Size - 1;
}

// A random table that can code values up to maxValue.
inline int PickTable(int maxValue, std::mt19937& rng) {
  std::vector<int> fit;
  for (int t = 1; t < 32; ++t)
    if (TableMax(t) >= maxValue) fit.push_back(t);
  if (maxValue == 0 && rng() % 4 == 0) return 0;
  return fit[rng() % fit.size()];
}

namespace l3detail {

inline void PutPair(TBitWriter& w, int table, int x, int y) {
  if (table == 0) {
    if (x || y) throw std::logic_error("table 0 holds only zeros");
    return;
  }
  const THuffPairTable& t = HuffPairTable(table);
  const int ax = std::abs(x), ay = std::abs(y);
  if (ax > TableMax(table) || ay > TableMax(table)) throw std::logic_error("value too large for its table");
  const int cx = t.Linbits && ax > 15 ? 15 : ax, cy = t.Linbits && ay > 15 ? 15 : ay;
  uint32_t code = 0;
  int len = 0;
  HuffPairCode(table, cx, cy, code, len);
  if (len == 0) throw std::logic_error("no code for the pair");
  w.Put(code, len);
  if (t.Linbits && cx == 15) w.Put(ax - 15, t.Linbits);
  if (x) w.PutBit(x < 0);
  if (t.Linbits && cy == 15) w.Put(ay - 15, t.Linbits);
  if (y) w.PutBit(y < 0);
}

// Where region 1 starts for blocks with window switching.
inline int SwitchedRegion1(const TL3Stream& s, const TL3Channel& c) {
  if (s.Mpeg1()) return 36;
  if (c.BlockType == 2 && !c.Mixed) return 3 * ShortBands(s)[3];
  return LongBands(s)[8];
}

struct TCoded {
  TBitWriter bits;
  int bigValues = 0;
  int part23 = 0;
};

inline TCoded CodeChannel(const TL3Stream& s, int gr, int ch, const TL3Frame& f) {
  const TL3Channel& c = f.Gr[gr][ch];
  TCoded out;
  std::vector<int> group;
  const std::vector<int> widths = ScalefacWidths(s, ch, f.ModeExtension, c, &group);
  if (c.Scalefac.size() != widths.size()) throw std::logic_error("wrong number of scale factors");
  const bool reuse = s.Mpeg1() && gr == 1 && c.BlockType != 2;
  for (size_t i = 0; i < widths.size(); ++i) {
    if (reuse && f.Scfsi[ch][group[i]]) continue;
    if (c.Scalefac[i] < 0 || c.Scalefac[i] >= (1 << widths[i])) throw std::logic_error("scale factor too wide");
    out.bits.Put(c.Scalefac[i], widths[i]);
  }
  // Regions from the top: zero pairs, then quadruples of values within 1.
  int top = 576;
  while (top >= 2 && c.Lines[top - 1] == 0 && c.Lines[top - 2] == 0) top -= 2;
  int bigEnd = top;
  while (!c.NoCount1 && bigEnd >= 4) {
    bool small = true;
    for (int k = 1; k <= 4; ++k) small = small && std::abs(c.Lines[bigEnd - k]) <= 1;
    if (!small) break;
    bigEnd -= 4;
  }
  out.bigValues = bigEnd / 2;
  int r1, r2;
  if (c.BlockType == 0) {
    r1 = LongBands(s)[c.Region0Count + 1];
    r2 = LongBands(s)[std::min(c.Region0Count + c.Region1Count + 2, 22)];
  } else {
    r1 = SwitchedRegion1(s, c);
    r2 = 576;
  }
  for (int i = 0; i < bigEnd; i += 2) {
    const int region = i < r1 ? 0 : i < r2 ? 1 : 2;
    PutPair(out.bits, c.Tables[region], c.Lines[i], c.Lines[i + 1]);
  }
  for (int i = bigEnd; i < top; i += 4) {
    const int* q = c.Lines + i;
    uint32_t code = 0;
    int len = 0;
    HuffQuadCode(c.Count1TableB, q[0] != 0, q[1] != 0, q[2] != 0, q[3] != 0, code, len);
    out.bits.Put(code, len);
    for (int k = 0; k < 4; ++k)
      if (q[k]) out.bits.PutBit(q[k] < 0);
  }
  out.part23 = static_cast<int>(out.bits.Bits());
  return out;
}

inline void PutSideChannel(TBitWriter& w, const TL3Stream& s, const TL3Channel& c, const TCoded& coded) {
  w.Put(c.Part23LengthOverride >= 0 ? c.Part23LengthOverride : coded.part23, 12);
  w.Put(c.BigValuesOverride >= 0 ? c.BigValuesOverride : coded.bigValues, 9);
  w.Put(c.GlobalGain, 8);
  w.Put(c.ScalefacCompress, s.Mpeg1() ? 4 : 9);
  const bool switched = c.BlockType != 0;
  w.PutBit(switched);
  if (switched) {
    w.Put(c.BlockType, 2);
    w.PutBit(c.Mixed);
    w.Put(c.Tables[0], 5);
    w.Put(c.Tables[1], 5);
    for (int k = 0; k < 3; ++k) w.Put(c.SubblockGain[k], 3);
  } else {
    for (int k = 0; k < 3; ++k) w.Put(c.Tables[k], 5);
    w.Put(c.Region0Count, 4);
    w.Put(c.Region1Count, 3);
  }
  if (s.Mpeg1()) w.PutBit(c.Preflag);
  w.PutBit(c.ScalefacScale);
  w.PutBit(c.Count1TableB);
}

inline uint16_t Crc16(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t byte : bytes)
    for (int b = 7; b >= 0; --b) {
      const bool top = ((crc >> 15) & 1) ^ ((byte >> b) & 1);
      crc = static_cast<uint16_t>(crc << 1);
      if (top) crc ^= 0x8005;
    }
  return crc;
}

}  // namespace l3detail

inline int FrameBytes(const TL3Stream& s, int bitrateIndex, bool padding) {
  static const int kbps[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                                  {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
  const int rate = kbps[s.Mpeg1() ? 0 : 1][bitrateIndex] * 1000;
  return (s.Mpeg1() ? 144 : 72) * rate / s.SampleRate() + (padding ? 1 : 0);
}

inline int SideInfoBytes(const TL3Stream& s) {
  return s.Mpeg1() ? (s.Channels() == 1 ? 17 : 32) : (s.Channels() == 1 ? 9 : 17);
}

// Builds the file. With rng the main-data start of each frame is chosen at
// random among the legal ones (so the reservoir is exercised); without, each
// frame reaches back as far as it may.
inline std::string BuildLayer3(const TL3Stream& s, std::mt19937* rng = nullptr) {
  using namespace l3detail;
  const int maxBack = s.Mpeg1() ? 511 : 255;
  const int side = SideInfoBytes(s);
  std::vector<std::string> prefixes;  // header, CRC and side information per frame
  std::vector<long> slots;            // where each frame's main-data slot starts
  std::vector<uint8_t> pending;       // main-data bytes of the file, by position
  long prevEnd = -s.FirstMainDataBegin;
  long slotStart = 0;
  for (size_t n = 0; n < s.Frames.size(); ++n) {
    const TL3Frame& f = s.Frames[n];
    TCoded coded[2][2];
    TBitWriter main;
    for (int gr = 0; gr < s.Granules(); ++gr)
      for (int ch = 0; ch < s.Channels(); ++ch) {
        coded[gr][ch] = CodeChannel(s, gr, ch, f);
        main.Append(coded[gr][ch].bits);
      }
    const long len = static_cast<long>(main.Bytes().size());
    // The bit rate: the one asked for, or the smallest that holds the data.
    int index = f.BitrateIndex;
    long start = 0, slot = 0;
    for (int i = index ? index : 1; i <= 14; ++i) {
      slot = FrameBytes(s, i, f.Padding) - 4 - (s.Crc ? 2 : 0) - side;
      long lo = n == 0 ? -s.FirstMainDataBegin : std::max({prevEnd, slotStart - maxBack, 0L});
      long hi = n == 0 ? lo : std::min(slotStart, slotStart + slot - len);
      if (slotStart + slot - len < hi) hi = lo - 1;
      if (lo <= hi || index) {
        if (lo > hi) throw std::logic_error("frame data does not fit the bit rate asked for");
        start = (rng && hi > lo) ? lo + static_cast<long>((*rng)() % (hi - lo + 1)) : lo;
        if (f.MainDataBegin >= 0) {
          start = slotStart - f.MainDataBegin;
          if (start < lo || start > hi) throw std::logic_error("main-data start asked for is not possible");
        }
        index = i;
        break;
      }
      if (i == 14) throw std::logic_error("frame data does not fit any bit rate");
    }
    // Main data goes where it starts; the gap before it is ancillary (zero).
    pending.resize(slotStart + slot, 0);
    for (long k = 0; k < len; ++k)
      if (start + k >= 0) pending[start + k] = main.Bytes()[k];
    prevEnd = start + len;

    TBitWriter head;
    head.Put(0x7FF, 11);
    head.Put(s.Version == kMpeg1 ? 3 : s.Version == kMpeg2 ? 2 : 0, 2);
    head.Put(1, 2);  // Layer III
    head.PutBit(!s.Crc);
    head.Put(index, 4);
    head.Put(s.RateIndex, 2);
    head.PutBit(f.Padding);
    head.PutBit(0);
    head.Put(s.Mode, 2);
    head.Put(f.ModeExtension, 2);
    head.Put(0, 4);  // copyright, original, emphasis
    TBitWriter si;
    si.Put(static_cast<uint32_t>(slotStart - start), s.Mpeg1() ? 9 : 8);
    si.Put(0, s.Mpeg1() ? (s.Channels() == 1 ? 5 : 3) : (s.Channels() == 1 ? 1 : 2));
    if (s.Mpeg1())
      for (int ch = 0; ch < s.Channels(); ++ch)
        for (int g = 0; g < 4; ++g) si.PutBit(f.Scfsi[ch][g]);
    for (int gr = 0; gr < s.Granules(); ++gr)
      for (int ch = 0; ch < s.Channels(); ++ch) PutSideChannel(si, s, f.Gr[gr][ch], coded[gr][ch]);
    if (static_cast<int>(si.Bytes().size()) != side || si.Bits() != static_cast<size_t>(side) * 8)
      throw std::logic_error("side information of the wrong size");
    std::string frame(head.Bytes().begin(), head.Bytes().end());
    if (s.Crc) {
      std::vector<uint8_t> covered = {head.Bytes()[2], head.Bytes()[3]};
      covered.insert(covered.end(), si.Bytes().begin(), si.Bytes().end());
      const uint16_t crc = Crc16(covered);
      frame += static_cast<char>(crc >> 8);
      frame += static_cast<char>(crc & 0xFF);
    }
    frame.append(si.Bytes().begin(), si.Bytes().end());
    prefixes.push_back(frame);
    slots.push_back(slotStart);
    slotStart += slot;
  }
  // Frames are put together at the end: a frame's main data may start in the
  // slots of the frames before it.
  std::string file;
  for (size_t n = 0; n < prefixes.size(); ++n) {
    const long end = n + 1 < slots.size() ? slots[n + 1] : slotStart;
    file += prefixes[n];
    file.append(reinterpret_cast<const char*>(pending.data() + slots[n]), end - slots[n]);
  }
  return file;
}

}  // namespace sdm::test
