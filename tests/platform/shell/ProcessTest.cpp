// Starting programs and the named mutexes, with real processes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/shell/Process.h"
#include "testsupport/TestSupport.h"

using namespace sdm;

namespace {
bool WaitUntilEnded(TProcess& p, int ms) {
  for (int i = 0; i < ms / 10; ++i) {
    if (!p.Running()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !p.Running();
}
}  // namespace

TEST(Process, AStartedProgramRunsUntilItEndsAndAFailedStartSaysWhy) {
  std::string error;
  auto p = TProcess::Start({"sh", "-c", "sleep 0.3; exit 3"}, error);
  ASSERT_NE(p, nullptr) << error;
  EXPECT_TRUE(p->Running());
  ASSERT_TRUE(WaitUntilEnded(*p, 10000));
  EXPECT_EQ(p->ExitStatus(), 3);
  EXPECT_FALSE(p->Running());

  EXPECT_EQ(TProcess::Start({"no-such-program-here"}, error), nullptr);
  EXPECT_FALSE(error.empty());
  test::TempDir dir;
  test::WriteText(dir.file("not-executable"), "#!/bin/sh\n");
  EXPECT_EQ(TProcess::Start({dir.file("not-executable")}, error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(TProcess::Start({}, error), nullptr);
}

TEST(NamedMutex, ExistsOnlyWhileSomeoneHoldsIt) {
  test::TempDir dir;
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  EXPECT_EQ(NamedMutexPath("BRENNOCD_RUNNING"), dir.file("BRENNOCD_RUNNING.lock"));
  EXPECT_FALSE(NamedMutexExists("BRENNOCD_RUNNING"));
  {
    TNamedMutex held("BRENNOCD_RUNNING");
    ASSERT_TRUE(held.Held());
    EXPECT_TRUE(NamedMutexExists("BRENNOCD_RUNNING"));
    TNamedMutex second("BRENNOCD_RUNNING");
    EXPECT_FALSE(second.Held());
  }
  // The lock file stays behind, but nobody holds it.
  EXPECT_FALSE(NamedMutexExists("BRENNOCD_RUNNING"));
  // Another process holding it (the burning program) counts too.
  std::string error;
  auto p = TProcess::Start({"flock", dir.file("BRENNOCD_RUNNING.lock"), "sleep", "0.5"}, error);
  ASSERT_NE(p, nullptr) << error;
  bool seen = false;
  for (int i = 0; i < 200 && !seen; ++i) {
    seen = NamedMutexExists("BRENNOCD_RUNNING");
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(seen);
  ASSERT_TRUE(WaitUntilEnded(*p, 10000));
  EXPECT_FALSE(NamedMutexExists("BRENNOCD_RUNNING"));
  unsetenv("XDG_RUNTIME_DIR");
}
