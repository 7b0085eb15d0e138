#pragma once
// Unit U_Ape.
// TApeFile: Monkey's Audio files ("*.ape", kind 6), decoded by libav's
// Monkey's Audio decoder in place of the Windows decompression library.
#include "audio/readers/AvAudioStream.h"

namespace sdm {

class TApeFile : public TAvAudioReader {
public:
  // Raises "APE format support library (MACDLL.DLL) not found." when this
  // FFmpeg build cannot decode the format, "Invalid APE file <name>" when the
  // file is none, or the file-open error.
  explicit TApeFile(const std::string& fileName);
  uint8_t GetFormatKind() override { return akApe; }
};

}  // namespace sdm
