// The AVIFile calls over our reader and writer: handles, reference counts,
// parameter checks and the sample arithmetic of reading and writing.
#include "platform/avifile/AviFile.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/avifile/AviFileImpl.h"

namespace sdm {
namespace {

std::atomic<int> g_initCount{0};
// Why the last failing call of this thread failed, as GetLastError keeps it
// per thread: the writer and the muxer run on different threads.
thread_local std::string g_lastErrorText;
std::atomic<uint64_t> g_riffLimit{0};  // 0: not set, take the environment or the default

// Never-written positions before a sample become empty chunks; a position
// this far past the end is a caller's error, not a gap to fill.
constexpr long kMaxGap = 1L << 20;

HRESULT Unref(TAviFile* f) {
  if (--f->refs > 0) return AVIERR_OK;
  HRESULT r = AVIERR_OK;
  if (f->writing && f->out.IsOpen()) r = avi::Finish(*f);
  delete f;
  return r;
}

void CopyOut(void* dst, long size, const void* src, size_t srcSize) {
  if (!dst || size <= 0) return;
  std::memset(dst, 0, static_cast<size_t>(size));
  std::memcpy(dst, src, std::min(static_cast<size_t>(size), srcSize));
}

}  // namespace

namespace avi {
HRESULT Fail(HRESULT code, const std::string& why) {
  g_lastErrorText = why;
  return code;
}
}  // namespace avi

const std::string& AVIFileLastErrorText() { return g_lastErrorText; }

TAviFile::~TAviFile() {
  if (fd >= 0) ::close(fd);
}

long TAviStream::EntryOf(int64_t p) const {
  if (p < 0 || p >= length || entries.empty()) return -1;
  // The last entry whose first sample is at or before p.
  auto it = std::upper_bound(entries.begin(), entries.end(), p,
                             [](int64_t v, const avi::TEntry& e) { return v < e.firstSample; });
  if (it == entries.begin()) return -1;
  return static_cast<long>((it - entries.begin()) - 1);
}

void AVIFileInit() { ++g_initCount; }
void AVIFileExit() {
  if (g_initCount > 0) --g_initCount;
}

void AVISetRiffLimit(uint64_t bytes) {
  // Below a few kilobytes a part could not hold its own indexes; above 2 GiB
  // the 32-bit sizes of RIFF readers would overflow.
  g_riffLimit = std::clamp<uint64_t>(bytes, 4096, 1ull << 31);
}

uint64_t AVIGetRiffLimit() {
  if (uint64_t v = g_riffLimit.load()) return v;
  if (const char* e = std::getenv("SLIDOMAT_AVI_RIFF_LIMIT"); e && *e) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(e, &end, 10);
    if (end && *end == 0 && v > 0) return std::clamp<uint64_t>(v, 4096, 1ull << 31);
  }
  return kDefaultRiffLimit;
}

HRESULT AVIFileOpen(PAVIFILE* file, const std::string& fileName, unsigned mode, const void* handler) {
  g_lastErrorText.clear();
  if (!file) return AVIERR_BADPARAM;
  *file = nullptr;
  if (handler) return AVIERR_UNSUPPORTED;
  auto f = std::make_unique<TAviFile>();
  f->name = fileName;
  f->refs = 1;
  HRESULT r;
  if (mode & OF_CREATE)
    r = avi::OpenForWriting(*f);
  else if (mode & (OF_WRITE | OF_READWRITE))
    r = AVIERR_UNSUPPORTED;  // editing an existing file in place is not offered
  else
    r = avi::OpenForReading(*f);
  if (r == AVIERR_BADFORMAT && g_lastErrorText.empty()) g_lastErrorText = "not an AVI file, or a damaged one";
  if (r != AVIERR_OK) return r;
  *file = f.release();
  return AVIERR_OK;
}

HRESULT AVIFileInfo(PAVIFILE f, AVIFILEINFO* info, long size) {
  if (!f || !info || size < 0) return AVIERR_BADPARAM;
  AVIFILEINFO fi;
  fi.dwCaps = AVIFILECAPS_CANREAD | (f->writing ? AVIFILECAPS_CANWRITE : 0);
  fi.dwFlags = AVIFILEINFO_HASINDEX;
  fi.dwStreams = static_cast<DWORD>(f->streams.size());
  const TAviStream* base = nullptr;
  for (const auto& s : f->streams)
    if (s->info.fccType == streamtypeVIDEO) {
      base = s.get();
      break;
    }
  if (!base && !f->streams.empty()) base = f->streams[0].get();
  if (base) {
    fi.dwScale = base->info.dwScale;
    fi.dwRate = base->info.dwRate;
    fi.dwWidth = static_cast<DWORD>(std::max(0, base->info.rcFrame.right - base->info.rcFrame.left));
    fi.dwHeight = static_cast<DWORD>(std::max(0, base->info.rcFrame.bottom - base->info.rcFrame.top));
  }
  if (!f->writing && f->width && f->height) {
    fi.dwWidth = f->width;
    fi.dwHeight = f->height;
  }
  // The length of the longest stream in the time base of the first video
  // stream, rounded up so no stream ends after it.
  uint64_t length = 0;
  for (const auto& s : f->streams) {
    fi.dwSuggestedBufferSize = std::max(fi.dwSuggestedBufferSize, s->maxChunk);
    const uint64_t end = static_cast<uint64_t>(s->info.dwStart) + static_cast<uint64_t>(s->length);
    if (s.get() == base || !s->info.dwRate || !fi.dwScale) {
      length = std::max(length, end);
      continue;
    }
    const unsigned __int128 num = static_cast<unsigned __int128>(end) * s->info.dwScale * fi.dwRate;
    const unsigned __int128 den = static_cast<unsigned __int128>(s->info.dwRate) * fi.dwScale;
    length = std::max(length, static_cast<uint64_t>((num + den - 1) / den));
  }
  fi.dwLength = static_cast<DWORD>(std::min<uint64_t>(length, 0xFFFFFFFF));
  std::strcpy(fi.szFileType, "AVI file");
  CopyOut(info, size, &fi, sizeof fi);
  return AVIERR_OK;
}

HRESULT AVIFileGetStream(PAVIFILE f, PAVISTREAM* stream, FOURCC fccType, long lParam) {
  if (!stream) return AVIERR_BADPARAM;
  *stream = nullptr;
  if (!f || lParam < 0) return AVIERR_BADPARAM;
  long n = 0;
  for (auto& s : f->streams) {
    if (fccType != 0 && s->info.fccType != fccType) continue;
    if (n++ == lParam) {
      ++s->refs;
      ++f->refs;
      *stream = s.get();
      return AVIERR_OK;
    }
  }
  return AVIERR_NODATA;
}

HRESULT AVIFileCreateStream(PAVIFILE f, PAVISTREAM* stream, const AVISTREAMINFO* info) {
  if (!stream) return AVIERR_BADPARAM;
  *stream = nullptr;
  if (!f || !info) return AVIERR_BADPARAM;
  if (!f->writing) return AVIERR_READONLY;
  if (f->dataStarted || f->streams.size() >= 100) return AVIERR_UNSUPPORTED;
  auto s = std::make_unique<TAviStream>();
  s->file = f;
  s->number = static_cast<int>(f->streams.size());
  s->info = *info;
  s->info.dwLength = 0;
  s->info.szName[sizeof s->info.szName - 1] = 0;
  s->refs = 1;
  ++f->refs;
  *stream = s.get();
  f->streams.push_back(std::move(s));
  return AVIERR_OK;
}

HRESULT AVIFileRelease(PAVIFILE f) {
  g_lastErrorText.clear();
  if (!f) return AVIERR_OK;
  if (f->fileHandleReleased) return AVIERR_BADHANDLE;
  f->fileHandleReleased = true;
  return Unref(f);
}

HRESULT AVIStreamRelease(PAVISTREAM s) {
  g_lastErrorText.clear();
  if (!s) return AVIERR_OK;
  if (s->refs <= 0) return AVIERR_BADHANDLE;
  --s->refs;
  return Unref(s->file);
}

HRESULT AVIStreamInfo(PAVISTREAM s, AVISTREAMINFO* info, long size) {
  if (!s || !info || size < 0) return AVIERR_BADPARAM;
  AVISTREAMINFO i = s->info;
  i.dwLength = static_cast<DWORD>(std::min<int64_t>(s->length, 0xFFFFFFFF));
  i.dwSuggestedBufferSize = std::max(i.dwSuggestedBufferSize, s->maxChunk);
  CopyOut(info, size, &i, sizeof i);
  return AVIERR_OK;
}

long AVIStreamStart(PAVISTREAM s) { return s ? static_cast<long>(s->info.dwStart) : -1; }
long AVIStreamLength(PAVISTREAM s) { return s ? static_cast<long>(s->length) : -1; }

HRESULT AVIStreamReadFormat(PAVISTREAM s, long /*pos*/, void* format, long* formatSize) {
  if (!s || !formatSize) return AVIERR_BADPARAM;
  const long have = static_cast<long>(s->format.size());
  if (!format) {
    *formatSize = have;
    return AVIERR_OK;
  }
  if (*formatSize < 0) return AVIERR_BADPARAM;
  const long n = std::min(*formatSize, have);
  if (n > 0) std::memcpy(format, s->format.data(), static_cast<size_t>(n));
  *formatSize = n;
  return AVIERR_OK;
}

HRESULT AVIStreamSetFormat(PAVISTREAM s, long /*pos*/, const void* format, long formatSize) {
  if (!s || formatSize < 0 || (formatSize > 0 && !format) || formatSize > (1L << 20)) return AVIERR_BADPARAM;
  if (!s->file->writing) return AVIERR_READONLY;
  const auto* p = static_cast<const uint8_t*>(format);
  std::vector<uint8_t> f(p, p + formatSize);
  if (s->file->dataStarted) {
    // The header is laid out already; only the same format can be set again.
    return f == s->format ? AVIERR_OK : AVIERR_UNSUPPORTED;
  }
  s->format = std::move(f);
  return AVIERR_OK;
}

HRESULT AVIStreamRead(PAVISTREAM s, long start, long samples, void* buffer, long bufferSize, long* bytes,
                      long* samplesRead) {
  g_lastErrorText.clear();
  if (bytes) *bytes = 0;
  if (samplesRead) *samplesRead = 0;
  if (!s || samples < 0 || (buffer && bufferSize < 0)) return AVIERR_BADPARAM;
  if (s->file->writing) return AVIERR_UNSUPPORTED;
  const int64_t rel = static_cast<int64_t>(start) - s->info.dwStart;
  const long first = s->EntryOf(rel);
  if (first < 0) return AVIERR_BADPARAM;
  if (samples == 0) samples = 1;
  const uint32_t ss = s->info.dwSampleSize;

  // Gather the byte ranges of the samples wanted, stopping where the buffer
  // is full (only whole samples are read).
  int64_t needBytes = 0, gotSamples = 0;
  struct TPiece {
    uint64_t offset;
    uint32_t size;
  };
  std::vector<TPiece> pieces;
  for (size_t k = static_cast<size_t>(first); k < s->entries.size() && gotSamples < samples; ++k) {
    const avi::TEntry& e = s->entries[k];
    if (ss == 0) {
      if (buffer && needBytes + e.size > bufferSize) break;
      pieces.push_back({e.offset, e.size});
      needBytes += e.size;
      ++gotSamples;
      continue;
    }
    const int64_t skip = k == static_cast<size_t>(first) ? rel - e.firstSample : 0;
    int64_t avail = e.size / ss - skip;
    avail = std::min<int64_t>(avail, samples - gotSamples);
    if (buffer) avail = std::min<int64_t>(avail, (bufferSize - needBytes) / ss);
    if (avail <= 0) break;
    pieces.push_back({e.offset + static_cast<uint64_t>(skip) * ss, static_cast<uint32_t>(avail * ss)});
    needBytes += avail * ss;
    gotSamples += avail;
  }
  if (gotSamples == 0) return AVIERR_BUFFERTOOSMALL;
  if (buffer) {
    auto* out = static_cast<uint8_t*>(buffer);
    for (const TPiece& p : pieces) {
      if (p.size && !avi::ReadSample(*s->file, p.offset, out, p.size))
        return avi::Fail(AVIERR_FILEREAD,
                         errno ? std::strerror(errno) : "the file has become shorter since it was opened");
      out += p.size;
    }
  }
  if (bytes) *bytes = static_cast<long>(needBytes);
  if (samplesRead) *samplesRead = static_cast<long>(gotSamples);
  return AVIERR_OK;
}

HRESULT AVIStreamWrite(PAVISTREAM s, long start, long samples, const void* buffer, long size, DWORD flags,
                       long* samplesWritten, long* bytesWritten) {
  g_lastErrorText.clear();
  if (samplesWritten) *samplesWritten = 0;
  if (bytesWritten) *bytesWritten = 0;
  if (!s || size < 0 || (size > 0 && !buffer) || samples < 0) return AVIERR_BADPARAM;
  if (!s->file->writing || !s->file->out.IsOpen()) return AVIERR_READONLY;
  const int64_t end = static_cast<int64_t>(s->info.dwStart) + s->length;
  if (start == -1) start = static_cast<long>(end);
  if (start < end) return AVIERR_BADPARAM;
  const uint32_t ss = s->info.dwSampleSize;
  if (ss == 0 ? samples != 1 : (size % ss != 0 || size / ss != samples)) return AVIERR_BADPARAM;
  if (start - end > kMaxGap) return AVIERR_BADPARAM;
  // Samples of a fixed size cannot be left empty; only chunked streams get
  // zero-length fillers.
  if (start > end && ss != 0) return AVIERR_BADPARAM;
  for (int64_t p = end; p < start; ++p)
    if (HRESULT r = avi::WriteChunk(*s, nullptr, 0, false); r != AVIERR_OK) return r;
  if (size > 0xFFFFFFFFL) return AVIERR_BADSIZE;
  if (HRESULT r = avi::WriteChunk(*s, buffer, static_cast<uint32_t>(size), (flags & AVIIF_KEYFRAME) != 0);
      r != AVIERR_OK)
    return r;
  if (samplesWritten) *samplesWritten = samples;
  if (bytesWritten) *bytesWritten = size;
  return AVIERR_OK;
}

long AVIStreamFindSample(PAVISTREAM s, long pos, long flags) {
  if (!s || s->entries.empty()) return -1;
  const int64_t start = s->info.dwStart;
  if (flags & FIND_FROM_START) pos = static_cast<long>(start);
  const bool next = (flags & FIND_NEXT) != 0;
  const bool any = (flags & FIND_ANY) != 0;
  int64_t rel = static_cast<int64_t>(pos) - start;
  if (rel >= s->length) {
    if (next) return -1;
    rel = s->length - 1;
  }
  if (rel < 0) {
    if (!next) return -1;
    rel = 0;
  }
  long k = s->EntryOf(rel);
  if (k < 0) return -1;
  const auto match = [&](const avi::TEntry& e) { return any ? e.size > 0 : e.key; };
  if (next) {
    for (size_t i = static_cast<size_t>(k); i < s->entries.size(); ++i)
      if (match(s->entries[i])) return static_cast<long>(std::max(rel, s->entries[i].firstSample) + start);
  } else {
    for (long i = k; i >= 0; --i)
      if (match(s->entries[static_cast<size_t>(i)]))
        return static_cast<long>((i == k ? rel : s->entries[static_cast<size_t>(i)].firstSample) + start);
  }
  return -1;
}

bool AVIStreamIsKeyFrame(PAVISTREAM s, long pos) {
  return s && AVIStreamFindSample(s, pos, FIND_KEY | FIND_PREV) == pos;
}

}  // namespace sdm
