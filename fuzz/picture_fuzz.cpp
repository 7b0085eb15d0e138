// libFuzzer target for the picture loaders (JPEG through libjpeg with the EXIF
// orientation, and our BMP reader), with fitting and the colour effects after
// them. The loaders work on files, so each input is written to a file of this
// process first; its name ends in ".jpg", so an input that starts with "BM"
// goes to the BMP reader and any other to the JPEG decoder. Build and run it
// with scripts/fuzz.sh.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "PictureFuzzBody.h"

namespace {

const std::string& InputPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("sdm_picture_fuzz_" + std::to_string(::getpid()) + ".jpg")).string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
      std::fprintf(stderr, "picture_fuzz: cannot write %s\n", path.c_str());
      std::abort();
    }
  }
  const sdm::fuzz::TPictureRun run = sdm::fuzz::RunPictureFile(path);
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  if (!run.faults.empty()) {
    for (const std::string& f : run.faults) std::fprintf(stderr, "picture_fuzz: %s\n", f.c_str());
    std::abort();
  }
  return 0;
}
