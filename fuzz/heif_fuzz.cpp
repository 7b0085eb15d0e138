// libFuzzer target for HEIF pictures (libheif: HEIC and AVIF, rotations, thumbnails), with the colour profile, fitting,
// the colour effects and the thumbnail load after it. Seeds: tests/data/heif-corpus (scripts/make-format-corpus.sh).
// Build and run it with scripts/fuzz.sh.
#include "PictureKindFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return sdm::fuzz::RunPictureKindInput("heif_fuzz", ".heic", data, size);
}
