#include "audio/mpeg/U_MpegAudio.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "audio/mpeg/FastMp3Size.h"
#include "audio/mpeg/Layer12Decoder.h"
#include "audio/mpeg/Layer3Decoder.h"
#include "audio/tags/U_ApeTag.h"
#include "audio/tags/U_ID3.h"

namespace sdm {

namespace {
constexpr int64_t kReadBuffer = 64 * 1024;
constexpr int64_t kScanBuffer = 1024 * 1024;
}  // namespace

// ---------------------------------------------------------------- TFrameLoader

TFrameLoader::TFrameLoader(const std::string& fileName) : FileName(fileName) {
  if (!OpenFile(fileName)) throw EError("Invalid MPEG file " + fileName);
}

TFrameLoader::~TFrameLoader() = default;

void TFrameLoader::Reset() {
  IsOpen = false;
  ScanComplete = false;
  FrameLoaded = false;
  FrameCount = 0;
  CurrentFrame = 0;
  TotalMs = 0.0;
  SampleTotal = 0;
  AudioBytes = 0;
  ScannedEnd = 0;
  BitPos = 0;
  frameOffsets_.clear();
  frameLengths_.clear();
  frameEndTimes_.clear();
  Stream.reset();
}

bool TFrameLoader::OpenFile(const std::string& fileName) {
  Reset();
  try {
    Stream = std::make_unique<TWFileStream>(fileName, TWFileStream::ModeRead);
  } catch (const std::exception&) {
    return false;
  }
  // Frame headers and frames are read through a buffer: a few system calls
  // per 64 KiB instead of a seek and reads for every frame.
  Stream->BufferReads(kReadBuffer);
  int64_t size = Stream->Size();
  // Offsets are 32-bit: a larger file is read only as far as they reach.
  AudioBytes = static_cast<uint32_t>(std::clamp<int64_t>(size, 0, 0x7FFFFFFF));
  Stream->SetPosition(0);
  if (!FirstHeader.FindFrame(*Stream, false)) {
    Stream.reset();
    return false;
  }
  IsOpen = true;
  ScanComplete = false;
  // Room for the whole index up front, but a large file of junk whose first
  // "frame" is tiny must not reserve a gigabyte: beyond some hours of audio
  // the lists simply grow.
  constexpr size_t kMaxReserved = 1'000'000;
  size_t capacity = std::min(static_cast<size_t>(size / FirstHeader.FrameLength) + 1, kMaxReserved);
  frameOffsets_.reserve(capacity);
  frameLengths_.reserve(capacity);
  frameEndTimes_.reserve(capacity);
  Append(FirstHeader);
  AudioBytes -= FirstHeader.Offset;
  LoadFrame(0);
  return true;
}

void TFrameLoader::Append(const TMpegHeader& h) {
  frameOffsets_.push_back(h.Offset);
  frameLengths_.push_back(h.FrameLength);
  ScannedEnd = h.Offset + h.FrameLength;
  TotalMs += static_cast<double>(h.FrameMs());
  frameEndTimes_.push_back(static_cast<int32_t>(std::nearbyint(TotalMs)));
  ++FrameCount;
}

void TFrameLoader::Complete() {
  long double k = FirstHeader.Channels() == 1 ? 1 : 2;
  long double samples = static_cast<long double>(TotalMs) * FirstHeader.SampleRate() * k / 1000.0L;
  SampleTotal = static_cast<int64_t>(std::nearbyint(samples));
  ScanComplete = true;
}

void TFrameLoader::ScanAll() {
  if (!IsOpen || ScanComplete) return;
  TWFileStream scan(FileName, TWFileStream::ModeScan);
  // The complete index reads every header of the file: in large blocks.
  scan.BufferReads(kScanBuffer);
  TMpegHeader h;
  while (true) {
    std::lock_guard<std::mutex> guard(lock_);
    if (ScanComplete) return;
    h.Offset = frameOffsets_.back();
    h.FrameLength = frameLengths_.back();
    if (h.FindFrame(scan, true)) {
      Append(h);
    } else {
      Complete();
      return;
    }
  }
}

bool TFrameLoader::LoadFrame(int n) {
  FrameLoaded = false;
  uint32_t offset, length;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (n < 0 || n >= FrameCount || !Stream) return false;
    offset = frameOffsets_[n];
    length = frameLengths_[n];
  }
  // The frame counts as reached even when its header no longer reads back
  // (a file changed under us): the reader then moves on instead of decoding
  // the same position for ever.
  CurrentFrame = n;
  if (CurrentHeader.ReadAt(*Stream, offset)) {
    int want = std::min<int>(static_cast<int>(length) - 4, FrameDataSize);
    int64_t got = Stream->Read(FrameData, want);
    if (got < 0) got = 0;
    std::memset(FrameData + got, 0, FrameDataSize - got);
    BitPos = 0;
    FrameLoaded = true;
  }
  return true;
}

bool TFrameLoader::NextFrame() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!IsOpen) return false;
    while (!ScanComplete && CurrentFrame >= FrameCount - 1) {
      TMpegHeader h;
      h.Offset = frameOffsets_.back();
      h.FrameLength = frameLengths_.back();
      if (h.FindFrame(*Stream, true))
        Append(h);
      else
        Complete();
    }
  }
  return LoadFrame(CurrentFrame + 1);
}

int TFrameLoader::Frames() {
  std::lock_guard<std::mutex> guard(lock_);
  return FrameCount;
}

uint32_t TFrameLoader::FrameOffset(int n) {
  std::lock_guard<std::mutex> guard(lock_);
  return n >= 0 && n < FrameCount ? frameOffsets_[n] : 0;
}

uint32_t TFrameLoader::FrameLengthAt(int n) {
  std::lock_guard<std::mutex> guard(lock_);
  return n >= 0 && n < FrameCount ? frameLengths_[n] : 0;
}

int TFrameLoader::FrameEndTime(int n) {
  std::lock_guard<std::mutex> guard(lock_);
  return n >= 0 && n < FrameCount ? frameEndTimes_[n] : 0;
}

uint32_t TFrameLoader::GetBit() {
  if (BitPos >= FrameDataSize * 8u) return 0;
  uint32_t bit = (FrameData[BitPos >> 3] >> (7 - (BitPos & 7))) & 1u;
  ++BitPos;
  return bit;
}

uint32_t TFrameLoader::GetBits(int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 1 | GetBit();
  return v;
}

void TFrameLoader::CopyBytes(uint8_t* dest, int count) {
  uint32_t start = BitPos >> 3;
  for (int i = 0; i < count; ++i) dest[i] = start + i < FrameDataSize ? FrameData[start + i] : 0;
  BitPos += 8u * count;
}

// ---------------------------------------------------------------------- TMpDec

TMpDec::~TMpDec() = default;

bool TMpDec::OpenDecoder(TFrameLoader* loader) {
  if (loader == nullptr) return false;
  int layer = loader->FirstHeader.LayerCode();
  if (decoder_ && layer == layerCode_) return true;
  decoder_.reset();
  layerCode_ = 3;
  loader_ = loader;
  switch (layer) {
    case 0: decoder_ = std::make_unique<TL1Dec>(*loader); break;
    case 1: decoder_ = std::make_unique<TL2Dec>(*loader); break;
    case 2: decoder_ = std::make_unique<TL3Dec>(*loader); break;
    default: return false;
  }
  if (!decoder_->InitDecoder(0, 24000, 0)) {
    decoder_.reset();
    return false;
  }
  layerCode_ = layer;
  return true;
}

uint32_t TMpDec::GetFrameBytes() const { return decoder_ ? decoder_->OutputBytes : 0; }

bool TMpDec::DecodeFrame(void* buffer) {
  if (busy_ || !decoder_) return false;
  // A frame that could not be loaded or is damaged must not hand stale or
  // uninitialised memory to the caller: it plays as silence.
  std::memset(buffer, 0, decoder_->OutputBytes);
  // Past the last frame the loader's buffer still holds that frame's bytes;
  // decoding them again would replay it instead of ending the stream.
  if (!loader_->FrameLoaded) return true;
  decoder_->DecodeFrame(static_cast<int16_t*>(buffer));
  return true;
}

bool TMpDec::SeekFrame(int n) {
  if (!decoder_) return false;
  busy_ = true;
  decoder_->ResetDecoder();
  bool ok = true;
  if (layerCode_ == 2) {
    for (int k = std::max(0, n - 9); k < n; ++k) {
      ok = loader_->LoadFrame(k);
      if (!ok) break;
      decoder_->DecodeFrame(nullptr);
    }
    if (ok) loader_->SetCurrentFrame(n - 1);
  } else {
    if (n >= 1) ok = loader_->LoadFrame(n - 1);
    if (ok) loader_->SetCurrentFrame(n - 2);
  }
  busy_ = false;
  return ok;
}

// -------------------------------------------------------------- TMpegAudioFile

TMpegAudioFile::TMpegAudioFile(const std::string& fileName) : TAbstractAudioFile(fileName) {
  std::error_code ec;
  auto size = std::filesystem::file_size(fileName, ec);
  FileSizeValue = ec ? 0 : static_cast<int64_t>(size);
  loader_ = std::make_unique<TFrameLoader>(fileName);
  decoder_ = std::make_unique<TMpDec>();
  if (!decoder_->OpenDecoder(loader_.get())) {
    decoder_.reset();
    loader_.reset();
    throw EError("Unable to open the MPEG decoder");
  }
  FrameBytes = decoder_->GetFrameBytes();
  pcmBuffer_.assign(2 * static_cast<size_t>(FrameBytes), 0);
  Remaining = 0;
  ReadTags();
}

TMpegAudioFile::~TMpegAudioFile() = default;

void TMpegAudioFile::ReadTags() {
  TId3V2Tag id3v2;
  TId3V1Tag id3v1;
  TAPEV2Tag ape;
  bool has2 = false, has1 = false, hasApe = false;
  try {
    has2 = id3v2.ReadFromFile(FileName) && id3v2.Present;
    has1 = id3v1.ReadFromFile(FileName) && id3v1.Present;
    hasApe = ape.ReadFromFile(FileName);
  } catch (const std::exception&) {
    // The file was readable a moment ago; tags are a courtesy, not a reason
    // to refuse the audio.
  }
  TagKinds = (has1 ? uint32_t{tkId3v1} : 0u) | (has2 ? uint32_t{tkId3v2} : 0u) | (hasApe ? uint32_t{tkApeV2} : 0u);
  if (has2) Id3v2Size = id3v2.TotalSize;
  if (hasApe && !FindTagValue(ape.Values, "artist").empty())
    Tags = ape.Values;
  else if (has2)
    Tags = id3v2.Values;
  else if (has1)
    Tags = id3v1.Values;
  else if (hasApe)
    Tags = ape.Values;
}

uint32_t TMpegAudioFile::GetChannels() { return loader_->FirstHeader.Channels(); }

uint32_t TMpegAudioFile::GetSampleRate() { return loader_->FirstHeader.SampleRate(); }

int64_t TMpegAudioFile::GetPcmSize() {
  loader_->ScanAll();
  return 2 * loader_->GetTotalSamples();
}

double TMpegAudioFile::GetPlayTime() {
  if (loader_->ScanComplete) {
    double bytesPerSecond = static_cast<double>(GetChannels()) * 2.0 * GetSampleRate();
    return static_cast<double>(GetPcmSize()) / bytesPerSecond / 86400.0;
  }
  TFastMp3size fast(FileName);
  return fast.GetPlayTime();
}

uint32_t TMpegAudioFile::GetBitRate() {
  const uint32_t first = loader_->FirstHeader.BitRate();
  uint64_t sum = first;
  uint64_t count = 1;
  bool allSame = true;
  for (int i = 0; i < 3000; ++i) {
    if (!loader_->NextFrame()) break;
    uint32_t rate = loader_->CurrentHeader.Valid() ? loader_->CurrentHeader.BitRate() : first;
    if (rate != first) allSame = false;
    sum += rate;
    ++count;
    if (i == 51 && allSame) return first;
  }
  return static_cast<uint32_t>(sum / count);
}

// A frame's trouble, counted: what the decoder reported, or junk before it
// (a frame that does not start where the one before ended).
void TMpegAudioFile::NoteFrame(int n) {
  TBaseDecoder* d = decoder_->Decoder();
  if (d != nullptr && !d->LastError.empty()) NoteDamage(d->LastError);
  if (n > 0 && n < loader_->Frames() &&
      loader_->FrameOffset(n) != loader_->FrameOffset(n - 1) + loader_->FrameLengthAt(n - 1))
    NoteDamage("MPEG audio data before frame #" + std::to_string(n) + " is no frame");
}

bool TMpegAudioFile::ReadPcm(void* buffer, int32_t& count) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t wanted = count > 0 ? static_cast<uint32_t>(count) : 0;
  if (wanted <= Remaining) {
    std::memcpy(out, pcmBuffer_.data() + (FrameBytes - Remaining), wanted);
    Remaining -= wanted;
    PcmPos += wanted;
    return true;
  }
  std::memcpy(out, pcmBuffer_.data() + (FrameBytes - Remaining), Remaining);
  out += Remaining;
  wanted -= Remaining;
  PcmPos += Remaining;
  Remaining = 0;
  bool more = true;
  while (wanted > 0) {
    if (wanted > FrameBytes) {
      // The decoders store 16-bit samples: after an odd-sized request the
      // caller's buffer continues at an odd address, so go through PcmBuffer.
      const int frame = loader_->CurrentFrame;
      if (reinterpret_cast<uintptr_t>(out) % alignof(int16_t) == 0) {
        decoder_->DecodeFrame(out);
      } else {
        decoder_->DecodeFrame(pcmBuffer_.data());
        std::memcpy(out, pcmBuffer_.data(), FrameBytes);
      }
      if (more) NoteFrame(frame);
      more = loader_->NextFrame();
      PcmPos += FrameBytes;
      out += FrameBytes;
      wanted -= FrameBytes;
    } else {
      const int frame = loader_->CurrentFrame;
      decoder_->DecodeFrame(pcmBuffer_.data());
      if (more) NoteFrame(frame);
      more = loader_->NextFrame();
      std::memcpy(out, pcmBuffer_.data(), wanted);
      PcmPos += wanted;
      Remaining = FrameBytes - wanted;
      wanted = 0;
    }
  }
  return more;
}

void TMpegAudioFile::Seek(int64_t position) {
  position &= ~int64_t{3};
  if (position == PcmPos) return;
  PcmPos = position;
  const double r = GetSampleRate();
  const double f = loader_->FirstHeader.FrameMs();
  const double c = GetChannels();
  const double bytesPerFrame = r * f * 2.0 * c / 1000.0;
  int64_t n = static_cast<int64_t>(std::trunc(static_cast<double>(position) / bytesPerFrame));
  int64_t offset;
  const int frames = loader_->Frames();
  if (n < 0) {
    n = 0;
    offset = 0;
  } else if (n < frames) {
    int64_t s = static_cast<int64_t>(std::trunc(r * (f * static_cast<double>(n)) * 2.0 * c / 1000.0));
    offset = position - (s & ~int64_t{3});
  } else {
    n = frames - 1;
    offset = FrameBytes;
  }
  offset = std::clamp<int64_t>(offset, 0, FrameBytes);
  // Once the last frame has been decoded the loader holds no frame, so the
  // frame must be loaded again even when it is still the current one.
  if (n != loader_->CurrentFrame || !loader_->FrameLoaded) {
    decoder_->SeekFrame(static_cast<int>(n));
    loader_->LoadFrame(static_cast<int>(n));
  }
  decoder_->DecodeFrame(pcmBuffer_.data());
  loader_->NextFrame();
  Remaining = FrameBytes - static_cast<uint32_t>(offset);
}

}  // namespace sdm
