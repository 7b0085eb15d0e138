// Writes the seed corpus of the picture fuzz target and corpus test into the
// folder given: small JPEG files of every kind libjpeg writes (baseline,
// progressive, arithmetic, grey, CMYK, YCCK, restart markers, odd sizes), with
// EXIF orientations and damaged EXIF blocks, BMP files of every header and
// pixel layout our reader takes, and damaged files made from them. Built and
// run by scripts/make-picture-corpus.sh; the files are committed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "frames/PictureFiles.h"

namespace {

using namespace sdm::test;
using Bytes = std::vector<uint8_t>;

std::string folder;

void Write(const std::string& name, const Bytes& b) {
  std::ofstream out(folder + "/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  if (!out || b.size() > 4096) {
    std::fprintf(stderr, "make_picture_corpus: %s not written or too large (%zu bytes)\n", name.c_str(), b.size());
    std::exit(1);
  }
}

Bytes Cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

// Smooth colours with an edge, so every kind of block is coded.
Bytes Samples(int w, int h, int components) {
  Bytes s;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < components; ++c)
        s.push_back(static_cast<uint8_t>(x > w / 2 ? 40 * c + 3 * y : 255 - 7 * x + 50 * c));
  return s;
}

// A JPEG written with the encoder settings set by tweak.
template <class F>
Bytes Jpeg(int w, int h, int components, J_COLOR_SPACE in, F&& tweak) {
  const Bytes s = Samples(w, h, components);
  return sdm::test::EncodeJpeg(w, h, components, in, sdm::test::RowsOf(s, w, components),
                               [&tweak](jpeg_compress_struct& c) {
                                 jpeg_set_quality(&c, 50, TRUE);
                                 tweak(c);
                               });
}

Bytes Rgb(int w, int h) {
  return Jpeg(w, h, 3, JCS_RGB, [](jpeg_compress_struct&) {});
}

void Jpegs() {
  const Bytes base = Rgb(24, 16);
  Write("baseline-420.jpg", base);
  Write("baseline-444.jpg", Jpeg(24, 16, 3, JCS_RGB, [](jpeg_compress_struct& c) {
          for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
        }));
  Write("baseline-422.jpg",
        Jpeg(24, 16, 3, JCS_RGB, [](jpeg_compress_struct& c) { c.comp_info[0].v_samp_factor = 1; }));
  Write("odd-size-17x9.jpg", Rgb(17, 9));
  Write("one-pixel.jpg", Rgb(1, 1));
  Write("grey.jpg", Jpeg(20, 12, 1, JCS_GRAYSCALE, [](jpeg_compress_struct&) {}));
  const Bytes progressive = Jpeg(24, 16, 3, JCS_RGB, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
  Write("progressive.jpg", progressive);
  Write("arithmetic.jpg", Jpeg(24, 16, 3, JCS_RGB, [](jpeg_compress_struct& c) { c.arith_code = TRUE; }));
  Write("restart-every-mcu.jpg", Jpeg(24, 16, 3, JCS_RGB, [](jpeg_compress_struct& c) { c.restart_interval = 1; }));
  Write("cmyk-adobe.jpg", Jpeg(16, 8, 4, JCS_CMYK, [](jpeg_compress_struct&) {}));
  Write("ycck.jpg", Jpeg(16, 8, 4, JCS_CMYK, [](jpeg_compress_struct& c) { jpeg_set_colorspace(&c, JCS_YCCK); }));
  Write("cmyk-plain.jpg", Jpeg(16, 8, 4, JCS_CMYK, [](jpeg_compress_struct& c) { c.write_Adobe_marker = FALSE; }));

  // Turned pictures, both byte orders, and blocks that must be passed over.
  for (int o : {2, 3, 5, 6, 7, 8})
    Write("exif-orientation-" + std::to_string(o) + ".jpg", WithApp1(base, ExifWithOrientation(o, o % 2 == 1)));
  Bytes manyEntries = ExifWithOrientation(6);
  manyEntries[14] = 40;
  Write("exif-truncated-ifd.jpg", WithApp1(base, manyEntries));
  std::vector<ExifIfd> loop = {{{{0x010F, 2, 4, 0}}}, {{{0x0112, 3, 1, 6}}}};
  const std::vector<uint32_t> at = ExifIfdOffsets(loop);
  loop[0].next = at[1];
  loop[1].next = at[0];
  Write("exif-looping-chain.jpg", WithApp1(base, ExifPayload(loop)));
  Write("exif-cut-short.jpg", WithApp1(base, Cut(ExifWithOrientation(8), 20)));
  Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'a', 'd', 'o', 'b', 'e', '.', 'c', 'o', 'm', 0};
  Write("xmp-then-exif.jpg", WithApp1(WithApp1(base, ExifWithOrientation(6)), xmp));

  // Damage.
  Write("cut-in-scan.jpg", Cut(base, base.size() * 2 / 3));
  Bytes cutWithEnd = Cut(base, base.size() * 2 / 3);
  cutWithEnd.insert(cutWithEnd.end(), {0xFF, 0xD9});
  Write("cut-with-end-marker.jpg", cutWithEnd);
  Write("progressive-cut.jpg", Cut(progressive, progressive.size() / 2));
  Write("header-only.jpg", Cut(base, 20));
  Write("soi-only.jpg", {0xFF, 0xD8});
  // The frame header declares 20000 × 15000: far more than the data holds.
  Bytes huge = base;
  for (size_t i = 2; i + 8 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = 15000 >> 8;
      huge[i + 6] = 15000 & 0xFF;
      huge[i + 7] = 20000 >> 8;
      huge[i + 8] = 20000 & 0xFF;
      break;
    }
  Write("declares-20000x15000.jpg", huge);
}

// BMP pixel rows of a w × h picture at bitCount bits, stored order, each
// pixel's value (palette index or channel bytes) from its position.
Bytes BmpRows(int w, int h, int bitCount) {
  const size_t stride = (static_cast<size_t>(w) * bitCount + 31) / 32 * 4;
  Bytes d(stride * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned v = static_cast<unsigned>(x * 5 + y * 3);
      uint8_t* row = d.data() + y * stride;
      if (bitCount < 8) {
        const int perByte = 8 / bitCount;
        row[x / perByte] |= static_cast<uint8_t>((v & ((1u << bitCount) - 1)) << (8 - bitCount * (x % perByte + 1)));
      } else {
        for (int b = 0; b < bitCount / 8; ++b) row[x * (bitCount / 8) + b] = static_cast<uint8_t>(v * (b + 1) * 11);
      }
    }
  return d;
}

std::vector<uint32_t> Palette(size_t n) {
  std::vector<uint32_t> p;
  for (size_t i = 0; i < n; ++i) p.push_back(static_cast<uint32_t>(i * 0x1F3D5B) & 0xFFFFFF);
  return p;
}

void Bmps() {
  const int w = 9, h = 5;
  Write("bmp-1bit.bmp", MakeBmp(w, h, {40, 1, 0, false, Palette(2), {}}, BmpRows(w, h, 1)));
  Write("bmp-2bit.bmp", MakeBmp(w, h, {40, 2, 0, false, Palette(4), {}}, BmpRows(w, h, 2)));
  Write("bmp-4bit.bmp", MakeBmp(w, h, {40, 4, 0, false, Palette(16), {}}, BmpRows(w, h, 4)));
  const Bytes eight = MakeBmp(w, h, {40, 8, 0, false, Palette(256), {}}, BmpRows(w, h, 8));
  Write("bmp-8bit.bmp", eight);
  Write("bmp-8bit-short-palette.bmp", MakeBmp(w, h, {40, 8, 0, false, Palette(5), {}}, BmpRows(w, h, 8)));
  const Bytes rgb = MakeBmp(w, h, {}, BmpRows(w, h, 24));
  Write("bmp-24bit.bmp", rgb);
  Write("bmp-24bit-top-down.bmp", MakeBmp(w, h, {40, 24, 0, true, {}, {}}, BmpRows(w, h, 24)));
  Write("bmp-32bit.bmp", MakeBmp(w, h, {40, 32, 0, false, {}, {}}, BmpRows(w, h, 32)));
  Write("bmp-16bit-555.bmp", MakeBmp(w, h, {40, 16, 0, false, {}, {}}, BmpRows(w, h, 16)));
  Write("bmp-16bit-565-fields.bmp", MakeBmp(w, h, {40, 16, 3, false, {}, {0xF800, 0x07E0, 0x001F}}, BmpRows(w, h, 16)));
  Write("bmp-32bit-v4-fields.bmp",
        MakeBmp(w, h, {108, 32, 3, false, {}, {0xFF000000, 0xFF0000, 0xFF00}}, BmpRows(w, h, 32)));
  Write("bmp-24bit-v5.bmp", MakeBmp(w, h, {124, 24, 0, false, {}, {}}, BmpRows(w, h, 24)));
  Write("bmp-core-os2.bmp", MakeBmp(w, h, {12, 8, 0, false, Palette(256), {}}, BmpRows(w, h, 8)));
  // RLE8: a run, an absolute run, a jump, line ends, the picture's end.
  Write("bmp-rle8.bmp", MakeBmp(w, h, {40, 8, 1, false, Palette(8), {}},
                                {4, 1, 0, 5, 2, 3, 4, 5, 6, 0, 0, 0, 0, 2, 3, 1, 3, 7, 0, 0, 9, 6, 0, 1}));
  Write("bmp-rle4.bmp", MakeBmp(w, h, {40, 4, 2, false, Palette(16), {}},
                                {5, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 1, 1, 9, 0x66, 0, 1}));
  Write("bmp-rle8-no-end.bmp", MakeBmp(w, h, {40, 8, 1, false, Palette(8), {}}, {4, 1, 0, 0, 3, 2}));
  // Damage.
  Write("bmp-cut-in-pixels.bmp", Cut(rgb, rgb.size() - 7));
  Write("bmp-cut-in-header.bmp", Cut(rgb, 30));
  Write("bmp-declares-20000x15000.bmp", MakeBmp(20000, 15000, {40, 1, 0, false, Palette(2), {}}, Bytes(64)));
  Bytes wildOffset = eight;
  wildOffset[10] = 0xFF;
  wildOffset[13] = 0x7F;
  Write("bmp-wild-pixel-offset.bmp", wildOffset);
  Write("bmp-signature-only.bmp", {'B', 'M'});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_picture_corpus FOLDER\n");
    return 2;
  }
  folder = argv[1];
  Jpegs();
  Bmps();
  return 0;
}
