#include "frames/ExifOrientation.h"

#include <cstring>

namespace sdm {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kEntrySize = 12;  // tag, type, count, value or offset

// The TIFF structure inside the segment, in its own byte order. Every read is
// checked against the end first; out-of-range reads give 0.
class TTiffBytes {
public:
  TTiffBytes(const uint8_t* data, size_t size, bool littleEndian) : data_(data), size_(size), little_(littleEndian) {}
  bool Has(size_t pos, size_t count) const { return pos <= size_ && count <= size_ - pos; }
  uint16_t U16(size_t pos) const {
    if (!Has(pos, 2)) return 0;
    const uint8_t* p = data_ + pos;
    return little_ ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : static_cast<uint16_t>((p[0] << 8) | p[1]);
  }
  uint32_t U32(size_t pos) const {
    const uint32_t a = U16(pos), b = U16(pos + 2);
    return little_ ? a | (b << 16) : (a << 16) | b;
  }

private:
  const uint8_t* data_;
  size_t size_;
  bool little_;
};

// The directory at ifd when its entries lie wholly inside the segment: a
// directory cut short is a garbled block, and none of it is believed.
bool WholeDirectory(const TTiffBytes& in, size_t ifd, size_t& entries) {
  if (!in.Has(ifd, 2)) return false;
  entries = in.U16(ifd);
  return in.Has(ifd + 2, entries * kEntrySize + 4);
}

bool OpenTiff(const uint8_t* data, size_t size, const uint8_t*& tiff, size_t& tiffSize, bool& little) {
  static const uint8_t kSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (data == nullptr || size < sizeof kSignature + 8 || std::memcmp(data, kSignature, sizeof kSignature) != 0)
    return false;
  tiff = data + sizeof kSignature;
  tiffSize = size - sizeof kSignature;
  if (tiff[0] == 'I' && tiff[1] == 'I')
    little = true;
  else if (tiff[0] == 'M' && tiff[1] == 'M')
    little = false;
  else
    return false;
  return TTiffBytes(tiff, tiffSize, little).U16(2) == 42;
}

// Where the stored pixel (x, y) of a w × h picture lands in the bitmap that
// stands upright: at origin + y × perRow + x × perColumn.
struct TPlacement {
  ptrdiff_t origin, perRow, perColumn;
};

TPlacement PlacementFor(int orientation, ptrdiff_t w, ptrdiff_t h) {
  switch (orientation) {
    case 2: return {w - 1, w, -1};        // (w-1-x, y)
    case 3: return {w * h - 1, -w, -1};   // (w-1-x, h-1-y)
    case 4: return {(h - 1) * w, -w, 1};  // (x, h-1-y)
    case 5: return {0, 1, h};             // (y, x) in an h-wide bitmap
    case 6: return {h - 1, -1, h};        // (h-1-y, x)
    case 7: return {w * h - 1, -1, -h};   // (h-1-y, w-1-x)
    case 8: return {(w - 1) * h, 1, -h};  // (y, w-1-x)
    default: return {0, w, 1};
  }
}

}  // namespace

int ExifOrientation(const uint8_t* data, size_t size) {
  const uint8_t* tiff = nullptr;
  size_t tiffSize = 0;
  bool little = false;
  if (!OpenTiff(data, size, tiff, tiffSize, little)) return kOrientationUpright;
  const TTiffBytes in(tiff, tiffSize, little);

  const size_t ifd = in.U32(4);
  if (!in.Has(ifd, 2)) return kOrientationUpright;
  const size_t entries = in.U16(ifd);
  // A directory cut short is a garbled block: none of it is believed, not even
  // an orientation among the entries that happen to be there.
  if (!in.Has(ifd + 2, entries * kEntrySize)) return kOrientationUpright;
  for (size_t i = 0; i < entries; ++i) {
    const size_t e = ifd + 2 + i * kEntrySize;
    if (in.U16(e) != kOrientationTag) continue;
    if (in.U16(e + 2) != kTypeShort || in.U32(e + 4) != 1) return kOrientationUpright;
    const int value = in.U16(e + 8);  // a single SHORT sits at the start of the value field
    return value >= 1 && value <= 8 ? value : kOrientationUpright;
  }
  return kOrientationUpright;
}

bool ExifThumbnail(const uint8_t* data, size_t size, size_t& offset, size_t& length) {
  const uint8_t* tiff = nullptr;
  size_t tiffSize = 0;
  bool little = false;
  if (!OpenTiff(data, size, tiff, tiffSize, little)) return false;
  const TTiffBytes in(tiff, tiffSize, little);
  size_t entries = 0;
  const size_t ifd0 = in.U32(4);
  if (!WholeDirectory(in, ifd0, entries)) return false;
  const size_t ifd1 = in.U32(ifd0 + 2 + entries * kEntrySize);
  if (ifd1 == 0 || ifd1 == ifd0 || !WholeDirectory(in, ifd1, entries)) return false;
  constexpr uint16_t kThumbnailOffset = 0x0201, kThumbnailLength = 0x0202, kTypeLong = 4;
  size_t at = 0, count = 0;
  for (size_t i = 0; i < entries; ++i) {
    const size_t e = ifd1 + 2 + i * kEntrySize;
    const uint16_t tag = in.U16(e), type = in.U16(e + 2);
    if (in.U32(e + 4) != 1 || (type != kTypeLong && type != kTypeShort)) continue;
    const size_t value = type == kTypeLong ? in.U32(e + 8) : in.U16(e + 8);
    if (tag == kThumbnailOffset) at = value;
    if (tag == kThumbnailLength) count = value;
  }
  if (at == 0 || count == 0 || !in.Has(at, count)) return false;
  offset = static_cast<size_t>(tiff - data) + at;
  length = count;
  return true;
}

// Rows stored [y0, y0 + rows) of a w × h picture, band[r × w + x], put where
// they stand. For a quarter turn each stored row becomes a column, so the
// band is walked across first: the rows of one column land side by side.
void PlaceBand(const TColor32* band, int y0, int rows, int w, int h, int orientation, TBitmap32& out) {
  const TPlacement p = PlacementFor(orientation, w, h);
  TColor32* dst = out.Bits();
  if (OrientationSwapsSides(orientation)) {
    for (ptrdiff_t x = 0; x < w; ++x) {
      TColor32* column = dst + p.origin + x * p.perColumn + y0 * p.perRow;
      for (ptrdiff_t r = 0; r < rows; ++r) column[r * p.perRow] = band[r * w + x];
    }
  } else {
    for (ptrdiff_t r = 0; r < rows; ++r) {
      TColor32* row = dst + p.origin + (y0 + r) * p.perRow;
      for (ptrdiff_t x = 0; x < w; ++x) row[x * p.perColumn] = band[r * w + x];
    }
  }
}

void TurnUpright(TBitmap32& bitmap, int orientation) {
  if (orientation < 2 || orientation > 8 || bitmap.Empty()) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  TBitmap32 turned;
  if (OrientationSwapsSides(orientation))
    turned.SetSizeForOverwrite(h, w);
  else
    turned.SetSizeForOverwrite(w, h);
  PlaceBand(bitmap.Bits(), 0, h, w, h, orientation, turned);
  bitmap = std::move(turned);
}

}  // namespace sdm
