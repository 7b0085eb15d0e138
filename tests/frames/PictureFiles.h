#pragma once
// Builders of picture files for the tests: BMP files of every header and pixel
// layout written byte by byte here (independently of our reader), and JPEG
// files made by libjpeg's own compressor.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "testsupport/JpegWriter.h"

namespace sdm::test {

inline void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

struct BmpLayout {
  int headerSize = 40;  // 12 (core), 40, 108 (V4), 124 (V5)
  int bitCount = 24;
  uint32_t compression = 0;
  bool topDown = false;
  std::vector<uint32_t> palette;  // 0xRRGGBB
  std::vector<uint32_t> masks;    // red, green, blue: after a 40-byte header, inside V4/V5
};

// A BMP file around already encoded pixel data (rows in stored order).
inline std::vector<uint8_t> MakeBmp(int width, int height, const BmpLayout& l, const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> h;
  const bool core = l.headerSize == 12;
  Put32(h, static_cast<uint32_t>(l.headerSize));
  if (core) {
    Put16(h, static_cast<uint32_t>(width));
    Put16(h, static_cast<uint32_t>(height));
    Put16(h, 1);
    Put16(h, static_cast<uint32_t>(l.bitCount));
  } else {
    Put32(h, static_cast<uint32_t>(width));
    Put32(h, static_cast<uint32_t>(l.topDown ? -height : height));
    Put16(h, 1);
    Put16(h, static_cast<uint32_t>(l.bitCount));
    Put32(h, l.compression);
    Put32(h, static_cast<uint32_t>(pixels.size()));
    Put32(h, 2835);
    Put32(h, 2835);
    Put32(h, static_cast<uint32_t>(l.palette.size()));
    Put32(h, 0);
    if (l.headerSize > 40) {
      for (size_t i = 0; i < 4; ++i) Put32(h, i < l.masks.size() ? l.masks[i] : 0);
      while (h.size() < static_cast<size_t>(l.headerSize)) h.push_back(0);
    } else {
      for (uint32_t m : l.masks) Put32(h, m);
    }
  }
  for (uint32_t c : l.palette) {
    h.push_back(static_cast<uint8_t>(c));
    h.push_back(static_cast<uint8_t>(c >> 8));
    h.push_back(static_cast<uint8_t>(c >> 16));
    if (!core) h.push_back(0);
  }
  std::vector<uint8_t> f = {'B', 'M'};
  Put32(f, static_cast<uint32_t>(14 + h.size() + pixels.size()));
  Put32(f, 0);
  Put32(f, static_cast<uint32_t>(14 + h.size()));
  f.insert(f.end(), h.begin(), h.end());
  f.insert(f.end(), pixels.begin(), pixels.end());
  return f;
}

// Encodes 8-bit samples (components per pixel as the colour space needs) with
// libjpeg. Adobe's marker is written for CMYK, as libjpeg always does.
inline std::vector<uint8_t> MakeJpeg(int width, int height, int components, J_COLOR_SPACE space,
                                     const std::vector<uint8_t>& samples, bool progressive = false, int quality = 100,
                                     J_COLOR_SPACE stored = JCS_UNKNOWN, bool adobeMarker = true) {
  return EncodeJpeg(width, height, components, space, RowsOf(samples, width, components), [&](jpeg_compress_struct& c) {
    jpeg_set_quality(&c, quality, TRUE);
    if (space == JCS_RGB) {  // no chroma subsampling: flat colours come back closely
      for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    }
    if (stored != JCS_UNKNOWN) jpeg_set_colorspace(&c, stored);
    if (!adobeMarker) c.write_Adobe_marker = FALSE;
    if (progressive) jpeg_simple_progression(&c);
  });
}

// Flat-coloured RGB samples with a colour per 8 × 8 block row, so the blocks
// survive compression nearly unchanged.
inline std::vector<uint8_t> BlockRgb(int width, int height, const std::vector<uint32_t>& rowColours) {
  std::vector<uint8_t> s;
  s.reserve(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t c = rowColours[static_cast<size_t>(y / 8) % rowColours.size()];
      s.push_back(static_cast<uint8_t>(c >> 16));
      s.push_back(static_cast<uint8_t>(c >> 8));
      s.push_back(static_cast<uint8_t>(c));
    }
  return s;
}

// EXIF blocks as cameras write them: "Exif\0\0", a TIFF header in either
// byte order, then image file directories laid out one after another from
// offset 8, each with its entries and its link to the next (0: none).
struct ExifEntry {
  uint16_t tag = 0;
  uint16_t type = 3;  // SHORT
  uint32_t count = 1;
  uint32_t value = 0;  // a SHORT sits in the first two bytes of the field
};
struct ExifIfd {
  std::vector<ExifEntry> entries;
  uint32_t next = 0;
};

// Where each directory of ExifPayload(ifds) starts, from the TIFF header.
inline std::vector<uint32_t> ExifIfdOffsets(const std::vector<ExifIfd>& ifds) {
  std::vector<uint32_t> at;
  uint32_t pos = 8;
  for (const ExifIfd& d : ifds) {
    at.push_back(pos);
    pos += static_cast<uint32_t>(2 + 12 * d.entries.size() + 4);
  }
  return at;
}

inline std::vector<uint8_t> ExifPayload(const std::vector<ExifIfd>& ifds, bool bigEndian = false) {
  std::vector<uint8_t> b;
  b.reserve(256);  // also keeps GCC's bounds warnings quiet about the growth below
  for (char ch : {'E', 'x', 'i', 'f', '\0', '\0'}) b.push_back(static_cast<uint8_t>(ch));
  auto put16 = [&](uint32_t v) {
    if (bigEndian) {
      b.push_back(static_cast<uint8_t>(v >> 8));
      b.push_back(static_cast<uint8_t>(v));
    } else {
      Put16(b, v);
    }
  };
  auto put32 = [&](uint32_t v) {
    if (bigEndian) {
      put16(v >> 16);
      put16(v & 0xFFFF);
    } else {
      Put32(b, v);
    }
  };
  const uint8_t order = bigEndian ? 'M' : 'I';
  b.push_back(order);
  b.push_back(order);
  put16(42);
  put32(8);
  for (const ExifIfd& d : ifds) {
    put16(static_cast<uint32_t>(d.entries.size()));
    for (const ExifEntry& e : d.entries) {
      put16(e.tag);
      put16(e.type);
      put32(e.count);
      if (e.type == 3 && e.count == 1) {
        put16(e.value);
        put16(0);
      } else {
        put32(e.value);
      }
    }
    put32(d.next);
  }
  return b;
}

// The usual camera block: a few other tags around the orientation.
inline std::vector<uint8_t> ExifWithOrientation(int orientation, bool bigEndian = false) {
  return ExifPayload({{{{0x010F, 2, 4, 0}, {0x0112, 3, 1, static_cast<uint32_t>(orientation)}, {0x011A, 5, 1, 0}}}},
                     bigEndian);
}

// The JPEG with an APP1 segment holding payload right after its start marker.
inline std::vector<uint8_t> WithApp1(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f;
  f.reserve(jpeg.size() + payload.size() + 4);
  f.insert(f.end(), jpeg.begin(), jpeg.begin() + 2);
  const uint32_t length = static_cast<uint32_t>(payload.size() + 2);  // the length counts its own two bytes
  for (uint32_t v : {0xFFu, 0xE1u, length >> 8, length}) f.push_back(static_cast<uint8_t>(v));
  f.insert(f.end(), payload.begin(), payload.end());
  f.insert(f.end(), jpeg.begin() + 2, jpeg.end());
  return f;
}

}  // namespace sdm::test
