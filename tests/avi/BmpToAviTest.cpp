// The AVI writer end to end: the codec list, choosing a compressor, and files
// written through every installed compressor, checked by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "avi/U_BmpToAvi.h"
#include "platform/avifile/AviFile.h"
#include "support/Errors.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadBytes;
using sdm::test::RunCommand;
using sdm::test::TempDir;

namespace {

// Sets SLIDOMAT_CODECS for one test and restores it after.
class CodecsEnv {
public:
  explicit CodecsEnv(const char* value) {
    if (const char* old = std::getenv("SLIDOMAT_CODECS")) old_ = old, had_ = true;
    if (value)
      setenv("SLIDOMAT_CODECS", value, 1);
    else
      unsetenv("SLIDOMAT_CODECS");
  }
  ~CodecsEnv() {
    if (had_)
      setenv("SLIDOMAT_CODECS", old_.c_str(), 1);
    else
      unsetenv("SLIDOMAT_CODECS");
  }

private:
  std::string old_;
  bool had_ = false;
};

// A frame with a moving diagonal gradient and a square, so encoders see
// motion and detail.
TDib24 TestFrame(int w, int h, int n) {
  TDib24 d(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = d.TopRow(y);
    for (int x = 0; x < w; ++x) {
      const bool square = x >= 8 + n * 2 && x < 24 + n * 2 && y >= 10 && y < 26;
      row[3 * x + 0] = static_cast<uint8_t>(square ? 250 : (x * 4 + n * 5) & 0xFF);
      row[3 * x + 1] = static_cast<uint8_t>(square ? 20 : (y * 5) & 0xFF);
      row[3 * x + 2] = static_cast<uint8_t>((x + y + n * 9) & 0xFF);
    }
  }
  return d;
}

std::vector<uint8_t> TopDownBgr(const TDib24& d) {
  std::vector<uint8_t> out;
  for (int y = 0; y < d.Height(); ++y) out.insert(out.end(), d.TopRow(y), d.TopRow(y) + 3 * d.Width());
  return out;
}

// ffmpeg's stderr without two notes that are not about our files: its own
// scaler's note on JPEG-range pixel formats, and the MJPEG decoder's "EOI
// missing" that ffmpeg prints for MJPEG files made by ffmpeg itself too.
std::string DecoderComplaints(const std::string& err) {
  std::string out, line;
  for (char c : err + "\n") {
    if (c != '\n') {
      line += c;
      continue;
    }
    if (!line.empty() && line.find("deprecated pixel format used") == std::string::npos &&
        line.find("EOI missing, emulating") == std::string::npos)
      out += line + "\n";
    line.clear();
  }
  return out;
}

std::vector<std::string> Lines(TBmpToAvi& w) {
  TStringList l;
  w.ListCodecs(l);
  return l.Items();
}

void Write(const std::string& path, const std::string& fcc, int n, int w = 64, int h = 48, int period = 40) {
  TBmpToAvi writer;
  writer.Width = w;
  writer.Height = h;
  writer.FramePeriod = period;
  writer.FileName = path;
  writer.SetFourCC(fcc);
  writer.Open();
  for (int k = 0; k < n; ++k) writer.AddFrame(TestFrame(w, h, k));
  writer.Close();
}

}  // namespace

TEST(BmpToAvi, ListsInstalledCompressorsInTheirOwnOrder) {
  TBmpToAvi w;
  {
    CodecsEnv env(nullptr);
    const auto lines = Lines(w);
    ASSERT_FALSE(lines.empty());
    for (const std::string& l : lines) {
      ASSERT_GT(l.size(), 5u);
      EXPECT_EQ(l[4], ' ') << l;
    }
    EXPECT_EQ(lines.back(), "DIB  Uncompressed RGB 24-bit");
  }
  {
    CodecsEnv env("");
    EXPECT_TRUE(Lines(w).empty());
  }
  {
    // The platform's order, not the order of the variable; case is ignored.
    CodecsEnv env("DIB ,ffv1,nope");
    EXPECT_EQ(Lines(w), (std::vector<std::string>{"FFV1 FFV1 Lossless Video", "DIB  Uncompressed RGB 24-bit"}));
  }
  EXPECT_EQ(TBmpToAvi::FourCCToText(0x64697678), "xvid");
  EXPECT_EQ(TBmpToAvi::FourCCToText(0x00414200), std::string("\0BA\0", 4));
}

TEST(BmpToAvi, SetFourCCKeepsOnlyACompressorThatTakesTheFrameSize) {
  CodecsEnv env("FMP4,FFV1,DIB ");
  TBmpToAvi w;
  // Before the first job the size is -1 × -1; the choice still works.
  EXPECT_NO_THROW(w.SetFourCC("FFV1"));
  EXPECT_EQ(w.FourCC(), "FFV1");
  w.Width = 65;
  w.Height = 49;
  try {
    w.SetFourCC("FMP4");  // needs an even size
    FAIL() << "odd size accepted";
  } catch (const EError& e) {
    EXPECT_STREQ(e.what(), "No compressor for FMP4 available");
  }
  EXPECT_EQ(w.FourCC(), "FFV1");
  EXPECT_THROW(w.SetFourCC("xvid"), EError);  // not installed here
  EXPECT_NO_THROW(w.SetFourCC("DIB "));
  w.SetFourCC("");
  EXPECT_EQ(w.FourCC(), "");
  // Nothing chosen: the dialogs are not reached at all.
  EXPECT_NO_THROW(w.Configure(0));
  EXPECT_NO_THROW(w.About(0));
}

TEST(BmpToAvi, WritesFramesAtPositionsTwoOnwardsWithTheStreamHeaderValues) {
  CodecsEnv env(nullptr);
  TempDir dir;
  const std::string path = dir.file("out.avi");
  sdm::test::WriteText(path, "an old file that Open must replace");
  TBmpToAvi w;
  w.Width = 64;
  w.Height = 48;
  w.FramePeriod = 33;  // 30 fps as the job computes it: 1000 div 30
  w.FileName = path;
  w.SetFourCC("DIB ");
  w.Open();
  EXPECT_TRUE(w.Opened());
  EXPECT_EQ(w.FrameNumber(), 1);
  for (int k = 0; k < 3; ++k) w.AddFrame(TestFrame(64, 48, k));
  EXPECT_EQ(w.FrameNumber(), 4);
  EXPECT_EQ(w.OutFormat().biSize, 40u);
  w.Close();
  EXPECT_TRUE(w.Closed());
  EXPECT_FALSE(w.Opened());
  EXPECT_NO_THROW(w.Close());

  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_READ), AVIERR_OK);
  PAVISTREAM s = nullptr;
  ASSERT_EQ(AVIFileGetStream(f, &s, streamtypeVIDEO, 0), AVIERR_OK);
  AVISTREAMINFO i;
  ASSERT_EQ(AVIStreamInfo(s, &i, sizeof i), AVIERR_OK);
  EXPECT_EQ(i.fccHandler, mmioFOURCC('D', 'I', 'B', ' '));
  EXPECT_EQ(i.dwFlags, 12u);
  EXPECT_EQ(i.dwScale, 33u);
  EXPECT_EQ(i.dwRate, 1000u);
  EXPECT_EQ(i.dwQuality, 10000u);
  EXPECT_EQ(i.dwSampleSize, 0u);
  EXPECT_EQ(i.dwLength, 5u);
  EXPECT_EQ(i.rcFrame.right, 64);
  EXPECT_EQ(i.rcFrame.bottom, 48);
  long bytes = -1;
  for (long p = 0; p < 5; ++p) {
    ASSERT_EQ(AVIStreamRead(s, p, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    EXPECT_EQ(bytes, p < 2 ? 0 : 64 * 48 * 3) << "position " << p;
  }
  EXPECT_EQ(AVIStreamFindSample(s, 4, FIND_KEY), 4);
  AVIStreamRelease(s);
  AVIFileRelease(f);

  auto r = RunCommand({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width,height,r_frame_rate", "-of",
                       "default=nw=1", path});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "codec_name=rawvideo\nwidth=64\nheight=48\nr_frame_rate=1000/33\n");
}

TEST(BmpToAvi, AFileClosedBeforeItsFirstFrameIsStillAValidVideo) {
  CodecsEnv env(nullptr);
  TempDir dir;
  const std::string path = dir.file("empty.avi");
  TBmpToAvi w;
  w.Width = 64;
  w.Height = 48;
  w.FramePeriod = 40;
  w.FileName = path;
  w.SetFourCC("MJPG");
  w.Open();
  w.Close();  // a cancel before frame 0
  // The stream says what it would hold: ffprobe reads it without a word.
  auto r = RunCommand(
      {"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width,height", "-of", "default=nw=1", path});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "codec_name=mjpeg\nwidth=64\nheight=48\n");
}

TEST(BmpToAvi, EveryInstalledCompressorMakesAFileFfmpegDecodes) {
  CodecsEnv env(nullptr);
  TempDir dir;
  TBmpToAvi lister;
  const auto lines = Lines(lister);
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) {
    const std::string fcc = line.substr(0, 4);
    SCOPED_TRACE(fcc);
    const std::string path = dir.file("c" + std::to_string(&line - &lines[0]) + ".avi");
    ASSERT_NO_THROW(Write(path, fcc, 8));
    auto r = RunCommand({"ffprobe", "-v", "warning", "-select_streams", "v:0", "-count_frames", "-show_entries",
                         "stream=width,height,nb_read_frames", "-of", "default=nw=1", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(DecoderComplaints(r.err), "");
    EXPECT_EQ(r.out, "width=64\nheight=48\nnb_read_frames=8\n");
    const std::string raw = dir.file("raw.bgr");
    r = RunCommand({"ffmpeg", "-v", "warning", "-y", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgr24", "-fps_mode",
                    "passthrough", raw});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(DecoderComplaints(r.err), "");
    const std::vector<uint8_t> got = ReadBytes(raw);
    ASSERT_EQ(got.size(), 8u * 64 * 48 * 3);
    if (fcc == "FFV1" || fcc == "DIB " || fcc == "ZMBV") {
      // Lossless: the exact pixels come back.
      for (int k = 0; k < 8; ++k) {
        const std::vector<uint8_t> want = TopDownBgr(TestFrame(64, 48, k));
        EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin() + k * want.size())) << "frame " << k;
      }
    }
  }
}

// At 30 frames per second the frame period is 33 ms (30.30 frames per
// second). An MPEG-4 stream that claimed 25 frames per second inside its
// frames made ffmpeg retime them and complain of every frame.
TEST(BmpToAvi, EveryCompressorAgreesWithTheFileOnTheFrameRate) {
  CodecsEnv env(nullptr);
  TempDir dir;
  TBmpToAvi lister;
  for (const std::string& line : Lines(lister)) {
    const std::string fcc = line.substr(0, 4);
    SCOPED_TRACE(fcc);
    const std::string path = dir.file("rate.avi");
    ASSERT_NO_THROW(Write(path, fcc, 6, 64, 48, 33));
    auto r = RunCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.substr(0, 300), "");
  }
}

// The compressors that cut frames into slices and encode them on two
// threads (MPEG-4 part 2 and H.264): the bit stream is the same on every run,
// one packet per frame, and ffmpeg decodes it without a word. H.264 shows its
// two slices in every frame.
TEST(BmpToAvi, SliceThreadedCompressorsMakeTheSameFileEveryRun) {
  CodecsEnv env(nullptr);
  TempDir dir;
  TBmpToAvi lister;
  const auto lines = Lines(lister);
  int checked = 0;
  for (const char* fcc : {"xvid", "FMP4", "H264"}) {
    if (std::none_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(fcc, 0) == 0; })) continue;
    SCOPED_TRACE(fcc);
    ++checked;
    const std::string a = dir.file(std::string(fcc) + "-a.avi"), b = dir.file(std::string(fcc) + "-b.avi");
    Write(a, fcc, 12, 320, 240);
    Write(b, fcc, 12, 320, 240);
    EXPECT_TRUE(ReadBytes(a) == ReadBytes(b));
    auto r = RunCommand({"ffmpeg", "-v", "error", "-i", a, "-f", "null", "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    if (std::string(fcc) != "H264") continue;
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpen(&f, a, OF_READ), AVIERR_OK);
    PAVISTREAM s = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &s, streamtypeVIDEO, 0), AVIERR_OK);
    std::vector<uint8_t> packet(1 << 20);
    for (long p = 2; p < 14; ++p) {
      long bytes = 0;
      ASSERT_EQ(AVIStreamRead(s, p, 1, packet.data(), static_cast<long>(packet.size()), &bytes, nullptr), AVIERR_OK);
      // Annex B: a start code, then the NAL header; types 1 and 5 are slices.
      int slices = 0;
      for (long i = 0; i + 3 < bytes; ++i)
        if (packet[i] == 0 && packet[i + 1] == 0 && packet[i + 2] == 1) {
          const int type = packet[i + 3] & 0x1F;
          slices += type == 1 || type == 5;
        }
      EXPECT_EQ(slices, 2) << "frame " << p - 2;
    }
    AVIStreamRelease(s);
    AVIFileRelease(f);
  }
  EXPECT_GT(checked, 0);
}

TEST(BmpToAvi, FailuresNameTheCheckAndTheUnit) {
  CodecsEnv env("FMP4,DIB ");
  TempDir dir;
  TBmpToAvi w;
  w.Width = 64;
  w.Height = 48;
  w.FramePeriod = 40;
  w.SetFourCC("FMP4");
  w.FileName = dir.file("no/such/folder/out.avi");
  try {
    w.Open();
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "FileOpen failed. Err: $8004406F");
    EXPECT_EQ(e.Unit(), "U_BmpToAvi");
    // The user first reads which file and why, then the fixed text and its
    // place on the next line.
    const std::string cause = "Cannot write \"" + w.FileName + "\": " + std::strerror(ENOENT) + "\n";
    const std::string what = e.what();
    const std::string technical = "FileOpen failed. Err: $8004406F (U_BmpToAvi, line ";
    EXPECT_EQ(what.substr(0, cause.size()), cause) << what;
    EXPECT_EQ(what.substr(cause.size(), technical.size()), technical) << what;
    EXPECT_EQ(what.back(), ')') << what;
  }
  // A frame the compressor cannot take fails at the first frame.
  w.FileName = dir.file("odd.avi");
  w.Open();
  try {
    w.AddFrame(TestFrame(65, 49, 0));
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "ICCompressGetFormat failed.");
  }
  w.Close();
  // A later frame of another size than the first is refused, not misread.
  w.Open();
  w.AddFrame(TestFrame(64, 48, 0));
  try {
    w.AddFrame(TestFrame(32, 48, 1));
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "ICCompress failed.");
  }
  // A DIB whose pixels are shorter than its header says.
  TDib24 broken(64, 48);
  broken.Bits.resize(100);
  EXPECT_THROW(w.AddFrame(broken), EAssertionFailed);
  w.Close();
}
