#include "audio/readers/MpcFile.h"

#include <cstring>
#include <exception>

#include "audio/AudioFileStream.h"
#include "audio/tags/ReaderTags.h"

namespace sdm {

int64_t Sv8SampleCount(const std::string& fileName, int64_t offset) {
  try {
    TWFileStream s(fileName, TWFileStream::ModeRead);
    uint8_t head[4096];
    if (s.Seek(offset, 0) != offset) return -1;
    const int64_t n = s.Read(head, sizeof head);
    if (n < 4 || std::memcmp(head, "MPCK", 4) != 0) return -1;
    // Packets: a two-letter key and a size (key and size bytes included) in
    // 7-bit groups, most significant first, bit 7 set on all but the last.
    int64_t at = 4;
    auto number = [&](int64_t& p, int64_t& v) {
      v = 0;
      for (int i = 0; i < 9 && p < n; ++i) {
        const uint8_t b = head[p++];
        v = v << 7 | (b & 0x7F);
        if (!(b & 0x80)) return true;
      }
      return false;
    };
    while (at + 3 <= n) {
      const bool header = head[at] == 'S' && head[at + 1] == 'H';
      int64_t p = at + 2, size = 0;
      if (!number(p, size) || size < p - at) return -1;
      if (header) {
        // CRC, stream version, sample count, samples of silence at the start.
        int64_t samples = 0, silence = 0;
        p += 5;
        if (p >= n || !number(p, samples) || !number(p, silence) || silence > samples) return -1;
        return samples - silence;
      }
      if (head[at] == 'A' && head[at + 1] == 'P') return -1;  // audio before any header
      at += size;
    }
  } catch (const std::exception&) {
  }
  return -1;
}

TMpcFile::TMpcFile(const std::string& fileName) : TAvAudioReader(fileName) {
  if (!AvFormatAvailable("mpc", {"mpc7"}) || !AvFormatAvailable("mpc8", {"mpc8"}))
    throw EError("File xol_mpc.DLL not found in the path. This file is needed to activate the MusePack support");
  // A Musepack packet holds several frames and libav's decoder keeps state
  // across them, so a seek decodes its way to the target (ExactSeek off).
  if (Av.OpenContainer(fileName, {"mpc8", "mpc"}) < 0 || OpenAudio(0) < 0)
    throw EError("\"" + fileName + "\" is not a MPC bitstream");
  TFileTags t = ReadFileTags(*this, tkId3v1 | tkId3v2 | tkApeV2);
  Tags = t.HasApe ? t.Ape : t.HasId3v2 ? t.Id3v2 : t.Id3v1;
  // Stream version 8 states its exact length, which libav's demuxer only
  // estimates; the decoder's last frame is padded past it.
  if (Av.DemuxerName() == "mpc8") {
    const int64_t samples = Sv8SampleCount(fileName, Id3v2Size);
    if (samples >= 0) Av.TotalFrames = samples;
    Av.StopAtTotal = true;
  }
}

}  // namespace sdm
