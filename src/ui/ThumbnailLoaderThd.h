#pragma once
// Unit U_LoaderThd.
// TLoaderThd: counts through the slots of the thumbnail strip and hands each
// slot's step to the UI thread, one at a time, waiting for it. It renders
// nothing itself: the thumbnail server is used on the UI thread only. The
// bitmap the steps render into is the thread's for its run.
#include <functional>

#include "frames/Bitmap32.h"
#include "support/Thread.h"

namespace sdm {

class TLoaderThd : public TThread {
public:
  explicit TLoaderThd(IUiThread& ui) : TThread(ui) {}
  int FirstIndex = 0;
  int LastIndex = -1;
  int Current = 0;  // the slot being filled
  // Run on the UI thread for slot i = 0 … LastIndex − FirstIndex.
  std::function<void(int slot, TBitmap32& bitmap)> SlotStep;

protected:
  void Execute() override;
};

}  // namespace sdm
