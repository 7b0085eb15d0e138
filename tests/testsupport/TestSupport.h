#pragma once
// Small helpers shared by the test programs: a private temporary folder per
// test, whole-file reads and writes, and running a command (our CLI or a
// reference tool such as ffprobe) with its output captured.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
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

// Sets an environment variable (removes it, for a null value) while the
// object lives; what was there before comes back when it goes.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value);
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  std::string name_;
  std::optional<std::string> old_;
};

// The fixture of every test that reads or writes settings, logs or version
// records: the two registry hives and the per-user data and cache folders lie
// in the test's own temporary folder `dir` (user/, machine/, data/, cache/),
// so no test sees the settings of another, or of the person running them.
// The machine hive holds the program's uninstall entry, so the programs the
// test runs keep their settings in its registry; without it a copy run from
// the build folder would be portable and share the settings.ini beside it
// with every other test.
class PrivateRegistryTest : public ::testing::Test {
protected:
  PrivateRegistryTest();
  // HKEY_CURRENT_USER's hive file.
  std::string UserHive() const { return dir.file("user/HKEY_CURRENT_USER.reg"); }
  // Takes the uninstall entry away: a program then counts as a portable copy.
  void Uninstall();

  TempDir dir;

private:
  ScopedEnv user_, machine_, data_, cache_;
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
