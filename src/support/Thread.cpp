#include "support/Thread.h"

#include <chrono>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace sdm {

namespace {

// How long a side watches for the other before it sleeps: longer than a
// worker's chunk of work or a report takes, far shorter than anything a
// person notices. A report takes well under a microsecond, so the first
// looks only pause the processor; after those every look yields it: on a
// busy machine the other side (or anyone else) runs meanwhile, where
// spinning on would burn the time slice the other side is waiting for
// (measured: two to three times slower under load), and sleeping would cost
// a wake-up through the kernel for every report.
constexpr auto kWatch = std::chrono::microseconds(50);
constexpr int kPausedLooks = 64;

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

// Watches done() for kWatch; true when it came true.
template <typename Pred>
bool Watch(Pred done) {
  for (int look = 0; look < kPausedLooks; ++look) {
    if (done()) return true;
    Pause();
  }
  const auto until = std::chrono::steady_clock::now() + kWatch;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return done();
    std::this_thread::yield();
  }
  return true;
}

}  // namespace

TEventLoop::TEventLoop() : uiThread_(std::this_thread::get_id()) {}

bool TEventLoop::IsUiThread() const { return std::this_thread::get_id() == uiThread_; }

void TEventLoop::Enqueue(TCall call) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(call));
    queued_.store(queue_.size(), std::memory_order_release);
    wake = uiSleeping_;
  }
  if (wake) work_.notify_one();
}

void TEventLoop::Post(std::function<void()> fn) {
  TCall call;
  call.posted = std::move(fn);
  Enqueue(std::move(call));
}

void TEventLoop::Synchronize(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  TWaiter waiter;
  TCall call;
  call.waited = &fn;
  call.waiter = &waiter;
  Enqueue(std::move(call));
  const auto hasRun = [&] { return waiter.ran.load(); };
  {
    const bool watched = Watch(hasRun);
    std::unique_lock<std::mutex> lock(waiter.mutex);
    if (!watched) {
      // Said under the lock, so that the UI thread, which sets the flag
      // under it too, either sees a sleeper to wake or has set the flag
      // before we look.
      waiter.sleeping.store(true);
      waiter.done.wait(lock, hasRun);
    }
    // Leaving the lock here also waits for the UI thread to be done with
    // the waiter, should it still hold the lock after setting the flag.
  }
  if (waiter.error) std::rethrow_exception(waiter.error);
}

void TEventLoop::RunCall(TCall& call) {
  if (!call.waited) {
    call.posted();
    return;
  }
  std::exception_ptr error;
  try {
    (*call.waited)();
  } catch (...) {
    error = std::current_exception();
  }
  // The caller may return and free its function and waiter once it holds
  // the waiter's lock after this: nothing of the call is touched after it.
  TWaiter& w = *call.waiter;
  std::lock_guard<std::mutex> lock(w.mutex);
  w.error = error;
  w.ran.store(true);
  if (w.sleeping.load()) w.done.notify_one();
}

int TEventLoop::ProcessPending(int timeoutMs) {
  if (timeoutMs > 0) Watch([this] { return queued_.load(std::memory_order_acquire) > 0; });
  std::vector<TCall> batch = std::move(spare_);
  batch.clear();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.empty() && timeoutMs > 0) {
      uiSleeping_ = true;
      work_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !queue_.empty(); });
      uiSleeping_ = false;
    }
    batch.swap(queue_);
    queued_.store(0, std::memory_order_release);
  }
  size_t next = 0;
  try {
    while (next < batch.size()) RunCall(batch[next++]);
  } catch (...) {
    // A posted call failed: the calls after it are still owed a run, and a
    // worker may be waiting for one of them.
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.insert(queue_.begin(), std::make_move_iterator(batch.begin() + static_cast<std::ptrdiff_t>(next)),
                  std::make_move_iterator(batch.end()));
    queued_.store(queue_.size(), std::memory_order_release);
    throw;
  }
  const int ran = static_cast<int>(batch.size());
  batch.clear();
  spare_ = std::move(batch);
  return ran;
}

void TEventLoop::RunUntil(const std::function<bool()>& pred) {
  while (!pred()) ProcessPending(20);
}

TThread::TThread(IUiThread& ui) : ui_(ui) {}

TThread::~TThread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void TThread::Start() {
  thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    hasFatalError_ = true;
    fatalError_ = e.what();
  } catch (...) {
    hasFatalError_ = true;
    fatalError_ = "Unknown error";
  }
  if (OnTerminate) {
    try {
      ui_.Synchronize([this] { OnTerminate(*this); });
    } catch (...) {
      // A failing handler must not take the worker down with it.
    }
  }
  finished_.store(true);
  if (FreeOnTerminate) {
    thread_.detach();
    delete this;
  }
}

void TThread::WaitFor() {
  if (ui_.IsUiThread()) {
    while (!finished_.load()) ui_.ProcessPending(10);
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace sdm
