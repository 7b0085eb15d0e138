#include "frames/U_Fader.h"

#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <stdexcept>
#include <string>

namespace sdm {

namespace {

#if defined(__SSE2__)
// nearest(d × w) of four differences, in double precision as the rule says:
// cvtpd2dq rounds in the current rounding mode, to nearest with ties to even
// as nearbyint does, and a product of an 8-bit difference and a float weight
// is exact in a double.
inline __m128i Shares(__m128i d, __m128d w) {
  const __m128i lo = _mm_cvtpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(d), w));
  const __m128i hi = _mm_cvtpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(d, 0x0E)), w));
  return _mm_unpacklo_epi64(lo, hi);
}

// Four 16-bit differences, sign-extended to 32 bits.
inline __m128i Widen(__m128i d16, bool high) {
  return _mm_srai_epi32(high ? _mm_unpackhi_epi16(d16, d16) : _mm_unpacklo_epi16(d16, d16), 16);
}

// Mixes pixels four at a time, every byte at once (alpha too, then cleared);
// returns how many pixels it did.
size_t BlendGroups(const TColor32* a, const TColor32* b, TColor32* out, size_t n, double weight) {
  const __m128d w = _mm_set1_pd(weight);
  const __m128i zero = _mm_setzero_si128();
  const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i aLo = _mm_unpacklo_epi8(pa, zero), aHi = _mm_unpackhi_epi8(pa, zero);
    const __m128i dLo = _mm_sub_epi16(_mm_unpacklo_epi8(pb, zero), aLo);
    const __m128i dHi = _mm_sub_epi16(_mm_unpackhi_epi8(pb, zero), aHi);
    const __m128i sharesLo = _mm_packs_epi32(Shares(Widen(dLo, false), w), Shares(Widen(dLo, true), w));
    const __m128i sharesHi = _mm_packs_epi32(Shares(Widen(dHi, false), w), Shares(Widen(dHi, true), w));
    const __m128i mixLo = _mm_add_epi16(aLo, sharesLo), mixHi = _mm_add_epi16(aHi, sharesHi);
    // Each mix lies between its two bytes, so packing never saturates.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_and_si128(_mm_packus_epi16(mixLo, mixHi), colour));
  }
  return i;
}
#else
size_t BlendGroups(const TColor32*, const TColor32*, TColor32*, size_t, double) { return 0; }
#endif

}  // namespace

float TFramesFader::Weight(int k, int fadeFrames) {
  // The weight is deliberately narrowed to single precision: the rounding of
  // every mixed byte depends on it (w = 0.5 exactly gives ties, which go to even).
  return static_cast<float>(static_cast<double>(k) / static_cast<double>(fadeFrames));
}

void TFramesFader::Blend(int k, TBitmap32& dest) const {
  if (fadeFrames_ <= 0 || k < 0 || k >= fadeFrames_)
    throw std::out_of_range("Fade frame " + std::to_string(k) + " out of range (" + std::to_string(fadeFrames_) +
                            " fade frames)");
  if (fromFrame_.Width() != toFrame_.Width() || fromFrame_.Height() != toFrame_.Height())
    throw std::invalid_argument("Cross-fade views differ in size");
  const double w = Weight(k, fadeFrames_);

  if (dest.Width() != fromFrame_.Width() || dest.Height() != fromFrame_.Height())
    dest.SetSizeForOverwrite(fromFrame_.Width(), fromFrame_.Height());
  const size_t n = static_cast<size_t>(fromFrame_.Width()) * static_cast<size_t>(fromFrame_.Height());
  const TColor32* a = fromFrame_.Bits();
  const TColor32* b = toFrame_.Bits();
  TColor32* out = dest.Bits();
  size_t i = BlendGroups(a, b, out, n, w);

  // The rest one by one. Every channel difference b - a lies in -255..255;
  // its rounded share is worked out once instead of once per byte.
  if (i == n) return;
  int share[511];
  for (int d = -255; d <= 255; ++d) share[d + 255] = static_cast<int>(std::nearbyint(d * w));
  for (; i < n; ++i) {
    const TColor32 pa = a[i];
    const TColor32 pb = b[i];
    const int r = RedOf(pa) + share[RedOf(pb) - RedOf(pa) + 255];
    const int g = GreenOf(pa) + share[GreenOf(pb) - GreenOf(pa) + 255];
    const int bl = BlueOf(pa) + share[BlueOf(pb) - BlueOf(pa) + 255];
    out[i] = Color32(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(bl), 0);
  }
}

}  // namespace sdm
