#pragma once
// Worker threads and the UI thread they report to.
//
// A worker never touches the UI directly: it hands a call to the UI thread with
// Synchronize and waits until it has run. Its termination handler runs on the
// UI thread too, after Execute has returned. The Qt window implements IUiThread
// with blocking queued calls; the command line and the tests use TEventLoop,
// a plain queue pumped by the main thread.
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sdm {

class IUiThread {
public:
  virtual ~IUiThread() = default;
  // Runs fn on the UI thread and returns when it has run. On the UI thread
  // itself fn runs at once. An exception thrown by fn is passed back.
  virtual void Synchronize(const std::function<void()>& fn) = 0;
  // Queues fn for the UI thread without waiting.
  virtual void Post(std::function<void()> fn) = 0;
  virtual bool IsUiThread() const = 0;
  // Runs what is queued for the UI thread; waits up to timeoutMs for the first
  // call when nothing is queued. Returns the number of calls run. UI thread only.
  virtual int ProcessPending(int timeoutMs) = 0;
};

// The UI thread of the command line and the tests: the thread that creates
// the loop is its UI thread; it runs queued calls in ProcessPending.
//
// A worker that reports after every chunk of its work hands over hundreds of
// thousands of calls a job, each waited for. So a hand-over costs no
// allocation and, while both threads are busy, no system call: each side
// first watches for the other for a few microseconds, and only a side that
// found nothing goes to sleep and has to be woken.
class TEventLoop : public IUiThread {
public:
  TEventLoop();
  void Synchronize(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  bool IsUiThread() const override;
  int ProcessPending(int timeoutMs) override;
  // Pumps until pred() holds (checked after every batch of calls).
  void RunUntil(const std::function<bool()>& pred);

private:
  // What a worker waiting in Synchronize owns on its stack: its call's error,
  // and the flag it waits for with the lock and condition that guard it.
  // The UI thread touches a waiter only while holding its lock, and the
  // worker takes that lock once more before it returns, so the loop may be
  // destroyed as soon as the last call has run (a worker that ends itself
  // is still returning from its termination handler then) and the worker
  // never touches the loop after its call.
  struct TWaiter {
    std::exception_ptr error;
    std::atomic<bool> ran{false};
    std::atomic<bool> sleeping{false};
    std::mutex mutex;
    std::condition_variable done;
  };
  // A posted call owns its function; a synchronous one points at the
  // caller's function and waiter. Each caller waits for its own flag, so a
  // call that pumps the loop itself (waiting for another thread) cannot let
  // a different caller go early.
  struct TCall {
    std::function<void()> posted;
    const std::function<void()>* waited = nullptr;
    TWaiter* waiter = nullptr;
  };
  void Enqueue(TCall call);
  void RunCall(TCall& call);

  std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable work_;  // the UI thread waits here for calls
  std::vector<TCall> queue_;
  std::vector<TCall> spare_;  // the storage of the last batch, kept for the next; UI thread only
  bool uiSleeping_ = false;   // under mutex_
  std::atomic<size_t> queued_{0};
};

// A worker thread in the manner of the threads of the original design:
// create suspended, set FreeOnTerminate and OnTerminate, Start. Execute polls
// Terminated() at its own fixed points; the first exception ends it and its
// text is kept in FatalError(). When Execute has ended, OnTerminate runs on
// the UI thread (the worker waits for it), then a FreeOnTerminate thread
// deletes itself.
class TThread {
public:
  explicit TThread(IUiThread& ui);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  bool Finished() const { return finished_.load(); }
  // Waits until Execute and the termination handler are done. On the UI
  // thread it keeps running queued UI calls meanwhile, so a worker blocked in
  // Synchronize cannot dead-lock it. Not for FreeOnTerminate threads.
  void WaitFor();

  bool FreeOnTerminate = false;
  std::function<void(TThread&)> OnTerminate;

  bool HasFatalError() const { return hasFatalError_; }
  const std::string& FatalError() const { return fatalError_; }
  IUiThread& Ui() { return ui_; }

protected:
  virtual void Execute() = 0;
  void Synchronize(const std::function<void()>& fn) { ui_.Synchronize(fn); }

private:
  void Run();

  IUiThread& ui_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  bool hasFatalError_ = false;
  std::string fatalError_;
};

}  // namespace sdm
