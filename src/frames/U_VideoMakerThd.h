#pragma once
// TVideoMakerThd: the worker of the first half of an encoding job. It asks a
// frame server for every frame of the slideshow, hands each one to the writer
// the Go command has opened (the AVI writer, or the MP4/WebM writer), and
// reports progress and a preview to the UI thread after every frame. Cancel
// is noticed before the next frame.
//
// Ending well or cancelled, it closes the writer and makes a last report with
// Position 0. Failing, it frees its frames and server and ends at once: the
// writer stays open and Position keeps the last frame written; the error's
// text is in FatalError() for the termination handler.
#include <cstdint>
#include <functional>
#include <memory>

#include "avi/FrameWriter.h"
#include "frames/FrameOptions.h"
#include "platform/Dib24.h"
#include "support/StringList.h"
#include "support/Thread.h"

namespace sdm {

class TVideoMakerThd : public TThread {
public:
  explicit TVideoMakerThd(IUiThread& ui) : TThread(ui) {}

  // Set between creation and Start.
  IFrameWriter* Avi = nullptr;  // opened by the caller; not owned
  int32_t MsPerPicture = 3000;
  TStringList* Pictures = nullptr;        // not owned
  const TStringList* Captions = nullptr;  // not owned; may be null
  TFrameOptions Options;
  // UpdateProgress: run on the UI thread at every report while the worker
  // waits, so it may read Position, Total and Preview freely.
  std::function<void(TVideoMakerThd&)> OnUpdateProgress;

  // Written by the worker for the UI thread.
  int32_t Position = 0;
  int32_t Total = 0;
  std::unique_ptr<TDib24> Preview;  // exists only while frames are produced
  bool Aborted = false;

  // 1 in single frame mode; otherwise msPerPicture / framePeriod rounded to
  // nearest with ties to even, and at least 1.
  static int FramesPerPicture(int32_t msPerPicture, int32_t framePeriod, bool singleFrame);
  // The same at a rate of rate.Num / rate.Den frames a second: msPerPicture
  // × Num / (1000 × Den) rounded likewise. For an AVI's rate of 1000 /
  // framePeriod it is the very number above.
  static int FramesPerPicture(int32_t msPerPicture, TFrameRate rate, bool singleFrame);

protected:
  void Execute() override;

private:
  void UpdateProgress();
};

}  // namespace sdm
