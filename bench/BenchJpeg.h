#pragma once
// The benchmarks make their pictures with the tests' JPEG writer, so no data
// files are needed; each says how its rows look, this writes them.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testsupport/JpegWriter.h"

namespace bench {

// Writes a w × h RGB JPEG at quality, 4:2:0 as cameras store it; fillRow(y,
// row) fills the 3 × w bytes of row y, top to bottom. The optional APP1 block
// goes in as the camera's EXIF would. A file that cannot be made ends the
// benchmark: its figures would mean nothing.
template <typename FillRow>
void WriteJpeg(const std::string& path, int w, int h, int quality, FillRow fillRow,
               const std::vector<uint8_t>* app1 = nullptr) {
  const std::vector<uint8_t> file = sdm::test::EncodeJpeg(
      w, h, 3, JCS_RGB, fillRow, [quality](jpeg_compress_struct& c) { jpeg_set_quality(&c, quality, TRUE); },
      [app1](jpeg_compress_struct& c) {
        if (app1) jpeg_write_marker(&c, JPEG_APP0 + 1, app1->data(), static_cast<unsigned>(app1->size()));
      });
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size() || std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

}  // namespace bench
