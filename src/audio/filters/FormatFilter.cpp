#include "audio/filters/FormatFilter.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace sdm {

namespace {
// Rates beyond this ratio would make the output blocks absurdly large (a
// lying header saying 1 Hz would ask for hundreds of megabytes).
constexpr double kMaxUpFactor = 64.0;

// The WAVE speaker positions a channel mask can name.
constexpr int kSpeakerBits = 18;

// The mask of the usual layout for a channel count (the conventional WAVE
// layouts: 3.0, quad, 5.0, 5.1, 6.1, 7.1).
uint32_t DefaultChannelMask(uint32_t channels) {
  switch (channels) {
    case 3: return 0x7;
    case 4: return 0x33;
    case 5: return 0x37;
    case 6: return 0x3F;
    case 7: return 0x13F;
    case 8: return 0x63F;
    default: return 0;
  }
}

// Down-mix weights of ITU-R BS.775 in 14-bit fixed point: the fronts go to
// their side at full level, the centre and the surrounds at -3 dB, a centre
// surround at -3 dB into both surrounds (-6 dB per side), the LFE nowhere.
constexpr int32_t kFull = 16384, kHalfPower = 11585, kQuarterPower = 8192;
void SpeakerWeights(int bit, int32_t& left, int32_t& right) {
  switch (bit) {
    case 0:
    case 6: left = kFull, right = 0; break;  // front left, front left of centre
    case 1:
    case 7: left = 0, right = kFull; break;    // front right, front right of centre
    case 2: left = right = kHalfPower; break;  // front centre
    case 3: left = right = 0; break;           // low frequencies
    case 4:
    case 9:
    case 12:
    case 15: left = kHalfPower, right = 0; break;  // back, side and top left
    case 5:
    case 10:
    case 14:
    case 17: left = 0, right = kHalfPower; break;  // back, side and top right
    default: left = right = kQuarterPower; break;  // back centre and top centres
  }
}
}  // namespace

TRsmpFilter::TRsmpFilter(TAbstractAudioFile* source, uint32_t targetRate, uint32_t targetChannels)
    : TAbstractAudioFile(source->FileName), Source(source), TargetRate(targetRate), TargetChannels(targetChannels) {
  const uint32_t rate = Source->GetSampleRate();
  sourceChannels_ = Source->GetChannels();
  const uint32_t bits = Source->GetBitsPerSample();
  eightBit_ = bits == 8;
  NeedResample = TargetRate != rate;
  ToStereo = TargetChannels == 2;
  const double factor = rate ? static_cast<double>(TargetRate) / rate : 0.0;
  // The duration must still be answerable for files we cannot convert, so
  // an unconvertible source only makes ReadPcm refuse.
  supported_ = sourceChannels_ >= 1 && sourceChannels_ <= kSpeakerBits && (bits == 8 || bits == 16) &&
               (TargetChannels == 1 || TargetChannels == 2) && rate > 0 && factor <= kMaxUpFactor;
  // Five-channel films and six-channel AC-3 are common: more than two
  // channels are mixed to stereo first, and the rest of the chain sees that.
  mixChannels_ = std::min<uint32_t>(sourceChannels_, 2);
  NeedChannelChange = TargetChannels != mixChannels_;
  if (sourceChannels_ > 2 && supported_) {
    uint32_t mask = Source->ChannelMask ? Source->ChannelMask : DefaultChannelMask(sourceChannels_);
    for (int bit = 0; bit < kSpeakerBits && mixLeft_.size() < sourceChannels_; ++bit) {
      if (!(mask & (1u << bit))) continue;
      int32_t l = 0, r = 0;
      SpeakerWeights(bit, l, r);
      mixLeft_.push_back(l);
      mixRight_.push_back(r);
    }
    // Channels the mask does not place are left out rather than guessed.
    mixLeft_.resize(sourceChannels_, 0);
    mixRight_.resize(sourceChannels_, 0);
  }
  if (NeedResample && supported_) {
    Resampler = std::make_unique<TResampler>(false, false, false);
    Resampler->InitChannels(static_cast<int>(mixChannels_), factor);
    OutBlockBytes = Resampler->OutputBytesFor(InBlockBytes);
    inBuffer_.assign(static_cast<size_t>(2 * InBlockBytes + 32), 0);
    outBuffer_.assign(static_cast<size_t>(OutBlockBytes + 16), 0);
  }
}

TRsmpFilter::~TRsmpFilter() = default;

int64_t TRsmpFilter::ToMixed(int64_t v) const { return sourceChannels_ > 2 ? v / sourceChannels_ * 2 : v; }

namespace {
// A size or position scaled by a factor, kept within [0, INT64_MAX], so a
// lying header can neither overflow nor turn negative.
int64_t Scaled(int64_t v, double factor) {
  const double r = static_cast<double>(v) * factor;
  if (!(r > 0)) return 0;
  if (r >= 9.2e18) return INT64_MAX;
  return static_cast<int64_t>(r);
}
}  // namespace

int64_t TRsmpFilter::ToOutput(int64_t v) {
  v = ToMixed(std::max<int64_t>(v, 0));
  if (Resampler) v = Scaled(v, Resampler->Factor());
  if (NeedChannelChange) v = ToStereo ? Scaled(v, 2) : v / 2;
  if (eightBit_) v = Scaled(v, 2);
  // Whole sample frames of the output.
  const int64_t d = static_cast<int64_t>(TargetChannels) * 2;
  return d > 0 ? v / d * d : v;
}

void TRsmpFilter::Seek(int64_t position) {
  double factor = 1.0;
  if (Resampler) factor /= Resampler->Factor();
  if (NeedChannelChange) factor *= ToStereo ? 0.5 : 2.0;
  if (eightBit_) factor /= 2;
  position = Scaled(position, factor);
  if (sourceChannels_ > 2) position = Scaled(position / 2, sourceChannels_);
  Source->Seek(position);
  sourceEnded_ = false;
  if (Resampler) {
    const int64_t d = mixChannels_ * 2;
    sourceRead_ = Scaled(ToMixed(Source->GetPosition()), eightBit_ ? 2 : 1);
    resampledPos_ = Scaled(sourceRead_, Resampler->Factor()) / d * d;
  }
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

bool TRsmpFilter::ReadMixed(uint8_t* buffer, int32_t& count) {
  if (sourceChannels_ <= 2) return ReadWidened(buffer, count);
  const int32_t frames = count / 4;
  const int32_t inFrameBytes = static_cast<int32_t>(sourceChannels_) * 2;
  int32_t n = frames * inFrameBytes;
  temp3_.resize(static_cast<size_t>(n));
  bool more = ReadWidened(temp3_.data(), n);
  const int32_t got = std::clamp(n, 0, frames * inFrameBytes) / inFrameBytes;
  for (int32_t f = 0; f < got; ++f) {
    const uint8_t* in = temp3_.data() + static_cast<size_t>(f) * inFrameBytes;
    int64_t l = 0, r = 0;
    for (uint32_t c = 0; c < sourceChannels_; ++c) {
      int16_t v;
      std::memcpy(&v, in + 2 * c, 2);
      l += static_cast<int64_t>(mixLeft_[c]) * v;
      r += static_cast<int64_t>(mixRight_[c]) * v;
    }
    // A loud centre on top of loud fronts exceeds full scale: clip, never wrap.
    auto out = [](int64_t sum) { return static_cast<int16_t>(std::clamp<int64_t>((sum + 8192) >> 14, -32768, 32767)); };
    int16_t lr[2] = {out(l), out(r)};
    std::memcpy(buffer + 4 * f, lr, 4);
  }
  count = got * 4;
  return more;
}

bool TRsmpFilter::ReadResampled(uint8_t* buffer, int32_t& count) {
  const int32_t wanted = count;
  int32_t delivered = 0;
  const int32_t d = static_cast<int32_t>(mixChannels_) * 2;
  bool result = true;
  auto deliver = [&] {
    int32_t n = std::min(OutRemaining, wanted - delivered);
    // Past the source's end the converter yields its tail and then silence;
    // the tail counts up to where the source's own length ends.
    if (sourceEnded_) n = static_cast<int32_t>(std::clamp<int64_t>(resampledEnd_ - resampledPos_, 0, n));
    std::memcpy(buffer + delivered, outBuffer_.data() + OutOffset, static_cast<size_t>(n));
    delivered += n;
    OutOffset += n;
    OutRemaining -= n;
    resampledPos_ += n;
  };
  deliver();
  while (delivered < wanted) {
    if (sourceEnded_ && resampledPos_ >= resampledEnd_) {
      std::memset(buffer + delivered, 0, static_cast<size_t>(wanted - delivered));
      result = delivered > 0;
      break;
    }
    if (CarryBytes < InBlockBytes) {
      int32_t n = 0;
      uint8_t* at = inBuffer_.data() + CarryBytes;
      if (!sourceEnded_) {
        // Some readers deliver less than asked while they go on (one decoded
        // packet at a time): fill the block, so no gap of silence is played
        // into the middle of the music.
        bool more = true;
        while (more && n < InBlockBytes) {
          int32_t got = InBlockBytes - n;
          more = ReadMixed(at + n, got);
          got = std::clamp(got, 0, InBlockBytes - n);
          n += got;
          if (got == 0) break;
        }
        sourceRead_ += n;
        if (!more || n < InBlockBytes) {
          // The output ends where the samples the source really gave end,
          // converted, in whole sample frames: not where its header says it
          // would, which a damaged or lying file puts hours later. A reader
          // that fills its last request whole (the MPEG reader) ends at its
          // length instead.
          sourceEnded_ = true;
          const int64_t length = Scaled(ToMixed(Source->GetPcmSize()), eightBit_ ? 2 : 1);
          const int64_t end = Scaled(std::min(sourceRead_, length), Resampler->Factor()) / d * d;
          resampledEnd_ = std::max<int64_t>(end, resampledPos_);
        }
      }
      // After the end, silence pushes the converter's tail out.
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
  return NeedResample ? ReadResampled(buffer, count) : ReadMixed(buffer, count);
}

bool TRsmpFilter::ReadPcm(void* buffer, int32_t& count) {
  if (!supported_)
    throw EError("Unsupported PCM format: " + std::to_string(Source->GetChannels()) + " channels, " +
                 std::to_string(Source->GetBitsPerSample()) + " bits, " + std::to_string(Source->GetSampleRate()) +
                 " Hz");
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
