#pragma once
// JPEG pictures through libjpeg, decoded into 8-bit red, green and blue:
// baseline, progressive, grey, and CMYK/YCCK (Adobe's inverted form included).
// The EXIF orientation is applied as the rows arrive, so the bitmap stands the
// way the photographer saw it. A picture whose bitmap would be beyond
// kMaxPicturePixels is decoded at 1/2, 1/4 or 1/8 of its size by libjpeg's DCT
// scaling; any other is decoded at full size. libjpeg's errors become EError;
// it never gets to exit(). Its warnings (a missing end marker, a damaged
// scan) are not: what can be decoded is, as every viewer shows it; only a
// file of which nothing can be decoded is refused.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frames/Bitmap32.h"
#include "frames/U_ImageFile.h"

namespace sdm {

// Decodes the JPEG file image data[0, size) into out (alpha 255). fit, when
// given, is the frame the picture goes into: a reduced scale is then chosen no
// smaller than needed to cover it. Throws EError naming fileName when libjpeg
// rejects the data or it is truncated.
void ReadJpeg(const uint8_t* data, size_t size, const std::string& fileName, TBitmap32& out, TFitSize fit = {});

}  // namespace sdm
