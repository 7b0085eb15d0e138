#pragma once
// What the tests of the picture kinds share: a test picture with patches of
// pure colour, its samples in the layouts the writers take, and a reference
// decode by libraries we did not write (PIL, heif-convert for HEIF), saved as
// a 24-bit BMP with transparent parts put over black, so that our loader can
// read it exactly and both can be fitted the same way.
#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/PictureWriters.h"
#include "testsupport/TestSupport.h"

namespace sdm::test {

// 96 × 64 (or any size): the top half three patches of pure red, green and
// blue, the bottom half a gradient (red across, green down, blue 128). With
// alpha, alpha runs from 0 at the left to 255 at the right.
inline Bytes PatternRgba(int w = 96, int h = 64, bool alpha = false) {
  Bytes p(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 4];
      if (y < h / 2) {
        const int k = x * 3 / w;
        q[0] = k == 0 ? 255 : 0;
        q[1] = k == 1 ? 255 : 0;
        q[2] = k == 2 ? 255 : 0;
      } else {
        q[0] = static_cast<uint8_t>(x * 255 / (w - 1));
        q[1] = static_cast<uint8_t>((y - h / 2) * 255 / (h - h / 2 - 1));
        q[2] = 128;
      }
      q[3] = alpha ? static_cast<uint8_t>(x * 255 / (w - 1)) : 255;
    }
  return p;
}

// The first `channels` bytes of every RGBA pixel.
inline Bytes Channels(const Bytes& rgba, int channels) {
  Bytes out;
  out.reserve(rgba.size() / 4 * static_cast<size_t>(channels));
  for (size_t i = 0; i < rgba.size(); i += 4) out.insert(out.end(), rgba.begin() + i, rgba.begin() + i + channels);
  return out;
}

// True when Debian's python3-pil can be used (the python3 on PATH may be
// another one without it).
inline bool HavePil() {
  static const bool have = RunCommand({"/usr/bin/python3", "-c", "import PIL.Image"}).status == 0;
  return have;
}

// The reference decode of a picture file as a 24-bit BMP at bmp, or the
// reason it could not be made. HEIF goes through heif-convert (libheif's
// own tool) to PNG first, since PIL has no HEIF reader here.
inline std::string ReferenceBmp(const std::string& picture, const std::string& bmp) {
  if (!HavePil()) return "PIL not installed";
  std::string source = picture;
  const std::string ext = picture.substr(picture.find_last_of('.'));
  if (ext == ".heic" || ext == ".avif") {
    if (!HaveTool("heif-convert")) return "heif-convert not installed";
    source = bmp + ".png";
    CommandResult c = RunCommand({"heif-convert", picture, source});
    if (c.status != 0) return "heif-convert: " + c.err + c.out;
  }
  static const char* kScript =
      "import sys\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1])\n"
      "im.seek(0)\n"
      "if im.mode == 'I' or im.mode.startswith('I;16'):\n"
      "    im = im.point(lambda i: i * (1 / 256)).convert('L')\n"
      "im = im.convert('RGBA')\n"
      "black = Image.new('RGBA', im.size, (0, 0, 0, 255))\n"
      "Image.alpha_composite(black, im).convert('RGB').save(sys.argv[2], 'BMP')\n";
  CommandResult r = RunCommand({"/usr/bin/python3", "-c", kScript, source, bmp});
  return r.status == 0 ? "" : "PIL: " + r.err;
}

}  // namespace sdm::test
