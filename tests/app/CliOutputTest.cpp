// What every command owes its caller: a failure to write its output is a
// failure, whether the output is a file or stdout, and no output ever lands
// on one of the command's own inputs or on a folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "avi/SoundtrackFixtures.h"
#include "testsupport/TestSupport.h"

using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

// The command line run with its stdout on /dev/full, through a shell.
CommandResult RunCliIntoFullDisk(const std::string& args) {
  return RunCommand({"/bin/sh", "-c", std::string("'") + SDM_CLI + "' " + args + " > /dev/full"});
}

}  // namespace

// Every command runs with the test's own registry, never the settings.ini
// beside the program.
using CliOutput = sdm::test::PrivateRegistryTest;

TEST_F(CliOutput, AFullStdoutIsAFailure) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // A listing short enough to sit in the buffer until exit, and a help text.
  for (const std::string& args :
       {std::string("codecs"), std::string("--help"), "frames --count " + SourcePath("examples/bars.bmp")}) {
    SCOPED_TRACE(args);
    const CommandResult r = RunCliIntoFullDisk(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the output cannot be written: No space left on device"), std::string::npos) << r.err;
  }
  // The same commands with somewhere to write succeed.
  EXPECT_EQ(RunCli({"codecs"}).status, 0);
}

TEST_F(CliOutput, NoCommandWritesOverItsInputOrAFolder) {
  const std::string bmp = dir.file("frame.bmp");
  fs::copy_file(SourcePath("examples/bars.bmp"), bmp);
  const std::string mp3 = MakeMp3(dir, "s.mp3", 44100, 2, 1.0, {"-b", "128"});
  fs::create_symlink(bmp, dir.file("link.bmp"));
  fs::create_directory(dir.file("folder.out"));
  const auto bmpBytes = ReadBytes(bmp), mp3Bytes = ReadBytes(mp3);
  struct Case {
    std::vector<std::string> args;
    std::string output, input;
  };
  const std::string link = dir.file("link.bmp"), folder = dir.file("folder.out");
  const Case cases[] = {
      {{"fit", bmp, "64x48", link}, link, bmp},
      {{"frames", "--size", "64x48", "--index", "0", "--out", bmp, bmp}, bmp, bmp},
      {{"encode", "--codec", "DIB ", "-o", link, bmp}, link, bmp},
      {{"decode", mp3, mp3}, mp3, mp3},
      {{"fit", bmp, "64x48", folder}, folder, ""},
      {{"decode", mp3, folder}, folder, ""},
      {{"mux", bmp, mp3, folder}, folder, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " -> " + c.output);
    const CommandResult r = RunCli(c.args);
    EXPECT_EQ(r.status, 1);
    if (c.input.empty())
      EXPECT_EQ(r.err, "The output \"" + c.output + "\" is a folder; nothing was written.\n");
    else
      EXPECT_EQ(r.err, "The output \"" + c.output + "\" is the same file as the input \"" + c.input +
                           "\"; nothing was written.\n");
  }
  EXPECT_EQ(ReadBytes(bmp), bmpBytes);
  EXPECT_EQ(ReadBytes(mp3), mp3Bytes);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::is_empty(folder));
}
