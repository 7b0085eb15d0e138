#pragma once
// TContainerWriter: the MP4 and WebM outputs, written through libavformat
// beside the AVI writer and fed through the same frame hand-over. MP4 holds
// H.264 (libx264) in yuv420p with AAC-LC stereo at 192 kbit/s, its index
// before the data (+faststart) so that a browser plays it while it loads;
// WebM holds VP9 (libvpx-vp9) with Opus at 160 kbit/s. The frame rate is
// exact (time base 1 / fps), the colours BT.709 and tagged so.
//
// Encoders run on a fixed number of threads, and the files carry no time
// stamp or random identifier: the same slideshow gives the same bytes on
// every run (x264 and VP9 output depends on the thread count).
//
// The file is written under a temporary name beside the output and renamed
// over it only when complete, so a failure, a crash or a kill never costs an
// earlier video of that name.
//
// The Go command opens it on the UI thread; the video maker thread adds the
// frames and closes it. Open fails, before any frame, with a message naming
// what is missing (an encoder, the soundtrack) or the file and the reason.
#include <cstdint>
#include <memory>
#include <string>

#include "avi/FrameWriter.h"
#include "avi/OutputKind.h"

namespace sdm {

struct TContainerSettings {
  // Threads of each encoder: fixed, so that a file does not depend on the
  // machine that made it.
  static constexpr int kEncoderThreads = 2;

  TOutputKind Kind = TOutputKind::Mp4;  // Mp4 or WebM
  int32_t Width = 0;                    // even: x264 takes no odd sizes
  int32_t Height = 0;
  int32_t FramesPerSecond = 25;
  std::string FileName;
  // The soundtrack, any kind the audio library reads; "" for a silent video.
  std::string SoundPath;
  // The frames the video will have: the soundtrack is cut (faded out over
  // its last second) or followed by silence to last exactly as long.
  int64_t FrameCount = 0;
  TH264Settings H264;
  int Threads = kEncoderThreads;
};

class TContainerWriter : public IFrameWriter {
public:
  explicit TContainerWriter(const TContainerSettings& settings);
  // A file not finished by Close is removed.
  ~TContainerWriter() override;
  TContainerWriter(const TContainerWriter&) = delete;
  TContainerWriter& operator=(const TContainerWriter&) = delete;

  // Opens the encoders and the file and writes the container's header.
  // Throws EError: an encoder missing at run time, a size the encoder
  // refuses, a soundtrack that cannot be read, a file that cannot be made.
  void Open();
  // Converts the frame to yuv420p, encodes it and writes what the encoders
  // have ready, the soundtrack up to the frame's end included.
  void AddFrame(const TDib24& frame, bool repeatsPrevious = false) override;
  // Drains the encoders, writes the soundtrack up to the end of the last
  // frame and the container's index: the file is complete and playable,
  // whether every frame was added or the job was cancelled part-way. With no
  // frame at all nothing is kept. Throws EError (a full disk) after freeing
  // everything; the unfinished file is then removed.
  void Close() override;
  // Drops the file being written (a failed job): an earlier file of the
  // same name stays as it was.
  void Discard();
  // Where the file is written until Close renames it (empty when not open).
  std::string TempPath() const;
  // Damaged blocks of the soundtrack its reader skipped (so far, or in the
  // file just closed), for the log.
  int SoundDamagedBlocks() const;

  int32_t FrameWidth() const override { return settings_.Width; }
  int32_t FrameHeight() const override { return settings_.Height; }
  TFrameRate FrameRate() const override { return {settings_.FramesPerSecond, 1}; }

  const TContainerSettings& Settings() const { return settings_; }
  bool Opened() const;
  // Frames handed over since Open.
  int64_t FramesWritten() const;
  // Close finished the file and it is in place at FileName.
  bool Finished() const { return finished_; }

private:
  struct TState;
  void DrainVideo();
  // Writes the soundtrack's packets that begin before sample `end` (at the
  // sound's rate).
  void WriteSoundUpTo(int64_t end);
  // Samples of sound that last as long as `frames` frames.
  int64_t SoundSamplesFor(int64_t frames) const;
  [[noreturn]] void Fail(const std::string& what, int code = 0) const;
  void Free();

  TContainerSettings settings_;
  std::unique_ptr<TState> s_;
  bool finished_ = false;
  int soundDamaged_ = 0;  // of the last file, once it is closed
};

}  // namespace sdm
