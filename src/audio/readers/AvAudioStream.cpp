#include "audio/readers/AvAudioStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/AudioFileStream.h"

namespace sdm {

namespace {

constexpr int kIoBlock = 1 << 16;
// Sample frames decoded and dropped before a seek target, so a decoder whose
// output depends on the frames before (a synthesis filter, an overlap) has
// settled when the target arrives.
constexpr int64_t kSeekPreroll = 8192;

}  // namespace

// The file as libav reads it. A damaged container can send a demuxer back
// and forth over the same bytes without end: one pass over the file (from
// one open to the next) reads it at most a few times over, then meets its end.
struct TAvIo {
  TWFileStream* file = nullptr;
  int64_t bytesRead = 0;
  int64_t Limit() const { return 16 * file->Size() + (1 << 20); }
};

namespace {

int ReadFromStream(void* opaque, uint8_t* buffer, int size) {
  auto* io = static_cast<TAvIo*>(opaque);
  if (io->bytesRead > io->Limit()) return AVERROR_EOF;
  int64_t n = io->file->Read(buffer, size);
  if (n > 0) io->bytesRead += n;
  return n > 0 ? static_cast<int>(n) : AVERROR_EOF;
}

int64_t SeekInStream(void* opaque, int64_t offset, int whence) {
  auto* file = static_cast<TAvIo*>(opaque)->file;
  if (whence & AVSEEK_SIZE) return file->Size();
  whence &= ~AVSEEK_FORCE;
  int origin = whence == SEEK_CUR ? 1 : whence == SEEK_END ? 2 : 0;
  int64_t r = file->Seek(offset, origin);
  return r < 0 ? AVERROR(EIO) : r;
}

// Damaged files make demuxers and decoders complain on stderr; the readers
// report what matters through their results, and library code of ours prints
// nothing. Other users of libav (the video encoders) keep their messages.
void DropReadingMessages(void* object, int level, const char* format, va_list args) {
  if (object != nullptr) {
    const AVClass* c = *static_cast<const AVClass**>(object);
    const AVClassCategory category = c->get_category ? c->get_category(object) : c->category;
    if (category == AV_CLASS_CATEGORY_DEMUXER || category == AV_CLASS_CATEGORY_DECODER) return;
    // The soundtrack encoders' statistics at the end ("Qavg: ...") are no
    // message for the user; their warnings and errors still are.
    if (category == AV_CLASS_CATEGORY_ENCODER && level > AV_LOG_WARNING &&
        static_cast<const AVCodecContext*>(object)->codec_type == AVMEDIA_TYPE_AUDIO)
      return;
  }
  av_log_default_callback(object, level, format, args);
}

int16_t ClipS16(long v) { return static_cast<int16_t>(std::clamp<long>(v, -32768, 32767)); }

// Errors without a frame between them that end a stream: a file of nothing
// but damage must not keep a read going for ever.
constexpr int kMaxErrorsInARow = 64;

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

int AvDecoderNotFound() { return AVERROR_DECODER_NOT_FOUND; }

void AvQuietReading() {
  static const bool once = [] {
    av_log_set_callback(DropReadingMessages);
    return true;
  }();
  (void)once;
}

bool AvFormatAvailable(const char* demuxer, std::initializer_list<const char*> decoders) {
  if (av_find_input_format(demuxer) == nullptr) return false;
  for (const char* d : decoders)
    if (avcodec_find_decoder_by_name(d) == nullptr) return false;
  return true;
}

void AppendS16(const AVFrame* frame, int channels, float floatScale, std::vector<int16_t>& out) {
  const int n = frame->nb_samples;
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const size_t base = out.size();
  out.resize(base + static_cast<size_t>(n) * channels);
  int16_t* dst = out.data() + base;
  for (int c = 0; c < channels; ++c) {
    for (int i = 0; i < n; ++i) {
      // Planar formats keep each channel in its own plane; packed ones
      // interleave them in the first.
      const int plane = planar ? c : 0;
      const int index = planar ? i : i * channels + c;
      const uint8_t* p = frame->extended_data[plane];
      int16_t v = 0;
      switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8: v = static_cast<int16_t>((p[index] - 128) * 256); break;
        case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(p)[index]; break;
        case AV_SAMPLE_FMT_S32: v = static_cast<int16_t>(reinterpret_cast<const int32_t*>(p)[index] >> 16); break;
        case AV_SAMPLE_FMT_S64: v = static_cast<int16_t>(reinterpret_cast<const int64_t*>(p)[index] >> 48); break;
        case AV_SAMPLE_FMT_FLT: v = ClipS16(std::lrintf(reinterpret_cast<const float*>(p)[index] * floatScale)); break;
        case AV_SAMPLE_FMT_DBL: v = ClipS16(std::lrint(reinterpret_cast<const double*>(p)[index] * floatScale)); break;
        default: break;
      }
      dst[static_cast<size_t>(i) * channels + c] = v;
    }
  }
}

uint32_t ChannelMaskOf(const AVCodecContext* codec) {
  const AVChannelLayout& l = codec->ch_layout;
  if (l.order != AV_CHANNEL_ORDER_NATIVE || l.u.mask > 0x3FFFF) return 0;
  return static_cast<uint32_t>(l.u.mask);
}

TAvAudioStream::TAvAudioStream() { AvQuietReading(); }
TAvAudioStream::~TAvAudioStream() { Close(); }

void TAvAudioStream::Close() {
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
  avformat_close_input(&format_);
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  pending_.clear();
  pendingAt_ = 0;
  flushed_ = ended_ = false;
  discard_ = 0;
  seekTarget_ = -1;
  errorsInARow_ = 0;
  packetsRead_ = packetBytes_ = 0;
}

int TAvAudioStream::OpenContainer(const std::string& fileName, std::initializer_list<const char*> demuxers) {
  fileName_ = fileName;
  accepted_.assign(demuxers.begin(), demuxers.end());
  file_ = std::make_unique<TWFileStream>(fileName, TWFileStream::ModeRead);
  FileSize = file_->Size();
  return OpenFormat();
}

int TAvAudioStream::OpenFormat() {
  int result = AVERROR_INVALIDDATA;
  // Each demuxer named is tried in turn on the file: the reader accepts its
  // own formats only, whatever else libav could make of the bytes.
  for (const std::string& name : accepted_) {
    const AVInputFormat* input = av_find_input_format(name.c_str());
    if (input == nullptr) continue;
    file_->Seek(0, 0);
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBlock));
    if (buffer == nullptr) return AVERROR(ENOMEM);
    ioSource_ = std::make_unique<TAvIo>();
    ioSource_->file = file_.get();
    io_ = avio_alloc_context(buffer, kIoBlock, 0, ioSource_.get(), ReadFromStream, nullptr, SeekInStream);
    if (io_ == nullptr) {
      av_free(buffer);
      return AVERROR(ENOMEM);
    }
    format_ = avformat_alloc_context();
    if (format_ == nullptr) return AVERROR(ENOMEM);
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    result = avformat_open_input(&format_, fileName_.c_str(), input, nullptr);
    if (result >= 0) {
      demuxer_ = name;
      return 0;
    }
    Close();
  }
  return result;
}

int TAvAudioStream::StreamCount() const { return format_ ? static_cast<int>(format_->nb_streams) : 0; }

bool TAvAudioStream::IsAudio(int stream) const {
  return stream >= 0 && stream < StreamCount() && format_->streams[stream]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

int TAvAudioStream::OpenDecoder(int stream) {
  int r = StartDecoder(stream);
  if (r < 0) return r;
  AVStream* st = format_->streams[stream];
  SampleRate = static_cast<uint32_t>(codec_->sample_rate);
  Channels = static_cast<uint32_t>(codec_->ch_layout.nb_channels);
  ChannelMask = ChannelMaskOf(codec_);
  if (SampleRate == 0 || Channels == 0) return AVERROR_INVALIDDATA;
  const AVRational perFrame{1, static_cast<int>(SampleRate)};
  BitRate = format_->bit_rate > 0 ? format_->bit_rate : st->codecpar->bit_rate;
  bool claimed = true;
  if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
    TotalFrames = av_rescale_q(st->duration, st->time_base, perFrame);
  else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
    TotalFrames = av_rescale_q(format_->duration, AV_TIME_BASE_Q, perFrame);
  else
    TotalFrames = CountFrames(), claimed = false;  // starts the file afresh: st is gone
  if (TotalFrames < 0) return static_cast<int>(TotalFrames);
  if (claimed) {
    // A length from a header (FLAC's, ASF's) is the file's word, and a
    // damaged or hostile file may claim hours for seconds of sound: it
    // counts only as far as the packets go, give or take the last of them.
    const int64_t end = DemuxedEnd();  // starts the file afresh too
    if (end == INT64_MIN) return AVERROR(EIO);
    const int64_t slack = SampleRate / 2;
    if (end >= 0 && TotalFrames > end + slack) {
      TotalFrames = end;
      LengthCorrected = true;
    } else if (end < 0) {
      // Packets that carry no times, or a container too damaged to walk:
      // the sound is counted by decoding it through.
      const int64_t counted = CountFrames();
      if (counted < 0) return static_cast<int>(counted);
      if (TotalFrames > counted + slack) {
        TotalFrames = counted;
        LengthCorrected = true;
      }
    }
  }
  if (BitRate <= 0 && TotalFrames > 0)
    BitRate = static_cast<int64_t>(static_cast<double>(FileSize) * 8 * SampleRate / static_cast<double>(TotalFrames));
  return 0;
}

int TAvAudioStream::StartDecoder(int stream) {
  if (!IsAudio(stream)) return AVERROR_STREAM_NOT_FOUND;
  stream_ = stream;
  AVStream* st = format_->streams[stream];
  const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
  if (decoder == nullptr) return AVERROR_DECODER_NOT_FOUND;
  codec_ = avcodec_alloc_context3(decoder);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (codec_ == nullptr || packet_ == nullptr || frame_ == nullptr) return AVERROR(ENOMEM);
  int r = avcodec_parameters_to_context(codec_, st->codecpar);
  if (r < 0) return r;
  codec_->pkt_timebase = st->time_base;
  return avcodec_open2(codec_, decoder, nullptr);
}

// A container that does not tell its length is decoded through once.
int64_t TAvAudioStream::CountFrames() {
  int64_t frames = 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(Channels) * 2 * 4096);
  counting_ = true;
  for (int32_t n; (n = Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;) frames += n / (Channels * 2);
  counting_ = false;
  int r = Restart();
  return r < 0 ? r : frames;
}

int64_t TAvAudioStream::DemuxedEnd() {
  AVStream* st = format_->streams[stream_];
  const AVRational perFrame{1, static_cast<int>(SampleRate)};
  const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  int64_t end = -1;
  // Packets that do not say how long they last (Monkey's Audio's) last as
  // long as the step between packets, the widest met.
  int64_t previous = AV_NOPTS_VALUE, step = 0;
  bool lastUntimed = false;
  bool timed = true;
  // Damage that keeps the demuxer stumbling means no length can be measured.
  for (int errors = 0;;) {
    const int r = ReadPacket();
    if (r == AVERROR_EOF) break;
    if (r < 0 && ++errors >= kMaxErrorsInARow) {
      timed = false;
      break;
    }
    if (r < 0) continue;
    if (packet_->stream_index == stream_) {
      const int64_t pts = packet_->pts, duration = std::max<int64_t>(packet_->duration, 0);
      if (pts == AV_NOPTS_VALUE) {
        timed = false;
      } else {
        if (previous != AV_NOPTS_VALUE && pts > previous) step = std::max(step, pts - previous);
        step = std::max(step, duration);
        previous = pts;
        if (pts + duration - start >= end) {
          end = pts + duration - start;
          lastUntimed = duration == 0;
        }
      }
    }
    av_packet_unref(packet_);
  }
  if (lastUntimed) end += step;
  // A stream whose packets do not all say when they start cannot be measured.
  const int64_t frames = timed && end >= 0 ? av_rescale_q(end, st->time_base, perFrame) : -1;
  return Restart() < 0 ? INT64_MIN : frames;
}

// A damaged container can make a demuxer hand out packets without end (or
// go back to where it was): no file holds more packets than it has bytes.
int TAvAudioStream::ReadPacket() {
  if (++packetsRead_ > FileSize + 1024 || packetBytes_ > 2 * FileSize + (1 << 20)) {
    Damage("The packets of " + fileName_ + " do not end; the rest of it is left out");
    return AVERROR_EOF;
  }
  const int r = av_read_frame(format_, packet_);
  if (r >= 0) packetBytes_ += packet_->size;
  return r;
}

void TAvAudioStream::Damage(const std::string& what) {
  if (!counting_ && OnDamage) OnDamage(what);
}

int TAvAudioStream::Restart() {
  Close();
  int r = OpenFormat();
  if (r >= 0) r = StartDecoder(stream_);
  if (r < 0) Close();  // reads then find nothing rather than half a decoder
  FramePosition = 0;
  return r;
}

bool TAvAudioStream::DecodeNext() {
  while (!ended_) {
    int r = avcodec_receive_frame(codec_, frame_);
    if (r == 0) {
      int64_t skip = discard_;
      if (seekTarget_ >= 0) {
        // The first frame after a seek tells where the decoder landed.
        AVStream* st = format_->streams[stream_];
        int64_t pts = frame_->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) {
          av_frame_unref(frame_);
          ended_ = true;  // Restart below starts over from the beginning
          return false;
        }
        if (st->start_time != AV_NOPTS_VALUE) pts -= st->start_time;
        const int64_t at = av_rescale_q(pts, st->time_base, AVRational{1, static_cast<int>(SampleRate)});
        skip = seekTarget_ - at;
        seekTarget_ = -1;
        seekFailed_ = skip < 0;
        if (skip < 0) {
          av_frame_unref(frame_);
          ended_ = true;
          return false;
        }
      }
      const size_t base = pending_.size();
      if (frame_->ch_layout.nb_channels == static_cast<int>(Channels)) {
        AppendS16(frame_, static_cast<int>(Channels), 32768.0f, pending_);
      } else {
        // A frame of another layout cannot join the stream; its time passes
        // as silence so later samples keep their places.
        pending_.resize(base + static_cast<size_t>(frame_->nb_samples) * Channels, 0);
      }
      const int64_t frames = frame_->nb_samples;
      av_frame_unref(frame_);
      errorsInARow_ = 0;
      const int64_t dropped = std::min(skip, frames);
      discard_ = skip - dropped;
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(base),
                     pending_.begin() + static_cast<std::ptrdiff_t>(base + static_cast<size_t>(dropped) * Channels));
      if (pending_.size() > pendingAt_) return true;
      continue;
    }
    if (r == AVERROR_EOF || (r == AVERROR(EAGAIN) && flushed_)) {
      ended_ = true;
      return false;
    }
    if (r != AVERROR(EAGAIN)) {
      // A frame the decoder could not make: left out, and said; the decoder
      // goes on with the next (unless nothing but errors comes).
      Damage("A damaged frame of " + fileName_ + " is left out (" + AvErrorText(r) + ")");
      if (++errorsInARow_ >= kMaxErrorsInARow) {
        ended_ = true;
        return false;
      }
      continue;
    }
    r = ReadPacket();
    if (r == AVERROR_EOF || (r < 0 && ++errorsInARow_ >= kMaxErrorsInARow)) {
      avcodec_send_packet(codec_, nullptr);
      flushed_ = true;
      continue;
    }
    if (r < 0) {
      // The container is damaged here: the demuxer goes on after it.
      Damage("A damaged stretch of " + fileName_ + " is left out (" + AvErrorText(r) + ")");
      continue;
    }
    // A damaged packet is left out; the decoder goes on with the next.
    if (packet_->stream_index == stream_) {
      const int sent = avcodec_send_packet(codec_, packet_);
      if (sent < 0 && sent != AVERROR(EAGAIN)) {
        Damage("A damaged packet of " + fileName_ + " is left out (" + AvErrorText(sent) + ")");
        ++errorsInARow_;
      }
    }
    av_packet_unref(packet_);
  }
  return false;
}

int32_t TAvAudioStream::Read(uint8_t* out, int32_t bytes) {
  const int32_t frameBytes = static_cast<int32_t>(Channels) * 2;
  if (codec_ == nullptr || frameBytes == 0 || bytes < frameBytes) return 0;
  int64_t frames = bytes / frameBytes;
  if (StopAtTotal) frames = std::clamp<int64_t>(TotalFrames - FramePosition, 0, frames);
  const size_t wanted = static_cast<size_t>(frames) * Channels;
  size_t done = 0;
  while (done < wanted) {
    if (pendingAt_ == pending_.size()) {
      pending_.clear();
      pendingAt_ = 0;
      if (!DecodeNext()) {
        if (seekFailed_ && SeekByDecoding()) continue;
        break;
      }
    }
    const size_t n = std::min(wanted - done, pending_.size() - pendingAt_);
    std::memcpy(out + 2 * done, pending_.data() + pendingAt_, 2 * n);
    done += n;
    pendingAt_ += n;
  }
  FramePosition += static_cast<int64_t>(done / Channels);
  return static_cast<int32_t>(done * 2);
}

void TAvAudioStream::SeekFrame(int64_t frame) {
  if (codec_ == nullptr) return;
  frame = std::max<int64_t>(frame, 0);
  if (ExactSeek) {
    AVStream* st = format_->streams[stream_];
    const int64_t from = std::max<int64_t>(frame - kSeekPreroll, 0);
    int64_t ts = av_rescale_q(from, AVRational{1, static_cast<int>(SampleRate)}, st->time_base);
    if (st->start_time != AV_NOPTS_VALUE) ts += st->start_time;
    if (av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD) >= 0) {
      avcodec_flush_buffers(codec_);
      pending_.clear();
      pendingAt_ = 0;
      flushed_ = ended_ = false;
      discard_ = 0;
      seekTarget_ = frame;
      seekFailed_ = true;  // until the first frame shows where we are
      FramePosition = frame;
      target_ = frame;
      return;
    }
  }
  target_ = frame;
  SeekByDecoding();
}

// The sure way: from the start (or from here, when the target lies ahead),
// decode and drop until the target.
bool TAvAudioStream::SeekByDecoding() {
  seekFailed_ = false;
  const int64_t buffered = static_cast<int64_t>((pending_.size() - pendingAt_) / std::max<uint32_t>(Channels, 1));
  const bool ahead = !ended_ && seekTarget_ < 0 && target_ >= FramePosition;
  if (ahead) {
    // Drop what is buffered first, then what is still to decode.
    const int64_t skip = target_ - FramePosition;
    const int64_t fromBuffer = std::min(skip, buffered);
    pendingAt_ += static_cast<size_t>(fromBuffer) * Channels;
    discard_ = skip - fromBuffer;
  } else {
    if (Restart() < 0) {
      ended_ = true;
      return false;
    }
    discard_ = target_;
  }
  FramePosition = target_;
  return true;
}

// --------------------------------------------------------------- TAvAudioReader

int TAvAudioReader::OpenAudio(int stream) {
  int r = Av.OpenDecoder(stream);
  ChannelMask = Av.ChannelMask;
  return r;
}

void TAvAudioReader::Seek(int64_t position) {
  if (FrameBytes() > 0) Av.SeekFrame(position / FrameBytes());
}

bool TAvAudioReader::ReadPcm(void* buffer, int32_t& count) {
  count = count > 0 ? Av.Read(static_cast<uint8_t*>(buffer), count) : 0;
  return count > 0;
}

}  // namespace sdm
