#include "audio/readers/FlacFile.h"

#include <cstring>
#include <exception>

#include "audio/AudioFileStream.h"
#include "audio/tags/ReaderTags.h"

namespace sdm {

namespace {

uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The comment list of a VORBIS_COMMENT block: vendor, count, then each
// comment with its length, all lengths little-endian and checked against
// what is left of the block.
TTagLines ParseComments(const std::string& block) {
  TTagLines lines;
  const auto* p = reinterpret_cast<const uint8_t*>(block.data());
  size_t left = block.size();
  auto take = [&](size_t n) {
    if (n > left) return false;
    p += n;
    left -= n;
    return true;
  };
  if (left < 4) return lines;
  uint32_t vendor = LE32(p);
  if (!take(4) || !take(vendor) || left < 4) return lines;
  uint32_t count = LE32(p);
  take(4);
  for (uint32_t i = 0; i < count && left >= 4; ++i) {
    uint32_t n = LE32(p);
    take(4);
    if (n > left) break;
    lines.emplace_back(reinterpret_cast<const char*>(p), n);
    take(n);
  }
  return lines;
}

}  // namespace

TTagLines ReadFlacComments(const std::string& fileName, int64_t offset) {
  try {
    TWFileStream s(fileName, TWFileStream::ModeRead);
    uint8_t head[4];
    if (s.Seek(offset, 0) != offset || s.Read(head, 4) != 4 || std::memcmp(head, "fLaC", 4) != 0) return {};
    // Metadata blocks: one byte of last-block flag and type, 24 bits of length.
    for (bool last = false; !last;) {
      if (s.Read(head, 4) != 4) return {};
      last = (head[0] & 0x80) != 0;
      const int type = head[0] & 0x7F;
      const int64_t length = head[1] << 16 | head[2] << 8 | head[3];
      if (type == 4) {
        std::string block(static_cast<size_t>(length), '\0');
        if (s.Read(block.data(), length) != length) return {};
        return ParseComments(block);
      }
      if (type == 127 || s.Seek(length, 1) < 0) return {};  // 127 is no block type
    }
  } catch (const std::exception&) {
  }
  return {};
}

TFLACFile::TFLACFile(const std::string& fileName) : TAvAudioReader(fileName) {
  // FLAC frames stand alone and carry their sample numbers.
  Av.ExactSeek = true;
  if (!AvFormatAvailable("flac", {"flac"}) || Av.OpenContainer(fileName, {"flac"}) < 0 || OpenAudio(0) < 0)
    throw EError("Invalid FLAC file " + fileName);
  TFileTags t = ReadFileTags(*this, tkId3v1 | tkId3v2);
  Tags = t.HasId3v2 ? t.Id3v2 : t.Id3v1;
  for (auto& line : ReadFlacComments(fileName, Id3v2Size)) Tags.push_back(std::move(line));
}

}  // namespace sdm
