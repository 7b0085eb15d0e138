#pragma once
// Unit base_decoder.
// TBaseDecoder: what the decoder front end TMpDec needs of a layer decoder.
// A decoder reads the frame the frame loader has loaded, through the loader's
// bit reader and current header, and writes 16-bit interleaved PCM.
#include <cstdint>
#include <string>

#include "audio/mpeg/SynthesisFilter.h"

namespace sdm {

class TFrameLoader;

class TBaseDecoder {
public:
  explicit TBaseDecoder(TFrameLoader& loader) : Loader(loader) {}
  virtual ~TBaseDecoder() = default;
  TBaseDecoder(const TBaseDecoder&) = delete;
  TBaseDecoder& operator=(const TBaseDecoder&) = delete;

  // reduction 0-2 (only 0, full rate, is used), frequency limit in Hz,
  // conversion 0 (16-bit, the file's channels). False when the first frame is
  // of another layer. Clears all state.
  virtual bool InitDecoder(int reduction, int freqLimit, int conversion) = 0;
  // Decodes the loaded frame into out (OutputBytes bytes). Layer III accepts
  // a null out: the frame then only feeds the reservoir and overlap state.
  virtual void DecodeFrame(int16_t* out) = 0;
  virtual void ResetDecoder() {}

  uint32_t SamplesPerFrame = 0;  // per channel
  uint32_t OutputBytes = 0;
  uint32_t Channels = 2;
  std::string LastError;

protected:
  TFrameLoader& Loader;
  TAudioSynth Synth;
};

}  // namespace sdm
