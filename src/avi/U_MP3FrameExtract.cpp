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
  return (RawHeader & 0xFFE00000u) == 0xFFE00000u && LayerIndex() != 0 && SampleRate() != 0 && BitRate() != 0;
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

// Looks for the next valid frame from offset q and records its end. A sync
// pattern whose header is not valid is skipped together with its claimed
// length; anything else moves on by one byte.
bool TMP3FrameExtract::FindNextFrame(const uint8_t* data, int64_t size, int64_t& q) {
  const uint8_t* header = nullptr;
  uint32_t steps = 0;
  while (header == nullptr && q < size - 4) {
    // A long stretch without any frame (a large file of something else)
    // still asks whether to stop, about every mebibyte.
    if (++steps == kStepsPerAbortQuery) {
      steps = 0;
      if (OnAbortQuery && OnAbortQuery()) return false;
    }
    const uint8_t* b = data + q;
    q += 4;
    // First byte 0xFF and the top three bits of the second set: the 11 sync
    // bits, tested cheaply before decoding anything.
    if (b[0] == 0xFF && (b[1] & 0xE0) == 0xE0) {
      TMP3Header h(b);
      if (h.IsValid()) {
        header = b;
        q += h.FrameLength - 4;
      } else {
        q += h.FrameLength;
      }
    } else {
      q -= 3;
    }
  }
  if (header == nullptr) return false;
  if (!first_) first_ = std::make_unique<TMP3Header>(header);
  frameEnds_.push_back(static_cast<uint32_t>(q));
  return true;
}

void TMP3FrameExtract::ScanBuffer(const uint8_t* data, size_t size) {
  frameEnds_.clear();
  first_.reset();
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
