// Reading AVI files: the RIFF structure, the headers of every stream and one
// of three indexes (OpenDML, idx1, or a scan of the movi lists when neither
// is usable). Every size is checked against what remains of its parent chunk
// and of the file before it is trusted, and every loop moves forward by at
// least one chunk header, so a lying or truncated file ends in an error code.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/RegularFile.h"
#include "platform/avifile/AviFileImpl.h"

namespace sdm::avi {
namespace {

constexpr FOURCC kRIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kLIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC kAVI = mmioFOURCC('A', 'V', 'I', ' ');
constexpr FOURCC kAVIX = mmioFOURCC('A', 'V', 'I', 'X');
constexpr FOURCC kHdrl = mmioFOURCC('h', 'd', 'r', 'l');
constexpr FOURCC kStrl = mmioFOURCC('s', 't', 'r', 'l');
constexpr FOURCC kMovi = mmioFOURCC('m', 'o', 'v', 'i');
constexpr FOURCC kRec = mmioFOURCC('r', 'e', 'c', ' ');
constexpr FOURCC kAvih = mmioFOURCC('a', 'v', 'i', 'h');
constexpr FOURCC kStrh = mmioFOURCC('s', 't', 'r', 'h');
constexpr FOURCC kStrf = mmioFOURCC('s', 't', 'r', 'f');
constexpr FOURCC kStrn = mmioFOURCC('s', 't', 'r', 'n');
constexpr FOURCC kIndx = mmioFOURCC('i', 'n', 'd', 'x');
constexpr FOURCC kIdx1 = mmioFOURCC('i', 'd', 'x', '1');

// Headers larger than this are not headers: a guard against a lying size
// making us allocate the whole disk.
constexpr uint32_t kMaxHeaderChunk = 16u << 20;
constexpr int kMaxStreams = 100;  // chunk ids have two decimal digits

struct TChunk {
  FOURCC id = 0;
  uint64_t pos = 0;      // of the header
  uint32_t size = 0;     // as declared
  uint64_t dataEnd = 0;  // pos + 8 + size, clamped to the parent's end
  bool truncated = false;
  FOURCC listType = 0;  // for RIFF and LIST
};

struct TMoviRange {
  uint64_t fourccPos = 0;  // offset of the "movi" fourcc (idx1 offsets count from here)
  uint64_t end = 0;
};

struct TStreamIndex {
  std::vector<TSuperEntry> super;
  bool hasIndx = false;
  bool indxUsable = false;
};

class TReader {
public:
  explicit TReader(TAviFile& f) : f_(f) {}
  HRESULT Run();

private:
  HRESULT CutShort(const TChunk& part) const;
  bool ReadChunkHeader(uint64_t pos, uint64_t parentEnd, TChunk& c);
  HRESULT ReadBytes(uint64_t pos, uint32_t size, std::vector<uint8_t>& out);
  HRESULT ParseHdrl(const TChunk& hdrl);
  HRESULT ParseStrl(const TChunk& strl);
  HRESULT LoadOpenDmlIndex();
  HRESULT LoadIdx1();
  HRESULT ScanMovi();
  bool IndexIsSound(const std::vector<std::vector<TEntry>>& all) const;
  void Finalise();

  TAviFile& f_;
  std::vector<TMoviRange> movi_;
  std::vector<TStreamIndex> index_;
  bool haveIdx1_ = false;
  uint64_t idx1Pos_ = 0;
  uint32_t idx1Size_ = 0;
  bool haveAvix_ = false;
};

bool TReader::ReadChunkHeader(uint64_t pos, uint64_t parentEnd, TChunk& c) {
  uint8_t h[12];
  if (pos + 8 > parentEnd || !ReadAt(f_, pos, h, 8)) return false;
  c.id = Get32(h);
  c.size = Get32(h + 4);
  c.pos = pos;
  c.dataEnd = pos + 8 + c.size;
  c.truncated = c.dataEnd > parentEnd;
  if (c.truncated) c.dataEnd = parentEnd;
  c.listType = 0;
  if ((c.id == kRIFF || c.id == kLIST) && c.dataEnd >= pos + 12 && ReadAt(f_, pos + 8, h + 8, 4))
    c.listType = Get32(h + 8);
  return true;
}

HRESULT TReader::ReadBytes(uint64_t pos, uint32_t size, std::vector<uint8_t>& out) {
  if (size > kMaxHeaderChunk || pos + size > f_.fileSize) return AVIERR_BADFORMAT;
  out.resize(size);
  return ReadAt(f_, pos, out.data(), size) ? AVIERR_OK : AVIERR_FILEREAD;
}

// The samples that remain of a file cut short could be read, but whoever
// copies them would take a part for the whole without a word.
HRESULT TReader::CutShort(const TChunk& part) const {
  return Fail(AVIERR_FILEREAD, "the file is cut short: it ends at byte " + std::to_string(f_.fileSize) + " of " +
                                   std::to_string(part.pos + 8 + part.size));
}

HRESULT TReader::Run() {
  TChunk riff;
  if (!ReadChunkHeader(0, f_.fileSize, riff) || riff.id != kRIFF || riff.listType != kAVI) return AVIERR_BADFORMAT;
  bool haveHdrl = false;
  uint64_t top = 0;
  // Top level: the first RIFF 'AVI ' part, then any RIFF 'AVIX' parts.
  while (top + 12 <= f_.fileSize) {
    TChunk part;
    if (!ReadChunkHeader(top, f_.fileSize, part) || part.id != kRIFF) break;
    if (top != 0 && part.listType != kAVIX) break;
    if (top != 0) haveAvix_ = true;
    uint64_t p = top + 12;
    bool cut = false;
    while (p + 8 <= part.dataEnd) {
      TChunk c;
      if (!ReadChunkHeader(p, part.dataEnd, c)) break;
      if (c.id == kLIST && c.listType == kHdrl && top == 0 && !haveHdrl) {
        if (c.truncated) return part.truncated ? CutShort(part) : AVIERR_BADFORMAT;
        if (HRESULT r = ParseHdrl(c); r != AVIERR_OK) return r;
        haveHdrl = true;
      } else if (c.id == kLIST && c.listType == kMovi) {
        // The frames cut off by a part whose size is too small while the
        // file goes on: its samples would silently be lost.
        if (c.truncated && !part.truncated)
          return Fail(AVIERR_BADFORMAT,
                      "the RIFF size is wrong: the frames reach past the end of the part that holds "
                      "them");
        movi_.push_back({c.pos + 8, c.dataEnd});
      } else if (c.id == kIdx1 && top == 0 && !c.truncated) {
        haveIdx1_ = true;
        idx1Pos_ = c.pos + 8;
        idx1Size_ = c.size;
      }
      // A chunk the end of the file cuts off: the file was cut short. (A
      // part whose size alone reaches past the end, with every chunk in it
      // whole, is only a wrong size: its data is all there.)
      if (c.truncated && part.truncated) cut = true;
      p = c.dataEnd + (c.size & 1);
    }
    // Bytes left over that do not make a chunk header: cut inside one.
    if (part.truncated && (cut || p < part.dataEnd)) return CutShort(part);
    if (part.truncated) break;
    top = part.dataEnd + (part.size & 1);
  }
  if (!haveHdrl || f_.streams.empty()) return AVIERR_BADFORMAT;

  HRESULT r = LoadOpenDmlIndex();
  if (r != AVIERR_OK && haveIdx1_ && !haveAvix_) r = LoadIdx1();
  if (r != AVIERR_OK) r = ScanMovi();
  if (r != AVIERR_OK) return r;
  Finalise();
  return AVIERR_OK;
}

HRESULT TReader::ParseHdrl(const TChunk& hdrl) {
  bool haveAvih = false;
  uint64_t p = hdrl.pos + 12;
  while (p + 8 <= hdrl.dataEnd) {
    TChunk c;
    if (!ReadChunkHeader(p, hdrl.dataEnd, c) || c.truncated) return AVIERR_BADFORMAT;
    if (c.id == kAvih) {
      std::vector<uint8_t> b;
      if (c.size < 40) return AVIERR_BADFORMAT;
      if (HRESULT r = ReadBytes(c.pos + 8, c.size, b); r != AVIERR_OK) return r;
      f_.microSecPerFrame = Get32(&b[0]);
      f_.avihFlags = Get32(&b[12]);
      f_.width = Get32(&b[32]);
      f_.height = Get32(&b[36]);
      haveAvih = true;
    } else if (c.id == kLIST && c.listType == kStrl) {
      if (HRESULT r = ParseStrl(c); r != AVIERR_OK) return r;
    }
    p = c.dataEnd + (c.size & 1);
  }
  return haveAvih ? AVIERR_OK : AVIERR_BADFORMAT;
}

HRESULT TReader::ParseStrl(const TChunk& strl) {
  if (static_cast<int>(f_.streams.size()) >= kMaxStreams) return AVIERR_BADFORMAT;
  auto s = std::make_unique<TAviStream>();
  s->file = &f_;
  s->number = static_cast<int>(f_.streams.size());
  TStreamIndex idx;
  bool haveStrh = false;
  uint64_t p = strl.pos + 12;
  while (p + 8 <= strl.dataEnd) {
    TChunk c;
    if (!ReadChunkHeader(p, strl.dataEnd, c) || c.truncated) return AVIERR_BADFORMAT;
    std::vector<uint8_t> b;
    if (c.id == kStrh) {
      // Old writers leave out the frame rectangle (48 bytes).
      if (c.size < 48) return AVIERR_BADFORMAT;
      if (HRESULT r = ReadBytes(c.pos + 8, c.size, b); r != AVIERR_OK) return r;
      AVISTREAMINFO& i = s->info;
      i.fccType = Get32(&b[0]);
      i.fccHandler = Get32(&b[4]);
      i.dwFlags = Get32(&b[8]);
      i.wPriority = Get16(&b[12]);
      i.wLanguage = Get16(&b[14]);
      i.dwInitialFrames = Get32(&b[16]);
      i.dwScale = Get32(&b[20]);
      i.dwRate = Get32(&b[24]);
      i.dwStart = Get32(&b[28]);
      i.dwLength = Get32(&b[32]);
      i.dwSuggestedBufferSize = Get32(&b[36]);
      i.dwQuality = Get32(&b[40]);
      i.dwSampleSize = Get32(&b[44]);
      if (c.size >= 56) {
        i.rcFrame.left = static_cast<int16_t>(Get16(&b[48]));
        i.rcFrame.top = static_cast<int16_t>(Get16(&b[50]));
        i.rcFrame.right = static_cast<int16_t>(Get16(&b[52]));
        i.rcFrame.bottom = static_cast<int16_t>(Get16(&b[54]));
      }
      // A start beyond 2^31 would overflow every position we hand out.
      if (i.dwStart > 0x7FFFFFFFu) i.dwStart = 0;
      haveStrh = true;
    } else if (c.id == kStrf) {
      if (HRESULT r = ReadBytes(c.pos + 8, c.size, s->format); r != AVIERR_OK) return r;
    } else if (c.id == kStrn) {
      if (HRESULT r = ReadBytes(c.pos + 8, c.size, b); r != AVIERR_OK) return r;
      // An empty name has no bytes to copy (and no buffer to copy them from).
      const size_t n = std::min<size_t>(b.size(), sizeof s->info.szName - 1);
      if (n > 0) std::memcpy(s->info.szName, b.data(), n);
      s->info.szName[n] = 0;
    } else if (c.id == kIndx) {
      if (HRESULT r = ReadBytes(c.pos + 8, c.size, b); r != AVIERR_OK) return r;
      idx.hasIndx = true;
      // AVISUPERINDEX: wLongsPerEntry 4, bIndexType AVI_INDEX_OF_INDEXES (0).
      if (b.size() >= 24 && Get16(&b[0]) == 4 && b[3] == 0) {
        const uint32_t n = Get32(&b[4]);
        if (static_cast<uint64_t>(n) * 16 <= b.size() - 24) {
          idx.indxUsable = true;
          for (uint32_t k = 0; k < n; ++k) {
            const uint8_t* e = &b[24 + 16 * k];
            idx.super.push_back({Get64(e), Get32(e + 8), Get32(e + 12)});
          }
        }
      }
    }
    p = c.dataEnd + (c.size & 1);
  }
  if (!haveStrh) return AVIERR_BADFORMAT;
  f_.streams.push_back(std::move(s));
  index_.push_back(std::move(idx));
  return AVIERR_OK;
}

// The OpenDML standard indexes named by every stream's super index. Any
// inconsistency makes the whole index unusable (the caller falls back).
HRESULT TReader::LoadOpenDmlIndex() {
  for (const TStreamIndex& i : index_)
    if (!i.indxUsable) return AVIERR_BADFORMAT;
  std::vector<std::vector<TEntry>> all(f_.streams.size());
  for (size_t s = 0; s < index_.size(); ++s) {
    for (const TSuperEntry& se : index_[s].super) {
      if (se.size < 32 || se.offset + se.size > f_.fileSize || se.size > (1u << 30)) return AVIERR_BADFORMAT;
      std::vector<uint8_t> b(se.size);
      if (!ReadAt(f_, se.offset, b.data(), b.size())) return AVIERR_FILEREAD;
      const uint32_t cb = Get32(&b[4]);
      // AVISTDINDEX: wLongsPerEntry 2, bIndexType AVI_INDEX_OF_CHUNKS (1).
      if (cb + 8 > b.size() || Get16(&b[8]) != 2 || b[11] != 1) return AVIERR_BADFORMAT;
      const uint32_t n = Get32(&b[12]);
      if (static_cast<uint64_t>(n) * 8 > cb - 24) return AVIERR_BADFORMAT;
      const uint64_t base = Get64(&b[20]);
      for (uint32_t k = 0; k < n; ++k) {
        const uint8_t* e = &b[32 + 8 * k];
        TEntry en;
        en.offset = base + Get32(e);
        const uint32_t sz = Get32(e + 4);
        en.size = sz & 0x7FFFFFFFu;
        en.key = (sz & 0x80000000u) == 0;
        all[s].push_back(en);
      }
    }
  }
  if (!IndexIsSound(all)) return AVIERR_BADFORMAT;
  for (size_t s = 0; s < all.size(); ++s) f_.streams[s]->entries = std::move(all[s]);
  return AVIERR_OK;
}

HRESULT TReader::LoadIdx1() {
  if (movi_.empty()) return AVIERR_BADFORMAT;
  const uint32_t n = idx1Size_ / 16;
  std::vector<uint8_t> b(static_cast<size_t>(n) * 16);
  if (!b.empty() && !ReadAt(f_, idx1Pos_, b.data(), b.size())) return AVIERR_FILEREAD;
  // Offsets count from the "movi" fourcc, or from the file start for some
  // writers: the first real entry tells which by what lies there.
  uint64_t base = movi_[0].fourccPos;
  for (uint32_t k = 0; k < n; ++k) {
    const uint8_t* e = &b[16 * k];
    if (Get32(e + 4) & AVIIF_LIST) continue;
    uint8_t id[4];
    const uint64_t off = Get32(e + 8);
    if (ReadAt(f_, base + off, id, 4) && Get32(id) == Get32(e)) break;
    if (ReadAt(f_, off, id, 4) && Get32(id) == Get32(e)) base = 0;
    break;
  }
  std::vector<std::vector<TEntry>> all(f_.streams.size());
  for (uint32_t k = 0; k < n; ++k) {
    const uint8_t* e = &b[16 * k];
    const FOURCC id = Get32(e);
    const uint32_t flags = Get32(e + 4);
    if ((flags & AVIIF_LIST) || id == mmioFOURCC('r', 'e', 'c', ' ')) continue;
    const int s = StreamOfChunk(id);
    if (s < 0 || s >= static_cast<int>(all.size())) continue;
    TEntry en;
    en.offset = base + Get32(e + 8) + 8;
    en.size = Get32(e + 12);
    en.key = (flags & AVIIF_KEYFRAME) != 0;
    all[static_cast<size_t>(s)].push_back(en);
  }
  if (!IndexIsSound(all)) return AVIERR_BADFORMAT;
  for (size_t s = 0; s < all.size(); ++s) f_.streams[s]->entries = std::move(all[s]);
  return AVIERR_OK;
}

// An index is trusted only when every chunk it names, header included, lies
// inside a movi list and no two of them share a byte: an index that points
// into the headers, past the data or at one chunk many times would make a
// copy of the file read the wrong bytes, or the same bytes a thousand times.
bool TReader::IndexIsSound(const std::vector<std::vector<TEntry>>& all) const {
  struct TExtent {
    uint64_t begin, end;
  };
  std::vector<TExtent> chunks;
  for (const auto& entries : all)
    for (const TEntry& e : entries) {
      if (e.offset < 8) return false;
      chunks.push_back({e.offset - 8, e.offset + e.size});
    }
  std::sort(chunks.begin(), chunks.end(), [](const TExtent& a, const TExtent& b) { return a.begin < b.begin; });
  size_t list = 0;  // movi lists lie in file order
  for (size_t k = 0; k < chunks.size(); ++k) {
    if (k > 0 && chunks[k].begin < chunks[k - 1].end) return false;
    while (list < movi_.size() && chunks[k].begin >= movi_[list].end) ++list;
    if (list == movi_.size() || chunks[k].begin < movi_[list].fourccPos + 4 || chunks[k].end > movi_[list].end)
      return false;
  }
  return true;
}

// No usable index: walk every movi list. Chunks cut off by the end of the
// file are left out; key frames cannot be told, so every chunk counts as one.
HRESULT TReader::ScanMovi() {
  for (auto& s : f_.streams) s->entries.clear();
  for (const TMoviRange& m : movi_) {
    uint64_t p = m.fourccPos + 4;
    while (p + 8 <= m.end) {
      TChunk c;
      if (!ReadChunkHeader(p, m.end, c)) break;
      if (c.id == kLIST && c.listType == kRec) {
        p += 12;  // step into the group
        continue;
      }
      if (c.truncated) break;
      const int s = StreamOfChunk(c.id);
      const bool isIndex = ((c.id >> 16) & 0xFFFF) == ('i' | ('x' << 8));  // "00ix" of some writers
      if (s >= 0 && s < static_cast<int>(f_.streams.size()) && !isIndex)
        f_.streams[static_cast<size_t>(s)]->entries.push_back({c.pos + 8, c.size, true, 0});
      p = c.dataEnd + (c.size & 1);
    }
  }
  return AVIERR_OK;
}

// Sample numbers of every chunk, lengths and buffer sizes.
void TReader::Finalise() {
  for (auto& s : f_.streams) {
    int64_t n = 0;
    for (TEntry& e : s->entries) {
      e.firstSample = n;
      n += s->info.dwSampleSize ? e.size / s->info.dwSampleSize : 1;
      s->maxChunk = std::max(s->maxChunk, e.size);
    }
    s->length = n;
    s->info.dwLength = static_cast<DWORD>(std::min<int64_t>(n, 0xFFFFFFFF));
    s->info.dwSuggestedBufferSize = std::max(s->info.dwSuggestedBufferSize, s->maxChunk);
  }
}

}  // namespace

bool ReadAt(const TAviFile& file, uint64_t offset, void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(file.fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = 0;  // the end of the file, not a failure of the system
    if (n <= 0) return false;
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadSample(TAviFile& file, uint64_t offset, void* data, size_t size) {
  // Samples of video frames and sound are small: a block holds dozens.
  // Larger samples are read as they are.
  constexpr size_t kBlock = 256 * 1024;
  TAviFile::TReadAhead& r = file.readAhead;
  if (size >= kBlock / 4) return ReadAt(file, offset, data, size);
  if (offset < r.start || offset - r.start + size > r.held) {
    r.block.resize(kBlock);
    r.start = offset;
    r.held = 0;
    while (r.held < size) {
      const ssize_t n = ::pread(file.fd, r.block.data() + r.held, kBlock - r.held, static_cast<off_t>(offset + r.held));
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) errno = 0;  // the end of the file, not a failure of the system
      if (n <= 0) {
        r.held = 0;
        return false;
      }
      r.held += static_cast<size_t>(n);
    }
  }
  std::memcpy(data, r.block.data() + (offset - r.start), size);
  return true;
}

HRESULT OpenForReading(TAviFile& file) {
  std::string problem;
  file.fd = OpenRegularFileForReading(file.name, problem);
  if (file.fd < 0) return Fail(AVIERR_FILEOPEN, problem);
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return Fail(AVIERR_FILEREAD, std::strerror(errno));
  file.fileSize = static_cast<uint64_t>(st.st_size);
  TReader reader(file);
  return reader.Run();
}

}  // namespace sdm::avi
