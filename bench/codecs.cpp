// Encoded frames per second at 720 × 576 for every installed compressor, and
// the writer's own cost per frame on the uncompressed path.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "avi/U_BmpToAvi.h"
#include "platform/Dib24.h"

namespace {

sdm::TDib24 Frame(int n) {
  sdm::TDib24 d(720, 576);
  for (int y = 0; y < 576; ++y) {
    uint8_t* row = d.TopRow(y);
    for (int x = 0; x < 720; ++x) {
      row[3 * x] = static_cast<uint8_t>(x + n * 3);
      row[3 * x + 1] = static_cast<uint8_t>(y + n);
      row[3 * x + 2] = static_cast<uint8_t>((x ^ y) + n * 2);
    }
  }
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 50;
  const std::string path = (std::filesystem::temp_directory_path() / "slidomat_bench_codecs.avi").string();
  std::vector<sdm::TDib24> input;
  for (int k = 0; k < 10; ++k) input.push_back(Frame(k));
  sdm::TBmpToAvi writer;
  sdm::TStringList codecs;
  writer.ListCodecs(codecs);
  std::printf("%-6s %10s %12s %12s\n", "codec", "frames/s", "ms/frame", "bytes/frame");
  for (const std::string& line : codecs.Items()) {
    const std::string fcc = line.substr(0, 4);
    writer.Width = 720;
    writer.Height = 576;
    writer.FramePeriod = 40;
    writer.FileName = path;
    writer.SetFourCC(fcc);
    const auto t0 = std::chrono::steady_clock::now();
    writer.Open();
    for (int k = 0; k < frames; ++k) writer.AddFrame(input[static_cast<size_t>(k) % input.size()]);
    writer.Close();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const auto size = std::filesystem::file_size(path);
    std::printf("%-6s %10.1f %12.3f %12.0f\n", fcc.c_str(), frames / s, 1000.0 * s / frames,
                static_cast<double>(size) / frames);
  }
  std::filesystem::remove(path);
  return 0;
}
