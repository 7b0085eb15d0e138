#pragma once
// TQtUiThread: the UI thread of the window program is Qt's GUI thread. A
// worker's Synchronize becomes a blocking queued call into Qt's event loop,
// so it runs between two events while the worker waits, exactly as the
// command line's TEventLoop runs it between two polls.
#include <QObject>

#include "support/Thread.h"

namespace sdm {

class TQtUiThread : public QObject, public IUiThread {
  Q_OBJECT
public:
  // Must be created on the GUI thread, after the QApplication.
  TQtUiThread();

  void Synchronize(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  bool IsUiThread() const override;
  // Runs Qt's events for at most timeoutMs (waiting for the first one).
  int ProcessPending(int timeoutMs) override;
};

}  // namespace sdm
