#include "platform/vfw/FrameConverter.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>

namespace sdm {

TFrameConverter::~TFrameConverter() { Close(); }

bool TFrameConverter::Open(int width, int height, AVPixelFormat format, int flags, int colorspace, int bands) {
  Close();
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (!desc || width <= 0 || height <= 0) return false;
  width_ = width;
  height_ = height;
  chromaShift_ = desc->log2_chroma_h;
  // Two bands meet at the multiple of 16 nearest the middle.
  std::vector<int> tops{0};
  if (bands > 1 && height >= 32) tops.push_back(std::clamp((height / 2 + 8) / 16 * 16, 16, height - 16));
  tops.push_back(height);
  for (size_t i = 0; i + 1 < tops.size(); ++i) {
    TBand band;
    band.top = tops[i];
    band.rows = tops[i + 1] - tops[i];
    band.sws =
        sws_getContext(width, band.rows, AV_PIX_FMT_BGR24, width, band.rows, format, flags, nullptr, nullptr, nullptr);
    if (!band.sws) {
      Close();
      return false;
    }
    if (colorspace) {
      const int* matrix = sws_getCoefficients(colorspace);
      sws_setColorspaceDetails(band.sws, matrix, 1, matrix, 0, 0, 1 << 16, 1 << 16);
    }
    bands_.push_back(band);
  }
  if (bands_.size() > 1) {
    stop_ = false;
    helper_ = std::thread([this] { Help(); });
  }
  return true;
}

void TFrameConverter::Close() {
  if (helper_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    helper_.join();
  }
  for (TBand& band : bands_) sws_freeContext(band.sws);
  bands_.clear();
}

void TFrameConverter::ConvertBand(const TBand& band) {
  // The DIB is bottom-up: the band's top row is stored last of its rows, and
  // the rows are walked backwards.
  const uint8_t* src[4] = {bits_ + static_cast<size_t>(stride_) * (height_ - 1 - band.top), nullptr, nullptr, nullptr};
  const int srcStride[4] = {-static_cast<int>(stride_), 0, 0, 0};
  uint8_t* dst[4] = {};
  for (int p = 0; p < 4 && frame_->data[p]; ++p) {
    // The planes after the first of a planar format are subsampled; a
    // packed format has only the one.
    const int top = p == 1 || p == 2 ? band.top >> chromaShift_ : band.top;
    dst[p] = frame_->data[p] + static_cast<ptrdiff_t>(frame_->linesize[p]) * top;
  }
  sws_scale(band.sws, src, srcStride, 0, band.rows, dst, frame_->linesize);
}

void TFrameConverter::TakeBands() {
  const int count = Bands();
  for (int b = nextBand_.fetch_add(1); b < count; b = nextBand_.fetch_add(1)) {
    ConvertBand(bands_[static_cast<size_t>(b)]);
    bandsDone_.fetch_add(1, std::memory_order_acq_rel);
  }
}

void TFrameConverter::Convert(const uint8_t* bits, uint32_t stride, AVFrame& frame) {
  bits_ = bits;
  stride_ = stride;
  frame_ = &frame;
  if (bands_.size() == 1) {
    ConvertBand(bands_[0]);
    return;
  }
  // The count first: a helper just out of the last frame may claim a band
  // the moment the claims open again, and its band must be counted.
  bandsDone_.store(0);
  nextBand_.store(0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++posted_;
  }
  wake_.notify_one();
  TakeBands();
  // Every band is taken; the helper may still be in its own.
  if (bandsDone_.load(std::memory_order_acquire) < Bands()) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return bandsDone_.load(std::memory_order_acquire) >= Bands(); });
  }
}

void TFrameConverter::Help() {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || posted_ != seen; });
    if (stop_) return;
    seen = posted_;
    lock.unlock();
    TakeBands();
    lock.lock();
    done_.notify_all();
  }
}

}  // namespace sdm
