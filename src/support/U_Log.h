#pragma once
// TKLog: the run's log. A bounded list of lines held in memory, newest first,
// written as a whole to a text file (CR LF line ends). Lines read
// "<Level>\t[yy-mm-dd hh:mm:ss]\t<message>" with the level names "Verbose" (0,
// recorded only in debug mode), "Info" (1) and "Error" (2 and above).
//
// Failures are silent: a missing folder or a failed write leaves the file as
// it was, and the log never creates folders. In debug mode every recorded line
// rewrites the file at once. Safe to call from any thread (one lock), because
// the command line logs from its worker threads.
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace sdm {

enum : int { llVerbose = 0, llInfo = 1, llError = 2 };

class TKLog {
public:
  // LoadExisting: fill the list from the file when it exists, in file order
  // (newest first, as written).
  TKLog(const std::string& fileName, bool debugMode, int maxLines, bool loadExisting);
  ~TKLog();  // writes the file
  TKLog(const TKLog&) = delete;
  TKLog& operator=(const TKLog&) = delete;

  void AddLine(const std::string& message, int level);
  void Flush();
  // Flushes, then opens the file with the desktop's program for it; the outcome
  // is not reported.
  void OpenLogFile();

  const std::string& FileName() const { return fileName_; }
  bool DebugMode() const { return debugMode_; }
  int MaxLines() const { return maxLines_; }
  std::vector<std::string> Lines() const;  // a copy, newest first
  size_t Count() const;

  // "Verbose", "Info", "Error" (levels above 2 are "Error").
  static std::string LevelName(int level);
  // The time stamp of the current local time: "[24-03-05 14:07:09]".
  static std::string TimeStamp();

private:
  void FlushLocked();

  const std::string fileName_;
  const bool debugMode_;
  const int maxLines_;
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;  // stored oldest first; index 0 of Lines() is the back
};

}  // namespace sdm
