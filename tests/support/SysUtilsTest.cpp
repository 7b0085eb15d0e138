#include "support/U_SysUtils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/MessageBoxes.h"
#include "support/TaskBarProgress.h"
#include "support/UserInteraction.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadText;
using sdm::test::TempDir;
using sdm::test::WriteText;
namespace fs = std::filesystem;

TEST(SysUtils, FormatDurationSwitchesToHoursAtSixtyMinutes) {
  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(59), "0:59");
  EXPECT_EQ(FormatDuration(61), "1:01");
  EXPECT_EQ(FormatDuration(3599), "59:59");
  EXPECT_EQ(FormatDuration(3600), "1:00:00");
  EXPECT_EQ(FormatDuration(3725), "1:02:05");
  EXPECT_EQ(FormatDuration(360000), "100:00:00");
}

TEST(SysUtils, StringTestsClampAndIgnoreCase) {
  EXPECT_EQ(LeftStr("abcdef", 2), "ab");
  EXPECT_EQ(LeftStr("abc", 10), "abc");
  EXPECT_EQ(LeftStr("abc", -1), "");
  EXPECT_EQ(RightStr("abcdef", 2), "ef");
  EXPECT_EQ(RightStr("abc", 99), "abc");
  EXPECT_EQ(RightStr("abc", 0), "");
  EXPECT_TRUE(StartsText("Tarvenit Slidomat 1.0", "tarvenit slidomat"));
  EXPECT_FALSE(StartsText("Slidomat", "Tarvenit Slidomat"));
  EXPECT_TRUE(EndsText("lang.spk", ".SPK"));
  EXPECT_FALSE(EndsText("spk", ".SPK"));
  EXPECT_TRUE(StartsStr("Slidomat", "Slido"));
  EXPECT_FALSE(StartsStr("Slidomat", "slido"));
  EXPECT_TRUE(ContainsText("UNKNOWN", "build unknown lab"));  // Sub comes first
  EXPECT_FALSE(ContainsText("build unknown lab", "UNKNOWN"));
  EXPECT_EQ(UrlEncode("Slidomat 1.0_x-y~"), "Slidomat%201.0_x-y%7E");
  EXPECT_EQ(UrlEncode("a/b?c=\xC3\xA9"), "a%2Fb%3Fc%3D%C3%A9");
}

TEST(SysUtils, SystemDescriptionLines) {
  EXPECT_EQ(GetNTName(10, 0, 19999), "10.0.19999 (Windows10)");
  EXPECT_EQ(GetNTName(10, 0, 20000), "11.0.20000 (Windows11)");
  EXPECT_EQ(GetNTName(6, 1, 7601), "6.1 (Seven)");
  EXPECT_EQ(GetNTName(4, 0, 1381), "4.0");
  auto lines = OperatingSystemLogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(StartsStr(lines[0], "Windows : Linux ")) << lines[0];
  // This test program has the machine's own word size, so it is no 32-bit guest.
  EXPECT_EQ(lines[1], sizeof(void*) == 8 ? "64Bits : No" : lines[1]);
  EXPECT_EQ(lines[2], std::string("Administrator : ") + (geteuid() == 0 ? "Yes" : lines[2].substr(16)));
}

TEST(SysUtils, FileLayerRefusesBadModesAndShortPaths) {
  TempDir dir;
  const std::string f = dir.file("data.bin");
  WriteText(f, "keep me");
  EXPECT_EQ(OpenFileLong(f, 3), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFileLong(f, 0x50 | 2), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFileLong("", 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadText(f), "keep me");
  THandle h = OpenFileLong(f, 0x20);  // read, others may read
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandleLong(h);
  EXPECT_EQ(CreateFileLong("ab", GENERIC_WRITE, 0, INVALID_HANDLE_VALUE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileLong(f, GENERIC_WRITE, 0, INVALID_HANDLE_VALUE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadText(f), "keep me");
  EXPECT_EQ(CreateFileLong(dir.file("none"), GENERIC_READ, 0, INVALID_HANDLE_VALUE, 0, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CreateDirectoryLong(dir.file("sub")));
  EXPECT_FALSE(CreateDirectoryLong(dir.file("sub")));
  EXPECT_TRUE(DirectoryExistsLong(dir.file("sub")));
  EXPECT_FALSE(FileExistsLong(dir.file("sub")));
  EXPECT_TRUE(FileExistsLong(f));
  EXPECT_TRUE(DirectoryExistsLong("/"));
  EXPECT_EQ(IncludeTrailingBackslashW(""), "");
  EXPECT_EQ(IncludeTrailingBackslashW("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingBackslashW("/a/"), "/a/");
  EXPECT_EQ(ExtractFileNameW("/a/b.jpg"), "b.jpg");
}

TEST(SysUtils, FileSizesBeyondFourGiB) {
  TempDir dir;
  const std::string f = dir.file("big.avi");
  // A sparse file: the size is real, the disk space is not used.
  WriteText(f, "");
  const int64_t size = (5LL << 30) + 123;
  if (truncate(f.c_str(), size) != 0) GTEST_SKIP() << "file system refuses large sparse files";
  EXPECT_EQ(FileSizeOf(f), size);
  TFindData d;
  TSearchHandle s = FindFirstLong(dir.file("BIG.*"), d);
  ASSERT_NE(s, INVALID_SEARCH_HANDLE);
  EXPECT_EQ(d.size, size);
  EXPECT_EQ(d.name, "big.avi");
  FindCloseLong(s);
  EXPECT_TRUE(FileIsNonEmpty(f));
  WriteText(dir.file("empty"), "");
  EXPECT_FALSE(FileIsNonEmpty(dir.file("empty")));
  EXPECT_FALSE(FileIsNonEmpty(dir.file("missing")));
  EXPECT_EQ(FileSizeOf(dir.file("missing")), 0);
}

TEST(SysUtils, SearchesAndListings) {
  TempDir dir;
  const std::string root = dir.path().string();
  fs::create_directories(root + "/b/deep");
  fs::create_directories(root + "/a");
  WriteText(root + "/z.SPK", "");
  WriteText(root + "/y.spk", "");
  WriteText(root + "/x.txt", "");
  WriteText(root + "/b/deep/w.Spk", "");
  WriteText(root + "/b/Readme.TXT", "");

  std::vector<std::string> found;
  TFindData d;
  for (TSearchHandle s = FindFirstLong(root + "/*.SPK", d); s;) {
    found.push_back(d.name);
    if (!FindNextLong(s, d)) {
      FindCloseLong(s);
      break;
    }
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"y.spk", "z.SPK"}));
  EXPECT_EQ(FindFirstLong(root + "/*.bmp", d), INVALID_SEARCH_HANDLE);

  std::vector<std::string> list;
  ListSubfolders(root, list);
  EXPECT_EQ(list, (std::vector<std::string>{root + "/a", root + "/b"}));
  list.clear();
  ListFiles(root + "/", list);
  EXPECT_EQ(list, (std::vector<std::string>{root + "/x.txt", root + "/y.spk", root + "/z.SPK"}));
  list.clear();
  FindFilesByExt(root, ".spk", list);
  EXPECT_EQ(list, (std::vector<std::string>{root + "/y.spk", root + "/z.SPK", root + "/b/deep/w.Spk"}));
  list.clear();
  FindFilesByName(root, "readme.txt", list);
  EXPECT_EQ(list, (std::vector<std::string>{root + "/b/Readme.TXT"}));
  list.clear();
  FindFileByName(root, "readme.txt", list);
  EXPECT_TRUE(list.empty()) << "not recursive";
  ListFiles(root + "/missing", list);
  EXPECT_TRUE(list.empty());
}

TEST(SysUtils, AppDataFolderFallsBackToTheProgramFolder) {
  TempDir dir;
  const std::string data = dir.file("data");
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  EXPECT_EQ(GetAppDataFolder("/opt/slidomat/bin/slidomat", "Slidomat"), data + "/Tarvenit/Slidomat/");
  EXPECT_TRUE(DirectoryExistsLong(data + "/Tarvenit/Slidomat"));
  // A file where the company folder should be: nothing can be made there.
  const std::string blocked = dir.file("blocked");
  fs::create_directories(blocked);
  WriteText(blocked + "/Tarvenit", "in the way");
  setenv("XDG_DATA_HOME", blocked.c_str(), 1);
  EXPECT_EQ(GetAppDataFolder("/opt/slidomat/bin/slidomat", "Slidomat"), "/opt/slidomat/bin/");
  EXPECT_EQ(ReadText(blocked + "/Tarvenit"), "in the way");
  unsetenv("XDG_DATA_HOME");
}

namespace {
struct TRecordingUi : IUserInteraction {
  std::string caption, text;
  int buttons = -1, kind = -1, answer = mrYes;
  int MessageBox(const std::string& c, const std::string& t, int b, int k) override {
    caption = c;
    text = t;
    buttons = b;
    kind = k;
    return answer;
  }
};
}  // namespace

TEST(SysUtils, MessageBoxesTakeTheirCaptionFromTheKind) {
  TRecordingUi ui;
  SetUserInteraction(&ui);
  EXPECT_EQ(ShowMessageBox("Disk full", mbOk, mkError), mrYes);
  EXPECT_EQ(ui.caption, "Error");
  ShowMessageBox("x", mbOkCancel, mkInformation);
  EXPECT_EQ(ui.caption, "Information");
  EXPECT_EQ(ui.buttons, mbOkCancel);
  ShowMessageBox("x", mbOk, 5);
  EXPECT_EQ(ui.caption, "");
  ShowMessageBox("x", 42, 0);
  EXPECT_EQ(ui.caption, "Message");
  EXPECT_EQ(ui.buttons, mbOk);
  ui.answer = mrNo;
  EXPECT_EQ(AskYesNo("Output file already exists, and will be overwritten. Continue anyway ?"), mrNo);
  EXPECT_EQ(ui.caption, "Question");
  EXPECT_EQ(ui.buttons, mbYesNo);
  SetUserInteraction(nullptr);
}

TEST(SysUtils, TaskProgressKeepsItsState) {
  TTaskProgressBar none(0);
  none.SetPosition(50);
  EXPECT_EQ(none.Position(), 10) << "no button, no position";
  none.SetState(TTaskProgressBar::psError);
  EXPECT_EQ(none.State(), TTaskProgressBar::psError);

  // Declared before the bar: its destructor reports the end of its progress.
  int lastFlag = -1;
  int64_t lastPos = -1, lastMax = -1;
  TTaskProgressBar bar(1);
  EXPECT_EQ(bar.State(), TTaskProgressBar::psNone);  // without progress until used
  EXPECT_FALSE(bar.Active());
  bar.OnChange = [&](int f, int64_t p, int64_t m) {
    lastFlag = f;
    lastPos = p;
    lastMax = m;
  };
  bar.SetActive(true);
  EXPECT_EQ(lastFlag, 2);
  bar.SetMax(200);
  bar.SetPosition(150);
  EXPECT_EQ(lastPos, 150);
  EXPECT_EQ(lastMax, 200);
  bar.SetState(TTaskProgressBar::psPaused);
  EXPECT_EQ(lastFlag, 8);
  EXPECT_EQ(TTaskProgressBar::StateFlag(TTaskProgressBar::psError), 4);
}
