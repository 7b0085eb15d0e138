// The seed corpus of the picture fuzz target (tests/data/picture-corpus, made
// by scripts/make-picture-corpus.sh) through the same sequence the fuzz target
// runs, so that the sanitizer build of the test suite covers the damaged files
// too: each file is refused with an error naming it, or loaded, fitted, greyed
// and toned without a fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "../../fuzz/PictureFuzzBody.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

std::map<std::string, std::string> CorpusFiles() {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(test::SourcePath("tests/data/picture-corpus")))
    if (e.is_regular_file()) files[e.path().filename().string()] = e.path().string();
  return files;
}

TEST(PictureCorpusTest, EveryFileIsRefusedOrLoadedWithoutFault) {
  const auto files = CorpusFiles();
  ASSERT_GE(files.size(), 40u) << "the corpus is missing: run scripts/make-picture-corpus.sh";
  // The corpus stays small: a fuzzer run pointed at it by mistake adds files.
  uintmax_t total = 0;
  for (const auto& [name, path] : files) total += std::filesystem::file_size(path);
  EXPECT_LT(total, 100u * 1024u);
  int loaded = 0;
  for (const auto& [name, path] : files) {
    SCOPED_TRACE(name);
    EXPECT_LE(std::filesystem::file_size(path), 4096u);
    const fuzz::TPictureRun run = fuzz::RunPictureFile(path);
    for (const std::string& f : run.faults) ADD_FAILURE() << f;
    if (run.loaded) ++loaded;
  }
  EXPECT_GE(loaded, 30);
}

TEST(PictureCorpusTest, KnownFilesLoadAtTheirSizeOrAreRefusedForTheirReason) {
  const auto files = CorpusFiles();
  struct Expect {
    const char* name;
    int width, height;   // 0 × 0: refused
    const char* reason;  // part of the refusal
  };
  // Sizes from how make_picture_corpus.cpp builds each file; a quarter turn
  // swaps them.
  const Expect expects[] = {
      {"baseline-420.jpg", 24, 16, ""},
      {"progressive.jpg", 24, 16, ""},
      {"arithmetic.jpg", 24, 16, ""},
      {"odd-size-17x9.jpg", 17, 9, ""},
      {"exif-orientation-3.jpg", 24, 16, ""},
      {"exif-orientation-6.jpg", 16, 24, ""},
      {"exif-orientation-7.jpg", 16, 24, ""},
      {"exif-truncated-ifd.jpg", 24, 16, ""},  // garbled: upright
      {"exif-looping-chain.jpg", 24, 16, ""},
      {"exif-cut-short.jpg", 24, 16, ""},
      {"xmp-then-exif.jpg", 16, 24, ""},  // the XMP segment is passed over
      {"cmyk-adobe.jpg", 16, 8, ""},
      {"bmp-core-os2.bmp", 9, 5, ""},
      {"bmp-rle4.bmp", 9, 5, ""},
      {"cut-in-scan.jpg", 0, 0, "Premature end of JPEG file"},
      {"declares-20000x15000.jpg", 0, 0, "truncated"},
      {"soi-only.jpg", 0, 0, "JPEG"},
      {"bmp-declares-20000x15000.bmp", 0, 0, "20000 x 15000 pixels, 1145 MiB"},
      {"bmp-cut-in-pixels.bmp", 0, 0, "truncated"},
  };
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.name);
    ASSERT_TRUE(files.count(e.name));
    const fuzz::TPictureRun run = fuzz::RunPictureFile(files.at(e.name));
    EXPECT_TRUE(run.faults.empty());
    if (e.width == 0) {
      EXPECT_FALSE(run.loaded);
      EXPECT_NE(run.refusal.find(e.reason), std::string::npos) << run.refusal;
    } else {
      EXPECT_TRUE(run.loaded) << run.refusal;
      EXPECT_EQ(run.width, e.width);
      EXPECT_EQ(run.height, e.height);
    }
  }
}

}  // namespace
}  // namespace sdm
