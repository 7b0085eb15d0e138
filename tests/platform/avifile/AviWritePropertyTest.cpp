// Random files written through the AVI file library and read back, byte for
// byte, by our reader and by ffprobe: chunks from 0 bytes to past 2 MiB in
// several streams, gaps, forced key frames, and parts of every size from a
// few chunks to the whole file. Sizes around the points where the writer
// changes how it writes (a quarter and the whole of its 1 MiB buffer) are
// drawn often, since a block of one size overtaking bytes of another is the
// fault that matters most here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/avifile/AviFile.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::RunCommand;
using sdm::test::TempDir;

namespace {

// CRC-32 as zlib and ffmpeg's "CRC32" hash compute it (reflected 0xEDB88320).
uint32_t Crc32(const uint8_t* p, size_t n) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

struct TSample {
  std::vector<uint8_t> bytes;
  bool key = false;
};

// What one stream should hold: every position from 0, gaps as empty samples.
struct TStreamPlan {
  FOURCC type = 0;
  std::vector<TSample> samples;
};

struct TPlan {
  uint64_t riffLimit = kDefaultRiffLimit;
  std::vector<TStreamPlan> streams;
  // The order the chunks are written in: (stream, position).
  std::vector<std::pair<int, long>> order;
};

constexpr uint32_t kKiB = 1024, kMiB = 1024 * 1024;

uint32_t DrawSize(std::mt19937& rng) {
  const uint32_t edges[] = {256 * kKiB, kMiB, 2 * kMiB};
  switch (rng() % 8) {
    case 0: return 0;
    case 1:
    case 2: return rng() % 64;
    case 3: return rng() % (64 * kKiB);
    case 4:
    case 5:
      // Just below, at or just above a size where the writer changes its way.
      return edges[rng() % 3] - 2 + rng() % 5;
    default: return rng() % (2 * kMiB + 300 * kKiB);
  }
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, uint32_t n) {
  std::vector<uint8_t> b(n);
  for (uint32_t i = 0; i + 4 <= n; i += 4) {
    const uint32_t v = rng();
    std::memcpy(&b[i], &v, 4);
  }
  for (uint32_t i = n & ~3u; i < n; ++i) b[i] = static_cast<uint8_t>(rng());
  return b;
}

// Chunks for nStreams streams until about budget bytes are planned; every
// chunk goes to a random stream, sometimes after a gap of empty samples.
TPlan RandomPlan(uint32_t seed, int nStreams, uint64_t budget, uint64_t riffLimit) {
  std::mt19937 rng(seed);
  TPlan plan;
  plan.riffLimit = riffLimit;
  for (int s = 0; s < nStreams; ++s) plan.streams.push_back({s == 1 ? streamtypeAUDIO : streamtypeVIDEO, {}});
  uint64_t total = 0;
  while (total < budget) {
    const int s = static_cast<int>(rng() % static_cast<uint32_t>(nStreams));
    auto& samples = plan.streams[static_cast<size_t>(s)].samples;
    if (rng() % 6 == 0) samples.resize(samples.size() + 1 + rng() % 3);  // a gap
    TSample sample;
    sample.bytes = RandomBytes(rng, DrawSize(rng));
    // A stream starts with a key frame, as a compressor starts one (ffmpeg
    // calls the first frame a key frame when the index has none).
    const bool first = std::none_of(samples.begin(), samples.end(), [](const TSample& t) { return !t.bytes.empty(); });
    sample.key = rng() % 3 == 0 || (first && !sample.bytes.empty());
    total += sample.bytes.size();
    samples.push_back(std::move(sample));
    plan.order.push_back({s, static_cast<long>(samples.size() - 1)});
  }
  return plan;
}

AVISTREAMINFO InfoFor(FOURCC type) {
  AVISTREAMINFO i;
  i.fccType = type;
  // A handler and format no decoder knows: ffprobe only demuxes the packets.
  i.fccHandler = type == streamtypeVIDEO ? mmioFOURCC('S', 'D', 'M', 'T') : 0;
  i.dwScale = type == streamtypeVIDEO ? 1 : 1152;
  i.dwRate = type == streamtypeVIDEO ? 25 : 44100;
  i.rcFrame = {0, 0, 64, 48};
  return i;
}

std::vector<uint8_t> FormatFor(FOURCC type) {
  if (type == streamtypeVIDEO) {
    BITMAPINFOHEADER h;
    h.biWidth = 64;
    h.biHeight = 48;
    h.biBitCount = 24;
    h.biCompression = mmioFOURCC('S', 'D', 'M', 'T');
    const auto* p = reinterpret_cast<const uint8_t*>(&h);
    return {p, p + sizeof h};
  }
  // WAVEFORMATEX of an unassigned format tag, 2 channels, 44100 Hz.
  return {0x34, 0x12, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0};
}

void WritePlan(const TPlan& plan, const std::string& path) {
  AVISetRiffLimit(plan.riffLimit);
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_WRITE | OF_CREATE), AVIERR_OK);
  std::vector<PAVISTREAM> streams;
  for (const TStreamPlan& sp : plan.streams) {
    PAVISTREAM s = nullptr;
    const AVISTREAMINFO info = InfoFor(sp.type);
    ASSERT_EQ(AVIFileCreateStream(f, &s, &info), AVIERR_OK);
    const std::vector<uint8_t> format = FormatFor(sp.type);
    ASSERT_EQ(AVIStreamSetFormat(s, 0, format.data(), static_cast<long>(format.size())), AVIERR_OK);
    streams.push_back(s);
  }
  for (const auto& [s, pos] : plan.order) {
    const TSample& sample = plan.streams[static_cast<size_t>(s)].samples[static_cast<size_t>(pos)];
    ASSERT_EQ(AVIStreamWrite(streams[static_cast<size_t>(s)], pos, 1, sample.bytes.data(),
                             static_cast<long>(sample.bytes.size()), sample.key ? AVIIF_KEYFRAME : 0),
              AVIERR_OK)
        << "stream " << s << " position " << pos;
  }
  for (PAVISTREAM s : streams) ASSERT_EQ(AVIStreamRelease(s), AVIERR_OK);
  ASSERT_EQ(AVIFileRelease(f), AVIERR_OK);
  AVISetRiffLimit(kDefaultRiffLimit);
}

void CheckWithOurReader(const TPlan& plan, const std::string& path) {
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, path, OF_READ), AVIERR_OK) << AVIFileLastErrorText();
  for (size_t n = 0; n < plan.streams.size(); ++n) {
    SCOPED_TRACE("stream " + std::to_string(n));
    const auto& want = plan.streams[n].samples;
    PAVISTREAM s = nullptr;
    ASSERT_EQ(AVIFileGetStream(f, &s, 0, static_cast<long>(n)), AVIERR_OK);
    ASSERT_EQ(AVIStreamLength(s), static_cast<long>(want.size()));
    std::vector<uint8_t> got;
    for (size_t pos = 0; pos < want.size(); ++pos) {
      long bytes = -1;
      ASSERT_EQ(AVIStreamRead(s, static_cast<long>(pos), 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
      ASSERT_EQ(bytes, static_cast<long>(want[pos].bytes.size())) << "position " << pos;
      got.assign(static_cast<size_t>(bytes), 0);
      if (bytes > 0) {
        ASSERT_EQ(AVIStreamRead(s, static_cast<long>(pos), 1, got.data(), bytes, &bytes, nullptr), AVIERR_OK);
      }
      ASSERT_TRUE(got == want[pos].bytes) << "position " << pos;
      ASSERT_EQ(AVIStreamIsKeyFrame(s, static_cast<long>(pos)), want[pos].key) << "position " << pos;
    }
    AVIStreamRelease(s);
  }
  EXPECT_EQ(AVIFileRelease(f), AVIERR_OK);
}

// ffprobe's packets, "size crc key" per line and stream. Empty samples are
// no packets to it.
std::vector<std::string> ProbedPackets(const std::string& path, size_t nStreams) {
  auto r = RunCommand({"ffprobe", "-v", "error", "-show_data_hash", "CRC32", "-show_entries",
                       "packet=stream_index,size,flags,data_hash", "-of", "csv=p=0", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "") << "ffprobe complained";
  std::vector<std::string> perStream(nStreams);
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    // stream_index,size,flags,CRC32:xxxxxxxx
    unsigned index = 0, size = 0;
    char flags[8] = {}, crc[16] = {};
    if (std::sscanf(line.c_str(), "%u,%u,%7[^,],CRC32:%15s", &index, &size, flags, crc) != 4 || index >= nStreams) {
      ADD_FAILURE() << "unexpected ffprobe line: " << line;
      continue;
    }
    perStream[index] += std::to_string(size) + " " + crc + " " + (flags[0] == 'K' ? "K" : "-") + "\n";
  }
  return perStream;
}

void CheckWithFfprobe(const TPlan& plan, const std::string& path) {
  const auto got = ProbedPackets(path, plan.streams.size());
  for (size_t n = 0; n < plan.streams.size(); ++n) {
    std::string want;
    for (const TSample& sample : plan.streams[n].samples) {
      if (sample.bytes.empty()) continue;
      char crc[9];
      std::snprintf(crc, sizeof crc, "%08x", Crc32(sample.bytes.data(), sample.bytes.size()));
      // ffmpeg takes the key flags of video from the index; audio packets
      // are all key packets to it.
      const bool key = plan.streams[n].type == streamtypeAUDIO || sample.key;
      want += std::to_string(sample.bytes.size()) + " " + crc + " " + (key ? "K" : "-") + "\n";
    }
    if (got[n] == want) continue;
    // Name the first packet that differs rather than print thousands.
    std::istringstream g(got[n]), w(want);
    std::string gl, wl;
    for (size_t k = 0;; ++k) {
      // Both lines are read every time, so a shorter side shows as empty.
      const bool gotLine = static_cast<bool>(std::getline(g, gl));
      const bool wantLine = static_cast<bool>(std::getline(w, wl));
      const bool more = gotLine || wantLine;
      if (!more) break;
      if (gl != wl) {
        ADD_FAILURE() << "stream " << n << ", packet " << k << ": ffprobe read \"" << gl << "\", written \"" << wl
                      << "\" (size crc key)";
        break;
      }
      gl.clear();
      wl.clear();
    }
  }
  auto r = RunCommand({"ffmpeg", "-v", "error", "-i", path, "-map", "0", "-c", "copy", "-f", "null", "-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

void WriteAndCheck(const TPlan& plan, const std::string& path) {
  WritePlan(plan, path);
  if (::testing::Test::HasFatalFailure()) return;
  CheckWithOurReader(plan, path);
  CheckWithFfprobe(plan, path);
}

}  // namespace

TEST(AviWriteProperty, RandomChunksOfEverySizeReadBackByteForByte) {
  TempDir dir;
  struct Run {
    uint32_t seed;
    int streams;
    uint64_t budget, riffLimit;
  };
  const Run runs[] = {
      {1, 1, 8 * kMiB, kDefaultRiffLimit},  // one AVI 1.0 part
      {2, 2, 8 * kMiB, kDefaultRiffLimit},
      {3, 3, 10 * kMiB, 3 * kMiB},  // OpenDML, several chunks per part
      {4, 2, 6 * kMiB, 4096},       // a part for every chunk
      {5, 3, 10 * kMiB, 1 * kMiB + 17},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE("seed " + std::to_string(run.seed));
    const TPlan plan = RandomPlan(run.seed, run.streams, run.budget, run.riffLimit);
    WriteAndCheck(plan, dir.file("random" + std::to_string(run.seed) + ".avi"));
  }
}

TEST(AviWriteProperty, LargeFirstChunkAndAnIndexLargerThanTheBuffer) {
  TempDir dir;
  std::mt19937 rng(99);
  // A first frame of 256 KiB and more once landed on the RIFF header.
  for (uint32_t size : {256 * kKiB, kMiB, kMiB + 1, 2 * kMiB + 5}) {
    SCOPED_TRACE(size);
    TPlan plan;
    plan.streams.push_back({streamtypeVIDEO, {}});
    plan.streams[0].samples.resize(2);  // positions 0 and 1 empty, as the AVI writer leaves them
    plan.streams[0].samples.push_back({RandomBytes(rng, size), true});
    plan.streams[0].samples.push_back({RandomBytes(rng, 100), false});
    plan.order = {{0, 2}, {0, 3}};
    WriteAndCheck(plan, dir.file("first.avi"));
  }
  // 20 000 small chunks: an idx1 of 320 000 bytes, more than a quarter of the
  // buffer, once landed inside the movi list.
  TPlan plan;
  plan.streams.push_back({streamtypeVIDEO, {}});
  for (long k = 0; k < 20000; ++k) {
    plan.streams[0].samples.push_back({RandomBytes(rng, 1 + rng() % 20), k % 50 == 0});
    plan.order.push_back({0, k});
  }
  WriteAndCheck(plan, dir.file("many.avi"));
}
