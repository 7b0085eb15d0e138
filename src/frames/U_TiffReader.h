#pragma once
// TIFF pictures through libtiff: the first page, in any layout libtiff's RGBA
// reader takes (8 and 16 bits, RGB, grey, palette, YCbCr, CMYK, strips or
// tiles, uncompressed or compressed), turned upright by its orientation tag.
// Sixteen-bit RGB is rounded to the nearest 8-bit level, 16-bit grey cut to
// its upper byte. libtiff puts transparent parts over black itself. The
// embedded ICC profile is handed on in extras.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frames/PictureFormats.h"

namespace sdm {

// Decodes the TIFF file image data[0, size) into out. Throws EError naming
// fileName when libtiff rejects it, it is cut short, or it is beyond the
// picture bound (refused before its pixels are allocated).
void ReadTiff(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out,
              TPictureExtras& extras);

}  // namespace sdm
