// Files whose headers claim another length than they hold (damage, or a
// hostile file): the play time, the PCM size and what is read come from what
// the file holds, never from the claim, and no arithmetic on a claim
// overflows (the sanitizer build checks that). Damaged stretches are counted.
#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <cmath>
#include <cstring>

#include "audio/AudioTestUtil.h"
#include "audio/U_AudioFile.h"
#include "audio/filters/FormatFilter.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

using test::Bytes;

std::string ToneWav(int channels, int rate, double seconds) {
  std::vector<int16_t> s;
  for (int i = 0; i < static_cast<int>(seconds * rate); ++i)
    for (int c = 0; c < channels; ++c) s.push_back(static_cast<int16_t>(8000 * std::sin(i * 0.05)));
  return test::PcmWav(static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), 16, test::Samples16(s));
}

// Bytes of the facade's chain (44100 Hz stereo) read to the end.
int64_t ChainBytes(const std::string& path, double* seconds = nullptr, int64_t* damaged = nullptr) {
  TAudioFile audio;
  audio.SetFileName(path);
  EXPECT_TRUE(audio.Open());
  if (seconds) *seconds = audio.GetDuration() * 86400.0;
  std::vector<uint8_t> buf(65536);
  int64_t total = 0;
  for (bool more = true; more && total < (int64_t{1} << 30);) {
    int32_t n = static_cast<int32_t>(buf.size());
    more = audio.Output()->ReadPcm(buf.data(), n);
    total += n;
    if (n <= 0) break;
  }
  if (damaged) *damaged = audio.Reader->DamagedBlocks;
  return total;
}

// Rewrites the granule position of an Ogg file's last page (checksum mended).
void SetLastGranule(const std::string& path, int64_t granule) {
  std::vector<uint8_t> bytes = test::ReadBytes(path);
  size_t last = 0;
  for (size_t at = 0; at + 4 <= bytes.size(); ++at)
    if (std::memcmp(bytes.data() + at, "OggS", 4) == 0) last = at;
  uint8_t* h = bytes.data() + last;
  for (int i = 0; i < 8; ++i) h[6 + i] = static_cast<uint8_t>(static_cast<uint64_t>(granule) >> (8 * i));
  ogg_page page;
  page.header = h;
  page.header_len = 27 + h[26];
  page.body = h + page.header_len;
  page.body_len = static_cast<long>(bytes.size() - last - static_cast<size_t>(page.header_len));
  ogg_page_checksum_set(&page);
  test::WriteBytes(path, bytes);
}

TEST(LyingLengths, AWavClaimingHoursHoldsSecondsAndThatIsWhatCounts) {
  test::TempDir dir;
  std::string wav = ToneWav(1, 22050, 3.0);
  // The data chunk's size field: ten hours at 22050 Hz mono.
  const uint32_t claim = 22050u * 2u * 36000u;
  for (int i = 0; i < 4; ++i) wav[40 + static_cast<size_t>(i)] = static_cast<char>(claim >> (8 * i));
  const std::string path = dir.file("liar.wav");
  test::WriteBytes(path, Bytes(wav));
  TAudioFile audio;
  audio.SetFileName(path);
  ASSERT_TRUE(audio.Open());
  EXPECT_EQ(audio.Reader->GetPcmSize(), 3 * 22050 * 2);
  double seconds = 0;
  const int64_t bytes = ChainBytes(path, &seconds);
  EXPECT_DOUBLE_EQ(seconds, 3.0);
  // Resampled to 44100 Hz stereo, it ends with the samples: three seconds,
  // in whole sample frames, not ten hours of silence.
  EXPECT_EQ(bytes % 4, 0);
  EXPECT_NEAR(static_cast<double>(bytes), 3.0 * 44100 * 4, 64.0);
}

TEST(LyingLengths, AnOggWhoseLastPageClaimsAgesPlaysItsSeconds) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  test::TempDir dir;
  const std::string path = dir.file("liar.ogg");
  ASSERT_EQ(test::RunCommand(
                {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=3:r=22050", "-c:a", "libvorbis", path})
                .status,
            0);
  // 2^62 samples: the size in bytes no longer fits in 64 bits; and a claim
  // that fits but is hours long.
  for (int64_t granule : {int64_t{1} << 62, int64_t{8000000000000}, int64_t{22050} * 600}) {
    SCOPED_TRACE(granule);
    SetLastGranule(path, granule);
    TAudioFile audio;
    audio.SetFileName(path);
    ASSERT_TRUE(audio.Open());
    EXPECT_GT(audio.Reader->GetPcmSize(), 0);
    EXPECT_GT(audio.Filter->GetPcmSize(), 0);
    double seconds = 0;
    const int64_t bytes = ChainBytes(path, &seconds);
    EXPECT_NEAR(seconds, 3.0, 0.1);
    EXPECT_NEAR(static_cast<double>(bytes), 3.0 * 44100 * 4, 0.1 * 44100 * 4);
  }
}

TEST(LyingLengths, AFlacWhoseHeaderClaimsHoursIsMeasuredByItsFrames) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  test::TempDir dir;
  const std::string path = dir.file("liar.flac");
  ASSERT_EQ(test::RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=3:r=22050", path}).status, 0);
  std::vector<uint8_t> bytes = test::ReadBytes(path);
  // STREAMINFO's total samples: 36 bits from the low half of byte 21.
  const uint64_t claim = 22050ull * 36000;
  bytes[21] = static_cast<uint8_t>((bytes[21] & 0xF0) | ((claim >> 32) & 0x0F));
  for (int i = 0; i < 4; ++i) bytes[22 + static_cast<size_t>(i)] = static_cast<uint8_t>(claim >> (24 - 8 * i));
  test::WriteBytes(path, bytes);
  double seconds = 0;
  const int64_t read = ChainBytes(path, &seconds);
  EXPECT_NEAR(seconds, 3.0, 0.05);
  EXPECT_NEAR(static_cast<double>(read), 3.0 * 44100 * 4, 0.05 * 44100 * 4);
}

TEST(LyingLengths, AWindowsMediaFileClaimingForeverPlaysItsSeconds) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  test::TempDir dir;
  const std::string path = dir.file("liar.wma");
  ASSERT_EQ(
      test::RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=3", "-c:a", "wmav2", path}).status,
      0);
  std::vector<uint8_t> bytes = test::ReadBytes(path);
  // The file properties object's play duration (100-ns units, 64 bits), 40
  // bytes into its body: near 2^64, which times the bytes per second no
  // 64-bit number holds; and ten hours.
  static const uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  size_t at = 0;
  for (size_t i = 0; i + 16 <= bytes.size() && at == 0; ++i)
    if (std::memcmp(bytes.data() + i, kFileProperties, 16) == 0) at = i + 24 + 40;
  ASSERT_GT(at, 0u);
  for (uint64_t claim : {~uint64_t{0} - 5, uint64_t{36000} * 10000000}) {
    SCOPED_TRACE(claim);
    for (int i = 0; i < 8; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(claim >> (8 * i));
    test::WriteBytes(path, bytes);
    double seconds = 0;
    const int64_t read = ChainBytes(path, &seconds);
    EXPECT_NEAR(seconds, 3.0, 0.2);
    EXPECT_NEAR(static_cast<double>(read), 3.0 * 44100 * 4, 0.2 * 44100 * 4);
  }
}

TEST(LyingLengths, DamagedFramesAreLeftOutCountedAndTheRestPlays) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  test::TempDir dir;
  const std::string flac = dir.file("damaged.flac");
  ASSERT_EQ(test::RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=6", flac}).status, 0);
  std::vector<uint8_t> bytes = test::ReadBytes(flac);
  // Noise over a stretch early in the audio: a frame or two cannot decode.
  for (size_t i = 0; i < 200; ++i) bytes[bytes.size() / 5 + i] = static_cast<uint8_t>(i * 37 + 11);
  test::WriteBytes(flac, bytes);
  int64_t damaged = 0;
  const int64_t read = ChainBytes(flac, nullptr, &damaged);
  EXPECT_GT(damaged, 0);
  // The frames after the damage still play: most of the six seconds.
  EXPECT_GT(static_cast<double>(read), 5.0 * 44100 * 4);

  // An Ogg page whose checksum fails: counted, and the others play.
  const std::string ogg = dir.file("damaged.ogg");
  ASSERT_EQ(test::RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=5", "-c:a", "libvorbis", ogg})
                .status,
            0);
  bytes = test::ReadBytes(ogg);
  bytes[bytes.size() / 2] ^= 0x40;
  test::WriteBytes(ogg, bytes);
  ChainBytes(ogg, nullptr, &damaged);
  EXPECT_GT(damaged, 0);

  // A clean file counts nothing.
  const std::string clean = dir.file("clean.flac");
  ASSERT_EQ(test::RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=1", clean}).status, 0);
  ChainBytes(clean, nullptr, &damaged);
  EXPECT_EQ(damaged, 0);
}

// A reader whose header claims a size near the end of the 64-bit range.
class TClaimingReader : public TAbstractAudioFile {
public:
  explicit TClaimingReader(int64_t claim) : TAbstractAudioFile("memory"), claim_(claim) {}
  uint32_t GetChannels() override { return 1; }
  uint32_t GetSampleRate() override { return 8000; }
  uint32_t GetBitsPerSample() override { return 8; }
  int64_t GetPcmSize() override { return claim_; }
  int64_t GetPosition() override { return position_; }
  void Seek(int64_t p) override { position_ = p; }
  bool ReadPcm(void* buffer, int32_t& count) override {
    const int32_t n = std::min<int32_t>(count, 1000 - static_cast<int32_t>(std::min<int64_t>(position_, 1000)));
    std::memset(buffer, 0x80, static_cast<size_t>(std::max(count, 0)));
    position_ += n;
    count = n;
    return n > 0;
  }

private:
  int64_t claim_;
  int64_t position_ = 0;
};

TEST(LyingLengths, TheFormatFilterNeverOverflowsOnAClaim) {
  // 8 kHz 8-bit mono to 44.1 kHz 16-bit stereo multiplies a size by about
  // 22: every claim, however large, gives a size within range, and reading
  // ends where the 1000 samples end.
  for (int64_t claim : {INT64_MAX, INT64_MAX / 3, int64_t{1} << 61, int64_t{1000}}) {
    SCOPED_TRACE(claim);
    TClaimingReader source(claim);
    TRsmpFilter filter(&source, 44100, 2);
    EXPECT_GE(filter.GetPcmSize(), 0);
    EXPECT_EQ(filter.GetPcmSize() % 4, 0);
    filter.Seek(INT64_MAX);
    filter.Seek(0);
    std::vector<uint8_t> buf(1 << 16);
    int64_t total = 0;
    for (bool more = true; more;) {
      int32_t n = static_cast<int32_t>(buf.size());
      more = filter.ReadPcm(buf.data(), n);
      total += n;
    }
    EXPECT_EQ(total % 4, 0);
    EXPECT_NEAR(static_cast<double>(total), 1000.0 * 44100 / 8000 * 4, 8.0);
  }
}

}  // namespace
}  // namespace sdm
