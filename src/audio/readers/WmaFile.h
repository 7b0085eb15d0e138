#pragma once
// Unit U_wma9.
// TWMAAudioFile: Windows Media audio in ASF files ("*.wma", "*.asf", kind 4),
// decoded by libav's ASF demuxer and WMA decoders in place of the Windows
// Media Format runtime. The file must hold exactly one stream, an audio one;
// its attributes come from the ASF header as the runtime lists them.
#include "audio/readers/AvAudioStream.h"

namespace sdm {

// What the ASF header tells: the attributes as NAME=value lines, the play
// time in 100-ns units and the bit rate.
struct TAsfAttributes {
  TTagLines Lines;
  uint64_t Duration = 0;
  uint32_t BitRate = 0;
  bool Found = false;  // a header object was read
};
TAsfAttributes ReadAsfAttributes(const std::string& fileName);
// The tag NAME of an attribute (the runtime's names, compared without regard
// to case); a name not in the table is used unchanged.
std::string WmaTagName(const std::string& attribute);

class TWMAAudioFile : public TAvAudioReader {
public:
  // Raises the runtime's messages: "Failed to open the wm file - 0x...",
  // "This Windows Media file contains too many outputs (n)", "WMA doesn't
  // contains Audio data", ...
  explicit TWMAAudioFile(const std::string& fileName);

  uint32_t GetBitRate() override { return BitRate; }
  int64_t GetFileSize() override { return FileSizeValue; }
  int64_t GetPcmSize() override { return PcmSize; }
  uint8_t GetFormatKind() override { return akWma; }
  // Tags of Windows Media files are not written.
  bool RemoveTags(uint32_t kinds) override { return !RefusesKinds(kinds); }
  bool WriteTags(uint32_t kinds) override { return !RefusesKinds(kinds); }
  uint32_t WritableTagKinds() override { return 0; }

  uint32_t BitRate = 0;
  uint64_t Duration = 0;  // 100-ns units
  int64_t FileSizeValue = 0;
  int64_t PcmSize = 0;

private:
  int64_t GetPcmSizeOfStream() { return TAvAudioReader::GetPcmSize(); }
};

}  // namespace sdm
