// libFuzzer target for WebP pictures (libwebp, animations and ICC chunks through its demuxer), with the colour profile,
// fitting, the colour effects and the thumbnail load after it. Seeds: tests/data/webp-corpus
// (scripts/make-format-corpus.sh). Build and run it with scripts/fuzz.sh.
#include "PictureKindFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return sdm::fuzz::RunPictureKindInput("webp_fuzz", ".webp", data, size);
}
