#include "frames/U_GifReader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/Errors.h"

namespace sdm {

namespace {

// An LZW code of at least 3 bits stands for at most 4096 pixels.
constexpr uint64_t kMaxLzwRatio = 4096 * 8 / 3 + 1;
// The file holds the first frame and nothing else we show: a screen far
// larger than that frame, beyond a few megapixels, is a size the file cannot
// back, and would only have us allocate a vast black picture.
constexpr int64_t kLargeScreenPixels = 16 * 1024 * 1024;
constexpr int64_t kMaxScreenPerFrame = 64;

struct TGifSource {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
};

int Read(GifFileType* gif, GifByteType* buf, int length) {
  auto* s = static_cast<TGifSource*>(gif->UserData);
  const size_t n = std::min<size_t>(length > 0 ? static_cast<size_t>(length) : 0, s->size - s->pos);
  if (n > 0) std::memcpy(buf, s->data + s->pos, n);  // an empty file has no data at all
  s->pos += n;
  return static_cast<int>(n);
}

class TGifFile {
public:
  TGifFile(TGifSource& src, int& error) { gif = DGifOpen(&src, Read, &error); }
  ~TGifFile() {
    int error = 0;
    if (gif) DGifCloseFile(gif, &error);
  }
  TGifFile(const TGifFile&) = delete;
  TGifFile& operator=(const TGifFile&) = delete;

  GifFileType* gif = nullptr;
};

}  // namespace

void ReadGif(const uint8_t* data, size_t size, const std::string& fileName, TFitSize, TBitmap32& out,
             TPictureExtras& extras) {
  TGifSource src{data, size, 0};
  int openError = 0;
  const TGifFile f(src, openError);
  auto fail = [&](const std::string& what, int code) {
    const char* text = code ? GifErrorString(code) : nullptr;
    throw EError(PictureError(fileName, "invalid GIF data (" + what + (text ? std::string(": ") + text : "") + ")"));
  };
  if (!f.gif) fail("not readable", openError);
  GifFileType* g = f.gif;
  extras.alpha = false;  // transparent and uncovered pixels are simply left black

  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(g, &type) == GIF_ERROR) fail("broken record", g->Error);
    if (type == TERMINATE_RECORD_TYPE) fail("no picture in the file", 0);
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(g, &code, &ext) == GIF_ERROR) fail("broken extension", g->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb{};
        DGifExtensionToGCB(ext[0], ext + 1, &gcb);
        transparent = gcb.TransparentColor;
      }
      while (ext)
        if (DGifGetExtensionNext(g, &ext) == GIF_ERROR) fail("broken extension", g->Error);
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;

    if (DGifGetImageDesc(g) == GIF_ERROR) fail("broken picture header", g->Error);
    const GifImageDesc& frame = g->Image;
    // A screen of no size is taken as just large enough for the frame.
    int64_t sw = g->SWidth, sh = g->SHeight;
    if (sw == 0 || sh == 0) {
      sw = int64_t{frame.Left} + frame.Width;
      sh = int64_t{frame.Top} + frame.Height;
    }
    CheckPictureSize(fileName, sw, sh);
    const int64_t framePixels = int64_t{frame.Width} * frame.Height;
    if (frame.Width <= 0 || frame.Height <= 0) fail("a frame of no size", 0);
    if (static_cast<uint64_t>(framePixels) > (size - src.pos) * kMaxLzwRatio ||
        (sw * sh > kLargeScreenPixels && sw * sh > framePixels * kMaxScreenPerFrame))
      throw EError(PictureError(fileName, "truncated GIF data"));
    const ColorMapObject* colours = frame.ColorMap ? frame.ColorMap : g->SColorMap;
    if (!colours || !colours->Colors) fail("no colour table", 0);

    out.SetSize(static_cast<int>(sw), static_cast<int>(sh));
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    // Interlaced rows come every 8th from 0, every 8th from 4, every 4th
    // from 2, every 2nd from 1.
    static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int step = frame.Interlace ? kStep[pass] : 1;
      for (int r = frame.Interlace ? kStart[pass] : 0; r < frame.Height; r += step) {
        if (DGifGetLine(g, line.data(), frame.Width) == GIF_ERROR) fail("truncated picture data", g->Error);
        const int64_t y = int64_t{frame.Top} + r;
        if (y >= sh) continue;  // a frame larger than its screen is cut to it
        TColor32* row = out.Row(static_cast<int>(y));
        const int64_t columns = std::min<int64_t>(frame.Width, sw - frame.Left);
        for (int64_t x = 0; x < columns; ++x) {
          const int index = line[static_cast<size_t>(x)];
          if (index == transparent || index >= colours->ColorCount) continue;
          const GifColorType& c = colours->Colors[index];
          row[frame.Left + x] = Color32(c.Red, c.Green, c.Blue);
        }
      }
    }
    return;  // the first frame is the picture
  }
}

}  // namespace sdm
