#include "support/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

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

}  // namespace
}  // namespace sdm
