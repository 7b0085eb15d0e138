#pragma once
// Unit U_Dynamic.
// TCompressor: the last stage of the decoding chain, evening out loudness. Per
// block it measures the level, maps it through a 20-knot transfer curve,
// smooths the resulting gain (rising and falling at different speeds) and
// applies it with a hard clamp; it can move the curve's strength itself.
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/U_AudioBase.h"

namespace sdm {

class TRsmpFilter;

struct TKnot {
  float InputDb = 0;
  float OutputDb = 0;
};

// Owns its knots, in ascending InputDb.
class TKnotArray {
public:
  int Count() const { return static_cast<int>(items_.size()); }
  TKnot& operator[](int i) { return *items_.at(static_cast<size_t>(i)); }
  const TKnot& operator[](int i) const { return *items_.at(static_cast<size_t>(i)); }
  void Add(float inputDb, float outputDb) { items_.push_back(std::make_unique<TKnot>(TKnot{inputDb, outputDb})); }

private:
  std::vector<std::unique_ptr<TKnot>> items_;
};

class TCompressor : public TAbstractAudioFile {
public:
  // source (16-bit stereo) is not owned.
  explicit TCompressor(TAbstractAudioFile* source);

  uint32_t GetBitRate() override { return Source->GetBitRate(); }
  uint32_t GetChannels() override { return Source->GetChannels(); }
  int64_t GetFileSize() override { return Source->GetFileSize(); }
  int64_t GetPosition() override { return Source->GetPosition(); }
  int64_t GetPcmSize() override { return Source->GetPcmSize(); }
  uint32_t GetSampleRate() override { return Source->GetSampleRate(); }
  uint32_t GetBitsPerSample() override { return Source->GetBitsPerSample(); }
  uint8_t GetFormatKind() override { return Source->GetFormatKind(); }
  void Seek(int64_t position) override { Source->Seek(position); }
  bool CanRead() override { return true; }
  bool ReadPcm(void* buffer, int32_t& count) override;

  void SetAmount(int32_t amount);
  void SetMaxLevel(float level);
  void SetTargetLevel(int32_t db);
  void SetTolerance(int32_t db);
  void SetGateLevel(int32_t db);
  void SetRiseCoef(float c);
  void SetFallCoef(float c);

  // Level of a block of bytes/2 16-bit stereo samples, in dB (single).
  static float MeasureLevel(const int16_t* samples, int32_t bytes);
  float TransferLevel(float x) const;
  void Compress(int16_t* samples, int32_t bytes);

  TKnotArray Knots;
  TAbstractAudioFile* Source;
  float GainDb = 0;
  bool Enabled = true;
  int32_t Amount = 5;
  float MaxLevel = 1;
  int32_t ClipLimit = 32766;
  bool AutoAmount = false;
  int32_t Tolerance = 30;
  int32_t TargetLevel = -12;
  int32_t GateLevel = -60;
  float RiseCoef = 0.07f;
  float FallCoef = 0.5f;
};

}  // namespace sdm
