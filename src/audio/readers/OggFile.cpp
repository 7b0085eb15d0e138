#include "audio/readers/OggFile.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

#include "audio/tags/U_OggTag.h"

namespace sdm {

namespace {

TWFileStream* StreamOf(void* source) { return static_cast<TWFileStream*>(source); }

// Holes in a row that end the reading: a file of nothing but damage must not
// keep a read going for ever.
constexpr int kMaxHolesInARow = 10000;

size_t ReadCallback(void* ptr, size_t size, size_t count, void* source) {
  if (size == 0) return 0;
  int64_t n = StreamOf(source)->Read(ptr, static_cast<int64_t>(size * count));
  return n > 0 ? static_cast<size_t>(n) / size : 0;  // whole items read
}

int SeekCallback(void* source, ogg_int64_t offset, int whence) {
  // An exception cannot cross the C library: a bad origin is a failed seek.
  try {
    return StreamOf(source)->Seek(offset, OggSeekOrigin(whence)) < 0 ? -1 : 0;
  } catch (const std::exception&) {
    return -1;
  }
}

int CloseCallback(void* source) {
  delete StreamOf(source);
  return 0;
}

long TellCallback(void* source) { return static_cast<long>(StreamOf(source)->Position()); }

// Vorbis orders more than two channels its own way (centre second, LFE
// last); the rest of the library expects the WAVE order, so each frame is
// rearranged: entry i names the Vorbis channel that becomes channel i.
const int* WaveOrderOf(int channels) {
  static const int k3[] = {0, 2, 1}, k5[] = {0, 2, 1, 3, 4}, k6[] = {0, 2, 1, 5, 3, 4}, k7[] = {0, 2, 1, 6, 5, 3, 4},
                   k8[] = {0, 2, 1, 7, 5, 6, 3, 4};
  switch (channels) {
    case 3: return k3;
    case 5: return k5;
    case 6: return k6;
    case 7: return k7;
    case 8: return k8;
    default: return nullptr;
  }
}

// a * b for a sample count and a frame size, kept within int64_t.
int64_t SaturatedProduct(int64_t a, int64_t b) {
  int64_t r;
  if (a < 0 || b < 0) return 0;
  return __builtin_mul_overflow(a, b, &r) ? INT64_MAX : r;
}

// The samples per channel the file's pages can really hold. Each page says
// how far its stream has come (its granule), and libvorbisfile takes the
// last page's word for the whole length; but a packet yields at most half a
// long block of samples, so no page may pass the page before it by more than
// its packets can carry. A last page claiming hours after seconds of pages
// (damage, or a hostile file) is held to what its packets allow.
// damaged counts the stretches of bytes that were no valid page (a page whose
// checksum fails is one): libvorbisfile passes over them without a word.
int64_t PlausibleSamples(const std::string& fileName, int64_t perPacket, int64_t& damaged) {
  try {
    TWFileStream file(fileName, TWFileStream::ModeRead);
    file.BufferReads(1 << 16);
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    struct Clear {
      ogg_sync_state& s;
      ~Clear() { ogg_sync_clear(&s); }
    } clear{sync};
    int64_t total = 0, stream = 0;
    bool audio = false;
    for (;;) {
      ogg_page page;
      const int r = ogg_sync_pageout(&sync, &page);
      if (r < 0) {  // skipped bytes that are no page
        ++damaged;
        continue;
      }
      if (r == 0) {
        char* buffer = ogg_sync_buffer(&sync, 1 << 16);
        const int64_t n = file.Read(buffer, 1 << 16);
        if (n <= 0) break;
        ogg_sync_wrote(&sync, static_cast<long>(n));
        continue;
      }
      if (ogg_page_bos(&page)) {  // a new stream of a chained file
        total += stream;
        stream = 0;
        audio = false;
      }
      int64_t packets = 0;
      for (int i = 0; i < page.header[26]; ++i) packets += page.header[27 + i] < 255;
      const int64_t granule = ogg_page_granulepos(&page);
      if (granule <= 0 || packets == 0) continue;
      // The first page of sound may start the stream at a later sample; later
      // pages are held to their packets.
      const int64_t most = audio ? stream + packets * perPacket : SaturatedProduct(packets, perPacket);
      stream = std::min(granule, std::max(most, stream));
      audio = true;
    }
    return total + stream;
  } catch (const std::exception&) {
    return INT64_MAX;  // nothing to say: libvorbisfile's length stands
  }
}

}  // namespace

int OggSeekOrigin(int whence) {
  switch (whence) {
    case SEEK_SET: return 0;
    case SEEK_CUR: return 1;
    case SEEK_END: return 2;
    default: throw EError("Bad file origin");
  }
}

TOggFile::TOggFile(const std::string& fileName) : TAbstractAudioFile(fileName) {
  stream_ = std::make_unique<TWFileStream>(fileName, TWFileStream::ModeRead);
  const ov_callbacks callbacks{ReadCallback, SeekCallback, CloseCallback, TellCallback};
  if (ov_open_callbacks(stream_.get(), &file_, nullptr, 0, callbacks) < 0) {
    stream_.reset();  // a failed open leaves the stream to us
    throw EError("\"" + fileName + "\" is not a Ogg bitstream");
  }
  stream_.release();  // ov_clear closes it through the close callback
  info_ = ov_info(&file_, -1);
  totalSamples_ = std::max<ogg_int64_t>(ov_pcm_total(&file_, -1), 0);
  if (info_ == nullptr || info_->channels < 1) {
    ov_clear(&file_);
    throw EError("\"" + fileName + "\" is not a Ogg bitstream");
  }
  int64_t perPacket = 0;
  for (long link = 0; link < ov_streams(&file_); ++link)
    if (vorbis_info* vi = ov_info(&file_, static_cast<int>(link)))
      perPacket = std::max<int64_t>(perPacket, vorbis_info_blocksize(vi, 1) / 2);
  int64_t damaged = 0;
  totalSamples_ = std::min(totalSamples_, PlausibleSamples(fileName, std::max<int64_t>(perPacket, 1), damaged));
  for (int64_t i = 0; i < damaged; ++i)
    NoteDamage("An Ogg page is damaged (its bytes are no valid page) and is left out");
  if (info_->channels == 7) ChannelMask = 0x70F;  // 6.1 has a back centre
  TOggTag tag;
  if (tag.ReadFromFile(fileName)) {
    TagKinds = tkVorbis;
    Tags = tag.Values;
  }
}

TOggFile::~TOggFile() { ov_clear(&file_); }

uint32_t TOggFile::GetBitRate() { return static_cast<uint32_t>(std::max<long>(info_->bitrate_nominal, 0)); }
uint32_t TOggFile::GetChannels() { return static_cast<uint32_t>(info_->channels); }
uint32_t TOggFile::GetSampleRate() { return static_cast<uint32_t>(std::max<long>(info_->rate, 0)); }
int64_t TOggFile::GetFileSize() { return static_cast<TWFileStream*>(file_.datasource)->Size(); }
int64_t TOggFile::GetPosition() { return SaturatedProduct(ov_pcm_tell(&file_), int64_t{2} * info_->channels); }
int64_t TOggFile::GetPcmSize() { return SaturatedProduct(totalSamples_, int64_t{2} * info_->channels); }

void TOggFile::Seek(int64_t position) { ov_pcm_seek(&file_, std::max<int64_t>(position, 0) / (2 * info_->channels)); }

bool TOggFile::ReadPcm(void* buffer, int32_t& count) {
  auto* out = static_cast<char*>(buffer);
  const int32_t wanted = std::max(count, 0);
  int32_t got = 0;
  for (int holes = 0; got < wanted;) {
    long n = ov_read(&file_, out + got, wanted - got, 0, 2, 1, &bitstream_);
    if (n == OV_HOLE && ++holes < kMaxHolesInARow) {
      // Pages missing or damaged: what follows still plays, after a gap the
      // listener hears; the decode says the file is damaged.
      NoteDamage("Ogg Vorbis data missing or damaged before sample " + std::to_string(ov_pcm_tell(&file_)));
      continue;
    }
    if (n < 0) NoteDamage("Ogg Vorbis stream damaged at sample " + std::to_string(ov_pcm_tell(&file_)));
    if (n <= 0) break;
    holes = 0;
    got += static_cast<int32_t>(n);
  }
  if (const int* order = WaveOrderOf(info_->channels)) {
    const int c = info_->channels;
    int16_t frame[8];
    for (int32_t at = 0; at + 2 * c <= got; at += 2 * c) {
      std::memcpy(frame, out + at, static_cast<size_t>(2 * c));
      for (int i = 0; i < c; ++i) std::memcpy(out + at + 2 * i, &frame[order[i]], 2);
    }
  }
  std::memset(out + got, 0, static_cast<size_t>(wanted - got));
  count = got;
  return got > 0;
}

bool TOggFile::RemoveTags(uint32_t kinds) {
  if (RefusesKinds(kinds)) return false;
  if (!(kinds & tkVorbis)) return true;
  TOggTag tag;
  const bool ok = tag.ReadFromFile(FileName) && tag.RemoveFromFile();
  TagProblem = tag.Problem;
  return ok;
}

bool TOggFile::WriteTags(uint32_t kinds) {
  if (RefusesKinds(kinds)) return false;
  if (!(kinds & tkVorbis)) return true;
  TOggTag tag;
  if (!tag.ReadFromFile(FileName)) {
    TagProblem = "its Vorbis comments cannot be read";
    return false;
  }
  tag.Values = Tags;
  const bool ok = tag.WriteToFile();
  TagProblem = tag.Problem;
  return ok;
}

}  // namespace sdm
