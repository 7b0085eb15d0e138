#pragma once
// Small helpers shared by the test programs: a private temporary folder per
// test, whole-file reads and writes, and running a command (our CLI or a
// reference tool such as ffprobe) with its output captured.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sdm::test {

// A fresh folder that is removed with the object. Lives under $SDM_TEST_TMP
// (set by CTest) or the system's temporary folder.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

struct CommandResult {
  int status = -1;  // exit status, or -1 when the command could not run or was killed
  std::string out;
  std::string err;
};

// Runs argv[0] with the given arguments (no shell), optionally feeding stdin.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = {});

// Runs our own command line program built beside the tests.
CommandResult RunCli(const std::vector<std::string>& args, const std::string& input = {});

// True when a program of that name is on PATH (reference tools: ffprobe, lame...).
bool HaveTool(const std::string& name);

std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& data);
void WriteText(const std::string& path, const std::string& text);

// Path of a file in the source tree (examples/, tests/data/).
std::string SourcePath(const std::string& relative);

}  // namespace sdm::test
