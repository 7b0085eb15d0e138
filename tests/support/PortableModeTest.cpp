#include <gtest/gtest.h>

#include <filesystem>

#include "platform/registry/Registry.h"
#include "support/PortableMode.h"
#include "support/SettingsStore.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
namespace fs = std::filesystem;

namespace {
class PortableMode : public test::PrivateRegistryTest {
protected:
  void SetUp() override {
    Uninstall();
    fs::create_directories(dir.file("usb"));
  }
  std::string Program() const { return dir.file("usb/slidomat"); }
};
}  // namespace

TEST_F(PortableMode, ACopyWithoutUninstallEntryLivesInItsSettingsFile) {
  test::WriteText(dir.file("usb/settings.ini"), "[Settings]\r\nLastFCC=MJPG\r\n[Settings_DWORD]\r\nlangue=1036\r\n");
  TPortableMode mode(Program());
  ASSERT_TRUE(mode.Portable());
  EXPECT_EQ(GetSetting("LastFCC"), "MJPG");
  EXPECT_EQ(GetSettingDWord("langue"), 1036u);
  SetSetting("OutPath", "/videos/");
  SetProgramLocation(kProductName, Program());
  ASSERT_TRUE(mode.Finish());
  const std::string ini = test::ReadText(dir.file("usb/settings.ini"));
  EXPECT_NE(ini.find("LastFCC=MJPG"), std::string::npos);
  EXPECT_NE(ini.find("OutPath=/videos/"), std::string::npos);
  EXPECT_NE(ini.find("langue=1036"), std::string::npos);
  TRegistry reg(HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.KeyExists(kCompanyKey));
  EXPECT_TRUE(mode.Finish());  // once only
}

TEST_F(PortableMode, AFailedExportKeepsTheKeysAndAnInstalledCopyTouchesNothing) {
  // settings.ini is a folder: it cannot be written, so nothing is deleted.
  fs::create_directories(dir.file("usb/settings.ini"));
  {
    TPortableMode mode(Program());
    SetSetting("LastFCC", "DIB ");
    EXPECT_FALSE(mode.Finish());
    EXPECT_EQ(GetSetting("LastFCC"), "DIB ");
  }
  fs::remove(dir.file("usb/settings.ini"));
  test::WriteText(dir.file("usb/settings.ini"), "[Settings]\r\nLastFCC=MJPG\r\n");
  fs::create_directories(dir.file("machine"));
  test::WriteText(dir.file("machine/HKEY_LOCAL_MACHINE.reg"),
                  "Slidomat registry hive 1\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvenit Slidomat]\n"
                  "\"DisplayName\"=\"Tarvenit Slidomat 1.0\"\n");
  TPortableMode installed(Program());
  EXPECT_FALSE(installed.Portable());
  EXPECT_EQ(GetSetting("LastFCC"), "DIB ");
  EXPECT_TRUE(installed.Finish());
  EXPECT_EQ(GetSetting("LastFCC"), "DIB ");
  EXPECT_EQ(test::ReadText(dir.file("usb/settings.ini")), "[Settings]\r\nLastFCC=MJPG\r\n");
}
