#include "frames/U_BmpWriter.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "frames/U_BmpReader.h"
#include "frames/U_ImageFile.h"
#include "support/Errors.h"

namespace sdm {

void Bitmap32ToDib24(const TBitmap32& src, TDib24& dst) {
  const int w = src.Width();
  const int h = src.Height();
  dst.SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    const TColor32* s = src.Row(y);
    uint8_t* d = dst.TopRow(y);
    for (int x = 0; x < w; ++x) {
      d[3 * x] = BlueOf(s[x]);
      d[3 * x + 1] = GreenOf(s[x]);
      d[3 * x + 2] = RedOf(s[x]);
    }
  }
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
