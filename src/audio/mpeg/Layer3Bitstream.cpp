// Reading a Layer III frame's bitstream: side information, the bit
// reservoir, scale factors and the Huffman-coded spectrum.
#include <algorithm>
#include <cstring>

#include "audio/mpeg/HuffmanTables.h"
#include "audio/mpeg/Layer3State.h"
#include "audio/mpeg/U_MpegAudio.h"

namespace sdm::l3 {

namespace {

// MPEG-1 scale-factor lengths by scalefac_compress.
const int kSlen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
const int kSlen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};

// MPEG-2 scale factors per group, by the six scalefac_compress ranges and
// block kind (long, short, mixed); short counts are bands x 3 windows.
const int kNrOfSfb[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
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

void ReadSideInfo(TFrameLoader& loader, const TMpegHeader& h, const TBands& bands, TL3State& s) {
  const bool mpeg1 = h.Mpeg1();
  const int nchFrame = static_cast<int>(h.Channels());
  const int granules = mpeg1 ? 2 : 1;
  if (mpeg1) {
    s.mainDataBegin = static_cast<int>(loader.GetBits(9));
    loader.GetBits(nchFrame == 1 ? 5 : 3);
    for (int ch = 0; ch < nchFrame; ++ch)
      for (int b = 0; b < 4; ++b) s.scfsi[ch][b] = static_cast<int>(loader.GetBit());
  } else {
    s.mainDataBegin = static_cast<int>(loader.GetBits(8));
    loader.GetBits(nchFrame == 1 ? 1 : 2);
  }
  for (int g = 0; g < granules; ++g) {
    for (int ch = 0; ch < nchFrame; ++ch) {
      TGranuleInfo& gi = s.gr[g][ch];
      gi = TGranuleInfo();
      gi.part23Length = static_cast<int>(loader.GetBits(12));
      gi.bigValues = static_cast<int>(loader.GetBits(9));
      gi.globalGain = static_cast<int>(loader.GetBits(8));
      gi.scalefacCompress = static_cast<int>(loader.GetBits(mpeg1 ? 4 : 9));
      gi.windowSwitching = loader.GetBit() != 0;
      if (gi.windowSwitching) {
        gi.blockType = static_cast<int>(loader.GetBits(2));
        gi.mixed = loader.GetBit() != 0;
        for (int r = 0; r < 2; ++r) gi.tableSelect[r] = static_cast<int>(loader.GetBits(5));
        for (int w = 0; w < 3; ++w) gi.subblockGain[w] = static_cast<int>(loader.GetBits(3));
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
        for (int r = 0; r < 3; ++r) gi.tableSelect[r] = static_cast<int>(loader.GetBits(5));
        const int r0 = static_cast<int>(loader.GetBits(4));
        const int r1 = static_cast<int>(loader.GetBits(3));
        gi.region1Start = bands.l[std::min(r0 + 1, 22)];
        gi.region2Start = bands.l[std::min(r0 + r1 + 2, 22)];
      }
      if (mpeg1) gi.preflag = static_cast<int>(loader.GetBit());
      gi.scalefacScale = static_cast<int>(loader.GetBit());
      gi.count1Table = static_cast<int>(loader.GetBit());
    }
  }
}

bool FillReservoir(TFrameLoader& loader, TL3State& s, int mainSize) {
  if (s.mainFill > kCompactMark || s.mainFill + mainSize > kMainDataCapacity) {
    const int keep = std::min(s.mainDataBegin, s.mainFill);
    std::memmove(s.mainData, s.mainData + s.mainFill - keep, static_cast<size_t>(keep));
    s.mainFill = keep;
  }
  const int fillBefore = s.mainFill;
  loader.CopyBytes(s.mainData + s.mainFill, mainSize);
  s.mainFill += mainSize;
  std::memset(s.mainData + s.mainFill, 0, kMainDataSlack);
  if (fillBefore < s.mainDataBegin) return false;
  s.reader.Attach(s.mainData, static_cast<int64_t>(s.mainFill) * 8,
                  static_cast<int64_t>(fillBefore - s.mainDataBegin) * 8);
  return true;
}

void ReadScaleFactorsMpeg1(TL3State& s, int g, int ch) {
  const TGranuleInfo& gi = s.gr[g][ch];
  TScaleFactors& sf = s.sf[ch];
  const int slen1 = kSlen1[gi.scalefacCompress], slen2 = kSlen2[gi.scalefacCompress];
  if (IsShort(gi)) {
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
}

void ReadScaleFactorsMpeg2(TL3State& s, int ch, bool isRight) {
  TGranuleInfo& gi = s.gr[0][ch];
  TScaleFactors& sf = s.sf[ch];
  int slen[4] = {0, 0, 0, 0};
  int table;
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
  const int kind = IsShort(gi) ? (gi.mixed ? 2 : 1) : 0;
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

const char* DecodeSpectrum(TL3State& s, const TBands& bands, bool mpeg1, const TGranuleInfo& gi, int ch,
                           int64_t part23End) {
  int* q = s.quant[ch];
  std::memset(q, 0, sizeof s.quant[ch]);
  const bool shortBlocks = IsShort(gi);
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
  const char* error = nullptr;
  for (int r = 0; r < 3 && !error; ++r) {
    const THuffPairTable& t = HuffPairTable(gi.tableSelect[r]);
    if (line < regionEnd[r] && gi.tableSelect[r] != 0 && t.TreeId < 0) {
      error = "MPL3 Frame #%d : Bad huffmann data in single lookup";
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
          error = t.Linbits ? "MPL3 Frame #%d : Bad huffmann data in linbit decoding"
                            : "MPL3 Frame #%d : Bad huffmann data in no linbits decoding";
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
  if (!error && line >= bigEnd) {
    line = bigEnd;
    const bool quadB = gi.count1Table != 0;
    while (line < limit && s.reader.Pos() < part23End) {
      if (line + 4 > kLines) {
        error = "MPL3 Frame #%d : index overflow with negative nbits in huffmann quad";
        break;
      }
      int v, w, x, y, length = 0;
      const uint32_t bits = s.reader.Peek32();
      const bool known = HuffDecodeQuadBits(quadB, bits, v, w, x, y, length);
      if (!known) {
        s.reader.Skip(length);
        error = "MPL3 Frame #%d : Bad huffmann data in \"A\" type quad";
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
  if (!error && s.reader.Pos() > part23End + 39) error = "MPL3 Frame #%d : Data overrun. Frame is zeroed";
  if (error) {
    std::memset(q, 0, sizeof s.quant[ch]);
    line = 0;
  }
  line = std::min(line, kLines);
  for (int k = line; k < kLines; ++k) q[k] = 0;
  int nz = line;
  while (nz > 0 && q[nz - 1] == 0) --nz;
  s.nonZero[ch] = nz;
  s.reader.SetPos(part23End);
  return error;
}

}  // namespace sdm::l3
