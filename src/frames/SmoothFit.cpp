#include "frames/SmoothFit.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <memory>

#include "support/Errors.h"

namespace sdm {

namespace {

struct TSwsFree {
  void operator()(SwsContext* c) const { sws_freeContext(c); }
};

}  // namespace

void DrawSmooth(const TBitmap32& src, TBitmap32& dest, int x, int y, int tw, int th) {
  if (src.Empty() || tw <= 0 || th <= 0) return;
  if (x < 0 || y < 0 || x + tw > dest.Width() || y + th > dest.Height())
    throw EError("The fitted picture lies outside the frame");
  if (tw == src.Width() && th == src.Height()) {
    dest.CopyRect(x, y, src, 0, 0, tw, th);
    return;
  }
  // TColor32 0xAARRGGBB lies in memory as B, G, R, A. Lanczos as ffmpeg's
  // scale filter does it (flags=lanczos gives the very same pixels), with
  // the colour kept at full resolution and exact rounding: what swscale
  // offers for quality, as a picture is fitted once, not every frame.
  const int flags = SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP | SWS_BITEXACT;
  std::unique_ptr<SwsContext, TSwsFree> sws(sws_getContext(src.Width(), src.Height(), AV_PIX_FMT_BGRA, tw, th,
                                                           AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr));
  if (!sws)
    throw EError("Cannot scale a picture of " + std::to_string(src.Width()) + " x " + std::to_string(src.Height()) +
                 " pixels to " + std::to_string(tw) + " x " + std::to_string(th));
  const uint8_t* in[4] = {reinterpret_cast<const uint8_t*>(src.Bits()), nullptr, nullptr, nullptr};
  const int inStride[4] = {src.Width() * 4, 0, 0, 0};
  uint8_t* out[4] = {reinterpret_cast<uint8_t*>(dest.Row(y) + x), nullptr, nullptr, nullptr};
  const int outStride[4] = {dest.Width() * 4, 0, 0, 0};
  sws_scale(sws.get(), in, inStride, 0, src.Height(), out, outStride);
}

}  // namespace sdm
