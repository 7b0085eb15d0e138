#pragma once
// TImageFile: one picture of the slideshow in memory, decoded into a 32-bit
// bitmap and fitted into the frame size with black bars.
#include <cstdint>
#include <string>
#include <vector>

#include "frames/Bitmap32.h"

namespace sdm {

// Limits that keep a hostile or broken picture file from making us allocate
// without bound. 100 megapixels is more than any camera a slideshow meets and
// still fits in memory as a 32-bit bitmap; the file limit covers an
// uncompressed 100-megapixel 32-bit BMP.
constexpr int64_t kMaxPicturePixels = 100'000'000;
constexpr int kMaxPictureSide = 65535;
constexpr int64_t kMaxPictureFileSize = 512ll * 1024 * 1024;

// "Cannot load picture "<file>": <reason>", the form of every loading error.
std::string PictureError(const std::string& fileName, const std::string& reason);
// Refuses a picture size that is empty or beyond the limits above.
void CheckPictureSize(const std::string& fileName, int64_t width, int64_t height);
// The whole picture file, refused when it cannot be read or is beyond
// kMaxPictureFileSize.
std::vector<uint8_t> ReadPictureFile(const std::string& fileName);

class TImageFile {
public:
  // Loads the picture at its own size. Throws EError naming the file (or the
  // extension) when it cannot be opened or decoded.
  explicit TImageFile(const std::string& fileName);
  // Loads the picture, then Fit(width, height).
  TImageFile(const std::string& fileName, int width, int height);

  // Scales the loaded picture into a width × height bitmap with black bars.
  void Fit(int width, int height);
  // Resizes dest to width × height and copies the picture's rectangle at
  // (left, top) of that size into it, pixel for pixel.
  void CopyWindow(int top, int left, int height, int width, TBitmap32& dest) const;
  void Greyscale();
  void Sepia();

  const TBitmap32& Bitmap() const { return bitmap_; }
  TBitmap32& Bitmap() { return bitmap_; }
  int Width() const { return bitmap_.Width(); }
  int Height() const { return bitmap_.Height(); }

private:
  TBitmap32 bitmap_;
  int loadedWidth_ = 0;   // the picture's own size, kept for error reports
  int loadedHeight_ = 0;
  std::string fileName_;
};

}  // namespace sdm
