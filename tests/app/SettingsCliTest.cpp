// The settings command: what one run of the program stores, the next one reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/U_SysUtils.h"
#include "testsupport/TestSupport.h"

using sdm::test::ReadText;
using sdm::test::RunCli;
using sdm::test::TempDir;
using sdm::test::WriteText;

namespace {
class SettingsCli : public sdm::test::PrivateRegistryTest {};
}  // namespace

TEST_F(SettingsCli, AValueSurvivesARestart) {
  auto r = RunCli({"settings", "get", "LastFCC"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\n");
  ASSERT_EQ(RunCli({"settings", "set", "LastFCC", "MJPG"}).status, 0);
  ASSERT_EQ(RunCli({"settings", "set", "OutPath", "/home/ann/Videos/My Films/"}).status, 0);
  r = RunCli({"settings", "get", "lastfcc"});
  EXPECT_EQ(r.out, "MJPG\n");
  r = RunCli({"settings", "list"});
  EXPECT_EQ(r.out, "LastFCC=MJPG\nOutPath=/home/ann/Videos/My Films/\n");
  EXPECT_NE(ReadText(UserHive()).find("\"LastFCC\"=\"MJPG\""), std::string::npos);
}

TEST_F(SettingsCli, BadUsageAndUnwritableHive) {
  EXPECT_EQ(RunCli({"settings"}).status, 2);
  EXPECT_EQ(RunCli({"settings", "get"}).status, 2);
  EXPECT_EQ(RunCli({"settings", "set", "OnlyName"}).status, 2);
  EXPECT_EQ(RunCli({"settings", "remove", "x"}).status, 2);
  // The hive's folder is taken by a file: the write fails and says so.
  WriteText(dir.file("blocked"), "");
  setenv("SLIDOMAT_REGISTRY_DIR", dir.file("blocked").c_str(), 1);
  auto r = RunCli({"settings", "set", "LastFCC", "MJPG"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot write the setting \"LastFCC\""), std::string::npos) << r.err;
}

TEST_F(SettingsCli, AGarbledHiveIsReportedAndKept) {
  WriteText(UserHive(), "garbage\n");
  auto r = RunCli({"settings", "get", "LastFCC"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("kept as"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(UserHive() + ".garbled"), "garbage\n");
}

TEST_F(SettingsCli, APortableCopyKeepsItsSettingsInItsIniFile) {
  // A copy in a folder of its own, on a machine without an uninstall entry.
  namespace fs = std::filesystem;
  fs::create_directories(dir.file("usb"));
  fs::copy_file(SDM_CLI, dir.file("usb/slidomat-cli"));
  Uninstall();
  auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv{dir.file("usb/slidomat-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    return sdm::test::RunCommand(argv);
  };
  ASSERT_EQ(run({"settings", "set", "LastFCC", "MJPG"}).status, 0);
  EXPECT_NE(ReadText(dir.file("usb/settings.ini")).find("LastFCC=MJPG"), std::string::npos);
  // Nothing of the program stays in the registry between runs...
  EXPECT_EQ(ReadText(UserHive()).find("Tarvenit"), std::string::npos);
  // ...and the next run finds the value all the same.
  EXPECT_EQ(run({"settings", "get", "LastFCC"}).out, "MJPG\n");
}

TEST_F(SettingsCli, PortableCopiesRunningAtOnceLoseNoValueAndSayWhatIsKept) {
  namespace fs = std::filesystem;
  fs::create_directories(dir.file("usb"));
  const std::string cli = dir.file("usb/slidomat-cli");
  fs::copy_file(SDM_CLI, cli);
  Uninstall();
  // Three programs setting twelve values each, all at once.
  const std::string loops =
      "for p in A B C; do (for i in 0 1 2 3 4 5 6 7 8 9 10 11; do \"$0\" settings set $p$i v$i || echo failed; "
      "done) & done; wait";
  const auto r = sdm::test::RunCommand({"sh", "-c", loops, cli});
  EXPECT_EQ(r.out + r.err, "");
  const std::string ini = ReadText(dir.file("usb/settings.ini"));
  for (const char* p : {"A", "B", "C"})
    for (int i = 0; i < 12; ++i)
      EXPECT_NE(ini.find(std::string(p) + std::to_string(i) + "=v" + std::to_string(i) + "\r\n"), std::string::npos)
          << p << i;
  // The last program to end cleared the registry.
  EXPECT_EQ(ReadText(UserHive()).find("Tarvenit"), std::string::npos);

  // settings.ini cannot be written: the run says so, fails, and the value is
  // really still in the registry.
  fs::remove(dir.file("usb/settings.ini"));
  fs::create_directory(dir.file("usb/settings.ini"));
  const auto failed = sdm::test::RunCommand({cli, "settings", "set", "LastFCC", "MJPG"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("the settings could not be written to " + dir.file("usb/settings.ini")), std::string::npos)
      << failed.err;
  EXPECT_NE(failed.err.find("they stay in the registry"), std::string::npos) << failed.err;
  EXPECT_NE(ReadText(UserHive()).find("\"LastFCC\"=\"MJPG\""), std::string::npos) << ReadText(UserHive());
}

TEST(ProgramVersion, TheCommandLineProgramCarriesTheVersionRecord) {
  const std::string v = sdm::GetFileVersionString(SDM_CLI);
  EXPECT_EQ(v, sdm::GetFileVersionString(sdm::ProgramFilePath()));
  EXPECT_EQ(std::count(v.begin(), v.end(), '.'), 3) << v;
  auto r = RunCli({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "slidomat-cli " + v + "\n");
}
