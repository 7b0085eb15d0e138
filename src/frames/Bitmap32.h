#pragma once
// TBitmap32: the 32-bit bitmap of frames and fitted pictures. Pixels are
// 0xAARRGGBB, stored row by row from the top; the alpha byte never reaches
// the video.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace sdm {

// An allocator whose elements start uninitialised when made without a value,
// so that a bitmap about to be overwritten whole is not filled first.
template <typename T>
class TForOverwriteAllocator : public std::allocator<T> {
public:
  template <typename U>
  struct rebind {
    using other = TForOverwriteAllocator<U>;
  };
  TForOverwriteAllocator() = default;
  template <typename U>
  TForOverwriteAllocator(const TForOverwriteAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using TColor32 = uint32_t;

constexpr TColor32 Color32(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
  return (static_cast<TColor32>(a) << 24) | (static_cast<TColor32>(r) << 16) | (static_cast<TColor32>(g) << 8) | b;
}
constexpr uint8_t RedOf(TColor32 c) { return static_cast<uint8_t>(c >> 16); }
constexpr uint8_t GreenOf(TColor32 c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t BlueOf(TColor32 c) { return static_cast<uint8_t>(c); }
constexpr uint8_t AlphaOf(TColor32 c) { return static_cast<uint8_t>(c >> 24); }

class TBitmap32 {
public:
  TBitmap32() = default;
  TBitmap32(int width, int height) { SetSize(width, height); }

  // Resizes to width × height; the contents become black (0xFF000000).
  // A size with a zero side gives an empty bitmap. Negative sizes are refused
  // with std::invalid_argument.
  void SetSize(int width, int height);
  // Resizes like SetSize but leaves the pixels undefined, for a caller that
  // writes every one of them next; the storage is kept when it is large
  // enough, so a bitmap reused for frame after frame or picture after
  // picture costs no clearing and no fresh memory.
  void SetSizeForOverwrite(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  TColor32 Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  void SetPixel(int x, int y, TColor32 c) { pixels_[static_cast<size_t>(y) * width_ + x] = c; }
  TColor32* Row(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const TColor32* Row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
  TColor32* Bits() { return pixels_.data(); }
  const TColor32* Bits() const { return pixels_.data(); }

  // Fills the rectangle [left, right) × [top, bottom), clipped to the bitmap.
  void FillRect(int left, int top, int right, int bottom, TColor32 c);
  // Copies the width × height rectangle of src at (srcLeft, srcTop) to
  // (dstLeft, dstTop), clipped to both bitmaps.
  void CopyRect(int dstLeft, int dstTop, const TBitmap32& src, int srcLeft, int srcTop, int width, int height);

  bool operator==(const TBitmap32& o) const {
    return width_ == o.width_ && height_ == o.height_ && pixels_ == o.pixels_;
  }

private:
  int width_ = 0;
  int height_ = 0;
  std::vector<TColor32, TForOverwriteAllocator<TColor32>> pixels_;
};

}  // namespace sdm
