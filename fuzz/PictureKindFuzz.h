#pragma once
// The body of the fuzz targets of the picture kinds (png_fuzz, webp_fuzz,
// tiff_fuzz, gif_fuzz, heif_fuzz): each input is written to a file named with
// the kind's extension and run through the picture sequence. Pictures are
// told by their content, and a file whose first bytes match no kind goes to
// the reader its name says, so mutations that break the signature still
// reach the target's reader.
#include <cstdio>
#include <string>

#include "FuzzInput.h"
#include "PictureFuzzBody.h"

namespace sdm::fuzz {

inline int RunPictureKindInput(const char* target, const char* extension, const uint8_t* data, size_t size) {
  static const std::string path = ScratchPath(target, extension);
  WriteInput(target, path, data, size);
  const TPictureRun run = RunPictureFile(path);
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  AbortOnFaults(target, run.faults);
  return 0;
}

}  // namespace sdm::fuzz
