// slidomat-spk as a translator runs it: its outputs are checked as the other
// programs check theirs, an existing flag picture beside the text is never
// replaced unasked, and a flag that is a pipe or a device is refused at once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ReadText;
using test::RunCommand;
using test::WriteText;

std::string Spk() { return (fs::path(SDM_CLI).parent_path() / "slidomat-spk").string(); }

class SpkCli : public ::testing::Test {
protected:
  void SetUp() override {
    spk = dir.file("fr.SPK");
    fs::copy_file(fs::path(SDM_CLI).parent_path() / "SDM_0000040C.SPK", spk);
  }
  test::CommandResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), Spk());
    return RunCommand(args);
  }
  test::TempDir dir;
  std::string spk;
};

TEST_F(SpkCli, NoCommandReplacesItsInputOrAFolderOrAPipe) {
  const auto before = ReadBytes(spk);
  auto r = Run({"text", spk, spk});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is the same file as the input"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(spk), before);

  ASSERT_EQ(Run({"text", spk, dir.file("fr.txt")}).status, 0);
  const std::string source = ReadText(dir.file("fr.txt"));
  fs::create_symlink(dir.file("fr.txt"), dir.file("link.txt"));
  r = Run({"compile", dir.file("fr.txt"), dir.file("link.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is the same file as the input"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(dir.file("fr.txt")), source);

  fs::create_directory(dir.file("folder.SPK"));
  r = Run({"compile", dir.file("fr.txt"), dir.file("folder.SPK")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is a folder; nothing was written"), std::string::npos) << r.err;
  ASSERT_EQ(::mkfifo(dir.file("pipe.txt").c_str(), 0600), 0);
  r = Run({"text", spk, dir.file("pipe.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is a named pipe; nothing was written"), std::string::npos) << r.err;

  // The round trip still gives the same language file.
  ASSERT_EQ(Run({"compile", dir.file("fr.txt"), dir.file("again.SPK")}).status, 0);
  EXPECT_EQ(Run({"text", dir.file("again.SPK"), dir.file("again.txt")}).status, 0);
  EXPECT_EQ(ReadBytes(dir.file("again.bmp")), ReadBytes(dir.file("fr.bmp")));
}

TEST_F(SpkCli, AnExistingPictureBesideTheTextIsNeverReplacedUnasked) {
  WriteText(dir.file("mine.bmp"), "my own picture");
  auto r = Run({"text", spk, dir.file("mine.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("exists and is not this language file's flag"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(dir.file("mine.bmp")), "my own picture");
  EXPECT_FALSE(fs::exists(dir.file("mine.txt")));
  // Asked for elsewhere, the flag goes there and the text names it.
  fs::create_directory(dir.file("flags"));
  r = Run({"text", spk, dir.file("mine.txt"), "--flag", dir.file("flags/fr.bmp")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadText(dir.file("mine.txt")).find("Flag=flags/fr.bmp"), std::string::npos);
  EXPECT_EQ(ReadText(dir.file("flags/fr.bmp")).substr(0, 2), "BM");
  EXPECT_EQ(ReadText(dir.file("mine.bmp")), "my own picture");
  // Its own flag already there is no obstacle.
  ASSERT_EQ(Run({"text", spk, dir.file("fr.txt")}).status, 0);
  EXPECT_EQ(Run({"text", spk, dir.file("fr.txt")}).status, 0);
}

TEST_F(SpkCli, AFlagThatIsAPipeADeviceOrHugeIsRefused) {
  ASSERT_EQ(Run({"text", spk, dir.file("fr.txt")}).status, 0);
  const std::string source = ReadText(dir.file("fr.txt"));
  ASSERT_EQ(::mkfifo(dir.file("pipe.bmp").c_str(), 0600), 0);
  test::WriteBytes(dir.file("huge.bmp"), std::vector<uint8_t>(2 << 20, 'B'));
  const std::pair<std::string, std::string> cases[] = {
      {"pipe.bmp", "is a named pipe"}, {"/dev/zero", "is a device"}, {"huge.bmp", "is larger than 1024 KiB"}};
  for (const auto& [flag, why] : cases) {
    SCOPED_TRACE(flag);
    // The source with its Flag= line naming that file.
    std::string text = source;
    const size_t at = text.find("Flag=");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, text.find_first_of("\r\n", at) - at, "Flag=" + flag);
    WriteText(dir.file("x.txt"), text);
    const auto r = Run({"compile", dir.file("x.txt"), dir.file("x.SPK")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("x.SPK")));
  }
}

}  // namespace
}  // namespace sdm
