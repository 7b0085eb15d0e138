#pragma once
// From our 32-bit bitmaps to the 24-bit DIB the compressors take, and 24-bit
// BMP files in and out (the frames and fit commands write them).
#include <string>

#include "frames/Bitmap32.h"
#include "platform/Dib24.h"

namespace sdm {

// The bitmap as a 24-bit bottom-up BGR DIB; the alpha byte is dropped.
void Bitmap32ToDib24(const TBitmap32& src, TDib24& dst);
TDib24 Bitmap32ToDib24(const TBitmap32& src);

// Writes a 24-bit BMP file (file header, 40-byte info header, the DIB's rows).
// The file is written beside its final name and renamed into place, so a full
// disk leaves any earlier file of that name untouched. Throws EError naming
// the file on failure.
void SaveBmp24(const TDib24& dib, const std::string& fileName);
void SaveBmp24(const TBitmap32& bitmap, const std::string& fileName);

// Reads any BMP file our reader takes into a 24-bit DIB.
TDib24 LoadBmp24(const std::string& fileName);

}  // namespace sdm
