#pragma once
// HEIF pictures (HEIC from phones, and AVIF) through libheif: the primary
// picture, with the file's own rotation, mirroring and cropping applied by
// libheif (an EXIF orientation inside the file is not applied again), high
// bit depths reduced to 8 bits. The embedded ICC profile and the alpha are
// handed on in extras. HEVC has no reduced-size decoding: a picture beyond a
// quarter of the picture bound is refused (decoding takes some 16 bytes a
// pixel), and a thumbnail comes from the file's own thumbnail when it is
// large enough.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frames/PictureFormats.h"

namespace sdm {

// Decodes the HEIF file image data[0, size) into out. Throws EError naming
// fileName when libheif rejects it or it is too large.
void ReadHeif(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out,
              TPictureExtras& extras);

}  // namespace sdm
