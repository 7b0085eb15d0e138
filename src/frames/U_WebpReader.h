#pragma once
// WebP pictures through libwebp: lossy and lossless, with or without alpha;
// of an animated WebP the first frame, on its canvas. The embedded ICC
// profile (ICCP chunk) and the alpha are handed on in extras. A still WebP
// asked for as a thumbnail, or too large for the picture bound, is decoded
// scaled down by libwebp, no smaller than the frame it goes into.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frames/PictureFormats.h"

namespace sdm {

// Decodes the WebP file image data[0, size) into out. Throws EError naming
// fileName when libwebp rejects it or it is cut short.
void ReadWebp(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out,
              TPictureExtras& extras);

}  // namespace sdm
