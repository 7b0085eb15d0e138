// The seed corpus of the audio facade's fuzz target (tests/data/audio-corpus,
// made by scripts/make-audio-corpus.sh) through the same sequence the target
// runs, so that the sanitizer build of the suite covers every reader, the
// chain behind it and the tag writers on these files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "../../fuzz/AudioFuzzBody.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

TEST(AudioCorpus, EverySeedIsRefusedOrReadWithoutFault) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(SourcePath("tests/data/audio-corpus")))
    if (e.is_regular_file()) files[e.path().filename().string()] = e.path().string();
  ASSERT_GE(files.size(), 30u) << "the corpus is missing: run scripts/make-audio-corpus.sh";
  uintmax_t total = 0;
  for (const auto& [name, path] : files) total += std::filesystem::file_size(path);
  EXPECT_LT(total, 256u * 1024u);  // a fuzzer run pointed at it by mistake adds files
  TempDir dir;
  for (const auto& [name, path] : files) {
    SCOPED_TRACE(name);
    const auto bytes = ReadBytes(path);
    const fuzz::TAudioRun run = fuzz::RunAudioInput(bytes.data(), bytes.size(), dir.path().string());
    for (const std::string& f : run.faults) ADD_FAILURE() << f;
    // Whole files of every kind are read, foreign and empty ones refused; a
    // file named as another kind is read by what its bytes show.
    const bool foreign = name.rfind("text-", 0) == 0 || name == "ogg-empty.bin";
    const bool whole = !foreign && name.find("cut-in-half") == std::string::npos;
    if (whole) {
      EXPECT_TRUE(run.opened) << run.refusal;
      EXPECT_GT(run.pcmRead, 0);
    }
    if (foreign) {
      EXPECT_FALSE(run.opened);
      EXPECT_FALSE(run.refusal.empty());
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "scratch files left behind";
  }
}
