// The compressors behind the VfW calls. Each entry of the catalogue names the
// FourCC it answers to, the libavcodec encoders that can do the work (the
// first one present wins), the pixel format the encoder is fed and the
// header the compressed frames are announced with.
//
// Encoders are configured so that the one-frame-in, one-frame-out contract of
// ICCompress holds: no B-frames, no look-ahead, no frame threads, no global
// header (parameter sets travel inside key frames), so the 40-byte output
// format is all a decoder needs. Those that can cut a frame into slices
// (MPEG-4 part 2, H.264) encode them on kSliceThreads threads side by side:
// the packet of a frame still comes back for that frame, and a fixed count
// (never "as many as the machine has") keeps the bit stream the same from
// run to run and machine to machine.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "platform/vfw/FrameConverter.h"
#include "platform/vfw/Vfw.h"

namespace sdm {
namespace {

enum class TKind { Lavc, Dib };

struct TCodecDef {
  FOURCC fcc;
  const char* name;         // short name (ICINFO szName)
  const char* description;  // the list shows this
  TKind kind;
  const char* encoders[2];
  FOURCC compression;  // biCompression of the output
  WORD bitCount;       // biBitCount of the output; decoders of some formats read it
  AVPixelFormat pixfmt;
  bool evenSize;    // chroma subsampling needs even width and height
  bool hasQuality;  // the stored quality reaches the encoder
  bool temporal;    // frames may depend on the ones before
};

// In the order the platform lists them.
//
// "xvid" is made by libavcodec's own MPEG-4 part 2 encoder rather than
// libxvid: at the same quantiser over the reference slideshow (bench_mpeg4)
// it encodes 1.6 to 2.3 times faster for files of the same size, 0.3 dB
// below libxvid's PSNR, and both play in ffmpeg without a word. With
// trellis quantisation libavcodec's encoder passes libxvid's PSNR, but at
// seven times the time, so it is left off.
// One compressor a row, kept as a table.
// clang-format off
const TCodecDef kCodecs[] = {
    {mmioFOURCC('x', 'v', 'i', 'd'), "xvid", "Xvid MPEG-4 Video Codec", TKind::Lavc, {"mpeg4", "libxvid"},
     mmioFOURCC('X', 'V', 'I', 'D'), 24, AV_PIX_FMT_YUV420P, true, true, true},
    {mmioFOURCC('F', 'M', 'P', '4'), "FMP4", "FFmpeg MPEG-4 Part 2 Video", TKind::Lavc, {"mpeg4", nullptr},
     mmioFOURCC('F', 'M', 'P', '4'), 24, AV_PIX_FMT_YUV420P, true, true, true},
    {mmioFOURCC('M', 'J', 'P', 'G'), "MJPG", "Motion JPEG", TKind::Lavc, {"mjpeg", nullptr},
     mmioFOURCC('M', 'J', 'P', 'G'), 24, AV_PIX_FMT_YUVJ420P, true, true, false},
    {mmioFOURCC('H', '2', '6', '4'), "H264", "H.264 Video (x264)", TKind::Lavc, {"libx264", nullptr},
     mmioFOURCC('H', '2', '6', '4'), 24, AV_PIX_FMT_YUV420P, true, true, true},
    {mmioFOURCC('F', 'F', 'V', '1'), "FFV1", "FFV1 Lossless Video", TKind::Lavc, {"ffv1", nullptr},
     mmioFOURCC('F', 'F', 'V', '1'), 32, AV_PIX_FMT_0RGB32, false, false, true},
    {mmioFOURCC('c', 'v', 'i', 'd'), "cvid", "Cinepak Codec", TKind::Lavc, {"cinepak", nullptr},
     mmioFOURCC('c', 'v', 'i', 'd'), 24, AV_PIX_FMT_RGB24, false, true, true},
    {mmioFOURCC('M', 'S', 'V', 'C'), "MSVC", "Microsoft Video 1", TKind::Lavc, {"msvideo1", nullptr},
     mmioFOURCC('M', 'S', 'V', 'C'), 16, AV_PIX_FMT_RGB555LE, false, false, true},
    {mmioFOURCC('Z', 'M', 'B', 'V'), "ZMBV", "Zip Motion Blocks Video", TKind::Lavc, {"zmbv", nullptr},
     mmioFOURCC('Z', 'M', 'B', 'V'), 32, AV_PIX_FMT_0RGB32, false, false, true},
    {mmioFOURCC('D', 'I', 'B', ' '), "DIB", "Uncompressed RGB 24-bit", TKind::Dib, {nullptr, nullptr}, BI_RGB, 24,
     AV_PIX_FMT_BGR24, false, false, false},
};
// clang-format on

// Threads (and so slices) of the encoders that take slice threads. Every
// machine we run on has two cores at least; the frames are drawn on one of
// them meanwhile, and the next picture decoded, so more would only wait.
constexpr int kSliceThreads = 2;

// Frames larger than this are refused by every compressor: beyond any video
// size we make, and it keeps a lying header from asking for gigabytes.
constexpr LONG kMaxDimension = 8192;

FOURCC Lower(FOURCC f) {
  FOURCC r = 0;
  for (int i = 0; i < 4; ++i)
    r |= static_cast<FOURCC>(std::tolower(static_cast<int>((f >> (8 * i)) & 0xFF))) << (8 * i);
  return r;
}

const AVCodec* FindEncoder(const TCodecDef& d) {
  for (const char* n : d.encoders)
    if (n)
      if (const AVCodec* c = avcodec_find_encoder_by_name(n)) return c;
  return nullptr;
}

// SLIDOMAT_CODECS restricts the installed compressors to its FourCCs.
bool AllowedByEnvironment(const TCodecDef& d) {
  const char* env = std::getenv("SLIDOMAT_CODECS");
  if (!env) return true;
  std::string list = env;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(start, comma - start);
    while (!item.empty() && item.front() == ' ' && item.size() > 4) item.erase(0, 1);
    if (!item.empty() && Lower(mmioStringToFOURCC(item)) == Lower(d.fcc)) return true;
    start = comma + 1;
  }
  return false;
}

std::vector<const TCodecDef*> Installed() {
  std::vector<const TCodecDef*> out;
  for (const TCodecDef& d : kCodecs)
    if (AllowedByEnvironment(d) && (d.kind == TKind::Dib || FindEncoder(d))) out.push_back(&d);
  return out;
}

const TCodecDef* FindInstalled(FOURCC fcc) {
  for (const TCodecDef* d : Installed())
    if (Lower(d->fcc) == Lower(fcc)) return d;
  return nullptr;
}

void Widen(char16_t* dst, size_t cap, const char* src) {
  size_t i = 0;
  for (; src[i] && i + 1 < cap; ++i) dst[i] = static_cast<char16_t>(static_cast<unsigned char>(src[i]));
  dst[i] = 0;
}

void FillInfo(const TCodecDef& d, ICINFO& info) {
  info = ICINFO{};
  info.fccType = ICTYPE_VIDEO;
  info.fccHandler = d.fcc;
  // Our temporal compressors keep their own reference frames, so they need
  // no copy of the previous frame from the caller (VIDCF_FASTTEMPORALC).
  info.dwFlags = VIDCF_COMPRESSFRAMES | (d.hasQuality ? VIDCF_QUALITY : 0) |
                 (d.temporal ? VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC : 0);
  info.dwVersion = 1;
  info.dwVersionICM = 0x0104;
  Widen(info.szName, 16, d.name);
  Widen(info.szDescription, 128, d.description);
  const AVCodec* c = d.kind == TKind::Lavc ? FindEncoder(d) : nullptr;
  Widen(info.szDriver, 128, c ? c->name : "slidomat");
}

TConfigureHook g_configureHook;
TAboutHook g_aboutHook;

}  // namespace

struct TIcInstance {
  const TCodecDef* def = nullptr;
  unsigned mode = 0;
  TCompressorSettings settings;
  BITMAPINFOHEADER in{};
  bool begun = false;
  const AVCodec* codec = nullptr;
  AVCodecContext* ctx = nullptr;
  TFrameConverter convert;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  int64_t pts = 0;
  AVRational rate{25, 1};  // frames per second, as ICM_COMPRESS_FRAMES_INFO last said
  bool converted = false;  // frame holds the last input, converted for the encoder

  ~TIcInstance() { End(); }
  void End() {
    if (ctx) avcodec_free_context(&ctx);
    convert.Close();
    if (frame) av_frame_free(&frame);
    if (pkt) av_packet_free(&pkt);
    begun = false;
    converted = false;
  }
};

namespace {

uint32_t MaxFrameSize(const TCodecDef& d, LONG w, LONG h) {
  const uint32_t raw = DibStride(w, 24) * static_cast<uint32_t>(h);
  if (d.kind == TKind::Dib) return raw;
  // Compressed frames of noise can exceed the raw size; twice raw plus a
  // margin for headers covers every encoder here.
  return 2 * static_cast<uint32_t>(w) * static_cast<uint32_t>(h) * 4 + (1u << 16);
}

// The fixed quantiser of the quantiser-driven encoders for a quality of
// 0 … 10000.
int QuantiserOf(int quality) { return 2 + (10000 - std::clamp(quality, 0, 10000)) * 29 / 10000; }

AVCodecContext* MakeContext(const TIcInstance& ic, LONG w, LONG h) {
  const TCodecDef& d = *ic.def;
  AVCodecContext* c = avcodec_alloc_context3(ic.codec);
  if (!c) return nullptr;
  c->width = w;
  c->height = h;
  c->pix_fmt = d.pixfmt;
  c->framerate = ic.rate;
  c->time_base = av_inv_q(ic.rate);
  c->gop_size = std::max(1, ic.settings.KeyFrameInterval);
  c->max_b_frames = 0;
  c->thread_count = 1;
  c->strict_std_compliance = FF_COMPLIANCE_NORMAL;
  const int quality = std::clamp(ic.settings.Quality, 0, 10000);
  const std::string enc = ic.codec->name;
  if (enc == "mpeg4" || enc == "libx264") {
    // Slices, never frames: frame threads would hand a frame's packet back
    // frames later.
    c->thread_count = kSliceThreads;
    c->thread_type = FF_THREAD_SLICE;
  }
  if (enc == "mpeg4" || enc == "libxvid" || enc == "mjpeg" || enc == "cinepak") {
    // Quality 10000 is quantiser 2, quality 0 is 31. libxvid and cinepak
    // read it from every frame (EncodeOne), the others from here.
    const int q = QuantiserOf(quality);
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * q;
    c->qmin = c->qmax = q;
  }
  if (enc == "libx264") {
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set_double(c->priv_data, "crf", 16.0 + (10000 - quality) * 30.0 / 10000.0, 0);
  } else if (enc == "cinepak") {
    // One strip per frame halves the time of libavcodec's cinepak search,
    // which otherwise takes seconds per PAL frame.
    av_opt_set_int(c->priv_data, "max_strips", 1, 0);
    av_opt_set_int(c->priv_data, "min_strips", 1, 0);
  } else if (enc == "zmbv") {
    c->keyint_min = c->gop_size;  // zmbv takes its key interval from here
  } else if (enc == "msvideo1") {
    // msvideo1 counts the frames after a key frame up to this value.
    c->keyint_min = std::max(1, c->gop_size - 1);
  } else if (enc == "ffv1") {
    c->gop_size = std::min(c->gop_size, 300);
  }
  return c;
}

// Whether the encoder itself takes this size (some have limits of their
// own); the answer is remembered, as an open costs a little.
bool EncoderAccepts(const TIcInstance& ic, LONG w, LONG h) {
  static std::mutex m;
  static std::map<std::tuple<const TCodecDef*, LONG, LONG>, bool> cache;
  std::lock_guard<std::mutex> lock(m);
  const auto key = std::make_tuple(ic.def, w, h);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  TIcInstance probe;
  probe.def = ic.def;
  probe.codec = ic.codec;
  AVCodecContext* c = MakeContext(probe, w, h);
  const bool ok = c && avcodec_open2(c, ic.codec, nullptr) == 0;
  avcodec_free_context(&c);
  cache[key] = ok;
  return ok;
}

LRESULT Query(const TIcInstance& ic, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (!in) return ICERR_BADPARAM;
  if (in->biSize < 40 || in->biPlanes != 1 || in->biBitCount != 24 || in->biCompression != BI_RGB)
    return ICERR_BADFORMAT;
  if (in->biWidth <= 0 || in->biHeight <= 0 || in->biWidth > kMaxDimension || in->biHeight > kMaxDimension)
    return ICERR_BADFORMAT;
  if (ic.def->evenSize && ((in->biWidth | in->biHeight) & 1)) return ICERR_BADFORMAT;
  if (out &&
      (out->biCompression != ic.def->compression || out->biWidth != in->biWidth || out->biHeight != in->biHeight))
    return ICERR_BADFORMAT;
  if (ic.def->kind == TKind::Lavc && (!ic.codec || !EncoderAccepts(ic, in->biWidth, in->biHeight)))
    return ICERR_BADFORMAT;
  return ICERR_OK;
}

void OutputFormat(const TCodecDef& d, const BITMAPINFOHEADER& in, BITMAPINFOHEADER& out) {
  out = BITMAPINFOHEADER{};
  out.biWidth = in.biWidth;
  out.biHeight = in.biHeight;
  out.biPlanes = 1;
  out.biBitCount = d.bitCount;
  out.biCompression = d.compression;
  out.biSizeImage = MaxFrameSize(d, in.biWidth, in.biHeight);
}

LRESULT Begin(TIcInstance& ic, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (LRESULT r = Query(ic, in, out); r != ICERR_OK) return r;
  ic.End();
  ic.in = *in;
  ic.pts = 0;
  if (ic.def->kind == TKind::Dib) {
    ic.begun = true;
    return ICERR_OK;
  }
  ic.ctx = MakeContext(ic, in->biWidth, in->biHeight);
  ic.frame = av_frame_alloc();
  ic.pkt = av_packet_alloc();
  if (!ic.ctx || !ic.frame || !ic.pkt) {
    ic.End();
    return ICERR_MEMORY;
  }
  if (avcodec_open2(ic.ctx, ic.codec, nullptr) < 0) {
    ic.End();
    return ICERR_BADFORMAT;
  }
  ic.frame->format = ic.def->pixfmt;
  ic.frame->width = in->biWidth;
  ic.frame->height = in->biHeight;
  if (av_frame_get_buffer(ic.frame, 0) < 0) {
    ic.End();
    return ICERR_MEMORY;
  }
  // Lossless codecs get an RGB format, so this conversion is a plain
  // repacking for them. For YUV 4:2:0, bench_convert measured the flags:
  // each 2 × 2 block's chroma averaged from full-resolution input (area,
  // full chroma input) is a third faster than bicubic chroma and as good
  // (0.1 dB better before compression, 0.01 dB worse after MPEG-4 at
  // quantiser 4); without accurate rounding swscale takes a path that is
  // faster again but 0.2 to 0.9 dB worse. The frame is converted in two
  // bands on two threads, which gives the same bytes.
  const bool yuv = ic.def->pixfmt == AV_PIX_FMT_YUV420P || ic.def->pixfmt == AV_PIX_FMT_YUVJ420P;
  const int flags = yuv ? SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_BITEXACT
                        : SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT;
  if (!ic.convert.Open(in->biWidth, in->biHeight, ic.def->pixfmt, flags)) {
    ic.End();
    return ICERR_BADFORMAT;
  }
  ic.begun = true;
  return ICERR_OK;
}

// Sends the converted frame and takes its packet into ic.pkt.
LRESULT EncodeOne(TIcInstance& ic, bool key) {
  ic.frame->pts = ic.pts++;
  ic.frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  // Some encoders take their quantiser from each frame, not from the
  // context: without this libxvid made every frame at quantiser 2.
  ic.frame->quality = ic.ctx->global_quality;
  if (avcodec_send_frame(ic.ctx, ic.frame) < 0) return ICERR_INTERNAL;
  // Configured without delay, an encoder that holds a frame back is broken.
  return avcodec_receive_packet(ic.ctx, ic.pkt) < 0 ? ICERR_INTERNAL : ICERR_OK;
}

LRESULT Compress(TIcInstance& ic, const ICCOMPRESS& a) {
  if (!ic.begun) return ICERR_ERROR;
  if (!a.lpbiInput || !a.lpInput || !a.lpbiOutput || !a.lpOutput) return ICERR_BADPARAM;
  const BITMAPINFOHEADER& in = *a.lpbiInput;
  if (in.biWidth != ic.in.biWidth || in.biHeight != ic.in.biHeight || in.biBitCount != 24 || in.biCompression != BI_RGB)
    return ICERR_BADFORMAT;
  const uint32_t maxSize = MaxFrameSize(*ic.def, in.biWidth, in.biHeight);
  const uint32_t stride = DibStride(in.biWidth, 24);
  bool key = true;
  uint32_t size = 0;
  if (ic.def->kind == TKind::Dib) {
    size = stride * static_cast<uint32_t>(in.biHeight);
    std::memcpy(a.lpOutput, a.lpInput, size);
  } else {
    // A previous frame that is the input itself is a repeat: the converted
    // frame from last time is still right (encoders only read it).
    if (a.lpPrev != a.lpInput || !ic.converted) {
      ic.converted = false;
      if (av_frame_make_writable(ic.frame) < 0) return ICERR_MEMORY;
      ic.convert.Convert(static_cast<const uint8_t*>(a.lpInput), stride, *ic.frame);
      ic.converted = true;
    }
    const bool force = (a.dwFlags & ICCOMPRESS_KEYFRAME) != 0;
    if (LRESULT r = EncodeOne(ic, force); r != ICERR_OK) return r;
    if (force && !(ic.pkt->flags & AV_PKT_FLAG_KEY)) {
      // Some encoders ignore a requested key frame; a fresh encoder starts
      // with one.
      av_packet_unref(ic.pkt);
      avcodec_free_context(&ic.ctx);
      ic.ctx = MakeContext(ic, in.biWidth, in.biHeight);
      if (!ic.ctx || avcodec_open2(ic.ctx, ic.codec, nullptr) < 0) return ICERR_INTERNAL;
      if (LRESULT r = EncodeOne(ic, true); r != ICERR_OK) return r;
    }
    if (static_cast<uint32_t>(ic.pkt->size) > maxSize) {
      av_packet_unref(ic.pkt);
      return ICERR_BADSIZE;
    }
    size = static_cast<uint32_t>(ic.pkt->size);
    std::memcpy(a.lpOutput, ic.pkt->data, size);
    key = (ic.pkt->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(ic.pkt);
  }
  OutputFormat(*ic.def, in, *a.lpbiOutput);
  a.lpbiOutput->biSizeImage = size;
  if (a.lpdwFlags) *a.lpdwFlags = key ? AVIIF_KEYFRAME : 0;
  if (a.lpckid) *a.lpckid = mmioFOURCC('d', 'c', 0, 0) & 0xFFFF;
  return ICERR_OK;
}

}  // namespace

bool ICInfo(FOURCC fccType, FOURCC fccHandler, ICINFO* info) {
  if (!info || (fccType != ICTYPE_VIDEO && fccType != 0)) return false;
  const auto list = Installed();
  const TCodecDef* d = nullptr;
  if (fccHandler < 256) {
    if (fccHandler < list.size()) d = list[fccHandler];
  } else {
    d = FindInstalled(fccHandler);
  }
  if (!d) return false;
  FillInfo(*d, *info);
  return true;
}

HIC ICOpen(FOURCC fccType, FOURCC fccHandler, unsigned mode) {
  // Encoders report statistics and notes on stderr at the default level;
  // library code of ours prints nothing, so keep only their errors unless
  // someone chose a level already.
  static const bool quiet = [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
    return true;
  }();
  (void)quiet;
  if (fccType != ICTYPE_VIDEO && fccType != 0) return nullptr;
  if (mode != ICMODE_COMPRESS && mode != ICMODE_QUERY) return nullptr;  // we only compress
  const TCodecDef* d = FindInstalled(fccHandler);
  if (!d) return nullptr;
  auto* ic = new TIcInstance;
  ic->def = d;
  ic->mode = mode;
  ic->codec = d->kind == TKind::Lavc ? FindEncoder(*d) : nullptr;
  ic->settings = DefaultCompressorSettings(d->fcc);
  CompressorSettingsStore().Load(d->fcc, ic->settings);
  return ic;
}

LRESULT ICClose(HIC hic) {
  if (!hic) return ICERR_BADHANDLE;
  delete hic;
  return ICERR_OK;
}

LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD cb) {
  if (!hic || !info) return 0;
  ICINFO full;
  FillInfo(*hic->def, full);
  const DWORD n = std::min<DWORD>(cb, sizeof full);
  std::memcpy(info, &full, n);
  return n;
}

HIC ICLocate(FOURCC fccType, FOURCC fccHandler, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out,
             unsigned wMode) {
  std::vector<FOURCC> candidates;
  if (fccHandler != 0) {
    candidates.push_back(fccHandler);
  } else {
    for (const TCodecDef* d : Installed()) candidates.push_back(d->fcc);
  }
  for (FOURCC f : candidates) {
    HIC h = ICOpen(fccType, f, wMode);
    if (!h) continue;
    if (ICSendMessage(h, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(in), reinterpret_cast<DWORD_PTR>(out)) ==
        ICERR_OK)
      return h;
    ICClose(h);
  }
  return nullptr;
}

LRESULT ICSendMessage(HIC hic, unsigned msg, DWORD_PTR dw1, DWORD_PTR dw2) {
  if (!hic) return ICERR_BADHANDLE;
  TIcInstance& ic = *hic;
  const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(dw1);
  switch (msg) {
    case ICM_COMPRESS_QUERY: return Query(ic, in, reinterpret_cast<const BITMAPINFOHEADER*>(dw2));
    case ICM_COMPRESS_GET_FORMAT: {
      if (LRESULT r = Query(ic, in, nullptr); r != ICERR_OK) return r;
      if (!dw2) return sizeof(BITMAPINFOHEADER);
      OutputFormat(*ic.def, *in, *reinterpret_cast<BITMAPINFOHEADER*>(dw2));
      return ICERR_OK;
    }
    case ICM_COMPRESS_GET_SIZE:
      if (Query(ic, in, nullptr) != ICERR_OK) return 0;
      return MaxFrameSize(*ic.def, in->biWidth, in->biHeight);
    case ICM_COMPRESS_BEGIN:
      if (ic.mode != ICMODE_COMPRESS) return ICERR_BADPARAM;
      return Begin(ic, in, reinterpret_cast<const BITMAPINFOHEADER*>(dw2));
    case ICM_COMPRESS:
      if (!dw1) return ICERR_BADPARAM;
      return Compress(ic, *reinterpret_cast<const ICCOMPRESS*>(dw1));
    case ICM_COMPRESS_END: ic.End(); return ICERR_OK;
    case ICM_COMPRESS_FRAMES_INFO: {
      // Takes effect at the next ICM_COMPRESS_BEGIN.
      const auto* info = reinterpret_cast<const ICCOMPRESSFRAMES*>(dw1);
      if (!info || info->dwRate == 0 || info->dwScale == 0 || info->dwRate > 0x7FFFFFFF || info->dwScale > 0x7FFFFFFF)
        return ICERR_BADPARAM;
      av_reduce(&ic.rate.num, &ic.rate.den, info->dwRate, info->dwScale, 1 << 16);
      return ICERR_OK;
    }
    case ICM_CONFIGURE: {
      // The uncompressed format has nothing to set.
      const bool has = ic.def->kind != TKind::Dib;
      if (dw1 == static_cast<DWORD_PTR>(-1)) return has ? ICERR_OK : ICERR_UNSUPPORTED;
      if (!has) return ICERR_UNSUPPORTED;
      if (g_configureHook) {
        TCompressorSettings s = ic.settings;
        if (g_configureHook(static_cast<HWND>(dw1), ic.def->fcc, ic.def->description, s)) {
          s.Quality = std::clamp(s.Quality, 0, 10000);
          s.KeyFrameInterval = std::clamp(s.KeyFrameInterval, 1, 10000);
          ic.settings = s;
          if (!CompressorSettingsStore().Save(ic.def->fcc, s)) return ICERR_ERROR;
        }
      }
      return ICERR_OK;
    }
    case ICM_ABOUT:
      if (dw1 == static_cast<DWORD_PTR>(-1)) return ICERR_OK;
      if (g_aboutHook) g_aboutHook(static_cast<HWND>(dw1), ic.def->fcc, ic.def->description);
      return ICERR_OK;
    case ICM_GETINFO: return ICGetInfo(hic, reinterpret_cast<ICINFO*>(dw1), static_cast<DWORD>(dw2));
    case ICM_GETDEFAULTQUALITY:
      if (!dw1) return ICERR_BADPARAM;
      *reinterpret_cast<DWORD*>(dw1) = static_cast<DWORD>(DefaultCompressorSettings(ic.def->fcc).Quality);
      return ICERR_OK;
    case ICM_GETQUALITY:
      if (!dw1) return ICERR_BADPARAM;
      *reinterpret_cast<DWORD*>(dw1) = static_cast<DWORD>(ic.settings.Quality);
      return ICERR_OK;
    case ICM_SETQUALITY: ic.settings.Quality = static_cast<int>(std::min<DWORD_PTR>(dw1, 10000)); return ICERR_OK;
    case ICM_GETDEFAULTKEYFRAMERATE:
      if (!dw1) return ICERR_BADPARAM;
      *reinterpret_cast<DWORD*>(dw1) = static_cast<DWORD>(DefaultCompressorSettings(ic.def->fcc).KeyFrameInterval);
      return ICERR_OK;
    default: return ICERR_UNSUPPORTED;
  }
}

LRESULT ICCompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER* lpbiOutput, void* lpData,
                   const BITMAPINFOHEADER* lpbiInput, const void* lpBits, DWORD* lpckid, DWORD* lpdwFlags,
                   LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, const BITMAPINFOHEADER* lpbiPrev,
                   const void* lpPrev) {
  ICCOMPRESS a;
  a.dwFlags = dwFlags;
  a.lpbiOutput = lpbiOutput;
  a.lpOutput = lpData;
  a.lpbiInput = lpbiInput;
  a.lpInput = lpBits;
  a.lpckid = lpckid;
  a.lpdwFlags = lpdwFlags;
  a.lFrameNum = lFrameNum;
  a.dwFrameSize = dwFrameSize;
  a.dwQuality = dwQuality;
  a.lpbiPrev = lpbiPrev;
  a.lpPrev = lpPrev;
  return ICSendMessage(hic, ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&a), sizeof a);
}

void SetCompressorDialogHooks(TConfigureHook configure, TAboutHook about) {
  g_configureHook = std::move(configure);
  g_aboutHook = std::move(about);
}

}  // namespace sdm
