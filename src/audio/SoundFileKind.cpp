#include "audio/SoundFileKind.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <unistd.h>

#include <cstring>
#include <vector>

#include "audio/U_AudioFile.h"
#include "audio/mpeg/MpegHeader.h"
#include "audio/readers/Ac3File.h"
#include "audio/readers/AvAudioStream.h"
#include "platform/RegularFile.h"

namespace sdm {

namespace {

// Enough of the file for libav's probes to name any format we meet.
constexpr int kProbeBytes = 1 << 16;
// Frames in a row that make a stream of a format without a signature: stray
// sync patterns in other data chain by chance for one or two frames, never
// for eight.
constexpr int kChainRun = 8;

// The bytes of the file from offset on, at most n of them.
std::vector<uint8_t> ReadSome(int fd, int64_t offset, size_t n) {
  std::vector<uint8_t> bytes(n);
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, bytes.data() + got, n - got, static_cast<off_t>(offset + static_cast<int64_t>(got)));
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  bytes.resize(got);
  return bytes;
}

// The size of an ID3v2 tag at the start of bytes, 0 when there is none.
int64_t LeadingId3v2(const std::vector<uint8_t>& b) {
  if (b.size() < 10 || std::memcmp(b.data(), "ID3", 3) != 0) return 0;
  if ((b[6] | b[7] | b[8] | b[9]) & 0x80) return 0;
  const int64_t size = (int64_t{b[6]} << 21) | (int64_t{b[7]} << 14) | (int64_t{b[8]} << 7) | b[9];
  return 10 + size + ((b[5] & 0x10) ? 10 : 0);
}

uint32_t Word(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

// The length of an ADTS frame (AAC without a container) whose header is at
// p, 0 when it is none: sync 0xFFF, layer 00, a frame length past its header.
size_t AdtsLength(const uint8_t* p, size_t left) {
  if (left < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return 0;
  if (((p[2] >> 2) & 0xF) > 12) return 0;  // sampling index
  const size_t length = (static_cast<size_t>(p[3] & 3) << 11) | (static_cast<size_t>(p[4]) << 3) | (p[5] >> 5);
  return length >= 7 ? length : 0;
}

size_t Ac3Length(const uint8_t* p, size_t left) {
  if (left < 5 || p[0] != 0x0B || p[1] != 0x77) return 0;
  return static_cast<size_t>(Ac3FrameBytes(p[4] >> 6, p[4] & 0x3F));
}

// Whether frames of a format told by `length` chain from at: run of them, or
// as many as there are up to the end of the bytes when that comes first.
template <class TLength>
bool ChainsAt(const uint8_t* b, size_t size, size_t at, int run, TLength length) {
  size_t p = at;
  for (int n = 0; n < run; ++n) {
    if (p == size && n >= 2) return true;  // a short stream that ends exactly
    if (p >= size) return false;
    const size_t l = length(b + p, size - p, b + at);
    if (l == 0) return false;
    p += l;
  }
  return true;
}

// For a chain of MPEG frames: a header of the same version, layer and rate as
// the first.
size_t MpegLength(const uint8_t* p, size_t left, const uint8_t* first) {
  if (left < 4) return 0;
  const uint32_t w = Word(p), f = Word(first);
  if ((w & 0xFFFE0C00u) != (f & 0xFFFE0C00u)) return 0;
  if ((w & 3) == 2) return 0;  // reserved emphasis
  return TMpegHeader::FrameLengthOf(w);
}

}  // namespace

bool MpegFramesChainAt(const uint8_t* bytes, size_t size, size_t at, int run) {
  return ChainsAt(bytes, size, at, run, MpegLength);
}

bool HoldsMpegFrames(const std::string& path) {
  std::string problem;
  const int fd = OpenRegularFileForReading(path, problem);
  if (fd < 0) return false;
  const int64_t skip = LeadingId3v2(ReadSome(fd, 0, 16));
  const std::vector<uint8_t> b = ReadSome(fd, skip, kProbeBytes);
  ::close(fd);
  for (size_t at = 0; at + 4 <= b.size(); ++at)
    if (b[at] == 0xFF && (b[at + 1] & 0xE0) == 0xE0 && (b[at + 1] & 0x06) != 0 &&
        MpegFramesChainAt(b.data(), b.size(), at, kChainRun))
      return true;
  return false;
}

uint8_t SniffFormatKind(const std::string& path) {
  std::string problem;
  const int fd = OpenRegularFileForReading(path, problem);
  if (fd < 0) return akNone;
  std::vector<uint8_t> head = ReadSome(fd, 0, 16);
  const int64_t skip = LeadingId3v2(head);
  std::vector<uint8_t> b = ReadSome(fd, skip, kProbeBytes);
  ::close(fd);
  const size_t n = b.size();
  auto starts = [&](size_t at, const char* text) {
    const size_t l = std::strlen(text);
    return n >= at + l && std::memcmp(b.data() + at, text, l) == 0;
  };
  if (starts(0, "RIFF") && starts(8, "WAVE")) return akWav;
  if (starts(0, "OggS")) return akOgg;
  if (starts(0, "fLaC")) return akFlac;
  if (starts(0, "MAC ")) return akApe;
  if (starts(0, "MPCK") || starts(0, "MP+")) return akMpc;
  static const uint8_t kAsf[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                   0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  if (n >= 16 && std::memcmp(b.data(), kAsf, 16) == 0) return akWma;
  if (starts(4, "ftyp")) return akAac;  // an MP4 file; its reader says whether it holds AAC
  // Formats without a signature: the first frame that starts a chain, in the
  // probed bytes (zero padding and junk before the first frame are common).
  for (size_t at = 0; at + 4 <= n; ++at) {
    if (b[at] == 0xFF && (b[at + 1] & 0xE0) == 0xE0) {
      if ((b[at + 1] & 0x06) != 0) {
        if (MpegFramesChainAt(b.data(), n, at, kChainRun)) return akMpeg;
      } else if (ChainsAt(b.data(), n, at, kChainRun,
                          [](const uint8_t* p, size_t left, const uint8_t*) { return AdtsLength(p, left); })) {
        return akAac;
      }
    } else if (b[at] == 0x0B && b[at + 1] == 0x77 &&
               ChainsAt(b.data(), n, at, kChainRun,
                        [](const uint8_t* p, size_t left, const uint8_t*) { return Ac3Length(p, left); })) {
      return akAc3;
    }
  }
  return akNone;
}

std::string DescribeFileContent(const std::string& path) {
  std::string problem;
  const int fd = OpenRegularFileForReading(path, problem);
  if (fd < 0) return "a file that " + (problem.rfind("is ", 0) == 0 ? problem : "cannot be opened: " + problem);
  std::vector<uint8_t> bytes(kProbeBytes + AVPROBE_PADDING_SIZE, 0);
  ssize_t got = 0;
  while (got < kProbeBytes) {
    const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(kProbeBytes - got));
    if (n <= 0) break;
    got += n;
  }
  ::close(fd);
  if (got == 0) return "an empty file";
  AvQuietReading();
  AVProbeData probe{};
  probe.filename = "";
  probe.buf = bytes.data();
  probe.buf_size = static_cast<int>(got);
  int score = 0;
  const AVInputFormat* format = av_probe_input_format3(&probe, 1, &score);
  // A weak guess (a format told only by its extension, or a few bytes that
  // happen to look like one) is no description.
  if (format == nullptr || score < AVPROBE_SCORE_EXTENSION) return "data of no known sound format";
  return format->long_name ? format->long_name : format->name;
}

void OpenSoundFile(TAudioFile& audio, const std::string& path) {
  audio.SetFileName(path);
  bool opened = false;
  try {
    opened = audio.Open();
  } catch (const std::exception& e) {
    throw EError("The sound file \"" + path + "\" cannot be read: " + e.what() + " (it holds " +
                 DescribeFileContent(path) + ").");
  }
  if (!opened)
    throw EError("The file \"" + path + "\" is not a sound file this program reads (it holds " +
                 DescribeFileContent(path) + ").");
}

}  // namespace sdm
