// Layer III streams built bit by bit (Mp3FrameBuilder.h) for what encoders
// never write: intensity stereo (MPEG-1 and MPEG-2 rules, legal and illegal
// positions, with and without middle/side), mixed blocks, every block type,
// MPEG-2.5 at 8 kHz, CRC-protected frames, main data reaching back through the
// reservoir, and damaged side information. Our decoder's output is compared
// with mpg123's for the same file, sample by sample within 1.
//
// Generated content stays below coded line 400: our decoder never outputs the
// top subband, and for MPEG-2/2.5 it stops long blocks at scale-factor band
// 21 (+8 lines) and short blocks at 3 x short band 12, so content above those
// would differ by design.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>

#include "AudioTestUtil.h"
#include "Mp3FrameBuilder.h"
#include "audio/mpeg/HuffmanTables.h"
#include "audio/mpeg/U_MpegAudio.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

// ---- random content ---------------------------------------------------------

struct TGenOptions {
  int MaxLine = 400;  // coded lines from here up stay zero
  int MaxValue = 40;  // largest quantised magnitude
  int Bands = 4;      // bands that get content
  bool AllowMixed = true;
};

int RandomValue(std::mt19937& rng, int maxValue) {
  const int kind = static_cast<int>(rng() % 20);
  int v = kind < 10   ? 1
          : kind < 15 ? 2 + static_cast<int>(rng() % 2)
          : kind < 18 ? 4 + static_cast<int>(rng() % 12)
                      : 16 + static_cast<int>(rng() % 200);
  v = std::min(v, maxValue);
  return rng() % 2 ? v : -v;
}

int ScalefacIndex(const TL3Stream& s, const TL3Channel& c, const TL3Band& b) {
  if (b.Window < 0) return b.Band < 21 ? b.Band : -1;
  if (b.Band >= 12) return -1;
  const int longCount = c.Mixed ? (s.Mpeg1() ? 8 : 6) : 0;
  const int firstShort = c.Mixed ? 3 : 0;
  return longCount + (b.Band - firstShort) * 3 + b.Window;
}

// Region starts of a channel as the builder codes them.
void RegionStarts(const TL3Stream& s, const TL3Channel& c, int& r1, int& r2) {
  if (c.BlockType == 0) {
    r1 = LongBands(s)[c.Region0Count + 1];
    r2 = LongBands(s)[std::min(c.Region0Count + c.Region1Count + 2, 22)];
  } else {
    r1 = l3detail::SwitchedRegion1(s, c);
    r2 = 576;
  }
}

// Side information and scale factors at random, lines in a few bands.
void RandomChannel(const TL3Stream& s, const TL3Frame& f, TL3Channel& c, int ch, std::mt19937& rng,
                   const TGenOptions& o) {
  c.GlobalGain = 140 + static_cast<int>(rng() % 30);
  c.ScalefacScale = rng() % 2;
  c.Count1TableB = rng() % 2;
  c.Preflag = s.Mpeg1() && rng() % 3 == 0;
  c.ScalefacCompress = static_cast<int>(rng() % (s.Mpeg1() ? 16 : 512));
  for (int& g : c.SubblockGain) g = static_cast<int>(rng() % 3);
  c.Scalefac.clear();
  for (int w : ScalefacWidths(s, ch, f.ModeExtension, c)) c.Scalefac.push_back(static_cast<int>(rng() % (1u << w)));
  std::fill(std::begin(c.Lines), std::end(c.Lines), 0);
  std::vector<TL3Band> bands;
  for (const TL3Band& b : CodedBands(s, c))
    if (b.End <= o.MaxLine) bands.push_back(b);
  for (int k = 0; k < o.Bands; ++k) {
    const TL3Band& b = bands[rng() % bands.size()];
    for (int i = b.Start; i < b.End; ++i)
      if (rng() % 10 < 6) c.Lines[i] = RandomValue(rng, o.MaxValue);
  }
}

// Tables that hold each region's values (called once the lines are final).
void PickTables(const TL3Stream& s, TL3Channel& c, std::mt19937& rng, bool sameTables) {
  if (c.BlockType == 0) {
    c.Region0Count = static_cast<int>(rng() % 16);
    c.Region1Count = static_cast<int>(rng() % 8);
    if (c.Region0Count + c.Region1Count + 2 > 22) c.Region1Count = 20 - c.Region0Count;
  }
  int r1, r2;
  RegionStarts(s, c, r1, r2);
  const int limits[4] = {0, r1, r2, 576};
  int all = 0;
  for (int r = 0; r < 3; ++r) {
    int m = 0;
    for (int i = limits[r]; i < limits[r + 1]; ++i) m = std::max(m, std::abs(c.Lines[i]));
    c.Tables[r] = PickTable(m, rng);
    all = std::max(all, m);
  }
  if (sameTables) c.Tables[0] = c.Tables[1] = c.Tables[2] = PickTable(all, rng);
}

// Block types follow the window sequence rules: normal/stop -> normal/start,
// start -> short, short -> short/stop.
int NextBlockType(int prev, std::mt19937& rng) {
  switch (prev) {
    case 1: return 2;
    case 2: return rng() % 2 ? 2 : 3;
    default: return rng() % 3 == 0 ? 1 : 0;
  }
}

// Intensity stereo on the right channel of a joint-stereo granule: its lines
// stop at a band boundary (per window for short blocks) and the scale factors
// above are intensity positions, some of them the illegal one. The last line
// below the boundary is made non-zero so that every reading of "the last
// non-zero band" agrees.
void MakeIntensity(const TL3Stream& s, TL3Frame& f, int gr, std::mt19937& rng, int illegalOneIn) {
  TL3Channel& c = f.Gr[gr][1];
  const std::vector<TL3Band> bands = CodedBands(s, c);
  std::vector<int> widths = ScalefacWidths(s, 1, f.ModeExtension, c);
  int cut[4] = {0, 0, 0, 0};  // first intensity band: long, then per window
  const bool shortPart = c.BlockType == 2;
  if (!shortPart) {
    cut[0] = static_cast<int>(rng() % 14);
  } else {
    const int first = c.Mixed ? 3 : 0;
    for (int w = 0; w < 3; ++w) cut[1 + w] = first + static_cast<int>(rng() % (11 - first));
    cut[0] = c.Mixed ? 99 : 0;
    // A mixed block whose right channel ends in the long part: intensity
    // from there on through all short windows. (Not in MPEG-2: mpg123 then
    // treats 8 long bands as the long part, which run past line 36.)
    if (c.Mixed && s.Mpeg1() && rng() % 3 == 0) {
      cut[0] = static_cast<int>(rng() % 8);
      cut[1] = cut[2] = cut[3] = 3;
    }
  }
  for (const TL3Band& b : bands) {
    const int first = cut[b.Window + 1];
    if (b.Band < first) {
      if (b.Band == first - 1 && c.Lines[b.End - 1] == 0) c.Lines[b.End - 1] = rng() % 2 ? 1 : -1;
      continue;
    }
    for (int i = b.Start; i < b.End; ++i) c.Lines[i] = 0;
    const int sf = ScalefacIndex(s, c, b);
    if (sf < 0) continue;
    const int w = widths[sf];
    const bool wantIllegal = static_cast<int>(rng() % illegalOneIn) == 0;
    int v;
    if (s.Mpeg1()) {
      // 0-6 are positions, 7 the illegal one.
      const int top = std::min(7, (1 << w) - 1);
      v = wantIllegal && top == 7 ? 7 : static_cast<int>(rng() % std::min(top + 1, 7));
    } else if (w == 0) {
      // A band without position bits: illegal by the 13818-3 rule (ours),
      // position 0 for mpg123. Keep the left channel silent there.
      v = 0;
      for (int i = b.Start; i < b.End; ++i) f.Gr[gr][0].Lines[i] = 0;
    } else {
      // 2^slen - 1 is illegal (ours, the standard); mpg123 calls 7 illegal
      // whatever the width. Use what both read alike.
      const int illegal = (1 << w) - 1;
      if (wantIllegal && illegal == 7) {
        v = 7;
      } else {
        do v = static_cast<int>(rng() % illegal);
        while (v == 7);
      }
    }
    c.Scalefac[sf] = v;
  }
  // MPEG-2 mixed blocks: mpg123 looks the intensity positions of the short
  // part up two places further on (as if 8 long scale factors came first, as
  // in MPEG-1). One value for the whole short part reads the same either way.
  if (!s.Mpeg1() && c.Mixed) {
    int narrowest = 99;
    for (size_t i = 6; i < widths.size(); ++i) narrowest = std::min(narrowest, widths[i]);
    int v = 0;
    if (narrowest > 0) {
      do v = static_cast<int>(rng() % ((1 << narrowest) - 1));
      while (v == 7);
    }
    std::fill(c.Scalefac.begin() + 6, c.Scalefac.end(), v);
  }
}

struct TStreamOptions {
  TGenOptions Gen;
  int Frames = 24;
  int IntensityOneIn = 0;  // 0: no intensity; else one frame in N (1: all)
  int MsOneIn = 0;
  bool Switching = false;  // start/short/stop blocks besides normal ones
  int IllegalOneIn = 4;
  bool SameTables = false;  // one table for all regions
  bool Scfsi = true;
};

// A stream of random frames for the given format.
TL3Stream RandomStream(TL3Version version, int rateIndex, int mode, uint32_t seed, const TStreamOptions& o) {
  std::mt19937 rng(seed);
  TL3Stream s;
  s.Version = version;
  s.RateIndex = rateIndex;
  s.Mode = mode;
  int prevType[2] = {0, 0};
  bool prevMixed[2] = {false, false};
  for (int n = 0; n < o.Frames; ++n) {
    TL3Frame f;
    if (mode == 1) {
      if (o.MsOneIn && rng() % o.MsOneIn == 0) f.ModeExtension |= 2;
      if (o.IntensityOneIn && rng() % o.IntensityOneIn == 0) f.ModeExtension |= 1;
    }
    for (int gr = 0; gr < s.Granules(); ++gr) {
      for (int ch = 0; ch < s.Channels(); ++ch) {
        TL3Channel& c = f.Gr[gr][ch];
        // Joint stereo keeps both channels on one block type; a run of short
        // blocks keeps its mixed flag.
        if (ch == 1 && mode == 1) {
          c.BlockType = f.Gr[gr][0].BlockType;
          c.Mixed = f.Gr[gr][0].Mixed;
        } else {
          c.BlockType = o.Switching ? NextBlockType(prevType[ch], rng) : 0;
          if (c.BlockType == 2)
            c.Mixed = prevType[ch] == 2 ? prevMixed[ch] : o.Gen.AllowMixed && version != kMpeg25 && rng() % 3 == 0;
        }
        prevType[ch] = c.BlockType;
        prevMixed[ch] = c.Mixed;
        RandomChannel(s, f, c, ch, rng, o.Gen);
      }
      if (f.ModeExtension & 1) MakeIntensity(s, f, gr, rng, o.IllegalOneIn);
      for (int ch = 0; ch < s.Channels(); ++ch) {
        TL3Channel& c = f.Gr[gr][ch];
        // MPEG-2 mixed blocks: decoders disagree on where region 1 starts.
        PickTables(s, c, rng, o.SameTables || (!s.Mpeg1() && c.Mixed));
      }
    }
    if (s.Mpeg1() && o.Scfsi)
      for (int ch = 0; ch < s.Channels(); ++ch)
        if (f.Gr[0][ch].BlockType != 2 && f.Gr[1][ch].BlockType != 2) {
          std::vector<int> group;
          ScalefacWidths(s, ch, f.ModeExtension, f.Gr[0][ch], &group);
          for (int g = 0; g < 4; ++g) {
            // Reused right-channel scale factors become intensity positions;
            // keep them within 0-7 (above 7 decoders part ways, see below).
            bool fits = true;
            for (size_t i = 0; i < group.size(); ++i)
              if (group[i] == g && ch == 1 && (f.ModeExtension & 1) && f.Gr[0][1].Scalefac[i] > 7) fits = false;
            f.Scfsi[ch][g] = fits && rng() % 3 == 0;
          }
        }
    s.Frames.push_back(f);
  }
  return s;
}

// ---- decoding ---------------------------------------------------------------

struct TDecoded {
  std::vector<int16_t> Pcm;
  std::string LastError;
  int64_t Damaged = 0;  // the frames the reader counted as damaged
  int Channels = 0;
  int SamplesPerFrame = 0;
};

TDecoded DecodeOurs(const std::string& path) {
  TDecoded d;
  TMpegAudioFile f(path);
  const uint32_t frameBytes = f.Decoder().GetFrameBytes();
  d.Channels = static_cast<int>(f.GetChannels());
  d.SamplesPerFrame = static_cast<int>(frameBytes / 2 / d.Channels);
  std::vector<int16_t> buf(frameBytes / 2);
  for (int guard = 0; guard < 100000; ++guard) {
    int32_t n = static_cast<int32_t>(frameBytes);
    const bool more = f.ReadPcm(buf.data(), n);
    d.Pcm.insert(d.Pcm.end(), buf.begin(), buf.end());
    if (!more) break;
  }
  // The decoder's complaints, as the reader counted them (each frame's own
  // is cleared when the next is decoded).
  for (const std::string& m : f.Messages) d.LastError += m + "\n";
  d.Damaged = f.DamagedBlocks;
  return d;
}

struct TReference {
  std::vector<int16_t> Pcm;
  std::string Complaints;
};

TReference DecodeMpg123(const std::string& path) {
  TReference r;
  CommandResult c = RunCommand({"mpg123", "-q", "-s", "--no-gapless", path});
  r.Complaints = c.err;
  if (c.status != 0) r.Complaints += " (exit status " + std::to_string(c.status) + ")";
  r.Pcm.resize(c.out.size() / 2);
  std::memcpy(r.Pcm.data(), c.out.data(), r.Pcm.size() * 2);
  return r;
}

std::vector<int16_t> DecodeFfmpeg(const std::string& path) {
  CommandResult c = RunCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-acodec", "pcm_s16le", "-"});
  std::vector<int16_t> pcm(c.out.size() / 2);
  std::memcpy(pcm.data(), c.out.data(), pcm.size() * 2);
  return pcm;
}

double Rms(const std::vector<int16_t>& pcm, size_t from = 0, size_t to = SIZE_MAX) {
  to = std::min(to, pcm.size());
  if (to <= from) return 0;
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += double(pcm[i]) * pcm[i];
  return std::sqrt(sum / double(to - from));
}

// Empty when both agree within 1 from sample `from` (interleaved index) on.
std::string Differences(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref, int channels,
                        int samplesPerFrame, size_t from = 0) {
  std::string out;
  if (ours.size() != ref.size())
    out += "lengths differ: ours " + std::to_string(ours.size()) + ", mpg123 " + std::to_string(ref.size()) + "; ";
  const size_t n = std::min(ours.size(), ref.size());
  size_t bad = 0, first = SIZE_MAX;
  int worst = 0;
  std::set<size_t> frames;
  for (size_t i = from; i < n; ++i) {
    const int d = std::abs(int(ours[i]) - int(ref[i]));
    if (d > 1) {
      ++bad;
      worst = std::max(worst, d);
      if (first == SIZE_MAX) first = i;
      frames.insert(i / channels / samplesPerFrame);
    }
  }
  if (bad) {
    out += std::to_string(bad) + " samples differ by more than 1 (worst " + std::to_string(worst) +
           "), first at sample " + std::to_string(first / channels) + " channel " + std::to_string(first % channels) +
           " (ours " + std::to_string(ours[first]) + ", mpg123 " + std::to_string(ref[first]) + "); frames:";
    int listed = 0;
    for (size_t fr : frames)
      if (listed++ < 12) out += " " + std::to_string(fr);
  }
  return out;
}

// Builds the stream, checks mpg123 reads it without complaint and hears
// something, then compares our output with mpg123's.
void CheckAgainstMpg123(const TL3Stream& s, const std::string& what, std::mt19937* layoutRng = nullptr) {
  SCOPED_TRACE(what);
  TempDir dir;
  const std::string path = dir.file("built.mp3");
  const std::string bytes = BuildLayer3(s, layoutRng);
  WriteBytes(path, Bytes(bytes));
  TReference ref = DecodeMpg123(path);
  EXPECT_EQ(ref.Complaints, "") << "mpg123 does not take the built stream";
  const size_t samples = s.Frames.size() * (s.Mpeg1() ? 1152u : 576u) * s.Channels();
  EXPECT_EQ(ref.Pcm.size(), samples);
  EXPECT_GT(Rms(ref.Pcm), 30.0) << "the built stream is (nearly) silent";
  TDecoded ours = DecodeOurs(path);
  EXPECT_EQ(ours.LastError, "");
  std::string diff = Differences(ours.Pcm, ref.Pcm, ours.Channels, ours.SamplesPerFrame);
  // mpg123 1.31 parts from both us and ffmpeg on a few MPEG-1 intensity/
  // middle-side frames, depending only on where the frame's main data sits
  // in the reservoir. There ffmpeg (which reads MPEG-1 intensity as we do)
  // decides; its MPEG-2 intensity rules differ, so MPEG-2 has no second say.
  if (!diff.empty() && s.Mpeg1() && HaveTool("ffmpeg")) {
    const std::vector<int16_t> second = DecodeFfmpeg(path);
    if (Differences(ours.Pcm, second, ours.Channels, ours.SamplesPerFrame).empty())
      diff.clear();
    else
      diff += " (ffmpeg disagrees too)";
  }
  EXPECT_EQ(diff, "");
}

}  // namespace

// ---- the code tables --------------------------------------------------------

// Every pair table and both quadruple tables must be complete prefix codes
// (Kraft sum exactly 1, no code word the start of another), and each table
// must have the size and linbits of ISO/IEC 11172-3 Table 3-B.7.
TEST(Layer3HuffmanTables, EveryTableIsACompletePrefixCodeOfTheRightShape) {
  static const int sizes[32] = {0,  2,  3,  3,  0,  4,  4,  6,  6,  6,  8,  8,  8,  16, 0,  16,
                                16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
  static const int linbits[32] = {0, 0, 0, 0, 0, 0, 0,  0,  0, 0, 0, 0, 0, 0, 0,  0,
                                  1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
  auto check = [](const std::vector<std::pair<uint32_t, int>>& codes, const std::string& name) {
    double kraft = 0;
    for (size_t i = 0; i < codes.size(); ++i) {
      ASSERT_GT(codes[i].second, 0) << name << " value " << i << " has no code";
      ASSERT_LE(codes[i].second, 19) << name;
      ASSERT_LT(codes[i].first, 1u << codes[i].second) << name << " value " << i;
      kraft += std::ldexp(1.0, -codes[i].second);
      for (size_t j = 0; j < codes.size(); ++j) {
        if (i == j || codes[j].second < codes[i].second) continue;
        EXPECT_NE(codes[j].first >> (codes[j].second - codes[i].second), codes[i].first)
            << name << ": code of value " << i << " starts the code of value " << j;
      }
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0) << name;
  };
  for (int t = 0; t < 32; ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    EXPECT_EQ(HuffPairTable(t).Size, sizes[t]);
    EXPECT_EQ(HuffPairTable(t).Linbits, linbits[t]);
    if (!sizes[t]) continue;
    std::vector<std::pair<uint32_t, int>> codes;
    for (int x = 0; x < sizes[t]; ++x)
      for (int y = 0; y < sizes[t]; ++y) {
        uint32_t code;
        int len;
        HuffPairCode(t, x, y, code, len);
        codes.push_back({code, len});
      }
    check(codes, "pair table " + std::to_string(t));
  }
  for (bool b : {false, true}) {
    std::vector<std::pair<uint32_t, int>> codes;
    for (int v = 0; v < 16; ++v) {
      uint32_t code;
      int len;
      HuffQuadCode(b, v >> 3 & 1, v >> 2 & 1, v >> 1 & 1, v & 1, code, len);
      codes.push_back({code, len});
    }
    check(codes, b ? "quad table B" : "quad table A");
  }
}

// The lookup tables give back what the code words say, value for value, and
// take exactly the code's bits, whatever follows it.
TEST(Layer3HuffmanTables, LookupInvertsTheCodeWords) {
  struct TSource {
    TBitWriter w;
    size_t pos = 0;
    uint32_t Peek32() const {  // zeros past the end, as the decoder's reader
      uint32_t v = 0;
      for (size_t p = pos; p < pos + 32; ++p) v = v << 1 | (p < w.Bits() ? (w.Bytes()[p / 8] >> (7 - p % 8)) & 1 : 0);
      return v;
    }
  };
  for (int t = 1; t < 32; ++t) {
    const THuffPairTable& table = HuffPairTable(t);
    if (!table.Size) continue;
    TSource src;
    for (int x = 0; x < table.Size; ++x)
      for (int y = 0; y < table.Size; ++y) {
        uint32_t code;
        int len;
        HuffPairCode(t, x, y, code, len);
        src.w.Put(code, len);
      }
    for (int x = 0; x < table.Size; ++x)
      for (int y = 0; y < table.Size; ++y) {
        uint32_t code;
        int len;
        HuffPairCode(t, x, y, code, len);
        int dx = -1, dy = -1, length = 0;
        ASSERT_TRUE(HuffDecodePairBits(table.TreeId, src.Peek32(), dx, dy, length)) << "table " << t;
        ASSERT_EQ(dx, x) << "table " << t;
        ASSERT_EQ(dy, y) << "table " << t;
        ASSERT_EQ(length, len) << "table " << t;
        src.pos += static_cast<size_t>(length);
      }
  }
  for (bool b : {false, true}) {
    TSource src;
    for (int v = 0; v < 16; ++v) {
      uint32_t code;
      int len;
      HuffQuadCode(b, v >> 3 & 1, v >> 2 & 1, v >> 1 & 1, v & 1, code, len);
      src.w.Put(code, len);
    }
    for (int v = 0; v < 16; ++v) {
      int a, bb, c, d, length = 0;
      ASSERT_TRUE(HuffDecodeQuadBits(b, src.Peek32(), a, bb, c, d, length));
      EXPECT_EQ(a << 3 | bb << 2 | c << 1 | d, v) << (b ? "B" : "A");
      src.pos += static_cast<size_t>(length);
    }
  }
}

// mpg123 reads our code words with its own tables: the same spectrum coded
// with every table that can hold it must decode to the same samples. A value
// coded wrongly in one table shows up as a difference to the others.
TEST(Layer3HuffmanTables, Mpg123HearsTheSameSpectrumThroughEveryTable) {
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not installed";
  TempDir dir;
  for (int maxValue : {1, 2, 3, 5, 7, 15, 40, 8000}) {
    // Every pair of values up to maxValue (capped at 15 for coding, then a
    // few escapes), laid out from line 0 in a long block of a mono stream.
    TL3Stream s;
    s.Version = kMpeg1;
    s.Mode = 3;
    std::vector<std::pair<int, int>> pairs;
    const int span = std::min(maxValue, 15);
    for (int x = 0; x <= span; ++x)
      for (int y = 0; y <= span; ++y) pairs.push_back({x, y});
    if (maxValue > 15) pairs.push_back({maxValue, maxValue / 3}), pairs.push_back({16, maxValue});
    std::vector<std::string> outputs;
    std::vector<int> tablesUsed;
    for (int t = 1; t < 32; ++t) {
      if (TableMax(t) < maxValue || (maxValue > 15 && TableMax(t) < maxValue)) continue;
      TL3Stream st = s;
      st.Frames.clear();
      // 2 frames x 2 granules, 288 pairs per granule at most
      size_t p = 0;
      for (int n = 0; n < 2; ++n) {
        TL3Frame fr;
        for (int gr = 0; gr < 2; ++gr) {
          TL3Channel& c = fr.Gr[gr][0];
          // loud enough to hear the small values, short of clipping the large
          c.GlobalGain = maxValue <= 3 ? 200 : maxValue <= 15 ? 180 : maxValue <= 40 ? 165 : 120;
          c.ScalefacCompress = 0;
          c.Scalefac.assign(21, 0);
          c.Tables[0] = c.Tables[1] = c.Tables[2] = t;
          c.Region0Count = 15, c.Region1Count = 5;
          for (int i = 0; i < 540 && p < pairs.size(); i += 2, ++p) {
            c.Lines[i] = pairs[p].first * (p % 3 == 1 ? -1 : 1);
            c.Lines[i + 1] = pairs[p].second * (p % 5 == 2 ? -1 : 1);
          }
          c.NoCount1 = true;
        }
        st.Frames.push_back(fr);
      }
      // Padding frames so the last coded frame is flushed out of the filter bank.
      st.Frames.push_back(TL3Frame());
      for (auto& g : st.Frames.back().Gr) g[0].Scalefac.assign(21, 0);
      const std::string path = dir.file("t" + std::to_string(t) + ".mp3");
      WriteBytes(path, Bytes(BuildLayer3(st)));
      TReference ref = DecodeMpg123(path);
      EXPECT_EQ(ref.Complaints, "") << "table " << t;
      outputs.push_back(std::string(reinterpret_cast<const char*>(ref.Pcm.data()), ref.Pcm.size() * 2));
      tablesUsed.push_back(t);
      EXPECT_GT(Rms(ref.Pcm), 30.0) << "table " << t;
    }
    ASSERT_GE(outputs.size(), 2u);
    for (size_t i = 1; i < outputs.size(); ++i)
      EXPECT_TRUE(outputs[i] == outputs[0]) << "values up to " << maxValue << ": table " << tablesUsed[i]
                                            << " decodes differently from table " << tablesUsed[0];
  }
}

// ---- built streams against mpg123 -------------------------------------------

TEST(Layer3Built, LongBlocksWithEveryRegionLayoutMatchMpg123) {
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not installed";
  TStreamOptions o;
  o.Gen.Bands = 6;
  std::mt19937 layout(7);
  CheckAgainstMpg123(RandomStream(kMpeg1, 0, 3, 11, o), "MPEG-1 44.1 kHz mono", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg1, 1, 0, 12, o), "MPEG-1 48 kHz stereo", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg1, 0, 2, 14, o), "MPEG-1 dual channel", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg2, 1, 0, 15, o), "MPEG-2 24 kHz stereo", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg25, 0, 0, 16, o), "MPEG-2.5 11.025 kHz stereo", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg25, 1, 3, 17, o), "MPEG-2.5 12 kHz mono", &layout);
  o.MsOneIn = 2;
  CheckAgainstMpg123(RandomStream(kMpeg1, 2, 1, 13, o), "MPEG-1 32 kHz joint stereo, middle/side", &layout);
}

TEST(Layer3Built, BlockSwitchingAndMixedBlocksMatchMpg123) {
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not installed";
  TStreamOptions o;
  o.Switching = true;
  std::mt19937 layout(8);
  CheckAgainstMpg123(RandomStream(kMpeg1, 0, 3, 21, o), "MPEG-1 mono, start/short/stop/mixed", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg1, 1, 0, 22, o), "MPEG-1 stereo, independent block types", &layout);
  o.MsOneIn = 2;
  CheckAgainstMpg123(RandomStream(kMpeg1, 0, 1, 23, o), "MPEG-1 joint stereo with middle/side", &layout);
  o.MsOneIn = 0;
  CheckAgainstMpg123(RandomStream(kMpeg2, 0, 0, 24, o), "MPEG-2 22.05 kHz stereo", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg25, 2, 3, 25, o), "MPEG-2.5 8 kHz mono", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg25, 0, 0, 26, o), "MPEG-2.5 11.025 kHz stereo", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg2, 2, 3, 27, o), "MPEG-2 16 kHz mono", &layout);
}

TEST(Layer3Built, Mpeg1IntensityStereoMatchesMpg123) {
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not installed";
  TStreamOptions o;
  o.IntensityOneIn = 1;
  std::mt19937 layout(9);
  CheckAgainstMpg123(RandomStream(kMpeg1, 0, 1, 31, o), "long blocks, legal and illegal positions", &layout);
  o.Switching = true;
  CheckAgainstMpg123(RandomStream(kMpeg1, 1, 1, 32, o), "with start/short/stop and mixed blocks", &layout);
  o.MsOneIn = 1;
  CheckAgainstMpg123(RandomStream(kMpeg1, 2, 1, 33, o), "with middle/side on every frame", &layout);
  o.IllegalOneIn = 1;
  CheckAgainstMpg123(RandomStream(kMpeg1, 0, 1, 34, o), "middle/side, every position illegal", &layout);
  // Granules whose right channel is empty after one that was not: here
  // mpg123 starts intensity elsewhere, ffmpeg agrees with us.
  TStreamOptions e;
  e.MsOneIn = 2;
  e.IntensityOneIn = 1;
  std::mt19937 layout2(2048);
  CheckAgainstMpg123(RandomStream(kMpeg1, 0, 1, 2048, e), "empty right channels", &layout2);
}

TEST(Layer3Built, Mpeg2And25IntensityStereoMatchesMpg123) {
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not installed";
  TStreamOptions o;
  o.IntensityOneIn = 1;
  o.Frames = 40;
  std::mt19937 layout(10);
  CheckAgainstMpg123(RandomStream(kMpeg2, 0, 1, 41, o), "MPEG-2 22.05 kHz long blocks", &layout);
  o.Switching = true;
  CheckAgainstMpg123(RandomStream(kMpeg2, 1, 1, 42, o), "MPEG-2 24 kHz with block switching", &layout);
  o.MsOneIn = 2;
  CheckAgainstMpg123(RandomStream(kMpeg2, 2, 1, 43, o), "MPEG-2 16 kHz with middle/side", &layout);
  CheckAgainstMpg123(RandomStream(kMpeg25, 2, 1, 44, o), "MPEG-2.5 8 kHz", &layout);
  o.Switching = false;
  CheckAgainstMpg123(RandomStream(kMpeg25, 2, 1, 45, o), "MPEG-2.5 8 kHz long blocks", &layout);
}

TEST(Layer3Built, CrcProtectedFramesMatchMpg123) {
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not installed";
  TStreamOptions o;
  o.Switching = true;
  o.MsOneIn = 2;
  o.IntensityOneIn = 3;
  std::mt19937 layout(11);
  for (TL3Version v : {kMpeg1, kMpeg2, kMpeg25}) {
    TL3Stream s = RandomStream(v, v == kMpeg25 ? 2 : 0, 1, 50 + v, o);
    s.Crc = true;
    CheckAgainstMpg123(s, "CRC, version " + std::to_string(v), &layout);
    s = RandomStream(v, 1, 3, 60 + v, o);
    s.Crc = true;
    CheckAgainstMpg123(s, "CRC mono, version " + std::to_string(v), &layout);
  }
}

// Intensity positions worked out by hand: the right channel carries no lines,
// so every band is intensity-coded and both outputs are the left channel's
// decoded signal scaled by the position's factors (the filter bank is
// linear). MPEG-1: ratio tan(pos * pi / 12), left ratio / (1 + ratio), right
// 1 / (1 + ratio), 7 illegal. MPEG-2 (ISO/IEC 13818-3): io = 2^(-1/4) or
// 2^(-1/2) by the last bit of scalefac_compress; odd positions scale the left
// by io^((pos + 1) / 2), even ones the right by io^(pos / 2); the largest
// value of the band's width is illegal, which for a width of 0 is 0. An
// illegal position leaves plain stereo: the left as it is, the right silent.
TEST(Layer3Built, IntensityPositionsScaleTheLeftChannelByTheStandardFactors) {
  TempDir dir;
  auto decode = [&](TL3Version v, int modeExt, int rightSfc, int pos) {
    TL3Stream s;
    s.Version = v;
    s.Mode = 1;
    for (int n = 0; n < 3; ++n) {
      TL3Frame f;
      f.ModeExtension = modeExt;
      for (int gr = 0; gr < s.Granules(); ++gr) {
        TL3Channel& l = f.Gr[gr][0];
        l.GlobalGain = 172;
        l.ScalefacCompress = 0;
        l.Scalefac.assign(ScalefacWidths(s, 0, modeExt, l).size(), 0);
        for (int i = 4; i < 200; ++i) l.Lines[i] = (i * 5 % 7) - 3;
        l.Tables[0] = l.Tables[1] = l.Tables[2] = 15;
        TL3Channel& r = f.Gr[gr][1];
        r.ScalefacCompress = rightSfc;
        r.Scalefac.clear();
        for (int w : ScalefacWidths(s, 1, modeExt, r)) r.Scalefac.push_back(std::min(pos, (1 << w) - 1));
      }
      s.Frames.push_back(f);
    }
    const std::string path = dir.file("is.mp3");
    WriteBytes(path, Bytes(BuildLayer3(s)));
    TDecoded d = DecodeOurs(path);
    EXPECT_EQ(d.LastError, "");
    return d.Pcm;
  };
  auto check = [&](const std::vector<int16_t>& plain, const std::vector<int16_t>& is, double kl, double kr,
                   const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(plain.size(), is.size());
    ASSERT_GT(Rms(plain), 300.0);
    for (int16_t v : plain) ASSERT_LT(std::abs(v), 32767) << "clipped: the scaling would not hold";
    int worst = 0;
    for (size_t i = 0; i + 1 < plain.size(); i += 2) {
      EXPECT_EQ(plain[i + 1], 0);
      worst = std::max(worst, std::abs(is[i] - static_cast<int>(std::lround(kl * plain[i]))));
      worst = std::max(worst, std::abs(is[i + 1] - static_cast<int>(std::lround(kr * plain[i]))));
    }
    EXPECT_LE(worst, 1);
  };
  const double pi = std::acos(-1.0);
  // MPEG-1, scalefac_compress 13: 3-bit scale factors everywhere.
  const std::vector<int16_t> plain1 = decode(kMpeg1, 0, 13, 0);
  for (int pos = 0; pos <= 7; ++pos) {
    double kl = 1, kr = 0;
    if (pos < 6) {
      const double ratio = std::tan(pos * pi / 12);
      kl = ratio / (1 + ratio), kr = 1 / (1 + ratio);
    } else if (pos == 7) {
      kl = 1, kr = 0;  // illegal: plain stereo
    }
    check(plain1, decode(kMpeg1, 1, 13, pos), kl, kr, "MPEG-1 position " + std::to_string(pos));
  }
  // MPEG-1 with middle/side too: an illegal band is middle/side coded, the
  // right channel (side) being empty, so both outputs are left / sqrt(2).
  check(plain1, decode(kMpeg1, 3, 13, 7), std::sqrt(0.5), std::sqrt(0.5), "MPEG-1 illegal position with middle/side");

  // MPEG-2: slen a in all three partitions (table 3: isc = 43a) or none (isc 0).
  const std::vector<int16_t> plain2 = decode(kMpeg2, 0, 0, 0);
  for (int scaleBit = 0; scaleBit <= 1; ++scaleBit) {
    const double io = scaleBit ? std::sqrt(0.5) : std::pow(2.0, -0.25);
    for (int a = 1; a <= 3; ++a) {
      const int sfc = (43 * a) << 1 | scaleBit;
      for (int pos = 0; pos < (1 << a); ++pos) {
        double kl = 1, kr = 1;
        if (pos == (1 << a) - 1)
          kl = 1, kr = 0;  // illegal
        else if (pos & 1)
          kl = std::pow(io, (pos + 1) / 2);
        else
          kr = std::pow(io, pos / 2);
        check(plain2, decode(kMpeg2, 1, sfc, pos), kl, kr,
              "MPEG-2 slen " + std::to_string(a) + " position " + std::to_string(pos) + " scale bit " +
                  std::to_string(scaleBit));
      }
    }
  }
  check(plain2, decode(kMpeg2, 1, 0, 0), 1, 0, "MPEG-2 bands without position bits are illegal");
}

// ---- damaged streams ----------------------------------------------------------

// A file cut out of a longer stream: its first frame's main data start points
// before the file. That frame plays as silence; the frames after it decode
// as mpg123 decodes them.
TEST(Layer3Built, FirstFrameReachingBeforeTheFileIsSilent) {
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not installed";
  for (TL3Version v : {kMpeg1, kMpeg2}) {
    SCOPED_TRACE("version " + std::to_string(v));
    TStreamOptions o;
    o.Frames = 12;
    o.Gen.Bands = 8;
    TL3Stream s = RandomStream(v, 0, 0, 70 + v, o);
    s.FirstMainDataBegin = v == kMpeg1 ? 300 : 120;
    TempDir dir;
    const std::string path = dir.file("cut.mp3");
    WriteBytes(path, Bytes(BuildLayer3(s)));
    TDecoded ours = DecodeOurs(path);
    const size_t frameSamples = static_cast<size_t>(ours.SamplesPerFrame) * ours.Channels;
    ASSERT_EQ(ours.Pcm.size(), s.Frames.size() * frameSamples);
    EXPECT_EQ(Rms(ours.Pcm, 0, frameSamples), 0.0) << "the first frame must be silent";
    EXPECT_GT(Rms(ours.Pcm, frameSamples), 30.0);
    TReference ref = DecodeMpg123(path);
    ASSERT_EQ(ref.Pcm.size(), ours.Pcm.size());
    EXPECT_EQ(Rms(ref.Pcm, 0, frameSamples), 0.0);
    EXPECT_EQ(Differences(ours.Pcm, ref.Pcm, ours.Channels, ours.SamplesPerFrame), "");
  }
}

// A granule whose part2_3_length is shorter than its Huffman data by more
// than the decoder's slack: the reading runs past the granule, which plays as
// silence; everything else decodes as if that granule had been empty.
TEST(Layer3Built, GranuleRunningPastItsLengthPlaysSilence) {
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not installed";
  struct TCase {
    TL3Version version;
    int mode;
    int frame, gr, ch;  // the lying granule: the frame's last, so the next one starts right
  };
  for (const TCase& k : {TCase{kMpeg1, 3, 4, 1, 0}, TCase{kMpeg1, 0, 6, 1, 1}, TCase{kMpeg2, 0, 5, 0, 1}}) {
    SCOPED_TRACE("version " + std::to_string(k.version) + " mode " + std::to_string(k.mode));
    TStreamOptions o;
    o.Frames = 12;
    o.Gen.Bands = 6;
    TL3Stream s = RandomStream(k.version, 1, k.mode, 80 + k.frame, o);
    // Enough coded bits in the lying granule, and two silent granules before
    // it (the synthesis filter reaches back one granule) so that its own
    // output is exactly zero.
    TL3Channel& liar = s.Frames[k.frame].Gr[k.gr][k.ch];
    std::fill(std::begin(liar.Lines), std::end(liar.Lines), 0);
    for (int i = 0; i < 120; ++i) liar.Lines[i] = (i % 7) - 3;
    liar.Tables[0] = liar.Tables[1] = liar.Tables[2] = 13;
    liar.BlockType = 0;
    for (int back = 1; back <= 2; ++back) {
      const int index = k.frame * s.Granules() + k.gr - back;
      TL3Channel& before = s.Frames[index / s.Granules()].Gr[index % s.Granules()][k.ch];
      std::fill(std::begin(before.Lines), std::end(before.Lines), 0);
    }
    if (s.Mpeg1()) s.Frames[k.frame].Scfsi[k.ch][0] = s.Frames[k.frame].Scfsi[k.ch][1] = 0;
    if (s.Mpeg1()) s.Frames[k.frame].Scfsi[k.ch][2] = s.Frames[k.frame].Scfsi[k.ch][3] = 0;
    TL3Stream clean = s;
    std::fill(std::begin(clean.Frames[k.frame].Gr[k.gr][k.ch].Lines),
              std::end(clean.Frames[k.frame].Gr[k.gr][k.ch].Lines), 0);
    // The true length, then 100 bits less.
    const int truth = l3detail::CodeChannel(s, k.gr, k.ch, s.Frames[k.frame]).part23;
    liar.Part23LengthOverride = truth - 100;

    TempDir dir;
    WriteBytes(dir.file("lying.mp3"), Bytes(BuildLayer3(s)));
    WriteBytes(dir.file("clean.mp3"), Bytes(BuildLayer3(clean)));
    TDecoded ours = DecodeOurs(dir.file("lying.mp3"));
    EXPECT_NE(ours.LastError.find("Data overrun"), std::string::npos) << ours.LastError;
    EXPECT_EQ(ours.Damaged, 1);  // the one lying granule's frame, and no other
    TReference ref = DecodeMpg123(dir.file("clean.mp3"));
    EXPECT_EQ(ref.Complaints, "");
    const size_t granule = 576u * ours.Channels;
    const size_t at = (static_cast<size_t>(k.frame) * s.Granules() + k.gr) * granule;
    double silent = 0;
    for (size_t i = at + k.ch; i < at + granule; i += ours.Channels) silent += std::abs(ours.Pcm[i]);
    EXPECT_EQ(silent, 0.0) << "the lying granule must be silent";
    EXPECT_EQ(Differences(ours.Pcm, ref.Pcm, ours.Channels, ours.SamplesPerFrame), "");
  }
}

// Lengths and counts that promise more than the frame holds (part2_3_length
// up to 4095, big_values past 288, region counts past the last band), and
// random bit damage to side information and main data: clear errors or
// silence, never a crash or a read out of bounds (the sanitizer build runs
// this too).
TEST(Layer3Built, DamagedSideInformationNeverCrashes) {
  TempDir dir;
  std::mt19937 rng(99);
  TStreamOptions o;
  o.Frames = 8;
  o.Switching = true;
  o.MsOneIn = 2;
  o.IntensityOneIn = 2;
  for (int round = 0; round < 60; ++round) {
    const TL3Version v = round % 3 == 0 ? kMpeg1 : round % 3 == 1 ? kMpeg2 : kMpeg25;
    TL3Stream s = RandomStream(v, round % 3 == 2 ? 2 : 0, round % 2 ? 1 : 3, 200 + round, o);
    for (TL3Frame& f : s.Frames)
      for (auto& g : f.Gr)
        for (TL3Channel& c : g) {
          switch (rng() % 6) {
            case 0: c.Part23LengthOverride = 4095; break;
            case 1: c.BigValuesOverride = 289 + static_cast<int>(rng() % 223); break;
            case 2: c.Part23LengthOverride = static_cast<int>(rng() % 64); break;
            default: break;
          }
        }
    std::string bytes = BuildLayer3(s);
    for (int flips = static_cast<int>(rng() % 20); flips > 0; --flips) {
      const size_t at = rng() % bytes.size();
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << (rng() % 8)));
    }
    const std::string path = dir.file("damaged.mp3");
    WriteBytes(path, Bytes(bytes));
    try {
      TDecoded ours = DecodeOurs(path);
      EXPECT_FALSE(ours.Pcm.empty());
    } catch (const EError&) {
      // a header damaged beyond recognition: not an MPEG file any more
    }
  }
}
