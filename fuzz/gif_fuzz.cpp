// libFuzzer target for GIF pictures (giflib, the first frame on its screen), with the colour profile, fitting, the
// colour effects and the thumbnail load after it. Seeds: tests/data/gif-corpus
// (scripts/make-format-corpus.sh). Build and run it with scripts/fuzz.sh.
#include "PictureKindFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return sdm::fuzz::RunPictureKindInput("gif_fuzz", ".gif", data, size);
}
