// The seed corpus of the project-file fuzz target (tests/data/project-corpus)
// through the same load, save and reload sequence the fuzz target runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "../../fuzz/ProjectFuzzBody.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

TEST(ProjectCorpus, EveryFileLoadsAndSavesBackWithoutFault) {
  TempDir dir;
  std::map<std::string, fuzz::TProjectRun> runs;
  uintmax_t total = 0;
  for (const auto& e : std::filesystem::directory_iterator(SourcePath("tests/data/project-corpus"))) {
    const std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    EXPECT_LT(e.file_size(), 16384u);
    total += e.file_size();
    const fuzz::TProjectRun run = fuzz::RunProjectFile(e.path().string(), dir.file("saved.sdm"));
    for (const std::string& f : run.faults) ADD_FAILURE() << f;
    EXPECT_TRUE(run.read) << run.refusal;
    runs[name] = run;
  }
  ASSERT_GE(runs.size(), 15u);
  EXPECT_LT(total, 64u * 1024u);
  // Picture lines counted from how each seed was written.
  EXPECT_EQ(runs["saved-greyscale.sdm"].pictures, 2u);
  EXPECT_EQ(runs["cr-only.sdm"].pictures, 1u);
  EXPECT_EQ(runs["header-only.sdm"].pictures, 0u);
  EXPECT_EQ(runs["empty-lines.sdm"].pictures, 4u);
  EXPECT_EQ(runs["header-after-pictures.sdm"].pictures, 3u);
  EXPECT_EQ(runs["no-final-break.sdm"].pictures, 2u);
  EXPECT_EQ(runs["mixed-breaks.sdm"].pictures, 8u);
}
