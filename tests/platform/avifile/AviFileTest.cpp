// The AVI file library checked against ffprobe/ffmpeg (readers we did not
// write) and against itself: positions, gaps, key frames, OpenDML parts, and
// damaged files that must give an error code rather than a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/avifile/AviFile.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadBytes;
using sdm::test::RunCommand;
using sdm::test::TempDir;
using sdm::test::WriteBytes;

namespace {

constexpr int kW = 64, kH = 48;
constexpr uint32_t kFrameBytes = kW * 3 * kH;  // 64 × 3 is a multiple of 4: no row padding

// An uncompressed 64x48 frame whose bytes encode the frame number, so a
// decoded frame tells where it came from.
std::vector<uint8_t> Frame(int n) {
  std::vector<uint8_t> f(kFrameBytes);
  for (uint32_t i = 0; i < kFrameBytes; ++i) f[i] = static_cast<uint8_t>((i * 7 + static_cast<uint32_t>(n) * 31) & 0xFF);
  return f;
}

BITMAPINFOHEADER DibFormat() {
  BITMAPINFOHEADER h;
  h.biWidth = kW;
  h.biHeight = kH;
  h.biBitCount = 24;
  h.biSizeImage = kFrameBytes;
  return h;
}

AVISTREAMINFO VideoInfo() {
  AVISTREAMINFO i;
  i.fccType = streamtypeVIDEO;
  i.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
  i.dwFlags = 12;
  i.dwScale = 40;
  i.dwRate = 1000;
  i.dwQuality = 10000;
  i.rcFrame = {0, 0, kW, kH};
  return i;
}

// The 30-byte MPEG layer 3 format the muxer gives its audio stream.
std::vector<uint8_t> Mp3Format() {
  std::vector<uint8_t> f(30, 0);
  auto p16 = [&](int at, uint16_t v) { f[at] = v & 0xFF; f[at + 1] = v >> 8; };
  auto p32 = [&](int at, uint32_t v) { for (int k = 0; k < 4; ++k) f[at + k] = (v >> (8 * k)) & 0xFF; };
  p16(0, 0x55); p16(2, 2); p32(4, 44100); p32(8, 16000); p16(12, 1152); p16(16, 12);
  p16(18, 1); p32(20, 2); p16(24, 522); p16(26, 1); p16(28, 1393);
  return f;
}

// Writes frames 0 … n-1 at positions first, first+1, …; key frames every keyEvery.
void WriteDibFile(const std::string& path, int n, long first, int keyEvery = 1) {
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_WRITE | OF_CREATE), AVIERR_OK);
  PAVISTREAM s = nullptr;
  AVISTREAMINFO info = VideoInfo();
  ASSERT_EQ(AVIFileCreateStream(f, &s, &info), AVIERR_OK);
  BITMAPINFOHEADER fmt = DibFormat();
  ASSERT_EQ(AVIStreamSetFormat(s, 0, &fmt, sizeof fmt), AVIERR_OK);
  for (int k = 0; k < n; ++k) {
    std::vector<uint8_t> fr = Frame(k);
    ASSERT_EQ(AVIStreamWrite(s, first + k, 1, fr.data(), static_cast<long>(fr.size()),
                             k % keyEvery == 0 ? AVIIF_KEYFRAME : 0),
              AVIERR_OK);
  }
  EXPECT_EQ(AVIStreamRelease(s), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(f), AVIERR_OK);
}

std::string Probe(const std::string& path, const std::string& entries) {
  auto r = RunCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                       entries, "-of", "default=nw=1", path});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "ffprobe complained about " << path;
  return r.out;
}

// ffmpeg's decode of the video stream as raw bgr24 frames, top row first.
std::vector<uint8_t> DecodeRaw(const std::string& path, const TempDir& dir) {
  const std::string out = dir.file("decoded.raw");
  auto r = RunCommand({"ffmpeg", "-v", "error", "-y", "-i", path, "-map", "0:v:0", "-f", "rawvideo", "-pix_fmt",
                       "bgr24", "-fps_mode", "passthrough", out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  return ReadBytes(out);
}

// Our bottom-up frame as the top-down picture ffmpeg hands out.
std::vector<uint8_t> TopDown(const std::vector<uint8_t>& f) {
  std::vector<uint8_t> t(f.size());
  const size_t row = kW * 3;
  for (int y = 0; y < kH; ++y) std::memcpy(&t[y * row], &f[(kH - 1 - y) * row], row);
  return t;
}

std::vector<uint8_t> ReadSample(PAVISTREAM s, long pos) {
  long bytes = -1, samples = -1;
  EXPECT_EQ(AVIStreamRead(s, pos, 1, nullptr, 0, &bytes, &samples), AVIERR_OK);
  std::vector<uint8_t> b(static_cast<size_t>(std::max(0L, bytes)));
  if (bytes > 0) {
    EXPECT_EQ(AVIStreamRead(s, pos, 1, b.data(), bytes, &bytes, &samples), AVIERR_OK);
  }
  return b;
}

}  // namespace

TEST(AviFile, GapsBeforeTheFirstSampleBecomeEmptySamplesAndFfmpegReadsTheFile) {
  TempDir dir;
  const std::string path = dir.file("gaps.avi");
  WriteDibFile(path, 3, 2);  // the AVI writer's layout: samples at 2, 3, 4

  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_READ), AVIERR_OK);
  AVIFILEINFO fi;
  ASSERT_EQ(AVIFileInfo(f, &fi, sizeof fi), AVIERR_OK);
  EXPECT_EQ(fi.dwLength, 5u);
  EXPECT_EQ(fi.dwStreams, 1u);
  EXPECT_EQ(fi.dwWidth, 64u);
  PAVISTREAM s = nullptr;
  ASSERT_EQ(AVIFileGetStream(f, &s, streamtypeVIDEO, 0), AVIERR_OK);
  PAVISTREAM none = nullptr;
  EXPECT_EQ(AVIFileGetStream(f, &none, streamtypeAUDIO, 0), AVIERR_NODATA);
  AVISTREAMINFO si;
  ASSERT_EQ(AVIStreamInfo(s, &si, sizeof si), AVIERR_OK);
  EXPECT_EQ(si.dwLength, 5u);
  EXPECT_EQ(si.dwScale, 40u);
  EXPECT_EQ(si.dwRate, 1000u);
  EXPECT_EQ(si.dwFlags, 12u);
  EXPECT_EQ(si.dwQuality, 10000u);
  EXPECT_EQ(si.rcFrame.right, 64);
  EXPECT_EQ(si.rcFrame.bottom, 48);
  EXPECT_EQ(si.fccHandler, mmioFOURCC('D', 'I', 'B', ' '));
  long fmtSize = 0;
  ASSERT_EQ(AVIStreamReadFormat(s, 0, nullptr, &fmtSize), AVIERR_OK);
  EXPECT_EQ(fmtSize, 40);
  EXPECT_TRUE(ReadSample(s, 0).empty());
  EXPECT_TRUE(ReadSample(s, 1).empty());
  for (int k = 0; k < 3; ++k) EXPECT_EQ(ReadSample(s, 2 + k), Frame(k)) << "position " << 2 + k;
  // The empty fillers are not key frames; the written frames are.
  EXPECT_EQ(AVIStreamFindSample(s, 1, FIND_KEY), -1);
  EXPECT_EQ(AVIStreamFindSample(s, 3, FIND_KEY), 3);
  EXPECT_EQ(AVIStreamFindSample(s, 0, FIND_KEY | FIND_NEXT), 2);
  long bytes = 0;
  EXPECT_EQ(AVIStreamRead(s, 5, 1, nullptr, 0, &bytes, nullptr), AVIERR_BADPARAM);
  std::vector<uint8_t> small(10);
  EXPECT_EQ(AVIStreamRead(s, 2, 1, small.data(), 10, &bytes, nullptr), AVIERR_BUFFERTOOSMALL);
  EXPECT_EQ(AVIStreamRelease(s), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(f), AVIERR_OK);

  const std::string probe = Probe(path, "stream=codec_name,width,height,r_frame_rate,nb_read_packets");
  EXPECT_NE(probe.find("codec_name=rawvideo"), std::string::npos) << probe;
  EXPECT_NE(probe.find("width=64"), std::string::npos);
  EXPECT_NE(probe.find("r_frame_rate=25/1"), std::string::npos) << probe;
  const std::vector<uint8_t> raw = DecodeRaw(path, dir);
  ASSERT_GE(raw.size(), 3 * kFrameBytes);
  // Whatever ffmpeg makes of the empty samples, the last three frames are ours.
  const size_t tail = raw.size() - 3 * kFrameBytes;
  for (int k = 0; k < 3; ++k)
    EXPECT_TRUE(std::equal(raw.begin() + tail + k * kFrameBytes, raw.begin() + tail + (k + 1) * kFrameBytes,
                           TopDown(Frame(k)).begin()))
        << "frame " << k;
}

TEST(AviFile, WritingRefusesPositionsBeforeTheEndAndAbsurdGaps) {
  TempDir dir;
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, dir.file("w.avi"), OF_WRITE | OF_CREATE), AVIERR_OK);
  PAVISTREAM s = nullptr;
  AVISTREAMINFO info = VideoInfo();
  ASSERT_EQ(AVIFileCreateStream(f, &s, &info), AVIERR_OK);
  BITMAPINFOHEADER fmt = DibFormat();
  ASSERT_EQ(AVIStreamSetFormat(s, 0, &fmt, sizeof fmt), AVIERR_OK);
  std::vector<uint8_t> fr = Frame(0);
  ASSERT_EQ(AVIStreamWrite(s, 3, 1, fr.data(), kFrameBytes, AVIIF_KEYFRAME), AVIERR_OK);
  EXPECT_EQ(AVIStreamLength(s), 4);
  EXPECT_EQ(AVIStreamWrite(s, 3, 1, fr.data(), kFrameBytes, 0), AVIERR_BADPARAM);
  EXPECT_EQ(AVIStreamWrite(s, 0x7FFFFFFF, 1, fr.data(), kFrameBytes, 0), AVIERR_BADPARAM);
  EXPECT_EQ(AVIStreamWrite(s, 4, 1, nullptr, 100, 0), AVIERR_BADPARAM);
  EXPECT_EQ(AVIStreamWrite(s, -1, 1, fr.data(), kFrameBytes, 0), AVIERR_OK);  // append
  EXPECT_EQ(AVIStreamLength(s), 5);
  // The header is laid out once data flows: no new streams, no other format.
  PAVISTREAM late = nullptr;
  EXPECT_EQ(AVIFileCreateStream(f, &late, &info), AVIERR_UNSUPPORTED);
  fmt.biWidth = 32;
  EXPECT_EQ(AVIStreamSetFormat(s, 0, &fmt, sizeof fmt), AVIERR_UNSUPPORTED);
  // Releasing the file first keeps it open until its stream goes too.
  EXPECT_EQ(AVIFileRelease(f), AVIERR_OK);
  EXPECT_EQ(AVIStreamRelease(s), AVIERR_OK);
  // ffmpeg counts the empty samples in the length but reads no packet for them.
  EXPECT_EQ(Probe(dir.file("w.avi"), "stream=nb_frames,nb_read_packets"), "nb_frames=5\nnb_read_packets=2\n");
}

TEST(AviFile, VideoAndMp3AudioStreamsAsTheMuxerWritesThem) {
  TempDir dir;
  const std::string path = dir.file("av.avi");
  // A real MP3 so ffprobe has something to recognise: 0.5 s of tone by ffmpeg.
  const std::string mp3 = dir.file("tone.mp3");
  auto r = RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.5", "-ac", "2",
                       "-ar", "44100", "-c:a", "libmp3lame", "-b:a", "128k", mp3});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<uint8_t> bytes = ReadBytes(mp3);
  // Split at the frame sync words: 128 kbit/s at 44.1 kHz gives 417/418-byte frames.
  std::vector<std::pair<size_t, size_t>> frames;
  for (size_t p = 0; p + 4 <= bytes.size();) {
    if (bytes[p] == 0xFF && (bytes[p + 1] & 0xE0) == 0xE0) {
      const size_t len = 144 * 128000 / 44100 + ((bytes[p + 2] >> 1) & 1);
      if (p + len > bytes.size()) break;
      frames.push_back({p, len});
      p += len;
    } else {
      ++p;
    }
  }
  ASSERT_GT(frames.size(), 10u);

  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_WRITE | OF_CREATE), AVIERR_OK);
  PAVISTREAM v = nullptr, a = nullptr;
  AVISTREAMINFO vi = VideoInfo();
  ASSERT_EQ(AVIFileCreateStream(f, &v, &vi), AVIERR_OK);
  BITMAPINFOHEADER fmt = DibFormat();
  ASSERT_EQ(AVIStreamSetFormat(v, 0, &fmt, sizeof fmt), AVIERR_OK);
  AVISTREAMINFO ai;
  ai.fccType = streamtypeAUDIO;
  ai.dwScale = 1152;
  ai.dwRate = 44100;
  ASSERT_EQ(AVIFileCreateStream(f, &a, &ai), AVIERR_OK);
  std::vector<uint8_t> af = Mp3Format();
  ASSERT_EQ(AVIStreamSetFormat(a, 0, af.data(), 30), AVIERR_OK);
  for (int k = 1; k <= 12; ++k) {
    std::vector<uint8_t> fr = Frame(k);
    ASSERT_EQ(AVIStreamWrite(v, k, 1, fr.data(), kFrameBytes, AVIIF_KEYFRAME), AVIERR_OK);
  }
  for (size_t j = 1; j < frames.size(); ++j)
    ASSERT_EQ(AVIStreamWrite(a, static_cast<long>(j), 1, &bytes[frames[j].first], static_cast<long>(frames[j].second), 0),
              AVIERR_OK);
  EXPECT_EQ(AVIStreamRelease(a), AVIERR_OK);
  EXPECT_EQ(AVIStreamRelease(v), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(f), AVIERR_OK);

  ASSERT_EQ(AVIFileOpen(&f, path, OF_READ), AVIERR_OK);
  ASSERT_EQ(AVIFileGetStream(f, &a, streamtypeAUDIO, 0), AVIERR_OK);
  AVISTREAMINFO got;
  ASSERT_EQ(AVIStreamInfo(a, &got, sizeof got), AVIERR_OK);
  EXPECT_EQ(got.dwScale, 1152u);
  EXPECT_EQ(got.dwRate, 44100u);
  EXPECT_EQ(got.dwLength, frames.size());
  std::vector<uint8_t> fmtBack(30);
  long n = 30;
  ASSERT_EQ(AVIStreamReadFormat(a, 0, fmtBack.data(), &n), AVIERR_OK);
  EXPECT_EQ(fmtBack, af);
  EXPECT_EQ(ReadSample(a, 5), std::vector<uint8_t>(bytes.begin() + frames[5].first,
                                                   bytes.begin() + frames[5].first + frames[5].second));
  AVIStreamRelease(a);
  AVIFileRelease(f);

  r = RunCommand({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                  "stream=codec_name,sample_rate,channels", "-of", "default=nw=1", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("codec_name=mp3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sample_rate=44100"), std::string::npos);
  r = RunCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

TEST(AviFile, PastTheRiffLimitTheFileContinuesAsOpenDml) {
  TempDir dir;
  const std::string path = dir.file("odml.avi");
  AVISetRiffLimit(64 * 1024);  // about seven frames per part
  WriteDibFile(path, 40, 2, 5);
  AVISetRiffLimit(kDefaultRiffLimit);

  const std::vector<uint8_t> file = ReadBytes(path);
  int parts = 0;
  for (size_t p = 0; p + 12 <= file.size(); ++p)
    if (std::memcmp(&file[p], "RIFF", 4) == 0 && std::memcmp(&file[p + 8], "AVIX", 4) == 0) ++parts;
  EXPECT_GE(parts, 5);

  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_READ), AVIERR_OK);
  PAVISTREAM s = nullptr;
  ASSERT_EQ(AVIFileGetStream(f, &s, 0, 0), AVIERR_OK);
  EXPECT_EQ(AVIStreamLength(s), 42);
  for (int k = 0; k < 40; ++k) ASSERT_EQ(ReadSample(s, 2 + k), Frame(k)) << "frame " << k;
  EXPECT_EQ(AVIStreamFindSample(s, 13, FIND_KEY), 12);  // frames 0, 5, 10 … at positions 2, 7, 12 …
  EXPECT_EQ(AVIStreamFindSample(s, 41, FIND_KEY), 37);
  AVIStreamRelease(s);
  AVIFileRelease(f);

  EXPECT_EQ(Probe(path, "stream=nb_frames,nb_read_packets"), "nb_frames=42\nnb_read_packets=40\n");
  const std::vector<uint8_t> raw = DecodeRaw(path, dir);
  ASSERT_GE(raw.size(), 40 * kFrameBytes);
  const size_t tail = raw.size() - 40 * kFrameBytes;
  for (int k = 0; k < 40; ++k)
    ASSERT_TRUE(std::equal(raw.begin() + tail + k * kFrameBytes, raw.begin() + tail + (k + 1) * kFrameBytes,
                           TopDown(Frame(k)).begin()))
        << "frame " << k;
}

TEST(AviFile, ReadsFilesOfOtherWriters) {
  TempDir dir;
  // ffmpeg's AVI 1.0 file with idx1, and one forced into OpenDML indexes.
  for (const std::string name : {"plain.avi", "mjpeg.avi"}) {
    const std::string path = dir.file(name);
    std::vector<std::string> cmd = {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=2"};
    if (name == "mjpeg.avi") cmd.insert(cmd.end(), {"-c:v", "mjpeg", "-g", "1"});
    else cmd.insert(cmd.end(), {"-c:v", "mpeg4", "-g", "7", "-bf", "0"});
    cmd.push_back(path);
    auto r = RunCommand(cmd);
    ASSERT_EQ(r.status, 0) << r.err;
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpen(&f, path, OF_READ), AVIERR_OK) << name;
    PAVISTREAM s = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &s, streamtypeVIDEO, 0), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(s), 20) << name;
    for (long k = 0; k < 20; ++k) {
      const std::vector<uint8_t> b = ReadSample(s, k);
      ASSERT_GT(b.size(), 4u) << name << " frame " << k;
      if (name == "mjpeg.avi") {
        EXPECT_EQ(b[0] << 8 | b[1], 0xFFD8) << "JPEG start of image";
      }
    }
    if (name == "plain.avi") {
      EXPECT_EQ(AVIStreamFindSample(s, 9, FIND_KEY), 7);
      EXPECT_EQ(AVIStreamFindSample(s, 14, FIND_KEY), 14);
    }
    AVIStreamRelease(s);
    AVIFileRelease(f);
  }
}

TEST(AviFile, DamagedFilesGiveAnErrorOrTheirReadableSamples) {
  TempDir dir;
  const std::string good = dir.file("good.avi");
  WriteDibFile(good, 6, 0);
  const std::vector<uint8_t> whole = ReadBytes(good);
  const std::string bad = dir.file("bad.avi");

  PAVIFILE f = nullptr;
  EXPECT_EQ(AVIFileOpen(&f, dir.file("missing.avi"), OF_READ), AVIERR_FILEOPEN);
  WriteBytes(bad, {});
  EXPECT_EQ(AVIFileOpen(&f, bad, OF_READ), AVIERR_BADFORMAT);
  WriteBytes(bad, std::vector<uint8_t>(whole.begin(), whole.begin() + 100));
  EXPECT_EQ(AVIFileOpen(&f, bad, OF_READ), AVIERR_BADFORMAT);
  EXPECT_EQ(f, nullptr);

  // Cut anywhere: either a clear error, or the samples that are complete.
  for (size_t len = 0; len < whole.size(); len += 997) {
    WriteBytes(bad, std::vector<uint8_t>(whole.begin(), whole.begin() + len));
    if (AVIFileOpen(&f, bad, OF_READ) != AVIERR_OK) continue;
    PAVISTREAM s = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &s, 0, 0), AVIERR_OK);
    for (long k = 0; k < AVIStreamLength(s); ++k) EXPECT_EQ(ReadSample(s, k), Frame(static_cast<int>(k)));
    AVIStreamRelease(s);
    AVIFileRelease(f);
  }

  // Random damage: every call must return, whatever it answers.
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> b = whole;
    for (int k = 0; k < 8; ++k) b[rng() % 2048 % b.size()] = static_cast<uint8_t>(rng());
    if (round % 3 == 0) b[rng() % b.size()] = static_cast<uint8_t>(rng());
    WriteBytes(bad, b);
    if (AVIFileOpen(&f, bad, OF_READ) != AVIERR_OK) continue;
    AVIFILEINFO fi;
    AVIFileInfo(f, &fi, sizeof fi);
    for (long n = 0;; ++n) {
      PAVISTREAM s = nullptr;
      if (AVIFileGetStream(f, &s, 0, n) != AVIERR_OK) break;
      long fs = 0;
      AVIStreamReadFormat(s, 0, nullptr, &fs);
      const long start = AVIStreamStart(s);
      for (long k = start; k < start + std::min(AVIStreamLength(s), 50L); ++k) {
        ReadSample(s, k);
        AVIStreamFindSample(s, k, FIND_KEY);
      }
      AVIStreamRelease(s);
    }
    AVIFileRelease(f);
  }
}

TEST(AviFile, AFullDiskIsReportedWhenTheFileIsReleased) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, "/dev/full", OF_WRITE | OF_CREATE), AVIERR_OK);
  PAVISTREAM s = nullptr;
  AVISTREAMINFO info = VideoInfo();
  ASSERT_EQ(AVIFileCreateStream(f, &s, &info), AVIERR_OK);
  std::vector<uint8_t> fr = Frame(0);
  HRESULT last = AVIERR_OK;
  for (int k = 0; k < 200 && last == AVIERR_OK; ++k) last = AVIStreamWrite(s, k, 1, fr.data(), kFrameBytes, 0);
  EXPECT_EQ(last, AVIERR_FILEWRITE);  // the buffer fills long before 200 frames
  EXPECT_EQ(AVIStreamRelease(s), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(f), AVIERR_FILEWRITE);
}
