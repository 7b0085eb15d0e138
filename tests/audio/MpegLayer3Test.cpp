// Layer III decoding checked against mpg123 on files lame writes: every
// sample rate of MPEG-1, MPEG-2 and MPEG-2.5, mono, stereo, joint stereo with
// middle/side, CBR and VBR, with and without CRC, and transients that make
// lame switch to short blocks. Also seeking, cut files and damaged frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/mpeg/Layer3Decoder.h"
#include "audio/mpeg/U_MpegAudio.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

bool HaveReferenceTools() { return HaveTool("sox") && HaveTool("lame") && HaveTool("mpg123"); }

// A sweep over pink noise with bursts of white noise: the bursts make the
// encoder switch to short blocks, the sweep and noise fill the spectrum.
std::string MakeSource(const TempDir& dir, int rate, int channels, double seconds) {
  const std::string tone = dir.file("tone.wav"), clicks = dir.file("clicks.wav"), out = dir.file("src.wav");
  const std::string len = std::to_string(seconds);
  const std::string ch = std::to_string(channels), r = std::to_string(rate);
  EXPECT_EQ(RunCommand({"sox", "-n",   "-r",       r,       "-c", ch,          "-b",   "16", tone,  "synth",
                        len,   "sine", "200-9000", "synth", len,  "pinknoise", "amod", "3",  "vol", "0.6"})
                .status,
            0);
  EXPECT_EQ(RunCommand({"sox", "-n", "-r", r, "-c", ch, "-b", "16", clicks, "synth", "0.02", "whitenoise", "vol", "0.9",
                        "pad", "0", "0.2", "repeat", std::to_string(static_cast<int>(seconds * 4))})
                .status,
            0);
  EXPECT_EQ(RunCommand({"sox", "-m", tone, clicks, out, "trim", "0", len}).status, 0);
  return out;
}

std::string Encode(const TempDir& dir, const std::string& wav, const std::vector<std::string>& options,
                   const std::string& name) {
  std::vector<std::string> argv = {"lame", "--quiet"};
  argv.insert(argv.end(), options.begin(), options.end());
  const std::string mp3 = dir.file(name);
  argv.push_back(wav);
  argv.push_back(mp3);
  EXPECT_EQ(RunCommand(argv).status, 0) << "lame failed for " << name;
  return mp3;
}

std::vector<int16_t> Reference(const std::string& mp3) {
  CommandResult r = RunCommand({"mpg123", "-q", "--no-gapless", "-s", mp3});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<int16_t> s(r.out.size() / 2);
  std::memcpy(s.data(), r.out.data(), s.size() * 2);
  return s;
}

std::vector<int16_t> DecodeAll(TMpegAudioFile& f) {
  std::vector<int16_t> all;
  std::vector<int16_t> buf(4096);
  const int64_t total = f.GetPcmSize();
  while (static_cast<int64_t>(all.size()) * 2 < total) {
    int32_t want = static_cast<int32_t>(std::min<int64_t>(8192, total - static_cast<int64_t>(all.size()) * 2));
    f.ReadPcm(buf.data(), want);
    all.insert(all.end(), buf.begin(), buf.begin() + want / 2);
  }
  return all;
}

std::vector<int16_t> DecodeFile(const std::string& mp3) {
  TMpegAudioFile f(mp3);
  return DecodeAll(f);
}

// Index of the first sample differing by more than one, or -1.
long FirstMismatch(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t from = 0) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = from; i < n; ++i)
    if (std::abs(a[i] - b[i]) > 1) return static_cast<long>(i);
  return -1;
}

double Rms(const std::vector<int16_t>& s) {
  double sum = 0;
  for (int16_t v : s) sum += static_cast<double>(v) * v;
  return s.empty() ? 0 : std::sqrt(sum / static_cast<double>(s.size()));
}

// Counts of block types and joint-stereo frames, read from the side
// information, so the test knows which features its files carry.
struct TFeatures {
  int frames = 0, shortBlocks = 0, startStop = 0, msFrames = 0;
};

TFeatures Features(const std::string& mp3) {
  TFeatures f;
  TFrameLoader loader(mp3);
  do {
    if (!loader.FrameLoaded) continue;
    const TMpegHeader& h = loader.CurrentHeader;
    ++f.frames;
    const int nch = static_cast<int>(h.Channels());
    if (h.ChannelMode() == 1 && (h.ModeExtension() & 2)) ++f.msFrames;
    const int grs = h.Mpeg1() ? 2 : 1;
    loader.GetBits(h.Mpeg1() ? (nch == 1 ? 14 : 20) : (nch == 1 ? 9 : 10));
    for (int g = 0; g < grs; ++g)
      for (int ch = 0; ch < nch; ++ch) {
        loader.GetBits(12 + 9 + 8 + (h.Mpeg1() ? 4 : 9));
        if (loader.GetBit()) {
          const uint32_t type = loader.GetBits(2);
          if (type == 2)
            ++f.shortBlocks;
          else
            ++f.startStop;
          loader.GetBits(1 + 10 + 9);
        } else {
          loader.GetBits(15 + 4 + 3);
        }
        loader.GetBits(h.Mpeg1() ? 3 : 2);
      }
  } while (loader.NextFrame());
  return f;
}

struct TCase {
  const char* name;
  int rate;
  int channels;
  std::vector<std::string> lame;
};

}  // namespace

TEST(MpegLayer3, DecodesLameFilesLikeMpg123AtEveryRateAndMode) {
  if (!HaveReferenceTools()) GTEST_SKIP() << "sox, lame or mpg123 missing";
  // -t: no information frame, which mpg123 drops from its output while we
  // decode it as the silent frame it is (it counts in the play time).
  const std::vector<TCase> cases = {
      {"stereo 44.1 kHz CBR 192", 44100, 2, {"-t", "--resample", "44.1", "-b", "192", "-m", "s"}},
      {"joint 44.1 kHz CBR 128", 44100, 2, {"-t", "--resample", "44.1", "-b", "128", "-m", "j"}},
      {"forced middle/side 44.1 kHz with CRC", 44100, 2, {"-t", "--resample", "44.1", "-p", "-b", "112", "-m", "f"}},
      {"mono 44.1 kHz CBR 64", 44100, 1, {"-t", "--resample", "44.1", "-b", "64", "-m", "m"}},
      {"joint 48 kHz VBR", 48000, 2, {"-t", "--resample", "48", "-V", "2"}},
      {"joint 32 kHz CBR 96", 32000, 2, {"-t", "--resample", "32", "-b", "96", "-m", "j"}},
      {"joint 22.05 kHz CBR 64", 22050, 2, {"-t", "--resample", "22.05", "-b", "64", "-m", "j"}},
      {"mono 24 kHz CBR 32", 24000, 1, {"-t", "--resample", "24", "-b", "32", "-m", "m"}},
      {"joint 16 kHz VBR", 16000, 2, {"-t", "--resample", "16", "-V", "5"}},
      {"joint 11.025 kHz CBR 32", 11025, 2, {"-t", "--resample", "11.025", "-b", "32", "-m", "j"}},
      {"mono 12 kHz CBR 24", 12000, 1, {"-t", "--resample", "12", "-b", "24", "-m", "m"}},
      {"joint 8 kHz CBR 16", 8000, 2, {"-t", "--resample", "8", "-b", "16", "-m", "j"}},
  };
  TFeatures seen;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string wav = MakeSource(dir, c.rate, c.channels, 1.5);
    const std::string mp3 = Encode(dir, wav, c.lame, "t.mp3");
    TMpegAudioFile f(mp3);
    EXPECT_EQ(f.GetSampleRate(), static_cast<uint32_t>(c.rate));
    EXPECT_EQ(f.GetChannels(), static_cast<uint32_t>(c.channels));
    const std::vector<int16_t> ours = DecodeAll(f);
    const std::vector<int16_t> ref = Reference(mp3);
    ASSERT_EQ(ours.size(), ref.size());
    EXPECT_GT(Rms(ref), 500.0);
    EXPECT_EQ(FirstMismatch(ours, ref), -1);
    EXPECT_EQ(f.Decoder().Decoder()->LastError, "");  // a clean file raises no bitstream error
    TFeatures ft = Features(mp3);
    seen.shortBlocks += ft.shortBlocks;
    seen.startStop += ft.startStop;
    seen.msFrames += ft.msFrames;
  }
  // The files must have exercised what they are meant to.
  EXPECT_GT(seen.shortBlocks, 0);
  EXPECT_GT(seen.startStop, 0);
  EXPECT_GT(seen.msFrames, 0);
}

TEST(MpegLayer3, InformationFrameDecodesAsSilenceAndCountsInThePlayTime) {
  if (!HaveReferenceTools()) GTEST_SKIP() << "sox, lame or mpg123 missing";
  TempDir dir;
  const std::string mp3 = Encode(dir, MakeSource(dir, 44100, 2, 1.0), {"-b", "128"}, "t.mp3");
  const std::vector<int16_t> ours = DecodeFile(mp3);
  const std::vector<int16_t> ref = Reference(mp3);
  ASSERT_EQ(ours.size(), ref.size() + 2 * 1152);
  for (size_t i = 0; i < 2 * 1152; ++i) ASSERT_EQ(ours[i], 0) << i;
  const std::vector<int16_t> rest(ours.begin() + 2 * 1152, ours.end());
  EXPECT_EQ(FirstMismatch(rest, ref), -1);
}

TEST(MpegLayer3, SeekPrimesTheReservoirAndOverlap) {
  if (!HaveReferenceTools()) GTEST_SKIP() << "sox, lame or mpg123 missing";
  TempDir dir;
  const std::string mp3 = Encode(dir, MakeSource(dir, 44100, 2, 2.0), {"-t", "-V", "4"}, "t.mp3");
  const std::vector<int16_t> whole = DecodeFile(mp3);
  TMpegAudioFile f(mp3);
  f.GetPcmSize();
  for (int frame : {40, 12, 3, 60}) {
    SCOPED_TRACE(frame);
    const int64_t pos = static_cast<int64_t>(frame) * 1152 * 4;
    f.Seek(pos);
    EXPECT_EQ(f.GetPosition(), pos);
    std::vector<int16_t> got(1152 * 2 * 3);
    int32_t bytes = static_cast<int32_t>(got.size() * 2);
    f.ReadPcm(got.data(), bytes);
    const std::vector<int16_t> want(whole.begin() + pos / 2, whole.begin() + pos / 2 + got.size());
    // The synthesis filter starts empty after a seek: its 512-sample history
    // settles within the first frame; from then on the output is the same.
    EXPECT_EQ(FirstMismatch(got, want, 2 * 1152), -1);
    EXPECT_GT(Rms(std::vector<int16_t>(got.begin() + 2 * 1152, got.end())), 100.0);
  }
}

TEST(MpegLayer3, CutFileAndDamagedFramesPlayAsSilenceWithoutFailing) {
  if (!HaveReferenceTools()) GTEST_SKIP() << "sox, lame or mpg123 missing";
  TempDir dir;
  const std::string mp3 = Encode(dir, MakeSource(dir, 44100, 2, 1.5), {"-t", "-b", "128"}, "t.mp3");
  std::vector<uint8_t> bytes = ReadBytes(mp3);
  // Find a frame whose main data starts in an earlier frame and cut the file
  // there: that first frame has nothing to decode from.
  TFrameLoader index(mp3);
  index.ScanAll();
  int cut = -1;
  for (int n = 5; n < index.Frames(); ++n) {
    const uint32_t off = index.FrameOffset(n);
    const int mdb = bytes[off + 4] << 1 | bytes[off + 5] >> 7;  // no CRC: side info follows the header
    if (mdb > 0) {
      cut = n;
      break;
    }
  }
  ASSERT_GE(cut, 0) << "lame wrote no frame borrowing from the reservoir";
  const std::string cutFile = dir.file("cut.mp3");
  WriteBytes(cutFile, std::vector<uint8_t>(bytes.begin() + index.FrameOffset(cut), bytes.end()));
  {
    TMpegAudioFile f(cutFile);
    const std::vector<int16_t> pcm = DecodeAll(f);
    ASSERT_GE(pcm.size(), 4u * 1152);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + 2 * 1152, [](int16_t v) { return v == 0; }));
    EXPECT_GT(Rms(pcm), 300.0);
  }

  // Damaged main data: scribbled bytes give errors on the way, never a
  // crash, and the output keeps its length.
  std::vector<uint8_t> damaged = bytes;
  uint32_t seed = 12345;
  for (int n = 10; n < index.Frames(); n += 7) {
    const uint32_t off = index.FrameOffset(n) + 40;
    for (int k = 0; k < 24; ++k) {
      seed = seed * 1103515245u + 12345u;
      damaged[off + k] = static_cast<uint8_t>(seed >> 16);
    }
  }
  const std::string bad = dir.file("bad.mp3");
  WriteBytes(bad, damaged);
  TMpegAudioFile f(bad);
  const std::vector<int16_t> pcm = DecodeAll(f);
  EXPECT_EQ(static_cast<int64_t>(pcm.size()) * 2, f.GetPcmSize());
  EXPECT_GT(Rms(pcm), 300.0);
}

TEST(MpegLayer3, DecoderRefusesFilesOfAnotherLayer) {
  TempDir dir;
  // Ten Layer II frames (MPEG-1, 128 kbit/s, 44.1 kHz: 417 bytes each).
  std::vector<uint8_t> l2;
  for (int i = 0; i < 10; ++i) {
    const uint8_t h[4] = {0xFF, 0xFD, 0x90, 0x00};
    l2.insert(l2.end(), h, h + 4);
    l2.resize(l2.size() + 413, 0);
  }
  WriteBytes(dir.file("l2.mp2"), l2);
  TFrameLoader loader(dir.file("l2.mp2"));
  TL3Dec dec(loader);
  EXPECT_FALSE(dec.InitDecoder(0, 24000, 0));
  EXPECT_EQ(dec.LastError, "Try to decode Another layer than Layer 3");
}

TEST(MpegLayer3, FramesOfAnotherVersionThanTheFirstAreNotDecoded) {
  if (!HaveReferenceTools()) GTEST_SKIP() << "sox, lame or mpg123 missing";
  TempDir dir;
  // MPEG-2 frames (one granule) followed by MPEG-1 frames (two granules):
  // the output was sized for the first kind.
  const std::string low =
      Encode(dir, MakeSource(dir, 22050, 2, 0.5), {"-t", "--resample", "22.05", "-b", "64"}, "a.mp3");
  const std::string high =
      Encode(dir, MakeSource(dir, 44100, 2, 0.5), {"-t", "--resample", "44.1", "-b", "128"}, "b.mp3");
  std::vector<uint8_t> joined = ReadBytes(low);
  const std::vector<uint8_t> tail = ReadBytes(high);
  joined.insert(joined.end(), tail.begin(), tail.end());
  WriteBytes(dir.file("joined.mp3"), joined);
  TFrameLoader loader(dir.file("joined.mp3"));
  TL3Dec dec(loader);
  ASSERT_TRUE(dec.InitDecoder(0, 24000, 0));
  ASSERT_EQ(dec.OutputBytes, 576u * 2 * 2);
  int silentMpeg1 = 0, mpeg1Frames = 0;
  do {
    std::vector<int16_t> out(dec.OutputBytes / 2, 0);  // exactly one frame: a sanitizer sees any overrun
    dec.DecodeFrame(out.data());
    if (loader.CurrentHeader.Mpeg1()) {
      ++mpeg1Frames;
      if (std::all_of(out.begin(), out.end(), [](int16_t v) { return v == 0; })) ++silentMpeg1;
    }
  } while (loader.NextFrame());
  EXPECT_GT(mpeg1Frames, 5);
  EXPECT_EQ(silentMpeg1, mpeg1Frames);
}
