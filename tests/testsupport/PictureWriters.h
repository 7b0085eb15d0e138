#pragma once
// The writers of PNG, TIFF, WebP, GIF and HEIC files for the tests, the
// benchmarks and the fuzz corpus generator, each through the format's own
// library (never our readers), in memory; and the colour profiles they embed.
// Header-only like JpegWriter.h: whoever includes it links libpng, libtiff,
// libwebp (with libwebpmux), giflib, libheif and lcms2.
#include <gif_lib.h>
#include <lcms2.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <zlib.h>
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace sdm::test {

using Bytes = std::vector<uint8_t>;

// ------------------------------------------------------------------ profiles

inline Bytes SavedProfile(cmsHPROFILE h) {
  cmsUInt32Number n = 0;
  cmsSaveProfileToMem(h, nullptr, &n);
  Bytes b(n);
  cmsSaveProfileToMem(h, b.data(), &n);
  cmsCloseProfile(h);
  return b;
}

// sRGB with its red and green primaries exchanged: a picture tagged with it
// that stores (255, 0, 0) shows sRGB green.
inline Bytes SwapProfile() {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.30, 0.60, 1.0}, {0.64, 0.33, 1.0}, {0.15, 0.06, 1.0}};
  const cmsFloat64Number srgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* c = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
  cmsToneCurve* curves[3] = {c, c, c};
  cmsHPROFILE h = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(c);
  return SavedProfile(h);
}

// A grey profile with a linear tone curve: grey 128 shows as sRGB 188.
inline Bytes LinearGreyProfile() {
  cmsToneCurve* c = cmsBuildGamma(nullptr, 1.0);
  cmsHPROFILE h = cmsCreateGrayProfile(cmsD50_xyY(), c);
  cmsFreeToneCurve(c);
  return SavedProfile(h);
}

// lcms's own sRGB.
inline Bytes SrgbProfile() { return SavedProfile(cmsCreate_sRGBProfile()); }

// A profile file on this machine (colord-data's AdobeRGB1998.icc...); empty
// when it is not installed.
inline Bytes ProfileFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ------------------------------------------------------------------ PNG

struct PngLayout {
  int colorType = PNG_COLOR_TYPE_RGB;
  int depth = 8;
  bool interlace = false;
  std::vector<png_color> palette;
  Bytes transparency;              // tRNS: alpha per palette entry
  const Bytes* profile = nullptr;  // iCCP
  bool rawProfile = false;         // written by hand, so libpng's checks cannot refuse a garbled one
};

namespace detail {
inline void PngAppend(png_structp png, png_bytep data, size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
inline void PngFlush(png_structp) {}
inline void PngFail(png_structp png, png_const_charp text) {
  *static_cast<std::string*>(png_get_error_ptr(png)) = text;
  png_longjmp(png, 1);
}
inline bool PngWrite(png_structp png, png_infop info, int w, int h, const PngLayout& s, std::vector<png_bytep>& rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), s.depth, s.colorType,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (s.profile && s.rawProfile) {
    png_write_info_before_PLTE(png, info);
    uLongf zn = compressBound(static_cast<uLong>(s.profile->size()));
    Bytes chunk(6 + zn);
    std::memcpy(chunk.data(), "test\0\0", 6);  // the name, its NUL, compression method 0
    compress(chunk.data() + 6, &zn, s.profile->data(), static_cast<uLong>(s.profile->size()));
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("iCCP"), chunk.data(), 6 + zn);
  } else if (s.profile) {
    png_set_iCCP(png, info, "test", PNG_COMPRESSION_TYPE_BASE, s.profile->data(),
                 static_cast<png_uint_32>(s.profile->size()));
  }
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  if (!s.transparency.empty())
    png_set_tRNS(png, info, s.transparency.data(), static_cast<int>(s.transparency.size()), nullptr);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  return true;
}
}  // namespace detail

// samples: the rows as PNG stores them (packed; 16-bit samples big-endian).
inline Bytes EncodePng(int w, int h, const Bytes& samples, const PngLayout& layout) {
  Bytes out;
  std::string error;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, detail::PngFail, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, detail::PngAppend, detail::PngFlush);
  const size_t stride = samples.size() / static_cast<size_t>(h);
  std::vector<png_bytep> rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) rows[static_cast<size_t>(y)] = const_cast<png_bytep>(samples.data()) + y * stride;
  const bool ok = detail::PngWrite(png, info, w, h, layout, rows);
  png_destroy_write_struct(&png, &info);
  if (!ok) throw std::runtime_error("EncodePng: " + error);
  return out;
}

// 8-bit RGBA (or RGB, grey...) samples as they come, packed.
inline Bytes EncodePng8(int w, int h, int colorType, const Bytes& samples, const Bytes* profile = nullptr) {
  PngLayout s;
  s.colorType = colorType;
  s.profile = profile;
  return EncodePng(w, h, samples, s);
}

// ------------------------------------------------------------------ TIFF

struct TiffLayout {
  int samples = 3;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
  int bits = 8;     // 8 or 16 (16-bit samples in the machine's order)
  uint16_t compression = COMPRESSION_ADOBE_DEFLATE;
  int orientation = 1;
  bool unassociatedAlpha = true;
  const Bytes* profile = nullptr;
  int rowsPerStrip = 0;  // 0: libtiff's choice
};

namespace detail {
struct TiffSink {
  Bytes data;
  toff_t pos = 0;
};
inline tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t n) {
  auto* s = static_cast<TiffSink*>(h);
  const toff_t k = std::min<toff_t>(static_cast<toff_t>(n), s->pos < s->data.size() ? s->data.size() - s->pos : 0);
  std::memcpy(buf, s->data.data() + s->pos, k);
  s->pos += k;
  return static_cast<tmsize_t>(k);
}
inline tmsize_t TiffWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* s = static_cast<TiffSink*>(h);
  if (s->pos + n > s->data.size()) s->data.resize(s->pos + n);
  std::memcpy(s->data.data() + s->pos, buf, static_cast<size_t>(n));
  s->pos += n;
  return n;
}
inline toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
  auto* s = static_cast<TiffSink*>(h);
  if (whence == SEEK_CUR) off += s->pos;
  if (whence == SEEK_END) off += s->data.size();
  s->pos = off;
  return off;
}
inline int TiffClose(thandle_t) { return 0; }
inline toff_t TiffSize(thandle_t h) { return static_cast<TiffSink*>(h)->data.size(); }
inline int TiffMap(thandle_t, void**, toff_t*) { return 0; }
inline void TiffUnmap(thandle_t, void*, toff_t) {}
}  // namespace detail

// samples: w × layout.samples values a row, each layout.bits / 8 bytes.
inline Bytes EncodeTiff(int w, int h, const Bytes& samples, const TiffLayout& layout) {
  detail::TiffSink sink;
  TIFF* t = TIFFClientOpen("memory", "w", &sink, detail::TiffRead, detail::TiffWrite, detail::TiffSeek,
                           detail::TiffClose, detail::TiffSize, detail::TiffMap, detail::TiffUnmap);
  if (!t) throw std::runtime_error("EncodeTiff: cannot open");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, layout.bits);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, layout.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, layout.compression);
  TIFFSetField(t, TIFFTAG_ORIENTATION, layout.orientation);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip > 0 ? layout.rowsPerStrip : TIFFDefaultStripSize(t, 0));
  if (layout.samples == 2 || layout.samples == 4) {
    const uint16_t extra = layout.unassociatedAlpha ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_ASSOCALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (layout.profile)
    TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(layout.profile->size()), layout.profile->data());
  const size_t stride = static_cast<size_t>(w) * layout.samples * layout.bits / 8;
  for (int y = 0; y < h; ++y)
    TIFFWriteScanline(t, const_cast<uint8_t*>(samples.data()) + y * stride, static_cast<uint32_t>(y), 0);
  TIFFClose(t);
  return sink.data;
}

// ------------------------------------------------------------------ WebP

// rgba: w × h × 4 bytes. With a profile the file is the extended kind (VP8X)
// with an ICCP chunk.
inline Bytes EncodeWebp(int w, int h, const Bytes& rgba, bool lossless, const Bytes* profile = nullptr,
                        float quality = 90) {
  uint8_t* coded = nullptr;
  const size_t n = lossless ? WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &coded)
                            : WebPEncodeRGBA(rgba.data(), w, h, w * 4, quality, &coded);
  if (n == 0) throw std::runtime_error("EncodeWebp failed");
  Bytes out(coded, coded + n);
  WebPFree(coded);
  if (!profile) return out;
  WebPMux* mux = WebPMuxNew();
  const WebPData image{out.data(), out.size()}, icc{profile->data(), profile->size()};
  WebPData assembled{};
  WebPMuxSetImage(mux, &image, 1);
  WebPMuxSetChunk(mux, "ICCP", &icc, 1);
  const bool ok = WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
  if (ok) out.assign(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  if (!ok) throw std::runtime_error("EncodeWebp: mux failed");
  return out;
}

// An animation of whole-canvas frames, lossless, half a second each.
inline Bytes EncodeAnimatedWebp(int w, int h, const std::vector<Bytes>& frames) {
  WebPAnimEncoderOptions options;
  WebPAnimEncoderOptionsInit(&options);
  WebPAnimEncoder* enc = WebPAnimEncoderNew(w, h, &options);
  WebPConfig config;
  WebPConfigInit(&config);
  config.lossless = 1;
  int time = 0;
  for (const Bytes& f : frames) {
    WebPPicture pic;
    WebPPictureInit(&pic);
    pic.use_argb = 1;
    pic.width = w;
    pic.height = h;
    WebPPictureImportRGBA(&pic, f.data(), w * 4);
    WebPAnimEncoderAdd(enc, &pic, time, &config);
    WebPPictureFree(&pic);
    time += 500;
  }
  WebPAnimEncoderAdd(enc, nullptr, time, nullptr);
  WebPData data{};
  WebPAnimEncoderAssemble(enc, &data);
  Bytes out(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(enc);
  return out;
}

// ------------------------------------------------------------------ GIF

struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> indices;  // width × height, row by row in display order
  int transparent = -1;
  bool interlace = false;
};

namespace detail {
inline int GifAppend(GifFileType* g, const GifByteType* data, int n) {
  auto* out = static_cast<Bytes*>(g->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}
}  // namespace detail

// colours: 0xRRGGBB, a power of two of them (2 to 256).
inline Bytes EncodeGif(int screenWidth, int screenHeight, const std::vector<uint32_t>& colours,
                       const std::vector<GifFrame>& frames) {
  Bytes out;
  int error = 0;
  GifFileType* g = EGifOpen(&out, detail::GifAppend, &error);
  std::vector<GifColorType> c;
  for (uint32_t v : colours)
    c.push_back({static_cast<GifByteType>(v >> 16), static_cast<GifByteType>(v >> 8), static_cast<GifByteType>(v)});
  ColorMapObject* map = GifMakeMapObject(static_cast<int>(c.size()), c.data());
  int bits = 1;
  while ((1 << bits) < static_cast<int>(c.size())) ++bits;
  EGifSetGifVersion(g, true);
  EGifPutScreenDesc(g, screenWidth, screenHeight, bits, 0, map);
  for (const GifFrame& f : frames) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.DelayTime = 50;
    gcb.TransparentColor = f.transparent;
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext);
    EGifPutImageDesc(g, f.left, f.top, f.width, f.height, f.interlace, nullptr);
    static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    auto line = [&](int y) {
      EGifPutLine(g, const_cast<GifPixelType*>(f.indices.data()) + static_cast<size_t>(y) * f.width, f.width);
    };
    if (f.interlace) {
      for (int p = 0; p < 4; ++p)
        for (int y = kStart[p]; y < f.height; y += kStep[p]) line(y);
    } else {
      for (int y = 0; y < f.height; ++y) line(y);
    }
  }
  EGifCloseFile(g, &error);
  GifFreeMapObject(map);
  return out;
}

// ------------------------------------------------------------------ HEIC

struct HeicOptions {
  bool alpha = false;
  bool lossless = true;  // 4:4:4, within a level of the source
  int quality = 90;
  heif_orientation orientation = heif_orientation_normal;  // written as the file's own rotation and mirroring
  const Bytes* profile = nullptr;
  int thumbnail = 0;  // a thumbnail of its own as well, this many pixels on its longer side
};

namespace detail {
inline heif_error HeifAppend(heif_context*, const void* data, size_t size, void* userdata) {
  auto* out = static_cast<Bytes*>(userdata);
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}
}  // namespace detail

// True when libheif can write HEIC here (it needs x265 at run time).
inline bool CanEncodeHeic() { return heif_have_encoder_for_format(heif_compression_HEVC) != 0; }

// rgba: w × h × 4 bytes. Empty when no HEVC encoder is there.
inline Bytes EncodeHeic(int w, int h, const Bytes& rgba, const HeicOptions& layout = {}) {
  heif_context* ctx = heif_context_alloc();
  heif_encoder* enc = nullptr;
  if (heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &enc).code != heif_error_Ok) {
    heif_context_free(ctx);
    return {};
  }
  if (layout.lossless) {
    heif_encoder_set_lossless(enc, 1);
    heif_encoder_set_parameter_string(enc, "chroma", "444");
  } else {
    heif_encoder_set_lossy_quality(enc, layout.quality);
  }
  heif_image* img = nullptr;
  heif_image_create(w, h, heif_colorspace_RGB,
                    layout.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &img);
  heif_image_add_plane(img, heif_channel_interleaved, w, h, 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
  const int bytes = layout.alpha ? 4 : 3;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      std::memcpy(plane + y * stride + x * bytes, &rgba[(static_cast<size_t>(y) * w + x) * 4], bytes);
  if (layout.profile) heif_image_set_raw_color_profile(img, "prof", layout.profile->data(), layout.profile->size());
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = layout.orientation;
  heif_image_handle* handle = nullptr;
  heif_context_encode_image(ctx, img, enc, options, &handle);
  if (layout.thumbnail > 0 && handle)
    heif_context_encode_thumbnail(ctx, img, handle, enc, options, layout.thumbnail, nullptr);
  heif_encoding_options_free(options);
  Bytes out;
  heif_writer writer{1, detail::HeifAppend};
  heif_context_write(ctx, &writer, &out);
  if (handle) heif_image_handle_release(handle);
  heif_image_release(img);
  heif_encoder_release(enc);
  heif_context_free(ctx);
  return out;
}

}  // namespace sdm::test
