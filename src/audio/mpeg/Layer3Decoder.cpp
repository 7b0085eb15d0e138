#include "audio/mpeg/Layer3Decoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "audio/mpeg/HybridFilter.h"
#include "audio/mpeg/Layer3State.h"
#include "audio/mpeg/U_MpegAudio.h"

namespace sdm {

using namespace l3;

namespace {

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

struct TTables {
  float pow43[8207];               // |i|^(4/3) for every quantised magnitude a frame can carry
  float quarter[4];                // 2^(q/4)
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
inline float GainFactor(int q) { return std::ldexp(Tab().quarter[q & 3], (q >> 2) + 15); }

}  // namespace

namespace {

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

// Requantisation of one granule and channel, in the order the lines were
// coded: |q|^(4/3) times the gain of the line's band and window.
void Requantize(TL3State& s, const TBands& bands, const TGranuleInfo& gi, int ch) {
  const int* q = s.quant[ch];
  const TScaleFactors& sf = s.sf[ch];
  const int nz = s.nonZero[ch];
  const bool shortBlocks = IsShort(gi);
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

// The polyphase synthesis of one granule's hybrid filter output into 576
// interleaved samples per output channel at dst. The top subband is never
// output.
void SynthesizeGranule(TAudioSynth& synth, const TL3State& s, int nchFrame, int nchOut, int16_t* dst) {
  float left[32], right[32];
  for (int t = 0; t < 18; ++t) {
    for (int sb = 0; sb < 32; ++sb) {
      left[sb] = s.hybridOut[0][sb * 18 + t];
      right[sb] = s.hybridOut[nchFrame == 2 ? 1 : 0][sb * 18 + t];
    }
    left[31] = right[31] = 0.0f;
    synth.SynthBlock(left, nchOut == 2 ? right : nullptr, dst + t * 32 * nchOut);
  }
}

std::string SynthesisErrorText(int frameNo, int nchOut, const char* what) {
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
  return std::string(buf) + "\"" + what + "\"";
}

}  // namespace

void TL3Dec::DecodeFrame(int16_t* out) {
  TL3State& s = *s_;
  // What went wrong with this frame, if anything: the reader counts it.
  LastError.clear();
  if (!Loader.FrameLoaded) return;
  const TMpegHeader& h = Loader.CurrentHeader;
  // The output was sized for the first frame: a frame of the other version
  // (one granule instead of two, or the reverse) cannot be placed in it.
  if (h.LayerCode() != 2 || h.SamplesPerFrame() != SamplesPerFrame) {
    LastError = FrameText("MPL3 Frame #%d : not a frame of this stream's layer and version", Loader.CurrentFrame);
    return;
  }
  const bool mpeg1 = h.Mpeg1();
  const int frameNo = Loader.CurrentFrame;
  const int nchFrame = static_cast<int>(h.Channels());
  const int nchOut = static_cast<int>(Channels);
  const TBands& bands = kBands[BandTableIndex(h)];
  const int granules = mpeg1 ? 2 : 1;

  ReadSideInfo(Loader, h, bands, s);

  const int mainSize = h.MainDataSize;
  if (mainSize < 0 || mainSize > kReservoirSize) {
    LastError = FrameText(mpeg1 ? "MP1L3 Frame #%d : number of bytes in frame is negative of exceed frame max"
                                : "MP2L3 Frame #%d : number of bytes in frame is negative of exceed frame max",
                          frameNo);
    return;
  }
  if (!FillReservoir(Loader, s, mainSize)) return;

  const int mode = h.ChannelMode();
  const bool msStereo = nchFrame == 2 && mode == 1 && (h.ModeExtension() & 2);
  const bool isStereo = nchFrame == 2 && mode == 1 && (h.ModeExtension() & 1);

  for (int g = 0; g < granules; ++g) {
    for (int ch = 0; ch < nchFrame; ++ch) {
      const TGranuleInfo& gi = s.gr[g][ch];
      const int64_t part2Start = s.reader.Pos();
      if (mpeg1)
        ReadScaleFactorsMpeg1(s, g, ch);
      else
        ReadScaleFactorsMpeg2(s, ch, isStereo && ch == 1);
      if (const char* error = DecodeSpectrum(s, bands, mpeg1, gi, ch, part2Start + gi.part23Length))
        LastError = FrameText(error, frameNo);
      Requantize(s, bands, gi, ch);
    }

    if (nchFrame == 2 && (msStereo || isStereo)) StereoProcess(s, bands, mpeg1, g, msStereo, isStereo);

    for (int ch = 0; ch < nchFrame; ++ch) HybridFilter(s, bands, g, ch);

    if (out != nullptr) {
      try {
        SynthesizeGranule(Synth, s, nchFrame, nchOut, out + static_cast<size_t>(g) * kLines * nchOut);
      } catch (const std::exception& e) {
        LastError = SynthesisErrorText(frameNo, nchOut, e.what());
      }
    }
  }
}

}  // namespace sdm
