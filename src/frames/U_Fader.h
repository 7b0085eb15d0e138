#pragma once
// TFramesFader: the frames of a cross-fade between the last view of the
// outgoing picture and the first view of the incoming one. The fader only
// keeps references: the frame server redraws both views for each transition
// and the fader always reads their current contents.
#include "frames/Bitmap32.h"

namespace sdm {

class TFramesFader {
public:
  TFramesFader(const TBitmap32& fromFrame, const TBitmap32& toFrame, int fadeFrames)
      : fromFrame_(fromFrame), toFrame_(toFrame), fadeFrames_(fadeFrames) {}

  // Writes fade frame k (0 <= k < FadeFrames) into dest, resized to the size
  // of FromFrame. Fade frame 0 is FromFrame itself; the incoming picture is
  // shown unmixed only on the frame after the last fade frame. Throws
  // std::out_of_range for a k outside the fade and std::invalid_argument when
  // the two views differ in size.
  void Blend(int k, TBitmap32& dest) const;

  int FadeFrames() const { return fadeFrames_; }

  // The blend weight of fade frame k, in single precision as the mix uses it.
  static float Weight(int k, int fadeFrames);

private:
  const TBitmap32& fromFrame_;
  const TBitmap32& toFrame_;
  int fadeFrames_;
};

}  // namespace sdm
