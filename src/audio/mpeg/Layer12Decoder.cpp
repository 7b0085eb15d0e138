#include "audio/mpeg/Layer12Decoder.h"

#include <algorithm>
#include <cmath>

#include "audio/mpeg/U_MpegAudio.h"

namespace sdm {

namespace {

struct TL12Tables {
  float scale[64];  // 30000 * 2^(1 - i/3); index 63 is not allowed and reads as 0
  TL12Tables() {
    for (int i = 0; i < 63; ++i) scale[i] = static_cast<float>(30000.0 * std::pow(2.0, 1.0 - i / 3.0));
    scale[63] = 0.0f;
  }
};

const TL12Tables& L12() {
  static const TL12Tables t;
  return t;
}

// Layer II allocation tables, ISO/IEC 11172-3 Tables 3-B.2a to 3-B.2d and
// ISO/IEC 13818-3 Table B.1: for each subband the width of its allocation
// field and, per allocation value, the number of quantisation steps.
struct TAllocRow {
  int bits;
  int steps[16];
};

const TAllocRow kRowA0 = {4, {0, 3, 7, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535}};
const TAllocRow kRowA1 = {4, {0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 65535}};
const TAllocRow kRowA2 = {3, {0, 3, 5, 7, 9, 15, 31, 65535}};
const TAllocRow kRowA3 = {2, {0, 3, 5, 65535}};
const TAllocRow kRowC0 = {4, {0, 3, 5, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767}};
const TAllocRow kRowC1 = {3, {0, 3, 5, 9, 15, 31, 63, 127}};
const TAllocRow kRowL0 = {4, {0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383}};
const TAllocRow kRowL1 = {3, {0, 3, 5, 9, 15, 31, 63, 127}};
const TAllocRow kRowL2 = {2, {0, 3, 5, 9}};

const TAllocRow* RowFor(int table, int sb) {
  switch (table) {
    case 0:  // B.2a, 27 subbands
    case 1:  // B.2b, 30 subbands
      return sb < 3 ? &kRowA0 : sb < 11 ? &kRowA1 : sb < 23 ? &kRowA2 : &kRowA3;
    case 2:  // B.2c, 8 subbands
    case 3:  // B.2d, 12 subbands
      return sb < 2 ? &kRowC0 : &kRowC1;
    default:  // low sampling frequencies, 30 subbands
      return sb < 4 ? &kRowL0 : sb < 11 ? &kRowL1 : &kRowL2;
  }
}

const int kSbLimit[5] = {27, 30, 8, 12, 30};

int ChooseTable(const TMpegHeader& h) {
  if (!h.Mpeg1()) return 4;
  int perChannel = static_cast<int>(h.BitRate() / (h.Channels() * 1000));
  uint32_t rate = h.SampleRate();
  if ((rate == 48000 && perChannel >= 56) || (perChannel >= 56 && perChannel <= 80)) return 0;
  if (rate != 48000 && perChannel >= 96) return 1;
  if (rate != 32000 && perChannel <= 48) return 2;
  return 3;
}

// Requantised value of a code of a quantiser with `steps` levels, before the
// scale factor: (2c - steps + 1) / steps.
inline float Dequant(uint32_t code, int steps) {
  return static_cast<float>(2 * static_cast<int>(code) - steps + 1) / static_cast<float>(steps);
}

int BitsForSteps(int steps) {
  int bits = 0;
  while ((1 << bits) < steps + 1) ++bits;
  return bits;
}

}  // namespace

// ------------------------------------------------------------------- Layer I

bool TL1Dec::InitDecoder(int, int, int) {
  if (Loader.FirstHeader.LayerCode() != 0) return false;
  Channels = Loader.FirstHeader.Channels();
  SamplesPerFrame = 384;
  OutputBytes = SamplesPerFrame * Channels * 2;
  Synth.Init(static_cast<int>(Channels));
  LastError.clear();
  return true;
}

void TL1Dec::DecodeFrame(int16_t* out) {
  if (!Loader.FrameLoaded || out == nullptr) return;
  const TMpegHeader& h = Loader.CurrentHeader;
  const int nch = static_cast<int>(Channels);
  const bool frameStereo = h.Channels() == 2;
  int bound = 32;
  if (h.ChannelMode() == 1) bound = 4 * (h.ModeExtension() + 1);
  int alloc[2][32] = {};
  int scf[2][32] = {};
  const float* scale = L12().scale;
  for (int sb = 0; sb < 32; ++sb) {
    if (frameStereo && sb < bound) {
      alloc[0][sb] = static_cast<int>(Loader.GetBits(4));
      alloc[1][sb] = static_cast<int>(Loader.GetBits(4));
    } else {
      alloc[0][sb] = alloc[1][sb] = static_cast<int>(Loader.GetBits(4));
    }
  }
  const int fch = frameStereo ? 2 : 1;
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < fch; ++ch)
      if (alloc[ch][sb] != 0) scf[ch][sb] = static_cast<int>(Loader.GetBits(6));
  for (int s = 0; s < 12; ++s) {
    for (int sb = 0; sb < 32; ++sb) {
      if (frameStereo && sb < bound) {
        for (int ch = 0; ch < 2; ++ch) {
          int a = alloc[ch][sb];
          if (a == 0 || a == 15) {
            sample_[ch][s][sb] = 0.0f;
            continue;
          }
          uint32_t b = Loader.GetBits(a + 1);
          sample_[ch][s][sb] = Dequant(b, (2 << a) - 1) * scale[scf[ch][sb]];
        }
      } else {
        int a = alloc[0][sb];
        if (a == 0 || a == 15) {
          sample_[0][s][sb] = sample_[1][s][sb] = 0.0f;
          continue;
        }
        float v = Dequant(Loader.GetBits(a + 1), (2 << a) - 1);
        sample_[0][s][sb] = v * scale[scf[0][sb]];
        sample_[1][s][sb] = v * scale[scf[fch - 1][sb]];
      }
    }
  }
  for (int s = 0; s < 12; ++s)
    Synth.SynthBlock(sample_[0][s], nch == 2 ? sample_[frameStereo ? 1 : 0][s] : nullptr, out + s * 32 * nch);
}

// ------------------------------------------------------------------ Layer II

bool TL2Dec::InitDecoder(int, int, int) {
  const TMpegHeader& h = Loader.FirstHeader;
  if (h.LayerCode() != 1 || h.RateIndex() == 3) return false;
  Channels = h.Channels();
  SamplesPerFrame = 1152;
  OutputBytes = SamplesPerFrame * Channels * 2;
  Synth.Init(static_cast<int>(Channels));
  LastError.clear();
  return true;
}

void TL2Dec::DecodeFrame(int16_t* out) {
  if (!Loader.FrameLoaded || out == nullptr) return;
  const TMpegHeader& h = Loader.CurrentHeader;
  if (h.BitRateIndex() == 0) return;
  const int nch = static_cast<int>(Channels);
  const bool frameStereo = h.Channels() == 2;
  const int fch = frameStereo ? 2 : 1;
  const int table = ChooseTable(h);
  const int sblimit = kSbLimit[table];
  int bound = sblimit;
  if (h.ChannelMode() == 1) bound = std::min(4 * (h.ModeExtension() + 1), sblimit);

  int alloc[2][32] = {};
  for (int sb = 0; sb < sblimit; ++sb) {
    int bits = RowFor(table, sb)->bits;
    if (sb < bound) {
      for (int ch = 0; ch < fch; ++ch) alloc[ch][sb] = static_cast<int>(Loader.GetBits(bits));
    } else {
      alloc[0][sb] = alloc[1][sb] = static_cast<int>(Loader.GetBits(bits));
    }
  }
  int scfsi[2][32] = {};
  for (int sb = 0; sb < sblimit; ++sb)
    for (int ch = 0; ch < fch; ++ch)
      if (alloc[ch][sb] != 0) scfsi[ch][sb] = static_cast<int>(Loader.GetBits(2));
  int scf[2][32][3] = {};
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < fch; ++ch) {
      if (alloc[ch][sb] == 0) continue;
      int* s = scf[ch][sb];
      switch (scfsi[ch][sb]) {
        case 0:
          s[0] = static_cast<int>(Loader.GetBits(6));
          s[1] = static_cast<int>(Loader.GetBits(6));
          s[2] = static_cast<int>(Loader.GetBits(6));
          break;
        case 1:
          s[0] = s[1] = static_cast<int>(Loader.GetBits(6));
          s[2] = static_cast<int>(Loader.GetBits(6));
          break;
        case 2: s[0] = s[1] = s[2] = static_cast<int>(Loader.GetBits(6)); break;
        default:
          s[0] = static_cast<int>(Loader.GetBits(6));
          s[1] = s[2] = static_cast<int>(Loader.GetBits(6));
          break;
      }
    }
  }
  const float* scale = L12().scale;
  for (int gr = 0; gr < 12; ++gr) {
    const int part = gr / 4;
    for (int sb = 0; sb < 32; ++sb) {
      float v[2][3] = {};
      if (sb < sblimit) {
        const TAllocRow* row = RowFor(table, sb);
        const int readChannels = sb < bound ? fch : 1;
        for (int ch = 0; ch < readChannels; ++ch) {
          int a = alloc[ch][sb];
          if (a == 0) continue;
          int steps = row->steps[a];
          if (steps == 3 || steps == 5 || steps == 9) {
            int bits = steps == 3 ? 5 : steps == 5 ? 7 : 10;
            uint32_t c = Loader.GetBits(bits);
            for (int k = 0; k < 3; ++k) {
              v[ch][k] = Dequant(c % steps, steps);
              c /= steps;
            }
          } else {
            int bits = BitsForSteps(steps);
            for (int k = 0; k < 3; ++k) v[ch][k] = Dequant(Loader.GetBits(bits), steps);
          }
        }
        if (sb >= bound && frameStereo) {
          for (int k = 0; k < 3; ++k) v[1][k] = v[0][k];
        }
        for (int ch = 0; ch < fch; ++ch) {
          float f = alloc[ch][sb] != 0 ? scale[scf[ch][sb][part]] : 0.0f;
          for (int k = 0; k < 3; ++k) v[ch][k] *= f;
        }
      }
      for (int ch = 0; ch < fch; ++ch)
        for (int k = 0; k < 3; ++k) sample_[ch][gr * 3 + k][sb] = v[ch][k];
    }
  }
  for (int s = 0; s < 36; ++s)
    Synth.SynthBlock(sample_[0][s], nch == 2 ? sample_[frameStereo ? 1 : 0][s] : nullptr, out + s * 32 * nch);
}

}  // namespace sdm
