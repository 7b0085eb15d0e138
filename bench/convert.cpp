// bench_convert: the conversion of our 24-bit frames to the YUV 4:2:0 the
// MPEG-4, H.264 and Motion JPEG compressors take, with each candidate set of
// swscale flags: its time per 720 × 576 frame, and the PSNR of what a viewer
// gets back (converted to RGB again with an accurate converter, as a player
// does), alone and after MPEG-4 at quantiser 4. Frames: the pictures and fade
// frames of the reference slideshow.
//
// Usage: bench_convert [--pictures DIR] [--only NAME]
//   --only NAME measures one set of flags (for counting its instructions).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ReferenceEncoder.h"
#include "ReferenceSlideshow.h"
#include "frames/U_BmpWriter.h"
#include "frames/U_FrameServer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace bench;

namespace {

struct TCandidate {
  const char* name;
  int flags;
};

AVFrame* NewFrame(AVPixelFormat format) {
  AVFrame* f = av_frame_alloc();
  f->format = format;
  f->width = kWidth;
  f->height = kHeight;
  av_frame_get_buffer(f, 0);
  return f;
}

// Squared error of a BGR frame against the DIB it came from.
double SquaredError(const sdm::TDib24& dib, const AVFrame& rgb) {
  double sse = 0;
  for (int y = 0; y < kHeight; ++y) {
    const uint8_t* a = dib.TopRow(y);
    const uint8_t* b = rgb.data[0] + y * rgb.linesize[0];
    for (int x = 0; x < 3 * kWidth; ++x) {
      const int d = a[x] - b[x];
      sse += d * d;
    }
  }
  return sse;
}

double Psnr(double sse, int frames) {
  const double mse = sse / (static_cast<double>(frames) * kWidth * kHeight * 3);
  return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
}

}  // namespace

int main(int argc, char** argv) {
  std::string keep, only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--pictures" && i + 1 < argc) {
      keep = argv[++i];
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: bench_convert [--pictures DIR] [--only NAME]\n");
      return 2;
    }
  }
  const fs::path dir = keep.empty() ? fs::temp_directory_path() / ("slidomat-bench-convert-" + std::to_string(getpid()))
                                    : fs::path(keep);
  fs::create_directories(dir);
  const std::vector<std::string> pictures = ReferencePictures(dir);

  // Every picture's first frame and two frames of each fade.
  sdm::TStringList list, captions;
  for (int i = 0; i < kPictures; ++i) {
    list.Add(pictures[static_cast<size_t>(i)]);
    captions.Add(CaptionOf(i));
  }
  sdm::TFrameServer server(list, &captions, kFramesPerPicture, kHeight, kWidth, {.crossFade = true, .osd = true});
  std::vector<sdm::TDib24> frames;
  sdm::TBitmap32 bitmap;
  const int period = kFramesPerPicture + kFadeFrames;
  for (int p = 0; p < kPictures; ++p)
    for (int r : {0, kFramesPerPicture + 4, kFramesPerPicture + 12}) {
      const int i = p * period + r;
      if (i >= kFrames) continue;
      server.GetFrame(bitmap, i);
      frames.push_back(sdm::Bitmap32ToDib24(bitmap));
    }

  const TCandidate candidates[] = {
      {"bicubic+accurate_rnd+bitexact", SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT},
      {"bicubic+accurate_rnd", SWS_BICUBIC | SWS_ACCURATE_RND},
      {"bilinear+accurate_rnd", SWS_BILINEAR | SWS_ACCURATE_RND},
      {"area+accurate_rnd", SWS_AREA | SWS_ACCURATE_RND},
      {"area+accurate_rnd+bitexact", SWS_AREA | SWS_ACCURATE_RND | SWS_BITEXACT},
      {"point+accurate_rnd", SWS_POINT | SWS_ACCURATE_RND},
      {"bicubic+accurate+full_chr_inp", SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP},
      {"bilinear+accurate+full_chr_inp", SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP},
      {"area+accurate+full_chr_inp", SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP},
      {"area+accurate+full_chr_inp+bitexact", SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_BITEXACT},
      {"point+accurate+full_chr_inp", SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP},
      {"bicubic", SWS_BICUBIC},
      {"bilinear", SWS_BILINEAR},
      {"area", SWS_AREA},
      {"fast_bilinear", SWS_FAST_BILINEAR},
      {"point", SWS_POINT},
  };
  SwsContext* back = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGR24,
                                    SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  std::vector<const TCandidate*> chosen;
  std::vector<SwsContext*> contexts;
  for (const TCandidate& c : candidates) {
    if (!only.empty() && only != c.name) continue;
    chosen.push_back(&c);
    contexts.push_back(sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight, AV_PIX_FMT_YUV420P, c.flags,
                                      nullptr, nullptr, nullptr));
  }
  AVFrame* yuv = NewFrame(AV_PIX_FMT_YUV420P);
  AVFrame* rgb = NewFrame(AV_PIX_FMT_BGR24);
  AVFrame* decoded = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  // Bottom-up DIBs: start at the last stored row, as the compressors do.
  auto convert = [&](SwsContext* to, const sdm::TDib24& f) {
    const uint8_t* src[1] = {f.Bits.data() + static_cast<size_t>(f.Stride()) * (kHeight - 1)};
    const int stride[1] = {-static_cast<int>(f.Stride())};
    sws_scale(to, src, stride, 0, kHeight, yuv->data, yuv->linesize);
  };

  // Time: the best of ten rounds, the candidates taking turns in each.
  std::vector<double> best(chosen.size(), 1e9);
  for (int round = 0; round < 10; ++round)
    for (size_t c = 0; c < chosen.size(); ++c) {
      const auto t0 = Clock::now();
      for (const auto& f : frames) convert(contexts[c], f);
      best[c] = std::min(best[c], std::chrono::duration<double>(Clock::now() - t0).count());
    }

  std::printf("%zu frames of %dx%d; PSNR of the frames a player shows, against ours\n", frames.size(), kWidth, kHeight);
  std::printf("%-36s %12s %14s %18s\n", "swscale flags", "ms / frame", "PSNR alone", "PSNR after q4");
  for (size_t c = 0; c < chosen.size(); ++c) {
    // Every frame stands alone: the frames here are not a sequence.
    AVCodecContext* enc = OpenEncoder("mpeg4", 1);
    AVCodecContext* dec = avcodec_alloc_context3(decoder);
    dec->thread_count = 1;
    avcodec_open2(dec, decoder, nullptr);
    double alone = 0, coded = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
      const sdm::TDib24& f = frames[k];
      av_frame_make_writable(yuv);
      convert(contexts[c], f);
      sws_scale(back, yuv->data, yuv->linesize, 0, kHeight, rgb->data, rgb->linesize);
      alone += SquaredError(f, *rgb);
      yuv->pts = static_cast<int64_t>(k);
      yuv->quality = enc->global_quality;
      avcodec_send_frame(enc, yuv);
      if (avcodec_receive_packet(enc, pkt) == 0) {
        avcodec_send_packet(dec, pkt);
        if (avcodec_receive_frame(dec, decoded) == 0) {
          sws_scale(back, decoded->data, decoded->linesize, 0, kHeight, rgb->data, rgb->linesize);
          coded += SquaredError(f, *rgb);
        }
        av_packet_unref(pkt);
      }
    }
    const int n = static_cast<int>(frames.size());
    std::printf("%-36s %12.2f %14.3f %18.3f\n", chosen[c]->name, 1000 * best[c] / n, Psnr(alone, n), Psnr(coded, n));
    avcodec_free_context(&enc);
    avcodec_free_context(&dec);
    sws_freeContext(contexts[c]);
  }
  av_packet_free(&pkt);
  av_frame_free(&decoded);
  av_frame_free(&rgb);
  av_frame_free(&yuv);
  sws_freeContext(back);
  if (keep.empty()) fs::remove_all(dir);
  return 0;
}
