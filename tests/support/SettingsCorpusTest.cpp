// The seed corpus of the settings.ini fuzz target (tests/data/settings-corpus)
// through the same import and export sequence the fuzz target runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "../../fuzz/SettingsFuzzBody.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

using SettingsCorpus = PrivateRegistryTest;

TEST_F(SettingsCorpus, EveryFileGoesInAndOutWithoutFault) {
  std::filesystem::create_directories(dir.file("ini"));
  std::map<std::string, fuzz::TSettingsRun> runs;
  uintmax_t total = 0;
  for (const auto& e : std::filesystem::directory_iterator(SourcePath("tests/data/settings-corpus"))) {
    const std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    EXPECT_LT(e.file_size(), 16384u);
    total += e.file_size();
    const fuzz::TSettingsRun run = fuzz::RunSettingsIni(dir.file("ini"), ReadText(e.path().string()));
    for (const std::string& f : run.faults) ADD_FAILURE() << f;
    runs[name] = run;
  }
  ASSERT_GE(runs.size(), 12u);
  EXPECT_LT(total, 64u * 1024u);
  // Values counted from how each seed was written.
  EXPECT_EQ(runs["typical.ini"].values, 5u);
  EXPECT_TRUE(runs["typical.ini"].exported);
  EXPECT_EQ(runs["numbers.ini"].values, 11u);
  EXPECT_EQ(runs["duplicates.ini"].values, 1u);  // the first section and the first key win
  EXPECT_EQ(runs["same-name-in-both.ini"].values, 1u);
  EXPECT_EQ(runs["case-of-sections.ini"].values, 2u);
  EXPECT_EQ(runs["no-sections.ini"].values, 0u);
  EXPECT_EQ(runs["many.ini"].values, 400u);
  // A number of the name of a string replaces it: a, b, c and d remain.
  EXPECT_EQ(runs["string-and-number-of-one-name.ini"].values, 4u);
  // A value holding a carriage return cannot be kept in the file: the export
  // fails and keeps everything.
  EXPECT_FALSE(runs["cr-inside-a-value.ini"].exported);
}
