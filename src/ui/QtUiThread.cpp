#include "ui/QtUiThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <exception>

namespace sdm {

TQtUiThread::TQtUiThread() { moveToThread(QCoreApplication::instance()->thread()); }

bool TQtUiThread::IsUiThread() const { return QThread::currentThread() == thread(); }

void TQtUiThread::Synchronize(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  // The exception is carried back by hand: a queued call cannot throw across
  // threads, and the worker must see the UI call's error as its own.
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      this,
      [&] {
        try {
          fn();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void TQtUiThread::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(
      this, [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

int TQtUiThread::ProcessPending(int timeoutMs) {
  // A timer bounds the wait: WaitForMoreEvents alone could sleep forever when
  // nothing else happens.
  QTimer wake;
  wake.setSingleShot(true);
  wake.start(std::max(0, timeoutMs));
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  return 1;
}

}  // namespace sdm
