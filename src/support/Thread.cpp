#include "support/Thread.h"

#include <chrono>

namespace sdm {

TEventLoop::TEventLoop() : uiThread_(std::this_thread::get_id()) {}

bool TEventLoop::IsUiThread() const { return std::this_thread::get_id() == uiThread_; }

void TEventLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(fn));
  }
  cv_.notify_all();
}

void TEventLoop::Synchronize(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false;
  std::exception_ptr error;
  Post([&] {
    try {
      fn();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(doneMutex);
    done = true;
    doneCv.notify_all();
  });
  std::unique_lock<std::mutex> lock(doneMutex);
  doneCv.wait(lock, [&] { return done; });
  if (error) std::rethrow_exception(error);
}

int TEventLoop::ProcessPending(int timeoutMs) {
  std::deque<std::function<void()>> batch;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.empty() && timeoutMs > 0)
      cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !queue_.empty(); });
    batch.swap(queue_);
  }
  for (auto& fn : batch) fn();
  return static_cast<int>(batch.size());
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

void TThread::Start() { thread_ = std::thread([this] { Run(); }); }

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
