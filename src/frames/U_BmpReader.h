#pragma once
// Our own reader of Windows bitmap files: core (OS/2 1.x) and info headers up to
// V5; 1, 2, 4, 8, 16, 24 and 32 bits per pixel; RLE4 and RLE8; bottom-up and
// top-down rows; bit-field masks. Every size in the file is checked against the
// bytes that are really there before it is trusted.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frames/Bitmap32.h"

namespace sdm {

// Decodes the BMP file image data[0, size) into out (alpha 255). Throws EError
// naming fileName when the data is not a BMP file we can read.
void ReadBmp(const uint8_t* data, size_t size, const std::string& fileName, TBitmap32& out);

}  // namespace sdm
