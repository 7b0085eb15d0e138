#pragma once
// Unit audio_synth.
// TAudioSynth: the polyphase synthesis filter bank shared by the three layer
// decoders. Each block of 32 subband samples of a channel becomes 32 PCM
// samples; the state is a circular buffer of 512 values per channel (and its
// blocks mirrored).
#include <cstdint>

namespace sdm {

class TAudioSynth {
public:
  TAudioSynth();
  // Selects the routine for one channel or two interleaved channels.
  void Init(int channels);
  void Reset();
  // One block of 32 subband samples per channel (right may be null for one
  // channel) into 32 samples per channel, interleaved when two channels.
  void SynthBlock(const float* left, const float* right, int16_t* out);

  // The synthesis window D[i] (exposed for tests of its symmetry).
  static const float* Window();

private:
  void Matrix(int ch, const float* in);
  void Window(int ch, float* out);

  float buf_[2][512];
  float rev_[2][512];  // each block of buf_ mirrored, for the window's sums
  unsigned pos_ = 0;   // 9 bits, moves down by 32 after each block
  int channels_ = 2;
};

}  // namespace sdm
