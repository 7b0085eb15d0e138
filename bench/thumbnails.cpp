// The thumbnail strip, Jump and Organize over a folder of camera photos: 100
// thumbnails of 12-megapixel (4000 × 3000) JPEGs loaded through the main
// window's thumbnail server, on this one thread. The target is under 2 s of
// processor time for the 100.
//
// Three kinds of file, each ten different photos used ten times over (the
// files are read from the page cache either way; what is measured is the
// decoding):
//   - as cameras write them: baseline, quality 90, 4:2:0, with the usual
//     160 × 120 EXIF preview, which the server takes;
//   - the same without a preview (edited and saved again by some programs):
//     libjpeg decodes them at an eighth of their size (DCT scaling);
//   - progressive without a preview (some phones and web exports), where DCT
//     scaling saves the least, since every coefficient is still decoded.
// For comparison the same thumbnails from full decodes, as a video's frames
// are made (20 pictures, the figure given for 100).
//   bench_thumbnails
#include <ctime>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "frames/PictureFiles.h"
#include "frames/U_FrameServer.h"
#include "support/StringList.h"
#include "testsupport/JpegWriter.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// A photo-like picture: gradients, fine detail and sensor noise, different
// for each seed, so the file is as large as a camera's (some 3 to 5 MB).
Bytes Photo(int w, int h, unsigned seed, bool progressive) {
  uint32_t noise = seed * 2654435761u + 1;
  return sdm::test::EncodeJpeg(
      w, h, 3, JCS_RGB,
      [&](int y, JSAMPLE* row) {
        for (int x = 0; x < w; ++x) {
          const double detail = 18 * std::sin(x * 0.37 + seed) * std::cos(y * 0.23 - seed);
          for (int c = 0; c < 3; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double n = static_cast<double>(noise >> 28) - 7.5;
            const double base = c == 0 ? 255.0 * x / w : c == 1 ? 255.0 * y / h : 128 + 90 * std::sin((x + y) * 0.002);
            row[3 * x + c] = static_cast<uint8_t>(std::clamp(base + detail + n, 0.0, 255.0));
          }
        }
      },
      [progressive](jpeg_compress_struct& c) {
        jpeg_set_quality(&c, 90, TRUE);
        if (progressive) jpeg_simple_progression(&c);
      });
}

// The camera's EXIF block: orientation 1 and a 160 × 120 JPEG preview.
Bytes ExifWithPreview(const Bytes& preview) {
  std::vector<sdm::test::ExifIfd> ifds = {{{{0x0112, 3, 1, 1}}},
                                          {{{0x0201, 4, 1, 0}, {0x0202, 4, 1, static_cast<uint32_t>(preview.size())}}}};
  const std::vector<uint32_t> at = sdm::test::ExifIfdOffsets(ifds);
  ifds[0].next = at[1];
  ifds[1].entries[0].value = at[1] + 2 + 2 * 12 + 4;
  Bytes exif = sdm::test::ExifPayload(ifds);
  exif.insert(exif.end(), preview.begin(), preview.end());
  return exif;
}

void Write(const std::string& path, const Bytes& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

struct TFigures {
  double cpu = 0, wall = 0;
};

// count thumbnails (or frames of a 100 × 75 job when !thumbnails) of the
// files, one after another, in the order the strip would ask for them.
TFigures Load(const std::vector<std::string>& files, int count, bool thumbnails) {
  sdm::TStringList pictures;
  for (int i = 0; i < count; ++i) pictures.Add(files[static_cast<size_t>(i) % files.size()]);
  auto server = thumbnails ? sdm::TFrameServer::CreateThumbnailServer(pictures, nullptr)
                           : std::make_unique<sdm::TFrameServer>(pictures, nullptr, 1, 75, 100, sdm::TFrameOptions{});
  sdm::TBitmap32 bitmap;
  const double cpu0 = CpuSeconds();
  const auto wall0 = Clock::now();
  for (int i = 0; i < count; ++i) server->GetFrame(bitmap, i);
  return {CpuSeconds() - cpu0, std::chrono::duration<double>(Clock::now() - wall0).count()};
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / "slidomat-bench-thumbnails";
  fs::create_directories(dir);
  const int w = 4000, h = 3000, distinct = 10;
  std::vector<std::string> camera, plain, progressive;
  double bytes[3] = {0, 0, 0};
  std::printf("writing %d photos of %d x %d in three kinds...\n", distinct, w, h);
  for (int i = 0; i < distinct; ++i) {
    const Bytes photo = Photo(w, h, static_cast<unsigned>(i + 1), false);
    const Bytes preview = Photo(160, 120, static_cast<unsigned>(i + 1), false);
    const Bytes withPreview = sdm::test::WithApp1(photo, ExifWithPreview(preview));
    const Bytes prog = Photo(w, h, static_cast<unsigned>(i + 1), true);
    const std::string n = std::to_string(i);
    camera.push_back((dir / ("camera" + n + ".jpg")).string());
    plain.push_back((dir / ("plain" + n + ".jpg")).string());
    progressive.push_back((dir / ("progressive" + n + ".jpg")).string());
    Write(camera.back(), withPreview);
    Write(plain.back(), photo);
    Write(progressive.back(), prog);
    bytes[0] += static_cast<double>(withPreview.size());
    bytes[1] += static_cast<double>(photo.size());
    bytes[2] += static_cast<double>(prog.size());
  }
  const char* names[3] = {"camera JPEG with EXIF preview", "baseline, no preview (1/8 DCT)",
                          "progressive, no preview (1/8 DCT)"};
  const std::vector<std::string>* sets[3] = {&camera, &plain, &progressive};
  std::printf("%-36s %9s %12s %12s %10s\n", "100 thumbnails of", "file MB", "cpu s", "wall s", "ms each");
  for (int k = 0; k < 3; ++k) {
    Load(*sets[k], distinct, true);  // the files into the page cache
    const TFigures f = Load(*sets[k], 100, true);
    std::printf("%-36s %9.1f %12.2f %12.2f %10.1f  %s\n", names[k], bytes[k] / distinct / 1e6, f.cpu, f.wall,
                f.cpu * 10, f.cpu < 2.0 ? "(under 2 s)" : "(OVER 2 s)");
  }
  for (int k = 0; k < 3; ++k) {
    const TFigures f = Load(*sets[k], 20, false);
    std::printf("%-36s %9s %12.2f %12.2f %10.1f  (full decodes, 20 done, given for 100)\n", names[k], "", f.cpu * 5,
                f.wall * 5, f.cpu * 50);
  }
  fs::remove_all(dir);
  return 0;
}
