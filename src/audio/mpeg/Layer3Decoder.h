#pragma once
// Unit L3_Decoder.
// TL3Dec: the Layer III decoder (MPEG-1, MPEG-2 and the MPEG-2.5 extension).
// It keeps the bit reservoir, the scale factors of the previous granule and
// the overlap of the hybrid filter from frame to frame; bitstream errors are
// recorded in LastError and never raised, and the damaged granule plays as
// silence.
#include <memory>

#include "audio/mpeg/BaseDecoder.h"

namespace sdm {

struct TL3State;

class TL3Dec : public TBaseDecoder {
public:
  explicit TL3Dec(TFrameLoader& loader);
  ~TL3Dec() override;

  bool InitDecoder(int reduction, int freqLimit, int conversion) override;
  // A null out decodes the frame without synthesis (seek priming).
  void DecodeFrame(int16_t* out) override;
  // Starts a new stream: synthesis buffers, reservoir and overlap cleared.
  void ResetDecoder() override;

private:
  std::unique_ptr<TL3State> s_;
};

}  // namespace sdm
