#pragma once
// IFrameWriter: where the video maker thread hands its frames, one at a time
// in order. The AVI writer (TBmpToAvi) and the MP4/WebM writer
// (TContainerWriter) both take them; the Go command opens one of them, and
// the thread adds every frame and closes it.
#include <cstdint>

#include "platform/Dib24.h"

namespace sdm {

// Frames per second as the fraction Num / Den: 1000 / 33 for an AVI at "30"
// (its period is whole milliseconds), 30 / 1 for an MP4.
struct TFrameRate {
  int32_t Num = 0;
  int32_t Den = 1;
};

class IFrameWriter {
public:
  virtual ~IFrameWriter() = default;
  virtual int32_t FrameWidth() const = 0;
  virtual int32_t FrameHeight() const = 0;
  virtual TFrameRate FrameRate() const = 0;
  // Appends one 24-bit frame of the writer's size. repeatsPrevious says it
  // is the very bitmap handed over last, pixels unchanged, so that work done
  // on it (a conversion) may be reused.
  virtual void AddFrame(const TDib24& frame, bool repeatsPrevious) = 0;
  // Finishes the file with the frames added so far.
  virtual void Close() = 0;
};

}  // namespace sdm
