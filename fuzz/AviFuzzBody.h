#pragma once
// What the fuzz target and the corpus test do with one file: everything the
// muxer asks of the AVI reader (file and stream information, formats, every
// sample, key frames), then the muxer itself over the file with a small
// soundtrack, with the promises of both checked on the way. A refused file
// (an error code with its reason, or the muxer's error) is a correct answer;
// a broken promise is collected as a fault so the fuzzer can stop on it and
// the test can name it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "avi/U_MuxThd.h"
#include "platform/avifile/AviFile.h"
#include "support/Errors.h"
#include "support/Thread.h"

namespace sdm::fuzz {

struct TAviRun {
  bool opened = false;
  std::string refusal;  // the reader's reason when it refused the file
  int streams = 0;
  int64_t samples = 0;  // video samples of the first video stream
  bool muxed = false;
  std::string muxError;
  std::vector<std::string> faults;
};

namespace detail {

// Samples read per stream: enough for every seed, few enough that a file
// claiming a million empty samples stays fast.
constexpr long kMaxSamples = 3000;
// The muxer runs only over videos this short, for the same reason.
constexpr long kMaxMuxSamples = 3000;

inline uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// A soundtrack of five silent MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz,
// 417 bytes each).
inline void WriteSoundtrack(const std::string& path) {
  std::vector<uint8_t> frame{0xFF, 0xFB, 0x90, 0x64};
  frame.resize(417, 0);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    for (int k = 0; k < 5; ++k) std::fwrite(frame.data(), 1, frame.size(), f);
    std::fclose(f);
  }
}

// Reads one sample into a buffer of exactly its size, so a write past it is
// an overflow the sanitizer reports.
inline bool ReadSample(PAVISTREAM s, long pos, std::vector<uint8_t>& out, TAviRun& run) {
  long bytes = -1, samples = -1;
  if (AVIStreamRead(s, pos, 1, nullptr, 0, &bytes, &samples) != AVIERR_OK) {
    run.faults.push_back("the size of sample " + std::to_string(pos) + " within the stream cannot be read");
    return false;
  }
  if (bytes < 0 || samples < 1) run.faults.push_back("sample " + std::to_string(pos) + " has a negative size");
  out.assign(static_cast<size_t>(std::max(bytes, 0L)), 0);
  if (bytes > 0 && AVIStreamRead(s, pos, 1, out.data(), bytes, &bytes, &samples) != AVIERR_OK &&
      AVIFileLastErrorText().empty())
    run.faults.push_back("a read of sample " + std::to_string(pos) + " failed without a reason");
  return true;
}

inline void CheckStream(PAVISTREAM s, uint64_t fileSize, TAviRun& run) {
  AVISTREAMINFO info;
  if (AVIStreamInfo(s, &info, sizeof info) != AVIERR_OK) run.faults.push_back("AVIStreamInfo failed");
  long formatSize = -1;
  if (AVIStreamReadFormat(s, 0, nullptr, &formatSize) != AVIERR_OK || formatSize < 0 ||
      static_cast<uint64_t>(formatSize) > fileSize)
    run.faults.push_back("format size " + std::to_string(formatSize) + " in a file of " + std::to_string(fileSize));
  std::vector<uint8_t> format(static_cast<size_t>(std::clamp<long>(formatSize, 1, 1 << 20)));
  long got = static_cast<long>(format.size());
  AVIStreamReadFormat(s, 0, format.data(), &got);

  const long start = AVIStreamStart(s), length = AVIStreamLength(s);
  if (start < 0 || length < 0) run.faults.push_back("negative start or length");
  uint64_t total = 0;
  std::vector<uint8_t> sample;
  for (long k = start; k < start + std::min(length, kMaxSamples); ++k) {
    if (!ReadSample(s, k, sample, run)) break;
    total += sample.size();
    for (long flags : {FIND_KEY, FIND_ANY, FIND_KEY | FIND_NEXT, FIND_ANY | FIND_NEXT}) {
      const long found = AVIStreamFindSample(s, k, flags);
      if (found != -1 && (found < start || found >= start + length))
        run.faults.push_back("FindSample(" + std::to_string(k) + ") gave " + std::to_string(found) +
                             " outside the stream");
    }
  }
  // Samples never share bytes, so they cannot add up to more than the file.
  if (total > fileSize)
    run.faults.push_back(std::to_string(total) + " bytes of samples in a file of " + std::to_string(fileSize));
}

// Runs the muxer's own steps on this thread: no callbacks are set, so it
// never waits for a user-interface thread.
class TInlineMux : public TMuxThd {
public:
  using TMuxThd::TMuxThd;
  void RunHere() { Execute(); }
};

// The video samples of a file, as the muxer copies them.
inline std::vector<std::vector<uint8_t>> VideoSamples(const std::string& path, TAviRun& run, long* first = nullptr) {
  std::vector<std::vector<uint8_t>> samples;
  PAVIFILE f = nullptr;
  PAVISTREAM s = nullptr;
  if (AVIFileOpen(&f, path, OF_READ) != AVIERR_OK) return samples;
  if (AVIFileGetStream(f, &s, streamtypeVIDEO, 0) == AVIERR_OK) {
    const long start = AVIStreamStart(s);
    if (first) *first = start;
    for (long k = start; k < start + std::min(AVIStreamLength(s), kMaxMuxSamples); ++k) {
      samples.emplace_back();
      if (!ReadSample(s, k, samples.back(), run)) break;
    }
    AVIStreamRelease(s);
  }
  AVIFileRelease(f);
  return samples;
}

inline void Mux(const std::string& path, const std::string& dir, TAviRun& run) {
  const std::string base = dir + "/sdm_avi_fuzz_" + std::to_string(::getpid());
  const std::string out = base + "_out.avi", sound = base + ".mp3";
  WriteSoundtrack(sound);
  TEventLoop loop;
  TInlineMux mux(loop);
  mux.VideoFile = path;
  mux.AudioFile = sound;
  mux.OutputFile = out;
  try {
    mux.RunHere();
    run.muxed = true;
  } catch (const EError& e) {
    run.muxError = e.what();
  }
  if (run.muxed) {
    // The copy holds the same samples (an empty sample 0 left out is empty
    // in the copy too, unless nothing follows it), and a copy of a small
    // file is small: each sample costs its bytes and at most 40 of header
    // and index.
    long start = 0;
    auto source = VideoSamples(path, run, &start);
    const auto copy = VideoSamples(out, run);
    if (start == 0 && source.size() == 1 && source[0].empty()) source.clear();
    if (copy.size() != source.size())
      run.faults.push_back("the copy has " + std::to_string(copy.size()) + " video samples, the source " +
                           std::to_string(source.size()));
    for (size_t k = 0; k < std::min(source.size(), copy.size()); ++k)
      if (source[k] != copy[k]) {
        run.faults.push_back("video sample " + std::to_string(k) + " differs in the copy");
        break;
      }
    const uint64_t in = FileSize(path) + FileSize(sound);
    if (FileSize(out) > 2 * in + 65536 + 40 * (source.size() + 8))
      run.faults.push_back("a copy of " + std::to_string(FileSize(out)) + " bytes from " + std::to_string(in));
  } else if (run.muxError.empty()) {
    run.faults.push_back("the muxer failed without a message");
  }
  std::remove(out.c_str());
  std::remove(sound.c_str());
}

}  // namespace detail

// Runs the whole sequence on the file at path; dir holds the soundtrack and
// the muxer's output for the time of the run.
inline TAviRun RunAviFile(const std::string& path, const std::string& dir) {
  TAviRun run;
  const uint64_t fileSize = detail::FileSize(path);
  PAVIFILE f = nullptr;
  const HRESULT opened = AVIFileOpen(&f, path, OF_READ);
  if (opened != AVIERR_OK) {
    run.refusal = AVIFileLastErrorText();
    if (run.refusal.empty()) run.faults.push_back("refused without a reason");
    if (f) run.faults.push_back("a refused file left a handle");
    return run;
  }
  run.opened = true;
  AVIFILEINFO fi;
  if (AVIFileInfo(f, &fi, sizeof fi) != AVIERR_OK) run.faults.push_back("AVIFileInfo failed");
  long videoLength = -1;
  for (long n = 0;; ++n) {
    PAVISTREAM s = nullptr;
    if (AVIFileGetStream(f, &s, 0, n) != AVIERR_OK) break;
    ++run.streams;
    AVISTREAMINFO si;
    AVIStreamInfo(s, &si, sizeof si);
    if (si.fccType == streamtypeVIDEO && videoLength < 0) videoLength = AVIStreamLength(s);
    detail::CheckStream(s, fileSize, run);
    if (AVIStreamRelease(s) != AVIERR_OK) run.faults.push_back("a stream of a file read could not be released");
  }
  if (static_cast<DWORD>(run.streams) != fi.dwStreams) run.faults.push_back("dwStreams differs from the streams");
  if (AVIFileRelease(f) != AVIERR_OK) run.faults.push_back("a file read could not be released");
  run.samples = videoLength;
  if (videoLength >= 0 && videoLength <= detail::kMaxMuxSamples) detail::Mux(path, dir, run);
  return run;
}

}  // namespace sdm::fuzz
