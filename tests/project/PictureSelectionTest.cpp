#include <gtest/gtest.h>

#include <filesystem>

#include "project/U_PictureSelection.h"
#include "testsupport/TestSupport.h"

using namespace sdm;

TEST(SortByFolderOrder, PickedFilesComeInTheFoldersOrder) {
  test::TempDir dir;
  for (const char* n : {"b.jpg", "a.jpg", "C.bmp", "d.jpg"}) test::WriteText(dir.file(n), "x");
  std::filesystem::create_directories(dir.file("sub"));
  test::TempDir other;
  test::WriteText(other.file("e.jpg"), "x");
  // Picked in reverse, one twice, one in other letter case, a folder and a
  // file of another folder among them.
  const auto sorted = SortByFolderOrder({dir.file("d.jpg"), dir.file("C.BMP"), dir.file("a.jpg"), dir.file("sub"),
                                         dir.file("a.jpg"), other.file("e.jpg")});
  EXPECT_EQ(sorted, (std::vector<std::string>{dir.file("C.bmp"), dir.file("a.jpg"), dir.file("d.jpg")}));
  EXPECT_TRUE(SortByFolderOrder({}).empty());
  // A selection whose first file's folder has gone keeps nothing.
  EXPECT_TRUE(SortByFolderOrder({dir.file("gone/x.jpg")}).empty());
}
