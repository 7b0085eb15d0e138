// libFuzzer target for TIFF pictures (libtiff's RGBA reader, orientations, strip sizes checked against the file), with
// the colour profile, fitting, the colour effects and the thumbnail load after it. Seeds: tests/data/tiff-corpus
// (scripts/make-format-corpus.sh). Build and run it with scripts/fuzz.sh.
#include "PictureKindFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return sdm::fuzz::RunPictureKindInput("tiff_fuzz", ".tif", data, size);
}
