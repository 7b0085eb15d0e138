#include "avi/U_MP3FrameExtract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "avi/SoundtrackFixtures.h"
#include "support/Errors.h"

namespace sdm {
namespace {

using test::TempDir;

TMP3Header Header(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  const uint8_t bytes[4] = {b0, b1, b2, b3};
  return TMP3Header(bytes);
}

// `count` frames with the given header, each filled with zeros to `length`.
std::vector<uint8_t> Frames(int count, std::array<uint8_t, 4> header, int length) {
  std::vector<uint8_t> data;
  for (int i = 0; i < count; ++i) {
    data.insert(data.end(), header.begin(), header.end());
    data.insert(data.end(), static_cast<size_t>(length - 4), 0);
  }
  return data;
}

const std::array<uint8_t, 4> k128Stereo{0xFF, 0xFB, 0x90, 0x64};  // MPEG-1 layer III, 128 kbit/s, 44100 Hz: 417 bytes

TEST(MP3HeaderTest, LengthsRatesAndChannelsOfCommonHeaders) {
  auto h = Header(0xFF, 0xFB, 0x90, 0x64);
  EXPECT_EQ(h.RawHeader, 0xFFFB9064u);
  EXPECT_TRUE(h.IsValid());
  EXPECT_TRUE(h.IsMpeg1());
  EXPECT_EQ(h.LayerIndex(), 2);
  EXPECT_EQ(h.BitRate(), 128000);
  EXPECT_EQ(h.SampleRate(), 44100);
  EXPECT_EQ(h.Channels(), 2);
  EXPECT_EQ(h.FrameLength, 417);  // 144 * 128000 / 44100 = 417.96
  EXPECT_EQ(h.SamplesPerFrame(), 1152);
  EXPECT_EQ(Header(0xFF, 0xFB, 0x92, 0x64).FrameLength, 418);  // padded

  EXPECT_EQ(Header(0xFF, 0xFB, 0xB4, 0x00).FrameLength, 576);  // 192 kbit/s at 48000 Hz
  EXPECT_EQ(Header(0xFF, 0xFB, 0x98, 0xC0).Channels(), 1);     // single channel, 32000 Hz
  EXPECT_EQ(Header(0xFF, 0xFB, 0x98, 0xC0).FrameLength, 576);  // 128 kbit/s at 32000 Hz

  auto lsf = Header(0xFF, 0xF3, 0x80, 0x00);  // MPEG-2 layer III, 64 kbit/s, 22050 Hz
  EXPECT_TRUE(lsf.IsValid());
  EXPECT_FALSE(lsf.IsMpeg1());
  EXPECT_FALSE(lsf.IsMpeg25());
  EXPECT_EQ(lsf.BitRate(), 64000);
  EXPECT_EQ(lsf.SampleRate(), 22050);
  EXPECT_EQ(lsf.FrameLength, 208);  // 72 * 64000 / 22050 = 208.98
  EXPECT_EQ(lsf.SamplesPerFrame(), 576);
  EXPECT_EQ(Header(0xFF, 0xF3, 0xE4, 0x00).FrameLength, 480);  // 160 kbit/s at 24000 Hz
  EXPECT_EQ(Header(0xFF, 0xF3, 0x18, 0x00).BitRate(), 8000);   // lowest MPEG-2 rate, 16000 Hz

  auto layer2 = Header(0xFF, 0xFD, 0xA4, 0x00);  // MPEG-1 layer II, 192 kbit/s, 48000 Hz
  EXPECT_TRUE(layer2.IsValid());
  EXPECT_EQ(layer2.LayerIndex(), 1);
  EXPECT_EQ(layer2.BitRate(), 192000);
  EXPECT_EQ(layer2.FrameLength, 576);
  EXPECT_EQ(layer2.SamplesPerFrame(), 1152);
  EXPECT_EQ(Header(0xFF, 0xF5, 0xA0, 0x00).SamplesPerFrame(), 1152);  // MPEG-2 layer II
}

TEST(MP3HeaderTest, HeadersThatAreNeverValid) {
  // Layer I keeps its length (12 * 288000 / 44100 = 78 slots of 4 bytes) but is refused.
  auto layer1 = Header(0xFF, 0xFF, 0x90, 0x00);
  EXPECT_EQ(layer1.LayerIndex(), 0);
  EXPECT_EQ(layer1.FrameLength, 312);
  EXPECT_FALSE(layer1.IsValid());

  // Free format layer III: a nominal 38 bytes, no bit rate.
  auto free = Header(0xFF, 0xFB, 0x02, 0x00);
  EXPECT_EQ(free.FrameLength, 39);
  EXPECT_FALSE(free.IsValid());

  // Reserved sample-rate index, forbidden bit-rate index and reserved layer:
  // their lengths fall out of range and the whole header is dropped.
  for (auto h : {Header(0xFF, 0xFB, 0x9C, 0x00), Header(0xFF, 0xFD, 0xAC, 0x00), Header(0xFF, 0xFB, 0xF0, 0x00),
                 Header(0xFF, 0xF9, 0x90, 0x00)}) {
    EXPECT_EQ(h.RawHeader, 0u);
    EXPECT_EQ(h.FrameLength, 0);
    EXPECT_FALSE(h.IsValid());
    EXPECT_EQ(h.SampleRate(), 0);
    EXPECT_EQ(h.BitRate(), 0);
  }
  EXPECT_FALSE(Header(0xFF, 0x1B, 0x90, 0x64).IsValid());  // broken sync

  // MPEG-2.5 is read with the MPEG-2 tables: an 11025 Hz header says 22050.
  auto mpeg25 = Header(0xFF, 0xE3, 0x80, 0x00);
  EXPECT_TRUE(mpeg25.IsMpeg25());
  EXPECT_TRUE(mpeg25.IsValid());
  EXPECT_EQ(mpeg25.SampleRate(), 22050);
}

TEST(MP3FrameExtractTest, ConstantRateStreamWithoutPadding) {
  const auto data = Frames(7, k128Stereo, 417);
  TMP3FrameExtract x("memory");
  x.ScanBuffer(data.data(), data.size());
  ASSERT_EQ(x.FrameEnds().size(), 7u);
  EXPECT_EQ(x.Count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(x.FramePosition(i), 417 * (i + 1));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(x.FrameSize(i), 417);
  EXPECT_EQ(x.FrameSize(5), -1);
  EXPECT_EQ(x.FrameSize(-1), -1);
  EXPECT_EQ(x.FramePosition(6), -1);
  EXPECT_EQ(x.FramePosition(-1), -1);
  EXPECT_EQ(x.BitRate(), 128000);
  EXPECT_EQ(x.SampleRate(), 44100);
  EXPECT_EQ(x.Channels(), 2);

  // A second scan starts afresh.
  x.ScanBuffer(data.data(), 417 * 2);
  EXPECT_EQ(x.Count(), 1);
}

TEST(MP3FrameExtractTest, JunkBeforeBetweenAndAfterFrames) {
  // A tag-like block with a false sync whose header is rejected, then frames
  // with three stray bytes before the fifth, then a frame cut short.
  std::vector<uint8_t> data{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
  data.insert(data.end(), {0xFF, 0xFB, 0x9C, 0x00});  // reserved rate: not a frame
  data.resize(30, 0);
  auto four = Frames(4, k128Stereo, 417);
  data.insert(data.end(), four.begin(), four.end());
  data.insert(data.end(), {0x12, 0xFF, 0x34});
  auto three = Frames(3, k128Stereo, 417);
  data.insert(data.end(), three.begin(), three.end());
  data.insert(data.end(), {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0, 0, 0});

  TMP3FrameExtract x("memory");
  x.ScanBuffer(data.data(), data.size());
  ASSERT_EQ(x.Count(), 7);  // eight frames found, the cut one included
  EXPECT_EQ(x.FramePosition(0), 30 + 417);
  EXPECT_EQ(x.FramePosition(3), 30 + 4 * 417);
  EXPECT_EQ(x.FrameSize(3), 3 + 417);  // the stray bytes go with the frame after them
  EXPECT_EQ(x.FramePosition(4), 30 + 3 + 5 * 417);
  EXPECT_EQ(x.FrameSize(4), 417);
  // The cut frame's end lies past the end of the file but is never used.
  EXPECT_GT(x.FrameEnds().back(), data.size());
  EXPECT_LE(x.FramePosition(x.Count() - 1), static_cast<int64_t>(data.size()));
}

TEST(MP3FrameExtractTest, OnlyFramesThatLeadOneToTheNextCount) {
  // Valid-looking headers in other data, as a WAV's samples or an AAC
  // stream's payload hold them: none leads to another, so none is a frame.
  std::vector<uint8_t> data(40000, 0x11);
  for (size_t at = 100; at + 4 < data.size(); at += 4410) {
    const uint8_t stray[4] = {0xFF, 0xF2, 0x9B, 0xF3};  // MPEG-2 layer III, 16 kHz
    std::copy(stray, stray + 4, data.begin() + static_cast<long>(at));
  }
  TMP3FrameExtract x("memory");
  x.ScanBuffer(data.data(), data.size());
  EXPECT_EQ(x.Count(), -1);
  std::string why;
  EXPECT_FALSE(x.IsCopyable(&why));
  EXPECT_EQ(why, "no MPEG audio frames follow one another in it");

  // Two frames between junk do not start a stream; four in a row do, and
  // after it only frames of the same version, layer and rate count.
  std::vector<uint8_t> mixed(500, 0);
  auto two = Frames(2, k128Stereo, 417);
  mixed.insert(mixed.end(), two.begin(), two.end());
  mixed.resize(mixed.size() + 50, 0);
  auto run = Frames(5, k128Stereo, 417);
  mixed.insert(mixed.end(), run.begin(), run.end());
  auto other = Frames(6, {0xFF, 0xFB, 0x94, 0x64}, 384);  // the same at 48 kHz: 384 bytes
  mixed.insert(mixed.end(), other.begin(), other.end());
  x.ScanBuffer(mixed.data(), mixed.size());
  EXPECT_EQ(x.Count(), 4);
  EXPECT_EQ(x.FramePosition(0), 500 + 2 * 417 + 50 + 417);
  // With the 48 kHz frames and the junk, the frames found are a third of the
  // file: not an MP3 to copy.
  EXPECT_FALSE(x.IsCopyable(&why));
  EXPECT_EQ(why, "its MPEG audio frames make up only 36% of it");

  // A reserved emphasis marks no frame either.
  auto emphasis = Frames(8, {0xFF, 0xFB, 0x90, 0x66}, 417);
  x.ScanBuffer(emphasis.data(), emphasis.size());
  EXPECT_EQ(x.Count(), -1);
}

TEST(MP3FrameExtractTest, NothingFoundInEmptySilentOrLayerOneData) {
  TMP3FrameExtract x("memory");
  x.ScanBuffer(nullptr, 0);
  EXPECT_EQ(x.Count(), -1);
  EXPECT_EQ(x.FirstHeader(), nullptr);
  EXPECT_EQ(x.SampleRate(), 0);
  EXPECT_EQ(x.BitRate(), 0);
  EXPECT_EQ(x.Channels(), 0);
  EXPECT_EQ(x.FramePosition(0), -1);

  const uint8_t tiny[4] = {0xFF, 0xFB, 0x90, 0x64};  // a header with no room for a frame
  x.ScanBuffer(tiny, 4);
  EXPECT_EQ(x.Count(), -1);

  const auto layer1 = Frames(20, {0xFF, 0xFF, 0x90, 0x00}, 312);
  x.ScanBuffer(layer1.data(), layer1.size());
  EXPECT_EQ(x.Count(), -1);

  TempDir dir;
  const std::string wav = dir.file("silence.wav");
  ASSERT_EQ(test::RunCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "trim", "0", "1"}).status, 0);
  TMP3FrameExtract fromWav(wav);
  fromWav.Scan();
  EXPECT_EQ(fromWav.Count(), -1);
  EXPECT_EQ(fromWav.SampleRate(), 0);
}

TEST(MP3FrameExtractTest, ProgressEveryTenFramesAndAbortAfterAnyFrame) {
  const auto data = Frames(35, k128Stereo, 417);
  TMP3FrameExtract x("memory");
  std::vector<int> percents;
  x.OnProgress = [&](TMP3FrameExtract& sender, uint8_t percent) {
    EXPECT_EQ(&sender, &x);
    percents.push_back(percent);
  };
  x.ScanBuffer(data.data(), data.size());
  // Reports after frames 11, 21 and 31: 11/35, 21/35 and 31/35 of the file.
  EXPECT_EQ(percents, (std::vector<int>{31, 60, 88}));
  EXPECT_EQ(x.Count(), 34);

  int asked = 0;
  x.OnAbortQuery = [&] { return ++asked == 3; };
  x.ScanBuffer(data.data(), data.size());
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(x.FrameEnds().size(), 4u);  // the first frame, then one per question
}

TEST(MP3FrameExtractTest, UnreadableFilesFailWithTheirName) {
  TempDir dir;
  TMP3FrameExtract missing(dir.file("nothing.mp3"));
  try {
    missing.Scan();
    FAIL() << "a missing file must not scan";
  } catch (const EError& e) {
    EXPECT_NE(std::string(e.what()).find("nothing.mp3"), std::string::npos) << e.what();
  }
  TMP3FrameExtract folder(dir.path().string());
  EXPECT_THROW(folder.Scan(), EError);
  // A sparse 3 GiB file is refused before anything is allocated for it.
  const std::string huge = dir.file("huge.mp3");
  test::WriteBytes(huge, {0xFF, 0xFB, 0x90, 0x64});
  std::filesystem::resize_file(huge, 3ull << 30);
  TMP3FrameExtract tooLarge(huge);
  EXPECT_THROW(tooLarge.Scan(), EError);
  // A named pipe would block the scan until someone writes to it.
  const std::string fifo = dir.file("pipe.mp3");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  TMP3FrameExtract pipe(fifo);
  try {
    pipe.Scan();
    FAIL() << "a pipe must not be read";
  } catch (const EError& e) {
    EXPECT_STREQ(e.what(), ("Cannot open the soundtrack \"" + fifo + "\": is a named pipe").c_str());
  }
}

TEST(MP3FrameExtractTest, ALargeFileWithoutFramesCanBeStopped) {
  TempDir dir;
  // 16 MiB of nothing, then real frames: a stop asked for while the file
  // loads, or in the long stretch before the first frame, ends the scan there.
  const std::string path = dir.file("late.mp3");
  std::vector<uint8_t> data(16u << 20, 0);
  const auto frames = Frames(12, k128Stereo, 417);
  data.insert(data.end(), frames.begin(), frames.end());
  test::WriteBytes(path, {});
  std::filesystem::resize_file(path, 16u << 20);  // sparse: nothing is written
  {
    std::ofstream tail(path, std::ios::binary | std::ios::app);
    tail.write(reinterpret_cast<const char*>(frames.data()), static_cast<std::streamsize>(frames.size()));
  }

  TMP3FrameExtract whole(path);
  whole.Scan();
  EXPECT_EQ(whole.Count(), 11);

  int asked = 0;
  TMP3FrameExtract loading(path);
  loading.OnAbortQuery = [&] { return ++asked == 2; };
  loading.Scan();
  EXPECT_EQ(asked, 2);  // after 4 and 8 MiB read
  EXPECT_EQ(loading.Count(), -1);

  asked = 0;
  TMP3FrameExtract scanning("memory");
  scanning.OnAbortQuery = [&] { return ++asked == 3; };
  scanning.ScanBuffer(data.data(), data.size());
  EXPECT_EQ(asked, 3);  // every mebibyte without a frame
  EXPECT_EQ(scanning.Count(), -1);
}

// Frame boundaries checked against ffprobe's packets: where lame put an
// information frame first, ffprobe does not count it as a packet, so our end
// k is then the end of ffprobe's packet k - 1.
TEST(MP3FrameExtractTest, FrameEndsOfLameFilesMatchFfprobePackets) {
  TempDir dir;
  struct Case {
    int rate, channels;
    std::vector<std::string> options;
    int samplesPerFrame;
  };
  const Case cases[] = {{44100, 2, {"-b", "128"}, 1152},         {48000, 1, {"-V", "2", "-m", "m"}, 1152},
                        {32000, 2, {"-V", "5"}, 1152},           {22050, 2, {"-b", "64"}, 576},
                        {24000, 1, {"-V", "4", "-m", "m"}, 576}, {16000, 2, {"-V", "6"}, 576}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channel(s)");
    const auto mp3 = test::MakeMp3(dir, "t" + std::to_string(n++) + ".mp3", c.rate, c.channels, 2.5, c.options);
    TMP3FrameExtract x(mp3);
    x.Scan();
    const auto packets = test::ProbePackets(mp3, "a:0");
    ASSERT_GT(packets.size(), 20u);
    const size_t info = static_cast<size_t>(test::LeadingInfoFrames(packets));
    ASSERT_EQ(x.FrameEnds().size(), packets.size() + info);
    for (size_t k = info; k < x.FrameEnds().size(); ++k)
      ASSERT_EQ(x.FrameEnds()[k], packets[k - info].pos + packets[k - info].size) << "frame " << k;
    if (info) {
      EXPECT_EQ(x.FrameEnds()[0], packets[0].pos);
    }
    EXPECT_EQ(x.SampleRate(), c.rate);
    EXPECT_EQ(x.Channels(), c.channels);
    EXPECT_EQ(x.FirstHeader()->SamplesPerFrame(), c.samplesPerFrame);
  }
}

TEST(MP3FrameExtractTest, LayerTwoFramesAreFound) {
  TempDir dir;
  const std::string wav = dir.file("tone.wav"), mp2 = dir.file("tone.mp2");
  ASSERT_EQ(
      test::RunCommand({"sox", "-n", "-r", "48000", "-c", "2", "-b", "16", wav, "synth", "2", "sine", "500"}).status,
      0);
  auto enc = test::RunCommand({"ffmpeg", "-v", "error", "-y", "-i", wav, "-c:a", "mp2", "-b:a", "192k", mp2});
  ASSERT_EQ(enc.status, 0) << enc.err;
  TMP3FrameExtract x(mp2);
  x.Scan();
  const auto packets = test::ProbePackets(mp2, "a:0");
  ASSERT_EQ(x.FrameEnds().size(), packets.size());
  for (size_t k = 0; k < packets.size(); ++k) ASSERT_EQ(x.FrameEnds()[k], packets[k].pos + packets[k].size);
  EXPECT_EQ(x.BitRate(), 192000);
  EXPECT_EQ(x.FirstHeader()->LayerIndex(), 1);
}

}  // namespace
}  // namespace sdm
