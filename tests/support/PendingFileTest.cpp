#include "support/PendingFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadText;
using sdm::test::TempDir;
using sdm::test::WriteText;
namespace fs = std::filesystem;

namespace {

void WriteAll(int fd, const std::string& text) {
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
}

}  // namespace

TEST(PendingFile, TheEarlierFileStaysUntilTheNewOneIsCommitted) {
  TempDir dir;
  const std::string target = dir.file("show.avi");
  WriteText(target, "old video");
  ::chmod(target.c_str(), 0640);
  std::string why;
  {
    TPendingFile pending(target);
    // A hidden name of its own in the same folder, and nothing made yet.
    EXPECT_EQ(fs::path(pending.TempPath()).parent_path(), dir.path());
    EXPECT_EQ(fs::path(pending.TempPath()).filename().string().substr(0, 10), ".show.avi.");
    EXPECT_FALSE(fs::exists(pending.TempPath()));
    const int fd = pending.OpenForWriting(why);
    ASSERT_GE(fd, 0) << why;
    WriteAll(fd, "new video");
    EXPECT_EQ(ReadText(target), "old video");
    ASSERT_TRUE(pending.Commit(why)) << why;
    EXPECT_TRUE(pending.Committed());
    EXPECT_FALSE(fs::exists(pending.TempPath()));
  }
  EXPECT_EQ(ReadText(target), "new video");
  // The earlier file's permissions carry over to its replacement.
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(PendingFile, AFailureLeavesTheEarlierFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir.file("out.wav");
  WriteText(target, "precious");
  std::string temp;
  {
    TPendingFile pending(target);
    temp = pending.TempPath();
    std::string why;
    WriteAll(pending.OpenForWriting(why), "half");
    EXPECT_TRUE(fs::exists(temp));
  }  // never committed: a failure or a cancel
  EXPECT_EQ(ReadText(target), "precious");
  EXPECT_FALSE(fs::exists(temp));
  // Discard removes it at once; a second Discard and the destructor do no harm.
  TPendingFile again(target);
  std::string why;
  ASSERT_TRUE(again.Reserve(why)) << why;
  again.Discard();
  again.Discard();
  EXPECT_FALSE(fs::exists(again.TempPath()));
  EXPECT_EQ(ReadText(target), "precious");
}

TEST(PendingFile, TwoWritersOfOneOutputNeverShareAFile) {
  TempDir dir;
  const std::string target = dir.file("same.avi");
  TPendingFile a(target), b(target);
  EXPECT_NE(a.TempPath(), b.TempPath());
  std::string why;
  WriteAll(a.OpenForWriting(why), "from a");
  WriteAll(b.OpenForWriting(why), "from b");
  ASSERT_TRUE(a.Commit(why)) << why;
  ASSERT_TRUE(b.Commit(why)) << why;
  EXPECT_EQ(ReadText(target), "from b");  // the last complete file wins; none is mixed
  // A name already taken (a leftover of a crash) is never written into.
  TPendingFile c(target);
  WriteText(c.TempPath(), "leftover");
  const std::string taken = c.TempPath();
  WriteAll(c.OpenForWriting(why), "mine");
  EXPECT_NE(c.TempPath(), taken);
  EXPECT_EQ(ReadText(taken), "leftover");
  fs::remove(taken);
}

TEST(PendingFile, CommitFailuresSayWhyAndChangeNothing) {
  TempDir dir;
  std::string why;
  {
    // Nothing was written: there is nothing to put in place.
    TPendingFile pending(dir.file("never.avi"));
    EXPECT_FALSE(pending.Commit(why));
    EXPECT_EQ(why, "No such file or directory");
    EXPECT_FALSE(fs::exists(dir.file("never.avi")));
  }
  {
    // A folder at the target is never replaced.
    fs::create_directory(dir.file("folder.avi"));
    TPendingFile pending(dir.file("folder.avi"));
    WriteAll(pending.OpenForWriting(why), "video");
    EXPECT_FALSE(pending.Commit(why));
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(fs::is_directory(dir.file("folder.avi")));
  }
  {
    // A folder that does not exist cannot take the temporary file.
    TPendingFile pending(dir.file("missing/x.avi"));
    EXPECT_FALSE(pending.Reserve(why));
    EXPECT_EQ(why, "No such file or directory");
  }
  // Nothing is left behind by any of them.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) entries += e.path().filename() != "folder.avi";
  EXPECT_EQ(entries, 0);
}
