#pragma once
// Unit L12_decoder.
// TL1Dec and TL2Dec: the Layer I and Layer II decoders. Their scale factors
// carry the 16-bit output scale with 30000 as full scale.
#include "audio/mpeg/BaseDecoder.h"

namespace sdm {

class TL1Dec : public TBaseDecoder {
public:
  explicit TL1Dec(TFrameLoader& loader) : TBaseDecoder(loader) {}
  bool InitDecoder(int reduction, int freqLimit, int conversion) override;
  void DecodeFrame(int16_t* out) override;
  // A seek starts the synthesis afresh, so what follows it never mixes in
  // the audio of wherever the reader was before.
  void ResetDecoder() override { Synth.Reset(); }

private:
  float sample_[2][12][32] = {};
};

class TL2Dec : public TBaseDecoder {
public:
  explicit TL2Dec(TFrameLoader& loader) : TBaseDecoder(loader) {}
  bool InitDecoder(int reduction, int freqLimit, int conversion) override;
  void DecodeFrame(int16_t* out) override;
  void ResetDecoder() override { Synth.Reset(); }

private:
  float sample_[2][36][32] = {};
};

}  // namespace sdm
