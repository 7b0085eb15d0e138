// Layers I and II decoded by our reader and by mpg123, a decoder we did not
// write, compared sample by sample. Layer II files come from ffmpeg's two
// encoders; Layer I (which no common encoder writes) and Layer II joint stereo
// with every bound are built here from random allocations, scale factors and
// samples, so every allocation table, bound and quantiser gets exercised.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "audio/mpeg/U_MpegAudio.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

// ------------------------------------------------------------ frame building

class TBitWriter {
public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (bits_ % 8));
      ++bits_;
    }
  }
  size_t Bits() const { return bits_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

private:
  std::vector<uint8_t> bytes_;
  size_t bits_ = 0;
};

// CRC-16 of ISO/IEC 11172-3 (polynomial 0x8005, most significant bit first),
// continued over `bits` bits of data.
uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t bits) {
  for (size_t i = 0; i < bits; ++i) {
    const unsigned bit = (data[i / 8] >> (7 - i % 8)) & 1u;
    const unsigned top = (crc >> 15) & 1u;
    crc = static_cast<uint16_t>(crc << 1);
    if (top ^ bit) crc ^= 0x8005;
  }
  return crc;
}

struct TFrameSpec {
  int layer = 1;  // 1 or 2
  bool mpeg1 = true;
  int rateIndex = 0;
  int bitRateIndex = 14;
  int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int modeExt = 0;
  bool crc = false;
  int padding = 0;
};

const uint32_t kRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
// kbit/s by [layer - 1][mpeg1][index]
const int kKbps[2][2][15] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},
    {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}},
};

uint32_t RateOf(const TFrameSpec& f) { return kRates[f.mpeg1][f.rateIndex]; }
int KbpsOf(const TFrameSpec& f) { return kKbps[f.layer - 1][f.mpeg1][f.bitRateIndex]; }
int ChannelsOf(const TFrameSpec& f) { return f.mode == 3 ? 1 : 2; }

uint32_t FrameBytesOf(const TFrameSpec& f) {
  const uint32_t bps = static_cast<uint32_t>(KbpsOf(f)) * 1000;
  if (f.layer == 1) return (12 * bps / RateOf(f) + f.padding) * 4;
  return 144 * bps / RateOf(f) + f.padding;
}

uint32_t HeaderWordOf(const TFrameSpec& f) {
  return 0xFFE00000u | 1u << 20 | (f.mpeg1 ? 1u : 0u) << 19 | static_cast<uint32_t>(4 - f.layer) << 17 |
         (f.crc ? 0u : 1u) << 16 | static_cast<uint32_t>(f.bitRateIndex) << 12 |
         static_cast<uint32_t>(f.rateIndex) << 10 | static_cast<uint32_t>(f.padding) << 9 |
         static_cast<uint32_t>(f.mode) << 6 | static_cast<uint32_t>(f.modeExt) << 4;
}

// Header, CRC word when protected, then the payload (padded with zero
// ancillary bits to the frame's length). The CRC covers the last two header
// bytes and the first `protectedBits` bits of the payload.
std::vector<uint8_t> AssembleFrame(const TFrameSpec& f, TBitWriter& payload, size_t protectedBits) {
  const uint32_t word = HeaderWordOf(f);
  std::vector<uint8_t> frame = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                                static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
  std::vector<uint8_t>& body = payload.Bytes();
  const size_t bodyBytes = FrameBytesOf(f) - 4 - (f.crc ? 2 : 0);
  EXPECT_LE(body.size(), bodyBytes) << "the generator overfilled a frame";
  body.resize(bodyBytes, 0);
  if (f.crc) {
    uint16_t crc = Crc16(0xFFFF, frame.data() + 2, 16);
    crc = Crc16(crc, body.data(), protectedBits);
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc));
  }
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

int Uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// How the random content of a generated frame is drawn.
struct TContent {
  int maxAlloc = 14;  // Layer I; Layer II draws from its table's whole range
  int minScf = 0;
  int maxScf = 62;
  // Every sample at the top (+1) or bottom (-1) code of its quantiser; 0 draws them at random.
  int extreme = 0;
};

// One Layer I frame: allocations below the bound per channel and one shared
// above it, scale factors per channel, 12 rounds of samples.
std::vector<uint8_t> LayerIFrame(const TFrameSpec& f, std::mt19937& rng, const TContent& c = {}) {
  const int nch = ChannelsOf(f);
  const int bound = nch == 1 ? 0 : f.mode == 1 ? 4 * (f.modeExt + 1) : 32;
  int alloc[2][32] = {};
  for (int sb = 0; sb < 32; ++sb) {
    alloc[0][sb] = Uniform(rng, 0, c.maxAlloc);
    alloc[1][sb] = sb < bound ? Uniform(rng, 0, c.maxAlloc) : alloc[0][sb];
  }
  auto cost = [&] {
    size_t bits = 4 * (static_cast<size_t>(nch) * bound + (32 - bound));
    for (int sb = 0; sb < 32; ++sb) {
      for (int ch = 0; ch < nch; ++ch) {
        if (alloc[ch][sb] == 0) continue;
        bits += 6;
        if (sb < bound || ch == 0) bits += 12 * static_cast<size_t>(alloc[ch][sb] + 1);
      }
    }
    return bits;
  };
  const size_t budget = (FrameBytesOf(f) - 4 - (f.crc ? 2 : 0)) * 8;
  while (cost() > budget) {
    const int sb = Uniform(rng, 0, 31), ch = sb < bound ? Uniform(rng, 0, nch - 1) : 0;
    if (alloc[ch][sb] == 0) continue;
    --alloc[ch][sb];
    if (sb >= bound) alloc[1][sb] = alloc[0][sb];
  }
  TBitWriter w;
  for (int sb = 0; sb < 32; ++sb) {
    if (sb < bound)
      for (int ch = 0; ch < nch; ++ch) w.Put(static_cast<uint32_t>(alloc[ch][sb]), 4);
    else
      w.Put(static_cast<uint32_t>(alloc[0][sb]), 4);
  }
  const size_t protectedBits = w.Bits();
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb] != 0) w.Put(static_cast<uint32_t>(Uniform(rng, c.minScf, c.maxScf)), 6);
  auto sample = [&](int a) {
    const int top = (2 << a) - 2;  // the all-ones code is not allowed
    const int code = c.extreme > 0 ? top : c.extreme < 0 ? 0 : Uniform(rng, 0, top);
    w.Put(static_cast<uint32_t>(code), a + 1);
  };
  for (int s = 0; s < 12; ++s) {
    for (int sb = 0; sb < 32; ++sb) {
      if (sb < bound) {
        for (int ch = 0; ch < nch; ++ch)
          if (alloc[ch][sb] != 0) sample(alloc[ch][sb]);
      } else if (alloc[0][sb] != 0) {
        sample(alloc[0][sb]);
      }
    }
  }
  return AssembleFrame(f, w, protectedBits);
}

// Layer II allocation tables (ISO/IEC 11172-3 B.2a-d, ISO/IEC 13818-3 B.1):
// subband count and, per subband, the allocation field width and the number
// of quantisation steps of each allocation value.
struct TL2Table {
  int sblimit;
  int nbal[32];
  const int* steps[32];
};

const int kStepsA0[16] = {0, 3, 7, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};
const int kStepsA1[16] = {0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 65535};
const int kStepsA2[8] = {0, 3, 5, 7, 9, 15, 31, 65535};
const int kStepsA3[4] = {0, 3, 5, 65535};
const int kStepsC0[16] = {0, 3, 5, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767};
const int kStepsC1[8] = {0, 3, 5, 9, 15, 31, 63, 127};
const int kStepsL0[16] = {0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383};
const int kStepsL1[8] = {0, 3, 5, 9, 15, 31, 63, 127};
const int kStepsL2[4] = {0, 3, 5, 9};

TL2Table MakeTable(int which) {
  TL2Table t{};
  const int limits[5] = {27, 30, 8, 12, 30};
  t.sblimit = limits[which];
  for (int sb = 0; sb < t.sblimit; ++sb) {
    if (which <= 1) {
      if (sb < 3)
        t.nbal[sb] = 4, t.steps[sb] = kStepsA0;
      else if (sb < 11)
        t.nbal[sb] = 4, t.steps[sb] = kStepsA1;
      else if (sb < 23)
        t.nbal[sb] = 3, t.steps[sb] = kStepsA2;
      else
        t.nbal[sb] = 2, t.steps[sb] = kStepsA3;
    } else if (which <= 3) {
      if (sb < 2)
        t.nbal[sb] = 4, t.steps[sb] = kStepsC0;
      else
        t.nbal[sb] = 3, t.steps[sb] = kStepsC1;
    } else {
      if (sb < 4)
        t.nbal[sb] = 4, t.steps[sb] = kStepsL0;
      else if (sb < 11)
        t.nbal[sb] = 3, t.steps[sb] = kStepsL1;
      else
        t.nbal[sb] = 2, t.steps[sb] = kStepsL2;
    }
  }
  return t;
}

// Which table a frame uses (0-3 for a-d, 4 for the low sampling
// frequencies), by the standard's table of sampling rate and bit rate per
// channel.
int TableOf(const TFrameSpec& f) {
  if (!f.mpeg1) return 4;
  const int perChannel = KbpsOf(f) / ChannelsOf(f);
  const uint32_t rate = RateOf(f);
  if (perChannel <= 48) return rate == 32000 ? 3 : 2;
  if (perChannel <= 80 || rate == 48000) return 0;
  return 1;
}

int GroupBits(int steps) { return steps == 3 ? 5 : steps == 5 ? 7 : steps == 9 ? 10 : 0; }

int CodeBits(int steps) {
  int bits = 0;
  while ((1 << bits) < steps + 1) ++bits;
  return bits;
}

std::vector<uint8_t> LayerIIFrame(const TFrameSpec& f, std::mt19937& rng, const TContent& c = {}) {
  const int nch = ChannelsOf(f);
  const TL2Table t = MakeTable(TableOf(f));
  const int bound = nch == 1 ? 0 : f.mode == 1 ? std::min(4 * (f.modeExt + 1), t.sblimit) : t.sblimit;
  int alloc[2][32] = {}, scfsi[2][32] = {};
  for (int sb = 0; sb < t.sblimit; ++sb) {
    const int top = (1 << t.nbal[sb]) - 1;
    alloc[0][sb] = Uniform(rng, 0, top);
    alloc[1][sb] = sb < bound ? Uniform(rng, 0, top) : alloc[0][sb];
    scfsi[0][sb] = Uniform(rng, 0, 3);
    scfsi[1][sb] = Uniform(rng, 0, 3);
  }
  auto sampleBits = [&](int sb, int ch) {
    const int steps = t.steps[sb][alloc[ch][sb]];
    return static_cast<size_t>(GroupBits(steps) != 0 ? GroupBits(steps) : 3 * CodeBits(steps));
  };
  auto cost = [&] {
    size_t bits = 0;
    for (int sb = 0; sb < t.sblimit; ++sb) {
      bits += static_cast<size_t>(t.nbal[sb]) * (sb < bound ? nch : 1);
      for (int ch = 0; ch < nch; ++ch) {
        if (alloc[ch][sb] == 0) continue;
        bits += 2 + (scfsi[ch][sb] == 0 ? 18 : scfsi[ch][sb] == 2 ? 6 : 12);
        if (sb < bound || ch == 0) bits += 12 * sampleBits(sb, ch);
      }
    }
    return bits;
  };
  const size_t budget = (FrameBytesOf(f) - 4 - (f.crc ? 2 : 0)) * 8;
  while (cost() > budget) {
    const int sb = Uniform(rng, 0, t.sblimit - 1), ch = sb < bound ? Uniform(rng, 0, nch - 1) : 0;
    if (alloc[ch][sb] == 0) continue;
    --alloc[ch][sb];
    if (sb >= bound) alloc[1][sb] = alloc[0][sb];
  }
  TBitWriter w;
  for (int sb = 0; sb < t.sblimit; ++sb) {
    if (sb < bound)
      for (int ch = 0; ch < nch; ++ch) w.Put(static_cast<uint32_t>(alloc[ch][sb]), t.nbal[sb]);
    else
      w.Put(static_cast<uint32_t>(alloc[0][sb]), t.nbal[sb]);
  }
  for (int sb = 0; sb < t.sblimit; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb] != 0) w.Put(static_cast<uint32_t>(scfsi[ch][sb]), 2);
  const size_t protectedBits = w.Bits();
  for (int sb = 0; sb < t.sblimit; ++sb) {
    for (int ch = 0; ch < nch; ++ch) {
      if (alloc[ch][sb] == 0) continue;
      const int count = scfsi[ch][sb] == 0 ? 3 : scfsi[ch][sb] == 2 ? 1 : 2;
      for (int k = 0; k < count; ++k) w.Put(static_cast<uint32_t>(Uniform(rng, c.minScf, c.maxScf)), 6);
    }
  }
  auto samples = [&](int steps) {
    auto one = [&] { return c.extreme > 0 ? steps - 1 : c.extreme < 0 ? 0 : Uniform(rng, 0, steps - 1); };
    if (GroupBits(steps) != 0) {
      const int code = one() + steps * (one() + steps * one());
      w.Put(static_cast<uint32_t>(code), GroupBits(steps));
    } else {
      for (int k = 0; k < 3; ++k) w.Put(static_cast<uint32_t>(one()), CodeBits(steps));
    }
  };
  for (int gr = 0; gr < 12; ++gr) {
    for (int sb = 0; sb < t.sblimit; ++sb) {
      if (sb < bound) {
        for (int ch = 0; ch < nch; ++ch)
          if (alloc[ch][sb] != 0) samples(t.steps[sb][alloc[ch][sb]]);
      } else if (alloc[0][sb] != 0) {
        samples(t.steps[sb][alloc[0][sb]]);
      }
    }
  }
  return AssembleFrame(f, w, protectedBits);
}

// The frame description a header word carries (the inverse of HeaderWordOf).
TFrameSpec SpecOf(const uint8_t* header) {
  const uint32_t w = static_cast<uint32_t>(header[0]) << 24 | static_cast<uint32_t>(header[1]) << 16 |
                     static_cast<uint32_t>(header[2]) << 8 | header[3];
  TFrameSpec f;
  f.layer = 4 - static_cast<int>((w >> 17) & 3);
  f.mpeg1 = (w >> 19) & 1;
  f.crc = ((w >> 16) & 1) == 0;
  f.bitRateIndex = static_cast<int>((w >> 12) & 15);
  f.rateIndex = static_cast<int>((w >> 10) & 3);
  f.padding = static_cast<int>((w >> 9) & 1);
  f.mode = static_cast<int>((w >> 6) & 3);
  f.modeExt = static_cast<int>((w >> 4) & 3);
  return f;
}

// The CRC a Layer II frame should carry by the rules AssembleFrame follows:
// the allocations and scale-factor selection are walked to find how many bits
// it covers.
uint16_t ExpectedLayerIICrc(const uint8_t* frame) {
  const TFrameSpec f = SpecOf(frame);
  const TL2Table t = MakeTable(TableOf(f));
  const int nch = ChannelsOf(f);
  const int bound = nch == 1 ? 0 : f.mode == 1 ? std::min(4 * (f.modeExt + 1), t.sblimit) : t.sblimit;
  const uint8_t* body = frame + 6;
  size_t pos = 0;
  auto get = [&](int bits) {
    uint32_t v = 0;
    for (int i = 0; i < bits; ++i, ++pos) v = v << 1 | ((body[pos / 8] >> (7 - pos % 8)) & 1u);
    return v;
  };
  int alloc[2][32] = {};
  for (int sb = 0; sb < t.sblimit; ++sb) {
    for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) alloc[ch][sb] = static_cast<int>(get(t.nbal[sb]));
    if (sb >= bound) alloc[1][sb] = alloc[0][sb];
  }
  for (int sb = 0; sb < t.sblimit; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb] != 0) get(2);
  return Crc16(Crc16(0xFFFF, frame + 2, 16), body, pos);
}

// ------------------------------------------------------------------ decoding

std::vector<int16_t> Samples16(const std::string& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  return s;
}

// mpg123's 16-bit output at the file's own rate and channels, every frame
// (no gapless trimming: these files carry no encoder delay information).
std::vector<int16_t> DecodeWithMpg123(const std::string& path) {
  CommandResult r = RunCommand({"mpg123", "-q", "--no-gapless", "-e", "s16", "-s", path});
  EXPECT_EQ(r.status, 0) << r.err;
  return Samples16(r.out);
}

struct TOurs {
  uint32_t rate = 0;
  uint32_t channels = 0;
  std::vector<int16_t> pcm;
};

// Our reader's whole output, taken in pieces that end inside frames.
TOurs DecodeWithOurs(const std::string& path) {
  TOurs o;
  TMpegAudioFile f(path);
  o.rate = f.GetSampleRate();
  o.channels = f.GetChannels();
  const int64_t total = f.GetPcmSize();
  std::string bytes(static_cast<size_t>(total), '\0');
  int64_t done = 0;
  while (done < total) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(1002, total - done));
    f.ReadPcm(bytes.data() + done, n);
    done += n;
  }
  o.pcm = Samples16(bytes);
  return o;
}

// Our Layer I/II scale factors put full scale at 30000 where mpg123 (and the
// standard) put it at 32768, so its samples are scaled by 30000/32768 first.
// Both decoders round to whole steps: mpg123's rounding (half a step, 0.46
// once scaled) and ours (half a step) together stay below 1 while the two
// floating-point computations agree to within a few hundredths, so a
// difference of 2 or more is a decoding fault. Where mpg123 clipped, the true
// value is unknown and the sample is not compared.
void ExpectMatchesMpg123(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref, size_t expectedSamples,
                         const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(ref.size(), expectedSamples) << "mpg123 added or dropped samples";
  ASSERT_EQ(ours.size(), expectedSamples) << "we added or dropped samples";
  size_t compared = 0, bad = 0, firstBad = 0;
  int worst = 0, peak = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    if (ref[i] >= 32767 || ref[i] <= -32768) continue;
    ++compared;
    const long expected = std::lround(ref[i] * (30000.0 / 32768.0));
    const int diff = static_cast<int>(std::labs(ours[i] - expected));
    peak = std::max(peak, std::abs(static_cast<int>(ref[i])));
    if (diff > 1 && bad++ == 0) firstBad = i;
    worst = std::max(worst, diff);
  }
  EXPECT_EQ(bad, 0u) << "worst difference " << worst << ", first at sample " << firstBad << ": ours " << ours[firstBad]
                     << ", mpg123 " << ref[firstBad];
  EXPECT_GE(compared * 4, ref.size() * 3) << "too much of the reference is clipped to compare";
  EXPECT_GT(peak, 1000) << "the test signal is too quiet to show anything";
}

std::string WriteFrames(const TempDir& dir, const std::string& name, const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<uint8_t> all;
  for (const auto& f : frames) all.insert(all.end(), f.begin(), f.end());
  const std::string path = dir.file(name);
  WriteBytes(path, all);
  return path;
}

std::string Describe(const TFrameSpec& f) {
  std::ostringstream s;
  s << "Layer " << f.layer << (f.mpeg1 ? " MPEG-1 " : " MPEG-2 ") << RateOf(f) << " Hz " << KbpsOf(f) << " kbit/s mode "
    << f.mode << (f.crc ? " with CRC" : "");
  return s.str();
}

bool HaveReferenceTools(bool needFfmpeg) { return HaveTool("mpg123") && (!needFfmpeg || HaveTool("ffmpeg")); }

// One kind of random frames: version, rate and bit-rate indices, channel
// mode, CRC.
struct TRandomCase {
  bool mpeg1;
  int rateIndex;
  int bitRateIndex;
  int mode;
  bool crc;
};

// Random frames of one kind: joint stereo walks through its four bounds,
// padding comes and goes where the rate needs it, and levels are mostly
// moderate, so little of mpg123's output is clipped and lost to the
// comparison; every fourth frame uses the whole range.
std::vector<std::vector<uint8_t>> RandomFrames(TFrameSpec f, int count, std::mt19937& rng) {
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < count; ++i) {
    f.modeExt = f.mode == 1 ? i % 4 : 0;
    f.padding = RateOf(f) % 1000 != 0 && i % 3 == 1;
    TContent content;
    content.minScf = i % 4 == 0 ? 0 : 8;
    frames.push_back(f.layer == 1 ? LayerIFrame(f, rng, content) : LayerIIFrame(f, rng, content));
  }
  return frames;
}

}  // namespace

// ------------------------------------------------------------------- Layer II

// Files from ffmpeg's own mp2 encoder (stereo and mono) and from libtwolame
// (joint stereo, dual channel, CRC) at every sampling rate, with bit rates
// chosen so each allocation table is used: per channel ≥ 96 kbit/s at 44.1 or
// 32 kHz is table b, 56-80 (or any ≥ 56 at 48 kHz) table a, ≤ 48 table c, or
// table d at 32 kHz; the low rates have their own table.
TEST(MpegLayer2, EncodedFilesDecodeLikeMpg123) {
  if (!HaveReferenceTools(true)) GTEST_SKIP() << "mpg123 or ffmpeg not installed";
  struct TCase {
    const char* encoder;
    int rate;
    int channels;
    const char* bitRate;
    std::vector<std::string> options;
  };
  const std::vector<TCase> cases = {
      {"mp2", 44100, 2, "192k", {}},  // b
      {"mp2", 44100, 2, "128k", {}},  // a
      {"mp2", 44100, 2, "64k", {}},   // c
      {"mp2", 44100, 1, "384k", {}},  // b, the highest rate
      {"mp2", 48000, 2, "384k", {}},  // a
      {"mp2", 48000, 1, "48k", {}},   // c
      {"mp2", 32000, 2, "64k", {}},   // d
      {"mp2", 32000, 1, "32k", {}},   // d, the lowest rate
      {"mp2", 32000, 1, "160k", {}},  // b
      {"mp2", 22050, 1, "64k", {}},   // low rates
      {"mp2", 24000, 2, "96k", {}},   // low rates
      {"mp2", 16000, 2, "32k", {}},   // low rates
      {"mp2", 16000, 1, "8k", {}},    // low rates, the lowest rate
      {"libtwolame", 44100, 2, "96k", {"-mode", "joint_stereo"}},
      {"libtwolame", 48000, 2, "128k", {"-mode", "dual_channel", "-error_protection", "1"}},
      {"libtwolame", 32000, 2, "112k", {"-mode", "stereo", "-error_protection", "1"}},
      {"libtwolame", 22050, 2, "64k", {"-mode", "joint_stereo", "-error_protection", "1"}},
  };
  TempDir dir;
  int n = 0;
  for (const TCase& c : cases) {
    const std::string rate = std::to_string(c.rate);
    const std::string what =
        std::string(c.encoder) + " " + rate + " Hz " + std::to_string(c.channels) + " ch " + c.bitRate;
    const std::string path = dir.file("t" + std::to_string(n++) + ".mp2");
    // A tone on the left, noise on the right, so the channels differ and
    // every subband carries something.
    std::vector<std::string> argv = {"ffmpeg",
                                     "-v",
                                     "error",
                                     "-y",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "sine=frequency=440:duration=0.3:sample_rate=" + rate,
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "anoisesrc=d=0.3:a=0.3:seed=7:r=" + rate,
                                     "-filter_complex",
                                     "[0][1]amerge=inputs=2,pan=stereo|c0=c0|c1=0.5*c0+c1",
                                     "-ac",
                                     std::to_string(c.channels),
                                     "-c:a",
                                     c.encoder,
                                     "-b:a",
                                     c.bitRate};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.push_back(path);
    CommandResult r = RunCommand(argv);
    ASSERT_EQ(r.status, 0) << what << ": " << r.err;
    const std::vector<int16_t> ref = DecodeWithMpg123(path);
    const TOurs ours = DecodeWithOurs(path);
    EXPECT_EQ(ours.rate, static_cast<uint32_t>(c.rate)) << what;
    EXPECT_EQ(ours.channels, static_cast<uint32_t>(c.channels)) << what;
    // Whole frames of 1152 samples per channel, as many as the file holds.
    EXPECT_EQ(ref.size() % (1152u * c.channels), 0u) << what;
    EXPECT_GT(ref.size(), 0u) << what;
    if (std::find(c.options.begin(), c.options.end(), "-error_protection") != c.options.end()) {
      // The frames built by the tests below carry CRCs computed the way this
      // independent encoder computes them.
      const std::vector<uint8_t> bytes = ReadBytes(path);
      ASSERT_GT(bytes.size(), 6u);
      ASSERT_TRUE(SpecOf(bytes.data()).crc) << what;
      EXPECT_EQ(ExpectedLayerIICrc(bytes.data()), bytes[4] << 8 | bytes[5]) << what;
    }
    ExpectMatchesMpg123(ours.pcm, ref, ref.size(), what);
  }
}

// Frames built here: joint stereo with every bound (including bounds beyond
// the small tables' subband limit, which then cap it), plain and dual
// channel, mono, CRC, every allocation table and every allocation value a
// subband may carry.
TEST(MpegLayer2, RandomFramesWithEveryTableAndBoundDecodeLikeMpg123) {
  if (!HaveReferenceTools(false)) GTEST_SKIP() << "mpg123 not installed";
  const std::vector<TRandomCase> cases = {
      {true, 0, 8, 1, false},   // 44.1 kHz 128 kbit/s joint: table a
      {true, 0, 12, 1, true},   // 44.1 kHz 256 kbit/s joint: table b
      {true, 0, 4, 1, false},   // 44.1 kHz 64 kbit/s joint: table c, bounds above 8
      {true, 1, 7, 1, true},    // 48 kHz 112 kbit/s joint: table a
      {true, 1, 14, 0, false},  // 48 kHz 384 kbit/s stereo: table a
      {true, 2, 4, 1, false},   // 32 kHz 64 kbit/s joint: table d
      {true, 2, 10, 2, true},   // 32 kHz 192 kbit/s dual channel: table b
      {true, 2, 3, 3, false},   // 32 kHz 56 kbit/s mono: table a
      {true, 2, 1, 3, true},    // 32 kHz 32 kbit/s mono: table d
      {true, 2, 2, 3, false},   // 32 kHz 48 kbit/s mono: still table d
      {true, 0, 9, 0, false},   // 44.1 kHz 160 kbit/s stereo: 80 per channel, still table a
      {true, 1, 2, 3, false},   // 48 kHz 48 kbit/s mono: table c
      {false, 0, 8, 1, false},  // 22.05 kHz joint
      {false, 1, 14, 1, true},  // 24 kHz joint
      {false, 2, 3, 3, false},  // 16 kHz mono
      {false, 2, 10, 0, true},  // 16 kHz stereo
  };
  std::mt19937 rng(2024);
  TempDir dir;
  std::set<int> tables;
  int n = 0;
  for (const TRandomCase& c : cases) {
    TFrameSpec f;
    f.layer = 2;
    f.mpeg1 = c.mpeg1;
    f.rateIndex = c.rateIndex;
    f.bitRateIndex = c.bitRateIndex;
    f.mode = c.mode;
    f.crc = c.crc;
    tables.insert(TableOf(f));
    const std::vector<std::vector<uint8_t>> frames = RandomFrames(f, 12, rng);
    const std::string path = WriteFrames(dir, "r" + std::to_string(n++) + ".mp2", frames);
    const std::vector<int16_t> ref = DecodeWithMpg123(path);
    const TOurs ours = DecodeWithOurs(path);
    EXPECT_EQ(ours.rate, RateOf(f));
    ExpectMatchesMpg123(ours.pcm, ref, frames.size() * 1152 * ChannelsOf(f), Describe(f));
  }
  EXPECT_EQ(tables.size(), 5u) << "not every allocation table was used";
}

// ------------------------------------------------------------------- Layer I

// Random frames in every channel mode (joint stereo with all four bounds,
// changing from frame to frame), with and without CRC, at all six rates.
TEST(MpegLayer1, RandomFramesDecodeLikeMpg123) {
  if (!HaveReferenceTools(false)) GTEST_SKIP() << "mpg123 not installed";
  const std::vector<TRandomCase> cases = {
      {true, 0, 14, 0, false},   // 44.1 kHz 448 kbit/s stereo
      {true, 0, 12, 1, true},    // 44.1 kHz joint, CRC
      {true, 1, 8, 1, false},    // 48 kHz joint
      {true, 2, 6, 3, false},    // 32 kHz mono
      {true, 1, 1, 3, true},     // 48 kHz 32 kbit/s mono, CRC: few bits to spend
      {true, 2, 10, 2, false},   // 32 kHz dual channel
      {false, 0, 14, 1, false},  // 22.05 kHz joint
      {false, 1, 9, 0, true},    // 24 kHz stereo, CRC
      {false, 2, 5, 3, false},   // 16 kHz mono
  };
  std::mt19937 rng(1984);
  TempDir dir;
  int n = 0;
  for (const TRandomCase& c : cases) {
    TFrameSpec f;
    f.layer = 1;
    f.mpeg1 = c.mpeg1;
    f.rateIndex = c.rateIndex;
    f.bitRateIndex = c.bitRateIndex;
    f.mode = c.mode;
    f.crc = c.crc;
    const std::vector<std::vector<uint8_t>> frames = RandomFrames(f, 24, rng);
    const std::string path = WriteFrames(dir, "l" + std::to_string(n++) + ".mp1", frames);
    const std::vector<int16_t> ref = DecodeWithMpg123(path);
    const TOurs ours = DecodeWithOurs(path);
    EXPECT_EQ(ours.rate, RateOf(f));
    EXPECT_EQ(ours.channels, static_cast<uint32_t>(ChannelsOf(f)));
    ExpectMatchesMpg123(ours.pcm, ref, frames.size() * 384 * ChannelsOf(f), Describe(f));
  }
}

// The loudest frames Layer I can carry (largest scale factor, extreme codes,
// a positive and then a negative frame) overflow 16 bits many times over:
// the output must stay pinned at the limits, never wrap to the other sign.
TEST(MpegLayer1, LoudFramesClipInsteadOfWrapping) {
  TFrameSpec f;
  f.layer = 1;
  f.rateIndex = 1;
  f.bitRateIndex = 14;
  f.mode = 3;
  std::mt19937 rng(5);
  TContent loud;
  loud.minScf = loud.maxScf = 0;
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 6; ++i) {
    loud.extreme = i % 2 == 0 ? 1 : -1;
    frames.push_back(LayerIFrame(f, rng, loud));
  }
  TempDir dir;
  const std::string path = WriteFrames(dir, "loud.mp1", frames);
  const TOurs ours = DecodeWithOurs(path);
  ASSERT_EQ(ours.pcm.size(), frames.size() * 384);
  size_t top = 0, bottom = 0;
  for (int16_t s : ours.pcm) {
    top += s == 32767;
    bottom += s == -32768;
  }
  EXPECT_GT(top, 100u);
  EXPECT_GT(bottom, 100u);
  if (!HaveReferenceTools(false)) GTEST_SKIP() << "mpg123 not installed: the sign check against it is skipped";
  // Where mpg123 (whose full scale is higher) clips, ours is beyond 30000 of
  // the same sign: a wrapped value would have the other sign.
  const std::vector<int16_t> ref = DecodeWithMpg123(path);
  ASSERT_EQ(ref.size(), ours.pcm.size());
  size_t checked = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    if (ref[i] == 32767) {
      EXPECT_GE(ours.pcm[i], 29990) << "sample " << i;
      ++checked;
    } else if (ref[i] == -32768) {
      EXPECT_LE(ours.pcm[i], -29990) << "sample " << i;
      ++checked;
    } else {
      EXPECT_LE(std::labs(ours.pcm[i] - std::lround(ref[i] * (30000.0 / 32768.0))), 1) << "sample " << i;
    }
  }
  EXPECT_GT(checked, 200u);
}

// ------------------------------------------------------------- damaged input

// Frames whose bodies are noise or all ones (Layer I allocation 15, which the
// standard forbids, Layer II grouped codes beyond their range and scale factor
// 63), bodies that ask for far more bits than the frame holds, a frame cut off
// by the end of the file, and layers and channel modes changing mid-stream:
// every frame still yields its samples, nothing is read out of bounds, and the
// forbidden Layer I allocation plays as silence.
TEST(MpegLayer12, DamagedFramesDecodeWithoutFault) {
  TempDir dir;
  std::mt19937 rng(77);
  auto header = [](const TFrameSpec& f, uint8_t fill, std::mt19937* noise) {
    std::vector<uint8_t> frame(FrameBytesOf(f), fill);
    const uint32_t w = HeaderWordOf(f);
    for (int i = 0; i < 4; ++i) frame[static_cast<size_t>(i)] = static_cast<uint8_t>(w >> (24 - 8 * i));
    if (noise)
      for (size_t i = 4; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((*noise)() & 0xFE);  // no false syncs
    return frame;
  };
  auto readAll = [](const std::string& path, uint32_t expectedBytes) {
    TMpegAudioFile f(path);
    const int64_t total = f.GetPcmSize();
    EXPECT_EQ(total, expectedBytes);
    std::vector<int16_t> pcm(static_cast<size_t>(total / 2));
    int32_t n = static_cast<int32_t>(total);
    f.ReadPcm(pcm.data(), n);
    EXPECT_EQ(n, total);
    return pcm;
  };

  {  // Layer I noise in every channel mode, then a frame cut in half.
    TFrameSpec f;
    f.layer = 1;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 16; ++i) {
      f.mode = i % 4;
      f.modeExt = i / 4;
      frames.push_back(header(f, 0, &rng));
    }
    std::vector<uint8_t> cut = header(f, 0, &rng);
    cut.resize(cut.size() / 2);
    frames.push_back(cut);
    f.mode = 0;
    frames.insert(frames.begin(), header(f, 0, &rng));  // the first frame fixes two channels
    readAll(WriteFrames(dir, "noise.mp1", frames), 17 * 384 * 2 * 2);
  }
  {  // Layer I bodies of all ones: allocation 15 everywhere.
    TFrameSpec f;
    f.layer = 1;
    f.mode = 3;
    f.rateIndex = 2;
    f.bitRateIndex = 1;
    std::vector<std::vector<uint8_t>> frames(5, header(f, 0xFE, nullptr));
    for (auto& frame : frames) std::fill(frame.begin() + 4, frame.end(), 0xFF);
    frames.push_back(LayerIFrame(f, rng));  // and a sound frame after them
    const std::vector<int16_t> pcm = readAll(WriteFrames(dir, "ones.mp1", frames), 6 * 384 * 2);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.begin() + 5 * 384, [](int16_t s) { return s == 0; }));
    EXPECT_TRUE(std::any_of(pcm.begin() + 5 * 384, pcm.end(), [](int16_t s) { return s != 0; }));
  }
  {  // Layer II at the smallest frame (72 bytes) with bodies of all ones or
     // noise: the allocations ask for thousands of bits more than there are.
    TFrameSpec f;
    f.layer = 2;
    f.mpeg1 = false;
    f.rateIndex = 2;
    f.bitRateIndex = 1;
    f.mode = 1;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 8; ++i) {
      f.modeExt = i % 4;
      std::vector<uint8_t> frame = header(f, 0, i % 2 ? &rng : nullptr);
      if (i % 2 == 0) std::fill(frame.begin() + 4, frame.end(), 0xFF);
      frames.push_back(frame);
    }
    // The frame length of an MPEG-2 frame with an MPEG-1 bit rate and mode:
    // each frame chooses its own allocation table.
    f.mpeg1 = true;
    f.bitRateIndex = 14;
    f.mode = 3;
    frames.push_back(header(f, 0, &rng));
    frames.push_back(LayerIIFrame(f, rng));
    // The first frame fixes 16 kHz stereo: each 36 ms frame at 32 kHz counts
    // as 576 samples at that rate.
    readAll(WriteFrames(dir, "noise.mp2", frames), (8 * 1152 + 2 * 576) * 2 * 2);
  }
  {  // A Layer II decoder meeting Layer I frames, and the other way round.
    TFrameSpec one, two;
    one.layer = 1;
    two.layer = 2;
    two.bitRateIndex = 10;
    std::vector<std::vector<uint8_t>> frames = {LayerIIFrame(two, rng), LayerIFrame(one, rng), LayerIFrame(one, rng),
                                                LayerIIFrame(two, rng)};
    const std::string mixed = WriteFrames(dir, "mixed.mp2", frames);
    TMpegAudioFile probe(mixed);
    readAll(mixed, static_cast<uint32_t>(probe.GetPcmSize()));
    std::rotate(frames.begin(), frames.begin() + 1, frames.end());
    const std::string mixed1 = WriteFrames(dir, "mixed.mp1", frames);
    TMpegAudioFile probe1(mixed1);
    readAll(mixed1, static_cast<uint32_t>(probe1.GetPcmSize()));
  }
}

// ------------------------------------------------------------------- seeking

// A seek lands on the sample asked for: after it, the reader delivers what a
// decoding from the start delivers at that position, once the synthesis
// history (the 15 blocks of 32 samples before the frame sought, which a
// Layer I/II seek starts empty) has passed.
TEST(MpegLayer12, SeekLandsOnTheRequestedSample) {
  struct TCase {
    int layer;
    int rateIndex;
    int mode;
    int frame;   // seek target
    int sample;  // samples into that frame
  };
  const std::vector<TCase> cases = {
      {2, 0, 0, 5, 0}, {2, 0, 0, 7, 600},  {2, 1, 3, 4, 0},  {2, 2, 1, 6, 1000},
      {1, 0, 0, 9, 0}, {1, 0, 3, 12, 200}, {1, 2, 3, 10, 0}, {1, 1, 0, 11, 383},
  };
  std::mt19937 rng(99);
  TempDir dir;
  int n = 0;
  for (const TCase& c : cases) {
    TFrameSpec f;
    f.layer = c.layer;
    f.rateIndex = c.rateIndex;
    f.mode = c.mode;
    f.bitRateIndex = c.layer == 1 ? 12 : 10;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 16; ++i) {
      f.padding = RateOf(f) % 1000 != 0 && i % 3 == 1;
      frames.push_back(c.layer == 1 ? LayerIFrame(f, rng) : LayerIIFrame(f, rng));
    }
    const std::string path = WriteFrames(dir, "s" + std::to_string(n++) + ".mp" + std::to_string(c.layer), frames);
    SCOPED_TRACE(Describe(f) + " seek to frame " + std::to_string(c.frame) + " + " + std::to_string(c.sample));
    const std::vector<int16_t> whole = DecodeWithOurs(path).pcm;
    const int nch = ChannelsOf(f);
    const int spf = c.layer == 1 ? 384 : 1152;
    const int64_t target = (static_cast<int64_t>(c.frame) * spf + c.sample) * nch;  // in samples
    TMpegAudioFile reader(path);
    reader.GetPcmSize();  // a seek reaches only indexed frames; the facade indexes them all first
    reader.Seek(target * 2);
    EXPECT_EQ(reader.GetPosition(), target * 2);
    std::vector<int16_t> rest(static_cast<size_t>(2 * spf * nch));
    int32_t bytes = static_cast<int32_t>(rest.size() * 2);
    reader.ReadPcm(rest.data(), bytes);
    // Each block of 32 output samples draws on the 15 blocks before it, so
    // from the 16th block of the frame sought on the output must be exact.
    const size_t settled = static_cast<size_t>(std::max(0, 15 * 32 - c.sample) * nch);
    size_t mismatches = 0;
    for (size_t i = settled; i < rest.size(); ++i) mismatches += rest[i] != whole[static_cast<size_t>(target) + i];
    EXPECT_EQ(mismatches, 0u);

    // What a seek delivers does not depend on where the reader was: the
    // synthesis starts afresh instead of mixing in the audio played before.
    std::vector<int16_t> skip(static_cast<size_t>(spf * nch));
    int32_t skipBytes = static_cast<int32_t>(skip.size() * 2);
    reader.ReadPcm(skip.data(), skipBytes);
    reader.Seek(target * 2);
    std::vector<int16_t> again(rest.size());
    bytes = static_cast<int32_t>(again.size() * 2);
    reader.ReadPcm(again.data(), bytes);
    EXPECT_EQ(again, rest);
  }
}
