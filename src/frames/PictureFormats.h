#pragma once
// The kinds of picture file the program reads, how each is told by its first
// bytes, the names that mark them, and the one call that decodes any of them
// into a 32-bit bitmap: opaque, upright, in sRGB.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frames/Bitmap32.h"
#include "frames/ColorProfile.h"
#include "frames/U_ImageFile.h"

namespace sdm {

enum class TPictureKind { Unknown, Jpeg, Bmp, Png, Gif, Webp, Tiff, Heif };

// "JPEG", "PNG", ..., for messages.
const char* PictureKindName(TPictureKind kind);

// The kind a file image is by its signature, Unknown when none matches. HEIF
// is told by the brands of its "ftyp" box (HEIC, HEIF and AVIF pictures; an
// MP4 video has other brands).
TPictureKind DetectPictureKind(const uint8_t* data, size_t size);

// The kind an extension names (".JPG", ".heic": with its dot, case ignored),
// Unknown for any other.
TPictureKind PictureKindOfExtension(const std::string& extension);

// Every extension of the kinds we read, lower case with the dot, JPEG first.
const std::vector<std::string>& PictureExtensions();

// True when the name of path ends in one of PictureExtensions(), in any case.
bool HasPictureExtension(const std::string& path);

// What a reader tells besides the pixels, for the steps after it.
struct TPictureExtras {
  std::vector<uint8_t> profile;          // the embedded ICC profile, empty without one
  TColorModel model = TColorModel::Rgb;  // Grey when the stored picture had one channel
  bool alpha = false;                    // pixels carry straight alpha, still to be put over black
};

// Puts a picture with straight alpha over black; alpha becomes 255.
void CompositeOverBlack(TBitmap32& bitmap);

// Decodes a file image of a known kind: the reader, then the colour profile
// to sRGB, then transparent parts over black. Throws EError naming fileName.
void DecodePictureOfKind(TPictureKind kind, const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit,
                         TBitmap32& out);

}  // namespace sdm
