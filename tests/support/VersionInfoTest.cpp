#include "support/VersionInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "support/U_SysUtils.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadText;
using sdm::test::TempDir;
using sdm::test::WriteText;

namespace {
// The project version as the top CMakeLists.txt states it, read independently.
std::string ProjectVersion() {
  const std::string cmake = ReadText(std::string(SDM_SOURCE_DIR) + "/CMakeLists.txt");
  const std::string key = "project(Slidomat VERSION ";
  const size_t at = cmake.find(key);
  if (at == std::string::npos) return "?";
  std::string v;
  for (size_t i = at + key.size();
       i < cmake.size() && (std::isdigit(static_cast<unsigned char>(cmake[i])) || cmake[i] == '.'); ++i)
    v += cmake[i];
  while (std::count(v.begin(), v.end(), '.') < 3) v += ".0";
  return v;
}
}  // namespace

TEST(Version, PackVersionFieldsAndWrapping) {
  EXPECT_EQ(PackVersion("1.2.3.4"), 0x01020C04u);  // 1<<24 | 2<<16 | 3<<10 | 4
  EXPECT_EQ(PackVersion("1,2,3,4"), 0x01020C04u);
  EXPECT_EQ(PackVersion("1.2.3"), 0x01020C00u);
  EXPECT_EQ(PackVersion("1.2.3.4 beta"), 0x01020C04u);
  EXPECT_EQ(PackVersion("(1.2.3.4)"), 0x01020C04u);
  EXPECT_EQ(PackVersion("7"), 0x07000000u);
  EXPECT_EQ(PackVersion("1.2.3.4.5"), 0x01020C04u) << "a fifth field is dropped";
  EXPECT_EQ(PackVersion(""), 0u);
  EXPECT_EQ(VersionIntToText(PackVersion("10.20.30.40")), "10.20.30.40");
  EXPECT_EQ(VersionIntToText(PackVersion("2.4.0.17")), "2.4.0.17");
  EXPECT_EQ(VersionIntToText(PackVersion("1.2.3.1500")), "1.2.3.476");
  EXPECT_EQ(VersionIntToText(PackVersion("1.2.64.1024")), "1.2.0.0");
  EXPECT_EQ(VersionIntToText(PackVersion("300.2.3.4")), "44.2.3.4");
  EXPECT_EQ(VersionIntToText(0xFFFFFFFFu), "255.255.63.1023");
  // Absurdly long digit runs wrap instead of failing.
  EXPECT_NO_THROW(PackVersion("99999999999999999999.1"));
}

TEST(Version, TheProgramCarriesTheProjectVersion) {
  const std::string expected = ProjectVersion();
  EXPECT_EQ(ProgramVersionText(), expected);
  TVersionInfo info;
  info.SetToModule();
  EXPECT_EQ(info.FileVersion(), expected);
  EXPECT_TRUE(info.InfoLoaded());
  EXPECT_EQ(info.FileVersionInt(), PackVersion(expected));
  EXPECT_EQ(info.ProductName(), "Slidomat");
  EXPECT_EQ(info.CompanyName(), "Tarvenit");
  EXPECT_EQ(info.LanguageCount(), 1);
  EXPECT_EQ(GetFileVersionString(ProgramFilePath()), expected);
}

TEST(Version, OtherFiles) {
  TempDir dir;
  EXPECT_EQ(GetFileVersionString(dir.file("missing.exe")), "File not found");
  WriteText(dir.file("notes.txt"), "FileVersion=9.9.9.9");
  EXPECT_EQ(GetFileVersionString(dir.file("notes.txt")), "");
  // Not a file to read at all: a named pipe would block the start-up log.
  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
  EXPECT_EQ(GetFileVersionString(dir.file("pipe")), "");

  // A program file of ours found by its record, here placed across the
  // boundary of the pieces the search reads.
  std::string elf =
      "\x7F"
      "ELF";
  elf += std::string((1 << 20) - 10, '\0');
  elf += std::string("\x01SDM-VERSION") + "-RECORD\x02" + "FileVersion=(3.1.4.1)\nProductName=Other\n";
  elf += std::string(100, '\0');
  WriteText(dir.file("other"), elf);
  EXPECT_EQ(GetFileVersionString(dir.file("other")), "3.1.4.1");

  TVersionInfo info;
  info.SetFileName(dir.file("other"));
  EXPECT_EQ(info.ProductName(), "Other");
  EXPECT_EQ(info.FileMajorVersion(), 3u << 16 | 1u);
  EXPECT_EQ(info.FileMinorVersion(), 4u << 16 | 1u);
  // A name that does not exist keeps the file and what was read from it.
  info.SetFileName(dir.file("gone"));
  EXPECT_EQ(info.FileName(), dir.file("other"));
  EXPECT_TRUE(info.InfoLoaded());
  EXPECT_EQ(info.FileVersion(), "3.1.4.1");
  // A file without a record loads nothing.
  info.SetFileName(dir.file("notes.txt"));
  EXPECT_EQ(info.FileVersionInt(), 0u);
  EXPECT_FALSE(info.InfoLoaded());
}
