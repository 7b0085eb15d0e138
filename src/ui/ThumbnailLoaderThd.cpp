#include "ui/ThumbnailLoaderThd.h"

namespace sdm {

void TLoaderThd::Execute() {
  TBitmap32 bitmap;
  const int n = LastIndex - FirstIndex;
  for (int i = 0; i <= n; ++i)
    Synchronize([this, i, &bitmap] {
      Current = i;
      if (SlotStep) SlotStep(i, bitmap);
    });
}

}  // namespace sdm
