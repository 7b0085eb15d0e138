#pragma once
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <string>

#include "ReferenceSlideshow.h"

namespace bench {

// The encoder of the reference slideshow as the benchmarks compare it: YUV
// 4:2:0 at the reference size and rate, a fixed quantiser, no B-frames, one
// thread. choice is an encoder name, or name:option=value:… with encoder
// options. Null when the encoder is missing or does not open.
inline AVCodecContext* OpenEncoder(const std::string& choice, int keyInterval = kKeyInterval) {
  const std::string name = choice.substr(0, choice.find(':'));
  const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
  if (!codec) return nullptr;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = kWidth;
  c->height = kHeight;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = {1, kFps};
  c->framerate = {kFps, 1};
  c->gop_size = keyInterval;
  c->max_b_frames = 0;
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_QSCALE;
  c->global_quality = FF_QP2LAMBDA * kQuantiser;
  c->qmin = c->qmax = kQuantiser;
  AVDictionary* options = nullptr;
  for (size_t at = choice.find(':'); at != std::string::npos;) {
    const size_t next = choice.find(':', at + 1);
    const std::string item = choice.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    const size_t eq = item.find('=');
    av_dict_set(&options, item.substr(0, eq).c_str(), item.substr(eq + 1).c_str(), 0);
    at = next;
  }
  if (avcodec_open2(c, codec, &options) < 0) avcodec_free_context(&c);
  av_dict_free(&options);
  return c;
}

}  // namespace bench
