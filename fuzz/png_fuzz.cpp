// libFuzzer target for PNG pictures (libpng), with the colour profile, fitting, the
// colour effects and the thumbnail load after it. Seeds: tests/data/png-corpus
// (scripts/make-format-corpus.sh). Build and run it with scripts/fuzz.sh.
#include "PictureKindFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return sdm::fuzz::RunPictureKindInput("png_fuzz", ".png", data, size);
}
