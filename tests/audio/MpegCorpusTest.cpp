// The seed corpus of the MPEG fuzz target (tests/data/mpeg-corpus, made by
// scripts/make-mpeg-corpus.sh) through the same sequence the fuzz target runs,
// so that the sanitizer build of the test suite covers the damaged files too:
// each file is refused with an error or read to its end, measured, sought
// and read again, without a fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "../../fuzz/MpegFuzzBody.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

std::map<std::string, std::string> CorpusFiles() {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(SourcePath("tests/data/mpeg-corpus")))
    if (e.is_regular_file()) files[e.path().filename().string()] = e.path().string();
  return files;
}

}  // namespace

TEST(MpegCorpus, EveryFileIsRefusedOrReadWithoutFault) {
  const auto files = CorpusFiles();
  ASSERT_GE(files.size(), 40u) << "the corpus is missing: run scripts/make-mpeg-corpus.sh";
  // The corpus stays small: a fuzzer run pointed at it by mistake adds files.
  uintmax_t total = 0;
  for (const auto& [name, path] : files) total += std::filesystem::file_size(path);
  EXPECT_LT(total, 200u * 1024u);
  for (const auto& [name, path] : files) {
    SCOPED_TRACE(name);
    EXPECT_LT(std::filesystem::file_size(path), 8192u);
    // Two request patterns per file: frames split across requests differently.
    for (uint64_t seed : {uint64_t{0}, uint64_t{0x9E3779B97F4A7C15}}) {
      const fuzz::TMpegRun run = fuzz::RunMpegFile(path, seed);
      for (const std::string& f : run.faults) ADD_FAILURE() << f;
      if (!run.opened) {
        EXPECT_FALSE(run.refusal.empty());
        continue;
      }
      EXPECT_FALSE(run.readBounded) << "a small file read as more than 2000 frames";
    }
  }
}

TEST(MpegCorpus, FilesWithRealFramesOpenAndCountThem) {
  // Encoder output and files whose damage leaves whole frames in place must
  // be read, not refused; those with nothing decodable must be refused.
  const auto files = CorpusFiles();
  struct Expect {
    const char* name;
    int frames;  // 0: refused
  };
  // Frame counts worked out from how make-mpeg-corpus.sh builds each file.
  const Expect expects[] = {
      {"empty.mp3", 0},
      {"one-byte.mp3", 0},
      {"zeros-only.mp3", 0},
      {"all-ff.mp3", 0},
      {"free-format.mp3", 0},
      {"id3v2-huge-size.mp3", 0},  // the tag claims the whole file
      {"id3v2-only-zeros-after.mp3", 0},
      {"header-only.mp3", 0},  // a frame cut short is not a frame
      {"zeros-4096-then-frames.mp3", 4},
      {"zeros-3000-then-frame.mp3", 1},
      {"id3v2-zero-padding.mp3", 8},
      {"id3v1-inside-and-end.mp3", 8},
      {"cut-inside-frame.mp3", 7},
      {"cut-inside-header.mp2", 4},
      {"zeros-between-frames.mp2", 5},
      {"l3-random-sideinfo-stereo.mp3", 6},
      {"l3-reservoir-compaction.mp3", 7},
      {"l1-44k-modes.mp1", 16},
      {"l2-max-frame.mp2", 2},
  };
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.name);
    ASSERT_TRUE(files.count(e.name));
    const fuzz::TMpegRun run = fuzz::RunMpegFile(files.at(e.name), 0);
    EXPECT_TRUE(run.faults.empty());
    if (e.frames == 0) {
      EXPECT_FALSE(run.opened);
      EXPECT_EQ(run.refusal, "Invalid MPEG file " + files.at(e.name));
    } else {
      EXPECT_TRUE(run.opened) << run.refusal;
      EXPECT_EQ(run.frames, e.frames);
    }
  }
}
