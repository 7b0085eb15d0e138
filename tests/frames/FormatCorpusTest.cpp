// The seed corpora of the picture-kind fuzz targets (tests/data/<kind>-corpus,
// made by scripts/make-format-corpus.sh) through the sequence the targets
// run, so the sanitizer build of the test suite covers the damaged files too:
// each file is refused with an error naming it, or loaded, fitted, greyed,
// toned and loaded as a thumbnail without a fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "../../fuzz/PictureFuzzBody.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

std::map<std::string, std::string> CorpusFiles(const std::string& kind) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(test::SourcePath("tests/data/" + kind + "-corpus")))
    if (e.is_regular_file()) files[e.path().filename().string()] = e.path().string();
  return files;
}

TEST(FormatCorpusTest, EveryFileIsRefusedOrLoadedWithoutFault) {
  for (const char* kind : {"png", "webp", "tiff", "gif", "heif"}) {
    SCOPED_TRACE(kind);
    const auto files = CorpusFiles(kind);
    ASSERT_GE(files.size(), 6u) << "the corpus is missing: run scripts/make-format-corpus.sh";
    // The corpora stay small: a fuzzer run pointed at one by mistake adds files.
    uintmax_t total = 0;
    for (const auto& [name, path] : files) total += std::filesystem::file_size(path);
    EXPECT_LT(total, 32u * 1024u);
    int loaded = 0;
    for (const auto& [name, path] : files) {
      SCOPED_TRACE(name);
      EXPECT_LE(std::filesystem::file_size(path), 4096u);
      const fuzz::TPictureRun run = fuzz::RunPictureFile(path);
      for (const std::string& f : run.faults) ADD_FAILURE() << f;
      if (run.loaded) ++loaded;
    }
    EXPECT_GE(loaded, 4);
  }
}

TEST(FormatCorpusTest, KnownFilesLoadAtTheirSizeOrAreRefusedForTheirReason) {
  struct Expect {
    const char* kind;
    const char* name;
    int width, height;   // 0 × 0: refused
    const char* reason;  // part of the refusal
  };
  // Sizes from how make_format_corpus.cpp builds each file; a quarter turn
  // swaps them.
  const Expect expects[] = {
      {"png", "rgba8-interlaced.png", 16, 12, ""},
      {"png", "grey1.png", 16, 12, ""},
      {"png", "rgb8-garbled-profile.png", 16, 12, ""},
      {"png", "declares-16000x16000.png", 0, 0, "truncated PNG data"},
      {"png", "bad-crc.png", 0, 0, "invalid PNG data"},
      {"png", "cut.png", 0, 0, "PNG"},
      {"webp", "animated.webp", 16, 12, ""},
      {"webp", "lossless-garbled-profile.webp", 16, 12, ""},
      {"webp", "cut.webp", 0, 0, "invalid WebP data"},
      {"tiff", "orientation-6.tif", 12, 16, ""},
      {"tiff", "orientation-3.tif", 16, 12, ""},
      {"tiff", "rgb8-jpeg.tif", 16, 16, ""},
      {"tiff", "declares-16000x16000.tif", 0, 0, "truncated TIFF data"},
      {"tiff", "cut.tif", 0, 0, "TIFF"},
      {"gif", "frame-beyond-screen.gif", 16, 12, ""},
      {"gif", "declares-16000x16000.gif", 0, 0, "truncated GIF data"},
      {"gif", "no-picture.gif", 0, 0, "invalid GIF data"},
      {"heif", "rotated.heic", 12, 16, ""},
      {"heif", "thumbnail.heic", 32, 24, ""},
      {"heif", "cut.heic", 0, 0, "invalid HEIF data"},
  };
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.name);
    const auto files = CorpusFiles(e.kind);
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

// Found by heif_fuzz: a 16 × 12 overlay whose own box claims a canvas of
// 17512 × 61499, which libheif allocated (3 GB) before anything was drawn.
TEST(FormatCorpusTest, AnOverlayClaimingAHugeCanvasIsRefused) {
  const fuzz::TPictureRun run = fuzz::RunPictureFile(test::SourcePath("tests/data/heif-overlay-huge-canvas.heic"));
  EXPECT_TRUE(run.faults.empty());
  EXPECT_FALSE(run.loaded);
  EXPECT_NE(run.refusal.find("invalid HEIF data ("), std::string::npos) << run.refusal;
  EXPECT_EQ(run.refusal.find('\n'), std::string::npos) << run.refusal;
}

// Found by webp_fuzz: a lossless WebP whose header says it is opaque while
// its pixels carry alpha is loaded opaque, as the header says.
TEST(FormatCorpusTest, ALosslessWebpSaidOpaqueIsLoadedOpaque) {
  const fuzz::TPictureRun run =
      fuzz::RunPictureFile(test::SourcePath("tests/data/webp-lossless-undeclared-alpha.webp"));
  for (const std::string& f : run.faults) ADD_FAILURE() << f;
  EXPECT_TRUE(run.loaded) << run.refusal;
}

}  // namespace
}  // namespace sdm
