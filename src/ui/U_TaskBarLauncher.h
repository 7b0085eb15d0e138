#pragma once
// The job's progress on the dock or taskbar entry of the program: the Unity
// LauncherEntry D-Bus signal, which KDE Plasma, Dash to Dock, Plank and other
// docks read. Without a session bus nothing is sent.
#include <QString>
#include <QVariantMap>
#include <cstdint>

namespace sdm {

class TLauncherEntry {
public:
  // desktopId: the desktop entry's file name ("io.github.tarvenit.Slidomat.desktop").
  explicit TLauncherEntry(const QString& desktopId);

  bool Available() const { return available_; }
  // A change of the taskbar progress (state flag, position, maximum), as
  // TTaskProgressBar reports it.
  void Update(int stateFlag, int64_t position, int64_t max);

  // The properties of one update: "progress" (0 … 1, in whole percent) and "progress-visible"
  // (shown while a state other than "none" has a position above 0).
  static QVariantMap Properties(int stateFlag, int64_t position, int64_t max);

private:
  QString appUri_;
  bool available_ = false;
  QVariantMap last_;
};

}  // namespace sdm
