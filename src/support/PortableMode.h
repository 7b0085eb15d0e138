#pragma once
// Portable mode, shared by both programs: a copy that finds no uninstall
// entry keeps its settings in settings.ini beside the program. The file is
// copied into the registry before anything reads a setting, and written back
// (and the registry cleared of the program) when the program ends, so the
// machine keeps no trace of a copy run from a USB stick or a build folder.
//
// Several programs may run at once (the window and the command line, or two
// command lines) and share the product key. Reading and writing settings.ini
// take the registry's own lock, on settings.ini (settings.ini.lock beside
// it), so their updates merge; and the product key is deleted only by the
// last of them to end, so no program deletes values another has set but not
// yet written back.
#include <string>

namespace sdm {

class TPortableMode {
public:
  // Decides the mode for the program file and, in portable mode, imports its
  // settings file. A missing settings file imports nothing.
  explicit TPortableMode(const std::string& programPath);
  ~TPortableMode();
  TPortableMode(const TPortableMode&) = delete;
  TPortableMode& operator=(const TPortableMode&) = delete;

  bool Portable() const { return portable_; }
  const std::string& IniPath() const { return iniPath_; }

  // In portable mode: removes the empty company data folder, exports the
  // settings and, only when that succeeded and no other portable program is
  // running, deletes the product key, the program location and the company
  // key when empty. Returns false only when the export failed: the values
  // then stay in the registry (nothing deletes a key whose values were not
  // written), and Problem() says why. Runs once; later calls do nothing.
  bool Finish();
  const std::string& Problem() const { return problem_; }

private:
  bool portable_ = false;
  bool finished_ = false;
  std::string iniPath_;
  std::string problem_;
  int usersFd_ = -1;  // a shared lock held while this program runs
};

// The lock file every running portable program holds shared: the one that
// can take it exclusively is the last.
std::string PortableUsersLockPath();

}  // namespace sdm
