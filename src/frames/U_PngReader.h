#pragma once
// PNG pictures through libpng: 1 to 16 bits, grey, palette and RGB, with or
// without alpha or a transparent colour, interlaced or not. Sixteen-bit
// samples are rounded to the nearest 8-bit level; transparency is left to
// the caller (extras.alpha), who puts it over black. Gamma and chromaticity
// chunks are not applied (an untagged PNG is decoded as the bytes say); an
// embedded ICC profile (iCCP) is handed on in extras. Only the first picture
// of an animated PNG is read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frames/PictureFormats.h"

namespace sdm {

// Decodes the PNG file image data[0, size) into out. Throws EError naming
// fileName when libpng rejects it, it is cut short, or it is beyond the
// picture bound (refused before its pixels are allocated).
void ReadPng(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out,
             TPictureExtras& extras);

}  // namespace sdm
