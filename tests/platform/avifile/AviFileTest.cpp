// The AVI file library checked against ffprobe/ffmpeg (readers we did not
// write) and against itself: positions, gaps, key frames, OpenDML parts, and
// damaged files that must give an error code rather than a crash.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
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
  for (uint32_t i = 0; i < kFrameBytes; ++i)
    f[i] = static_cast<uint8_t>((i * 7 + static_cast<uint32_t>(n) * 31) & 0xFF);
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
  auto p16 = [&](int at, uint16_t v) {
    f[at] = v & 0xFF;
    f[at + 1] = v >> 8;
  };
  auto p32 = [&](int at, uint32_t v) {
    for (int k = 0; k < 4; ++k) f[at + k] = (v >> (8 * k)) & 0xFF;
  };
  p16(0, 0x55);
  p16(2, 2);
  p32(4, 44100);
  p32(8, 16000);
  p16(12, 1152);
  p16(16, 12);
  p16(18, 1);
  p32(20, 2);
  p16(24, 522);
  p16(26, 1);
  p16(28, 1393);
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
  auto r = RunCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries", entries,
                       "-of", "default=nw=1", path});
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
    ASSERT_EQ(
        AVIStreamWrite(a, static_cast<long>(j), 1, &bytes[frames[j].first], static_cast<long>(frames[j].second), 0),
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
  EXPECT_EQ(ReadSample(a, 5),
            std::vector<uint8_t>(bytes.begin() + frames[5].first, bytes.begin() + frames[5].first + frames[5].second));
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
    std::vector<std::string> cmd = {
        "ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=2"};
    if (name == "mjpeg.avi")
      cmd.insert(cmd.end(), {"-c:v", "mjpeg", "-g", "1"});
    else
      cmd.insert(cmd.end(), {"-c:v", "mpeg4", "-g", "7", "-bf", "0"});
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

// Samples are read through a block of the file kept from the last read:
// every order of reading gives every sample's own bytes, and a file cut
// after it was opened gives a clear error for what is gone.
TEST(AviFile, SamplesReadInAnyOrderAndAFileCutAfterOpening) {
  TempDir dir;
  const std::string path = dir.file("many.avi");
  constexpr int kFrames = 90;  // some 830 KB: several blocks
  WriteDibFile(path, kFrames, 0);
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_READ), AVIERR_OK);
  PAVISTREAM s = nullptr;
  ASSERT_EQ(AVIFileGetStream(f, &s, 0, 0), AVIERR_OK);
  for (int k = 0; k < kFrames; ++k) ASSERT_EQ(ReadSample(s, k), Frame(k)) << k;
  for (int k = kFrames - 1; k >= 0; k -= 7) ASSERT_EQ(ReadSample(s, k), Frame(k)) << k;
  for (int k = 3; k < kFrames; k += 29) ASSERT_EQ(ReadSample(s, k), Frame(k)) << k;
  // Several samples in one call.
  std::vector<uint8_t> three(3 * kFrameBytes);
  long bytes = 0, samples = 0;
  ASSERT_EQ(AVIStreamRead(s, 40, 3, three.data(), static_cast<long>(three.size()), &bytes, &samples), AVIERR_OK);
  EXPECT_EQ(samples, 3);
  for (int k = 0; k < 3; ++k)
    EXPECT_TRUE(
        std::equal(three.begin() + k * kFrameBytes, three.begin() + (k + 1) * kFrameBytes, Frame(40 + k).begin()));

  // Cut in the middle of the data; read the first frame last, so that no
  // block of the end is still held.
  std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
  EXPECT_EQ(ReadSample(s, 0), Frame(0));
  std::vector<uint8_t> one(kFrameBytes);
  EXPECT_EQ(AVIStreamRead(s, kFrames - 1, 1, one.data(), kFrameBytes, &bytes, &samples), AVIERR_FILEREAD);
  EXPECT_NE(AVIFileLastErrorText().find("shorter"), std::string::npos) << AVIFileLastErrorText();
  EXPECT_EQ(ReadSample(s, 1), Frame(1));
  AVIStreamRelease(s);
  AVIFileRelease(f);
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
  EXPECT_EQ(AVIFileOpen(&f, bad, OF_READ), AVIERR_FILEREAD);  // cut inside its headers
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

namespace {

// Runs body in a child process (so limits and mounts stay there) and returns
// what it wrote.
std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string out = body();
    if (::write(fds[1], out.data(), out.size()) < 0) _exit(2);
    _exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

// Writes frames of 9 KiB, then when asked one of 1.5 MiB, into path until a
// write fails; reports "<writes tried> <write result> <release result> <reason>".
std::string FillDisk(const std::string& path, int frames, bool bigLast = true) {
  PAVIFILE f = nullptr;
  if (AVIFileOpen(&f, path, OF_WRITE | OF_CREATE) != AVIERR_OK) return "open failed";
  PAVISTREAM s = nullptr;
  AVISTREAMINFO info = VideoInfo();
  AVIFileCreateStream(f, &s, &info);
  BITMAPINFOHEADER fmt = DibFormat();
  AVIStreamSetFormat(s, 0, &fmt, sizeof fmt);
  const std::vector<uint8_t> fr = Frame(0), big(1536 * 1024, 7);
  HRESULT write = AVIERR_OK;
  int k = 0;
  for (; k < frames + (bigLast ? 1 : 0) && write == AVIERR_OK; ++k)
    write = k < frames ? AVIStreamWrite(s, k, 1, fr.data(), kFrameBytes, 0)
                       : AVIStreamWrite(s, k, 1, big.data(), static_cast<long>(big.size()), 0);
  const std::string writeText = AVIFileLastErrorText();
  AVIStreamRelease(s);
  const HRESULT release = AVIFileRelease(f);
  char head[64];
  std::snprintf(head, sizeof head, "%d %08X %08X ", k, static_cast<unsigned>(write), static_cast<unsigned>(release));
  return head + (write != AVIERR_OK ? writeText : AVIFileLastErrorText());
}

}  // namespace

TEST(AviFile, AFullDiskOrFileSizeLimitIsReportedWithTheSystemsReason) {
  TempDir dir;
  const std::string fileTooLarge = std::strerror(EFBIG);
  char expect[64];
  // 20 frames fit the 1 MiB buffer: only the release finds the limit, and
  // says so rather than leave a truncated file for a finished one.
  std::string r = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      100 * 1024, 100 * 1024
    };
    ::setrlimit(RLIMIT_FSIZE, &lim);
    return FillDisk(dir.file("limited.avi"), 20, false);
  });
  std::snprintf(expect, sizeof expect, "20 00000000 %08X ", static_cast<unsigned>(AVIERR_FILEWRITE));
  EXPECT_EQ(r, expect + fileTooLarge);
  // 200 frames pass the buffer: the write that meets the limit fails.
  r = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      100 * 1024, 100 * 1024
    };
    ::setrlimit(RLIMIT_FSIZE, &lim);
    return FillDisk(dir.file("limited2.avi"), 200);
  });
  EXPECT_NE(r.find(" 8004406E 8004406E " + fileTooLarge), std::string::npos) << r;
  // A real full file system where this test may mount one: a 256 KiB tmpfs
  // in a mount namespace of the child's own.
  const std::string mountPoint = dir.file("small");
  std::filesystem::create_directory(mountPoint);
  r = InChild([&]() -> std::string {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0)
      return "no tmpfs";
    return FillDisk(mountPoint + "/full.avi", 200) + "|" + FillDisk(mountPoint + "/full2.avi", 0);
  });
  if (r == "no tmpfs") GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string noSpace = std::strerror(ENOSPC);
  // The first file fills the disk; the second fails at its 1.5 MiB frame.
  EXPECT_NE(r.find(" 8004406E 8004406E " + noSpace + "|"), std::string::npos) << r;
  EXPECT_NE(r.find("|1 8004406E 8004406E " + noSpace), std::string::npos) << r;
}

TEST(AviFile, OnlyPlainFilesAreOpenedAndNothingElseIsTouched) {
  TempDir dir;
  const std::string fifo = dir.file("pipe.avi");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  PAVIFILE f = nullptr;
  // Neither reading nor writing waits for the other end of a pipe.
  EXPECT_EQ(AVIFileOpen(&f, fifo, OF_READ), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileLastErrorText(), "is a named pipe");
  EXPECT_EQ(AVIFileOpen(&f, fifo, OF_WRITE | OF_CREATE), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileLastErrorText(), "is a named pipe");
  EXPECT_EQ(AVIFileOpen(&f, dir.path().string(), OF_READ), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileLastErrorText(), "is a folder");
  EXPECT_EQ(AVIFileOpen(&f, dir.path().string(), OF_WRITE | OF_CREATE), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileLastErrorText(), "is a folder");
  EXPECT_EQ(AVIFileOpen(&f, "/dev/null", OF_WRITE | OF_CREATE), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileLastErrorText(), "is a device");
  EXPECT_EQ(AVIFileOpen(&f, dir.file("missing.avi"), OF_READ), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileLastErrorText(), std::strerror(ENOENT));
  EXPECT_EQ(AVIFileOpen(&f, dir.file("no/such/dir.avi"), OF_WRITE | OF_CREATE), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileLastErrorText(), std::strerror(ENOENT));
  EXPECT_EQ(f, nullptr);
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // Not an AVI file at all, and one cut short.
  const std::string text = dir.file("text.avi");
  test::WriteText(text, "hello, this is not a video file at all");
  EXPECT_EQ(AVIFileOpen(&f, text, OF_READ), AVIERR_BADFORMAT);
  EXPECT_EQ(AVIFileLastErrorText(), "not an AVI file, or a damaged one");
  const std::string good = dir.file("good.avi");
  WriteDibFile(good, 6, 0);
  std::vector<uint8_t> whole = ReadBytes(good);
  whole.resize(whole.size() - 5000);
  WriteBytes(text, whole);
  EXPECT_EQ(AVIFileOpen(&f, text, OF_READ), AVIERR_FILEREAD);
  EXPECT_EQ(AVIFileLastErrorText(), "the file is cut short: it ends at byte " + std::to_string(whole.size()) + " of " +
                                        std::to_string(whole.size() + 5000));
  // A RIFF size past the end over chunks that are all whole is only a wrong
  // size: the file is read.
  whole = ReadBytes(good);
  whole[4] = whole[5] = whole[6] = whole[7] = 0xFF;
  WriteBytes(text, whole);
  ASSERT_EQ(AVIFileOpen(&f, text, OF_READ), AVIERR_OK) << AVIFileLastErrorText();
  AVIFileRelease(f);
}

namespace {

void Put32At(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32At(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
size_t Find(const std::vector<uint8_t>& b, const char* fourcc, size_t from = 0) {
  for (size_t p = from; p + 4 <= b.size(); ++p)
    if (std::memcmp(&b[p], fourcc, 4) == 0) return p;
  return std::string::npos;
}

// Every frame at its position, as a file with a sound index or a scan of its
// chunks gives them.
void ExpectFrames(const std::string& path, int n, long first) {
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_READ), AVIERR_OK) << AVIFileLastErrorText();
  PAVISTREAM s = nullptr;
  ASSERT_EQ(AVIFileGetStream(f, &s, 0, 0), AVIERR_OK);
  EXPECT_EQ(AVIStreamLength(s), first + n);
  for (long k = 0; k < std::min<long>(AVIStreamLength(s), first + n); ++k)
    EXPECT_EQ(ReadSample(s, k), k < first ? std::vector<uint8_t>{} : Frame(static_cast<int>(k - first)))
        << "position " << k;
  AVIStreamRelease(s);
  AVIFileRelease(f);
}

}  // namespace

TEST(AviFile, AnIndexThatRepeatsOverlapsOrPointsOutsideTheDataIsNotTrusted) {
  TempDir dir;
  const std::string good = dir.file("good.avi"), bad = dir.file("bad.avi");
  WriteDibFile(good, 6, 0);
  const std::vector<uint8_t> whole = ReadBytes(good);
  const size_t idx1 = Find(whole, "idx1", Find(whole, "movi"));
  ASSERT_NE(idx1, std::string::npos);
  ASSERT_EQ(Get32At(whole, idx1 + 4), 6u * 16);
  const size_t e0 = idx1 + 8;  // the first entry: id, flags, offset, size

  std::vector<std::function<void(std::vector<uint8_t>&)>> damage = {
      // Every entry names the first chunk: a copy would hold one frame six times.
      [&](std::vector<uint8_t>& b) {
        for (int k = 1; k < 6; ++k) std::memcpy(&b[e0 + 16 * k], &b[e0], 16);
      },
      // One entry a byte off: its chunk overlaps the one before.
      [&](std::vector<uint8_t>& b) { Put32At(b, e0 + 16 * 3 + 8, Get32At(b, e0 + 16 * 3 + 8) - 1); },
      // A size reaching into the next chunk.
      [&](std::vector<uint8_t>& b) { Put32At(b, e0 + 16 * 2 + 12, kFrameBytes + 100); },
      // An offset into the headers before the movi list.
      [&](std::vector<uint8_t>& b) { Put32At(b, e0 + 16 * 1 + 8, 0xFFFFFF00u); },
      // An offset past the movi list, onto the index itself.
      [&](std::vector<uint8_t>& b) {
        Put32At(b, e0 + 16 * 5 + 8, static_cast<uint32_t>(idx1 - (Find(whole, "movi"))));
        Put32At(b, e0 + 16 * 5 + 12, 16);
      },
  };
  for (size_t d = 0; d < damage.size(); ++d) {
    SCOPED_TRACE("damage " + std::to_string(d));
    std::vector<uint8_t> b = whole;
    damage[d](b);
    WriteBytes(bad, b);
    ExpectFrames(bad, 6, 0);
  }

  // The same for the standard indexes of an OpenDML file: one entry repeated.
  AVISetRiffLimit(64 * 1024);
  WriteDibFile(good, 20, 2);
  AVISetRiffLimit(kDefaultRiffLimit);
  std::vector<uint8_t> odml = ReadBytes(good);
  const size_t ix = Find(odml, "ix00");
  ASSERT_NE(ix, std::string::npos);
  ASSERT_GE(Get32At(odml, ix + 12), 4u);  // entries in this index
  std::memcpy(&odml[ix + 32 + 8 * 3], &odml[ix + 32 + 8 * 2], 8);
  WriteBytes(bad, odml);
  ExpectFrames(bad, 20, 2);
}
