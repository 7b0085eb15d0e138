#pragma once
// The one JPEG writer of the tests, the benchmarks and the fuzz corpus
// generator: pictures are made with libjpeg in memory, row by row, so no data
// files are needed and each caller says only how its rows look and which
// encoder settings differ from libjpeg's defaults.
#include <jpeglib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace sdm::test {

struct NoJpegStep {
  void operator()(jpeg_compress_struct&) const {}
};

// Encodes width × height pixels of `components` 8-bit samples in colour space
// `in`. fillRow(y, row) fills the width × components samples of row y, top to
// bottom. tweak(c) runs after libjpeg's defaults and may change any setting
// (quality, sampling, progression, the stored colour space); afterStart(c)
// runs once compression has begun, where markers (APP1, ICC) are written.
template <class FillRow, class Tweak = NoJpegStep, class AfterStart = NoJpegStep>
std::vector<uint8_t> EncodeJpeg(int width, int height, int components, J_COLOR_SPACE in, FillRow&& fillRow,
                                Tweak&& tweak = {}, AfterStart&& afterStart = {}) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = components;
  c.in_color_space = in;
  jpeg_set_defaults(&c);
  tweak(c);
  jpeg_start_compress(&c, TRUE);
  afterStart(c);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * static_cast<size_t>(components));
  while (c.next_scanline < c.image_height) {
    fillRow(static_cast<int>(c.next_scanline), row.data());
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> file(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return file;
}

// fillRow for samples already laid out row after row.
inline auto RowsOf(const std::vector<uint8_t>& samples, int width, int components) {
  const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(components);
  return [&samples, stride](int y, JSAMPLE* row) {
    const uint8_t* from = samples.data() + static_cast<size_t>(y) * stride;
    std::copy(from, from + stride, row);
  };
}

}  // namespace sdm::test
