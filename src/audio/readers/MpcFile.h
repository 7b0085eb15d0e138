#pragma once
// Unit U_Mpc.
// TMpcFile: Musepack files ("*.mpc", kind 8, stream versions 7 and 8),
// decoded by libav's Musepack decoders in place of the Windows library.
#include "audio/readers/AvAudioStream.h"

namespace sdm {

class TMpcFile : public TAvAudioReader {
public:
  // Raises "File xol_mpc.DLL not found in the path. ..." when this FFmpeg
  // build cannot decode Musepack, "\"<name>\" is not a MPC bitstream" for
  // any other file, or the file-open error.
  explicit TMpcFile(const std::string& fileName);
  uint8_t GetFormatKind() override { return akMpc; }
};

// The length in samples per channel that the stream header of a Musepack
// stream version 8 states (after any ID3v2 tag, at offset); -1 when the file
// has no such header.
int64_t Sv8SampleCount(const std::string& fileName, int64_t offset);

}  // namespace sdm
