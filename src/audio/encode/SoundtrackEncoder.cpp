#include "audio/encode/SoundtrackEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "audio/SoundFileKind.h"
#include "audio/filters/FormatFilter.h"
#include "audio/readers/AvAudioStream.h"

namespace sdm {

namespace {

// What the facade's chain delivers.
constexpr int kSourceRate = 44100;
constexpr int kSourceFrameBytes = 4;  // 16-bit stereo
constexpr int32_t kBlockBytes = 4096 * kSourceFrameBytes;
// Samples already encoded are dropped from the front of the pending buffers
// once there are this many, so memory stays flat whatever the length.
constexpr size_t kCompactAt = 1 << 16;

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The encoder's sample format, preferring what our float samples convert to
// most simply; every encoder we use takes one of the float formats.
AVSampleFormat ChooseSampleFormat(const AVCodec* codec) {
  const AVSampleFormat preferred[] = {AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S16};
  if (codec->sample_fmts == nullptr) return AV_SAMPLE_FMT_FLTP;
  for (AVSampleFormat want : preferred)
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
      if (*f == want) return want;
  return AV_SAMPLE_FMT_NONE;
}

bool RateSupported(const AVCodec* codec, int rate) {
  if (codec->supported_samplerates == nullptr) return true;
  for (const int* r = codec->supported_samplerates; *r != 0; ++r)
    if (*r == rate) return true;
  return false;
}

int16_t ToS16(float v) { return static_cast<int16_t>(std::lrintf(std::clamp(v, -1.0f, 1.0f) * 32767.0f)); }

}  // namespace

TSoundtrackEncoder::TSoundtrackEncoder(const std::string& soundPath, const TSettings& settings)
    : path_(soundPath), settings_(settings) {
  // A constructor that throws runs no destructor: what it made goes here.
  try {
    Start();
  } catch (...) {
    Release();
    throw;
  }
}

void TSoundtrackEncoder::Release() {
  swr_free(&swr_);
  av_frame_free(&frame_);
  avcodec_free_context(&codec_);
}

void TSoundtrackEncoder::Start() {
  AvQuietReading();
  const AVCodec* encoder = avcodec_find_encoder_by_name(settings_.Encoder.c_str());
  if (encoder == nullptr || encoder->type != AVMEDIA_TYPE_AUDIO)
    throw EError("The audio encoder \"" + settings_.Encoder +
                 "\" is not available in this FFmpeg build: the soundtrack \"" + path_ + "\" cannot be encoded.");
  const AVSampleFormat format = ChooseSampleFormat(encoder);
  if (format == AV_SAMPLE_FMT_NONE || settings_.SampleRate <= 0 || !RateSupported(encoder, settings_.SampleRate))
    throw EError("The audio encoder \"" + settings_.Encoder + "\" does not take stereo at " +
                 std::to_string(settings_.SampleRate) + " Hz.");

  OpenSoundFile(audio_, path_);

  codec_ = avcodec_alloc_context3(encoder);
  frame_ = av_frame_alloc();
  if (codec_ == nullptr || frame_ == nullptr) throw std::bad_alloc();
  codec_->sample_fmt = format;
  codec_->sample_rate = settings_.SampleRate;
  codec_->bit_rate = settings_.BitRate;
  codec_->time_base = AVRational{1, settings_.SampleRate};
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  av_channel_layout_copy(&codec_->ch_layout, &stereo);
  if (const int r = avcodec_open2(codec_, encoder, nullptr); r < 0)
    throw EError("The audio encoder \"" + settings_.Encoder + "\" cannot be opened: " + AvErrorText(r));
  frameSize_ = codec_->frame_size > 0 ? codec_->frame_size : 1024;

  frame_->format = format;
  frame_->nb_samples = frameSize_;
  av_channel_layout_copy(&frame_->ch_layout, &stereo);
  frame_->sample_rate = settings_.SampleRate;
  if (av_frame_get_buffer(frame_, 0) < 0) throw std::bad_alloc();

  if (swr_alloc_set_opts2(&swr_, &stereo, AV_SAMPLE_FMT_FLTP, settings_.SampleRate, &stereo, AV_SAMPLE_FMT_S16,
                          kSourceRate, 0, nullptr) < 0 ||
      swr_init(swr_) < 0)
    throw EError("The soundtrack \"" + path_ + "\" cannot be converted to " + std::to_string(settings_.SampleRate) +
                 " Hz.");
  block_.resize(kBlockBytes);
  // The first block now: a file the reader opens but cannot decode fails
  // here, before any video is made, rather than half-way through the job.
  ReadSource();
}

TSoundtrackEncoder::~TSoundtrackEncoder() { Release(); }

int TSoundtrackEncoder::DamagedBlocks() const {
  return audio_.Reader ? static_cast<int>(std::min<int64_t>(audio_.Reader->DamagedBlocks, INT32_MAX)) : 0;
}

double TSoundtrackEncoder::Progress() const {
  if (settings_.Length > 0) return std::clamp(static_cast<double>(converted_) / settings_.Length, 0.0, 1.0);
  if (sourceEnded_) return 1.0;
  const int64_t size = audio_.Reader->GetPcmSize();
  if (size <= 0) return 0.0;
  return std::clamp(static_cast<double>(audio_.Reader->GetPosition()) / static_cast<double>(size), 0.0, 1.0);
}

std::string TSoundtrackEncoder::SourceKind() const { return FormatKindName(audio_.Reader->GetFormatKind()); }

bool TSoundtrackEncoder::ReadSource() {
  if (sourceEnded_ || lengthReached_) return false;
  int32_t n = kBlockBytes;
  bool more;
  try {
    more = audio_.Filter->ReadPcm(block_.data(), n);
  } catch (const std::exception& e) {
    throw EError("Cannot read the soundtrack \"" + path_ + "\": " + e.what());
  }
  n = std::clamp(n, 0, kBlockBytes) / kSourceFrameBytes;
  // Room for the converted block and, at the end, the converter's tail.
  const int room = swr_get_out_samples(swr_, n) + 64;
  const size_t base = pending_[0].size();
  for (auto& channel : pending_) channel.resize(base + static_cast<size_t>(room));
  uint8_t* out[2] = {reinterpret_cast<uint8_t*>(pending_[0].data() + base),
                     reinterpret_cast<uint8_t*>(pending_[1].data() + base)};
  const uint8_t* in[1] = {block_.data()};
  int got = n > 0 ? swr_convert(swr_, out, room, in, n) : 0;
  if (got < 0) got = 0;
  if (!more || n == 0) {
    sourceEnded_ = true;
    uint8_t* tail[2] = {out[0] + sizeof(float) * static_cast<size_t>(got),
                        out[1] + sizeof(float) * static_cast<size_t>(got)};
    const int rest = swr_convert(swr_, tail, room - got, nullptr, 0);
    if (rest > 0) got += rest;
  }
  for (auto& channel : pending_) channel.resize(base + static_cast<size_t>(got));
  converted_ += got;
  if (settings_.Length >= 0 && converted_ >= settings_.Length) {
    // The music goes on past the video: cut it there, faded out.
    const int64_t over = converted_ - settings_.Length;
    for (auto& channel : pending_) channel.resize(channel.size() - static_cast<size_t>(over));
    converted_ = settings_.Length;
    lengthReached_ = true;
    sourceEnded_ = false;
    ApplyFade();
  }
  return true;
}

// Over the last second before the cut (or the whole result when shorter),
// a raised-cosine fade from full level to silence.
void TSoundtrackEncoder::ApplyFade() {
  const int64_t length = settings_.Length;
  const int64_t fade = std::min<int64_t>(settings_.SampleRate, length);
  for (int64_t i = length - fade; i < length; ++i) {
    const int64_t at = static_cast<int64_t>(pendingAt_) + (i - sent_);
    if (at < 0) continue;  // never: the fade's samples are held back until now
    const double k = static_cast<double>(i - (length - fade)) / static_cast<double>(fade);
    const auto gain = static_cast<float>(0.5 * (1.0 + std::cos(M_PI * k)));
    for (auto& channel : pending_) channel[static_cast<size_t>(at)] *= gain;
  }
}

bool TSoundtrackEncoder::FillFrame() {
  const int64_t length = settings_.Length;
  const int64_t fade = length >= 0 ? std::min<int64_t>(settings_.SampleRate, length) : 0;
  for (;;) {
    const int64_t available = static_cast<int64_t>(pending_[0].size() - pendingAt_);
    const bool decided = sourceEnded_ || lengthReached_;
    // Until we know whether the music reaches the cut, the last second before
    // it waits: it may still have to be faded.
    const int64_t usable = length < 0 || decided ? available : std::clamp<int64_t>(length - fade - sent_, 0, available);
    if (usable >= frameSize_) return true;
    if (!decided) {
      ReadSource();
      continue;
    }
    if (length >= 0 && converted_ < length) {
      // The music ended first: silence up to the length, a frame at a time.
      const int64_t add = std::min<int64_t>(frameSize_, length - converted_);
      for (auto& channel : pending_) channel.resize(channel.size() + static_cast<size_t>(add), 0.0f);
      converted_ += add;
      continue;
    }
    return available > 0;
  }
}

void TSoundtrackEncoder::SendFrame(int samples) {
  if (av_frame_make_writable(frame_) < 0) throw std::bad_alloc();
  frame_->nb_samples = samples;
  const float* l = pending_[0].data() + pendingAt_;
  const float* r = pending_[1].data() + pendingAt_;
  switch (static_cast<AVSampleFormat>(frame_->format)) {
    case AV_SAMPLE_FMT_FLTP:
      std::memcpy(frame_->data[0], l, sizeof(float) * static_cast<size_t>(samples));
      std::memcpy(frame_->data[1], r, sizeof(float) * static_cast<size_t>(samples));
      break;
    case AV_SAMPLE_FMT_FLT: {
      auto* out = reinterpret_cast<float*>(frame_->data[0]);
      for (int i = 0; i < samples; ++i) out[2 * i] = l[i], out[2 * i + 1] = r[i];
      break;
    }
    case AV_SAMPLE_FMT_S16P: {
      auto* outL = reinterpret_cast<int16_t*>(frame_->data[0]);
      auto* outR = reinterpret_cast<int16_t*>(frame_->data[1]);
      for (int i = 0; i < samples; ++i) outL[i] = ToS16(l[i]), outR[i] = ToS16(r[i]);
      break;
    }
    default: {
      auto* out = reinterpret_cast<int16_t*>(frame_->data[0]);
      for (int i = 0; i < samples; ++i) out[2 * i] = ToS16(l[i]), out[2 * i + 1] = ToS16(r[i]);
      break;
    }
  }
  frame_->pts = sent_;
  if (const int e = avcodec_send_frame(codec_, frame_); e < 0)
    throw EError("Encoding the soundtrack \"" + path_ + "\" failed: " + AvErrorText(e));
  sent_ += samples;
  pendingAt_ += static_cast<size_t>(samples);
  if (pendingAt_ >= kCompactAt) {
    for (auto& channel : pending_)
      channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(pendingAt_));
    pendingAt_ = 0;
  }
}

bool TSoundtrackEncoder::NextPacket(AVPacket* pkt) {
  for (;;) {
    if (drained_) return false;
    const int r = avcodec_receive_packet(codec_, pkt);
    if (r == 0) return true;
    if (r == AVERROR_EOF) {
      drained_ = true;
      return false;
    }
    if (r != AVERROR(EAGAIN)) throw EError("Encoding the soundtrack \"" + path_ + "\" failed: " + AvErrorText(r));
    if (flushed_) {
      drained_ = true;
      return false;
    }
    if (FillFrame()) {
      const int64_t available = static_cast<int64_t>(pending_[0].size() - pendingAt_);
      SendFrame(static_cast<int>(std::min<int64_t>(available, frameSize_)));
      continue;
    }
    avcodec_send_frame(codec_, nullptr);
    flushed_ = true;
  }
}

}  // namespace sdm
