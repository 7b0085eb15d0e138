#include "audio/readers/OggFile.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "audio/tags/U_OggTag.h"

namespace sdm {

namespace {

TWFileStream* StreamOf(void* source) { return static_cast<TWFileStream*>(source); }

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
int64_t TOggFile::GetPosition() { return std::max<ogg_int64_t>(ov_pcm_tell(&file_), 0) * 2 * info_->channels; }
int64_t TOggFile::GetPcmSize() { return totalSamples_ * 2 * info_->channels; }

void TOggFile::Seek(int64_t position) { ov_pcm_seek(&file_, std::max<int64_t>(position, 0) / (2 * info_->channels)); }

bool TOggFile::ReadPcm(void* buffer, int32_t& count) {
  auto* out = static_cast<char*>(buffer);
  const int32_t wanted = std::max(count, 0);
  int32_t got = 0;
  while (got < wanted) {
    long n = ov_read(&file_, out + got, wanted - got, 0, 2, 1, &bitstream_);
    if (n <= 0) break;
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
  if (!(kinds & tkVorbis)) return true;
  TOggTag tag;
  return tag.ReadFromFile(FileName) && tag.RemoveFromFile();
}

bool TOggFile::WriteTags(uint32_t kinds) {
  if (!(kinds & tkVorbis)) return true;
  TOggTag tag;
  if (!tag.ReadFromFile(FileName)) return false;
  tag.Values = Tags;
  return tag.WriteToFile();
}

}  // namespace sdm
