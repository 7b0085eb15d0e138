#include "support/U_Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/RegularFile.h"
#include "platform/shell/Shell.h"
#include "support/U_SysUtils.h"

namespace sdm {

TKLog::TKLog(const std::string& fileName, bool debugMode, int maxLines, bool loadExisting)
    : fileName_(fileName), debugMode_(debugMode), maxLines_(maxLines) {
  if (!loadExisting || !FileExistsLong(fileName)) return;
  // Only a plain file is read: a named pipe in its place would block the start.
  std::string problem;
  const int fd = OpenRegularFileForReading(fileName, problem);
  if (fd < 0) return;
  FILE* in = ::fdopen(fd, "rb");
  if (!in) {
    ::close(fd);
    return;
  }
  std::vector<std::string> fileOrder;  // newest first, as written
  char* raw = nullptr;
  size_t capacity = 0;
  for (ssize_t n; (n = ::getline(&raw, &capacity, in)) >= 0;) {
    std::string line(raw, static_cast<size_t>(n));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    fileOrder.push_back(std::move(line));
  }
  std::free(raw);
  std::fclose(in);
  lines_.assign(fileOrder.rbegin(), fileOrder.rend());
}

TKLog::~TKLog() { Flush(); }

std::string TKLog::LevelName(int level) {
  // Negative levels are diagnostics too; the table has no entry for them.
  if (level <= 0) return "Verbose";
  return level == 1 ? "Info" : "Error";
}

std::string TKLog::TimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "[%02d-%02d-%02d %02d:%02d:%02d]", t.tm_year % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return buf;
}

void TKLog::AddLine(const std::string& message, int level) {
  if (level <= 0 && !debugMode_) return;
  std::string line = LevelName(level) + "\t" + TimeStamp() + "\t" + message;
  std::lock_guard<std::mutex> g(mutex_);
  lines_.push_back(std::move(line));
  // One line goes per line added, so a list loaded longer than the cap shrinks
  // step by step rather than all at once.
  if (static_cast<int64_t>(lines_.size()) > maxLines_) lines_.pop_front();
  if (debugMode_) FlushLocked();
}

void TKLog::Flush() {
  std::lock_guard<std::mutex> g(mutex_);
  FlushLocked();
}

void TKLog::FlushLocked() {
  const std::string folder = ExtractFilePath(fileName_);
  if (!DirectoryExistsLong(folder.empty() ? "." : folder)) return;  // the log never makes folders
  // Written beside the old file and renamed over it, so a full disk keeps the
  // previous log whole instead of leaving half of the new one.
  const std::string tmp = fileName_ + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return;
  bool ok = true;
  for (auto it = lines_.rbegin(); it != lines_.rend() && ok; ++it) {
    ok = std::fwrite(it->data(), 1, it->size(), f) == it->size() && std::fwrite("\r\n", 1, 2, f) == 2;
  }
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), fileName_.c_str()) != 0) std::remove(tmp.c_str());
}

void TKLog::OpenLogFile() {
  Flush();
  ShellOpen(fileName_);
}

std::vector<std::string> TKLog::Lines() const {
  std::lock_guard<std::mutex> g(mutex_);
  return {lines_.rbegin(), lines_.rend()};
}

size_t TKLog::Count() const {
  std::lock_guard<std::mutex> g(mutex_);
  return lines_.size();
}

}  // namespace sdm
