#pragma once
// TDib24: a 24-bit device-independent bitmap, the form in which frames reach
// the compressors and the preview: rows of 3 × width bytes in blue, green, red
// order, padded to a multiple of 4 bytes, bottom row first, described by a
// 40-byte BITMAPINFOHEADER (positive height, 1 plane, 24 bits, BI_RGB).
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "platform/WinTypes.h"

namespace sdm {

struct TDib24 {
  BITMAPINFOHEADER Header;
  std::vector<uint8_t> Bits;

  TDib24() { Header.biBitCount = 24; }
  TDib24(int width, int height) { SetSize(width, height); }

  void SetSize(int width, int height) {
    if (width < 0 || height < 0) throw std::invalid_argument("negative bitmap size");
    Header = BITMAPINFOHEADER{};
    Header.biWidth = width;
    Header.biHeight = height;
    Header.biBitCount = 24;
    Header.biCompression = BI_RGB;
    Header.biSizeImage = DibStride(width, 24) * static_cast<uint32_t>(height);
    Bits.assign(Header.biSizeImage, 0);
  }
  int Width() const { return Header.biWidth; }
  int Height() const { return Header.biHeight; }
  uint32_t Stride() const { return DibStride(Header.biWidth, 24); }
  // Row 0 is the BOTTOM row of the picture, as stored.
  uint8_t* StoredRow(int i) { return Bits.data() + static_cast<size_t>(i) * Stride(); }
  const uint8_t* StoredRow(int i) const { return Bits.data() + static_cast<size_t>(i) * Stride(); }
  // Row y counted from the top of the picture.
  uint8_t* TopRow(int y) { return StoredRow(Header.biHeight - 1 - y); }
  const uint8_t* TopRow(int y) const { return StoredRow(Header.biHeight - 1 - y); }
};

}  // namespace sdm
