#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "project/U_ProjectFile.h"
#include "project/U_SlideProject.h"
#include "support/Errors.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadText;
using sdm::test::TempDir;
using sdm::test::WriteText;

namespace {

struct LoggedProject {
  TSlideProject project;
  std::vector<std::string> log;
  LoggedProject() {
    project.Log = [this](const std::string& m, int level) { log.push_back(std::to_string(level) + " " + m); };
  }
};

std::string Picture(const TempDir& dir, const std::string& name) {
  std::string path = dir.file(name);
  WriteText(path, "not decoded by the project file");
  return path;
}

}  // namespace

TEST(ProjectFile, SaveWritesHeaderThenPicturesWithCrLfAndOnlyDifferingCaptions) {
  TempDir dir;
  LoggedProject p;
  const std::string a = Picture(dir, "IMG_0001.jpg"), b = Picture(dir, "IMG_0002.jpg"), c = Picture(dir, "c.bmp");
  p.project.AddPicture(a + "\tArrival at the harbour");
  p.project.AddPicture(b);                    // caption is the file name: not written
  p.project.AddPicture(c + "\tC.BMP");        // differs in case only: written
  p.project.AddPicture(a + "\tleft\tright");  // a TAB inside the caption
  p.project.ToggleGreyscale();
  p.project.SetOutputPath("/videos/holiday.avi");

  const std::string written = SaveProject(p.project, dir.file("show"));
  EXPECT_EQ(written, dir.file("show.sdm"));
  EXPECT_EQ(ReadText(written), ";Effect=GreyScale\r\n;Sound=\r\n;Output=/videos/holiday.avi\r\n" + a +
                                   "\tArrival at the harbour\r\n" + b + "\r\n" + c + "\tC.BMP\r\n" + a +
                                   "\tleft\tright\r\n");

  p.project.ToggleSepia();
  p.project.ClearPictures();
  SaveProject(p.project, written);  // overwrites, keeps the name
  EXPECT_EQ(ReadText(written), ";Effect=Sepia\r\n;Sound=\r\n;Output=/videos/holiday.avi\r\n");
}

TEST(ProjectFile, ExtensionRuleIsCaseSensitive) {
  EXPECT_EQ(ProjectFileName("/a/show"), "/a/show.sdm");
  EXPECT_EQ(ProjectFileName("/a/show.sdm"), "/a/show.sdm");
  EXPECT_EQ(ProjectFileName("/a/show.SDM"), "/a/show.SDM.sdm");
  EXPECT_EQ(ProjectFileName("/a/show.txt"), "/a/show.txt.sdm");
  EXPECT_EQ(ProjectFileName("/a.sdm/show"), "/a.sdm/show.sdm");
}

TEST(ProjectFile, RoundTripKeepsOrderCaptionsAndTabs) {
  TempDir dir;
  LoggedProject p;
  const std::string a = Picture(dir, "a.jpg"), b = Picture(dir, "b.JPEG");
  p.project.AddPicture(b + "\tsecond\twith tab");
  p.project.AddPicture(a);
  p.project.AddPicture(b + "\tB.jpeg");
  p.project.SetOutputPath("/out/x.avi");
  const std::string file = SaveProject(p.project, dir.file("p.sdm"));

  LoggedProject q;
  q.project.SetOutputPath("/somewhere/else.avi");
  q.project.ToggleSepia();
  q.project.AddPicture(a + "\told");
  std::vector<std::string> sounds;
  LoadProject(q.project, file, {[&](const std::string& s) { sounds.push_back(s); }, {}, {}});
  EXPECT_EQ(q.project.PictureList().Items(), (std::vector<std::string>{b, a, b}));
  EXPECT_EQ(q.project.CaptionList().Items(), (std::vector<std::string>{"second\twith tab", "a.jpg", "B.jpeg"}));
  EXPECT_EQ(q.project.OutputPath(), "/out/x.avi");
  EXPECT_EQ(sounds, std::vector<std::string>{""});  // the empty ";Sound=" is offered, and ignored by the opener
  // No effect line: the file says neither effect is on, yet nothing switches
  // an effect off except an effect line.
  EXPECT_TRUE(q.project.Sepia());
}

TEST(ProjectFile, HeaderRules) {
  TempDir dir;
  const std::string a = Picture(dir, "a.jpg");
  const std::string file = dir.file("h.sdm");
  auto load = [&](const std::string& text, LoggedProject& p) {
    WriteText(file, text);
    LoadProject(p.project, file, {});
  };

  {  // No header at all: output, sound and effects keep their values.
    LoggedProject p;
    p.project.SetOutputPath("/keep.avi");
    p.project.ToggleGreyscale();
    load(a + "\n", p);
    EXPECT_EQ(p.project.OutputPath(), "/keep.avi");
    EXPECT_TRUE(p.project.Greyscale());
    EXPECT_EQ(p.project.PictureCount(), 1);
  }
  {  // An empty ";Output=" empties the output; a wrong-case effect switches both off;
     // unknown header lines are skipped.
    LoggedProject p;
    p.project.SetOutputPath("/old.avi");
    p.project.ToggleGreyscale();
    load(";Effect=greyscale\r;Comment=x\r;Output=\r" + a, p);
    EXPECT_EQ(p.project.OutputPath(), "");
    EXPECT_FALSE(p.project.Greyscale());
    EXPECT_FALSE(p.project.Sepia());
    EXPECT_EQ(p.project.PictureList().Items(), std::vector<std::string>{a});
  }
  {  // An empty line ends the header; it and a later header line are pictures
     // that are not found. Mixed line ends all count.
    LoggedProject p;
    load(";Output=/o.avi\r\n\r\n;Sound=/s.mp3\n" + a + "\r\n", p);
    EXPECT_EQ(p.project.PictureList().Items(), std::vector<std::string>{a});
    EXPECT_EQ(p.project.OutputPath(), "/o.avi");
    EXPECT_NE(std::find(p.log.begin(), p.log.end(), "2 File not found : "), p.log.end());
    EXPECT_NE(std::find(p.log.begin(), p.log.end(), "2 File not found : ;Sound=/s.mp3"), p.log.end());
    EXPECT_NE(std::find(p.log.begin(), p.log.end(), "1 3 files to be added"), p.log.end());
  }
  {  // Header only: the picture list ends up empty.
    LoggedProject p;
    p.project.AddPicture(a);
    load(";Sound=\r\n;Output=\r\n", p);
    EXPECT_EQ(p.project.PictureCount(), 0);
  }
}

TEST(ProjectFile, UnreadableSoundtrackStopsTheLoadAtItsLine) {
  TempDir dir;
  const std::string a = Picture(dir, "a.jpg"), b = Picture(dir, "b.jpg");
  const std::string file = dir.file("s.sdm");
  WriteText(file, ";Effect=Sepia\r\n;Sound=/gone/theme.mp3\r\n;Output=/new.avi\r\n" + b + "\r\n");
  LoggedProject p;
  p.project.AddPicture(a);
  p.project.SetOutputPath("/old.avi");
  auto failing = [](const std::string& path) { throw EError("Impossible d'ouvrir le fichier " + path); };
  EXPECT_THROW(LoadProject(p.project, file, {failing, {}, {}}), EError);
  EXPECT_TRUE(p.project.Sepia());                 // before the sound line: applied
  EXPECT_EQ(p.project.OutputPath(), "/old.avi");  // after it: not
  EXPECT_EQ(p.project.PictureList().Items(), std::vector<std::string>{a});
}

TEST(ProjectFile, FileErrorsLoseNothing) {
  TempDir dir;
  LoggedProject p;
  const std::string a = Picture(dir, "a.jpg");
  p.project.AddPicture(a);
  p.project.SetOutputPath("/o.avi");

  // Missing file and a folder: an error with the system's text, project unchanged.
  EXPECT_THROW(LoadProject(p.project, dir.file("missing.sdm"), {}), EError);
  EXPECT_THROW(LoadProject(p.project, dir.path().string(), {}), EError);
  // A named pipe blocked the load until some writer came; a device never ends.
  const std::string fifo = dir.file("pipe.sdm");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& odd : {fifo, std::string("/dev/zero")}) {
    try {
      LoadProject(p.project, odd, {});
      FAIL() << "no error for " << odd;
    } catch (const EError& e) {
      const std::string expected = odd == fifo ? "Is a named pipe" : "Is a device";
      EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + odd + "\". " + expected);
    }
  }
  // Something far too large to be a project is refused before it is read.
  const std::string huge = dir.file("huge.sdm");
  WriteText(huge, "");
  ASSERT_EQ(::truncate(huge.c_str(), 65 * 1024 * 1024), 0);
  try {
    LoadProject(p.project, huge, {});
    FAIL() << "no error";
  } catch (const EError& e) {
    EXPECT_NE(std::string(e.what()).find(huge), std::string::npos);
  }
  EXPECT_EQ(p.project.PictureList().Items(), std::vector<std::string>{a});
  EXPECT_EQ(p.project.OutputPath(), "/o.avi");

  // Saving into a missing folder produces no file; a failed save over an
  // existing project leaves it as it was.
  EXPECT_THROW(SaveProject(p.project, dir.file("no/such/dir/p")), EError);
  EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
  const std::string keep = dir.file("keep.sdm");
  WriteText(keep, "old content");
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const bool canStillWrite = ::access(dir.path().c_str(), W_OK) == 0;  // root ignores permissions
  if (!canStillWrite) {
    EXPECT_THROW(SaveProject(p.project, keep), EError);
  }
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  if (!canStillWrite) {
    EXPECT_EQ(ReadText(keep), "old content");
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
}

// A project moved (or copied to another machine) with its pictures: those
// not at their stored paths are found by name beside the project file and in
// the folders below it; the rest are left out, named, and remembered.
TEST(ProjectFile, MovedPicturesAreFoundBesideTheProjectAndTheRestLeftOut) {
  TempDir dir;
  namespace fs = std::filesystem;
  for (const char* folder : {"show/2019", "show/2020", "show/pics", "show/.cache", "elsewhere"})
    fs::create_directories(dir.file(folder));
  const std::string y2019 = Picture(dir, "show/2019/IMG_0001.jpg"), y2020 = Picture(dir, "show/2020/IMG_0001.jpg");
  const std::string png = Picture(dir, "show/pics/B.PNG"), here = Picture(dir, "elsewhere/IMG_0001.jpg");
  const std::string notes = Picture(dir, "show/notes.txt");
  Picture(dir, "show/.cache/gone.jpg");  // hidden folders are not searched
  const std::string old = "/nowhere/photos/";
  WriteText(dir.file("show/show.sdm"), ";Sound=\r\n;Output=\r\n" + old + "2020/IMG_0001.jpg\r\n" + old +
                                           "2019/IMG_0001.jpg\r\n" + old + "b.png\tmy caption\r\n" + here + "\r\n" +
                                           old + "gone.jpg\r\n" + notes + "\r\n");
  LoggedProject p;
  LoadProject(p.project, dir.file("show/show.sdm"), {});
  // The folders the stored path ends with decide between pictures of the same
  // name; a picture that is where it was stays, whatever lies beside the project.
  EXPECT_EQ(p.project.PictureList().Items(), (std::vector<std::string>{y2020, y2019, png, here}));
  EXPECT_EQ(p.project.CaptionList().Items(),
            (std::vector<std::string>{"IMG_0001.jpg", "IMG_0001.jpg", "my caption", "IMG_0001.jpg"}));
  const std::vector<std::string> expected = {"1 Picture relinked : " + old + "2020/IMG_0001.jpg -> " + y2020,
                                             "1 Picture relinked : " + old + "2019/IMG_0001.jpg -> " + y2019,
                                             "1 Picture relinked : " + old + "b.png -> " + png,
                                             "1 Files count : 0",
                                             "1 6 files to be added",
                                             "2 File not found : " + old + "gone.jpg",
                                             "2 File not supported : " + notes,
                                             "1 Files count : 4"};
  EXPECT_EQ(p.log, expected);
  EXPECT_EQ(p.project.LeftOutPictures(), (std::vector<std::string>{old + "gone.jpg", notes}));
  // Saving writes where the pictures are now; emptying the list forgets the
  // pictures left out with it.
  SaveProject(p.project, dir.file("show/show.sdm"));
  EXPECT_NE(ReadText(dir.file("show/show.sdm")).find(y2020 + "\r\n" + y2019 + "\r\n" + png + "\tmy caption\r\n"),
            std::string::npos);
  p.project.ClearPictures();
  EXPECT_TRUE(p.project.LeftOutPictures().empty());
}
