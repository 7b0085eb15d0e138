#include "frames/U_BmpReader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "frames/U_ImageFile.h"
#include "platform/WinTypes.h"
#include "support/Errors.h"

namespace sdm {

namespace {

constexpr DWORD BI_JPEG = 4;
constexpr DWORD BI_PNG = 5;
constexpr DWORD BI_ALPHABITFIELDS = 6;

// A reader over the file image that never reads past its end: out-of-range
// reads give 0, and callers check Has() where running short is an error.
class TByteReader {
public:
  TByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Has(size_t pos, size_t count) const { return pos <= size_ && count <= size_ - pos; }
  uint8_t U8(size_t pos) const { return pos < size_ ? data_[pos] : 0; }
  uint16_t U16(size_t pos) const { return static_cast<uint16_t>(U8(pos) | (U8(pos + 1) << 8)); }
  uint32_t U32(size_t pos) const {
    return static_cast<uint32_t>(U16(pos)) | (static_cast<uint32_t>(U16(pos + 2)) << 16);
  }
  int32_t S32(size_t pos) const { return static_cast<int32_t>(U32(pos)); }
  size_t Size() const { return size_; }
  const uint8_t* At(size_t pos) const { return data_ + pos; }

private:
  const uint8_t* data_;
  size_t size_;
};

// One colour channel described by a bit mask: the value is scaled from the
// mask's range to 0..255 with rounding, so a 5-bit 31 becomes 255.
struct TChannel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;

  explicit TChannel(uint32_t m = 0) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    max = m >> shift;
  }
  uint8_t Get(uint32_t pixel) const {
    if (max == 0) return 0;
    uint64_t v = (pixel & mask) >> shift;
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
  }
};

struct TBmpInfo {
  uint32_t headerSize = 0;
  int64_t width = 0;
  int64_t height = 0;  // positive; topDown says the row order
  bool topDown = false;
  int bitCount = 0;
  DWORD compression = BI_RGB;
  uint32_t colorsUsed = 0;
  uint32_t masks[3] = {0, 0, 0};
  bool core = false;  // OS/2 1.x header: 3-byte palette entries
};

class TBmpDecoder {
public:
  TBmpDecoder(const uint8_t* data, size_t size, const std::string& fileName) : in_(data, size), fileName_(fileName) {}

  void Decode(TBitmap32& out) {
    ReadHeader();
    ReadPalette();
    FindPixelData();
    CheckPictureSize(fileName_, info_.width, info_.height);
    if (info_.compression == BI_RLE8 || info_.compression == BI_RLE4) {
      // A few bytes of RLE can declare a vast picture: walk the whole stream
      // once without writing, so broken data fails before anything is allocated.
      DecodeRle(nullptr);
      out.SetSize(static_cast<int>(info_.width), static_cast<int>(info_.height));
      DecodeRle(&out);
    } else {
      CheckUncompressedSize();
      out.SetSize(static_cast<int>(info_.width), static_cast<int>(info_.height));
      DecodeRows(out);
    }
  }

private:
  [[noreturn]] void Fail(const std::string& reason) const { throw EError(PictureError(fileName_, reason)); }

  void ReadHeader() {
    if (in_.U8(0) != 'B' || in_.U8(1) != 'M') Fail("not a BMP file");
    if (!in_.Has(0, 18)) Fail("truncated BMP header");
    info_.headerSize = in_.U32(14);
    const uint32_t hs = info_.headerSize;
    if (hs == 12) {
      if (!in_.Has(14, 12)) Fail("truncated BMP header");
      info_.core = true;
      info_.width = in_.U16(18);
      info_.height = static_cast<int16_t>(in_.U16(20));
      info_.bitCount = in_.U16(24);
    } else if (hs == 40 || hs == 52 || hs == 56 || hs == 64 || hs == 108 || hs == 124) {
      if (!in_.Has(14, hs)) Fail("truncated BMP header");
      info_.width = in_.S32(18);
      info_.height = in_.S32(22);
      info_.bitCount = in_.U16(28);
      info_.compression = in_.U32(30);
      info_.colorsUsed = in_.U32(46);
      if (hs == 64 && info_.compression > BI_RLE4) Fail("unsupported OS/2 BMP compression");
    } else {
      Fail("unsupported BMP header size " + std::to_string(hs));
    }
    if (info_.height < 0) {
      info_.topDown = true;
      info_.height = -info_.height;
    }
    if (info_.width <= 0 || info_.height <= 0) Fail("zero or negative picture size");
    ReadMasks();
  }

  void ReadMasks() {
    const DWORD c = info_.compression;
    const int bpp = info_.bitCount;
    switch (c) {
      case BI_RGB:
        if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
          Fail("unsupported BMP bit count " + std::to_string(bpp));
        if (bpp == 16) SetMasks(0x7C00, 0x03E0, 0x001F);
        if (bpp == 32) SetMasks(0x00FF0000, 0x0000FF00, 0x000000FF);
        break;
      case BI_RLE8:
        if (bpp != 8) Fail("RLE8 needs 8 bits per pixel");
        break;
      case BI_RLE4:
        if (bpp != 4) Fail("RLE4 needs 4 bits per pixel");
        break;
      case BI_BITFIELDS:
      case BI_ALPHABITFIELDS: {
        if (bpp != 16 && bpp != 32) Fail("bit fields need 16 or 32 bits per pixel");
        // A 40-byte header is followed by the masks; later headers hold them.
        const size_t pos = 14 + 40;
        if (!in_.Has(pos, 12)) Fail("truncated BMP bit fields");
        SetMasks(in_.U32(pos), in_.U32(pos + 4), in_.U32(pos + 8));
        masksAfterHeader_ = info_.headerSize == 40 ? (c == BI_ALPHABITFIELDS ? 16 : 12) : 0;
        break;
      }
      case BI_JPEG:
      case BI_PNG: Fail("embedded JPEG or PNG data in BMP files is not supported");
      default: Fail("unsupported BMP compression " + std::to_string(c));
    }
  }

  void SetMasks(uint32_t r, uint32_t g, uint32_t b) {
    red_ = TChannel(r);
    green_ = TChannel(g);
    blue_ = TChannel(b);
  }

  void ReadPalette() {
    paletteStart_ = 14 + info_.headerSize + masksAfterHeader_;
    if (info_.bitCount > 8) return;
    const uint32_t full = 1u << info_.bitCount;
    uint32_t n = info_.colorsUsed == 0 || info_.colorsUsed > full ? full : info_.colorsUsed;
    const size_t entry = info_.core ? 3 : 4;
    // Some writers declare more entries than they store: keep what is there.
    const size_t avail = paletteStart_ < in_.Size() ? (in_.Size() - paletteStart_) / entry : 0;
    n = static_cast<uint32_t>(std::min<size_t>(n, avail));
    palette_.assign(full, Color32(0, 0, 0));  // indices beyond the palette are black
    for (uint32_t i = 0; i < n; ++i) {
      const size_t p = paletteStart_ + i * entry;
      palette_[i] = Color32(in_.U8(p + 2), in_.U8(p + 1), in_.U8(p));
    }
    paletteEnd_ = paletteStart_ + n * entry;
  }

  void FindPixelData() {
    const uint32_t declared = in_.U32(10);
    const size_t minimum = info_.bitCount > 8 ? paletteStart_ : paletteEnd_;
    // Trust the declared offset when it lies past the headers and inside the
    // file; a zero or wild offset from a careless writer falls back to the
    // data that follows the palette.
    pixels_ = declared >= 14 + info_.headerSize && declared < in_.Size() ? declared : minimum;
    if (pixels_ >= in_.Size()) Fail("no pixel data");
  }

  uint64_t Stride() const { return (static_cast<uint64_t>(info_.width) * info_.bitCount + 31) / 32 * 4; }

  void CheckUncompressedSize() {
    const uint64_t rowBytes = (static_cast<uint64_t>(info_.width) * info_.bitCount + 7) / 8;
    // The last row's padding is often missing; its pixels must be there.
    const uint64_t need = Stride() * static_cast<uint64_t>(info_.height - 1) + rowBytes;
    if (need > in_.Size() - pixels_) Fail("truncated BMP pixel data");
  }

  int ScreenRow(int64_t storedRow) const {
    return static_cast<int>(info_.topDown ? storedRow : info_.height - 1 - storedRow);
  }

  void DecodeRows(TBitmap32& out) {
    const int w = static_cast<int>(info_.width);
    const int bpp = info_.bitCount;
    for (int64_t r = 0; r < info_.height; ++r) {
      const uint8_t* src = in_.At(pixels_ + static_cast<size_t>(r * static_cast<int64_t>(Stride())));
      TColor32* dst = out.Row(ScreenRow(r));
      switch (bpp) {
        case 1:
        case 2:
        case 4:
        case 8: {
          const int perByte = 8 / bpp;
          const unsigned mask = (1u << bpp) - 1;
          for (int x = 0; x < w; ++x) {
            const int shift = 8 - bpp * (x % perByte + 1);
            dst[x] = palette_[(src[x / perByte] >> shift) & mask];
          }
          break;
        }
        case 16:
          for (int x = 0; x < w; ++x) dst[x] = Masked(static_cast<uint32_t>(src[2 * x] | (src[2 * x + 1] << 8)));
          break;
        case 24:
          for (int x = 0; x < w; ++x) dst[x] = Color32(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
          break;
        case 32:
          for (int x = 0; x < w; ++x) {
            const uint8_t* p = src + 4 * x;
            dst[x] = Masked(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                            (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
          }
          break;
      }
    }
  }

  TColor32 Masked(uint32_t pixel) const { return Color32(red_.Get(pixel), green_.Get(pixel), blue_.Get(pixel)); }

  // RLE8 and RLE4: pairs of (count, value) with escapes for end of line, end
  // of picture, a jump, and absolute runs padded to 16 bits. Pixels the data
  // never reaches stay black; runs that overshoot the row are clipped.
  void DecodeRle(TBitmap32* out) {
    const bool four = info_.compression == BI_RLE4;
    const int64_t w = info_.width;
    const int64_t h = info_.height;
    int64_t x = 0;
    int64_t y = 0;  // stored row, from the bottom unless the picture is top-down
    size_t p = pixels_;
    auto put = [&](unsigned index) {
      if (out && x < w && y < h) out->Row(ScreenRow(y))[x] = palette_[index & 0xFF];
      ++x;
    };
    while (y < h) {
      if (!in_.Has(p, 2)) Fail("truncated RLE data");
      const unsigned count = in_.U8(p);
      const unsigned value = in_.U8(p + 1);
      p += 2;
      if (count > 0) {
        for (unsigned i = 0; i < count; ++i) put(four ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
        continue;
      }
      if (value == 0) {  // end of line
        x = 0;
        ++y;
      } else if (value == 1) {  // end of picture
        return;
      } else if (value == 2) {  // jump right and up
        if (!in_.Has(p, 2)) Fail("truncated RLE data");
        x += in_.U8(p);
        y += in_.U8(p + 1);
        p += 2;
      } else {  // absolute run of `value` pixels
        const size_t bytes = four ? (value + 1) / 2 : value;
        if (!in_.Has(p, bytes)) Fail("truncated RLE data");
        for (unsigned i = 0; i < value; ++i) {
          const uint8_t b = in_.U8(p + (four ? i / 2 : i));
          put(four ? (i % 2 == 0 ? b >> 4 : b & 0x0F) : b);
        }
        p += (bytes + 1) & ~static_cast<size_t>(1);
      }
    }
  }

  TByteReader in_;
  const std::string& fileName_;
  TBmpInfo info_;
  size_t masksAfterHeader_ = 0;
  size_t paletteStart_ = 0;
  size_t paletteEnd_ = 0;
  size_t pixels_ = 0;
  std::vector<TColor32> palette_;
  TChannel red_, green_, blue_;
};

}  // namespace

void ReadBmp(const uint8_t* data, size_t size, const std::string& fileName, TBitmap32& out) {
  TBmpDecoder(data, size, fileName).Decode(out);
}

}  // namespace sdm
