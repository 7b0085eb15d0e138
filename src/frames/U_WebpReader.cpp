#include "frames/U_WebpReader.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "support/Errors.h"

namespace sdm {

namespace {

static_assert(std::endian::native == std::endian::little, "MODE_BGRA matches 0xAARRGGBB on little-endian only");

class TDemuxer {
public:
  TDemuxer(const uint8_t* data, size_t size) {
    const WebPData whole{data, size};
    demux = WebPDemux(&whole);
  }
  ~TDemuxer() {
    if (demux) WebPDemuxDelete(demux);
  }
  TDemuxer(const TDemuxer&) = delete;
  TDemuxer& operator=(const TDemuxer&) = delete;

  WebPDemuxer* demux = nullptr;
};

std::string StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "bitstream error";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
    case VP8_STATUS_SUSPENDED: return "suspended";
    case VP8_STATUS_USER_ABORT: return "aborted";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "truncated data";
    default: return "error " + std::to_string(static_cast<int>(status));
  }
}

// The size to decode a still picture at: its own, unless it is a thumbnail
// or beyond the bound; then scaled (keeping its shape) to just cover the
// frame, and within the bound.
void ScaledSize(int w, int h, TFitSize fit, int& ow, int& oh) {
  ow = w;
  oh = h;
  double f = 1.0;
  if (fit.thumbnail && fit.width > 0 && fit.height > 0)
    f = std::max(static_cast<double>(fit.width) / w, static_cast<double>(fit.height) / h);
  if (static_cast<double>(w) * h * f * f > static_cast<double>(kMaxPicturePixels))
    f = std::sqrt(static_cast<double>(kMaxPicturePixels) / (static_cast<double>(w) * h));
  if (f >= 1.0) return;
  ow = std::max(1, static_cast<int>(std::ceil(w * f)));
  oh = std::max(1, static_cast<int>(std::ceil(h * f)));
  while (static_cast<int64_t>(ow) * oh > kMaxPicturePixels) {  // the ceilings may tip it over
    ow = std::max(1, ow - 1);
    oh = std::max(1, oh - 1);
  }
}

}  // namespace

void ReadWebp(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out,
              TPictureExtras& extras) {
  auto fail = [&](const std::string& reason) { throw EError(PictureError(fileName, reason)); };
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) fail("libwebp version mismatch");
  const VP8StatusCode features = WebPGetFeatures(data, size, &config.input);
  if (features != VP8_STATUS_OK) fail("invalid WebP data (" + StatusText(features) + ")");
  // The canvas size (of every frame together, for an animation).
  const int width = config.input.width;
  const int height = config.input.height;
  CheckPictureSides(fileName, width, height);
  extras.alpha = config.input.has_alpha != 0;

  const TDemuxer d(data, size);
  if (!d.demux) fail("invalid WebP data (broken container)");
  if (WebPDemuxGetI(d.demux, WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) {
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(d.demux, "ICCP", 1, &chunk))
      extras.profile.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
  }

  config.output.colorspace = MODE_BGRA;  // straight alpha: the profile applies before compositing
  config.output.is_external_memory = 1;
  VP8StatusCode status = VP8_STATUS_OK;
  if (config.input.has_animation) {
    // The first frame, where it stands on the canvas; the rest of the canvas
    // is transparent, which is black once composited.
    CheckPictureSize(fileName, width, height);
    WebPIterator frame;
    if (!WebPDemuxGetFrame(d.demux, 1, &frame)) {
      WebPDemuxReleaseIterator(&frame);
      fail("invalid WebP data (no frame)");
    }
    const bool inside = frame.x_offset >= 0 && frame.y_offset >= 0 && frame.width > 0 && frame.height > 0 &&
                        frame.x_offset + frame.width <= width && frame.y_offset + frame.height <= height;
    if (!inside) {
      WebPDemuxReleaseIterator(&frame);
      fail("invalid WebP data (a frame outside its canvas)");
    }
    out.SetSize(width, height);
    extras.alpha = true;
    config.output.u.RGBA.rgba = reinterpret_cast<uint8_t*>(out.Row(frame.y_offset) + frame.x_offset);
    config.output.u.RGBA.stride = width * 4;
    config.output.u.RGBA.size = (static_cast<size_t>(frame.height - 1) * width + frame.width) * 4;
    config.output.width = frame.width;
    config.output.height = frame.height;
    status = WebPDecode(frame.fragment.bytes, frame.fragment.size, &config);
    WebPDemuxReleaseIterator(&frame);
  } else {
    int ow = 0, oh = 0;
    ScaledSize(width, height, fit, ow, oh);
    if (ow != width || oh != height) {
      config.options.use_scaling = 1;
      config.options.scaled_width = ow;
      config.options.scaled_height = oh;
    }
    CheckPictureSize(fileName, ow, oh);
    out.SetSizeForOverwrite(ow, oh);
    config.output.u.RGBA.rgba = reinterpret_cast<uint8_t*>(out.Bits());
    config.output.u.RGBA.stride = ow * 4;
    config.output.u.RGBA.size = static_cast<size_t>(ow) * oh * 4;
    status = WebPDecode(data, size, &config);
  }
  WebPFreeDecBuffer(&config.output);
  if (status != VP8_STATUS_OK) fail("invalid WebP data (" + StatusText(status) + ")");
  // A lossless bitstream says in one bit whether it uses alpha, yet decodes
  // whatever alpha its pixels carry: a picture that says it is opaque is
  // made so, as its header tells everyone else.
  if (!extras.alpha) {
    uint8_t* bytes = reinterpret_cast<uint8_t*>(out.Bits());
    const size_t count = static_cast<size_t>(out.Width()) * out.Height();
    for (size_t i = 0; i < count; ++i) bytes[i * 4 + 3] = 255;
  }
}

}  // namespace sdm
