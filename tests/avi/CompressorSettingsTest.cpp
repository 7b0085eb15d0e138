// The compressors' own settings as a decoder we did not write sees them:
// the quantisers stored in the stream (ffmpeg -debug qp for MPEG-4 and
// H.264, the quantisation table of each Motion JPEG frame) and the key
// frames ffprobe finds follow the quality and key-frame interval stored for
// each compressor.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "avi/U_BmpToAvi.h"
#include "platform/avifile/AviFile.h"
#include "platform/vfw/MemoryCompressorStore.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::MemoryStore;
using sdm::test::RunCommand;
using sdm::test::TempDir;

namespace {

class StoreScope {
public:
  StoreScope() { SetCompressorSettingsStore(&store); }
  ~StoreScope() { SetCompressorSettingsStore(nullptr); }
  MemoryStore store;
};

constexpr int kW = 64, kH = 48, kFrames = 12;

// A textured still background with a square moving over it: most blocks
// repeat from frame to frame, so temporal compressors have every reason to
// make predicted frames and nothing forces a key frame but the interval.
TDib24 Frame(int n, int w = kW, int h = kH) {
  TDib24 d(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = d.TopRow(y);
    const int v = y * kH / h;
    for (int x = 0; x < w; ++x) {
      const int u = x * kW / w;
      const bool square = u >= 4 + 3 * n && u < 16 + 3 * n && v >= 16 && v < 28;
      const int texture = ((x / 4 + y / 4) % 2) * 24;
      row[3 * x + 0] = static_cast<uint8_t>(square ? 240 : u * 3 + v + texture);
      row[3 * x + 1] = static_cast<uint8_t>(square ? 30 : 40 + v * 3 + texture);
      row[3 * x + 2] = static_cast<uint8_t>(square ? 90 : 200 - u * 2);
    }
  }
  return d;
}

void Write(const std::string& path, const std::string& fcc, int w = kW, int h = kH) {
  TBmpToAvi writer;
  writer.Width = w;
  writer.Height = h;
  writer.FramePeriod = 40;
  writer.FileName = path;
  writer.SetFourCC(fcc);
  writer.Open();
  for (int k = 0; k < kFrames; ++k) writer.AddFrame(Frame(k, w, h));
  writer.Close();
}

// Key frames as ffprobe reads them: from the file's index (what players
// seek by) and from the decoder, listed by frame from 0.
struct KeyFrames {
  std::vector<int> indexed, decoded;
};

KeyFrames KeyFramesOf(const std::string& path) {
  const auto r = RunCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                             "packet=flags:frame=key_frame", "-of", "default=nw=1", path});
  EXPECT_EQ(r.status, 0) << r.err;
  KeyFrames keys;
  std::istringstream in(r.out);
  std::string line;
  int packet = 0, frame = 0;
  while (std::getline(in, line)) {
    if (line.rfind("flags=", 0) == 0 && line.find('K') != std::string::npos) keys.indexed.push_back(packet);
    if (line.rfind("flags=", 0) == 0) ++packet;
    if (line == "key_frame=1") keys.decoded.push_back(frame);
    if (line.rfind("key_frame=", 0) == 0) ++frame;
  }
  EXPECT_EQ(packet, kFrames);
  EXPECT_EQ(frame, kFrames);
  return keys;
}

// The quantiser of every macroblock of every frame, as ffmpeg's MPEG-4 and
// H.264 decoders report them (-debug qp prints one row of two-character
// fields per row of macroblocks after each "New frame" line).
std::vector<int> DecodedQuantisers(const std::string& path) {
  const auto r = RunCommand({"ffmpeg", "-nostats", "-threads", "1", "-debug", "qp", "-i", path, "-f", "null", "-"});
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 500);
  std::vector<int> qp;
  bool inFrame = false;
  std::istringstream in(r.err);
  std::string line;
  while (std::getline(in, line)) {
    const size_t close = line.find("] ");
    if (line.rfind("[", 0) != 0 || close == std::string::npos) {
      inFrame = false;
      continue;
    }
    const std::string rest = line.substr(close + 2);
    if (rest.find("New frame") != std::string::npos) {
      inFrame = true;
      continue;
    }
    if (!inFrame || rest.size() < 2 || rest.find_first_not_of(" 0123456789") != std::string::npos) continue;
    for (size_t i = 0; i + 2 <= rest.size(); i += 2) qp.push_back(std::stoi(rest.substr(i, 2)));
  }
  return qp;
}

int Median(std::vector<int> v) {
  if (v.empty()) return -1;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// The first AC entry of the first quantisation table (the luminance one) of
// the first Motion JPEG frame, read from the file's first video sample.
int JpegLumaAcQuantiser(const std::string& path) {
  PAVIFILE f = nullptr;
  PAVISTREAM s = nullptr;
  if (AVIFileOpen(&f, path, OF_READ) != AVIERR_OK) return -1;
  int ac = -1;
  if (AVIFileGetStream(f, &s, streamtypeVIDEO, 0) == AVIERR_OK) {
    long bytes = 0, first = AVIStreamStart(s);
    // Our writer leaves the first positions empty.
    while (first < AVIStreamLength(s) && AVIStreamRead(s, first, 1, nullptr, 0, &bytes, nullptr) == AVIERR_OK &&
           bytes == 0)
      ++first;
    std::vector<uint8_t> jpeg(static_cast<size_t>(std::max(bytes, 0L)));
    AVIStreamRead(s, first, 1, jpeg.data(), bytes, &bytes, nullptr);
    // FF DB, a 16-bit length, then (precision << 4 | table) and 64 entries
    // in zig-zag order, the DC entry first.
    for (size_t i = 0; i + 6 < jpeg.size(); ++i)
      if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB && (jpeg[i + 4] & 0x0F) == 0) {
        ac = jpeg[i + 6];
        break;
      }
    AVIStreamRelease(s);
  }
  AVIFileRelease(f);
  return ac;
}

// Mean PSNR of the decoded frames against the frames we gave, by ffmpeg.
double Psnr(const std::string& path, const TempDir& dir, int w, int h) {
  std::string raw;
  for (int k = 0; k < kFrames; ++k) {
    const TDib24 d = Frame(k, w, h);
    for (int y = 0; y < h; ++y) raw.append(reinterpret_cast<const char*>(d.TopRow(y)), 3 * static_cast<size_t>(w));
  }
  const std::string source = dir.file("source.bgr");
  sdm::test::WriteText(source, raw);
  const auto r = RunCommand({"ffmpeg", "-nostats", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgr24", "-s",
                             std::to_string(w) + "x" + std::to_string(h), "-i", source, "-lavfi",
                             "[0:v]setpts=N[a];[1:v]setpts=N[b];[a][b]psnr", "-f", "null", "-"});
  const size_t at = r.err.find("average:");
  return at == std::string::npos ? -1 : std::stod(r.err.substr(at + 8));
}

}  // namespace

// Quality q of 0 … 10000 is quantiser 2 + (10000 − q) × 29 div 10000: 10000
// is 2, 9000 is 4, 0 is 31. libxvid used to ignore it and made every frame at
// quantiser 2, files two or three times larger than asked for.
TEST(CompressorSettings, MpegFourCompressorsQuantiseAtTheStoredQuality) {
  StoreScope settings;
  TempDir dir;
  TBmpToAvi lister;
  TStringList lines;
  lister.ListCodecs(lines);
  int checked = 0;
  for (const std::string fcc : {"xvid", "FMP4"}) {
    if (std::none_of(lines.Items().begin(), lines.Items().end(),
                     [&](const std::string& l) { return l.rfind(fcc, 0) == 0; }))
      continue;
    SCOPED_TRACE(fcc);
    for (const auto& [quality, quantiser] : {std::pair{9000, 4}, std::pair{0, 31}, std::pair{10000, 2}}) {
      settings.store.values[mmioStringToFOURCC(fcc)] = {quality, 250};
      const std::string path = dir.file(std::string(fcc) + std::to_string(quality) + ".avi");
      Write(path, fcc);
      const std::vector<int> qp = DecodedQuantisers(path);
      ASSERT_EQ(qp.size(), static_cast<size_t>(kFrames * (kW / 16) * (kH / 16)));
      EXPECT_EQ(std::count(qp.begin(), qp.end(), quantiser), static_cast<long>(qp.size())) << "quality " << quality;
    }
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST(CompressorSettings, OtherLossyCompressorsFollowTheStoredQuality) {
  StoreScope settings;
  TempDir dir;
  TBmpToAvi lister;
  TStringList lines;
  lister.ListCodecs(lines);
  auto installed = [&](const std::string& fcc) {
    return std::any_of(lines.Items().begin(), lines.Items().end(),
                       [&](const std::string& l) { return l.rfind(fcc, 0) == 0; });
  };
  auto write = [&](const std::string& fcc, int quality) {
    settings.store.values[mmioStringToFOURCC(fcc)] = {quality, 250};
    const std::string path = dir.file(fcc + std::to_string(quality) + ".avi");
    Write(path, fcc);
    return path;
  };
  if (installed("MJPG")) {
    // A Motion JPEG frame at quantiser q carries its luminance table scaled
    // by q / 8 (libavcodec starts from the MPEG intra table, whose first AC
    // entry of 16 becomes 2q).
    EXPECT_EQ(JpegLumaAcQuantiser(write("MJPG", 9000)), 2 * 4);
    EXPECT_EQ(JpegLumaAcQuantiser(write("MJPG", 0)), 2 * 31);
  }
  if (installed("H264")) {
    // x264 varies its quantiser per block around the quality's rate factor;
    // the typical one moves with the setting.
    const int fine = Median(DecodedQuantisers(write("H264", 10000)));
    const int coarse = Median(DecodedQuantisers(write("H264", 0)));
    EXPECT_GT(fine, 0);
    EXPECT_GE(coarse, fine + 15) << fine;
  }
  if (installed("cvid")) {
    // Cinepak stores no quantiser; the quality weighs size against error
    // (in frames large enough that the code books do not dominate).
    const auto cinepak = [&](int quality) {
      settings.store.values[mmioStringToFOURCC("cvid")] = {quality, 250};
      const std::string path = dir.file("cvid" + std::to_string(quality) + ".avi");
      Write(path, "cvid", 160, 120);
      return path;
    };
    const std::string fine = cinepak(10000), coarse = cinepak(0);
    EXPECT_GT(std::filesystem::file_size(fine), std::filesystem::file_size(coarse) * 5 / 4);
    EXPECT_GT(Psnr(fine, dir, 160, 120), Psnr(coarse, dir, 160, 120) + 2);
  }
}

TEST(CompressorSettings, KeyFramesComeAtTheStoredIntervalInEveryTemporalCompressor) {
  StoreScope settings;
  TempDir dir;
  TBmpToAvi lister;
  TStringList lines;
  lister.ListCodecs(lines);
  for (const std::string& line : lines.Items()) {
    const std::string fcc = line.substr(0, 4);
    SCOPED_TRACE(fcc);
    settings.store.values[mmioStringToFOURCC(fcc)] = {7500, 5};
    const std::string path = dir.file("keys.avi");
    Write(path, fcc);
    const KeyFrames keys = KeyFramesOf(path);
    if (fcc == "MJPG" || fcc == "DIB ") {
      // Every frame stands alone.
      EXPECT_EQ(keys.indexed.size(), static_cast<size_t>(kFrames));
    } else if (fcc == "H264") {
      // x264 adds a key frame where it sees a change of scene, which in
      // frames this small can be the square moving on.
      ASSERT_FALSE(keys.indexed.empty());
      EXPECT_EQ(keys.indexed[0], 0);
      for (size_t k = 1; k < keys.indexed.size(); ++k) EXPECT_LE(keys.indexed[k] - keys.indexed[k - 1], 5);
      EXPECT_GE(kFrames - keys.indexed.back(), 1);
      EXPECT_LE(kFrames - keys.indexed.back(), 5);
    } else {
      EXPECT_EQ(keys.indexed, (std::vector<int>{0, 5, 10}));
    }
    // The decoder agrees with the index, except Microsoft Video 1's, which
    // calls every frame a key frame.
    if (fcc != "MSVC") {
      EXPECT_EQ(keys.decoded, keys.indexed);
    }
  }
}
