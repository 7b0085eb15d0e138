#include "avi/ContainerWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstring>

#include "audio/encode/SoundtrackEncoder.h"
#include "platform/vfw/FrameConverter.h"
#include "support/Errors.h"
#include "support/PendingFile.h"

namespace sdm {

namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The encoders print statistics and notes at the default level; library code
// of ours prints nothing, so keep only their errors unless someone chose a
// level already.
void QuietLibraries() {
  static const bool quiet = [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
    return true;
  }();
  (void)quiet;
}

// VP9 splits a frame into tile columns of at least 256 pixels, which its
// threads share; log2 of their number.
int Vp9TileColumns(int width) {
  if (width >= 3840) return 3;
  if (width >= 1920) return 2;
  if (width >= 1280) return 1;
  return 0;
}

}  // namespace

struct TContainerWriter::TState {
  std::unique_ptr<TPendingFile> file;
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVStream* videoStream = nullptr;
  TFrameConverter convert;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  bool converted = false;  // frame holds the last frame handed over, converted
  const uint8_t* lastBits = nullptr;
  int64_t frames = 0;

  std::unique_ptr<TSoundtrackEncoder> sound;
  AVStream* soundStream = nullptr;
  AVPacket* soundPacket = nullptr;  // the next packet of the soundtrack, when soundWaiting
  bool soundWaiting = false;
  bool soundEnded = false;

  ~TState() {
    if (format) {
      if (format->pb) avio_closep(&format->pb);
      avformat_free_context(format);
    }
    avcodec_free_context(&video);
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_packet_free(&soundPacket);
    // The pending file goes last, after its descriptor is closed: unless
    // committed, it takes the unfinished file with it.
    file.reset();
  }
};

TContainerWriter::TContainerWriter(const TContainerSettings& settings) : settings_(settings) {}

TContainerWriter::~TContainerWriter() {
  if (s_) Discard();
}

bool TContainerWriter::Opened() const { return s_ != nullptr; }

int64_t TContainerWriter::FramesWritten() const { return s_ ? s_->frames : 0; }

std::string TContainerWriter::TempPath() const { return s_ && s_->file ? s_->file->TempPath() : std::string(); }

int TContainerWriter::SoundDamagedBlocks() const {
  return s_ && s_->sound ? s_->sound->DamagedBlocks() : soundDamaged_;
}

void TContainerWriter::Fail(const std::string& what, int code) const {
  throw EError("Cannot write \"" + settings_.FileName + "\": " + what + (code < 0 ? " (" + AvError(code) + ")" : ""));
}

int64_t TContainerWriter::SoundSamplesFor(int64_t frames) const {
  const int rate = settings_.Kind == TOutputKind::WebM ? 48000 : 44100;
  return av_rescale(frames, rate, settings_.FramesPerSecond);
}

void TContainerWriter::Open() {
  Free();
  finished_ = false;
  soundDamaged_ = 0;
  QuietLibraries();
  const TContainerSettings& c = settings_;
  const bool mp4 = c.Kind == TOutputKind::Mp4;
  if (!mp4 && c.Kind != TOutputKind::WebM)
    throw EError("Cannot write \"" + c.FileName + "\": the kinds of video that can be written are " +
                 WritableKindsText());
  const char* kind = KindName(c.Kind);
  if (const auto missing = MissingEncoders(c.Kind); !missing.empty())
    throw EError(std::string("Cannot make an ") + kind + " video: the encoder " + missing.front() +
                 " is missing from this system's FFmpeg libraries");
  if (c.Width <= 0 || c.Height <= 0 || c.Width % 2 || c.Height % 2)
    throw EError(std::string("Cannot make an ") + kind + " video of " + std::to_string(c.Width) + " x " +
                 std::to_string(c.Height) + " pixels: width and height must be even");
  if (c.FramesPerSecond <= 0) throw EError("Invalid frame period");

  auto s = std::make_unique<TState>();
  auto fail = [this](const std::string& what, int code) { Fail(what, code); };
  // The video is written beside the output under a name of its own and takes
  // the output's name only when complete.
  s->file = std::make_unique<TPendingFile>(c.FileName);
  if (std::string why; !s->file->Reserve(why)) fail(why, 0);
  const std::string& path = s->file->TempPath();

  int r = avformat_alloc_output_context2(&s->format, nullptr, mp4 ? "mp4" : "webm", path.c_str());
  if (r < 0 || !s->format) fail("no muxer", r);
  // No creation time, no library version and fixed track identifiers: the
  // same video makes the same file.
  s->format->flags |= AVFMT_FLAG_BITEXACT;

  const AVCodec* codec = avcodec_find_encoder_by_name(mp4 ? "libx264" : "libvpx-vp9");
  AVCodecContext* v = s->video = avcodec_alloc_context3(codec);
  if (!v) fail("out of memory", 0);
  v->width = c.Width;
  v->height = c.Height;
  v->pix_fmt = AV_PIX_FMT_YUV420P;
  v->time_base = {1, c.FramesPerSecond};
  v->framerate = {c.FramesPerSecond, 1};
  v->sample_aspect_ratio = {1, 1};
  // A key frame every few seconds: where a player can start or seek to.
  v->gop_size = 5 * c.FramesPerSecond;
  v->thread_count = c.Threads;
  // Made in BT.709 and said so: a player that guesses takes 601 for small
  // frames and 709 for HD, and shifts the colours when it guesses wrong.
  v->color_range = AVCOL_RANGE_MPEG;
  v->colorspace = AVCOL_SPC_BT709;
  v->color_primaries = AVCOL_PRI_BT709;
  v->color_trc = AVCOL_TRC_BT709;
  v->flags |= AV_CODEC_FLAG_BITEXACT;
  if (s->format->oformat->flags & AVFMT_GLOBALHEADER) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (mp4) {
    av_opt_set(v->priv_data, "preset", c.H264.Preset.c_str(), 0);
    av_opt_set_double(v->priv_data, "crf", c.H264.Crf, 0);
  } else {
    // Constant quality (crf with no bit rate), the "good" deadline at the
    // fastest speed that still differs from the next (cpu-used above 5 gives
    // the same bytes in libvpx 1.12), rows encoded in parallel.
    v->bit_rate = 0;
    av_opt_set_int(v->priv_data, "crf", 32, 0);
    av_opt_set(v->priv_data, "deadline", "good", 0);
    av_opt_set_int(v->priv_data, "cpu-used", 5, 0);
    av_opt_set_int(v->priv_data, "row-mt", 1, 0);
    av_opt_set_int(v->priv_data, "tile-columns", Vp9TileColumns(c.Width), 0);
  }
  r = avcodec_open2(v, codec, nullptr);
  if (r < 0)
    throw EError(std::string("Cannot make an ") + kind + " video of " + std::to_string(c.Width) + " x " +
                 std::to_string(c.Height) + " pixels: the encoder " + codec->name + " refused it (" + AvError(r) + ")");

  s->videoStream = avformat_new_stream(s->format, nullptr);
  if (!s->videoStream) fail("out of memory", 0);
  avcodec_parameters_from_context(s->videoStream->codecpar, v);
  s->videoStream->time_base = v->time_base;  // a wish: the muxer chooses its own
  s->videoStream->avg_frame_rate = v->framerate;

  // Whole frames into yuv420p with the BT.709 matrix, colour averaged over
  // each 2 × 2 block from full-resolution input (as the AVI compressors do),
  // in two bands on two threads.
  if (!s->convert.Open(c.Width, c.Height, AV_PIX_FMT_YUV420P,
                       SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_BITEXACT, SWS_CS_ITU709))
    fail("no colour conversion", 0);
  s->frame = av_frame_alloc();
  s->packet = av_packet_alloc();
  s->soundPacket = av_packet_alloc();
  if (!s->frame || !s->packet || !s->soundPacket) fail("out of memory", 0);
  s->frame->format = AV_PIX_FMT_YUV420P;
  s->frame->width = c.Width;
  s->frame->height = c.Height;
  s->frame->color_range = v->color_range;
  s->frame->colorspace = v->colorspace;
  s->frame->color_primaries = v->color_primaries;
  s->frame->color_trc = v->color_trc;
  r = av_frame_get_buffer(s->frame, 0);
  if (r < 0) fail("out of memory", r);

  if (!c.SoundPath.empty()) {
    // Any soundtrack the audio library reads, made exactly as long as the
    // video: AAC-LC at 192 kbit/s for MP4, Opus at 160 kbit/s (which runs at
    // 48 kHz) for WebM. A file that cannot be read fails here, naming it.
    TSoundtrackEncoder::TSettings a;
    a.Encoder = mp4 ? "aac" : "libopus";
    a.BitRate = mp4 ? 192000 : 160000;
    a.SampleRate = mp4 ? 44100 : 48000;
    a.Length = SoundSamplesFor(c.FrameCount);
    s->sound = std::make_unique<TSoundtrackEncoder>(c.SoundPath, a);
    s->soundStream = avformat_new_stream(s->format, nullptr);
    if (!s->soundStream) fail("out of memory", 0);
    avcodec_parameters_from_context(s->soundStream->codecpar, s->sound->Context());
    s->soundStream->time_base = s->sound->Context()->time_base;
  }

  r = avio_open(&s->format->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (r < 0) fail("cannot create the file", r);
  AVDictionary* options = nullptr;
  // The index goes before the data, so that a browser plays the video
  // while it loads.
  if (mp4) av_dict_set(&options, "movflags", "+faststart", 0);
  r = avformat_write_header(s->format, &options);
  av_dict_free(&options);
  if (r < 0) fail("cannot write the header", r);
  s_ = std::move(s);
}

void TContainerWriter::AddFrame(const TDib24& bitmap, bool repeatsPrevious) {
  if (!s_) throw EError("The video file is not open");
  TState& s = *s_;
  const BITMAPINFOHEADER& hdr = bitmap.Header;
  const bool valid = hdr.biBitCount == 24 && hdr.biPlanes == 1 && hdr.biCompression == BI_RGB &&
                     hdr.biWidth == settings_.Width && hdr.biHeight == settings_.Height &&
                     bitmap.Bits.size() >= static_cast<size_t>(bitmap.Stride()) * hdr.biHeight;
  if (!valid)
    throw EError("A frame of " + std::to_string(hdr.biWidth) + " x " + std::to_string(hdr.biHeight) +
                 " pixels does not fit a video of " + std::to_string(settings_.Width) + " x " +
                 std::to_string(settings_.Height));
  const uint8_t* bits = bitmap.Bits.data();
  // A repeated frame is converted already; the encoders copy what they are
  // given, so the same picture can be sent again.
  if (!(repeatsPrevious && s.converted && bits == s.lastBits)) {
    s.converted = false;
    const int r = av_frame_make_writable(s.frame);
    if (r < 0) Fail("out of memory", r);
    s.convert.Convert(bits, bitmap.Stride(), *s.frame);
    s.converted = true;
  }
  s.lastBits = bits;
  s.frame->pts = s.frames;
  const int r = avcodec_send_frame(s.video, s.frame);
  if (r < 0) Fail("the video encoder failed", r);
  ++s.frames;
  DrainVideo();
  // The soundtrack as far as the frames go; the muxer interleaves the two by
  // time, holding the sound back while the video encoder looks ahead.
  WriteSoundUpTo(SoundSamplesFor(s.frames));
}

void TContainerWriter::DrainVideo() {
  TState& s = *s_;
  for (;;) {
    int r = avcodec_receive_packet(s.video, s.packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) Fail("the video encoder failed", r);
    // Every frame lasts one tick of 1 / fps; the encoders leave it unset.
    if (s.packet->duration <= 0) s.packet->duration = 1;
    av_packet_rescale_ts(s.packet, s.video->time_base, s.videoStream->time_base);
    s.packet->stream_index = s.videoStream->index;
    r = av_interleaved_write_frame(s.format, s.packet);
    if (r < 0) Fail(AvError(r));
  }
}

void TContainerWriter::WriteSoundUpTo(int64_t end) {
  TState& s = *s_;
  if (!s.sound) return;
  while (!s.soundEnded) {
    if (!s.soundWaiting) {
      if (!s.sound->NextPacket(s.soundPacket)) {
        s.soundEnded = true;
        break;
      }
      s.soundWaiting = true;
    }
    // A packet that begins after the end waits for the next frame (or, when
    // the job stops there, is left out: the sound ends with the pictures).
    if (s.soundPacket->pts >= end) break;
    s.soundWaiting = false;
    av_packet_rescale_ts(s.soundPacket, s.sound->Context()->time_base, s.soundStream->time_base);
    s.soundPacket->stream_index = s.soundStream->index;
    const int r = av_interleaved_write_frame(s.format, s.soundPacket);
    if (r < 0) Fail(AvError(r));
  }
}

void TContainerWriter::Close() {
  if (!s_) return;
  if (s_->frames == 0) {
    // Nothing to keep: a container without a frame plays nowhere.
    Discard();
    return;
  }
  try {
    TState& s = *s_;
    int r = avcodec_send_frame(s.video, nullptr);
    if (r < 0) Fail("the video encoder failed", r);
    DrainVideo();
    WriteSoundUpTo(SoundSamplesFor(s.frames));
    r = av_write_trailer(s.format);
    if (r < 0) Fail(AvError(r));
    r = avio_closep(&s.format->pb);
    if (r < 0) Fail(AvError(r));
    if (std::string why; !s.file->Commit(why)) Fail(why);
  } catch (...) {
    Discard();
    throw;
  }
  Free();
  finished_ = true;
}

void TContainerWriter::Discard() { Free(); }

void TContainerWriter::Free() {
  if (s_ && s_->sound) soundDamaged_ = s_->sound->DamagedBlocks();
  s_.reset();
}

}  // namespace sdm
