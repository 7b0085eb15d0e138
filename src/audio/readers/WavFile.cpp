#include "audio/readers/WavFile.h"

#include <algorithm>
#include <cstring>

#include "audio/tags/U_ID3.h"

namespace sdm {

namespace {

void ParseFormat(const uint8_t* b, size_t n, TWaveFormatRecord& f) {
  uint8_t r[18] = {};
  std::memcpy(r, b, std::min<size_t>(n, 18));
  auto u16 = [&](int at) { return static_cast<uint16_t>(r[at] | (r[at + 1] << 8)); };
  auto u32 = [&](int at) { return r[at] | (r[at + 1] << 8) | (r[at + 2] << 16) | (uint32_t{r[at + 3]} << 24); };
  f.FormatTag = u16(0);
  f.Channels = u16(2);
  f.SamplesPerSec = u32(4);
  f.AvgBytesPerSec = u32(8);
  f.BlockAlign = u16(12);
  f.BitsPerSample = u16(14);
  f.ExtraSize = u16(16);
}

}  // namespace

TWavAudioFile::TWavAudioFile(const std::string& fileName) : TAbstractAudioFile(fileName) {
  int64_t walkStart = 0;
  TId3V2Tag id3v2;
  if (id3v2.ReadFromFile(fileName) && id3v2.Present) {
    Tags = id3v2.Values;
    Id3v2Size = id3v2.TotalSize;
    TagKinds |= tkId3v2;
    walkStart = id3v2.TotalSize;
  } else {
    TId3V1Tag id3v1;
    if (id3v1.ReadFromFile(fileName) && id3v1.Present) {
      Tags = id3v1.Values;
      TagKinds |= tkId3v1;
    }
  }

  stream_ = std::make_unique<TWFileStream>(fileName, TWFileStream::ModeRead);
  stream_->SetPosition(walkStart);
  Chunk = std::make_unique<TWaveChunk>();
  const int64_t fileSize = stream_->Size();

  if (!Chunk->ReadHeader(*stream_)) throw EError("Bad .wav format. RIFF chunk not found");
  if (Chunk->ChunkKind != ckRiff) throw EError("Bad .wav format. 1st chunk is not an RIFF chunk");

  bool found = false;
  // Every step moves forward by at least the 8-byte header, so a lying size
  // can neither loop nor make us read more than the file holds.
  while (stream_->Position() < fileSize) {
    Chunk->ReadHeader(*stream_);
    if (!Chunk->Complete) break;
    int64_t here = stream_->Position();
    if (Chunk->ChunkKind == ckFmt) {
      uint8_t rec[18] = {};
      size_t want = std::min<uint32_t>(Chunk->Size, 18);
      size_t got = static_cast<size_t>(stream_->Read(rec, static_cast<int64_t>(want)));
      ParseFormat(rec, got, Format);
      stream_->SetPosition(here + Chunk->Size);
    } else if (Chunk->ChunkKind == ckData) {
      found = true;
      break;
    } else {
      int64_t skip = Chunk->Size;
      if (Chunk->ChunkKind == ckList) skip = std::max<int64_t>(0, skip - 4);
      stream_->SetPosition(here + skip);
    }
  }

  if (Format.FormatTag == 0) throw EError("Bad .wav format. Can't find FMT chunk");
  if (Format.FormatTag != 1) throw EError("Bad .wav format. Only PCM data is supported");
  if (!found) throw EError("Bad .wav format. Can't find audio data");
  stream_->SetPosition(Chunk->DataStart);
}

TWavAudioFile::~TWavAudioFile() = default;

uint32_t TWavAudioFile::GetBitRate() { return Format.Channels * Format.SamplesPerSec * Format.BitsPerSample; }

int64_t TWavAudioFile::GetFileSize() { return stream_->Size(); }

int64_t TWavAudioFile::GetPosition() { return stream_->Position() - Chunk->DataStart; }

int64_t TWavAudioFile::GetPcmSize() {
  const int64_t held = std::max<int64_t>(stream_->Size() - Chunk->DataStart, 0);
  return std::min<int64_t>(Chunk->Size, held);
}

void TWavAudioFile::Seek(int64_t position) {
  // A format record without channels or bits still seeks by bytes rather
  // than dividing by zero.
  int64_t frame = std::max(1, (Format.BitsPerSample * Format.Channels) / 8);
  position = std::max<int64_t>(0, position);
  stream_->SetPosition(Chunk->DataStart + (position / frame) * frame);
}

bool TWavAudioFile::ReadPcm(void* buffer, int32_t& count) {
  if (count <= 0) {
    count = 0;
    return GetPosition() < GetPcmSize();
  }
  // The samples end where the data chunk ends, not at the end of the file:
  // the chunks after it (a LIST of tags) are no sound.
  const int64_t left = std::max<int64_t>(GetPcmSize() - GetPosition(), 0);
  int64_t wanted = count;
  const int64_t got = std::max<int64_t>(stream_->Read(buffer, std::min(wanted, left)), 0);
  if (got < wanted) std::memset(static_cast<uint8_t*>(buffer) + got, 0, static_cast<size_t>(wanted - got));
  count = static_cast<int32_t>(got);
  return got > 0;
}

}  // namespace sdm
