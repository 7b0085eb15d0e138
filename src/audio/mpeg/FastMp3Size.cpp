#include "audio/mpeg/FastMp3Size.h"

namespace sdm {

TFastMp3size::TFastMp3size(const std::string& fileName)
    : stream_(std::make_unique<TWFileStream>(fileName, TWFileStream::ModeRead)) {
  audioBytes_ = stream_->Size();
}

double TFastMp3size::GetPlayTime() {
  if (playTime_ != 0.0) return playTime_;
  stream_->SetPosition(0);
  if (!header_.FindFrame(*stream_, false)) return 0.0;
  int64_t audioBytes = audioBytes_ - header_.Offset;
  double length = header_.FrameLength;
  double ms = header_.FrameMs();
  for (int i = 1; i < 256 && header_.FindFrame(*stream_, true); ++i) {
    length += header_.FrameLength;
    ms += header_.FrameMs();
  }
  playTime_ = static_cast<double>(audioBytes) / length * ms / 86400000.0;
  return playTime_;
}

}  // namespace sdm
