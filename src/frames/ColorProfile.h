#pragma once
// Embedded colour profiles (ICC) turned into sRGB with lcms2, so a photo
// taken in Adobe RGB or Display P3 shows its true colours on video, which is
// sRGB. A picture without a profile is taken as sRGB and left alone, and so
// is one whose profile is sRGB itself: its pixels stay exactly as decoded.
// A profile that cannot be used (garbled, cut short, of another colour
// space than the picture) is ignored with a log line; it never stops a
// picture loading.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frames/Bitmap32.h"

namespace sdm {

// How the pixels handed to a transform hold their colour.
enum class TColorModel {
  Rgb,           // 0xAARRGGBB, alpha kept
  Grey,          // 0xAARRGGBB with equal channels: the blue byte is the grey level, alpha kept
  Cmyk,          // the four bytes of each pixel are C, M, Y, K (0 = no ink); alpha becomes 255
  CmykInverted,  // the same as Adobe applications store it (255 = no ink)
};

class TColorTransform {
public:
  // The transform from the profile to sRGB for pixels of that model. Null
  // when there is nothing to do (the profile is sRGB already: why stays
  // empty) or when the profile cannot be used (why says so).
  static std::unique_ptr<TColorTransform> Create(const uint8_t* profile, size_t size, TColorModel model,
                                                 std::string& why);
  ~TColorTransform();
  TColorTransform(const TColorTransform&) = delete;
  TColorTransform& operator=(const TColorTransform&) = delete;

  // Converts count pixels in place. One transform serves one thread at a time.
  void Apply(TColor32* pixels, size_t count) const;

private:
  struct TState;
  explicit TColorTransform(std::unique_ptr<TState> state);
  std::unique_ptr<TState> state_;
};

// Converts a decoded picture from its embedded profile to sRGB, row by row.
// An unusable profile leaves the pixels as they are and gives the log line
// "Colour profile ignored : <file> (<reason>)".
void ConvertToSrgb(TBitmap32& bitmap, const std::vector<uint8_t>& profile, TColorModel model,
                   const std::string& fileName);

// The transform for a picture's profile, or null; an unusable profile gives
// the log line as above.
std::unique_ptr<TColorTransform> ProfileTransform(const std::vector<uint8_t>& profile, TColorModel model,
                                                  const std::string& fileName);

}  // namespace sdm
