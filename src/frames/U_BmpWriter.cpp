#include "frames/U_BmpWriter.h"

#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "frames/U_BmpReader.h"
#include "frames/U_ImageFile.h"
#include "support/Errors.h"

namespace sdm {

namespace {

// One row of 32-bit pixels as 24-bit BGR (on little-endian machines
// 0xAARRGGBB is B, G, R, A in memory). Eight pixels at a time: each 64-bit
// lane of two pixels drops its alpha bytes into 6 bytes, and four such
// groups go out as three 64-bit words.
void PackRow(const TColor32* s, uint8_t* d, int w) {
  int x = 0;
#if defined(__SSE2__)
  const __m128i first = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF), second = _mm_set_epi32(0xFFFFFF, 0, 0xFFFFFF, 0);
  auto six = [&](__m128i p) {
    return _mm_or_si128(_mm_and_si128(p, first), _mm_srli_epi64(_mm_and_si128(p, second), 8));
  };
  for (; x + 8 <= w; x += 8, s += 8, d += 24) {
    const __m128i lo = six(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
    const __m128i hi = six(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4)));
    const uint64_t g0 = static_cast<uint64_t>(_mm_cvtsi128_si64(lo));
    const uint64_t g1 = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(lo, lo)));
    const uint64_t g2 = static_cast<uint64_t>(_mm_cvtsi128_si64(hi));
    const uint64_t g3 = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(hi, hi)));
    const uint64_t words[3] = {g0 | g1 << 48, g1 >> 16 | g2 << 32, g2 >> 32 | g3 << 16};
    std::memcpy(d, words, sizeof words);
  }
#endif
  for (; x < w; ++x, ++s, d += 3) {
    d[0] = BlueOf(*s);
    d[1] = GreenOf(*s);
    d[2] = RedOf(*s);
  }
}

}  // namespace

void Bitmap32ToDib24(const TBitmap32& src, TDib24& dst) {
  static_assert(std::endian::native == std::endian::little, "PackRow stores pixels in little-endian words");
  const int w = src.Width();
  const int h = src.Height();
  // A DIB of the right size is overwritten in place: its row padding is
  // still the zeros SetSize left there, and nothing else needs clearing.
  if (dst.Width() != w || dst.Height() != h || dst.Header.biBitCount != 24 ||
      dst.Bits.size() != static_cast<size_t>(DibStride(w, 24)) * static_cast<size_t>(h))
    dst.SetSize(w, h);
  for (int y = 0; y < h; ++y) PackRow(src.Row(y), dst.TopRow(y), w);
}

TDib24 Bitmap32ToDib24(const TBitmap32& src) {
  TDib24 dib;
  Bitmap32ToDib24(src, dib);
  return dib;
}

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// The 14-byte file header and the 40-byte info header, little-endian.
std::vector<uint8_t> BmpHeaders(const TDib24& dib) {
  const uint32_t image = dib.Stride() * static_cast<uint32_t>(dib.Height());
  std::vector<uint8_t> b;
  b.reserve(54);
  b.push_back('B');
  b.push_back('M');
  Put32(b, 54 + image);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(dib.Width()));
  Put32(b, static_cast<uint32_t>(dib.Height()));
  Put16(b, 1);
  Put16(b, 24);
  Put32(b, BI_RGB);
  Put32(b, image);
  Put32(b, static_cast<uint32_t>(dib.Header.biXPelsPerMeter));
  Put32(b, static_cast<uint32_t>(dib.Header.biYPelsPerMeter));
  Put32(b, 0);
  Put32(b, 0);
  return b;
}

}  // namespace

void SaveBmp24(const TDib24& dib, const std::string& fileName) {
  const size_t image = static_cast<size_t>(dib.Stride()) * static_cast<size_t>(dib.Height());
  if (dib.Header.biBitCount != 24 || dib.Height() < 0 || dib.Bits.size() < image)
    throw EError("Cannot write \"" + fileName + "\": not a 24-bit bottom-up bitmap");
  const std::string part = fileName + ".part";
  const std::vector<uint8_t> headers = BmpHeaders(dib);
  std::FILE* f = std::fopen(part.c_str(), "wb");
  if (!f) throw EError("Cannot write \"" + fileName + "\": the file cannot be created");
  bool ok = std::fwrite(headers.data(), 1, headers.size(), f) == headers.size();
  ok = ok && (image == 0 || std::fwrite(dib.Bits.data(), 1, image, f) == image);
  ok = std::fflush(f) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  std::error_code ec;
  if (ok) std::filesystem::rename(part, fileName, ec);
  if (!ok || ec) {
    std::filesystem::remove(part, ec);
    throw EError("Cannot write \"" + fileName + "\": the disk may be full or write-protected");
  }
}

void SaveBmp24(const TBitmap32& bitmap, const std::string& fileName) { SaveBmp24(Bitmap32ToDib24(bitmap), fileName); }

TDib24 LoadBmp24(const std::string& fileName) {
  const std::vector<uint8_t> data = ReadPictureFile(fileName);
  TBitmap32 bitmap;
  ReadBmp(data.data(), data.size(), fileName, bitmap);
  return Bitmap32ToDib24(bitmap);
}

}  // namespace sdm
