#include "support/PortableMode.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/registry/HiveFile.h"
#include "platform/registry/Registry.h"
#include "support/SettingsStore.h"

namespace sdm {

namespace {

bool Flock(int fd, int operation) {
  int r;
  while ((r = ::flock(fd, operation)) != 0 && errno == EINTR) {
  }
  return r == 0;
}

}  // namespace

std::string PortableUsersLockPath() { return RegistryHivePath(HKEY_CURRENT_USER) + ".portable"; }

TPortableMode::TPortableMode(const std::string& programPath)
    : portable_(!IsProgramInstalled(kUninstallDisplayName)), iniPath_(SettingsIniPath(programPath)) {
  if (!portable_) return;
  // Counted among the running programs before anything is read: a program
  // ending now then leaves the key to us.
  const std::string users = PortableUsersLockPath();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(users).parent_path(), ec);
  usersFd_ = ::open(users.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (usersFd_ >= 0) Flock(usersFd_, LOCK_SH);
  hive::THiveLock ini(iniPath_);
  ImportSettingsFromIni(kProductName, iniPath_);
}

TPortableMode::~TPortableMode() {
  if (usersFd_ >= 0) ::close(usersFd_);
}

bool TPortableMode::Finish() {
  if (!portable_ || finished_) return true;
  finished_ = true;
  RemoveEmptyCompanyDataFolder();
  // One program at a time reads, merges and writes the file.
  hive::THiveLock ini(iniPath_);
  const bool exported = ExportSettingsToIni(kProductName, iniPath_, &problem_);
  // The last program to end clears the registry; a program still running
  // keeps the key it reads and writes its own values back when it ends.
  bool last = true;
  if (usersFd_ >= 0) {
    Flock(usersFd_, LOCK_UN);
    last = Flock(usersFd_, LOCK_EX | LOCK_NB);
  }
  if (exported && last) {
    DeleteProductKey(kProductName);
    DeleteProgramLocation(kProductName);
    DeleteCompanyKeyIfEmpty();
  }
  if (usersFd_ >= 0) ::close(usersFd_);
  usersFd_ = -1;
  return exported;
}

}  // namespace sdm
