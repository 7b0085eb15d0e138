#pragma once
// The few Windows types and structures our stand-in layers share: sized
// integers, FourCC codes, result codes and the 40-byte bitmap information
// header through which frames travel to the compressors and into AVI files.
#include <cstdint>
#include <cstring>
#include <string>

namespace sdm {

using DWORD = uint32_t;
using WORD = uint16_t;
using LONG = int32_t;
using BYTE = uint8_t;
using FOURCC = uint32_t;
using HRESULT = int32_t;
using LRESULT = intptr_t;

// Packs four characters into a FourCC, first character in the low byte.
constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
  return static_cast<FOURCC>(static_cast<uint8_t>(a)) | (static_cast<FOURCC>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<FOURCC>(static_cast<uint8_t>(c)) << 16) | (static_cast<FOURCC>(static_cast<uint8_t>(d)) << 24);
}

// mmioStringToFOURCCA without flags: the first four characters, padded with
// spaces when the text is shorter.
inline FOURCC mmioStringToFOURCC(const std::string& s) {
  char c[4] = {' ', ' ', ' ', ' '};
  for (size_t i = 0; i < 4 && i < s.size(); ++i) c[i] = s[i];
  return mmioFOURCC(c[0], c[1], c[2], c[3]);
}

// The four characters of a FourCC, low byte first.
inline std::string FourCCChars(FOURCC f) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((f >> (8 * i)) & 0xFF);
  return s;
}

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

#pragma pack(push, 1)
// BITMAPINFOHEADER, exactly 40 bytes little-endian as stored in files.
struct BITMAPINFOHEADER {
  DWORD biSize = 40;
  LONG biWidth = 0;
  LONG biHeight = 0;
  WORD biPlanes = 1;
  WORD biBitCount = 0;
  DWORD biCompression = BI_RGB;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER must be 40 bytes");

// Bytes per row of a DIB: rows are padded to a multiple of 4 bytes.
constexpr uint32_t DibStride(int width, int bitCount) {
  return ((static_cast<uint32_t>(width) * static_cast<uint32_t>(bitCount) + 31u) / 32u) * 4u;
}

// HRESULT helpers.
constexpr HRESULT S_OK = 0;
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

}  // namespace sdm
