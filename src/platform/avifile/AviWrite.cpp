// Writing AVI files: header, chunks, trailer over one file context.
//
// The header is laid out when the first chunk arrives (all streams and
// formats are known by then) with room for everything the trailer fills in:
// the OpenDML super index of each stream and the odml list sit there as JUNK
// of the same size, so the file stays a plain AVI 1.0 file unless it grows
// past the RIFF limit. Past it, the part is closed (its ix standard indexes,
// and idx1 for the first part) and the file continues in a RIFF 'AVIX' part;
// at the end the JUNK becomes the indx and odml chunks.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/avifile/AviFileImpl.h"

namespace sdm::avi {
namespace {

constexpr uint32_t kMaxChunkSize = 1u << 30;
constexpr uint32_t kIndxSize = 24 + 16 * kSuperIndexEntries;  // AVISUPERINDEX body
constexpr uint32_t kOdmlSize = 4 + 8 + 248;                   // "odml" + dmlh chunk
constexpr DWORD AVIF_HASINDEX = 0x00000010;

void Append(TAviFile& f, const std::vector<uint8_t>& b) { f.out.Append(b.data(), b.size()); }

void PatchFile32(TAviFile& f, uint64_t offset, uint32_t v) {
  std::vector<uint8_t> b;
  Put32(b, v);
  f.out.Patch(offset, b.data(), b.size());
}

const TAviStream* FirstVideo(const TAviFile& f) {
  for (const auto& s : f.streams)
    if (s->info.fccType == streamtypeVIDEO) return s.get();
  return nullptr;
}

bool IsOpenDml(const TAviFile& f) { return f.riffCount > 1; }

// The whole header up to the movi list: RIFF 'AVI ', hdrl with avih and one
// strl per stream (strh, strf, indx or its JUNK, strn), odml or its JUNK.
// Its size depends only on the streams and formats, so the trailer can write
// it again over the first one.
std::vector<uint8_t> BuildHeader(const TAviFile& f, uint32_t firstRiffSize) {
  const bool odml = IsOpenDml(f);
  const TAviStream* video = FirstVideo(f);
  std::vector<uint8_t> b;
  PutFourCC(b, "RIFF");
  Put32(b, firstRiffSize);
  PutFourCC(b, "AVI ");
  PutFourCC(b, "LIST");
  const size_t hdrlSize = b.size();
  Put32(b, 0);
  PutFourCC(b, "hdrl");

  // avih: MainAVIHeader.
  uint32_t usPerFrame = 0, maxBytesPerSec = 0, suggested = 0, width = 0, height = 0;
  if (video && video->info.dwRate)
    usPerFrame =
        static_cast<uint32_t>((1000000ull * video->info.dwScale + video->info.dwRate / 2) / video->info.dwRate);
  for (const auto& s : f.streams) {
    suggested = std::max(suggested, s->maxChunk + 8);
    if (s->info.dwScale)
      maxBytesPerSec += static_cast<uint32_t>(
          std::min<uint64_t>(0xFFFFFFFFull / 4, static_cast<uint64_t>(s->maxChunk) * s->info.dwRate / s->info.dwScale));
  }
  if (video) {
    width = static_cast<uint32_t>(video->info.rcFrame.right - video->info.rcFrame.left);
    height = static_cast<uint32_t>(video->info.rcFrame.bottom - video->info.rcFrame.top);
  }
  const uint32_t totalFrames = video ? (odml ? f.firstRiffVideoFrames : static_cast<uint32_t>(video->length)) : 0;
  PutFourCC(b, "avih");
  Put32(b, 56);
  Put32(b, usPerFrame);
  Put32(b, maxBytesPerSec);
  Put32(b, 0);  // padding granularity
  Put32(b, AVIF_HASINDEX);
  Put32(b, totalFrames);
  Put32(b, 0);  // initial frames
  Put32(b, static_cast<uint32_t>(f.streams.size()));
  Put32(b, suggested);
  Put32(b, width);
  Put32(b, height);
  for (int i = 0; i < 4; ++i) Put32(b, 0);

  for (const auto& s : f.streams) {
    const AVISTREAMINFO& i = s->info;
    PutFourCC(b, "LIST");
    const size_t strlSize = b.size();
    Put32(b, 0);
    PutFourCC(b, "strl");
    PutFourCC(b, "strh");
    Put32(b, 56);
    Put32(b, i.fccType);
    Put32(b, i.fccHandler);
    Put32(b, i.dwFlags);
    Put16(b, i.wPriority);
    Put16(b, i.wLanguage);
    Put32(b, i.dwInitialFrames);
    Put32(b, i.dwScale);
    Put32(b, i.dwRate);
    Put32(b, i.dwStart);
    Put32(b, static_cast<uint32_t>(std::min<int64_t>(s->length, 0xFFFFFFFF)));
    Put32(b, std::max(i.dwSuggestedBufferSize, s->maxChunk));
    Put32(b, i.dwQuality);
    Put32(b, i.dwSampleSize);
    Put16(b, static_cast<uint16_t>(i.rcFrame.left));
    Put16(b, static_cast<uint16_t>(i.rcFrame.top));
    Put16(b, static_cast<uint16_t>(i.rcFrame.right));
    Put16(b, static_cast<uint16_t>(i.rcFrame.bottom));

    PutFourCC(b, "strf");
    Put32(b, static_cast<uint32_t>(s->format.size()));
    b.insert(b.end(), s->format.begin(), s->format.end());
    if (s->format.size() & 1) b.push_back(0);

    const bool indx = odml;
    PutFourCC(b, indx ? "indx" : "JUNK");
    Put32(b, kIndxSize);
    const size_t indxStart = b.size();
    if (indx) {
      Put16(b, 4);     // wLongsPerEntry
      b.push_back(0);  // bIndexSubType
      b.push_back(0);  // bIndexType: AVI_INDEX_OF_INDEXES
      Put32(b, static_cast<uint32_t>(s->super.size()));
      Put32(b, s->chunkId);
      for (int k = 0; k < 3; ++k) Put32(b, 0);
      for (const TSuperEntry& e : s->super) {
        Put64(b, e.offset);
        Put32(b, e.size);
        Put32(b, e.duration);
      }
    }
    b.resize(indxStart + kIndxSize, 0);

    const size_t nameLen = strnlen(i.szName, sizeof i.szName - 1);
    if (nameLen > 0) {
      PutFourCC(b, "strn");
      Put32(b, static_cast<uint32_t>(nameLen + 1));
      b.insert(b.end(), i.szName, i.szName + nameLen);
      b.push_back(0);
      if ((nameLen + 1) & 1) b.push_back(0);
    }
    avi::Patch32(b, strlSize, static_cast<uint32_t>(b.size() - strlSize - 4));
  }

  PutFourCC(b, odml ? "LIST" : "JUNK");
  Put32(b, kOdmlSize);
  PutFourCC(b, "odml");
  PutFourCC(b, "dmlh");
  Put32(b, 248);
  const size_t dmlh = b.size();
  Put32(b, video ? static_cast<uint32_t>(std::min<int64_t>(video->length, 0xFFFFFFFF)) : 0);
  b.resize(dmlh + 248, 0);
  avi::Patch32(b, hdrlSize, static_cast<uint32_t>(b.size() - hdrlSize - 4));
  return b;
}

void StartMovi(TAviFile& f) {
  f.moviStart = f.out.Pos();
  std::vector<uint8_t> b;
  PutFourCC(b, "LIST");
  Put32(b, 0);
  PutFourCC(b, "movi");
  Append(f, b);
}

void StartData(TAviFile& f) {
  for (auto& s : f.streams) {
    const char* type = "dc";
    if (s->info.fccType == streamtypeVIDEO) {
      // Uncompressed frames are "db" chunks, as readers expect.
      if (s->format.size() >= 40 && Get32(&s->format[16]) == BI_RGB) type = "db";
    } else if (s->info.fccType == streamtypeAUDIO) {
      type = "wb";
    } else if (s->info.fccType == streamtypeTEXT) {
      type = "tx";
    }
    s->chunkId = ChunkId(s->number, type);
    s->riffFirstEntry = 0;
  }
  f.riffStart = 0;
  f.riffCount = 1;
  const std::vector<uint8_t> header = BuildHeader(f, 0);
  f.headerSize = header.size();
  Append(f, header);
  StartMovi(f);
  f.dataStarted = true;
}

// The ix standard index of one stream for the part being closed.
void WriteStdIndex(TAviFile& f, TAviStream& s) {
  const size_t first = s.riffFirstEntry, n = s.entries.size() - first;
  if (n == 0) return;
  const uint64_t base = f.riffStart;
  std::vector<uint8_t> b;
  Put32(b, mmioFOURCC('i', 'x', static_cast<char>('0' + s.number / 10), static_cast<char>('0' + s.number % 10)));
  Put32(b, static_cast<uint32_t>(24 + 8 * n));
  Put16(b, 2);     // wLongsPerEntry
  b.push_back(0);  // bIndexSubType
  b.push_back(1);  // bIndexType: AVI_INDEX_OF_CHUNKS
  Put32(b, static_cast<uint32_t>(n));
  Put32(b, s.chunkId);
  Put64(b, base);
  Put32(b, 0);
  uint32_t duration = 0;
  for (size_t k = first; k < s.entries.size(); ++k) {
    const TEntry& e = s.entries[k];
    Put32(b, static_cast<uint32_t>(e.offset - base));
    Put32(b, e.size | (e.key ? 0u : 0x80000000u));
    duration += s.info.dwSampleSize ? e.size / s.info.dwSampleSize : 1;
  }
  s.super.push_back({f.out.Pos(), static_cast<uint32_t>(b.size()), duration});
  Append(f, b);
}

void ClosePart(TAviFile& f, bool last) {
  if (!last || IsOpenDml(f))
    for (auto& s : f.streams) WriteStdIndex(f, *s);
  PatchFile32(f, f.moviStart + 4, static_cast<uint32_t>(f.out.Pos() - f.moviStart - 8));
  if (f.riffCount == 1) {
    std::vector<uint8_t> b;
    PutFourCC(b, "idx1");
    Put32(b, static_cast<uint32_t>(16 * f.idx1.size()));
    for (const auto& e : f.idx1) {
      Put32(b, e.id);
      Put32(b, e.flags);
      Put32(b, e.offset);
      Put32(b, e.size);
    }
    Append(f, b);
    if (const TAviStream* v = FirstVideo(f)) f.firstRiffVideoFrames = static_cast<uint32_t>(v->entries.size());
  }
  PatchFile32(f, f.riffStart + 4, static_cast<uint32_t>(f.out.Pos() - f.riffStart - 8));
}

void NewPart(TAviFile& f) {
  ClosePart(f, false);
  f.riffStart = f.out.Pos();
  ++f.riffCount;
  std::vector<uint8_t> b;
  PutFourCC(b, "RIFF");
  Put32(b, 0);
  PutFourCC(b, "AVIX");
  Append(f, b);
  StartMovi(f);
  for (auto& s : f.streams) s->riffFirstEntry = s->entries.size();
}

}  // namespace

HRESULT OpenForWriting(TAviFile& f) {
  if (!f.out.Open(f.name)) return Fail(AVIERR_FILEOPEN, f.out.Problem());
  f.writing = true;
  f.riffLimit = AVIGetRiffLimit();
  return AVIERR_OK;
}

HRESULT WriteChunk(TAviStream& s, const void* data, uint32_t size, bool key) {
  TAviFile& f = *s.file;
  if (size > kMaxChunkSize) return Fail(AVIERR_BADSIZE, "a sample of more than 1 GiB");
  if (!f.dataStarted) StartData(f);
  if (f.out.Failed()) return Fail(AVIERR_FILEWRITE, f.out.Problem());

  // Close the part before it passes the limit, counting what its indexes
  // will add, so no RIFF size can outgrow 32 bits.
  size_t inPart = 0;
  for (const auto& st : f.streams) inPart += st->entries.size() - st->riffFirstEntry;
  const uint64_t cost = 8 + size + (size & 1) + (f.riffCount == 1 ? 16 * (f.idx1.size() + 1) : 0) + 8 * (inPart + 1) +
                        32 * f.streams.size();
  if (inPart > 0 && f.out.Pos() - f.riffStart + cost > f.riffLimit) {
    if (static_cast<uint32_t>(f.riffCount) >= kSuperIndexEntries)
      return Fail(AVIERR_FILEWRITE,
                  "the file has grown past the " + std::to_string(kSuperIndexEntries) + " parts its index can list");
    NewPart(f);
  }

  const uint64_t at = f.out.Pos();
  const uint8_t h[8] = {static_cast<uint8_t>(s.chunkId),
                        static_cast<uint8_t>(s.chunkId >> 8),
                        static_cast<uint8_t>(s.chunkId >> 16),
                        static_cast<uint8_t>(s.chunkId >> 24),
                        static_cast<uint8_t>(size),
                        static_cast<uint8_t>(size >> 8),
                        static_cast<uint8_t>(size >> 16),
                        static_cast<uint8_t>(size >> 24)};
  f.out.Append(h, sizeof h);
  f.out.Append(data, size);
  if (size & 1) {
    const uint8_t pad = 0;
    f.out.Append(&pad, 1);
  }
  TEntry e;
  e.offset = at + 8;
  e.size = size;
  e.key = key;
  e.firstSample = s.length;
  s.entries.push_back(e);
  s.length += s.info.dwSampleSize ? size / s.info.dwSampleSize : 1;
  s.maxChunk = std::max(s.maxChunk, size);
  if (f.riffCount == 1)
    f.idx1.push_back({s.chunkId, key ? AVIIF_KEYFRAME : 0u, static_cast<uint32_t>(at - (f.moviStart + 8)), size});
  return f.out.Failed() ? Fail(AVIERR_FILEWRITE, f.out.Problem()) : AVIERR_OK;
}

HRESULT Finish(TAviFile& f) {
  if (!f.dataStarted) StartData(f);
  if (!f.out.Failed()) {
    ClosePart(f, true);
    std::vector<uint8_t> header = BuildHeader(f, 0);
    if (header.size() != f.headerSize) {
      f.out.Close();
      return Fail(AVIERR_INTERNAL, "internal error: the header changed its size");
    }
    // The first part's RIFF size was patched when it was closed; keep it.
    f.out.Patch(8, header.data() + 8, header.size() - 8);
  }
  return f.out.Close() ? AVIERR_OK : Fail(AVIERR_FILEWRITE, f.out.Problem());
}

}  // namespace sdm::avi
