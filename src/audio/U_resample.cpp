#include "audio/U_resample.h"

#include <algorithm>
#include <cstring>
#include <string>


namespace sdm {

namespace {
// Rates beyond this ratio would make the output blocks absurdly large (a
// lying header saying 1 Hz would ask for hundreds of megabytes).
constexpr double kMaxUpFactor = 64.0;
}  // namespace

TRsmpFilter::TRsmpFilter(TAbstractAudioFile* source, uint32_t targetRate, uint32_t targetChannels)
    : TAbstractAudioFile(source->FileName), Source(source), TargetRate(targetRate), TargetChannels(targetChannels) {
  const uint32_t rate = Source->GetSampleRate();
  sourceChannels_ = Source->GetChannels();
  const uint32_t bits = Source->GetBitsPerSample();
  eightBit_ = bits == 8;
  NeedResample = TargetRate != rate;
  NeedChannelChange = TargetChannels != sourceChannels_;
  ToStereo = TargetChannels == 2;
  const double factor = rate ? static_cast<double>(TargetRate) / rate : 0.0;
  // The duration must still be answerable for files we cannot convert, so
  // an unconvertible source only makes ReadPcm refuse.
  supported_ = (sourceChannels_ == 1 || sourceChannels_ == 2) && (bits == 8 || bits == 16) &&
               (TargetChannels == 1 || TargetChannels == 2) && rate > 0 && factor <= kMaxUpFactor;
  if (NeedResample && supported_) {
    Resampler = std::make_unique<TResampler>(false, false, false);
    Resampler->InitChannels(static_cast<int>(sourceChannels_), factor);
    OutBlockBytes = Resampler->OutputBytesFor(InBlockBytes);
    inBuffer_.assign(static_cast<size_t>(2 * InBlockBytes + 32), 0);
    outBuffer_.assign(static_cast<size_t>(OutBlockBytes + 16), 0);
  }
}

TRsmpFilter::~TRsmpFilter() = default;

int64_t TRsmpFilter::ToOutput(int64_t v) {
  if (Resampler) v = static_cast<int64_t>(static_cast<double>(v) * Resampler->Factor());
  if (NeedChannelChange) v = ToStereo ? v * 2 : v / 2;
  if (eightBit_) v *= 2;
  return v;
}

void TRsmpFilter::Seek(int64_t position) {
  if (Resampler) position = static_cast<int64_t>(static_cast<double>(position) / Resampler->Factor());
  if (NeedChannelChange) position = ToStereo ? position / 2 : position * 2;
  if (eightBit_) position /= 2;
  Source->Seek(position);
}

bool TRsmpFilter::ReadWidened(uint8_t* buffer, int32_t& count) {
  if (!eightBit_) return Source->ReadPcm(buffer, count);
  int32_t half = count / 2;
  temp_.resize(static_cast<size_t>(std::max(half, 0)));
  bool more = Source->ReadPcm(temp_.data(), half);
  half = std::clamp(half, 0, count / 2);
  for (int32_t i = 0; i < half; ++i) {
    auto s = static_cast<int16_t>(temp_[static_cast<size_t>(i)] * 256 - 32768);
    std::memcpy(buffer + 2 * i, &s, 2);
  }
  count = half * 2;
  return more;
}

bool TRsmpFilter::ReadResampled(uint8_t* buffer, int32_t& count) {
  const int32_t wanted = count;
  int32_t delivered = 0;
  const int32_t d = static_cast<int32_t>(sourceChannels_) * 2;
  bool result = true;
  auto deliver = [&] {
    int32_t n = std::min(OutRemaining, wanted - delivered);
    std::memcpy(buffer + delivered, outBuffer_.data() + OutOffset, static_cast<size_t>(n));
    delivered += n;
    OutOffset += n;
    OutRemaining -= n;
  };
  deliver();
  while (delivered < wanted) {
    if (CarryBytes < InBlockBytes) {
      int32_t n = InBlockBytes;
      uint8_t* at = inBuffer_.data() + CarryBytes;
      bool more = ReadWidened(at, n);
      if (!more) {
        std::memset(buffer + delivered, 0, static_cast<size_t>(wanted - delivered));
        result = delivered > 0;
        break;
      }
      // A reader that reports a short count without zero-filling must not
      // leave stale bytes in the block.
      n = std::clamp(n, 0, InBlockBytes);
      std::memset(at + n, 0, static_cast<size_t>(InBlockBytes - n));
    } else {
      CarryBytes -= InBlockBytes;
    }
    int inFrames = InBlockBytes / d;
    int outFrames = OutBlockBytes / d;
    const int given = inFrames;
    Resampler->ProcessBlock(inFrames, outFrames, reinterpret_cast<int16_t*>(outBuffer_.data()),
                            reinterpret_cast<const int16_t*>(inBuffer_.data()));
    if (inFrames < given) CarryBytes += d * (given - inFrames);
    // The block loop's own consistency check; its report names the place the
    // program has always named for it.
    if (inFrames > given || CarryBytes < 0 || CarryBytes > 2 * InBlockBytes)
      throw EAssertionFailed("Echec de l'assertion", "U_resample", 1284);
    std::memmove(inBuffer_.data(), inBuffer_.data() + d * inFrames, static_cast<size_t>(CarryBytes));
    OutRemaining = d * outFrames;
    OutOffset = 0;
    deliver();
  }
  count = delivered;
  return result;
}

bool TRsmpFilter::ReadConverted(uint8_t* buffer, int32_t& count) {
  return NeedResample ? ReadResampled(buffer, count) : ReadWidened(buffer, count);
}

bool TRsmpFilter::ReadPcm(void* buffer, int32_t& count) {
  if (!supported_)
    throw EError("Unsupported PCM format: " + std::to_string(Source->GetChannels()) + " channels, " +
                 std::to_string(Source->GetBitsPerSample()) + " bits, " + std::to_string(Source->GetSampleRate()) + " Hz");
  auto* out = static_cast<uint8_t*>(buffer);
  if (count < 0) count = 0;
  if (!NeedChannelChange) return ReadConverted(out, count);
  if (ToStereo) {
    int32_t n = count / 2;
    n -= n % 2;
    temp2_.resize(static_cast<size_t>(n));
    bool more = ReadConverted(temp2_.data(), n);
    n = std::clamp(n, 0, static_cast<int32_t>(temp2_.size())) & ~1;
    for (int32_t i = 0; i < n / 2; ++i) {
      std::memcpy(out + 4 * i, temp2_.data() + 2 * i, 2);
      std::memcpy(out + 4 * i + 2, temp2_.data() + 2 * i, 2);
    }
    count = n * 2;
    return more;
  }
  int32_t n = (count / 2) * 4;
  temp2_.resize(static_cast<size_t>(n));
  bool more = ReadConverted(temp2_.data(), n);
  n = std::clamp(n, 0, static_cast<int32_t>(temp2_.size())) & ~3;
  for (int32_t i = 0; i < n / 4; ++i) {
    int16_t l, r;
    std::memcpy(&l, temp2_.data() + 4 * i, 2);
    std::memcpy(&r, temp2_.data() + 4 * i + 2, 2);
    // Each half truncated toward zero before the sum, so (-3, -3) gives -2.
    auto m = static_cast<int16_t>(l / 2 + r / 2);
    std::memcpy(out + 2 * i, &m, 2);
  }
  count = n / 2;
  return more;
}

}  // namespace sdm
