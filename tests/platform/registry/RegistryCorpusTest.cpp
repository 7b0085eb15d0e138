// The seed corpus of the registry fuzz target (tests/data/registry-corpus)
// through the same sequence the fuzz target runs, so that the sanitizer build
// of the test suite covers the damaged hives too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "../../../fuzz/RegistryFuzzBody.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

using RegistryCorpus = PrivateRegistryTest;

TEST_F(RegistryCorpus, EveryHiveIsReadOrSetAsideWithoutFault) {
  std::map<std::string, fuzz::TRegistryRun> runs;
  uintmax_t total = 0;
  for (const auto& e : std::filesystem::directory_iterator(SourcePath("tests/data/registry-corpus"))) {
    const std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    EXPECT_LT(e.file_size(), 16384u);
    total += e.file_size();
    const fuzz::TRegistryRun run = fuzz::RunRegistryHive(ReadText(e.path().string()));
    for (const std::string& f : run.faults) ADD_FAILURE() << f;
    runs[name] = run;
  }
  // The corpus stays small: a fuzzer run pointed at it by mistake adds files.
  ASSERT_GE(runs.size(), 20u);
  EXPECT_LT(total, 64u * 1024u);
  // Keys and values counted from how each seed was written.
  EXPECT_FALSE(runs["typical.reg"].garbled);
  EXPECT_EQ(runs["typical.reg"].keys, 8u);
  EXPECT_EQ(runs["typical.reg"].values, 6u);
  EXPECT_EQ(runs["typical-crlf.reg"].values, 6u);
  EXPECT_EQ(runs["deep-512.reg"].keys, 63u);  // as far as the walk goes: 64 keys with the root
  EXPECT_EQ(runs["duplicates-in-other-case.reg"].keys, 2u);
  EXPECT_EQ(runs["duplicates-in-other-case.reg"].values, 1u);
  EXPECT_EQ(runs["many-values.reg"].values, 300u);
  EXPECT_EQ(runs["empty.reg"].keys, 0u);
  for (const char* garbage :
       {"deep-513.reg", "wrong-root.reg", "bad-value.reg", "bad-dword.reg", "value-before-key.reg", "no-header.reg",
        "unterminated.reg", "unclosed-key.reg", "control-in-key.reg"})
    EXPECT_TRUE(runs[garbage].garbled) << garbage;
}
