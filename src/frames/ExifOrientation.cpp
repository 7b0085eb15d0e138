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

}  // namespace

int ExifOrientation(const uint8_t* data, size_t size) {
  static const uint8_t kSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (data == nullptr || size < sizeof kSignature + 8 || std::memcmp(data, kSignature, sizeof kSignature) != 0)
    return kOrientationUpright;
  const uint8_t* tiff = data + sizeof kSignature;
  const size_t tiffSize = size - sizeof kSignature;
  bool little = false;
  if (tiff[0] == 'I' && tiff[1] == 'I')
    little = true;
  else if (!(tiff[0] == 'M' && tiff[1] == 'M'))
    return kOrientationUpright;
  const TTiffBytes in(tiff, tiffSize, little);
  if (in.U16(2) != 42) return kOrientationUpright;

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

}  // namespace sdm
