#pragma once
// The benchmarks make their pictures with libjpeg, so no data files are
// needed; each says how its rows look, this writes them.
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

// Writes a w × h RGB JPEG at quality, 4:2:0 as cameras store it; fillRow(y,
// row) fills the 3 × w bytes of row y, top to bottom. The optional APP1 block
// goes in as the camera's EXIF would. A file that cannot be made ends the
// benchmark: its figures would mean nothing.
template <typename FillRow>
void WriteJpeg(const std::string& path, int w, int h, int quality, FillRow fillRow,
               const std::vector<uint8_t>* app1 = nullptr) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  if (app1) jpeg_write_marker(&c, JPEG_APP0 + 1, app1->data(), static_cast<unsigned>(app1->size()));
  std::vector<JSAMPLE> row(static_cast<size_t>(w) * 3);
  while (c.next_scanline < c.image_height) {
    fillRow(static_cast<int>(c.next_scanline), row.data());
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

}  // namespace bench
