#include "project/StartArguments.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

namespace fs = std::filesystem;

TEST(StartArguments, FilesAndFoldersAsAFileManagerPassesThem) {
  test::TempDir dir;
  for (const char* name : {"b.jpg", "a.JPEG", "c.bmp", "notes.txt", ".hidden.jpg", "song.mp3", "show.sdm", "two.sdm"})
    test::WriteText(dir.file(name), "x");
  fs::create_directories(dir.file("trip/inner"));
  fs::create_directories(dir.file("empty"));
  for (const char* name : {"trip/2.jpg", "trip/1.bmp", "trip/readme.txt", "trip/inner/3.jpg", "empty/x.txt"})
    test::WriteText(dir.file(name), "x");

  const TStartArguments a =
      SortStartArguments({"-co", "/CO", "--first-argument",                           // switches, never files
                          dir.file("show.sdm"), dir.file("b.jpg"), dir.file("trip"),  // a project, a picture, a folder
                          dir.file("a.JPEG"), dir.file("song.mp3"), dir.file("missing.jpg"), dir.file("empty"),
                          dir.file("two.sdm"), "/dev/null"});
  EXPECT_EQ(a.ProjectFile, dir.file("show.sdm"));
  // In the order named; a folder's pictures by name, without its sub-folders.
  EXPECT_EQ(a.Pictures, (std::vector<std::string>{dir.file("b.jpg"), dir.file("trip/1.bmp"), dir.file("trip/2.jpg"),
                                                  dir.file("a.JPEG")}));
  // Files that may be a soundtrack: a second project is not taken as one.
  EXPECT_EQ(a.Others, (std::vector<std::string>{dir.file("song.mp3"), dir.file("two.sdm")}));
  ASSERT_EQ(a.LeftOut.size(), 3u);
  EXPECT_EQ(a.LeftOut[0].Path, dir.file("missing.jpg"));
  EXPECT_EQ(a.LeftOut[0].Reason, TLeftOutReason::NotFound);
  EXPECT_EQ(a.LeftOut[1].Path, dir.file("empty"));
  EXPECT_EQ(a.LeftOut[1].Reason, TLeftOutReason::EmptyFolder);
  EXPECT_EQ(a.LeftOut[2].Path, "/dev/null");
  EXPECT_EQ(a.LeftOut[2].Reason, TLeftOutReason::NotSupported);

  // A switch is a word that names nothing; an existing path never is one.
  EXPECT_TRUE(IsProgramSwitch("-co"));
  EXPECT_TRUE(IsProgramSwitch("/co"));
  EXPECT_FALSE(IsProgramSwitch("/common/pictures/a.jpg"));
  EXPECT_FALSE(IsProgramSwitch("/tmp"));
  EXPECT_FALSE(IsProgramSwitch(""));
  EXPECT_TRUE(SortStartArguments({}).Pictures.empty());
}

}  // namespace
}  // namespace sdm
