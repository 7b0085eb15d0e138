// The MPEG audio reader: frame headers against the standards' tables, the
// frame search through tags, padding and junk, the frame index and its bit
// reader, the reader's sizes, play time, seeking and tags, and files made by
// lame counted against ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "MpegTestUtil.h"
#include "audio/U_AudioFile.h"
#include "audio/mpeg/FastMp3Size.h"
#include "audio/mpeg/MpegHeader.h"
#include "audio/mpeg/U_MpegAudio.h"
#include "audio/tags/U_ApeTag.h"
#include "audio/tags/U_ID3.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

constexpr MpegVersion kV1 = MpegVersion::V1, kV2 = MpegVersion::V2, kV25 = MpegVersion::V25;

// A 128 kbit/s 44.1 kHz stereo Layer III frame without padding: 417 bytes.
const uint32_t kCbrWord = MpegWord(kV1, 3, 9, 0);

// An ID3v2.3 header announcing `body` bytes, followed by that many bytes.
std::string Id3v2Block(int body) {
  std::string t = "ID3";
  t += '\x03';
  t += '\0';
  t += '\0';
  for (int shift = 21; shift >= 0; shift -= 7) t += static_cast<char>((body >> shift) & 0x7F);
  return t + std::string(body, 'i');
}

// An ID3v1 block with a valid-looking frame header inside its text, which the
// search must not take for a frame.
std::string Id3v1Block() {
  std::string b(128, ' ');
  std::memcpy(&b[0], "TAG", 3);
  b.replace(10, 4, WordBytes(kCbrWord));
  return b;
}

// Offsets of every frame the header search finds from the start of a file.
std::vector<uint32_t> FoundFrames(const std::string& path) {
  TWFileStream s(path, TWFileStream::ModeRead);
  TMpegHeader h;
  std::vector<uint32_t> found;
  if (!h.FindFrame(s, false)) return found;
  do {
    found.push_back(h.Offset);
  } while (h.FindFrame(s, true));
  return found;
}

std::vector<uint32_t> FoundFrames(const TempDir& dir, const std::string& content) {
  std::string path = dir.file("f.mp3");
  WriteString(path, content);
  return FoundFrames(path);
}

using Offsets = std::vector<uint32_t>;

std::unique_ptr<TMpegAudioFile> OpenReader(const std::string& path) { return std::make_unique<TMpegAudioFile>(path); }

// Reads count bytes of PCM; returns the reader's result.
bool Read(TMpegAudioFile& r, std::vector<uint8_t>& buf, int32_t count) {
  buf.assign(static_cast<size_t>(std::max(count, 1)), 0x55);
  int32_t c = count;
  bool more = r.ReadPcm(buf.data(), c);
  EXPECT_EQ(c, count);  // the whole request is always written
  buf.resize(static_cast<size_t>(count));
  return more;
}

bool AllZero(const std::vector<uint8_t>& b) {
  for (uint8_t v : b)
    if (v != 0) return false;
  return true;
}

}  // namespace

// ------------------------------------------------------------------ headers

TEST(MpegHeader, EveryValidWordMatchesTheStandardTables) {
  // Every version, layer, bit-rate index 1-14, rate index 0-2 and padding.
  int checked = 0;
  for (MpegVersion v : {kV1, kV2, kV25})
    for (int layer = 1; layer <= 3; ++layer)
      for (int br = 1; br <= 14; ++br)
        for (int rate = 0; rate <= 2; ++rate)
          for (bool pad : {false, true}) {
            uint32_t w = MpegWord(v, layer, br, rate, pad);
            TMpegHeader h;
            h.Decode(w);
            SCOPED_TRACE(::testing::Message() << std::hex << w);
            ASSERT_EQ(h.HeaderWord, w);
            EXPECT_EQ(h.BitRate(), 1000u * StdKbps(w));
            EXPECT_EQ(h.SampleRate(), static_cast<uint32_t>(StdRate(w)));
            EXPECT_EQ(h.FrameLength, static_cast<uint32_t>(StdFrameLength(w)));
            EXPECT_EQ(h.LayerCode(), layer - 1);
            EXPECT_EQ(h.SamplesPerFrame(), static_cast<uint32_t>(StdSamplesPerFrame(w)));
            ++checked;
          }
  EXPECT_EQ(checked, 3 * 3 * 14 * 3 * 2);

  // A few worked by hand: bit rate, rate, length.
  struct Case {
    uint32_t word;
    uint32_t bitRate, rate, length;
  } cases[] = {
      {0xFFFB9000, 128000, 44100, 417}, {0xFFFB9200, 128000, 44100, 418}, {0xFFFBE800, 320000, 32000, 1440},
      {0xFFFB1400, 32000, 48000, 96},   {0xFFFDA400, 192000, 48000, 576}, {0xFFFFC800, 384000, 32000, 576},
      {0xFFFF1000, 32000, 44100, 32},   {0xFFF38000, 64000, 22050, 208},  {0xFFF5E400, 160000, 24000, 960},
      {0xFFF7E800, 256000, 16000, 768}, {0xFFE31800, 8000, 8000, 72},     {0xFFE34000, 32000, 11025, 208},
      {0xFFE38400, 64000, 12000, 384},
  };
  for (const Case& c : cases) {
    TMpegHeader h;
    h.Decode(c.word);
    EXPECT_EQ(h.BitRate(), c.bitRate) << std::hex << c.word;
    EXPECT_EQ(h.SampleRate(), c.rate) << std::hex << c.word;
    EXPECT_EQ(h.FrameLength, c.length) << std::hex << c.word;
  }
}

TEST(MpegHeader, InvalidWordsLeaveEverythingZero) {
  std::vector<uint32_t> bad = {
      0x00000000, 0x7FFB9000,  // no sync
      0xFFDB9000,              // the last sync bit clear
      0xFFF99000,              // reserved layer
      0xFFE99000, 0xFFF19000,  // reserved layer, MPEG-2.5 and MPEG-2
  };
  for (MpegVersion v : {kV1, kV2, kV25})
    for (int layer = 1; layer <= 3; ++layer) {
      bad.push_back(MpegWord(v, layer, 0, 0));                                    // free format
      bad.push_back(MpegWord(v, layer, 15, 0));                                   // forbidden bit-rate index
      for (int br = 1; br <= 14; ++br) bad.push_back(MpegWord(v, layer, br, 3));  // reserved rate
    }
  for (uint32_t w : bad) {
    TMpegHeader h;
    h.Decode(kCbrWord);  // a valid word first: an invalid one must clear it
    ASSERT_TRUE(h.Valid());
    h.Decode(w);
    EXPECT_EQ(h.HeaderWord, 0u) << std::hex << w;
    EXPECT_EQ(h.FrameLength, 0u) << std::hex << w;
    EXPECT_EQ(h.MainDataSize, 0) << std::hex << w;
    EXPECT_FALSE(h.Valid());
    EXPECT_EQ(TMpegHeader::FrameLengthOf(w), 0u) << std::hex << w;
  }
}

TEST(MpegHeader, MainDataSizeTakesOffHeaderCrcAndLayer3SideInfo) {
  struct Case {
    uint32_t word;
    int32_t mainData;
    uint32_t channels;
  } cases[] = {
      {MpegWord(kV1, 3, 9, 0), 417 - 4 - 32, 2},
      {MpegWord(kV1, 3, 9, 0, true), 418 - 4 - 32, 2},
      {MpegWord(kV1, 3, 9, 0, false, true), 417 - 4 - 17, 1},
      {MpegWord(kV1, 3, 9, 0, false, false, true), 417 - 6 - 32, 2},
      {MpegWord(kV1, 3, 9, 0, false, true, true), 417 - 6 - 17, 1},
      {MpegWord(kV2, 3, 8, 0), 208 - 4 - 17, 2},
      {MpegWord(kV2, 3, 8, 0, false, true), 208 - 4 - 9, 1},
      {MpegWord(kV2, 3, 8, 0, false, true, true), 208 - 6 - 9, 1},
      {MpegWord(kV25, 3, 1, 2), 72 - 4 - 17, 2},
      {MpegWord(kV25, 3, 1, 2, false, true), 72 - 4 - 9, 1},
      // Layers I and II: only the header and the CRC.
      {MpegWord(kV1, 2, 10, 1), 576 - 4, 2},
      {MpegWord(kV1, 2, 10, 1, false, true, true), 576 - 6, 1},
      {MpegWord(kV1, 1, 12, 2, true), 580 - 4, 2},
      {MpegWord(kV2, 1, 14, 2, false, false, true), 768 - 6, 2},
  };
  for (const Case& c : cases) {
    TMpegHeader h;
    h.Decode(c.word);
    EXPECT_EQ(h.MainDataSize, c.mainData) << std::hex << c.word;
    EXPECT_EQ(h.Channels(), c.channels) << std::hex << c.word;
    EXPECT_EQ(h.Protected(), ((c.word >> 16) & 1) == 0);
  }
}

TEST(MpegHeader, FrameMsIsTheFrameDurationForEveryLayerAndVersion) {
  // The MPEG-1 durations are the fixed decimal constants of the index.
  auto ms = [](uint32_t w) {
    TMpegHeader h;
    h.Decode(w);
    return h.FrameMs();
  };
  EXPECT_EQ(ms(MpegWord(kV1, 1, 1, 0)), 8.707483f);
  EXPECT_EQ(ms(MpegWord(kV1, 1, 1, 1)), 8.0f);
  EXPECT_EQ(ms(MpegWord(kV1, 1, 1, 2)), 12.0f);
  EXPECT_EQ(ms(MpegWord(kV1, 2, 1, 0)), 26.12245f);
  EXPECT_EQ(ms(MpegWord(kV1, 3, 1, 0)), 26.12245f);
  EXPECT_EQ(ms(MpegWord(kV1, 3, 1, 1)), 24.0f);
  EXPECT_EQ(ms(MpegWord(kV1, 3, 1, 2)), 36.0f);
  EXPECT_EQ(ms(MpegWord(kV2, 3, 1, 0)), 26.12245f);  // 576 samples at 22050 Hz
  // The low rates: Layers I and II keep their sample count, so their frames
  // last twice as long; MPEG-2.5 halves the rate once more.
  EXPECT_EQ(ms(MpegWord(kV2, 1, 1, 0)), 2 * 8.707483f);
  EXPECT_EQ(ms(MpegWord(kV2, 2, 1, 2)), 72.0f);
  EXPECT_EQ(ms(MpegWord(kV25, 3, 1, 2)), 72.0f);
  EXPECT_EQ(ms(MpegWord(kV25, 3, 1, 0)), 2 * 26.12245f);
  // And in general: samples per frame over the sample rate.
  for (MpegVersion v : {kV1, kV2, kV25})
    for (int layer = 1; layer <= 3; ++layer)
      for (int rate = 0; rate <= 2; ++rate) {
        uint32_t w = MpegWord(v, layer, 5, rate);
        double want = 1000.0 * StdSamplesPerFrame(w) / StdRate(w);
        EXPECT_NEAR(ms(w), want, want * 1e-6) << std::hex << w;
      }
}

// ------------------------------------------------------------- frame search

TEST(MpegFrameSearch, SkipsALeadingId3v2TagAndZeroPadding) {
  TempDir dir;
  std::string frames = MpegFrames(kCbrWord, 3);
  // Tag of 110 bytes in all, then 50 zero bytes of padding.
  EXPECT_EQ(FoundFrames(dir, Id3v2Block(100) + std::string(50, '\0') + frames), (Offsets{160, 577, 994}));
  EXPECT_EQ(FoundFrames(dir, Id3v2Block(100) + frames), (Offsets{110, 527, 944}));
  // A tag followed by nothing but zeros holds no frame.
  EXPECT_EQ(FoundFrames(dir, Id3v2Block(100) + std::string(5000, '\0')), Offsets{});
  // A tag that claims more than the file holds.
  EXPECT_EQ(FoundFrames(dir, Id3v2Block(100).substr(0, 60)), Offsets{});
}

TEST(MpegFrameSearch, LeadingZerosShortAndLong) {
  TempDir dir;
  std::string frames = MpegFrames(kCbrWord, 2);
  EXPECT_EQ(FoundFrames(dir, std::string(3, '\0') + frames), (Offsets{3, 420}));
  EXPECT_EQ(FoundFrames(dir, std::string(4096, '\0') + frames), (Offsets{4096, 4513}));
  // The zero skip gives up at 8191; the byte-wise search goes on from there.
  EXPECT_EQ(FoundFrames(dir, std::string(8191, '\0') + frames), (Offsets{8191, 8608}));
  EXPECT_EQ(FoundFrames(dir, std::string(10000, '\0') + frames), (Offsets{10000, 10417}));
  // The stream stands 4 bytes past the frame found.
  std::string path = dir.file("z.mp3");
  WriteString(path, std::string(10000, '\0') + frames);
  TWFileStream s(path, TWFileStream::ModeRead);
  TMpegHeader h;
  ASSERT_TRUE(h.FindFrame(s, false));
  EXPECT_EQ(s.Position(), 10004);
  ASSERT_TRUE(h.FindFrame(s, true));
  EXPECT_EQ(s.Position(), 10421);
}

TEST(MpegFrameSearch, JunkBrokenSyncsAndEmbeddedId3v1Blocks) {
  TempDir dir;
  std::string f = MpegFrame(kCbrWord);
  // Junk between frames contributes nothing.
  EXPECT_EQ(FoundFrames(dir, "junk" + f + std::string(37, 'j') + f + f), (Offsets{4, 458, 875}));
  // A sync that does not decode costs two bytes of search: after FF FF the
  // frame two bytes on is found; after a lone FF the frame one byte on is
  // stepped over and the search finds the next one.
  EXPECT_EQ(FoundFrames(dir, f + "\xFF\xFF" + f), (Offsets{0, 419}));
  EXPECT_EQ(FoundFrames(dir, f + "\xFF" + f + f), (Offsets{0, 835}));
  // An ID3v1 block between frames is stepped over whole, the header in its
  // text included.
  EXPECT_EQ(FoundFrames(dir, f + Id3v1Block() + f + f), (Offsets{0, 545, 962}));
  // At the end it ends the frames.
  EXPECT_EQ(FoundFrames(dir, f + f + Id3v1Block()), (Offsets{0, 417}));
  // A frame cut short by the end of the file is not counted.
  EXPECT_EQ(FoundFrames(dir, f + f + f.substr(0, 200)), (Offsets{0, 417}));
  EXPECT_EQ(FoundFrames(dir, f + f + f.substr(0, 416)), (Offsets{0, 417}));
  // Nothing at all.
  EXPECT_EQ(FoundFrames(dir, std::string(5000, 'j')), Offsets{});
  EXPECT_EQ(FoundFrames(dir, std::string(5000, '\xFF')), Offsets{});
  EXPECT_EQ(FoundFrames(dir, ""), Offsets{});
  EXPECT_EQ(FoundFrames(dir, "\xFF\xFB"), Offsets{});
  EXPECT_EQ(FoundFrames(dir, f.substr(0, 4)), Offsets{});
}

TEST(MpegFrameSearch, FramesStopAtTheTwoGigabyteOffsetLimit) {
  // Offsets in the index are 32-bit and limited to 2 GiB: a frame reaching
  // past that must end the search, not wrap to a small offset (which would
  // make the index grow for ever on a file over 4 GiB). Sparse files keep
  // this cheap.
  TempDir dir;
  std::string path = dir.file("big.mp3");
  const int64_t limit = int64_t{1} << 31;
  const int64_t wrap = int64_t{1} << 32;
  std::string f = MpegFrame(kCbrWord);
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(limit - 417);
    out.write(f.data(), 417);  // ends exactly at 2 GiB: still indexed
    out.write(f.data(), 417);  // starts at 2 GiB
    out.seekp(wrap - 417);
    out.write(f.data(), 417);
    out.write(f.data(), 417);  // starts at 4 GiB
    if (!out) GTEST_SKIP() << "no room for a sparse 4 GiB file";
  }
  if (std::filesystem::file_size(path) != static_cast<uintmax_t>(wrap + 417)) GTEST_SKIP() << "no sparse files";
  TWFileStream s(path, TWFileStream::ModeRead);
  TMpegHeader h;
  h.Offset = static_cast<uint32_t>(limit - 834);
  h.FrameLength = 417;
  ASSERT_TRUE(h.FindFrame(s, true));
  EXPECT_EQ(h.Offset, static_cast<uint32_t>(limit - 417));
  EXPECT_FALSE(h.FindFrame(s, true));
  EXPECT_EQ(h.HeaderWord, 0u);
  h.Offset = static_cast<uint32_t>(wrap - 834);
  h.FrameLength = 417;
  EXPECT_FALSE(h.FindFrame(s, true));
  h.Offset = static_cast<uint32_t>(wrap - 417);
  h.FrameLength = 417;
  EXPECT_FALSE(h.FindFrame(s, true));
}

// ------------------------------------------------------------- frame loader

TEST(MpegFrameLoader, IndexGrowsFrameByFrameAndCompletes) {
  TempDir dir;
  std::string path = dir.file("a.mp3");
  WriteString(path, Id3v2Block(100) + MpegFrames(kCbrWord, 10));
  const uint32_t size = 110 + 4170;

  TFrameLoader l(path);
  EXPECT_TRUE(l.IsOpen);
  EXPECT_FALSE(l.ScanComplete);
  EXPECT_EQ(l.Frames(), 1);
  EXPECT_EQ(l.FrameOffset(0), 110u);
  EXPECT_EQ(l.AudioBytes, size - 110);
  EXPECT_EQ(l.ScannedEnd, 527u);
  EXPECT_EQ(l.FirstHeader.HeaderWord, kCbrWord);
  EXPECT_TRUE(l.FrameLoaded);
  EXPECT_EQ(l.CurrentFrame, 0);
  EXPECT_EQ(l.TotalMs, static_cast<double>(26.12245f));

  for (int i = 1; i < 10; ++i) {
    ASSERT_TRUE(l.NextFrame()) << i;
    EXPECT_EQ(l.CurrentFrame, i);
    EXPECT_EQ(l.Frames(), i + 1);  // one frame ahead is never read
    EXPECT_TRUE(l.FrameLoaded);
  }
  EXPECT_FALSE(l.ScanComplete);
  EXPECT_FALSE(l.NextFrame());
  EXPECT_TRUE(l.ScanComplete);
  EXPECT_FALSE(l.NextFrame());
  EXPECT_EQ(l.Frames(), 10);
  EXPECT_EQ(l.ScannedEnd, size);
  // Cumulative end times in whole milliseconds.
  const int ends[10] = {26, 52, 78, 104, 131, 157, 183, 209, 235, 261};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(l.FrameEndTime(i), ends[i]) << i;
    EXPECT_EQ(l.FrameOffset(i), 110u + 417u * i);
    EXPECT_EQ(l.FrameLengthAt(i), 417u);
  }
  EXPECT_EQ(l.FrameEndTime(10), 0);
  EXPECT_EQ(l.FrameOffset(-1), 0u);
  // 10 x 1152 samples x 2 channels.
  EXPECT_EQ(l.GetTotalSamples(), 23040);

  EXPECT_FALSE(l.LoadFrame(10));
  EXPECT_FALSE(l.FrameLoaded);
  EXPECT_FALSE(l.LoadFrame(-1));
  EXPECT_TRUE(l.LoadFrame(3));
  EXPECT_EQ(l.CurrentFrame, 3);
  EXPECT_EQ(l.CurrentHeader.Offset, 110u + 3 * 417);
  l.SetCurrentFrame(-5);
  EXPECT_EQ(l.CurrentFrame, 0);
}

TEST(MpegFrameLoader, ScanAllCompletesWithoutMovingTheCurrentFrame) {
  TempDir dir;
  std::string path = dir.file("a.mp3");
  // Junk, an embedded ID3v1 block and a truncated last frame on the way.
  std::string f = MpegFrame(kCbrWord);
  WriteString(path, f + f + "xyz" + f + Id3v1Block() + f + f + f.substr(0, 100));
  TFrameLoader l(path);
  ASSERT_TRUE(l.NextFrame());
  l.ScanAll();
  EXPECT_TRUE(l.ScanComplete);
  EXPECT_EQ(l.Frames(), 5);
  EXPECT_EQ(l.CurrentFrame, 1);
  EXPECT_EQ(l.FrameOffset(2), 837u);
  EXPECT_EQ(l.FrameOffset(3), 837u + 417 + 128);
  EXPECT_EQ(l.GetTotalSamples(), 5 * 2304);
  l.ScanAll();  // nothing more to do
  EXPECT_EQ(l.Frames(), 5);
  // Reading goes on through the complete index.
  for (int i = 2; i < 5; ++i) ASSERT_TRUE(l.NextFrame());
  EXPECT_EQ(l.CurrentFrame, 4);
  EXPECT_FALSE(l.NextFrame());
}

TEST(MpegFrameLoader, FilesWithoutFramesAreInvalidMpegFiles) {
  TempDir dir;
  auto message = [](const std::string& path) -> std::string {
    try {
      TFrameLoader l(path);
    } catch (const EError& e) {
      return e.what();
    }
    return "no error";
  };
  std::string junk = dir.file("junk.mp3"), empty = dir.file("empty.mp3"), zeros = dir.file("zeros.mp3");
  WriteString(junk, std::string(3000, 'j') + MpegFrame(kCbrWord).substr(0, 300));
  WriteString(empty, "");
  WriteString(zeros, std::string(20000, '\0'));
  for (const std::string& p : {junk, empty, zeros, dir.file("missing.mp3")})
    EXPECT_EQ(message(p), "Invalid MPEG file " + p);
  // Through the facade: the error reaches the caller and the facade stays closed.
  TAudioFile a;
  a.SetFileName(junk);
  try {
    a.Open();
    ADD_FAILURE() << "opened a file without frames";
  } catch (const EError& e) {
    EXPECT_EQ(std::string(e.what()), "Invalid MPEG file " + junk);
  }
  EXPECT_FALSE(a.IsOpen);
  EXPECT_EQ(a.Reader, nullptr);
}

TEST(MpegFrameLoader, BitReaderReadsTheFrameBodyAndNeverPastItsBuffer) {
  TempDir dir;
  std::string path = dir.file("a.mp3");
  // A protected frame: the CRC word comes before the bytes the decoders read.
  uint32_t w = MpegWord(kV1, 3, 9, 0, false, false, true);
  std::string body = "\xBE\xEF\xA5\x0F\xF0\x12\x34\x56\x78\x9A";
  std::string frame0 = WordBytes(w) + body + std::string(417 - 4 - body.size(), '\xFF');
  // A short unprotected frame last in the file: nothing of frame 0 may remain
  // in the buffer behind it.
  std::string frame1 = WordBytes(MpegWord(kV1, 3, 1, 1)) + std::string(92, '\x11');
  WriteString(path, frame0 + frame1);

  TFrameLoader l(path);
  ASSERT_TRUE(l.FrameLoaded);
  EXPECT_EQ(l.CurrentHeader.Crc, 0xBEEF);
  EXPECT_EQ(l.GetBit(), 1u);
  EXPECT_EQ(l.GetBits(3), 2u);
  EXPECT_EQ(l.GetBits(4), 5u);
  EXPECT_EQ(l.GetBits(0), 0u);
  EXPECT_EQ(l.BitPos, 8u);
  EXPECT_EQ(l.GetBits(25), 0x0FF01234u >> 7);  // 25 bits of 0F F0 12 34
  EXPECT_EQ(l.BitPos, 33u);
  uint8_t dest[3];
  l.CopyBytes(dest, 3);  // from byte 33 div 8 = 4
  EXPECT_EQ(dest[0], 0x34);
  EXPECT_EQ(dest[1], 0x56);
  EXPECT_EQ(dest[2], 0x78);
  EXPECT_EQ(l.BitPos, 57u);

  ASSERT_TRUE(l.NextFrame());
  ASSERT_TRUE(l.FrameLoaded);
  EXPECT_EQ(l.BitPos, 0u);
  EXPECT_EQ(l.FrameData[0], 0x11);
  EXPECT_EQ(l.FrameData[91], 0x11);
  for (int i = 92; i < TFrameLoader::FrameDataSize; ++i) ASSERT_EQ(l.FrameData[i], 0) << i;

  // At the end of the buffer: the last bits, then zeros, and no overrun.
  l.FrameData[TFrameLoader::FrameDataSize - 1] = 0xAF;
  l.BitPos = TFrameLoader::FrameDataSize * 8 - 4;
  EXPECT_EQ(l.GetBits(8), 0xF0u);
  EXPECT_EQ(l.GetBits(25), 0u);
  EXPECT_EQ(l.GetBit(), 0u);
  l.BitPos = (TFrameLoader::FrameDataSize - 2) * 8;
  uint8_t tail[10];
  std::memset(tail, 0x77, sizeof tail);
  l.CopyBytes(tail, 10);
  EXPECT_EQ(tail[0], 0);
  EXPECT_EQ(tail[1], 0xAF);
  for (int i = 2; i < 10; ++i) EXPECT_EQ(tail[i], 0) << i;
}

// ------------------------------------------------------------------- reader

TEST(MpegAudioReader, ThousandFramesOf128kStereo) {
  TempDir dir;
  std::string path = dir.file("cbr.mp3");
  std::string frames = Cbr128Frames(1000);
  WriteString(path, frames);

  TAudioFile a;
  a.SetFileName(path);
  ASSERT_TRUE(a.Open());
  auto* r = dynamic_cast<TMpegAudioFile*>(a.Reader.get());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->GetFormatKind(), akMpeg);
  EXPECT_EQ(r->GetChannels(), 2u);
  EXPECT_EQ(r->GetSampleRate(), 44100u);
  EXPECT_EQ(r->GetBitsPerSample(), 16u);
  EXPECT_EQ(r->GetFileSize(), static_cast<int64_t>(frames.size()));
  EXPECT_EQ(r->Decoder().GetFrameBytes(), 4608u);
  EXPECT_EQ(r->GetPosition(), 0);
  double seconds = a.GetDuration() * 86400;
  EXPECT_NEAR(seconds, 26.12245, 1e-5);
  EXPECT_EQ(std::nearbyint(seconds), 26);
  EXPECT_NEAR(r->Loader().TotalMs, 26122.45, 0.01);
  EXPECT_EQ(r->Loader().GetTotalSamples(), 2304000);
  EXPECT_EQ(r->GetPcmSize(), 4608000);
  EXPECT_EQ(r->Loader().CurrentFrame, 0);  // the scan leaves the reading position alone
  EXPECT_NEAR(r->GetPlayTime() * 86400, 2304000.0 / 88200, 1e-9);
  EXPECT_EQ(r->GetBitRate(), 128000u);
  a.Close();

  // One frame per read: the last frame's read says the stream is done, and
  // the bytes delivered are the PCM size.
  auto fresh = OpenReader(path);
  std::vector<uint8_t> buf;
  int calls = 0;
  while (Read(*fresh, buf, 4608)) ++calls;
  EXPECT_EQ(calls, 999);
  EXPECT_EQ(fresh->GetPosition(), 4608000);
  EXPECT_EQ(fresh->GetPosition(), fresh->GetPcmSize());
  // Past the end: silence, and still the end.
  EXPECT_FALSE(Read(*fresh, buf, 10000));
  EXPECT_TRUE(AllZero(buf));
}

TEST(MpegAudioReader, OddReadSizesDeliverEveryByteOnce) {
  TempDir dir;
  std::string path = dir.file("a.mp3");
  WriteString(path, Cbr128Frames(12));
  auto r = OpenReader(path);
  const int64_t total = r->GetPcmSize();
  ASSERT_EQ(total, 12 * 4608);
  std::vector<uint8_t> buf;
  int64_t sum = 0;
  bool more = true;
  for (int32_t n : {1000, 3, 4608, 9217, 0, 100, 20000}) {
    more = Read(*r, buf, n);
    sum += n;
    EXPECT_EQ(r->GetPosition(), sum);
  }
  EXPECT_TRUE(more);
  // The rest in one read larger than it: the result turns false.
  EXPECT_FALSE(Read(*r, buf, static_cast<int32_t>(total - sum + 4608)));
  // A negative request delivers nothing and leaves the count alone.
  const int64_t at = r->GetPosition();
  int32_t negative = -5;
  uint8_t b[4];
  EXPECT_TRUE(r->ReadPcm(b, negative));
  EXPECT_EQ(negative, -5);
  EXPECT_EQ(r->GetPosition(), at);
}

TEST(MpegAudioReader, MonoAndARateChangeAfterTheFirstFrame) {
  TempDir dir;
  std::string mono = dir.file("m.mp3");
  WriteString(mono, Cbr128Frames(100, true));
  auto m = OpenReader(mono);
  EXPECT_EQ(m->GetChannels(), 1u);
  EXPECT_EQ(m->Decoder().GetFrameBytes(), 2304u);
  EXPECT_EQ(m->Loader().FirstHeader.Channels(), 1u);
  EXPECT_EQ(m->GetPcmSize(), 2 * 115200);  // 100 x 1152 samples of one channel
  EXPECT_EQ(m->Loader().GetTotalSamples(), std::llround(m->Loader().TotalMs * 44100 / 1000));

  // 48 kHz mono first, 44.1 kHz stereo after: each frame adds its own
  // duration; rate and channels are the first frame's.
  std::string mixed = dir.file("x.mp3");
  WriteString(mixed, MpegFrame(MpegWord(kV1, 3, 9, 1, false, true)) + MpegFrames(kCbrWord, 99));
  auto x = OpenReader(mixed);
  x->GetPcmSize();
  EXPECT_EQ(x->Loader().Frames(), 100);
  EXPECT_NEAR(x->Loader().TotalMs, 24.0 + 99 * 1152 / 44.1, 0.01);
  EXPECT_EQ(x->GetSampleRate(), 48000u);
  EXPECT_EQ(x->GetChannels(), 1u);
  EXPECT_EQ(x->Loader().GetTotalSamples(), std::llround((24.0 + 99 * double{26.12245f}) * 48));
  TAudioFile a;
  a.SetFileName(mixed);
  EXPECT_NEAR(a.GetDuration() * 86400, (24.0 + 99 * 1152 / 44.1) / 1000, 1e-4);
}

TEST(MpegAudioReader, LowSampleRatesGiveTheRealPlayTime) {
  // 100 frames each of MPEG-2 Layer III at 22050 Hz, MPEG-2.5 at 8000 Hz and
  // MPEG-2 Layer II at 16000 Hz.
  TempDir dir;
  struct Case {
    uint32_t word;
    double seconds;
    int64_t pcm;
  } cases[] = {
      {MpegWord(kV2, 3, 8, 0), 100 * 576 / 22050.0, 100 * 576 * 4},
      {MpegWord(kV25, 3, 1, 2, false, true), 100 * 576 / 8000.0, 100 * 576 * 2},
      {MpegWord(kV2, 2, 8, 2), 100 * 1152 / 16000.0, 100 * 1152 * 4},
  };
  for (const Case& c : cases) {
    std::string path = dir.file("low.mp3");
    WriteString(path, MpegFrames(c.word, 100));
    TAudioFile a;
    a.SetFileName(path);
    EXPECT_NEAR(a.GetDuration() * 86400, c.seconds, 1e-5) << std::hex << c.word;
    auto* r = a.Reader.get();
    EXPECT_EQ(r->GetPcmSize(), c.pcm) << std::hex << c.word;
    EXPECT_EQ(r->GetSampleRate(), static_cast<uint32_t>(StdRate(c.word)));
  }
}

TEST(MpegAudioReader, PlayTimeEstimateBeforeTheIndexIsComplete) {
  // 256 frames of 128 kbit/s, then 744 of 64 kbit/s: the estimate only sees
  // the first 256 frames and so takes the whole file for 128 kbit/s.
  TempDir dir;
  std::string path = dir.file("v.mp3");
  uint32_t slow = MpegWord(kV1, 3, 5, 0);  // 208 bytes
  std::string content = MpegFrames(kCbrWord, 256) + MpegFrames(slow, 744);
  WriteString(path, content);
  auto r = OpenReader(path);
  double estimate = r->GetPlayTime() * 86400000;  // ms
  EXPECT_FALSE(r->Loader().ScanComplete);
  const double bytes = content.size();
  EXPECT_NEAR(estimate, bytes / (256 * 417) * (256 * double{26.12245f}), 1e-6);
  EXPECT_NEAR(TFastMp3size(path).GetPlayTime() * 86400000, estimate, 1e-9);
  r->GetPcmSize();
  EXPECT_NEAR(r->GetPlayTime() * 86400, 1000 * 1152 / 44100.0, 1e-5);

  // The estimate skips a leading tag like the index does, and a file with
  // no frame has none.
  std::string tagged = dir.file("t.mp3");
  WriteString(tagged, Id3v2Block(1000) + MpegFrames(kCbrWord, 300));
  EXPECT_NEAR(TFastMp3size(tagged).GetPlayTime() * 86400, 300 * 1152 / 44100.0, 1e-4);
  std::string junk = dir.file("j.mp3");
  WriteString(junk, std::string(1000, 'j'));
  EXPECT_EQ(TFastMp3size(junk).GetPlayTime(), 0.0);
}

TEST(MpegAudioReader, BitRateOfConstantAndVariableFiles) {
  TempDir dir;
  std::string cbr = dir.file("c.mp3");
  WriteString(cbr, Cbr128Frames(200));
  auto c = OpenReader(cbr);
  EXPECT_EQ(c->GetBitRate(), 128000u);
  EXPECT_EQ(c->Loader().CurrentFrame, 52);  // 52 equal frames settle it

  // The same first 53 frames, different later ones: still settled early.
  std::string late = dir.file("l.mp3");
  WriteString(late, MpegFrames(kCbrWord, 53) + MpegFrames(MpegWord(kV1, 3, 5, 0), 50));
  EXPECT_EQ(OpenReader(late)->GetBitRate(), 128000u);

  // Otherwise the mean of every frame examined, the first included.
  std::string vbr = dir.file("v.mp3");
  WriteString(vbr, MpegFrame(kCbrWord) + MpegFrames(MpegWord(kV1, 3, 5, 0), 19));
  auto v = OpenReader(vbr);
  EXPECT_EQ(v->GetBitRate(), (128000u + 19 * 64000u) / 20);
  EXPECT_EQ(v->Loader().CurrentFrame, 19);
  // Fewer than 53 frames, all alike.
  std::string shortFile = dir.file("s.mp3");
  WriteString(shortFile, MpegFrames(kCbrWord, 5));
  EXPECT_EQ(OpenReader(shortFile)->GetBitRate(), 128000u);
}

TEST(MpegAudioReader, SeekWithinTheIndexAndBeyondIt) {
  TempDir dir;
  std::string path = dir.file("a.mp3");
  WriteString(path, MpegFrames(kCbrWord, 20));
  std::vector<uint8_t> buf;

  // Beyond the index (one frame so far): the last indexed frame with
  // nothing left of it, so reading goes on with the next frame.
  auto r = OpenReader(path);
  r->Seek(10 * 4608 + 100);
  EXPECT_EQ(r->GetPosition(), 10 * 4608 + 100);
  EXPECT_EQ(r->Loader().CurrentFrame, 1);
  EXPECT_TRUE(Read(*r, buf, 4608));
  EXPECT_EQ(r->Loader().CurrentFrame, 2);

  // Within the complete index; positions round down to whole samples.
  r->GetPcmSize();
  r->Seek(5 * 4608 + 101);
  EXPECT_EQ(r->GetPosition(), 5 * 4608 + 100);
  EXPECT_EQ(r->Loader().CurrentFrame, 6);
  // Frame 5 starts at byte 23040 by the frame duration, so 100 bytes of it
  // are behind us and 4508 remain.
  EXPECT_TRUE(Read(*r, buf, 4508));
  EXPECT_EQ(r->Loader().CurrentFrame, 6);
  int calls = 0;
  while (Read(*r, buf, 4608)) ++calls;
  EXPECT_EQ(calls, 13);  // frames 6 to 18; frame 19's read is the last
  EXPECT_EQ(r->GetPosition(), 20 * 4608);

  // Beyond the end of the complete index: nothing left to read.
  r->Seek(5 * 4608);
  r->Seek(int64_t{1} << 40);
  EXPECT_EQ(r->Loader().CurrentFrame, 19);
  EXPECT_FALSE(Read(*r, buf, 100));

  // Before the start: frame 0 from its first byte.
  r->Seek(-1000);
  EXPECT_EQ(r->Loader().CurrentFrame, 1);
  EXPECT_TRUE(Read(*r, buf, 4608 + 4608));
  EXPECT_EQ(r->Loader().CurrentFrame, 2);
  // Seeking to where we are changes nothing.
  r->Seek(0);
  EXPECT_TRUE(Read(*r, buf, 4608));
  EXPECT_EQ(r->GetPosition(), 4608);
  EXPECT_EQ(r->Loader().CurrentFrame, 1);
  r->Seek(4608 + 2);
  EXPECT_EQ(r->Loader().CurrentFrame, 1);
  EXPECT_TRUE(Read(*r, buf, 4608));
  EXPECT_EQ(r->Loader().CurrentFrame, 2);
}

TEST(MpegAudioReader, SeekBackIntoTheLastFrameAfterTheEndDecodesItAgain) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  TempDir dir;
  std::string path = dir.file("t.mp2");
  auto made =
      RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.3:sample_rate=44100",
                  "-ac", "2", "-c:a", "mp2", "-b:a", "192k", path});
  ASSERT_EQ(made.status, 0) << made.err;
  auto r = OpenReader(path);
  ASSERT_EQ(r->Loader().FirstHeader.LayerCode(), 1);
  const int64_t total = r->GetPcmSize();
  const int frames = r->Loader().Frames();
  ASSERT_EQ(total, int64_t{frames} * 4608);
  std::vector<uint8_t> all;
  ASSERT_FALSE(Read(*r, all, static_cast<int32_t>(total)));
  std::vector<uint8_t> last(all.end() - 4608, all.end());
  ASSERT_FALSE(AllZero(last));
  // Past the end: silence.
  std::vector<uint8_t> after;
  EXPECT_FALSE(Read(*r, after, 4608));
  EXPECT_TRUE(AllZero(after));
  // Back into the second half of the last frame: its sound again, not
  // silence. (The synthesis filter's history reaches 512 samples back, so
  // the first half may differ after a seek.)
  r->Seek(total - 2304);
  EXPECT_EQ(r->GetPosition(), total - 2304);
  std::vector<uint8_t> again;
  EXPECT_TRUE(Read(*r, again, 1000));
  ASSERT_FALSE(AllZero(again));
  auto at = std::search(last.begin(), last.end(), again.begin(), again.end());
  ASSERT_NE(at, last.end());
  EXPECT_NEAR(static_cast<double>(at - last.begin()), 2304, 8);
}

TEST(MpegAudioReader, TagSelectionAndId3v2Size) {
  TempDir dir;
  std::string audio = MpegFrames(kCbrWord, 20);
  TId3V2Tag v2;
  v2.Values = {"TITLE=from v2", "ARTIST=Two"};
  const std::string v2Bytes = v2.BuildTag();
  TId3V1Tag v1;
  v1.Values = {"TITLE=from v1"};
  const std::string v1Bytes = v1.BuildBlock();
  auto ape = [](TTagLines values) {
    TAPEV2Tag t;
    t.Values = std::move(values);
    return t.BuildTag();
  };
  const std::string apeArtist = ape({"Artist=Ape", "Title=from ape"});
  const std::string apeNoArtist = ape({"Title=from ape"});

  struct Case {
    std::string content;
    uint32_t kinds;
    std::string title;
  } cases[] = {
      {v2Bytes + audio + apeArtist + v1Bytes, 7, "from ape"},
      {v2Bytes + audio + apeNoArtist + v1Bytes, 7, "from v2"},
      {audio + apeNoArtist + v1Bytes, 5, "from v1"},
      {audio + apeNoArtist, 4, "from ape"},
      {v2Bytes + audio + v1Bytes, 3, "from v2"},
      {audio + v1Bytes, 1, "from v1"},
      {audio, 0, ""},
  };
  for (const Case& c : cases) {
    std::string path = dir.file("t.mp3");
    WriteString(path, c.content);
    auto r = OpenReader(path);
    SCOPED_TRACE(c.kinds);
    EXPECT_EQ(r->TagKinds, c.kinds);
    EXPECT_EQ(r->TagValue("title"), c.title);
    if (c.kinds == 0) {
      EXPECT_TRUE(r->Tags.empty());
    }
    const bool hasV2 = c.kinds & 2;
    EXPECT_EQ(r->Id3v2Size, hasV2 ? static_cast<int64_t>(v2Bytes.size()) : 0);
    // The tags are no frames: 20 frames whatever surrounds them.
    EXPECT_EQ(r->GetPcmSize(), 20 * 4608);
    EXPECT_EQ(r->Loader().FrameOffset(0), hasV2 ? static_cast<uint32_t>(v2Bytes.size()) : 0u);
  }
}

// ------------------------------------------------------- files made by lame

TEST(MpegAudioReader, LameFilesPlayAsLongAsTheirFrames) {
  if (!HaveTool("lame") || !HaveTool("sox") || !HaveTool("ffprobe")) GTEST_SKIP() << "lame, sox or ffprobe missing";
  TempDir dir;
  struct Case {
    int rate, channels;
    std::vector<std::string> options;
  } cases[] = {
      {44100, 2, {"-b", "128"}},
      {44100, 2, {"-V", "2"}},
      {48000, 1, {"-b", "64", "-m", "m"}},
      {32000, 2, {"-V", "5"}},
      {22050, 2, {"-b", "32"}},
      {16000, 1, {"-V", "7", "-m", "m"}},
      {11025, 1, {"-b", "16", "-m", "m"}},
      {8000, 2, {"-V", "9"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string wav = SoxTone(dir, "in" + std::to_string(n) + ".wav", c.rate, c.channels, 1.3);
    ASSERT_FALSE(wav.empty());
    std::string mp3 = dir.file("out" + std::to_string(n++) + ".mp3");
    std::vector<std::string> argv = {"lame", "--quiet", "--resample", std::to_string(c.rate / 1000.0)};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.push_back(wav);
    argv.push_back(mp3);
    auto made = RunCommand(argv);
    ASSERT_EQ(made.status, 0) << made.err;
    int packets = ProbePackets(mp3);
    ASSERT_GT(packets, 0);
    // lame's Xing/Info frame is a valid frame too and counts, though
    // ffprobe takes it for a header.
    const int frames = packets + (FirstFrameIsXing(mp3) ? 1 : 0);

    TAudioFile a;
    a.SetFileName(mp3);
    ASSERT_TRUE(a.Open());
    auto* r = dynamic_cast<TMpegAudioFile*>(a.Reader.get());
    double seconds = a.GetDuration() * 86400;
    SCOPED_TRACE(mp3 + " " + c.options[0] + c.options[1]);
    EXPECT_EQ(r->GetSampleRate(), static_cast<uint32_t>(c.rate));
    EXPECT_EQ(r->GetChannels(), static_cast<uint32_t>(c.channels));
    EXPECT_EQ(r->Loader().Frames(), frames);
    const int spf = c.rate >= 32000 ? 1152 : 576;
    const int64_t samples = int64_t{frames} * spf * c.channels;
    EXPECT_NEAR(static_cast<double>(r->Loader().GetTotalSamples()), static_cast<double>(samples), 1.0);
    EXPECT_NEAR(seconds, static_cast<double>(frames) * spf / c.rate, 1e-4);
    EXPECT_EQ(r->Decoder().GetFrameBytes(), static_cast<uint32_t>(spf * c.channels * 2));
    // Every byte of PCM read until the end, one frame's worth at a time.
    auto fresh = OpenReader(mp3);
    std::vector<uint8_t> buf;
    int64_t read = 0;
    bool more = true;
    while (more) {
      more = Read(*fresh, buf, static_cast<int32_t>(fresh->Decoder().GetFrameBytes()));
      read += buf.size();
      ASSERT_LE(read, 2 * samples + 4 * spf);
    }
    EXPECT_EQ(read, 2 * samples);
  }
}

TEST(MpegAudioReader, SeekLandsWhereSequentialReadingWouldBe) {
  // After a seek the decoder is primed on the frames before the target, so
  // from the middle of the target frame on (the synthesis filter's history
  // reaches 512 samples back) the sound is what reading from the start gives
  // at that position, give or take the sample the frame-start rounding moves.
  if (!HaveTool("lame") || !HaveTool("sox") || !HaveTool("ffmpeg")) GTEST_SKIP() << "lame, sox or ffmpeg missing";
  TempDir dir;
  std::string wav = SoxTone(dir, "in.wav", 44100, 2, 2.0);
  ASSERT_FALSE(wav.empty());
  std::string l3 = dir.file("a.mp3"), l2 = dir.file("a.mp2");
  ASSERT_EQ(RunCommand({"lame", "--quiet", "-b", "128", wav, l3}).status, 0);
  ASSERT_EQ(RunCommand({"ffmpeg", "-v", "error", "-i", wav, "-c:a", "mp2", "-b:a", "192k", l2}).status, 0);
  for (const std::string& path : {l3, l2}) {
    SCOPED_TRACE(path);
    auto seq = OpenReader(path);
    const int64_t total = seq->GetPcmSize();
    const int64_t frameBytes = seq->Decoder().GetFrameBytes();
    std::vector<uint8_t> all;
    Read(*seq, all, static_cast<int32_t>(total));
    ASSERT_FALSE(AllZero(all));

    auto r = OpenReader(path);
    r->GetPcmSize();
    for (int frame : {40, 3, 70, 12, 13, 60}) {
      const int64_t target = frame * frameBytes + frameBytes / 2 + 4 * (frame % 5);
      r->Seek(target);
      ASSERT_EQ(r->GetPosition(), target);
      std::vector<uint8_t> got;
      ASSERT_TRUE(Read(*r, got, 1000));
      ASSERT_FALSE(AllZero(got)) << frame;
      auto from = all.begin() + (target - 8), to = all.begin() + (target + 8 + 1000);
      auto at = std::search(from, to, got.begin(), got.end());
      EXPECT_NE(at, to) << "frame " << frame;
    }
  }
}
