// libFuzzer target for the picture loaders (JPEG through libjpeg with the EXIF
// orientation, preview and ICC profile, and our BMP reader), with fitting and
// the colour effects after them. The loaders work on files, so each input is
// written to a file of this process first; its name ends in ".jpg", so an
// input is read as the kind its first bytes say ("BM" the BMP reader), and
// one that matches no kind goes to the JPEG decoder. The other kinds have
// targets of their own. Build and run it with scripts/fuzz.sh.
#include <string>

#include "FuzzInput.h"
#include "PictureFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = sdm::fuzz::ScratchPath("picture_fuzz", ".jpg");
  sdm::fuzz::WriteInput("picture_fuzz", path, data, size);
  const sdm::fuzz::TPictureRun run = sdm::fuzz::RunPictureFile(path);
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  sdm::fuzz::AbortOnFaults("picture_fuzz", run.faults);
  return 0;
}
