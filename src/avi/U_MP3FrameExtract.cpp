#include "avi/U_MP3FrameExtract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/RegularFile.h"
#include "support/Errors.h"

namespace sdm {

namespace {

// Bit rates in kbit/s by [version][layer index][bit-rate index]. Version 1 is
// MPEG-1 (ISO/IEC 11172-3, table of the frame header), version 0 the
// low-sampling-frequency extension of ISO/IEC 13818-3; index 0 (free format)
// and 15 (forbidden) are 0 so such headers never count as valid.
const int kBitRates[2][3][16] = {
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},  // layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // layer II
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // layer III
    },
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // layer III
    },
};

// Sampling rates by [version][index]; the reserved index 3 gives 1, which
// drives every length formula out of range so the header is rejected.
const int kSampleRates[2][4] = {{22050, 24000, 16000, 1}, {44100, 48000, 32000, 1}};

// The sampling rate divided by 50, for the layer III length; -999 for the
// reserved index makes the length negative.
const int kRateBy50Mpeg1[4] = {882, 960, 640, -999};
const int kRateBy50Mpeg2[4] = {441, 480, 320, -999};

constexpr int kMaxFrameLength = 10000;
// Version, layer and sampling-rate index: what every frame of one stream shares.
constexpr uint32_t kLockMask = 0xFFFE0C00u;
// Frames that must chain before a header counts, at the start and after a
// stretch of damage.
constexpr int kLockRun = 4;
constexpr int kResyncRun = 3;

// Whether a tag that follows the audio starts at p (ID3v1, APEv2, Lyrics3).
bool TrailingTagAt(const uint8_t* data, int64_t size, int64_t p) {
  auto at = [&](const char* text, int64_t n) { return p + n <= size && std::memcmp(data + p, text, n) == 0; };
  return at("TAG", 3) || at("APETAGEX", 8) || at("LYRICSBEGIN", 11);
}

// The bytes of the file that should be audio: without a leading ID3v2 tag
// and the ID3v1 and APEv2 tags at the end.
int64_t AudioBytesOf(const uint8_t* d, int64_t size) {
  int64_t lead = 0, tail = 0;
  if (size >= 10 && std::memcmp(d, "ID3", 3) == 0 && !((d[6] | d[7] | d[8] | d[9]) & 0x80))
    lead =
        10 + ((int64_t{d[6]} << 21) | (int64_t{d[7]} << 14) | (int64_t{d[8]} << 7) | d[9]) + ((d[5] & 0x10) ? 10 : 0);
  if (size - lead >= 128 && std::memcmp(d + size - 128, "TAG", 3) == 0) tail = 128;
  const int64_t footer = size - tail - 32;
  if (footer >= lead && std::memcmp(d + footer, "APETAGEX", 8) == 0) {
    const uint32_t apeSize =
        d[footer + 12] | d[footer + 13] << 8 | d[footer + 14] << 16 | uint32_t{d[footer + 15]} << 24;
    tail += std::min<int64_t>(int64_t{apeSize} + 32, footer - lead + 32);
  }
  return std::max<int64_t>(size - lead - tail, 0);
}
constexpr uint32_t kStepsPerAbortQuery = 1u << 20;
// The file is read in pieces of this size, asking between them whether to stop.
constexpr size_t kReadPiece = 4u << 20;

}  // namespace

TMP3Header::TMP3Header(const uint8_t bytes[4])
    : RawHeader((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3]) {
  const int64_t p = Padding() ? 1 : 0;
  const int rateIndex = (RawHeader >> 10) & 3;
  int64_t length = 0;
  switch (LayerIndex()) {
    case 0: length = (int64_t{12} * BitRate() / SampleRate() + p) * 4; break;
    case 1: length = int64_t{144} * BitRate() / SampleRate() + p; break;
    case 2:
      if (((RawHeader >> 12) & 15) == 0) {
        length = p + 38;
      } else if (IsMpeg1()) {
        length = int64_t{BitRateKbps()} * 2880 / kRateBy50Mpeg1[rateIndex] + p;
      } else {
        // The MPEG-2.5 bit would pick this same branch, so MPEG-2.5 frames
        // come out at half their real length.
        length = int64_t{BitRateKbps()} * 1440 / kRateBy50Mpeg2[rateIndex] + p;
      }
      break;
    default: length = 0; break;
  }
  if (length <= 0 || length > kMaxFrameLength) {
    RawHeader = 0;
    FrameLength = 0;
  } else {
    FrameLength = static_cast<int32_t>(length);
  }
}

int TMP3Header::BitRateKbps() const {
  const int layer = LayerIndex();
  if (layer > 2) return 0;
  return kBitRates[IsMpeg1() ? 1 : 0][layer][(RawHeader >> 12) & 15];
}

int TMP3Header::BitRate() const { return 1000 * BitRateKbps(); }

int TMP3Header::SampleRate() const {
  if (LayerIndex() > 2) return 0;
  return kSampleRates[IsMpeg1() ? 1 : 0][(RawHeader >> 10) & 3];
}

int TMP3Header::SamplesPerFrame() const {
  switch (LayerIndex()) {
    case 0: return 384;
    case 1: return 1152;
    case 2: return IsMpeg1() ? 1152 : 576;
    default: return 0;
  }
}

bool TMP3Header::IsValid() const {
  // Emphasis 2 is reserved: no encoder writes it, so it marks a stray pattern.
  return (RawHeader & 0xFFE00000u) == 0xFFE00000u && LayerIndex() != 0 && SampleRate() != 0 && BitRate() != 0 &&
         (RawHeader & 3) != 2;
}

TMP3FrameExtract::TMP3FrameExtract(std::string fileName) : FileName(std::move(fileName)) {}

TMP3FrameExtract::~TMP3FrameExtract() = default;

int64_t TMP3FrameExtract::FramePosition(int i) const {
  if (i < 0 || i >= Count()) return -1;
  return frameEnds_[static_cast<size_t>(i)];
}

int64_t TMP3FrameExtract::FrameSize(int i) const {
  if (i < 0 || i >= Count() - 1) return -1;
  return FramePosition(i + 1) - FramePosition(i);
}

// Whether a header at `at` matches the stream's locked version, layer and
// sampling rate (any valid header before the lock).
bool TMP3FrameExtract::Matches(const TMP3Header& h) const {
  return h.IsValid() && (!first_ || (h.RawHeader & kLockMask) == (first_->RawHeader & kLockMask));
}

// Whether frames chain from `at`: `run` valid headers of the same version,
// layer and rate in a row, each found where the one before ends, or fewer
// that end exactly at the end of the data or at a tag after the audio.
bool TMP3FrameExtract::ChainsAt(const uint8_t* data, int64_t size, int64_t at, int run) const {
  uint32_t lock = 0;
  int64_t p = at;
  for (int n = 0; n < run; ++n) {
    if (n > 0 && (p == size || TrailingTagAt(data, size, p))) return true;
    if (p > size - 4) return false;
    const TMP3Header h(data + p);
    if (!h.IsValid() || (n > 0 && (h.RawHeader & kLockMask) != lock)) return false;
    if (first_ && (h.RawHeader & kLockMask) != (first_->RawHeader & kLockMask)) return false;
    lock = h.RawHeader & kLockMask;
    p += h.FrameLength;
  }
  return true;
}

// Looks for the next frame from offset q and records its end. Right after
// the frame before, a valid header of the stream is a frame. Anywhere else
// (the first frame, or after damage or junk) a header counts only when the
// frames after it chain too: stray patterns in other data (a WAV's samples,
// the payload of AAC frames) decode as valid headers by chance, but never
// lead one to the next for several frames.
bool TMP3FrameExtract::FindNextFrame(const uint8_t* data, int64_t size, int64_t& q) {
  const uint8_t* header = nullptr;
  uint32_t steps = 0;
  const bool following = !frameEnds_.empty() && q == static_cast<int64_t>(frameEnds_.back());
  const int run = first_ ? kResyncRun : kLockRun;
  while (header == nullptr && q < size - 4) {
    // A long stretch without any frame (a large file of something else)
    // still asks whether to stop, about every mebibyte.
    if (++steps == kStepsPerAbortQuery) {
      steps = 0;
      if (OnAbortQuery && OnAbortQuery()) return false;
    }
    const uint8_t* b = data + q;
    // First byte 0xFF and the top three bits of the second set: the 11 sync
    // bits, tested cheaply before decoding anything.
    if (b[0] == 0xFF && (b[1] & 0xE0) == 0xE0) {
      const TMP3Header h(b);
      if (Matches(h) && ((following && b == data + frameEnds_.back()) || ChainsAt(data, size, q, run))) {
        header = b;
        q += h.FrameLength;
        break;
      }
    }
    ++q;
  }
  if (header == nullptr) return false;
  if (!first_) first_ = std::make_unique<TMP3Header>(header);
  frameBytes_ += TMP3Header(header).FrameLength;
  frameEnds_.push_back(static_cast<uint32_t>(q));
  return true;
}

bool TMP3FrameExtract::IsCopyable(std::string* why) const {
  auto refuse = [why](const std::string& text) {
    if (why) *why = text;
    return false;
  };
  if (!first_) return refuse("no MPEG audio frames follow one another in it");
  if (first_->IsMpeg25()) return refuse("it is MPEG-2.5 audio, whose frames cannot be copied");
  if (Count() < 2) return refuse("it holds fewer than three MPEG audio frames");
  // Frames must make up the file, tags apart: a file with a few runs of
  // frames in other data is not an MP3.
  if (frameBytes_ * 10 < audioBytes_ * 9)
    return refuse("its MPEG audio frames make up only " +
                  std::to_string(frameBytes_ * 100 / std::max<int64_t>(audioBytes_, 1)) + "% of it");
  return true;
}

void TMP3FrameExtract::ScanBuffer(const uint8_t* data, size_t size) {
  frameEnds_.clear();
  first_.reset();
  frameBytes_ = 0;
  audioBytes_ = AudioBytesOf(data, static_cast<int64_t>(size));
  if (size >= MaxFileSize)
    throw EError("The soundtrack \"" + FileName + "\" is too large (" + std::to_string(size) + " bytes).");
  const auto n = static_cast<int64_t>(size);
  int64_t q = 0;
  if (!FindNextFrame(data, n, q) || n == 0) return;
  for (unsigned runs = 1;; ++runs) {
    const bool found = FindNextFrame(data, n, q);
    if (runs % 10 == 0 && OnProgress) {
      // The last frame may claim to end past the end of file.
      const int64_t percent = q * 100 / n;
      OnProgress(*this, static_cast<uint8_t>(percent > 100 ? 100 : percent));
    }
    if (found && OnAbortQuery && OnAbortQuery()) return;
    if (!found) return;
  }
}

namespace {

std::string SystemError(const std::string& what, const std::string& path, int err) {
  return what + " \"" + path + "\": " + std::strerror(err);
}

// Closes the descriptor however the load ends.
struct FileHandle {
  int fd;
  ~FileHandle() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

void TMP3FrameExtract::Scan() {
  frameEnds_.clear();
  first_.reset();
  // A named pipe or a device is refused before it is read: one would block,
  // the other never end.
  std::string problem;
  FileHandle file{OpenRegularFileForReading(FileName, problem)};
  if (file.fd < 0) throw EError("Cannot open the soundtrack \"" + FileName + "\": " + problem);
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) throw EError(SystemError("Cannot read the soundtrack", FileName, errno));
  const auto size = static_cast<uint64_t>(st.st_size);
  // Refuse before allocating: the index could not address such a file anyway.
  if (size >= MaxFileSize)
    throw EError("The soundtrack \"" + FileName + "\" is too large (" + std::to_string(size) + " bytes).");
  // Not cleared first: the file is read over every byte of it (an hour of
  // music is some 60 MB), and only the bytes read are scanned.
  const std::unique_ptr<uint8_t[]> data(new uint8_t[std::max<size_t>(static_cast<size_t>(size), 1)]);
  size_t done = 0;
  while (done < size) {
    if (done > 0 && OnAbortQuery && OnAbortQuery()) return;
    const ssize_t got = ::read(file.fd, data.get() + done, std::min(static_cast<size_t>(size) - done, kReadPiece));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw EError(SystemError("Cannot read the soundtrack", FileName, errno));
    if (got == 0) break;  // shrunk while we read it: scan what is there
    done += static_cast<size_t>(got);
  }
  ScanBuffer(data.get(), done);
}

}  // namespace sdm
