#include "frames/Bitmap32.h"

#include <algorithm>
#include <stdexcept>

namespace sdm {

void TBitmap32::SetSize(int width, int height) {
  SetSizeForOverwrite(width, height);
  std::fill(pixels_.begin(), pixels_.end(), Color32(0, 0, 0));
}

void TBitmap32::SetSizeForOverwrite(int width, int height) {
  if (width < 0 || height < 0) throw std::invalid_argument("negative bitmap size");
  if (width == 0 || height == 0) width = height = 0;
  width_ = width;
  height_ = height;
  pixels_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
}

void TBitmap32::FillRect(int left, int top, int right, int bottom, TColor32 c) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, width_);
  bottom = std::min(bottom, height_);
  for (int y = top; y < bottom; ++y) std::fill(Row(y) + left, Row(y) + right, c);
}

void TBitmap32::CopyRect(int dstLeft, int dstTop, const TBitmap32& src, int srcLeft, int srcTop, int width,
                         int height) {
  // Clip against the source, then against the destination.
  if (srcLeft < 0) {
    dstLeft -= srcLeft;
    width += srcLeft;
    srcLeft = 0;
  }
  if (srcTop < 0) {
    dstTop -= srcTop;
    height += srcTop;
    srcTop = 0;
  }
  if (dstLeft < 0) {
    srcLeft -= dstLeft;
    width += dstLeft;
    dstLeft = 0;
  }
  if (dstTop < 0) {
    srcTop -= dstTop;
    height += dstTop;
    dstTop = 0;
  }
  width = std::min({width, src.width_ - srcLeft, width_ - dstLeft});
  height = std::min({height, src.height_ - srcTop, height_ - dstTop});
  if (width <= 0 || height <= 0) return;
  for (int y = 0; y < height; ++y) std::copy_n(src.Row(srcTop + y) + srcLeft, width, Row(dstTop + y) + dstLeft);
}

}  // namespace sdm
