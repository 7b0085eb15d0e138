#include "support/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace sdm {
namespace {

class CountingThread : public TThread {
public:
  CountingThread(IUiThread& ui, int* uiCounter, bool fail) : TThread(ui), uiCounter_(uiCounter), fail_(fail) {}
  std::atomic<int> steps{0};

protected:
  void Execute() override {
    for (int i = 0; i < 1000 && !Terminated(); ++i) {
      // Every effect on the UI side goes through Synchronize.
      Synchronize([this] { ++*uiCounter_; });
      ++steps;
      if (fail_ && i == 2) throw std::runtime_error("broken at 3");
    }
  }

private:
  int* uiCounter_;
  bool fail_;
};

TEST(ThreadTest, SynchronizeRunsOnTheUiThreadAndHandlerSeesTheEnd) {
  TEventLoop loop;
  int uiCounter = 0;
  bool handlerOnUi = false;
  auto* t = new CountingThread(loop, &uiCounter, false);
  t->OnTerminate = [&](TThread& th) {
    handlerOnUi = loop.IsUiThread();
    th.Terminate();
  };
  t->Start();
  t->WaitFor();
  EXPECT_TRUE(handlerOnUi);
  EXPECT_EQ(uiCounter, 1000);
  EXPECT_FALSE(t->HasFatalError());
  delete t;
}

TEST(ThreadTest, FirstErrorEndsExecuteAndIsKept) {
  TEventLoop loop;
  int uiCounter = 0;
  CountingThread t(loop, &uiCounter, true);
  t.Start();
  t.WaitFor();
  EXPECT_TRUE(t.HasFatalError());
  EXPECT_EQ(t.FatalError(), "broken at 3");
  EXPECT_EQ(t.steps.load(), 3);
}

TEST(ThreadTest, TerminateRequestStopsAFreeOnTerminateThread) {
  TEventLoop loop;
  int uiCounter = 0;
  bool ended = false;
  auto* t = new CountingThread(loop, &uiCounter, false);
  t->FreeOnTerminate = true;
  t->OnTerminate = [&](TThread&) { ended = true; };
  t->Terminate();  // asked to stop before it starts: Execute sees it at its first check
  t->Start();
  loop.RunUntil([&] { return ended; });
  EXPECT_EQ(uiCounter, 0);
}

// Two workers hand over calls as fast as they can, and now and then after a
// pause long enough for the UI thread to fall asleep: each call runs on the
// UI thread, in each worker's order, before Synchronize returns; an error
// comes back to its caller; posted calls run too.
TEST(ThreadTest, HandOversFromTwoWorkersRunInOrderAndReturnAfterRunning) {
  TEventLoop loop;
  constexpr int kCalls = 3000;
  std::vector<int> seen[2];
  std::atomic<int> posted{0}, errors{0}, finished{0};
  auto work = [&](int w) {
    for (int i = 0; i < kCalls; ++i) {
      int ranOn = -1;
      try {
        loop.Synchronize([&] {
          EXPECT_TRUE(loop.IsUiThread());
          seen[w].push_back(i);
          ranOn = i;
          if (i % 500 == 7) throw std::runtime_error("report failed");
        });
      } catch (const std::runtime_error&) {
        ++errors;
      }
      EXPECT_EQ(ranOn, i);  // it has run by the time Synchronize returns
      if (i % 100 == 0) loop.Post([&] { ++posted; });
      if (i % 250 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ++finished;
  };
  std::thread a(work, 0), b(work, 1);
  loop.RunUntil([&] { return finished.load() == 2; });
  a.join();
  b.join();
  while (loop.ProcessPending(0) > 0) {
  }
  for (const auto& calls : seen) {
    ASSERT_EQ(calls.size(), static_cast<size_t>(kCalls));
    for (int i = 0; i < kCalls; ++i) ASSERT_EQ(calls[static_cast<size_t>(i)], i);
  }
  EXPECT_EQ(errors.load(), 2 * (kCalls / 500));
  EXPECT_EQ(posted.load(), 2 * (kCalls / 100));
}

// A call that pumps the loop itself (as a window waiting for a worker to go
// does) runs another worker's call inside it: that worker goes on, while the
// first one still waits for its own call to end.
TEST(ThreadTest, ACallThatPumpsTheLoopKeepsItsCallerWaitingUntilItEnds) {
  TEventLoop loop;
  std::atomic<bool> firstRunning{false}, secondRan{false}, firstEnded{false}, firstReturned{false};
  std::atomic<bool> endedWhenReturned{false};
  std::thread first([&] {
    loop.Synchronize([&] {
      firstRunning = true;
      while (!secondRan) loop.ProcessPending(1);
      // The second worker has returned; give the first one a chance to
      // return too early before this call ends.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      firstEnded = true;
    });
    endedWhenReturned = firstEnded.load();
    firstReturned = true;
  });
  std::thread second([&] {
    while (!firstRunning) std::this_thread::yield();
    loop.Synchronize([&] {});
    secondRan = true;
  });
  loop.RunUntil([&] { return firstReturned.load(); });
  first.join();
  second.join();
  EXPECT_TRUE(endedWhenReturned.load());
}

// A posted call that throws leaves the calls queued after it for the next
// round: a worker waiting for one of them is not left hanging.
// A job's loop ends as soon as the worker's last call (its termination
// handler) has run, while a self-ending worker is still returning from it:
// the worker must not touch the loop after its call, whether it watched for
// the call or slept (the sanitizer build sees any touch of the freed loop).
TEST(ThreadTest, TheLoopMayGoAsSoonAsTheLastCallHasRun) {
  for (int round = 0; round < 2000; ++round) {
    std::atomic<bool> ran{false};
    std::thread worker;
    {
      auto loop = std::make_unique<TEventLoop>();
      TEventLoop* ui = loop.get();
      worker = std::thread([ui, &ran] { ui->Synchronize([&ran] { ran.store(true); }); });
      // Every other round the worker has long gone to sleep when its call runs.
      if (round % 2) std::this_thread::sleep_for(std::chrono::microseconds(200));
      loop->RunUntil([&] { return ran.load(); });
    }
    worker.join();
  }
}

TEST(ThreadTest, AFailingPostedCallDoesNotStrandTheCallsAfterIt) {
  TEventLoop loop;
  bool after = false;
  loop.Post([] { throw std::runtime_error("posted call failed"); });
  loop.Post([&] { after = true; });
  EXPECT_THROW(loop.ProcessPending(0), std::runtime_error);
  EXPECT_FALSE(after);
  EXPECT_EQ(loop.ProcessPending(0), 1);
  EXPECT_TRUE(after);
}

}  // namespace
}  // namespace sdm
