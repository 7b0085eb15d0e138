#include "frames/U_JpegReader.h"

// clang-format off
#include <cstdio>   // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "frames/ColorProfile.h"
#include "frames/ExifOrientation.h"
#include "frames/U_ImageFile.h"
#include "support/Errors.h"

namespace sdm {

namespace {

// A progressive file can declare thousands of tiny scans and keep the decoder
// busy for minutes; no real encoder writes more than a few dozen.
constexpr int kMaxScans = 500;
// libjpeg's own working memory (the coefficient buffers of progressive files,
// which are full size whatever the scale) stays within the bitmap's bound.
constexpr long kMaxDecoderMemory = kMaxPictureBytes;

struct TJpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

// libjpeg calls these from C code; they leave by longjmp back to Guarded()
// below, whose frame holds nothing that needs destroying.
void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  // Warnings are no failure: a file that lacks its two-byte end marker holds
  // every pixel (libjpeg's reading ahead meets the end of the data and says
  // so), and a damaged scan decodes up to the damage, after which libjpeg
  // goes on at the next restart marker or leaves the rest grey, as every
  // viewer shows it. Only data that stops before anything of the picture
  // could be decoded (the first row of blocks of the first scan) is refused:
  // that is no picture, and a few bytes declaring a vast one must not have us
  // fill it.
  const int code = cinfo->err->msg_code;
  if (level >= 0 || (code != JWRN_JPEG_EOF && code != JWRN_HIT_MARKER)) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number <= 1 && d->input_iMCU_row == 0) OnError(cinfo);
}

void OnProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    std::snprintf(reinterpret_cast<TJpegError*>(cinfo->err)->message, JMSG_LENGTH_MAX, "more than %d progressive scans",
                  kMaxScans);
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
  }
}

// Runs libjpeg calls; false when libjpeg reported an error (text in err).
template <class F>
bool Guarded(TJpegError& err, F&& f) {
  if (setjmp(err.jump)) return false;
  f();
  return true;
}

// The decompressor and its error manager, destroyed on every way out.
class TJpegSession {
public:
  TJpegSession() {
    std::memset(&cinfo, 0, sizeof cinfo);
    std::memset(&err, 0, sizeof err);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    progress.progress_monitor = OnProgress;
  }
  ~TJpegSession() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
  TJpegSession(const TJpegSession&) = delete;
  TJpegSession& operator=(const TJpegSession&) = delete;

  jpeg_decompress_struct cinfo;
  TJpegError err;
  jpeg_progress_mgr progress{};
  bool created = false;
};

// A sequential Huffman scan spends at least one bit on the DC and one on the
// end of every 8 × 8 block, so a file much smaller than that cannot hold the
// picture it declares: refuse it before allocating the picture.
bool TooSmallForItsSize(const jpeg_decompress_struct& c, size_t fileSize) {
  if (c.progressive_mode || c.arith_code) return false;
  uint64_t blocks = 0;
  for (int i = 0; i < c.num_components; ++i) {
    const jpeg_component_info& comp = c.comp_info[i];
    const uint64_t cw =
        (static_cast<uint64_t>(c.image_width) * comp.h_samp_factor + c.max_h_samp_factor - 1) / c.max_h_samp_factor;
    const uint64_t ch =
        (static_cast<uint64_t>(c.image_height) * comp.v_samp_factor + c.max_v_samp_factor - 1) / c.max_v_samp_factor;
    blocks += ((cw + 7) / 8) * ((ch + 7) / 8);
  }
  return blocks / 4 > fileSize;
}

// CMYK as Adobe applications store it is inverted (0 = full ink); plain CMYK
// is not. Either way red = (1 - C)(1 - K), and so on. libjpeg writes the four
// bytes of a CMYK pixel where the pixel goes, so each is turned into its
// colour in place.
void CmykToRgb(TColor32* row, int width, bool inverted) {
  const uint8_t* src = reinterpret_cast<const uint8_t*>(row);
  for (int x = 0; x < width; ++x) {
    unsigned c = src[4 * x], m = src[4 * x + 1], y = src[4 * x + 2], k = src[4 * x + 3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    row[x] = Color32(static_cast<uint8_t>((c * k + 127) / 255), static_cast<uint8_t>((m * k + 127) / 255),
                     static_cast<uint8_t>((y * k + 127) / 255));
  }
}

// The orientation recorded in the first EXIF segment, 1 without one.
int OrientationOf(const jpeg_decompress_struct& c) {
  for (jpeg_saved_marker_ptr m = c.marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < 6 || std::memcmp(m->data, "Exif\0\0", 6) != 0) continue;
    return ExifOrientation(m->data, m->data_length);
  }
  return kOrientationUpright;
}

// The DCT scale (denominator 1, 2, 4 or 8) to decode at. Full size whenever
// the bitmap stays within kMaxPicturePixels, unless only a thumbnail is
// wanted. Beyond it (or for a thumbnail), among the scales that
// bring it within, the smallest picture that still covers the frame (as it
// will stand), so fitting loses nothing; with no frame known, or none that
// covers it, the largest picture within the bound. 0 when even 1/8 is beyond.
int ChooseScale(jpeg_decompress_struct& c, int orientation, TFitSize fit) {
  auto pixels = [](const jpeg_decompress_struct& d) { return static_cast<int64_t>(d.output_width) * d.output_height; };
  c.scale_num = 1;
  c.scale_denom = 1;
  jpeg_calc_output_dimensions(&c);
  if (pixels(c) <= kMaxPicturePixels && !fit.thumbnail) return 1;
  // A thumbnail is decoded as small as still covers its frame.
  int within = pixels(c) <= kMaxPicturePixels ? 1 : 0;  // the largest picture within the bound
  int covers = 0;                                       // the smallest within the bound that covers the frame
  for (int denom : {2, 4, 8}) {
    c.scale_denom = static_cast<unsigned>(denom);
    jpeg_calc_output_dimensions(&c);
    if (pixels(c) > kMaxPicturePixels) continue;
    if (within == 0) within = denom;
    const int64_t across = OrientationSwapsSides(orientation) ? c.output_height : c.output_width;
    const int64_t down = OrientationSwapsSides(orientation) ? c.output_width : c.output_height;
    if (fit.width > 0 && fit.height > 0 && across >= fit.width && down >= fit.height) covers = denom;
  }
  return covers ? covers : within;
}

// The embedded ICC profile (APP2 segments, put back together by libjpeg,
// which allocated icc) as a transform for the pixels libjpeg gives, or null
// without a usable one.
std::unique_ptr<TColorTransform> ProfileOf(const jpeg_decompress_struct& c, JOCTET* icc, unsigned int length, bool cmyk,
                                           const std::string& fileName) {
  if (!icc) return nullptr;
  const std::vector<uint8_t> profile(icc, icc + length);
  std::free(icc);
  TColorModel model = c.jpeg_color_space == JCS_GRAYSCALE ? TColorModel::Grey : TColorModel::Rgb;
  if (cmyk) model = c.saw_Adobe_marker ? TColorModel::CmykInverted : TColorModel::Cmyk;
  return ProfileTransform(profile, model, fileName);
}

// A thumbnail from the camera's own preview in the EXIF block, when it has
// the picture's shape and covers the frame as it will stand: it spares
// decoding millions of pixels for a hundred by seventy-five. The preview is
// stored the way the picture is, so it is turned the same way.
bool FromExifThumbnail(const jpeg_decompress_struct& c, int orientation, TFitSize fit, const TColorTransform* profile,
                       TBitmap32& out) {
  for (jpeg_saved_marker_ptr m = c.marker_list; m; m = m->next) {
    size_t offset = 0, length = 0;
    if (m->marker != JPEG_APP0 + 1 || !ExifThumbnail(m->data, m->data_length, offset, length)) continue;
    TBitmap32 thumb;
    try {
      ReadJpeg(m->data + offset, length, "EXIF thumbnail", thumb);
    } catch (const EError&) {
      return false;  // a broken preview: the picture itself will do
    }
    const double shape = static_cast<double>(c.image_width) / c.image_height;
    if (std::abs(static_cast<double>(thumb.Width()) / thumb.Height() / shape - 1.0) > 0.02) return false;
    const bool turned = OrientationSwapsSides(orientation);
    if ((turned ? thumb.Height() : thumb.Width()) < fit.width || (turned ? thumb.Width() : thumb.Height()) < fit.height)
      return false;
    TurnUpright(thumb, orientation);
    if (profile)
      for (int y = 0; y < thumb.Height(); ++y) profile->Apply(thumb.Row(y), static_cast<size_t>(thumb.Width()));
    out = std::move(thumb);
    return true;
  }
  return false;
}

}  // namespace

void ReadJpeg(const uint8_t* data, size_t size, const std::string& fileName, TBitmap32& out, TFitSize fit) {
  static_assert(std::endian::native == std::endian::little, "JCS_EXT_BGRA matches 0xAARRGGBB on little-endian only");
  TJpegSession s;
  auto fail = [&](const std::string& reason) { throw EError(PictureError(fileName, reason)); };
  auto libjpegFailed = [&]() { fail(std::string("invalid JPEG data (") + s.err.message + ")"); };

  if (!Guarded(s.err, [&] {
        jpeg_create_decompress(&s.cinfo);
        s.created = true;
        s.cinfo.progress = &s.progress;
        s.cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
        jpeg_mem_src(&s.cinfo, data, static_cast<unsigned long>(size));
        jpeg_save_markers(&s.cinfo, JPEG_APP0 + 1, 0xFFFF);  // EXIF (and XMP, passed over)
        jpeg_save_markers(&s.cinfo, JPEG_APP0 + 2, 0xFFFF);  // the ICC profile, in as many pieces as it takes
        jpeg_read_header(&s.cinfo, TRUE);
      }))
    libjpegFailed();

  jpeg_decompress_struct& c = s.cinfo;
  CheckPictureSides(fileName, c.image_width, c.image_height);
  if (TooSmallForItsSize(c, size)) fail("truncated JPEG data");

  const int orientation = OrientationOf(c);
  const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
  c.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  JOCTET* icc = nullptr;
  unsigned int iccLength = 0;
  if (!Guarded(s.err, [&] {
        if (!jpeg_read_icc_profile(&c, &icc, &iccLength)) icc = nullptr;
      }))
    libjpegFailed();
  const std::unique_ptr<TColorTransform> profile = ProfileOf(c, icc, iccLength, cmyk, fileName);
  if (fit.thumbnail && !cmyk && FromExifThumbnail(c, orientation, fit, profile.get(), out)) return;
  int denom = 0;
  if (!Guarded(s.err, [&] { denom = ChooseScale(c, orientation, fit); })) libjpegFailed();
  if (denom == 0)
    fail("the picture is too large (" + BitmapSizeText(c.image_width, c.image_height) + ", more than " +
         std::to_string(kMaxPictureBytes >> 20) + " MiB even at 1/8 of its size)");
  c.scale_num = 1;
  c.scale_denom = static_cast<unsigned>(denom);
  if (!Guarded(s.err, [&] { jpeg_start_decompress(&c); })) libjpegFailed();

  const int width = static_cast<int>(c.output_width);
  const int height = static_cast<int>(c.output_height);
  // Every pixel is decoded into place (or the decoding fails), so the
  // bitmap is not cleared first: for a 12-megapixel photo that is 48 MB.
  if (OrientationSwapsSides(orientation))
    out.SetSizeForOverwrite(height, width);
  else
    out.SetSizeForOverwrite(width, height);
  // Upright pictures are decoded straight into their rows; the others a band
  // of rows at a time, then put where they stand, so no second picture-sized
  // buffer is ever needed.
  const bool upright = orientation == kOrientationUpright;
  constexpr int kBandRows = 16;
  std::vector<TColor32> band(upright ? 0 : static_cast<size_t>(width) * kBandRows);
  while (c.output_scanline < c.output_height) {
    const int y0 = static_cast<int>(c.output_scanline);
    const int rows = upright ? 1 : std::min(kBandRows, height - y0);
    for (int r = 0; r < rows; ++r) {
      TColor32* pixels = upright ? out.Row(y0) : band.data() + static_cast<size_t>(r) * width;
      JSAMPROW row = reinterpret_cast<JSAMPROW>(pixels);
      JDIMENSION got = 0;
      if (!Guarded(s.err, [&] { got = jpeg_read_scanlines(&c, &row, 1); })) libjpegFailed();
      if (got != 1) fail("truncated JPEG data");
      if (profile)
        profile->Apply(pixels, static_cast<size_t>(width));
      else if (cmyk)
        CmykToRgb(pixels, width, c.saw_Adobe_marker);
    }
    if (!upright) PlaceBand(band.data(), y0, rows, width, height, orientation, out);
  }
  // Every pixel is in: whatever follows the last scan does not matter, so the
  // session is simply destroyed rather than finished.
}

}  // namespace sdm
