#pragma once
// JPEG pictures through libjpeg, decoded at full resolution into 8-bit red,
// green and blue: baseline, progressive, grey, and CMYK/YCCK (Adobe's inverted
// form included). libjpeg's errors become EError; it never gets to exit().
#include <cstddef>
#include <cstdint>
#include <string>

#include "frames/Bitmap32.h"

namespace sdm {

// Decodes the JPEG file image data[0, size) into out (alpha 255). Throws
// EError naming fileName when libjpeg rejects the data or it is truncated.
void ReadJpeg(const uint8_t* data, size_t size, const std::string& fileName, TBitmap32& out);

}  // namespace sdm
