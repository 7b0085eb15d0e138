#include "frames/U_JpegReader.h"

// clang-format off
#include <cstdio>   // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <bit>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "frames/U_ImageFile.h"
#include "support/Errors.h"

namespace sdm {

namespace {

// A progressive file can declare thousands of tiny scans and keep the decoder
// busy for minutes; no real encoder writes more than a few dozen.
constexpr int kMaxScans = 500;
// libjpeg's own working memory (the coefficient buffers of progressive files).
constexpr long kMaxDecoderMemory = 1024L * 1024 * 1024;

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
  // Data that stops (at the end of the file, or at a marker before the scan
  // is complete) is a truncated file, not a picture with a grey bottom:
  // refuse it, before a file of a few bytes that declares a vast picture has
  // us fill it. Other warnings (stray bytes before a marker, which many
  // cameras write) are harmless.
  const int code = cinfo->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) OnError(cinfo);
}

void OnProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    std::snprintf(reinterpret_cast<TJpegError*>(cinfo->err)->message, JMSG_LENGTH_MAX,
                  "more than %d progressive scans", kMaxScans);
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
    const uint64_t cw = (static_cast<uint64_t>(c.image_width) * comp.h_samp_factor + c.max_h_samp_factor - 1) /
                        c.max_h_samp_factor;
    const uint64_t ch = (static_cast<uint64_t>(c.image_height) * comp.v_samp_factor + c.max_v_samp_factor - 1) /
                        c.max_v_samp_factor;
    blocks += ((cw + 7) / 8) * ((ch + 7) / 8);
  }
  return blocks / 4 > fileSize;
}

// CMYK as Adobe applications store it is inverted (0 = full ink); plain CMYK
// is not. Either way red = (1 - C)(1 - K), and so on.
void CmykToRgb(const uint8_t* src, TColor32* dst, int width, bool inverted) {
  for (int x = 0; x < width; ++x) {
    unsigned c = src[4 * x], m = src[4 * x + 1], y = src[4 * x + 2], k = src[4 * x + 3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    dst[x] = Color32(static_cast<uint8_t>((c * k + 127) / 255), static_cast<uint8_t>((m * k + 127) / 255),
                     static_cast<uint8_t>((y * k + 127) / 255));
  }
}

}  // namespace

void ReadJpeg(const uint8_t* data, size_t size, const std::string& fileName, TBitmap32& out) {
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
        jpeg_read_header(&s.cinfo, TRUE);
      }))
    libjpegFailed();

  jpeg_decompress_struct& c = s.cinfo;
  CheckPictureSize(fileName, c.image_width, c.image_height);
  if (TooSmallForItsSize(c, size)) fail("truncated JPEG data");

  const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
  c.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  c.scale_num = 1;
  c.scale_denom = 1;
  if (!Guarded(s.err, [&] { jpeg_start_decompress(&c); })) libjpegFailed();

  const int width = static_cast<int>(c.output_width);
  const int height = static_cast<int>(c.output_height);
  out.SetSize(width, height);
  std::vector<uint8_t> cmykRow(cmyk ? static_cast<size_t>(width) * 4 : 0);
  while (c.output_scanline < c.output_height) {
    const int y = static_cast<int>(c.output_scanline);
    JSAMPROW row = cmyk ? cmykRow.data() : reinterpret_cast<JSAMPROW>(out.Row(y));
    JDIMENSION got = 0;
    if (!Guarded(s.err, [&] { got = jpeg_read_scanlines(&c, &row, 1); })) libjpegFailed();
    if (got != 1) fail("truncated JPEG data");
    if (cmyk) CmykToRgb(cmykRow.data(), out.Row(y), width, c.saw_Adobe_marker);
  }
  // Every pixel is in: whatever follows the last scan does not matter, so the
  // session is simply destroyed rather than finished.
}

}  // namespace sdm
