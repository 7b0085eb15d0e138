#include "frames/U_Fader.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace sdm {

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

  // Every channel difference b - a lies in -255..255; its rounded share is
  // worked out once per fade frame instead of once per byte.
  int share[511];
  for (int d = -255; d <= 255; ++d) share[d + 255] = static_cast<int>(std::nearbyint(d * w));

  if (dest.Width() != fromFrame_.Width() || dest.Height() != fromFrame_.Height())
    dest.SetSizeForOverwrite(fromFrame_.Width(), fromFrame_.Height());
  const size_t n = static_cast<size_t>(fromFrame_.Width()) * static_cast<size_t>(fromFrame_.Height());
  const TColor32* a = fromFrame_.Bits();
  const TColor32* b = toFrame_.Bits();
  TColor32* out = dest.Bits();
  for (size_t i = 0; i < n; ++i) {
    const TColor32 pa = a[i];
    const TColor32 pb = b[i];
    const int r = RedOf(pa) + share[RedOf(pb) - RedOf(pa) + 255];
    const int g = GreenOf(pa) + share[GreenOf(pb) - GreenOf(pa) + 255];
    const int bl = BlueOf(pa) + share[BlueOf(pb) - BlueOf(pa) + 255];
    out[i] = Color32(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(bl), 0);
  }
}

}  // namespace sdm
