#pragma once
// Inside the AVI file library: the file and stream objects behind the handles,
// shared by the reader (AviRead.cpp), the writer (AviWrite.cpp) and the calls
// (AviFile.cpp). Not for use outside this folder.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/avifile/AviFile.h"
#include "platform/avifile/AviOutFile.h"

namespace sdm::avi {

// One chunk of a stream: where its data lies (after the 8-byte chunk header)
// and how large it is. firstSample is the stream position of its first
// sample counted from the stream's dwStart.
struct TEntry {
  uint64_t offset = 0;
  uint32_t size = 0;
  bool key = false;
  int64_t firstSample = 0;
};

// One entry of an OpenDML super index: the standard index chunk of one RIFF
// part of a stream.
struct TSuperEntry {
  uint64_t offset = 0;  // of the ix chunk's header
  uint32_t size = 0;    // of the ix chunk, header included
  uint32_t duration = 0;
};

// Size of the OpenDML super index we reserve per stream: 256 parts of up to
// the RIFF limit each.
constexpr uint32_t kSuperIndexEntries = 256;

// Small little-endian helpers over byte buffers.
inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }
inline void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Put64(std::vector<uint8_t>& b, uint64_t v) {
  Put32(b, static_cast<uint32_t>(v));
  Put32(b, static_cast<uint32_t>(v >> 32));
}
inline void PutFourCC(std::vector<uint8_t>& b, const char* s) { Put32(b, mmioFOURCC(s[0], s[1], s[2], s[3])); }
inline void Patch32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Chunk id of stream n with a two-letter type: "00dc", "01wb".
inline FOURCC ChunkId(int n, const char* type) {
  return mmioFOURCC(static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10), type[0], type[1]);
}
// Stream number of a chunk id "NNxx", or -1 when the first two are not digits.
inline int StreamOfChunk(FOURCC id) {
  const int a = static_cast<int>(id & 0xFF) - '0', b = static_cast<int>((id >> 8) & 0xFF) - '0';
  if (a < 0 || a > 9 || b < 0 || b > 9) return -1;
  return a * 10 + b;
}

}  // namespace sdm::avi

namespace sdm {

struct TAviStream {
  TAviFile* file = nullptr;
  int number = 0;
  int refs = 0;
  AVISTREAMINFO info;
  std::vector<uint8_t> format;
  std::vector<avi::TEntry> entries;
  int64_t length = 0;  // in samples, from dwStart
  uint32_t maxChunk = 0;

  // Writing only.
  FOURCC chunkId = 0;
  size_t riffFirstEntry = 0;  // first entry of the RIFF part being written
  std::vector<avi::TSuperEntry> super;

  // The entry holding sample pos (counted from dwStart), or -1.
  long EntryOf(int64_t pos) const;
};

struct TAviFile {
  std::string name;
  int fd = -1;  // reading
  bool writing = false;
  int refs = 0;  // the file handle plus every stream handle handed out
  bool fileHandleReleased = false;
  uint64_t fileSize = 0;  // reading: size of the file on disk
  std::vector<std::unique_ptr<TAviStream>> streams;

  // Reading samples: the block of the file read last, so that samples read
  // in order (a copy of a stream) cost one system call per block, not one
  // each.
  struct TReadAhead {
    std::vector<uint8_t> block;
    uint64_t start = 0;
    size_t held = 0;  // bytes of block read from start on
  } readAhead;

  // Main header values as read (or as they will be written).
  uint32_t microSecPerFrame = 0;
  uint32_t avihFlags = 0;
  uint32_t width = 0, height = 0;

  // Writing state.
  avi::TOutFile out;
  uint64_t riffLimit = kDefaultRiffLimit;
  bool dataStarted = false;
  size_t headerSize = 0;
  uint64_t riffStart = 0;  // offset of the current part's "RIFF"
  uint64_t moviStart = 0;  // offset of the current part's "LIST" of movi
  int riffCount = 0;       // parts started so far
  uint32_t firstRiffVideoFrames = 0;
  struct TIdx1 {
    FOURCC id;
    uint32_t flags;
    uint32_t offset;
    uint32_t size;
  };
  std::vector<TIdx1> idx1;  // entries of the first part

  ~TAviFile();
};

namespace avi {
// Records why a call is about to fail (AVIFileLastErrorText) and passes the
// code on.
HRESULT Fail(HRESULT code, const std::string& why);

// Reader: parses fileName into file (streams, formats, indexes). AVIERR_OK,
// AVIERR_FILEOPEN, AVIERR_FILEREAD or AVIERR_BADFORMAT.
HRESULT OpenForReading(TAviFile& file);
// Reads size bytes at offset; false on a short read.
bool ReadAt(const TAviFile& file, uint64_t offset, void* data, size_t size);
// The same for the samples of the streams, through the file's read-ahead
// (one reader at a time, as for every call on one file).
bool ReadSample(TAviFile& file, uint64_t offset, void* data, size_t size);

// Writer.
HRESULT OpenForWriting(TAviFile& file);
HRESULT WriteChunk(TAviStream& stream, const void* data, uint32_t size, bool key);
// Writes the indexes and headers; closes nothing.
HRESULT Finish(TAviFile& file);
}  // namespace avi

}  // namespace sdm
