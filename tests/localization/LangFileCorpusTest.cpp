// The seed corpus of the language-file fuzz target (tests/data/langfile-corpus,
// made by scripts/make-langfile-corpus.sh) through the same sequence the fuzz
// target runs, so that the sanitizer build of the test suite covers the
// damaged files too.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "../../fuzz/LangFuzzBody.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

TEST(LangFileCorpus, EveryFileIsRefusedOrAppliedWithoutFault) {
  std::map<std::string, std::string> files;
  uintmax_t total = 0;
  for (const auto& e : std::filesystem::directory_iterator(SourcePath("tests/data/langfile-corpus"))) {
    files[e.path().filename().string()] = e.path().string();
    total += e.file_size();
  }
  ASSERT_GE(files.size(), 20u) << "the corpus is missing: run scripts/make-langfile-corpus.sh";
  // The corpus stays small: a fuzzer run pointed at it by mistake adds files.
  EXPECT_LT(total, 100u * 1024u);

  std::map<std::string, fuzz::TLangRun> runs;
  for (const auto& [name, path] : files) {
    SCOPED_TRACE(name);
    runs[name] = fuzz::RunLangFile(path);
    EXPECT_TRUE(runs[name].faults.empty()) << runs[name].faults.front();
  }
  for (const char* name : {"shipped-0000040C.SPK", "small-rev1.SPK", "small-rev4.SPK", "revision-0.SPK",
                           "odd-flags.SPK", "count-huge.SPK", "trailer-garbled.SPK"})
    EXPECT_TRUE(runs[name].applied) << name;
  for (const char* name :
       {"wrong-signature.SPK", "header-only.SPK", "empty.SPK", "five-records.SPK", "count-negative.SPK"})
    EXPECT_FALSE(runs[name].applied) << name;
  EXPECT_FALSE(runs["wrong-signature.SPK"].opened);
  EXPECT_EQ(runs["revision-5.SPK"].refusal, "Format not supported in this revision");
}
