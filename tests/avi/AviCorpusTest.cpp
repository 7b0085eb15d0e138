// The seed corpus of the AVI fuzz target (tests/data/avi-corpus, made by
// scripts/make-avi-corpus.sh) through the same sequence the fuzz target runs,
// so that the sanitizer build of the test suite covers the damaged files too:
// each file is refused with a reason, or read sample by sample and copied by
// the muxer without a fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "../../fuzz/AviFuzzBody.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

std::map<std::string, std::string> CorpusFiles() {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(SourcePath("tests/data/avi-corpus")))
    if (e.is_regular_file()) files[e.path().filename().string()] = e.path().string();
  return files;
}

}  // namespace

TEST(AviCorpus, EveryFileIsRefusedWithAReasonOrReadAndCopiedWithoutFault) {
  const auto files = CorpusFiles();
  ASSERT_GE(files.size(), 50u) << "the corpus is missing: run scripts/make-avi-corpus.sh";
  // The corpus stays small: a fuzzer run pointed at it by mistake adds files.
  uintmax_t total = 0;
  for (const auto& [name, path] : files) total += std::filesystem::file_size(path);
  EXPECT_LT(total, 256u * 1024u);
  TempDir dir;
  for (const auto& [name, path] : files) {
    SCOPED_TRACE(name);
    EXPECT_LT(std::filesystem::file_size(path), 12u * 1024u);
    const fuzz::TAviRun run = fuzz::RunAviFile(path, dir.path().string());
    for (const std::string& f : run.faults) ADD_FAILURE() << f;
  }
}

TEST(AviCorpus, WholeFilesAreReadDamagedOnesRefusedOrReadFromTheirChunks) {
  const auto files = CorpusFiles();
  struct Expect {
    const char* name;
    long samples;  // of the first video stream; 0: refused
    const char* refusal;
  };
  const char* const notAvi = "not an AVI file, or a damaged one";
  // Worked out from how make-avi-corpus.sh builds each file.
  const Expect expects[] = {
      {"plain.avi", 4, ""},
      {"no-index.avi", 4, ""},      // found by walking the movi list
      {"idx1-repeats.avi", 4, ""},  // the index names one frame four times
      {"idx1-overlap.avi", 4, ""},
      {"idx1-before-movi.avi", 4, ""},
      {"idx1-past-movi.avi", 4, ""},
      {"idx1-absolute-offsets.avi", 4, ""},  // offsets from the file's start, as some writers do
      {"riff-size-huge.avi", 4, ""},         // a wrong size over chunks that are all whole
      {"strh-start-huge.avi", 4, ""},        // samples from 2^31 - 16 on: mux copies from there
      {"ours-dib.avi", 6, ""},               // samples 0 and 1 empty, then four frames
      {"ours-odml.avi", 10, ""},             // eight frames over three RIFF parts
      {"odml-ix-repeats.avi", 10, ""},
      {"ours-muxed.avi", 6, ""},
      {"ffmpeg-mjpeg.avi", 4, ""},
      {"ffmpeg-mpeg4-gop3.avi", 6, ""},
      {"ffmpeg-raw.avi", 4, ""},
      {"cut-100.avi", 0, "the file is cut short: it ends at byte 100 of 1096"},
      {"cut-520.avi", 0, "the file is cut short: it ends at byte 520 of 1096"},
      {"cut-1076.avi", 0, "the file is cut short: it ends at byte 1076 of 1096"},
      {"empty.avi", 0, notAvi},
      {"random.avi", 0, notAvi},
      {"not-avi.avi", 0, notAvi},
      {"no-hdrl.avi", 0, notAvi},
      {"strh-short.avi", 0, notAvi},
  };
  TempDir dir;
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.name);
    ASSERT_TRUE(files.count(e.name));
    const fuzz::TAviRun run = fuzz::RunAviFile(files.at(e.name), dir.path().string());
    EXPECT_TRUE(run.faults.empty());
    if (e.samples == 0) {
      EXPECT_FALSE(run.opened);
      EXPECT_EQ(run.refusal, e.refusal);
    } else {
      EXPECT_TRUE(run.opened) << run.refusal;
      EXPECT_EQ(run.samples, e.samples);
      EXPECT_TRUE(run.muxed) << run.muxError;
    }
  }
}
