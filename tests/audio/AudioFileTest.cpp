// The facade's choice of reader, its play time, and the WAV reader's walk
// over RIFF chunks, including files that lie about their sizes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "AudioTestUtil.h"
#include "audio/AudioFileStream.h"
#include "audio/U_AudioFile.h"
#include "audio/filters/FormatFilter.h"
#include "audio/filters/LoudnessCompressor.h"
#include "audio/readers/WavFile.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

TEST(AudioFacade, FileMasksMatchTheWholeNameWithoutRegardToCase) {
  EXPECT_EQ(FormatKindFromName("Song.MP3"), akMpeg);
  EXPECT_EQ(FormatKindFromName("a.mp1"), akMpeg);
  EXPECT_EQ(FormatKindFromName("a.mp2"), akMpeg);
  EXPECT_EQ(FormatKindFromName("a.mp4"), akNone);
  EXPECT_EQ(FormatKindFromName("noextension"), akNone);
  EXPECT_EQ(FormatKindFromName("x.wav.mp3"), akMpeg);  // "*.wav" must match the whole name
  EXPECT_EQ(FormatKindFromName("clip.ASF"), akWma);
  EXPECT_EQ(FormatKindFromName("/music/dir.wav/track.Ogg"), akOgg);  // '*' spans folders
  EXPECT_EQ(FormatKindFromName("t.flac"), akFlac);
  EXPECT_EQ(FormatKindFromName("t.wavx"), akNone);
  EXPECT_TRUE(MatchesMask("abc", "a?c"));
  EXPECT_FALSE(MatchesMask("a.mp", "*.mp[123]"));
}

TEST(AudioFacade, UnknownKindOpensNothingAndHasNoDuration) {
  TAudioFile f;
  f.SetFileName("clip.mp4");
  EXPECT_FALSE(f.HasKnownFormat());
  EXPECT_FALSE(f.Open());
  EXPECT_EQ(f.GetDuration(), 0.0);
  EXPECT_FALSE(f.IsOpen);
  EXPECT_TRUE(f.Close());
}

TEST(AudioFacade, OneSecondWavAndNameChangesWhileOpen) {
  TempDir dir;
  std::string one = dir.file("one.wav"), two = dir.file("two.wav");
  WriteBytes(one, Bytes(PcmWav(2, 44100, 16, std::string(176400, '\0'))));
  WriteBytes(two, Bytes(PcmWav(1, 8000, 8, std::string(16000, '\x80'))));
  TAudioFile f;
  EXPECT_EQ(f.OutSampleRate, 44100u);
  EXPECT_EQ(f.OutChannels, 2u);
  EXPECT_EQ(f.OutBits, 16u);
  f.SetFileName(one);
  EXPECT_DOUBLE_EQ(f.GetDuration(), 1.0 / 86400);
  EXPECT_TRUE(f.IsOpen);
  f.SetFileName(two);  // ignored while open
  EXPECT_EQ(f.FileName, one);
  EXPECT_DOUBLE_EQ(f.GetDuration(), 1.0 / 86400);
  EXPECT_EQ(f.Output()->GetSampleRate(), 44100u);
  EXPECT_FALSE(f.Compressor->Enabled);
  EXPECT_TRUE(f.Compressor->AutoAmount);
  f.Close();
  EXPECT_EQ(f.Output(), nullptr);
  f.SetFileName(two);
  EXPECT_DOUBLE_EQ(f.GetDuration(), 2.0 / 86400);
  EXPECT_DOUBLE_EQ(f.Reader->GetPlayTime(), 2.0 / 86400);
}

TEST(AudioFacade, ReaderErrorsPropagateAndLeaveTheFacadeClosed) {
  TempDir dir;
  TAudioFile f;
  f.SetFileName(dir.file("missing.wav"));
  try {
    f.Open();
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Impossible d'ouvrir le fichier " + dir.file("missing.wav"));
  }
  EXPECT_FALSE(f.IsOpen);
  EXPECT_EQ(f.Reader, nullptr);

  // Every kind's reader reports the file it cannot open.
  for (const char* name : {"a.wma", "a.ogg", "a.ape", "a.ac3", "a.mpc", "a.flac"}) {
    TAudioFile g;
    g.SetFileName(dir.file(name));
    EXPECT_THROW(g.Open(), EFOpenError) << name;
    EXPECT_FALSE(g.IsOpen);
  }
}

TEST(AudioFileStream, OnlyRegularFilesOpenAndAPipeNeverBlocks) {
  TempDir dir;
  // A named pipe without a writer would block open(2) and read(2) for ever;
  // every mode must refuse it at once and say why.
  std::string pipe = dir.file("pipe.wav");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (uint16_t mode : {TWFileStream::ModeRead, TWFileStream::ModeScan, TWFileStream::ModeRewrite}) {
    try {
      TWFileStream s(pipe, mode);
      FAIL() << "a pipe opened in mode " << mode;
    } catch (const EFOpenError& e) {
      EXPECT_EQ(std::string(e.what()), "Impossible d'ouvrir le fichier " + pipe + " (is a named pipe)");
    }
  }
  TAudioFile f;
  f.SetFileName(pipe);
  EXPECT_THROW(f.Open(), EFOpenError);
  std::string mp3 = dir.file("pipe.mp3");  // the MPEG reader names the file it cannot use
  ASSERT_EQ(::mkfifo(mp3.c_str(), 0600), 0);
  f.SetFileName(mp3);
  EXPECT_THROW(f.Open(), EError);
  EXPECT_FALSE(f.IsOpen);
  std::string folder = dir.file("dir.wav");
  std::filesystem::create_directory(folder);
  EXPECT_THROW(TWFileStream(folder, TWFileStream::ModeRead), EFOpenError);
  EXPECT_THROW(TWFileStream("/dev/zero", TWFileStream::ModeRead), EFOpenError);  // never ends
  // A regular file still opens for reading and for rewriting.
  std::string plain = dir.file("plain.wav");
  WriteBytes(plain, {1, 2, 3});
  TWFileStream r(plain, TWFileStream::ModeRewrite);
  EXPECT_EQ(r.Size(), 3);
}

TEST(AudioFileStream, BufferedReadsSeeWhatPlainReadsSee) {
  TempDir dir;
  std::string path = dir.file("bytes.bin");
  std::vector<uint8_t> bytes(1000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + i / 256);
  WriteBytes(path, bytes);
  TWFileStream s(path, TWFileStream::ModeRewrite);
  s.Seek(10, 0);
  s.BufferReads(64);  // small, so reads cross its edges
  EXPECT_EQ(s.Position(), 10);
  EXPECT_EQ(s.Size(), 1000);
  // Reads of every size from every kind of place: inside the buffer, across
  // its end, larger than it, backwards, from the end, past the end.
  uint32_t r = 12345;
  for (int k = 0; k < 300; ++k) {
    r = r * 1103515245u + 12345u;
    const int origin = static_cast<int>(r % 3);
    const int64_t offset = origin == 0   ? (r >> 8) % 1100
                           : origin == 1 ? static_cast<int64_t>((r >> 8) % 200) - 100
                                         : -static_cast<int64_t>((r >> 8) % 300);
    const int64_t before = s.Position();
    const int64_t at = s.Seek(offset, origin);
    const int64_t want = (origin == 0 ? 0 : origin == 1 ? before : 1000) + offset;
    if (want < 0) {
      EXPECT_EQ(at, -1);
      continue;
    }
    ASSERT_EQ(at, want);
    const int64_t count = static_cast<int64_t>((r >> 4) % 150);
    std::vector<uint8_t> got(static_cast<size_t>(count) + 1, 0xEE);
    const int64_t n = s.Read(got.data(), count);
    const int64_t expected = std::clamp<int64_t>(1000 - at, 0, count);
    ASSERT_EQ(n, expected) << "read " << count << " at " << at;
    for (int64_t i = 0; i < n; ++i) ASSERT_EQ(got[static_cast<size_t>(i)], bytes[static_cast<size_t>(at + i)]);
    EXPECT_EQ(got[static_cast<size_t>(count)], 0xEE);  // nothing beyond the request
    EXPECT_EQ(s.Position(), at + n);
  }
  // A write leaves the buffered mode where the stream stood.
  s.Seek(500, 0);
  uint8_t b[3];
  ASSERT_EQ(s.Read(b, 3), 3);
  ASSERT_EQ(s.Write("xyz", 3), 3);
  s.SetSize(600);
  EXPECT_EQ(s.Size(), 600);
  auto after = ReadBytes(path);
  ASSERT_EQ(after.size(), 600u);
  EXPECT_EQ(std::string(after.begin() + 503, after.begin() + 506), "xyz");
  EXPECT_EQ(after[502], bytes[502]);
}

TEST(AudioFacade, RegisteredReaderServesItsKind) {
  struct Fake : TAbstractAudioFile {
    using TAbstractAudioFile::TAbstractAudioFile;
    uint32_t GetChannels() override { return 2; }
    uint32_t GetSampleRate() override { return 48000; }
    uint32_t GetBitsPerSample() override { return 16; }
    int64_t GetPcmSize() override { return 48000 * 4 * 3; }
    bool ReadPcm(void*, int32_t& c) override { return (c = 0), false; }
  };
  RegisterAudioReader(akFlac, [](const std::string& n) { return std::make_unique<Fake>(n); });
  TAudioFile f;
  f.SetFileName("x.flac");
  EXPECT_NEAR(f.GetDuration() * 86400, 3.0, 1e-9);
  f.Close();
  RegisterAudioReader(akFlac, {});
  EXPECT_THROW(f.Open(), EFOpenError);  // the built-in reader again: x.flac does not exist
}

TEST(AudioBase, TagLookupsIntegersAndDates) {
  struct R : TAbstractAudioFile {
    using TAbstractAudioFile::TAbstractAudioFile;
    bool ReadPcm(void*, int32_t& c) override { return (c = 0), false; }
  } r("x");
  r.Tags = {"TITLE=First", "title=Second", "TRACK=12", "BAD=12a", "DAY=2024-02-29", "DMY=01/03/2000", "NODATE=soon"};
  EXPECT_EQ(r.TagValue("Title"), "First");
  EXPECT_EQ(r.TagValue("missing"), "");
  EXPECT_EQ(r.GetTagInt("track"), 12);
  EXPECT_EQ(r.GetTagInt("bad"), 0);
  EXPECT_EQ(r.GetTagInt("missing"), 0);
  EXPECT_DOUBLE_EQ(r.GetTagDate("day"), 45351.0);  // days since 1899-12-30
  EXPECT_DOUBLE_EQ(r.GetTagDate("dmy"), 36586.0);
  EXPECT_THROW(r.GetTagDate("nodate"), EConvertError);
  EXPECT_EQ(r.GetPlayTime(), 0.0);  // no format: no play time, no NaN
}

TEST(AudioBase, EmptyKindSetsLeaveTheFileUntouched) {
  TempDir dir;
  std::string path = dir.file("t.wav");
  auto bytes = Bytes(PcmWav(1, 8000, 16, std::string(100, '\x01')));
  WriteBytes(path, bytes);
  TWavAudioFile w(path);
  EXPECT_TRUE(w.WriteTags(0));
  EXPECT_TRUE(w.RemoveTags(0));
  EXPECT_EQ(ReadBytes(path), bytes);
}

TEST(FileStream, ModesAndErrors) {
  TempDir dir;
  std::string path = dir.file("s.bin");
  EXPECT_THROW(TWFileStream(path, 1u, TWFileStream::ModeRead), EAssertionFailed);
  EXPECT_THROW(TWFileStream(path, TWFileStream::ModeRead), EFOpenError);
  {
    TWFileStream c(path, TWFileStream::fmCreate);
    EXPECT_EQ(c.Write("abcdef", 6), 6);
    c.SetSize(3);
    EXPECT_EQ(c.Size(), 3);
  }
  EXPECT_THROW(TWFileStream(path, 0x03), EFOpenError);  // access 3 is refused
  EXPECT_THROW(TWFileStream(path, 0x50), EFOpenError);  // so is sharing above 0x40
  EXPECT_THROW(TWFileStream(dir.path().string(), TWFileStream::ModeRead), EFOpenError);
  TWFileStream r(path, TWFileStream::ModeRead);
  char buf[8] = {};
  EXPECT_EQ(r.Read(buf, 8), 3);
  EXPECT_EQ(std::string(buf), "abc");
  EXPECT_EQ(r.Seek(-1, 2), 2);
  EXPECT_THROW(TWFileStream(dir.file("no/dir/x"), TWFileStream::fmCreate), EFCreateError);
}

namespace {

std::string OpenError(const std::string& content) {
  TempDir dir;
  std::string path = dir.file("w.wav");
  WriteBytes(path, Bytes(content));
  try {
    TWavAudioFile w(path);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(WavReader, ChunkWalkAndItsMessages) {
  const std::string fmt16 = Chunk("fmt ", FmtBody(1, 2, 44100, 16));
  const std::string data = Chunk("data", std::string(8, '\x11'));
  EXPECT_EQ(OpenError(Riff(fmt16 + data)), "");
  EXPECT_EQ(OpenError(Riff(Chunk("fmt ", FmtBody(0xFFFE, 2, 44100, 16, true)) + data)),
            "Bad .wav format. Only PCM data is supported");
  EXPECT_EQ(OpenError(Riff(fmt16 + Chunk("LIST", "INFOISFT" + std::string(8, 'x')) + data)), "");
  EXPECT_EQ(OpenError(Riff(data + fmt16)), "Bad .wav format. Can't find FMT chunk");
  EXPECT_EQ(OpenError("RIFX" + Riff(fmt16 + data).substr(4)), "Bad .wav format. RIFF chunk not found");
  EXPECT_EQ(OpenError(Chunk("LIST", "WAVE" + fmt16 + data)), "Bad .wav format. 1st chunk is not an RIFF chunk");
  EXPECT_EQ(OpenError(Riff(fmt16)), "Bad .wav format. Can't find audio data");
  EXPECT_EQ(OpenError(""), "Bad .wav format. RIFF chunk not found");
}

TEST(WavReader, LyingSizesNeitherHangNorReadPastTheFile) {
  const std::string fmt16 = Chunk("fmt ", FmtBody(1, 1, 8000, 16));
  // A chunk claiming 4 GiB, a zero-size LIST, a truncated header at the end.
  std::string huge = "junk";
  PutLE(huge, 0xFFFFFFF0u, 4);
  EXPECT_EQ(OpenError(Riff(fmt16 + huge + "xx")), "Bad .wav format. Can't find audio data");
  std::string zeroList = "LIST";
  PutLE(zeroList, 0, 4);
  EXPECT_EQ(OpenError(Riff(zeroList + "INFO" + fmt16 + Chunk("data", "ab"))), "");
  EXPECT_EQ(OpenError(Riff(fmt16 + "da")), "Bad .wav format. Can't find audio data");
  std::string bigFmt = "fmt ";
  PutLE(bigFmt, 0x7FFFFFFF, 4);
  EXPECT_EQ(OpenError(Riff(bigFmt + FmtBody(1, 1, 8000, 16))), "Bad .wav format. Can't find audio data");
}

TEST(WavReader, FormatSeekAndReadingPastTheEnd) {
  TempDir dir;
  std::string path = dir.file("r.wav");
  // 16-byte fmt (no extra-size field), data of 2000 bytes, then a trailing chunk.
  std::string pcm;
  for (int i = 0; i < 2000; ++i) pcm += static_cast<char>(i & 0xFF);
  WriteBytes(path, Bytes(Riff(Chunk("fmt ", FmtBody(1, 2, 22050, 16)) + Chunk("data", pcm) + Chunk("LIST", "INFO"))));
  TWavAudioFile w(path);
  EXPECT_EQ(w.Format.ExtraSize, 0);
  EXPECT_EQ(w.GetChannels(), 2u);
  EXPECT_EQ(w.GetSampleRate(), 22050u);
  EXPECT_EQ(w.GetPcmSize(), 2000);
  EXPECT_EQ(w.GetBitRate(), 2u * 22050 * 16);
  EXPECT_EQ(w.GetFormatKind(), akWav);
  w.Seek(1001);
  EXPECT_EQ(w.GetPosition(), 1000);
  uint8_t buf[1100];
  int32_t n = 1100;
  EXPECT_TRUE(w.ReadPcm(buf, n));
  EXPECT_EQ(n, 1000);  // the samples end with the data chunk: the chunk after it is no sound
  EXPECT_EQ(buf[0], 1000 & 0xFF);
  EXPECT_EQ(buf[999], 1999 & 0xFF);
  EXPECT_EQ(buf[1000], 0);  // the rest zero-filled
  EXPECT_EQ(buf[1099], 0);
  n = 10;
  EXPECT_FALSE(w.ReadPcm(buf, n));
  EXPECT_EQ(n, 0);
}

TEST(WavReader, Id3v2TagBeforeTheRiffChunk) {
  TempDir dir;
  std::string path = dir.file("t.wav");
  std::string frame = "TIT2";
  std::string body = std::string("\x00", 1) + "Hello";
  frame += std::string("\0\0\0", 3) + static_cast<char>(body.size()) + std::string(2, '\0') + body;
  std::string tag = "ID3";
  tag += '\x03';
  tag += std::string(5, '\0');  // revision, flags, three size bytes
  tag += static_cast<char>(frame.size());
  tag += frame;
  WriteBytes(path, Bytes(tag + PcmWav(1, 8000, 8, "abcd")));
  TWavAudioFile w(path);
  EXPECT_EQ(w.TagValue("title"), "Hello");
  EXPECT_EQ(w.Id3v2Size, static_cast<int64_t>(tag.size()));
  EXPECT_EQ(w.TagKinds, static_cast<uint32_t>(tkId3v2));
  EXPECT_EQ(w.GetPcmSize(), 4);
}
