#include "frames/U_PngReader.h"

#include <png.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support/Errors.h"

namespace sdm {

namespace {

static_assert(std::endian::native == std::endian::little, "png_set_bgr + filler matches 0xAARRGGBB on little-endian");

// Deflate cannot expand data more than about 1032 times (258 bytes from two
// bits); a PNG whose image data is shorter than that allows for its rows
// cannot hold them, whatever it declares.
constexpr uint64_t kMaxDeflateRatio = 1100;

struct TPngSource {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  char message[256] = {};
};

// libpng calls these from C; errors leave by longjmp to Guarded() below.
void OnError(png_structp png, png_const_charp text) {
  auto* src = static_cast<TPngSource*>(png_get_error_ptr(png));
  std::snprintf(src->message, sizeof src->message, "%s", text ? text : "error");
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}  // a dropped profile or an odd chunk: the picture still loads

void Read(png_structp png, png_bytep out, size_t length) {
  auto* src = static_cast<TPngSource*>(png_get_io_ptr(png));
  if (length > src->size - src->pos) png_error(png, "the file is cut short");
  if (length > 0) std::memcpy(out, src->data + src->pos, length);
  src->pos += length;
}

// Runs libpng calls; false when libpng reported an error. The frame that
// calls setjmp holds nothing that needs destroying.
template <class F>
bool Guarded(png_structp png, F&& f) {
  if (setjmp(png_jmpbuf(png))) return false;
  f();
  return true;
}

class TPngSession {
public:
  explicit TPngSession(TPngSource& src) {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &src, OnError, OnWarning);
    if (png) info = png_create_info_struct(png);
  }
  ~TPngSession() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
  TPngSession(const TPngSession&) = delete;
  TPngSession& operator=(const TPngSession&) = delete;

  png_structp png = nullptr;
  png_infop info = nullptr;
};

// The bytes of all IDAT chunks, walking the chunk list ourselves (bounded by
// the file) so that it is known before anything is allocated.
uint64_t ImageDataBytes(const uint8_t* data, size_t size) {
  uint64_t total = 0;
  size_t pos = 8;
  while (pos + 12 <= size) {
    const uint64_t length =
        (uint64_t{data[pos]} << 24) | (uint64_t{data[pos + 1]} << 16) | (uint64_t{data[pos + 2]} << 8) | data[pos + 3];
    if (std::memcmp(data + pos + 4, "IDAT", 4) == 0) total += std::min<uint64_t>(length, size - pos - 8);
    if (std::memcmp(data + pos + 4, "IEND", 4) == 0 || length > size - pos - 12) break;
    pos += static_cast<size_t>(length) + 12;
  }
  return total;
}

}  // namespace

void ReadPng(const uint8_t* data, size_t size, const std::string& fileName, TFitSize, TBitmap32& out,
             TPictureExtras& extras) {
  TPngSource src{data, size, 0, {}};
  TPngSession s(src);
  auto libpngFailed = [&] {
    throw EError(PictureError(fileName, std::string("invalid PNG data (") + src.message + ")"));
  };
  if (!s.png || !s.info) throw EError(PictureError(fileName, "libpng could not start"));
  png_structp png = s.png;
  png_infop info = s.info;

  if (!Guarded(png, [&] {
        png_set_read_fn(png, &src, Read);
        // Beyond our largest side libpng refuses the header itself.
        png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
        png_read_info(png, info);
      }))
    libpngFailed();

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int colorType = png_get_color_type(png, info);
  CheckPictureSize(fileName, width, height);
  const uint64_t rowBytes = (uint64_t{width} * png_get_channels(png, info) * depth + 7) / 8 + 1;
  if (ImageDataBytes(data, size) * kMaxDeflateRatio < rowBytes * height)
    throw EError(PictureError(fileName, "truncated PNG data"));

  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileSize = 0;
  // libpng itself drops (with a warning) a profile that does not parse or
  // does not fit the colour type, so what is left is worth trying.
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) && profile)
    extras.profile.assign(profile, profile + profileSize);
  extras.model = (colorType & PNG_COLOR_MASK_COLOR) ? TColorModel::Rgb : TColorModel::Grey;
  extras.alpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);

  if (!Guarded(png, [&] {
        png_set_expand(png);  // palette to RGB, grey below 8 bits to 8, a transparent colour to alpha
        if (depth == 16) png_set_scale_16(png);  // (v + 128) / 257: the nearest 8-bit level
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);  // opaque alpha where the file has none
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
      }))
    libpngFailed();
  if (png_get_rowbytes(png, info) != size_t{width} * 4)
    throw EError(PictureError(fileName, "invalid PNG data (unexpected row layout)"));

  // Every row is decoded into place (or the decoding fails): no clearing.
  out.SetSizeForOverwrite(static_cast<int>(width), static_cast<int>(height));
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = reinterpret_cast<png_bytep>(out.Row(static_cast<int>(y)));
  if (!Guarded(png, [&] { png_read_image(png, rows.data()); })) libpngFailed();
  // Chunks after the image data do not change the picture: not read.
}

}  // namespace sdm
