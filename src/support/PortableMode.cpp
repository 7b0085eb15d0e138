#include "support/PortableMode.h"

#include "support/SettingsStore.h"

namespace sdm {

TPortableMode::TPortableMode(const std::string& programPath)
    : portable_(!IsProgramInstalled(kUninstallDisplayName)), iniPath_(SettingsIniPath(programPath)) {
  if (portable_) ImportSettingsFromIni(kProductName, iniPath_);
}

bool TPortableMode::Finish() {
  if (!portable_ || finished_) return true;
  finished_ = true;
  RemoveEmptyCompanyDataFolder();
  if (!ExportSettingsToIni(kProductName, iniPath_)) return false;
  DeleteProductKey(kProductName);
  DeleteProgramLocation(kProductName);
  DeleteCompanyKeyIfEmpty();
  return true;
}

}  // namespace sdm
