#pragma once
// TImageFile: one picture of the slideshow in memory, decoded into a 32-bit
// bitmap and fitted into the frame size with black bars.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frames/Bitmap32.h"
#include "frames/FrameOptions.h"

namespace sdm {

// Limits that keep a hostile or broken picture file, or a size asked for, from
// making us allocate without bound. A picture is held whole as a 32-bit bitmap
// of at most 1 GiB (some 268 million pixels); a larger JPEG is decoded at a
// reduced scale, a larger BMP refused. Fitted pictures and frames stay within
// the same bound. The file limit covers the largest camera JPEGs.
#ifdef SDM_PICTURE_FUZZ_BYTES
// The fuzz target lowers the bound, so that a few bytes declaring a vast
// picture cannot make one run take seconds, and the reduced scales are
// reached by small inputs.
constexpr int64_t kMaxPictureBytes = SDM_PICTURE_FUZZ_BYTES;
#else
constexpr int64_t kMaxPictureBytes = 1ll << 30;
#endif
constexpr int64_t kMaxPicturePixels = kMaxPictureBytes / 4;
constexpr int kMaxPictureSide = 65535;
constexpr int64_t kMaxPictureFileSize = 512ll * 1024 * 1024;

// The frame size a picture is about to be fitted into (0 × 0: not known). A
// JPEG too large to hold whole is then decoded at the smallest scale that
// still covers that frame.
struct TFitSize {
  int width = 0;
  int height = 0;
  // The picture is only ever shown this small (a thumbnail): it may be
  // decoded smaller than it is, no smaller than needed to cover the frame
  // (a JPEG by DCT scaling or from its EXIF thumbnail, a WebP scaled, a
  // HEIF from its own thumbnail). Frames of a video never ask for this, so
  // they stay exactly what a full decode gives.
  bool thumbnail = false;
};

// "Cannot load picture "<file>": <reason>", the form of every loading error.
constexpr const char* kCannotLoadPicture = "Cannot load picture";
std::string PictureError(const std::string& fileName, const std::string& reason);
// "20000 x 15000 pixels, 1145 MiB as a 32-bit bitmap": how large a picture or
// frame is, for the errors that refuse one.
std::string BitmapSizeText(int64_t width, int64_t height);
// Refuses a picture size that is empty or has a side beyond kMaxPictureSide.
void CheckPictureSides(const std::string& fileName, int64_t width, int64_t height);
// Refuses what CheckPictureSides refuses, and a picture beyond kMaxPicturePixels.
void CheckPictureSize(const std::string& fileName, int64_t width, int64_t height);
// Refuses a fitting target beyond kMaxPicturePixels (or negative), before
// anything is allocated for it.
void CheckFitSize(int width, int height);
// The whole picture file, refused when it is not a regular file (a folder, a
// named pipe, a device), cannot be read, or is beyond kMaxPictureFileSize.
std::vector<uint8_t> ReadPictureFile(const std::string& fileName);
// Decodes a picture file image, its kind told by its first bytes (or, when
// they match none, by the extension of fileName), into an opaque bitmap in
// sRGB. Throws EError naming the file.
void DecodePicture(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out);

class TImageFile {
public:
  // Loads the picture at its own size. Throws EError naming the file (or the
  // extension) when it cannot be opened or decoded.
  explicit TImageFile(const std::string& fileName);
  // Loads the picture knowing the size it will be fitted into; only a picture
  // too large to hold whole comes out differently (at a reduced scale).
  TImageFile(const std::string& fileName, TFitSize fit);
  // Loads the picture, then Fit(width, height). A target beyond
  // kMaxPicturePixels is refused before the file is read.
  TImageFile(const std::string& fileName, int width, int height);
  // Loads the picture into storage handed back by an earlier picture's Fit,
  // so that a slideshow decodes picture after picture into the same memory
  // instead of mapping (and faulting in) a fresh picture-sized buffer each.
  TImageFile(const std::string& fileName, TFitSize fit, TBitmap32&& storage);

  // Scales the loaded picture into a width × height bitmap with black bars,
  // by the nearest pixel (Sharp) or filtered (Smooth); both place the
  // picture and its bars alike. Throws EError for a target beyond
  // kMaxPicturePixels. The picture as loaded is let go, or moved into spare
  // when one is given.
  void Fit(int width, int height, TBitmap32* spare = nullptr, TFitFilter filter = TFitFilter::Sharp);
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
  int loadedWidth_ = 0;  // the picture's own size, kept for error reports
  int loadedHeight_ = 0;
  std::string fileName_;
};

}  // namespace sdm
