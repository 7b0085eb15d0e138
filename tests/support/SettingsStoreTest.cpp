#include "support/SettingsStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "platform/registry/Registry.h"
#include "support/U_Log.h"
#include "support/U_SysUtils.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadText;
using sdm::test::RunCommand;
using sdm::test::TempDir;
using sdm::test::WriteText;
namespace fs = std::filesystem;

namespace {

class SettingsStore : public test::PrivateRegistryTest {
protected:
  void SetUp() override {
    Uninstall();
    TakeRegistryProblems();
  }
  static void AddUninstallEntry(TRootKey root, const std::string& key, const std::string* displayName) {
    TRegistry reg(root);
    ASSERT_TRUE(reg.OpenKey(std::string(kUninstallKey) + "\\" + key, true));
    if (displayName) reg.WriteString("DisplayName", *displayName);
  }
};

}  // namespace

TEST_F(SettingsStore, FirstStartReadsEmptyAndCreatesTheKey) {
  TRegistry reg;
  EXPECT_FALSE(reg.KeyExists(kProductKey));
  EXPECT_EQ(GetSetting("LastFCC"), "");
  EXPECT_TRUE(reg.KeyExists(kProductKey));
  ASSERT_TRUE(reg.OpenKeyReadOnly(kProductKey));
  EXPECT_TRUE(reg.GetValues().empty());

  EXPECT_TRUE(SetSetting("LastFCC", "MJPG"));
  EXPECT_TRUE(SetSettingBool("DebugMode", true));
  EXPECT_EQ(GetSetting("lastfcc"), "MJPG");
  EXPECT_EQ(GetSetting("DebugMode"), "1");
  SetSettingBool("DebugMode", false);
  EXPECT_EQ(GetSetting("DebugMode"), "0");
  EXPECT_TRUE(SetSettingDWord("langue", 1036));
  EXPECT_EQ(GetSetting("langue"), "") << "only string values are read as settings";
  EXPECT_EQ(GetSettingDWord("langue").value_or(0), 1036u);
}

TEST_F(SettingsStore, IniRoundTripWithStringsAndDwords) {
  const std::string ini = dir.file("settings.ini");
  WriteText(ini,
            "; kept comment\r\n[Settings]\r\nDebugMode=1\r\nPicsPath = /home/ann/My Pictures/ \r\n"
            "\r\n[Settings_DWORD]\r\nlangue=1036\r\nbroken=12abc\r\nnegative=-2\r\nhex=$10\r\n[Other]\r\nx=y\r\n");
  SetSetting("Kept", "from before");
  ImportSettingsFromIni("Slidomat", ini);
  EXPECT_EQ(GetSetting("DebugMode"), "1");
  EXPECT_EQ(GetSetting("PicsPath"), "/home/ann/My Pictures/");
  EXPECT_EQ(GetSetting("Kept"), "from before");
  EXPECT_EQ(GetSettingDWord("langue").value_or(0), 1036u);
  EXPECT_EQ(GetSettingDWord("broken").value_or(99), 0u);
  EXPECT_EQ(GetSettingDWord("negative").value_or(0), 0xFFFFFFFEu);
  EXPECT_EQ(GetSettingDWord("hex").value_or(0), 16u);
  EXPECT_EQ(GetSetting("x"), "") << "other sections are not imported";

  SetSetting("OutPath", "  spaced  ");
  SetSetting("AudioPath", "\"quoted\"");
  ASSERT_TRUE(ExportSettingsToIni("Slidomat", ini));
  const std::string text = ReadText(ini);
  EXPECT_NE(text.find("; kept comment\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[Other]\r\nx=y\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("negative=-2\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Kept=from before\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("DebugMode=1", text.find("DebugMode=1") + 1), std::string::npos) << "updated, not repeated";

  // Back in through a fresh registry: every value is as it was.
  ASSERT_TRUE(DeleteProductKey("Slidomat"));
  ImportSettingsFromIni("Slidomat", ini);
  EXPECT_EQ(GetSetting("OutPath"), "  spaced  ");
  EXPECT_EQ(GetSetting("AudioPath"), "\"quoted\"");
  EXPECT_EQ(GetSetting("PicsPath"), "/home/ann/My Pictures/");
  EXPECT_EQ(GetSettingDWord("negative").value_or(0), 0xFFFFFFFEu);
}

TEST_F(SettingsStore, ExportThatCannotBeWrittenKeepsFileAndRegistry) {
  const std::string ini = dir.file("settings.ini");
  WriteText(ini, "[Settings]\r\nDebugMode=1\r\n");
  SetSetting("Caption", "two\nlines");
  EXPECT_FALSE(ExportSettingsToIni("Slidomat", ini));
  EXPECT_EQ(ReadText(ini), "[Settings]\r\nDebugMode=1\r\n");
  EXPECT_EQ(GetSetting("Caption"), "two\nlines");
  // A folder that does not exist cannot take the file.
  EXPECT_FALSE(ExportSettingsToIni("Slidomat", dir.file("none") + "/settings.ini"));
}

TEST_F(SettingsStore, AnIniThatIsNotAPlainFileIsLeftAlone) {
  // A named pipe in place of settings.ini blocked the start of a portable copy.
  const std::string ini = dir.file("settings.ini");
  ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0);
  SetSetting("LastFCC", "MJPG");
  std::string problem;
  ImportSettingsFromIni("Slidomat", ini, &problem);
  EXPECT_NE(problem.find("is a named pipe"), std::string::npos) << problem;
  EXPECT_FALSE(ExportSettingsToIni("Slidomat", ini, &problem));
  EXPECT_NE(problem.find("is a named pipe"), std::string::npos) << problem;
  EXPECT_TRUE(fs::is_fifo(ini));
  EXPECT_EQ(GetSetting("LastFCC"), "MJPG");
}

TEST_F(SettingsStore, AnExportImportWouldRefuseIsNotWritten) {
  // The portable copy deletes its registry key after a good export; a file
  // larger than import reads would have lost every setting at the next start.
  const std::string ini = dir.file("settings.ini");
  WriteText(ini, "[Settings]\r\nDebugMode=1\r\n");
  SetSetting("Caption", std::string(5 << 20, 'c'));
  std::string problem;
  EXPECT_FALSE(ExportSettingsToIni("Slidomat", ini, &problem));
  EXPECT_NE(problem.find("would grow beyond 4 MiB"), std::string::npos) << problem;
  EXPECT_EQ(ReadText(ini), "[Settings]\r\nDebugMode=1\r\n");
  EXPECT_EQ(GetSetting("Caption").size(), 5u << 20);
  // Nor is a file of that size read.
  WriteText(ini, "[Settings]\r\nBig=" + std::string(5 << 20, 'b') + "\r\n");
  ImportSettingsFromIni("Slidomat", ini, &problem);
  EXPECT_NE(problem.find("is too large"), std::string::npos) << problem;
  EXPECT_EQ(GetSetting("Big"), "");
}

TEST_F(SettingsStore, TwentyThousandIniValuesGoInAndOutWhole) {
  // Each value once took a write of the whole hive on import and a pass over
  // the whole file on export.
  std::string text = "[Settings]\r\n";
  for (int i = 0; i < 20000; ++i) text += "s" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  text += "S5=duplicate, the first wins\r\n[Settings_DWORD]\r\nlangue=1036\r\n";
  const std::string ini = dir.file("settings.ini");
  WriteText(ini, text);
  std::string problem = "?";
  ImportSettingsFromIni("Slidomat", ini, &problem);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(GetSetting("s19999"), "19999");
  EXPECT_EQ(GetSetting("s5"), "5");
  EXPECT_EQ(GetSettingDWord("langue").value_or(0), 1036u);

  SetSetting("s7", "changed");
  SetSetting("added", "new");
  ASSERT_TRUE(ExportSettingsToIni("Slidomat", ini, &problem)) << problem;
  ASSERT_TRUE(DeleteProductKey("Slidomat"));
  ImportSettingsFromIni("Slidomat", ini);
  EXPECT_EQ(GetSetting("s7"), "changed");
  EXPECT_EQ(GetSetting("added"), "new");
  EXPECT_EQ(GetSetting("s0"), "0");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly(kProductKey));
  EXPECT_EQ(reg.GetValues().size(), 20002u);
  // The new key went into its section, right after the keys already there.
  const std::string out = ReadText(ini);
  EXPECT_NE(out.find("S5=duplicate, the first wins\r\nadded=new\r\n[Settings_DWORD]"), std::string::npos);
}

TEST_F(SettingsStore, PortableRunLeavesNoKeyBehind) {
  const std::string ini = dir.file("settings.ini");
  WriteText(ini, "[Settings]\nDebugMode=1\n");
  ASSERT_FALSE(IsProgramInstalled(kUninstallDisplayName));
  // Start-up
  ImportSettingsFromIni(kProductName, ini);
  ASSERT_TRUE(SetProgramLocation(kProductName, "/opt/portable/slidomat"));
  EXPECT_EQ(GetSetting("DebugMode"), "1");
  {
    TKLog log(dir.file("x.log"), GetSetting("DebugMode") == "1", 100, false);
    log.AddLine("diagnostic", 0);
    EXPECT_EQ(log.Count(), 1u) << "debug mode from settings.ini is on in this run";
  }
  SetSetting("LastFCC", "XVID");
  SetSettingDWord("langue", 1031);
  // Shutdown
  EXPECT_EQ(CleanVirtualStore("/opt/portable/"), "");
  RemoveEmptyCompanyDataFolder();
  ASSERT_TRUE(ExportSettingsToIni(kProductName, ini));
  DeleteProductKey(kProductName);
  DeleteProgramLocation(kProductName);
  DeleteCompanyKeyIfEmpty();

  TRegistry reg;
  EXPECT_FALSE(reg.KeyExists(kCompanyKey));
  const std::string text = ReadText(ini);
  for (const char* line : {"DebugMode=1", "LastFCC=XVID", "langue=1031"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
}

TEST_F(SettingsStore, CompanyKeyStaysWhileSomethingElseIsInIt) {
  SetProgramLocation("Slidomat", "/x");
  TRegistry other;
  ASSERT_TRUE(other.OpenKey("SOFTWARE\\Tarvenit\\OtherProduct", true));
  DeleteProgramLocation("Slidomat");
  DeleteCompanyKeyIfEmpty();
  EXPECT_TRUE(other.KeyExists(kCompanyKey));
  other.DeleteKey("SOFTWARE\\Tarvenit\\OtherProduct");
  SetProgramLocation("OtherTitle", "/y");
  DeleteCompanyKeyIfEmpty();
  EXPECT_TRUE(other.KeyExists(kCompanyKey)) << "a value keeps it too";
  DeleteProgramLocation("OtherTitle");
  DeleteCompanyKeyIfEmpty();
  EXPECT_FALSE(other.KeyExists(kCompanyKey));
}

TEST_F(SettingsStore, InstalledMeansAnUninstallEntryWithThePrefix) {
  const std::string productOnly = "Slidomat";
  AddUninstallEntry(HKEY_LOCAL_MACHINE, "{1234}", &productOnly);
  EXPECT_FALSE(IsProgramInstalled("Tarvenit Slidomat"));
  const std::string versioned = "tarvenit slidomat 2.1.0.7";
  AddUninstallEntry(HKEY_LOCAL_MACHINE, "{5678}", &versioned);
  EXPECT_TRUE(IsProgramInstalled("Tarvenit Slidomat"));

  TRegistry(HKEY_LOCAL_MACHINE).DeleteKey(kUninstallKey);
  EXPECT_FALSE(IsProgramInstalled("Tarvenit Slidomat"));
  // Without a display name the entry goes by its key name; the user's own
  // uninstall entries count as well.
  AddUninstallEntry(HKEY_CURRENT_USER, "Tarvenit Slidomat", nullptr);
  EXPECT_TRUE(IsProgramInstalled("Tarvenit Slidomat"));
}

TEST_F(SettingsStore, InstallStepWritesTheUninstallEntry) {
  if (!sdm::test::HaveTool("cmake")) GTEST_SKIP() << "cmake not on PATH";
  const std::string prefix = dir.file("prefix");
  auto r = RunCommand({"cmake", "--install", SDM_BINARY_DIR, "--prefix", prefix, "--component", "registry"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  setenv("SLIDOMAT_MACHINE_REGISTRY_DIR", (prefix + "/share/slidomat").c_str(), 1);
  EXPECT_TRUE(IsProgramInstalled(kUninstallDisplayName));
  TRegistry reg(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly(std::string(kUninstallKey) + "\\Tarvenit Slidomat"));
  EXPECT_EQ(reg.ReadString("InstallLocation").value_or(""), prefix);
  EXPECT_TRUE(TakeRegistryProblems().empty());
}

TEST_F(SettingsStore, VirtualStoreCleaningRemovesLanguageFilesOnly) {
  EXPECT_EQ(CleanVirtualStore("/opt/slidomat/"), "");
  const std::string store = dir.file("cache") + "/VirtualStore/opt/slidomat/";
  fs::create_directories(store + "nested.SPK");
  fs::create_directories(dir.file("outside"));
  WriteText(store + "SDM_0000040C.SPK", "");
  WriteText(store + "lower.spk", "");
  WriteText(store + "nested.SPK/inner.SPK", "");
  WriteText(store + "keep.txt", "mine");
  WriteText(dir.file("outside") + "/precious.SPK", "");
  fs::create_directory_symlink(dir.file("outside"), store + "link.SPK");

  EXPECT_EQ(CleanVirtualStore("/opt/slidomat/"), store);
  EXPECT_FALSE(fs::exists(store + "SDM_0000040C.SPK"));
  EXPECT_FALSE(fs::exists(store + "lower.spk"));
  EXPECT_FALSE(fs::exists(store + "nested.SPK"));
  EXPECT_TRUE(fs::exists(store + "keep.txt")) << "other files stay, and so does their folder";
  EXPECT_TRUE(fs::exists(dir.file("outside") + "/precious.SPK")) << "links are not followed";
  fs::remove(store + "keep.txt");
  EXPECT_EQ(CleanVirtualStore("/opt/slidomat"), store);
  EXPECT_FALSE(fs::exists(store));
}

TEST_F(SettingsStore, CompanyDataFolderGoesOnlyWhenItHasNoSubfolder) {
  const std::string company = dir.file("data") + "/Tarvenit";
  fs::create_directories(company + "/Slidomat");
  RemoveEmptyCompanyDataFolder();
  EXPECT_TRUE(fs::exists(company));
  fs::remove(company + "/Slidomat");
  RemoveEmptyCompanyDataFolder();
  EXPECT_FALSE(fs::exists(company));
}

TEST_F(SettingsStore, GarbledHiveReachesTheLogAndLosesNothing) {
  const std::string hive = dir.file("user") + "/HKEY_CURRENT_USER.reg";
  WriteText(hive, "\x89PNG garbage");
  EXPECT_EQ(GetSetting("LastFCC"), "");
  TKLog log(dir.file("x.log"), false, 10, false);
  EXPECT_EQ(LogRegistryProblems(log), 1);
  ASSERT_EQ(log.Count(), 1u);
  EXPECT_TRUE(log.Lines()[0].rfind("Error\t", 0) == 0);
  EXPECT_EQ(ReadText(hive + ".garbled"), "\x89PNG garbage");
  EXPECT_TRUE(SetSetting("LastFCC", "DIB "));
  EXPECT_EQ(GetSetting("LastFCC"), "DIB ");
}
