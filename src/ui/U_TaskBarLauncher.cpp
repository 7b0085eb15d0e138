#include "ui/U_TaskBarLauncher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <algorithm>
#include <cmath>

namespace sdm {

TLauncherEntry::TLauncherEntry(const QString& desktopId)
    : appUri_("application://" + desktopId), available_(QDBusConnection::sessionBus().isConnected()) {}

QVariantMap TLauncherEntry::Properties(int stateFlag, int64_t position, int64_t max) {
  QVariantMap p;
  const double fraction =
      max > 0 ? std::clamp(static_cast<double>(position) / static_cast<double>(max), 0.0, 1.0) : 0.0;
  // In whole percent: a dock shows no finer, and a long job then sends at
  // most a hundred updates instead of one per frame.
  p.insert("progress", std::floor(fraction * 100.0) / 100.0);
  p.insert("progress-visible", stateFlag != 0 && max > 0 && position > 0);
  return p;
}

void TLauncherEntry::Update(int stateFlag, int64_t position, int64_t max) {
  if (!available_) return;
  const QVariantMap p = Properties(stateFlag, position, max);
  if (p == last_) return;
  last_ = p;
  QDBusMessage signal = QDBusMessage::createSignal("/com/canonical/unity/launcherentry/slidomat",
                                                   "com.canonical.Unity.LauncherEntry", "Update");
  signal << appUri_ << p;
  QDBusConnection::sessionBus().send(signal);
}

}  // namespace sdm
