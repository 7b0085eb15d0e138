// The conversion of frames for the encoders in two bands on two threads gives
// the very bytes one conversion of the whole frame gives, for every format
// and set of flags the compressors and the MP4/WebM writer use.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <string>
#include <vector>

#include "platform/Dib24.h"
#include "platform/vfw/FrameConverter.h"

using namespace sdm;

namespace {

AVFrame* NewFrame(int w, int h, AVPixelFormat format) {
  AVFrame* f = av_frame_alloc();
  f->format = format;
  f->width = w;
  f->height = h;
  EXPECT_EQ(av_frame_get_buffer(f, 0), 0);
  return f;
}

// The bytes of every plane that belong to the picture, row by row.
std::vector<uint8_t> Planes(const AVFrame& f) {
  std::vector<uint8_t> out;
  const auto format = static_cast<AVPixelFormat>(f.format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  int linesizes[4] = {};
  av_image_fill_linesizes(linesizes, format, f.width);
  for (int p = 0; p < 4 && f.data[p]; ++p) {
    const int rows = p == 1 || p == 2 ? AV_CEIL_RSHIFT(f.height, desc->log2_chroma_h) : f.height;
    for (int y = 0; y < rows; ++y) {
      const uint8_t* row = f.data[p] + static_cast<ptrdiff_t>(f.linesize[p]) * y;
      out.insert(out.end(), row, row + linesizes[p]);
    }
  }
  return out;
}

TDib24 Noise(int w, int h, unsigned seed) {
  TDib24 d(w, h);
  for (auto& b : d.Bits) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  return d;
}

}  // namespace

TEST(FrameConverter, TwoBandsGiveTheBytesOfOneConversion) {
  const int yuvFlags = SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_BITEXACT;
  const int rgbFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT;
  struct TCase {
    AVPixelFormat format;
    int flags;
    int colorspace;
  };
  const TCase cases[] = {
      {AV_PIX_FMT_YUV420P, yuvFlags, 0},
      {AV_PIX_FMT_YUVJ420P, yuvFlags, 0},
      {AV_PIX_FMT_YUV420P, yuvFlags, SWS_CS_ITU709},
      {AV_PIX_FMT_0RGB32, rgbFlags, 0},
      {AV_PIX_FMT_RGB24, rgbFlags, 0},
      {AV_PIX_FMT_RGB555LE, rgbFlags, 0},
  };
  struct TSize {
    int w, h;
  };
  for (const TCase& c : cases) {
    const bool subsampled = av_pix_fmt_desc_get(c.format)->log2_chroma_h > 0;
    std::vector<TSize> sizes{{64, 48}, {720, 576}, {1920, 1080}, {320, 34}, {96, 16}};
    if (!subsampled) sizes.push_back({65, 49});
    for (const TSize& s : sizes) {
      SCOPED_TRACE(std::string(av_get_pix_fmt_name(c.format)) + " " + std::to_string(s.w) + "x" + std::to_string(s.h) +
                   (c.colorspace ? " BT.709" : ""));
      TFrameConverter one, two;
      ASSERT_TRUE(one.Open(s.w, s.h, c.format, c.flags, c.colorspace, 1));
      ASSERT_TRUE(two.Open(s.w, s.h, c.format, c.flags, c.colorspace));
      EXPECT_EQ(one.Bands(), 1);
      EXPECT_EQ(two.Bands(), s.h >= 32 ? 2 : 1);
      AVFrame* a = NewFrame(s.w, s.h, c.format);
      AVFrame* b = NewFrame(s.w, s.h, c.format);
      // Several frames through the same converter: its helper is reused.
      for (unsigned seed : {1u, 2u, 3u}) {
        const TDib24 dib = Noise(s.w, s.h, seed);
        one.Convert(dib.Bits.data(), dib.Stride(), *a);
        two.Convert(dib.Bits.data(), dib.Stride(), *b);
        EXPECT_TRUE(Planes(*a) == Planes(*b)) << "frame " << seed;
      }
      // And one band is what swscale makes of the frame in one call.
      const TDib24 dib = Noise(s.w, s.h, 9);
      SwsContext* sws =
          sws_getContext(s.w, s.h, AV_PIX_FMT_BGR24, s.w, s.h, c.format, c.flags, nullptr, nullptr, nullptr);
      ASSERT_NE(sws, nullptr);
      if (c.colorspace) {
        const int* matrix = sws_getCoefficients(c.colorspace);
        sws_setColorspaceDetails(sws, matrix, 1, matrix, 0, 0, 1 << 16, 1 << 16);
      }
      const uint8_t* src[4] = {dib.Bits.data() + static_cast<size_t>(dib.Stride()) * (s.h - 1), nullptr, nullptr,
                               nullptr};
      const int srcStride[4] = {-static_cast<int>(dib.Stride()), 0, 0, 0};
      sws_scale(sws, src, srcStride, 0, s.h, a->data, a->linesize);
      sws_freeContext(sws);
      two.Convert(dib.Bits.data(), dib.Stride(), *b);
      EXPECT_TRUE(Planes(*a) == Planes(*b));
      av_frame_free(&a);
      av_frame_free(&b);
    }
  }
  TFrameConverter refused;
  EXPECT_FALSE(refused.Open(0, 48, AV_PIX_FMT_YUV420P, yuvFlags));
  EXPECT_FALSE(refused.Open(64, 48, AV_PIX_FMT_NONE, yuvFlags));
}
