#pragma once
// Unit U_FastMp3size.
// TFastMp3size: a play-time estimate from the first 256 frames (file size
// after the first frame over their mean length, times their duration), used
// while the complete frame index is not built yet.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/AudioFileStream.h"
#include "audio/mpeg/MpegHeader.h"

namespace sdm {

class TFastMp3size {
public:
  explicit TFastMp3size(const std::string& fileName);
  // Days; 0 when the file holds no frame (and then nothing is cached).
  double GetPlayTime();

private:
  std::unique_ptr<TWFileStream> stream_;
  TMpegHeader header_;
  int64_t audioBytes_ = 0;
  double playTime_ = 0.0;
};

}  // namespace sdm
