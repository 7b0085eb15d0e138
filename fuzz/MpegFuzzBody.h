#pragma once
// What the fuzz target and the corpus test do with one file: everything a
// caller of the MPEG reader may ask of it, in the order the program asks it
// (fast play-time estimate, PCM to the end, the full index, seeks, the bit
// rate), with the promises the reader makes checked on the way. A refused
// file (an EError) is a correct answer; a broken promise is collected as a
// fault so the fuzzer can stop on it and the test can name it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "audio/mpeg/FastMp3Size.h"
#include "audio/mpeg/U_MpegAudio.h"
#include "support/Errors.h"

namespace sdm::fuzz {

struct TMpegRun {
  bool opened = false;
  std::string refusal;  // the error text when the reader refused the file
  int frames = 0;       // frames in the complete index
  int64_t pcmSize = 0;
  int64_t pcmRead = 0;  // bytes delivered by the read to the end
  bool readBounded = false;
  std::vector<std::string> faults;
};

namespace detail {

// Decoding stops after this many frames so that a large input cannot make one
// fuzz run take seconds.
constexpr int kMaxFrames = 2000;

inline bool IsFiniteDays(double d) { return std::isfinite(d) && d >= 0.0; }

inline bool KnownRate(uint32_t r) {
  static const uint32_t rates[] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};
  return std::find(std::begin(rates), std::end(rates), r) != std::end(rates);
}

// Reads count bytes into a buffer of exactly that size, so that a write past
// the request is an out-of-bounds write the sanitizer reports.
inline bool ReadExact(TMpegAudioFile& f, int32_t count, TMpegRun& run) {
  std::vector<uint8_t> buf(static_cast<size_t>(std::max(count, 1)));
  int32_t n = count;
  bool more = f.ReadPcm(buf.data(), n);
  if (n != count) run.faults.push_back("ReadPcm changed the byte count");
  return more;
}

inline void ReadToEnd(TMpegAudioFile& f, uint32_t frameBytes, uint64_t seed, TMpegRun& run) {
  // A request size between a third of a frame and three frames, different
  // per input, so that frames are split across requests in every way.
  const uint32_t chunk = std::max<uint32_t>(4, frameBytes / 3 + static_cast<uint32_t>(seed % (3 * frameBytes)));
  const int64_t limit = static_cast<int64_t>(kMaxFrames) * frameBytes;
  std::vector<uint8_t> buf(chunk);
  bool more = true;
  while (more) {
    if (run.pcmRead >= limit) {
      run.readBounded = true;
      return;
    }
    int32_t n = static_cast<int32_t>(chunk);
    more = f.ReadPcm(buf.data(), n);
    run.pcmRead += chunk;
  }
  // The read ends with the request that decoded the last indexed frame:
  // before it fewer than all frames were decoded, with it all were.
  const int64_t lastStart = static_cast<int64_t>(f.Loader().Frames() - 1) * frameBytes;
  if (!(run.pcmRead - chunk <= lastStart && lastStart < run.pcmRead))
    run.faults.push_back("the read to the end stopped after " + std::to_string(run.pcmRead) + " bytes for " +
                         std::to_string(f.Loader().Frames()) + " frames of " + std::to_string(frameBytes) + " bytes");
  if (!f.Loader().ScanComplete) run.faults.push_back("the read reached the end but the index is not complete");
  if (f.GetPosition() != run.pcmRead) run.faults.push_back("GetPosition does not count the bytes read");
}

inline void SeekAround(TMpegAudioFile& f, uint32_t frameBytes, TMpegRun& run) {
  const int64_t size = run.pcmSize;
  const int64_t targets[] = {0,
                             size / 2 + 1,
                             static_cast<int64_t>(frameBytes) * 3 + 2,
                             size - 1,
                             size + 12345,
                             -8,
                             std::numeric_limits<int64_t>::max() / 2,
                             7};
  for (int64_t t : targets) {
    f.Seek(t);
    // A position before the start may be kept as asked or taken as the start.
    const int64_t at = f.GetPosition();
    if (at != (t & ~int64_t{3}) && !(t < 0 && at == 0))
      run.faults.push_back("GetPosition after Seek(" + std::to_string(t) + ") is " + std::to_string(f.GetPosition()));
    ReadExact(f, 7, run);
    ReadExact(f, static_cast<int32_t>(frameBytes) + 3, run);
  }
}

inline void CheckReader(TMpegAudioFile& f, uint64_t seed, TMpegRun& run) {
  const uint32_t channels = f.GetChannels();
  const uint32_t rate = f.GetSampleRate();
  const uint32_t frameBytes = f.Decoder().GetFrameBytes();
  if (channels != 1 && channels != 2) run.faults.push_back("channel count " + std::to_string(channels));
  if (!KnownRate(rate)) run.faults.push_back("sample rate " + std::to_string(rate));
  // 2 bytes x channels x 384, 576 or 1152 samples.
  if (frameBytes == 0 || frameBytes > 2 * 2 * 1152 || frameBytes % (2 * channels) != 0)
    run.faults.push_back("PCM bytes per frame " + std::to_string(frameBytes));
  if (run.faults.size() > 0) return;

  if (!IsFiniteDays(f.GetPlayTime())) run.faults.push_back("play-time estimate is not a duration");
  ReadToEnd(f, frameBytes, seed, run);

  run.pcmSize = f.GetPcmSize();
  run.frames = f.Loader().Frames();
  if (run.pcmSize < 0) run.faults.push_back("negative PCM size");
  if (f.GetPcmSize() != run.pcmSize) run.faults.push_back("GetPcmSize changed on the second call");
  if (!IsFiniteDays(f.GetPlayTime())) run.faults.push_back("play time is not a duration");

  SeekAround(f, frameBytes, run);
  if (f.GetBitRate() == 0) run.faults.push_back("bit rate 0 for a file with frames");
  // Reading goes on from wherever GetBitRate left the reader.
  for (int i = 0; i < 3; ++i) ReadExact(f, static_cast<int32_t>(1 + (seed >> (8 * i)) % (2 * frameBytes)), run);
}

}  // namespace detail

// Runs the whole sequence on the file at path; seed varies the request sizes.
inline TMpegRun RunMpegFile(const std::string& path, uint64_t seed) {
  TMpegRun run;
  try {
    TFastMp3size fast(path);
    const double estimate = fast.GetPlayTime();
    if (!detail::IsFiniteDays(estimate)) run.faults.push_back("fast estimate is not a duration");
    if (fast.GetPlayTime() != estimate) run.faults.push_back("fast estimate changed on the second call");

    TMpegAudioFile f(path);
    run.opened = true;
    detail::CheckReader(f, seed, run);
  } catch (const EError& e) {
    run.refusal = e.what();
  }
  return run;
}

}  // namespace sdm::fuzz
