// The format filter and the resampler: pass-through, widening, channel
// conversion, the fixed-point converter against a direct model of its
// arithmetic, and the quality of the result against sox.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "AudioTestUtil.h"
#include "audio/filters/FormatFilter.h"
#include "audio/filters/Resampler.h"
#include "audio/readers/WavFile.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

// A reader over samples held in memory.
class TMemoryReader : public TAbstractAudioFile {
public:
  TMemoryReader(uint32_t rate, uint32_t channels, uint32_t bits, std::string pcm)
      : TAbstractAudioFile("memory"), rate_(rate), channels_(channels), bits_(bits), pcm_(std::move(pcm)) {}
  uint32_t GetChannels() override { return channels_; }
  uint32_t GetSampleRate() override { return rate_; }
  uint32_t GetBitsPerSample() override { return bits_; }
  int64_t GetPcmSize() override { return static_cast<int64_t>(pcm_.size()); }
  int64_t GetPosition() override { return static_cast<int64_t>(pos_); }
  void Seek(int64_t p) override { pos_ = static_cast<size_t>(p); }
  bool ReadPcm(void* buffer, int32_t& count) override {
    size_t n = std::min(static_cast<size_t>(count), pcm_.size() - pos_);
    std::memcpy(buffer, pcm_.data() + pos_, n);
    std::memset(static_cast<uint8_t*>(buffer) + n, 0, static_cast<size_t>(count) - n);
    pos_ += n;
    count = static_cast<int32_t>(n);
    return n > 0;
  }

private:
  uint32_t rate_, channels_, bits_;
  std::string pcm_;
  size_t pos_ = 0;
};

std::vector<int16_t> ReadAll(TAbstractAudioFile& f, size_t maxBytes, int32_t chunk = 3000) {
  std::vector<int16_t> out;
  std::vector<uint8_t> buf(static_cast<size_t>(chunk));
  while (out.size() * 2 < maxBytes) {
    int32_t n = chunk;
    bool more = f.ReadPcm(buf.data(), n);
    for (int32_t i = 0; i + 1 < n; i += 2) out.push_back(static_cast<int16_t>(buf[i] | (buf[i + 1] << 8)));
    if (!more) break;
  }
  return out;
}

std::vector<int16_t> Sine(int n, double freq, double rate, double amp) {
  std::vector<int16_t> s(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    s[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(amp * std::sin(2 * M_PI * freq * i / rate)));
  return s;
}

// The converter written out directly from its definition, over the whole
// signal at once: output k is taken at time reach + k / factor (15-bit fixed
// point), with the reach of zeros before the first sample.
std::vector<int16_t> DirectModel(const std::vector<int16_t>& in, double factor, int outputs) {
  const TResampleFilter& f = SmallResampleFilter();
  const int reach = static_cast<int>(std::max(1.0, 1.0 / factor) * (f.Nmult + 1) / 2.0 + 10);
  std::vector<int64_t> x(static_cast<size_t>(reach), 0);
  for (int16_t v : in) x.push_back(v);
  x.resize(x.size() + 4 * static_cast<size_t>(reach), 0);
  const uint64_t dt = static_cast<uint64_t>(32768.0 / factor + 0.5);
  const uint64_t h = static_cast<uint64_t>(std::min(256 * factor, 256.0) * 128 + 0.5);
  int64_t gain = f.GainScale;
  if (factor < 1) gain = static_cast<int64_t>(gain * factor + 0.5);
  auto round14 = [](int64_t v) {
    int32_t t = static_cast<int32_t>(v);
    if (t & (1 << 13)) t += 1 << 13;
    return t >> 14;
  };
  auto wing = [&](uint64_t i, int phase, int dir) {
    int64_t sum = 0;
    if (factor >= 1) {
      int k = phase >> 7;
      if (dir > 0 && phase == 0) k += 256;
      for (int j = 0; k < f.Wing; k += 256, ++j) sum += round14(int64_t{f.Coefs[k]} * x[i + dir * j]);
    } else {
      uint64_t ho = (static_cast<uint64_t>(phase) * h) >> 15;
      if (dir > 0 && phase == 0) ho += h;
      for (int j = 0; (ho >> 7) < static_cast<uint64_t>(f.Wing); ho += h, ++j)
        sum += round14(int64_t{f.Coefs[ho >> 7]} * x[i + dir * j]);
    }
    return sum;
  };
  std::vector<int16_t> out;
  for (int k = 0; k < outputs; ++k) {
    uint64_t t = (static_cast<uint64_t>(reach) << 15) + static_cast<uint64_t>(k) * dt;
    uint64_t i = t >> 15;
    int p = static_cast<int>(t & 0x7FFF);
    int64_t v = (wing(i, p, -1) + wing(i + 1, (0x8000 - p) & 0x7FFF, 1)) >> 2;
    out.push_back(static_cast<int16_t>(static_cast<uint16_t>((gain * v + 4096) >> 13)));
  }
  return out;
}

double Rms(const std::vector<int16_t>& s, size_t from, size_t to, size_t step = 1, size_t offset = 0) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = from + offset; i < to; i += step, ++n) sum += double(s[i]) * s[i];
  return std::sqrt(sum / n);
}

// Frequency from upward zero crossings, interpolated between samples.
double Frequency(const std::vector<int16_t>& s, size_t from, size_t to, double rate, size_t step = 1) {
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = from + step; i < to; i += step) {
    if (s[i - step] < 0 && s[i] >= 0) {
      double at = (i / step - 1) + double(-s[i - step]) / (s[i] - s[i - step]);
      if (first < 0)
        first = at;
      else
        ++crossings;
      last = at;
    }
  }
  return crossings * rate / (last - first);
}

}  // namespace

TEST(ResampleFilterDesign, TablesOpenWithTheKnownEntriesAndHaveUnityGain) {
  const TResampleFilter& s = SmallResampleFilter();
  const TResampleFilter& l = LargeResampleFilter();
  ASSERT_EQ(s.Wing, 1536);
  ASSERT_EQ(l.Wing, 8192);
  const int32_t small[] = {32767, 32766, 32764, 32760, 32755, 32749, 32741, 32731, 32721, 32708, 32695, 32679};
  const int32_t large[] = {32767, 32766, 32764, 32761, 32756, 32750, 32743, 32734, 32724, 32713, 32700, 32686};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(s.Coefs[static_cast<size_t>(i)], small[i]) << i;
    EXPECT_EQ(l.Coefs[static_cast<size_t>(i)], large[i]) << i;
  }
  for (const auto* f : {&s, &l}) {
    for (size_t i = 0; i + 1 < f->Coefs.size(); ++i) ASSERT_EQ(f->Diffs[i], f->Coefs[i + 1] - f->Coefs[i]);
    EXPECT_TRUE(f->Diffs.back() == 0 || f->Diffs.back() == -1);
    // A sinc's zero crossings of a lowpass below half the rate fall between
    // table points; the sum at whole samples times the gain is unity.
    double dc = f->Coefs[0];
    for (size_t i = 256; i < f->Coefs.size(); i += 256) dc += 2.0 * f->Coefs[i];
    EXPECT_NEAR(dc * f->GainScale / 536870912.0, 1.0, 1e-4);
  }
}

TEST(Resampler, OutputBytesForAndTheReachLimit) {
  TResampler r;
  r.InitChannels(2, 44100.0 / 22050);
  EXPECT_EQ(r.OutputBytesFor(4096), 8184);
  r.InitChannels(2, 0.5);
  EXPECT_EQ(r.OutputBytesFor(4096), 2048);
  r.InitChannels(1, 1.0 / 300);  // the reach no longer fits a block
  int in = 10, out = 10;
  int16_t buf[20] = {};
  try {
    r.ProcessBlock(in, out, buf, buf);
    FAIL();
  } catch (const EError& e) {
    EXPECT_STREQ(e.what(), "IBUFFSIZE (or factor) is too small");
  }
}

TEST(Resampler, StreamedBlocksMatchTheDirectModelUpAndDown) {
  for (double factor : {44100.0 / 22050, 44100.0 / 32000, 44100.0 / 48000, 44100.0 / 96000}) {
    auto in = Sine(30000, 997, 44100 / factor, 20000);
    // Some noise so every tap matters.
    for (size_t i = 0; i < in.size(); ++i)
      in[i] = static_cast<int16_t>(in[i] + static_cast<int>((i * 7919) % 2001) - 1000);
    const int outputs = static_cast<int>(20000 * factor);
    auto want = DirectModel(in, factor, outputs);
    TResampler r;
    r.InitChannels(1, factor);
    std::vector<int16_t> got;
    size_t pos = 0;
    std::vector<int16_t> block(8192);
    while (static_cast<int>(got.size()) < outputs && pos < in.size()) {
      int inFrames = static_cast<int>(std::min<size_t>(1024, in.size() - pos));
      int outFrames = r.OutputBytesFor(2048) / 2;
      r.ProcessBlock(inFrames, outFrames, block.data(), in.data() + pos);
      pos += static_cast<size_t>(inFrames);
      got.insert(got.end(), block.begin(), block.begin() + outFrames);
    }
    ASSERT_GE(static_cast<int>(got.size()), outputs) << factor;
    for (int k = 0; k < outputs; ++k)
      ASSERT_EQ(got[static_cast<size_t>(k)], want[static_cast<size_t>(k)]) << "factor " << factor << " output " << k;
  }
}

TEST(RsmpFilter, PassThroughWideningAndChannelConversion) {
  // 44100 Hz stereo 16-bit: nothing to do, reads go straight through.
  std::string pcm = Samples16({1, -2, 3, -4, 5, -6});
  TMemoryReader same(44100, 2, 16, pcm);
  TRsmpFilter f(&same, 44100, 2);
  EXPECT_EQ(f.Resampler, nullptr);
  EXPECT_EQ(ReadAll(f, 100), (std::vector<int16_t>{1, -2, 3, -4, 5, -6}));

  TMemoryReader eight(44100, 1, 8, std::string("\x00\x80\xFF", 3));
  TRsmpFilter g(&eight, 44100, 2);
  EXPECT_EQ(g.GetPcmSize(), 12);
  EXPECT_EQ(ReadAll(g, 100), (std::vector<int16_t>{-32768, -32768, 0, 0, 32512, 32512}));

  TMemoryReader stereo(44100, 2, 16, Samples16({-3, -3, 32767, 32767, -32768, 1}));
  TRsmpFilter m(&stereo, 44100, 1);
  EXPECT_EQ(m.GetPcmSize(), 6);
  EXPECT_EQ(ReadAll(m, 100), (std::vector<int16_t>{-2, 32766, -16384}));

  TMemoryReader mono(22050, 1, 16, std::string(1001 * 2, '\0'));
  TRsmpFilter r(&mono, 44100, 2);
  EXPECT_NE(r.Resampler, nullptr);
  EXPECT_EQ(r.OutBlockBytes, 8184);
  EXPECT_EQ(r.GetPcmSize(), 2002 * 2 * 2);
  EXPECT_EQ(r.GetSampleRate(), 44100u);
  EXPECT_EQ(r.GetChannels(), 2u);
  mono.Seek(100);
  EXPECT_EQ(r.GetPosition(), 400);
  r.Seek(400);
  EXPECT_EQ(mono.GetPosition(), 100);
}

TEST(RsmpFilter, UnconvertibleSourcesRefuseToReadButKeepTheirFigures) {
  TMemoryReader many(48000, 19, 16, std::string(19 * 200, '\0'));  // more channels than speaker positions
  TRsmpFilter f(&many, 44100, 2);
  EXPECT_EQ(f.Resampler, nullptr);
  uint8_t buf[64];
  int32_t n = 64;
  EXPECT_THROW(f.ReadPcm(buf, n), EError);
  TMemoryReader slow(1, 2, 16, std::string(400, '\0'));  // a header claiming 1 Hz
  TRsmpFilter g(&slow, 44100, 2);
  EXPECT_EQ(g.Resampler, nullptr);  // no giant output block
  EXPECT_THROW(g.ReadPcm(buf, n), EError);
}

TEST(RsmpFilter, MoreThanTwoChannelsMixDownToStereoByItuWeights) {
  // BS.775: L = FL + 0.7071 C + 0.7071 Ls, R = FR + 0.7071 C + 0.7071 Rs,
  // the LFE left out; worked out here in doubles.
  const double c = std::sqrt(0.5);
  auto mix = [&](double front, double centre, double surround) {
    return static_cast<int>(std::clamp(std::lround(front + c * centre + c * surround), -32768L, 32767L));
  };
  // 5.1 in the usual order FL FR FC LFE BL BR.
  std::vector<int16_t> six = {1000,   -2000,  3000,   30000, 400,    -400,    // ordinary
                              32767,  32767,  32767,  32767, 32767,  32767,   // clips high
                              -32768, -32768, -32768, 0,     -32768, -32768,  // clips low
                              0,      0,      0,      32767, 0,      0};      // LFE alone is silent
  TMemoryReader film(44100, 6, 16, Samples16(six));
  TRsmpFilter f(&film, 44100, 2);
  EXPECT_EQ(f.GetPcmSize(), 4 * 4);
  EXPECT_EQ(f.GetChannels(), 2u);
  auto got = ReadAll(f, 100);
  ASSERT_EQ(got.size(), 8u);
  for (size_t k = 0; k < 4; ++k) {
    const int16_t* in = &six[6 * k];
    EXPECT_NEAR(got[2 * k], mix(in[0], in[2], in[4]), 1) << k;
    EXPECT_NEAR(got[2 * k + 1], mix(in[1], in[2], in[5]), 1) << k;
  }
  EXPECT_EQ(got[2], 32767);
  EXPECT_EQ(got[4], -32768);
  EXPECT_EQ(got[6], 0);

  // The reader's own layout decides: 5.1 with side surrounds (FL FR FC LFE SL
  // SR) mixes the same way; quad (FL FR BL BR) has no centre.
  TMemoryReader side(44100, 6, 16, Samples16({1000, -2000, 3000, 30000, 400, -400}));
  side.ChannelMask = 0x60F;
  TRsmpFilter g(&side, 44100, 2);
  auto sideMix = ReadAll(g, 100);
  EXPECT_EQ(sideMix, (std::vector<int16_t>{got[0], got[1]}));
  TMemoryReader quad(44100, 4, 16, Samples16({1000, -2000, 400, -400}));
  TRsmpFilter q(&quad, 44100, 1);  // then on to mono
  EXPECT_EQ(q.GetPcmSize(), 2);
  auto mono = ReadAll(q, 100);
  ASSERT_EQ(mono.size(), 1u);
  EXPECT_NEAR(mono[0], mix(1000, 0, 400) / 2 + mix(-2000, 0, -400) / 2, 1);

  // Mixed, then resampled at two channels: 48 kHz 5.1 comes out at 44.1 kHz
  // stereo, its length scaled by both.
  TMemoryReader long51(48000, 6, 16, std::string(6 * 2 * 4800, '\0'));
  TRsmpFilter r(&long51, 44100, 2);
  ASSERT_NE(r.Resampler, nullptr);
  EXPECT_EQ(r.GetPcmSize(), static_cast<int64_t>(4 * 4800 * (44100.0 / 48000)));
  EXPECT_EQ(ReadAll(r, 1 << 20, 65536).size() * 2, static_cast<size_t>(r.GetPcmSize()));
}

// A reader that, like the MPEG reader, always fills the whole request and
// says false with the request that reaches its end.
class TWholeRequestReader : public TMemoryReader {
public:
  using TMemoryReader::TMemoryReader;
  bool ReadPcm(void* buffer, int32_t& count) override {
    int32_t n = count;
    TMemoryReader::ReadPcm(buffer, n);
    return GetPosition() < GetPcmSize();
  }
};

TEST(RsmpFilter, ResampledSourceDeliversItsWholeLengthWithTheConvertersTail) {
  // 22.05 kHz mono: the last block read comes with the end of the source, and
  // the converter still holds its reach of samples; both must come out, as
  // the converter computes them over the whole signal.
  auto in = Sine(10007, 440, 22050, 20000);
  TWholeRequestReader mono(22050, 1, 16, Samples16(in));
  TRsmpFilter f(&mono, 44100, 2);
  const int64_t size = f.GetPcmSize();
  EXPECT_EQ(size, 2 * 10007 * 2 * 2);
  // Read as decode does: up to the size, stop at a false.
  std::vector<int16_t> got;
  std::vector<uint8_t> buf(65536);
  while (static_cast<int64_t>(got.size()) * 2 < size) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(65536, size - static_cast<int64_t>(got.size()) * 2));
    bool more = f.ReadPcm(buf.data(), n);
    for (int32_t i = 0; i + 1 < n; i += 2) got.push_back(static_cast<int16_t>(buf[i] | (buf[i + 1] << 8)));
    if (!more) break;
  }
  ASSERT_EQ(static_cast<int64_t>(got.size()) * 2, size);
  auto want = DirectModel(in, 2.0, 2 * 10007);
  for (size_t k = 0; k < want.size(); ++k) {
    ASSERT_EQ(got[2 * k], want[k]) << "output " << k;
    ASSERT_EQ(got[2 * k + 1], want[k]) << "output " << k;
  }
  EXPECT_NE(got[got.size() - 40], 0);  // the tail is music, not padding
  // After the end: silence, nothing delivered, false.
  int32_t n = 1000;
  EXPECT_FALSE(f.ReadPcm(buf.data(), n));
  EXPECT_EQ(n, 0);
  // A seek back starts reading again.
  f.Seek(0);
  n = 400;
  EXPECT_TRUE(f.ReadPcm(buf.data(), n));
  EXPECT_EQ(n, 400);
}

TEST(RsmpFilter, ResampledSineMatchesSoxInFrequencyAndLevel) {
  if (!HaveTool("sox")) GTEST_SKIP() << "sox missing";
  TempDir dir;
  for (uint32_t rate : {22050u, 48000u}) {
    const double freq = 1000;
    auto s = Sine(static_cast<int>(rate), freq, rate, 16000);
    std::string in = dir.file("in.wav"), ref = dir.file("ref.wav");
    WriteBytes(in, Bytes(PcmWav(1, rate, 16, Samples16(s))));
    auto r = RunCommand({"sox", in, "-r", "44100", "-c", "2", ref});
    ASSERT_EQ(r.status, 0) << r.err;
    TWavAudioFile sox(ref);
    auto want = ReadAll(sox, static_cast<size_t>(sox.GetPcmSize()));

    TWavAudioFile source(in);
    TRsmpFilter f(&source, 44100, 2);
    auto got = ReadAll(f, static_cast<size_t>(f.GetPcmSize()), 4000);
    ASSERT_GE(got.size(), 2u * 40000);
    const size_t from = 2 * 2000, to = 2 * 40000;
    EXPECT_NEAR(Frequency(got, from, to, 44100, 2), freq, 0.5) << rate;
    EXPECT_NEAR(Frequency(want, from, to, 44100, 2), freq, 0.5) << rate;
    double levelDb = 20 * std::log10(Rms(got, from, to, 2) / Rms(want, from, to, 2));
    EXPECT_NEAR(levelDb, 0.0, 0.1) << rate;
    // Left and right are the same mono signal.
    for (size_t i = from; i < to; i += 2) ASSERT_EQ(got[i], got[i + 1]);
  }
}

TEST(RsmpFilter, EndOfSourceZeroFillsAndThenStops) {
  TMemoryReader mono(22050, 1, 16, Samples16(Sine(500, 440, 22050, 1000)));
  TRsmpFilter f(&mono, 44100, 2);
  std::vector<uint8_t> buf(100000, 0xAA);
  int32_t n = 100000;
  EXPECT_TRUE(f.ReadPcm(buf.data(), n));
  EXPECT_GT(n, 0);
  EXPECT_LE(n, 100000);
  EXPECT_EQ(n % 4, 0);    // whole stereo frames
  EXPECT_GE(n, 4 * 990);  // about twice the 500 source frames
  n = 1000;
  EXPECT_FALSE(f.ReadPcm(buf.data(), n));
  EXPECT_EQ(n, 0);
}
