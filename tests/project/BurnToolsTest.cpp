#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/registry/Registry.h"
#include "project/BurnTools.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
namespace fs = std::filesystem;

namespace {
class BurnTools : public test::PrivateRegistryTest {
protected:
  BurnTools() { fs::create_directories(dir.file("bin")); }
  void Value(const std::string& name, const std::string& text) {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(kVendorKey, true));
    ASSERT_TRUE(reg.WriteString(name, text));
  }
  std::string Program(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    test::WriteText(path, "#!/bin/sh\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
  // Only the test's own programs are found.
  test::ScopedEnv path_{"PATH", dir.file("bin")};
};
}  // namespace

TEST_F(BurnTools, TheRegistryNamesTheProgramOrItsFolderAndTheSecondValueIsTriedNext) {
  EXPECT_EQ(FindBurnTool(), "");
  EXPECT_FALSE(TRegistry(HKEY_CURRENT_USER).KeyExists(kVendorKey));  // only read, never made
  // A folder: the program file inside it, with or without a trailing '/'.
  Program(dir.file("xol/BrennoCd.exe"));
  Value("BrennoCD", dir.file("xol"));
  EXPECT_EQ(FindBurnTool(), dir.file("xol/BrennoCd.exe"));
  Value("BrennoCD", dir.file("xol/"));
  EXPECT_EQ(FindBurnTool(), dir.file("xol/BrennoCd.exe"));
  // A file named directly; a value that names nothing falls to "Brenno".
  Value("BrennoCD", dir.file("nothing"));
  EXPECT_EQ(FindBurnTool(), "");
  Value("Brenno", dir.file("xol/BrennoCd.exe"));
  EXPECT_EQ(FindBurnTool(), dir.file("xol/BrennoCd.exe"));
  // The DVD program: "Kerdova", then "Sandrovid" with its own file name.
  Program(dir.file("sv/sandrovid.exe"));
  Value("Kerdova", dir.file("sv"));
  EXPECT_EQ(FindDvdTool(), "");
  Value("Sandrovid", dir.file("sv"));
  EXPECT_EQ(FindDvdTool(), dir.file("sv/sandrovid.exe"));
}

TEST_F(BurnTools, WithoutTheVendorsProgramABurnerOnThePathTakesTheFiles) {
  EXPECT_FALSE(FindBurner().Found());
  test::WriteText(dir.file("bin/k3b"), "not executable");
  EXPECT_FALSE(FindBurner().Found());
  Program(dir.file("bin/xfburn"));
  Program(dir.file("bin/k3b"));
  TBurner b = FindBurner();
  EXPECT_EQ(b.Path, dir.file("bin/k3b"));  // k3b is tried before xfburn
  EXPECT_FALSE(b.Vendor);

  const std::string brn = CompilationFileName(dir.file("data"), "sdm", 0);
  EXPECT_EQ(brn, dir.file("data/sdm_0.brn"));
  fs::create_directories(dir.file("data"));
  ASSERT_TRUE(WriteCompilationFile(brn, {"/videos/holiday trip.avi", "/videos/b.avi"}));
  EXPECT_EQ(test::ReadText(brn), "/videos/holiday trip.avi\r\n/videos/b.avi\r\n");
  EXPECT_EQ(BurnCommand(b, brn),
            (std::vector<std::string>{dir.file("bin/k3b"), "--data", "/videos/holiday trip.avi", "/videos/b.avi"}));
  EXPECT_FALSE(WriteCompilationFile(dir.file("missing/sdm_0.brn"), {"x"}));

  // The vendor's program, when the registry names it, wins and gets the file.
  Program(dir.file("xol/BrennoCd.exe"));
  Value("Brenno", dir.file("xol"));
  b = FindBurner();
  EXPECT_TRUE(b.Vendor);
  EXPECT_EQ(BurnCommand(b, brn), (std::vector<std::string>{dir.file("xol/BrennoCd.exe"), "/datafl", brn}));
}
