#include "audio/mpeg/SynthesisFilter.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sdm {

namespace {

// First half (and centre) of the synthesis window D[i] of ISO/IEC 11172-3,
// Annex B, Table 3-B.3. The second half mirrors it: D[512 - i] = -D[i], except
// at multiples of 64 where the sign is kept.
const float kWindowHalf[257] = {
    0.000000000f,  -0.000015259f, -0.000015259f, -0.000015259f, -0.000015259f, -0.000015259f, -0.000015259f,
    -0.000030518f, -0.000030518f, -0.000030518f, -0.000030518f, -0.000045776f, -0.000045776f, -0.000061035f,
    -0.000061035f, -0.000076294f, -0.000076294f, -0.000091553f, -0.000106812f, -0.000106812f, -0.000122070f,
    -0.000137329f, -0.000152588f, -0.000167847f, -0.000198364f, -0.000213623f, -0.000244141f, -0.000259399f,
    -0.000289917f, -0.000320435f, -0.000366211f, -0.000396729f, -0.000442505f, -0.000473022f, -0.000534058f,
    -0.000579834f, -0.000625610f, -0.000686646f, -0.000747681f, -0.000808716f, -0.000885010f, -0.000961304f,
    -0.001037598f, -0.001113892f, -0.001205444f, -0.001296997f, -0.001388550f, -0.001480103f, -0.001586914f,
    -0.001693726f, -0.001785278f, -0.001907349f, -0.002014160f, -0.002120972f, -0.002243042f, -0.002349854f,
    -0.002456665f, -0.002578735f, -0.002685547f, -0.002792358f, -0.002899170f, -0.002990723f, -0.003082275f,
    -0.003173828f, 0.003250122f,  0.003326416f,  0.003387451f,  0.003433228f,  0.003463745f,  0.003479004f,
    0.003479004f,  0.003463745f,  0.003417969f,  0.003372192f,  0.003280640f,  0.003173828f,  0.003051758f,
    0.002883911f,  0.002700806f,  0.002487183f,  0.002227783f,  0.001937866f,  0.001617432f,  0.001266479f,
    0.000869751f,  0.000442505f,  -0.000030518f, -0.000549316f, -0.001098633f, -0.001693726f, -0.002334595f,
    -0.003005981f, -0.003723145f, -0.004486084f, -0.005294800f, -0.006118774f, -0.007003784f, -0.007919312f,
    -0.008865356f, -0.009841919f, -0.010848999f, -0.011886597f, -0.012939453f, -0.014022827f, -0.015121460f,
    -0.016235352f, -0.017349243f, -0.018463135f, -0.019577026f, -0.020690918f, -0.021789551f, -0.022857666f,
    -0.023910522f, -0.024932861f, -0.025909424f, -0.026840210f, -0.027725220f, -0.028533936f, -0.029281616f,
    -0.029937744f, -0.030532837f, -0.031005859f, -0.031387329f, -0.031661987f, -0.031814575f, -0.031845093f,
    -0.031738281f, -0.031478882f, 0.031082153f,  0.030517578f,  0.029785156f,  0.028884888f,  0.027801514f,
    0.026535034f,  0.025085449f,  0.023422241f,  0.021575928f,  0.019531250f,  0.017257690f,  0.014801025f,
    0.012115479f,  0.009231567f,  0.006134033f,  0.002822876f,  -0.000686646f, -0.004394531f, -0.008316040f,
    -0.012420654f, -0.016708374f, -0.021179199f, -0.025817871f, -0.030609131f, -0.035552979f, -0.040634155f,
    -0.045837402f, -0.051132202f, -0.056533813f, -0.061996460f, -0.067520142f, -0.073059082f, -0.078628540f,
    -0.084182739f, -0.089706421f, -0.095169067f, -0.100540161f, -0.105819702f, -0.110946655f, -0.115921021f,
    -0.120697021f, -0.125259399f, -0.129562378f, -0.133590698f, -0.137298584f, -0.140670776f, -0.143676758f,
    -0.146255493f, -0.148422241f, -0.150115967f, -0.151306152f, -0.151962280f, -0.152069092f, -0.151596069f,
    -0.150497437f, -0.148773193f, -0.146362305f, -0.143264771f, -0.139450073f, -0.134887695f, -0.129577637f,
    -0.123474121f, -0.116577148f, -0.108856201f, 0.100311279f,  0.090927124f,  0.080688477f,  0.069595337f,
    0.057617187f,  0.044784546f,  0.031082153f,  0.016510010f,  0.001068115f,  -0.015228271f, -0.032379150f,
    -0.050354004f, -0.069168091f, -0.088775635f, -0.109161377f, -0.130310059f, -0.152206421f, -0.174789429f,
    -0.198059082f, -0.221984863f, -0.246505737f, -0.271591187f, -0.297210693f, -0.323318481f, -0.349868774f,
    -0.376800537f, -0.404083252f, -0.431655884f, -0.459472656f, -0.487472534f, -0.515609741f, -0.543823242f,
    -0.572036743f, -0.600219727f, -0.628295898f, -0.656219482f, -0.683914185f, -0.711318970f, -0.738372803f,
    -0.765029907f, -0.791213989f, -0.816864014f, -0.841949463f, -0.866363525f, -0.890090942f, -0.913055420f,
    -0.935195923f, -0.956481934f, -0.976852417f, -0.996246338f, -1.014617920f, -1.031936646f, -1.048156738f,
    -1.063217163f, -1.077117920f, -1.089782715f, -1.101211548f, -1.111373901f, -1.120223999f, -1.127746582f,
    -1.133926392f, -1.138763428f, -1.142211914f, -1.144287109f, 1.144989014f,
};

// Lanes of the window sums: GCC's vector extension, which the compiler maps
// to SSE registers (or plain loops elsewhere).
typedef float v4sf __attribute__((vector_size(16)));

struct TTables {
  float window[512];
  // The window rearranged for the sums of TAudioSynth::Window: for each of
  // the eight block pairs i, 16 lanes of each of the four products, signs
  // folded in (see there).
  alignas(16) float lanes[8][4][16];
  // Butterfly factors of the DCT stage of size n = 32 >> level:
  // 1 / (2 cos((2i + 1) pi / 2n)) for i < n / 2.
  float dctScale[5][16];
  TTables() {
    for (int i = 0; i <= 256; ++i) window[i] = kWindowHalf[i];
    for (int i = 1; i < 256; ++i) window[512 - i] = (i % 64 == 0) ? kWindowHalf[i] : -kWindowHalf[i];
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 16; ++j) {
        lanes[i][0][j] = window[64 * i + j];
        lanes[i][1][j] = -window[64 * i + 32 + j];
        lanes[i][2][j] = -window[64 * i + 16 + j];
        lanes[i][3][j] = -window[64 * i + 48 + j];
      }
    for (int level = 0, n = 32; n >= 2; ++level, n /= 2)
      for (int i = 0; i < n / 2; ++i)
        dctScale[level][i] = static_cast<float>(0.5 / std::cos((2 * i + 1) * M_PI / (2.0 * n)));
  }
};

const TTables& Tables() {
  static const TTables t;
  return t;
}

// out[k] = sum over i of in[i] cos((2i + 1) k pi / 2n), n a power of two from
// 2 to 32, by B. G. Lee's recursive split: the sums and the scaled
// differences of mirrored inputs are two DCTs of half the size, giving the
// even outputs and (added pairwise) the odd ones. About 80 multiplications
// for n = 32 instead of 1024. The size is a template argument, so the
// compiler unrolls the whole recursion into straight code.
template <int N>
inline void Dct(const float* in, float* out, const float* const* scales) {
  const float* c = scales[0];
  if constexpr (N == 2) {
    out[0] = in[0] + in[1];
    out[1] = (in[0] - in[1]) * c[0];
  } else {
    constexpr int h = N / 2;
    float sums[h], diffs[h], even[h], odd[h];
    for (int i = 0; i < h; ++i) {
      sums[i] = in[i] + in[N - 1 - i];
      diffs[i] = (in[i] - in[N - 1 - i]) * c[i];
    }
    Dct<h>(sums, even, scales + 1);
    Dct<h>(diffs, odd, scales + 1);
    for (int k = 0; k < h - 1; ++k) {
      out[2 * k] = even[k];
      out[2 * k + 1] = odd[k] + odd[k + 1];
    }
    out[N - 2] = even[h - 1];
    out[N - 1] = odd[h - 1];
  }
}

inline v4sf Load(const float* p) {
  v4sf v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Store(float* p, v4sf v) { std::memcpy(p, &v, sizeof v); }

// Rounds to nearest (ties to even) and clips: loud passages saturate
// instead of wrapping; the 32 samples land step apart.
void ToSamples(const float* in, int16_t* out, int step) {
#if defined(__SSE2__)
  alignas(16) int16_t packed[32];
  for (int k = 0; k < 32; k += 8) {
    // cvtps rounds in the default mode (nearest, ties to even); packs
    // saturates to 16 bits.
    const __m128i lo = _mm_cvtps_epi32(_mm_loadu_ps(in + k));
    const __m128i hi = _mm_cvtps_epi32(_mm_loadu_ps(in + k + 4));
    _mm_store_si128(reinterpret_cast<__m128i*>(packed + k), _mm_packs_epi32(lo, hi));
  }
  for (int k = 0; k < 32; ++k) out[k * step] = packed[k];
#else
  for (int k = 0; k < 32; ++k) {
    const float r = std::nearbyint(in[k]);
    out[k * step] = r > 32767.0f ? int16_t{32767} : r < -32768.0f ? int16_t{-32768} : static_cast<int16_t>(r);
  }
#endif
}

}  // namespace

TAudioSynth::TAudioSynth() { Reset(); }

const float* TAudioSynth::Window() { return Tables().window; }

void TAudioSynth::Init(int channels) {
  channels_ = channels == 1 ? 1 : 2;
  Reset();
}

void TAudioSynth::Reset() {
  std::memset(buf_, 0, sizeof buf_);
  std::memset(rev_, 0, sizeof rev_);
  pos_ = 0;
}

// The 64 values of the standard's matrixing follow from a 32-point DCT by
// symmetry, so only the 32 DCT values of each block are kept, and beside
// them the same values mirrored (r[k] = v[32 - k], r[0] = 0), so that every
// sum of the window reads its values in ascending order.
void TAudioSynth::Matrix(int ch, const float* in) {
  const TTables& t = Tables();
  const float* scales[5] = {t.dctScale[0], t.dctScale[1], t.dctScale[2], t.dctScale[3], t.dctScale[4]};
  float* v = &buf_[ch][pos_];
  Dct<32>(in, v, scales);
  float* r = &rev_[ch][pos_];
  r[0] = 0.0f;
  for (int k = 1; k < 32; ++k) r[k] = v[32 - k];
}

// The standard's window over the 16 blocks of the history, with its 64-value
// blocks expressed through the DCT values v of the even blocks E (ages 0, 2,
// ... 14) and the odd blocks O:
//   out[j]      = sum over i of  D[64i + j] E_i.v[16 + j] - D[64i + 32 + j] O_i.r[16 + j]
//   out[16 + j] = sum over i of -D[64i + 16 + j] E_i.r[j] - D[64i + 48 + j] O_i.v[j]
// for j = 0..15, each sum in 16 lanes. The terms are added in the same order
// as one sample at a time, so the result does not depend on the lanes.
void TAudioSynth::Window(int ch, float* out) {
  const TTables& t = Tables();
  v4sf lo[4] = {}, hi[4] = {};
  for (unsigned i = 0; i < 8; ++i) {
    const unsigned e = (pos_ + 64u * i) & 511u, o = (pos_ + 64u * i + 32u) & 511u;
    const float* ev = &buf_[ch][e];
    const float* er = &rev_[ch][e];
    const float* ov = &buf_[ch][o];
    const float* orr = &rev_[ch][o];
    const float(*w)[16] = t.lanes[i];
    for (int q = 0; q < 4; ++q) {
      lo[q] += Load(w[0] + 4 * q) * Load(ev + 16 + 4 * q) + Load(w[1] + 4 * q) * Load(orr + 16 + 4 * q);
      hi[q] += Load(w[2] + 4 * q) * Load(er + 4 * q) + Load(w[3] + 4 * q) * Load(ov + 4 * q);
    }
  }
  for (int q = 0; q < 4; ++q) {
    Store(out + 4 * q, lo[q]);
    Store(out + 16 + 4 * q, hi[q]);
  }
}

void TAudioSynth::SynthBlock(const float* left, const float* right, int16_t* out) {
  alignas(16) float samples[32];
  if (channels_ == 1 || right == nullptr) {
    Matrix(0, left);
    Window(0, samples);
    ToSamples(samples, out, 1);
  } else {
    Matrix(0, left);
    Matrix(1, right);
    Window(0, samples);
    ToSamples(samples, out, 2);
    Window(1, samples);
    ToSamples(samples, out + 1, 2);
  }
  pos_ = (pos_ - 32u) & 511u;
}

}  // namespace sdm
