#pragma once
// Portable mode, shared by both programs: a copy that finds no uninstall
// entry keeps its settings in settings.ini beside the program. The file is
// copied into the registry before anything reads a setting, and written back
// (and the registry cleared of the program) when the program ends, so the
// machine keeps no trace of a copy run from a USB stick or a build folder.
#include <string>

namespace sdm {

class TPortableMode {
public:
  // Decides the mode for the program file and, in portable mode, imports its
  // settings file. A missing settings file imports nothing.
  explicit TPortableMode(const std::string& programPath);
  TPortableMode(const TPortableMode&) = delete;
  TPortableMode& operator=(const TPortableMode&) = delete;

  bool Portable() const { return portable_; }
  const std::string& IniPath() const { return iniPath_; }

  // In portable mode: removes the empty company data folder, exports the
  // settings and, only when that succeeded, deletes the product key, the
  // program location and the company key when empty. Returns false only when
  // the export failed (the keys then stay, so nothing is lost). Runs once;
  // later calls do nothing.
  bool Finish();

private:
  bool portable_ = false;
  bool finished_ = false;
  std::string iniPath_;
};

}  // namespace sdm
