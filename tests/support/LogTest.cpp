#include "support/U_Log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <thread>

#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::ReadText;
using sdm::test::TempDir;
using sdm::test::WriteText;

TEST(Log, LineFormatAndLevels) {
  TempDir dir;
  TKLog log(dir.file("Slidomat.log"), false, 100, false);
  log.AddLine("hidden", 0);
  EXPECT_EQ(log.Count(), 0u);
  log.AddLine("Starting", 1);
  log.AddLine("way up", 7);
  log.AddLine("", 2);
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 3u);
  // "Info", TAB, "[yy-mm-dd hh:mm:ss]", TAB, message
  const std::string shape = "Info\t[00-00-00 00:00:00]\tStarting";
  ASSERT_EQ(lines[2].size(), shape.size()) << lines[2];
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == '0')
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(lines[2][i]))) << lines[2];
    else
      EXPECT_EQ(lines[2][i], shape[i]) << lines[2];
  }
  EXPECT_TRUE(lines[1].rfind("Error\t[", 0) == 0) << lines[1];
  EXPECT_EQ(lines[0].back(), '\t') << "an empty message still ends with the second TAB";
  EXPECT_FALSE(std::filesystem::exists(dir.file("Slidomat.log"))) << "normal mode writes only on Flush";
}

TEST(Log, TimeStampMatchesTheLocalClock) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char expected[32];
  std::strftime(expected, sizeof expected, "[%y-%m-%d %H:%M", &t);
  const std::string stamp = TKLog::TimeStamp();
  ASSERT_EQ(stamp.size(), 19u);
  // Minutes may tick over between the two readings; the rest may not.
  EXPECT_EQ(stamp.substr(0, 12), std::string(expected).substr(0, 12));
}

TEST(Log, DebugModeWritesThroughNewestFirstWithCrLf) {
  TempDir dir;
  const std::string file = dir.file("Slidomat.log");
  TKLog log(file, true, 100, false);
  log.AddLine("first", 1);
  log.AddLine("diagnostic", 0);
  const std::string text = ReadText(file);
  const size_t firstAt = text.find("\tfirst\r\n"), diagAt = text.find("\tdiagnostic\r\n");
  ASSERT_NE(firstAt, std::string::npos) << text;
  ASSERT_NE(diagAt, std::string::npos) << text;
  EXPECT_LT(diagAt, firstAt) << "newest first";
  EXPECT_EQ(text.rfind("Verbose\t", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(Log, CapDropsTheOldestOneLinePerAddition) {
  TempDir dir;
  TKLog log(dir.file("x.log"), false, 10000, false);
  for (int i = 0; i <= 10000; ++i) log.AddLine("m" + std::to_string(i), 1);
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 10000u);
  EXPECT_TRUE(lines.back().ends_with("\tm1"));
  EXPECT_TRUE(lines.front().ends_with("\tm10000"));

  // A file loaded longer than the cap shrinks by one line per addition.
  WriteText(dir.file("old.log"), "c\r\nb\r\na\r\n");
  TKLog old(dir.file("old.log"), false, 2, true);
  EXPECT_EQ(old.Lines(), (std::vector<std::string>{"c", "b", "a"}));
  old.AddLine("d", 1);
  auto after = old.Lines();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[1], "c");
  EXPECT_EQ(after[2], "b");
}

TEST(Log, MissingFolderOrFailedWriteIsSilent) {
  TempDir dir;
  const std::string missing = dir.file("nope") + "/Slidomat.log";
  {
    TKLog log(missing, true, 10, false);
    log.AddLine("x", 1);
    log.Flush();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("nope")));
  {
    TKLog log(missing, false, 10, false);
    log.AddLine("x", 1);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("nope")));
  // A log whose name is taken by a folder cannot be written; nothing breaks
  // and the folder stays.
  std::filesystem::create_directories(dir.file("taken.log") + "/inside");
  {
    TKLog log(dir.file("taken.log"), true, 10, false);
    log.AddLine("x", 1);
    EXPECT_EQ(log.Count(), 1u);
  }
  EXPECT_TRUE(std::filesystem::exists(dir.file("taken.log") + "/inside"));
  // A named pipe in place of the old log is not read (that blocked the
  // start until some writer came): the log starts empty.
  ASSERT_EQ(mkfifo(dir.file("pipe.log").c_str(), 0600), 0);
  TKLog piped(dir.file("pipe.log"), false, 10, true);
  EXPECT_EQ(piped.Count(), 0u);
}

TEST(Log, ThreadsMayLogAtOnce) {
  TempDir dir;
  TKLog log(dir.file("t.log"), true, 100000, false);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i) log.AddLine("t" + std::to_string(t), 1);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(log.Count(), 800u);
  log.Flush();
  const std::string text = ReadText(dir.file("t.log"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 800);
}
