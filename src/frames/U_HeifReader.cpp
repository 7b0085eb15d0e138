#include "frames/U_HeifReader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/Errors.h"

namespace sdm {

namespace {

// libheif holds the coded picture, the decoded planes and an RGBA copy while
// it decodes: about 16 bytes a pixel against our 4.
constexpr int64_t kMaxHeifPixels = kMaxPicturePixels / 4;

struct THandle {
  heif_image_handle* h = nullptr;
  THandle() = default;
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() {
    if (h) heif_image_handle_release(h);
  }
};

struct TImage {
  heif_image* img = nullptr;
  TImage() = default;
  TImage(const TImage&) = delete;
  TImage& operator=(const TImage&) = delete;
  ~TImage() {
    if (img) heif_image_release(img);
  }
};

class TContext {
public:
  TContext() : ctx(heif_context_alloc()) {}
  ~TContext() {
    if (ctx) heif_context_free(ctx);
  }
  TContext(const TContext&) = delete;
  TContext& operator=(const TContext&) = delete;

  heif_context* ctx;
};

// The file's own thumbnail that stands like the picture and just covers the
// frame, or 0 when it has none that will do.
heif_item_id CoveringThumbnail(const heif_image_handle* primary, TFitSize fit) {
  const int n = heif_image_handle_get_number_of_thumbnails(primary);
  if (n <= 0 || fit.width <= 0 || fit.height <= 0) return 0;
  std::vector<heif_item_id> ids(static_cast<size_t>(n));
  heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), n);
  const double shape =
      static_cast<double>(heif_image_handle_get_width(primary)) / std::max(1, heif_image_handle_get_height(primary));
  heif_item_id best = 0;
  int64_t bestPixels = 0;
  for (heif_item_id id : ids) {
    THandle t;
    if (heif_image_handle_get_thumbnail(primary, id, &t.h).code != heif_error_Ok) continue;
    const int w = heif_image_handle_get_width(t.h), h = heif_image_handle_get_height(t.h);
    if (w < fit.width || h < fit.height) continue;
    // A thumbnail of another shape (cropped, or turned differently) would
    // show something else than the picture.
    if (std::fabs(static_cast<double>(w) / h / shape - 1.0) > 0.02) continue;
    if (best == 0 || int64_t{w} * h < bestPixels) {
      best = id;
      bestPixels = int64_t{w} * h;
    }
  }
  return best;
}

}  // namespace

void ReadHeif(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out,
              TPictureExtras& extras) {
  auto check = [&](heif_error e) {
    if (e.code == heif_error_Ok) return;
    std::string reason = e.message && *e.message ? e.message : "error";
    reason.erase(reason.find_last_not_of(" \n") + 1);  // some of libheif's texts end in a line break
    throw EError(PictureError(fileName, "invalid HEIF data (" + reason + ")"));
  };
  TContext c;
  if (!c.ctx) throw EError(PictureError(fileName, "libheif could not start"));
  heif_context_set_maximum_image_size_limit(c.ctx, kMaxPictureSide);
  // The data outlives the context: no copy of it is made.
  check(heif_context_read_from_memory_without_copy(c.ctx, data, size, nullptr));
  THandle primary;
  check(heif_context_get_primary_image_handle(c.ctx, &primary.h));
  // The size as the picture stands, after libheif's turn and crop.
  const int width = heif_image_handle_get_width(primary.h);
  const int height = heif_image_handle_get_height(primary.h);
  CheckPictureSides(fileName, width, height);
  // An overlay's canvas is allocated from its own box, which libheif checks
  // only against the side limit: held to the sides the picture says it has
  // (a margin for coded sizes), a few bytes cannot claim gigabytes.
  const int claimed = std::max(
      {width, height, heif_image_handle_get_ispe_width(primary.h), heif_image_handle_get_ispe_height(primary.h)});
  heif_context_set_maximum_image_size_limit(c.ctx, std::min(kMaxPictureSide, claimed + 256));

  const heif_color_profile_type profileType = heif_image_handle_get_color_profile_type(primary.h);
  if (profileType == heif_color_profile_type_prof || profileType == heif_color_profile_type_rICC) {
    extras.profile.resize(heif_image_handle_get_raw_color_profile_size(primary.h));
    if (extras.profile.empty() ||
        heif_image_handle_get_raw_color_profile(primary.h, extras.profile.data()).code != heif_error_Ok)
      extras.profile.clear();
  }

  // The picture to decode: the file's thumbnail when it will do, else the
  // picture itself, within the bound.
  THandle thumbnail;
  const heif_image_handle* source = primary.h;
  if (fit.thumbnail) {
    const heif_item_id id = CoveringThumbnail(primary.h, fit);
    if (id && heif_image_handle_get_thumbnail(primary.h, id, &thumbnail.h).code == heif_error_Ok) source = thumbnail.h;
  }
  if (source == primary.h && int64_t{width} * height > kMaxHeifPixels)
    throw EError(PictureError(fileName, "the picture is too large (" + BitmapSizeText(width, height) + "; at most " +
                                            std::to_string(kMaxHeifPixels / 1000000) +
                                            " megapixels for a HEIF picture)"));

  const bool alpha = heif_image_handle_has_alpha_channel(source) != 0;
  const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(source);
  heif_decoding_options* options = heif_decoding_options_alloc();
  options->convert_hdr_to_8bit = 1;  // 10-bit phones' pictures to 8 bits
  TImage image;
  const heif_error decoded =
      heif_decode_image(source, &image.img, heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
  heif_decoding_options_free(options);
  check(decoded);

  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image.img, heif_channel_interleaved, &stride);
  const int w = heif_image_get_width(image.img, heif_channel_interleaved);
  const int h = heif_image_get_height(image.img, heif_channel_interleaved);
  if (!plane || w <= 0 || h <= 0 || heif_image_get_bits_per_pixel_range(image.img, heif_channel_interleaved) != 8)
    throw EError(PictureError(fileName, "invalid HEIF data (no 8-bit picture)"));
  CheckPictureSize(fileName, w, h);
  out.SetSizeForOverwrite(w, h);
  const int bytes = alpha ? 4 : 3;
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = plane + static_cast<ptrdiff_t>(y) * stride;
    TColor32* row = out.Row(y);
    for (int x = 0; x < w; ++x, s += bytes) row[x] = Color32(s[0], s[1], s[2], alpha ? s[3] : 255);
  }
  // Premultiplied colours are already over black.
  extras.alpha = alpha && !premultiplied;
  if (premultiplied)
    for (int y = 0; y < h; ++y)
      for (TColor32* p = out.Row(y); p != out.Row(y) + w; ++p) *p |= 0xFF000000u;
}

}  // namespace sdm
