// The conversions between the model's types and Qt's, checked without a window.
#include <gtest/gtest.h>

#include <filesystem>

#include "testsupport/TestSupport.h"
#include "ui/U_TaskBarLauncher.h"
#include "ui/UiHelpers.h"

using namespace sdm;

TEST(UiHelpers, ClassicFiltersBecomeQtNameFilters) {
  EXPECT_EQ(DialogNameFilters("JPEG|*.jpeg;*.jpg|Bitmap|*.bmp"),
            QStringList({"JPEG (*.jpeg *.jpg)", "Bitmap (*.bmp)"}));
  // Labels that carry their own pattern list get the real one instead, since
  // Qt reads the patterns from the last parentheses.
  EXPECT_EQ(DialogNameFilters("MP3 files(*.mp3)|*.mp3"), QStringList({"MP3 files (*.mp3)"}));
  EXPECT_EQ(DialogNameFilters("JPEG Files (*.jpg, *.jpeg)|*.jpg;*.jpeg"), QStringList({"JPEG Files (*.jpg *.jpeg)"}));
  // A label without its pattern part is dropped rather than made up.
  EXPECT_EQ(DialogNameFilters("AVI Files|*.avi|Dangling"), QStringList({"AVI Files (*.avi)"}));
  EXPECT_TRUE(DialogNameFilters("").isEmpty());
}

TEST(UiHelpers, PicturesKeepTheirOrientationAndColours) {
  // A 2 x 2 DIB stored bottom row first: the top row is red, green; the
  // bottom row blue, white.
  TDib24 dib(2, 2);
  auto put = [&](int topY, int x, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = dib.TopRow(topY) + 3 * x;
    p[0] = b, p[1] = g, p[2] = r;
  };
  put(0, 0, 255, 0, 0);
  put(0, 1, 0, 255, 0);
  put(1, 0, 0, 0, 255);
  put(1, 1, 255, 255, 255);
  const QImage image = DibToImage(dib);
  ASSERT_EQ(image.size(), QSize(2, 2));
  EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(image.pixel(1, 0), qRgb(0, 255, 0));
  EXPECT_EQ(image.pixel(0, 1), qRgb(0, 0, 255));
  EXPECT_EQ(image.pixel(1, 1), qRgb(255, 255, 255));
  EXPECT_TRUE(DibToImage(TDib24()).isNull());

  TBitmap32 bitmap(3, 1);
  bitmap.SetPixel(0, 0, Color32(10, 20, 30));
  bitmap.SetPixel(2, 0, Color32(200, 100, 50, 0));  // alpha never shows
  const QImage b = BitmapToImage(bitmap);
  EXPECT_EQ(b.pixel(0, 0), qRgb(10, 20, 30));
  EXPECT_EQ(b.pixel(2, 0), qRgb(200, 100, 50));
}

TEST(UiHelpers, DataFilesAreFoundInstalledOrBesideAPortableCopy) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  fs::create_directories(dir.file("usr/bin"));
  fs::create_directories(dir.file("usr/share/slidomat/help"));
  fs::create_directories(dir.file("usb/data"));
  test::WriteText(dir.file("usr/share/slidomat/help/index.html"), "x");
  test::WriteText(dir.file("usb/data/ChangeLog"), "x");
  EXPECT_EQ(FindDataFile(dir.file("usr/bin/slidomat"), "help/index.html"),
            dir.file("usr/bin/../share/slidomat/help/index.html"));
  EXPECT_EQ(FindDataFile(dir.file("usb/slidomat"), "ChangeLog"), dir.file("usb/data/ChangeLog"));
  EXPECT_EQ(FindDataFile(dir.file("usb/slidomat"), "help/index.html"), "");
}

TEST(TaskbarLauncher, ProgressIsAFractionInWholePercentShownOnlyWhileAJobRuns) {
  const int normal = 2, none = 0;
  auto p = TLauncherEntry::Properties(normal, 1, 3);
  EXPECT_DOUBLE_EQ(p["progress"].toDouble(), 0.33);
  EXPECT_TRUE(p["progress-visible"].toBool());
  EXPECT_DOUBLE_EQ(TLauncherEntry::Properties(normal, 3, 3)["progress"].toDouble(), 1.0);
  EXPECT_DOUBLE_EQ(TLauncherEntry::Properties(normal, 7, 3)["progress"].toDouble(), 1.0);
  // Position 0 (every job ends there), no maximum, or the "none" state hide it.
  EXPECT_FALSE(TLauncherEntry::Properties(normal, 0, 100)["progress-visible"].toBool());
  EXPECT_FALSE(TLauncherEntry::Properties(normal, 5, 0)["progress-visible"].toBool());
  EXPECT_DOUBLE_EQ(TLauncherEntry::Properties(normal, 5, 0)["progress"].toDouble(), 0.0);
  EXPECT_FALSE(TLauncherEntry::Properties(none, 5, 10)["progress-visible"].toBool());
}
