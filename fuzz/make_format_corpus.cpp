// Writes the seed corpora of the picture-kind fuzz targets and corpus tests
// into tests/data/<kind>-corpus under the folder given: small PNG, WebP,
// TIFF, GIF and HEIF files of the layouts each reader takes (bit depths,
// palettes, alpha, interlacing, animation, orientations, colour profiles,
// thumbnails), written by each format's own library, and damaged files made
// from them (cut short, lying sizes, garbled profiles). Built and run by
// scripts/make-format-corpus.sh; the files are committed.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport/PictureWriters.h"

namespace {

using sdm::test::Bytes;

std::string root;
std::string kind;

void Write(const std::string& name, const Bytes& b) {
  const std::string path = root + "/" + kind + "-corpus/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  if (!out || b.empty() || b.size() > 4096) {
    std::fprintf(stderr, "make_format_corpus: %s not written, empty or too large (%zu bytes)\n", path.c_str(),
                 b.size());
    std::exit(1);
  }
}

Bytes Cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

// w × h RGBA: pure colours on the left, a gradient on the right, alpha
// falling off towards the bottom when asked.
Bytes Rgba(int w, int h, bool alpha = false) {
  Bytes p;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool left = x < w / 2;
      p.push_back(static_cast<uint8_t>(left ? (y % 3 == 0) * 255 : x * 255 / w));
      p.push_back(static_cast<uint8_t>(left ? (y % 3 == 1) * 255 : y * 255 / h));
      p.push_back(static_cast<uint8_t>(left ? (y % 3 == 2) * 255 : 128));
      p.push_back(static_cast<uint8_t>(alpha ? 255 - y * 255 / h : 255));
    }
  return p;
}

Bytes Channels(const Bytes& rgba, int n) {
  Bytes out;
  for (size_t i = 0; i < rgba.size(); i += 4) out.insert(out.end(), rgba.begin() + i, rgba.begin() + i + n);
  return out;
}

Bytes Wide(const Bytes& samples, bool bigEndian) {
  Bytes out;
  for (uint8_t v : samples) {
    const uint16_t w = static_cast<uint16_t>(v * 257 + (v & 7));
    out.push_back(static_cast<uint8_t>(bigEndian ? w >> 8 : w));
    out.push_back(static_cast<uint8_t>(bigEndian ? w : w >> 8));
  }
  return out;
}

// Garbled tags behind a sound header.
Bytes Garbled(Bytes profile) {
  for (size_t i = 128; i < profile.size(); i += 7) profile[i] ^= 0x5A;
  return profile;
}

// Writes 32-bit big-endian v at pos.
void Put32Be(Bytes& b, size_t pos, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[pos + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void Pngs(const Bytes& swap) {
  using sdm::test::PngLayout;
  const Bytes rgba = Rgba(16, 12), alpha = Rgba(16, 12, true);
  const Bytes rgb = sdm::test::EncodePng8(16, 12, PNG_COLOR_TYPE_RGB, Channels(rgba, 3));
  Write("rgb8.png", rgb);
  PngLayout s;
  s.colorType = PNG_COLOR_TYPE_RGBA;
  s.interlace = true;
  Write("rgba8-interlaced.png", sdm::test::EncodePng(16, 12, alpha, s));
  s = {};
  s.colorType = PNG_COLOR_TYPE_PALETTE;
  s.palette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  s.transparency = {255, 128, 0};
  Bytes idx;
  for (int i = 0; i < 16 * 12; ++i) idx.push_back(static_cast<uint8_t>(i % 4));
  Write("palette-transparent.png", sdm::test::EncodePng(16, 12, idx, s));
  s = {};
  s.colorType = PNG_COLOR_TYPE_GRAY;
  s.depth = 16;
  Write("grey16.png", sdm::test::EncodePng(16, 12, Wide(Channels(rgba, 1), true), s));
  s.colorType = PNG_COLOR_TYPE_RGB;
  Write("rgb16.png", sdm::test::EncodePng(16, 12, Wide(Channels(rgba, 3), true), s));
  s = {};
  s.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
  Write("grey-alpha.png", sdm::test::EncodePng(16, 12, Channels(alpha, 2), s));
  s = {};
  s.colorType = PNG_COLOR_TYPE_GRAY;
  s.depth = 1;
  Write("grey1.png", sdm::test::EncodePng(16, 12, Bytes(2 * 12, 0xA5), s));
  s = {};
  s.profile = &swap;
  const Bytes tagged = sdm::test::EncodePng(16, 12, Channels(rgba, 3), s);
  Write("rgb8-swap-profile.png", tagged);
  const Bytes garbled = Garbled(swap);
  s.profile = &garbled;
  s.rawProfile = true;
  Write("rgb8-garbled-profile.png", sdm::test::EncodePng(16, 12, Channels(rgba, 3), s));
  Write("cut.png", Cut(tagged, tagged.size() * 2 / 3));
  Bytes crc = rgb;
  crc[crc.size() - 20] ^= 0x40;
  Write("bad-crc.png", crc);
  Write("signature-only.png", Cut(rgb, 8));
  // The header says 16000 × 16000 over a dozen rows of data (CRC made right).
  Bytes huge = rgb;
  Put32Be(huge, 16, 16000);
  Put32Be(huge, 20, 16000);
  Put32Be(huge, 29, static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), huge.data() + 12, 17)));
  Write("declares-16000x16000.png", huge);
}

void Webps(const Bytes& swap) {
  const Bytes rgba = Rgba(16, 12), alpha = Rgba(16, 12, true);
  const Bytes lossy = sdm::test::EncodeWebp(16, 12, rgba, false, nullptr, 50);
  Write("lossy.webp", lossy);
  Write("lossless.webp", sdm::test::EncodeWebp(16, 12, rgba, true));
  Write("lossy-alpha.webp", sdm::test::EncodeWebp(16, 12, alpha, false, nullptr, 50));
  Write("lossless-alpha.webp", sdm::test::EncodeWebp(16, 12, alpha, true));
  const Bytes tagged = sdm::test::EncodeWebp(16, 12, rgba, true, &swap);
  Write("lossless-swap-profile.webp", tagged);
  const Bytes garbled = Garbled(swap);
  Write("lossless-garbled-profile.webp", sdm::test::EncodeWebp(16, 12, rgba, true, &garbled));
  const Bytes anim = sdm::test::EncodeAnimatedWebp(16, 12, {alpha, rgba});
  Write("animated.webp", anim);
  Write("cut.webp", Cut(lossy, lossy.size() / 2));
  Write("animated-cut.webp", Cut(anim, anim.size() * 3 / 4));
  Write("header-only.webp", Cut(lossy, 30));
}

void Tiffs(const Bytes& swap) {
  using sdm::test::TiffLayout;
  const Bytes rgba = Rgba(16, 12), alpha = Rgba(16, 12, true);
  TiffLayout t;
  const Bytes rgb = sdm::test::EncodeTiff(16, 12, Channels(rgba, 3), t);
  Write("rgb8-deflate.tif", rgb);
  t.samples = 4;
  Write("rgba8-unassociated.tif", sdm::test::EncodeTiff(16, 12, alpha, t));
  t.unassociatedAlpha = false;
  Write("rgba8-associated.tif", sdm::test::EncodeTiff(16, 12, alpha, t));
  t = {};
  t.samples = 1;
  t.compression = COMPRESSION_LZW;
  Write("grey8-lzw.tif", sdm::test::EncodeTiff(16, 12, Channels(rgba, 1), t));
  t.bits = 16;
  t.compression = COMPRESSION_NONE;
  Write("grey16.tif", sdm::test::EncodeTiff(16, 12, Wide(Channels(rgba, 1), false), t));
  t.samples = 3;
  t.compression = COMPRESSION_PACKBITS;
  Write("rgb16-packbits.tif", sdm::test::EncodeTiff(16, 12, Wide(Channels(rgba, 3), false), t));
  for (int o : {3, 6, 8}) {
    t = {};
    t.orientation = o;
    t.rowsPerStrip = 4;
    Write("orientation-" + std::to_string(o) + ".tif", sdm::test::EncodeTiff(16, 12, Channels(rgba, 3), t));
  }
  t = {};
  t.profile = &swap;
  Write("rgb8-swap-profile.tif", sdm::test::EncodeTiff(16, 12, Channels(rgba, 3), t));
  const Bytes garbled = Garbled(swap);
  t.profile = &garbled;
  Write("rgb8-garbled-profile.tif", sdm::test::EncodeTiff(16, 12, Channels(rgba, 3), t));
  t = {};
  t.compression = COMPRESSION_JPEG;
  Write("rgb8-jpeg.tif", sdm::test::EncodeTiff(16, 16, Channels(Rgba(16, 16), 3), t));
  Write("cut.tif", Cut(rgb, rgb.size() / 2));
  Write("header-only.tif", Cut(rgb, 8));
  // One uncompressed strip said to be 16000 rows of 16000 pixels.
  t = {};
  t.samples = 1;
  t.compression = COMPRESSION_NONE;
  t.rowsPerStrip = 16000;
  Bytes tall = sdm::test::EncodeTiff(1000, 1, Bytes(1000, 9), t);
  for (size_t i = 8; i + 12 <= tall.size(); i += 2)
    if ((tall[i] == 0x00 || tall[i] == 0x01) && tall[i + 1] == 0x01 && (tall[i + 2] == 3 || tall[i + 2] == 4)) {
      tall[i + 8] = 0x80;  // ImageWidth and ImageLength: 16000
      tall[i + 9] = 0x3E;
    }
  Write("declares-16000x16000.tif", tall);
}

void Gifs() {
  using sdm::test::GifFrame;
  const std::vector<uint32_t> colours = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  GifFrame full{0, 0, 16, 12, {}, -1, false};
  for (int i = 0; i < 16 * 12; ++i) full.indices.push_back(static_cast<uint8_t>(i % 4));
  const Bytes plain = sdm::test::EncodeGif(16, 12, colours, {full});
  Write("plain.gif", plain);
  GifFrame inner{3, 2, 10, 9, Bytes(90, 1), 3, true};
  for (size_t i = 0; i < inner.indices.size(); i += 3) inner.indices[i] = 3;
  Write("interlaced-transparent.gif", sdm::test::EncodeGif(16, 12, colours, {inner, full}));
  GifFrame beyond{10, 8, 12, 8, Bytes(96, 2), -1, false};
  Write("frame-beyond-screen.gif", sdm::test::EncodeGif(16, 12, colours, {beyond}));
  Write("two-colours.gif", sdm::test::EncodeGif(8, 8, {0, 0xFFFFFF}, {{0, 0, 8, 8, Bytes(64, 1), 0, false}}));
  Write("cut.gif", Cut(plain, plain.size() / 2));
  Write("no-picture.gif", Cut(plain, 13 + 12));
  Write("declares-16000x16000.gif", sdm::test::EncodeGif(16000, 16000, {0, 0xFFFFFF}, {{0, 0, 1, 1, {1}, -1, false}}));
}

void Heifs(const Bytes& swap) {
  if (!sdm::test::CanEncodeHeic()) {
    std::fprintf(stderr, "make_format_corpus: no HEVC encoder, HEIF seeds not written\n");
    std::exit(1);
  }
  using sdm::test::HeicOptions;
  const Bytes rgba = Rgba(16, 12), alpha = Rgba(16, 12, true);
  HeicOptions s;
  s.lossless = false;
  s.quality = 30;
  const Bytes plain = sdm::test::EncodeHeic(16, 12, rgba, s);
  Write("lossy.heic", plain);
  s.orientation = heif_orientation_rotate_90_cw;
  Write("rotated.heic", sdm::test::EncodeHeic(16, 12, rgba, s));
  s.orientation = heif_orientation_flip_horizontally;
  Write("mirrored.heic", sdm::test::EncodeHeic(16, 12, rgba, s));
  s.orientation = heif_orientation_normal;
  s.profile = &swap;
  Write("swap-profile.heic", sdm::test::EncodeHeic(16, 12, rgba, s));
  s.profile = nullptr;
  s.alpha = true;
  Write("alpha.heic", sdm::test::EncodeHeic(16, 12, alpha, s));
  s.alpha = false;
  s.thumbnail = 8;
  Write("thumbnail.heic", sdm::test::EncodeHeic(32, 24, Rgba(32, 24), s));
  Write("cut.heic", Cut(plain, plain.size() / 2));
  Write("header-only.heic", Cut(plain, 40));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_format_corpus FOLDER KIND (png, webp, tiff, gif or heif)\n");
    return 2;
  }
  root = argv[1];
  kind = argv[2];
  const Bytes swap = sdm::test::SwapProfile();
  if (kind == "png")
    Pngs(swap);
  else if (kind == "webp")
    Webps(swap);
  else if (kind == "tiff")
    Tiffs(swap);
  else if (kind == "gif")
    Gifs();
  else if (kind == "heif")
    Heifs(swap);
  else
    return 2;
  return 0;
}
