#pragma once
// GIF pictures through giflib: the first frame, where it stands on the
// logical screen; the rest of the screen and the transparent colour are
// black, as they would be over a black page. Interlaced frames are put back
// in row order. Later frames of an animation are not read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frames/PictureFormats.h"

namespace sdm {

// Decodes the GIF file image data[0, size) into out. Throws EError naming
// fileName when giflib rejects it, it is cut short, or its screen is beyond
// the picture bound (refused before its pixels are allocated).
void ReadGif(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out,
             TPictureExtras& extras);

}  // namespace sdm
