#include "frames/U_TiffReader.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frames/ExifOrientation.h"
#include "support/Errors.h"

namespace sdm {

namespace {

// libtiff's own buffers (a strip or tile, decompressed) stay well below the
// bitmap's bound, so together they stay near it.
constexpr tmsize_t kMaxLibtiffAllocation = kMaxPictureBytes / 4;

struct TTiffSource {
  const uint8_t* data;
  toff_t size;
  toff_t pos = 0;
  std::string message;
};

tmsize_t Read(thandle_t h, void* buf, tmsize_t length) {
  auto* s = static_cast<TTiffSource*>(h);
  if (length <= 0 || s->pos >= s->size) return 0;
  const toff_t n = std::min<toff_t>(static_cast<toff_t>(length), s->size - s->pos);
  std::memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }
toff_t Seek(thandle_t h, toff_t offset, int whence) {
  auto* s = static_cast<TTiffSource*>(h);
  toff_t base = 0;
  if (whence == SEEK_CUR) base = s->pos;
  if (whence == SEEK_END) base = s->size;
  s->pos = base + offset;  // beyond the end reads nothing
  return s->pos;
}
int Close(thandle_t) { return 0; }
toff_t Size(thandle_t h) { return static_cast<TTiffSource*>(h)->size; }
int Map(thandle_t h, void** base, toff_t* size) {
  auto* s = static_cast<TTiffSource*>(h);
  *base = const_cast<uint8_t*>(s->data);
  *size = s->size;
  return 1;
}
void Unmap(thandle_t, void*, toff_t) {}

// The first error is the one that says what went wrong; nothing is printed.
int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
  auto* s = static_cast<TTiffSource*>(user);
  if (s->message.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    s->message = text;
  }
  return 1;
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

class TTiffFile {
public:
  explicit TTiffFile(TTiffSource& src) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibtiffAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &src);
    tiff = TIFFClientOpenExt("memory", "rm", &src, Read, Write, Seek, Close, Size, Map, Unmap, options);
    TIFFOpenOptionsFree(options);
  }
  ~TTiffFile() {
    if (tiff) TIFFClose(tiff);
  }
  TTiffFile(const TTiffFile&) = delete;
  TTiffFile& operator=(const TTiffFile&) = delete;

  TIFF* tiff = nullptr;
};

// How many times a compression can shrink data at most, so that a file far
// too small for the picture it declares is refused before the picture is
// allocated. 0 for the schemes with no useful bound (fax codes, ZSTD...).
uint64_t MaxRatio(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;  // 2 bytes give at most 128
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1100;  // deflate: about 1032
    case COMPRESSION_LZW: return 4096;      // a 9-bit code at most 4096 bytes
    case COMPRESSION_JPEG: return 512;      // 2 bits at least per 8 × 8 block
    default: return 0;
  }
}

bool TooSmallForItsSize(TIFF* t, uint32_t width, uint32_t height, uint64_t fileSize) {
  uint16_t compression = COMPRESSION_NONE, samples = 1, bits = 1;
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  const uint64_t ratio = MaxRatio(compression);
  if (ratio == 0) return false;
  const uint64_t needed = (uint64_t{width} * samples * bits + 7) / 8 * height;
  const uint32_t pieces = TIFFIsTiled(t) ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
  uint64_t stored = 0;
  for (uint32_t i = 0; i < pieces && stored * ratio < needed; ++i) {
    // What a strip declares counts only as far as the file goes.
    int err = 0;
    const uint64_t offset = TIFFGetStrileOffsetWithErr(t, i, &err);
    const uint64_t count = err ? 0 : TIFFGetStrileByteCountWithErr(t, i, &err);
    if (err) return false;  // libtiff will say what is wrong
    if (offset < fileSize) stored += std::min(count, fileSize - offset);
  }
  return stored * ratio < needed;
}

}  // namespace

void ReadTiff(const uint8_t* data, size_t size, const std::string& fileName, TFitSize, TBitmap32& out,
              TPictureExtras& extras) {
  TTiffSource src{data, static_cast<toff_t>(size), 0, {}};
  auto fail = [&](const std::string& fallback) {
    throw EError(PictureError(fileName, "invalid TIFF data (" + (src.message.empty() ? fallback : src.message) + ")"));
  };
  TTiffFile f(src);
  TIFF* t = f.tiff;
  if (!t) fail("not readable");

  uint32_t width = 0, height = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
  if (orientation < 1 || orientation > 8) orientation = ORIENTATION_TOPLEFT;
  CheckPictureSides(fileName, width, height);
  // A quarter turn needs a second bitmap of the picture's size.
  const int64_t pixels = int64_t{width} * height;
  CheckPictureSize(fileName, width, height);
  if (OrientationSwapsSides(orientation) && pixels > kMaxPicturePixels / 2)
    throw EError(PictureError(fileName, "the picture is too large to turn upright (" + BitmapSizeText(width, height) +
                                            "; at most " + std::to_string(kMaxPictureBytes >> 21) + " MiB)"));
  if (TooSmallForItsSize(t, width, height, size)) throw EError(PictureError(fileName, "truncated TIFF data"));

  uint32_t profileSize = 0;
  void* profile = nullptr;
  if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &profileSize, &profile) && profile)
    extras.profile.assign(static_cast<const uint8_t*>(profile), static_cast<const uint8_t*>(profile) + profileSize);
  uint16_t photometric = PHOTOMETRIC_RGB;
  TIFFGetFieldDefaulted(t, TIFFTAG_PHOTOMETRIC, &photometric);
  extras.model = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE ? TColorModel::Grey
                                                                                                : TColorModel::Rgb;
  // The RGBA reader multiplies colour by alpha (unassociated alpha too):
  // what it gives is already over black.
  extras.alpha = false;

  // libtiff's RGBA reader carries out orientations 1 to 4 but makes mere
  // mirror images of 5 to 8; it is told the pixels stand as stored, and the
  // picture is turned afterwards like a JPEG.
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  char why[1024] = {};
  if (!TIFFRGBAImageOK(t, why))
    throw EError(PictureError(fileName, std::string("unsupported TIFF layout (") + why + ")"));
  out.SetSizeForOverwrite(static_cast<int>(width), static_cast<int>(height));
  static_assert(sizeof(TColor32) == sizeof(uint32_t));
  if (!TIFFReadRGBAImageOriented(t, width, height, out.Bits(), ORIENTATION_TOPLEFT, 1)) fail("cannot be decoded");
  // The raster holds R, G, B, A bytes; ours is B, G, R, A.
  TColor32* p = out.Bits();
  const size_t n = static_cast<size_t>(pixels);
  for (size_t k = 0; k < n; ++k) {
    const uint32_t v = p[k];
    p[k] = 0xFF000000u | (v & 0x0000FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
  }
  TurnUpright(out, orientation);
}

}  // namespace sdm
