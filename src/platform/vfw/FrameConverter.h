#pragma once
// TFrameConverter: 24-bit bottom-up DIB frames turned into an encoder's pixel
// format by swscale, in two bands of rows converted side by side (the
// caller's thread takes one, a helper thread the other; whichever is free
// first takes a band not started yet, so a helper the system is slow to wake
// costs nothing but its band done by the caller).
//
// Each band starts at a row that is a multiple of 16, so its chroma rows are
// made from its own pairs of luma rows and any dither pattern lines up: the
// frame comes out byte for byte what one conversion of the whole frame makes
// (the tests compare the two for every format the compressors use).
extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct SwsContext;

namespace sdm {

class TFrameConverter {
public:
  TFrameConverter() = default;
  ~TFrameConverter();
  TFrameConverter(const TFrameConverter&) = delete;
  TFrameConverter& operator=(const TFrameConverter&) = delete;

  // width × height BGR24 frames into format with these swscale flags; with a
  // colour space (SWS_CS_ITU709…), full-range input made into limited-range
  // output with that matrix. bands 1 converts on the caller's thread alone; a
  // frame too small to cut (under 32 rows) is one band whatever is asked.
  // False when swscale cannot make the conversion.
  bool Open(int width, int height, AVPixelFormat format, int flags, int colorspace = 0, int bands = 2);
  void Close();
  int Bands() const { return static_cast<int>(bands_.size()); }

  // Converts the DIB's pixels (rows of stride bytes, bottom row first) into
  // frame, which must be writable and of the size and format opened.
  void Convert(const uint8_t* bits, uint32_t stride, AVFrame& frame);

private:
  struct TBand {
    SwsContext* sws = nullptr;
    int top = 0;
    int rows = 0;
  };
  void ConvertBand(const TBand& band);
  // Takes bands not started yet until none is left.
  void TakeBands();
  void Help();

  int width_ = 0;
  int height_ = 0;
  int chromaShift_ = 0;  // log2 of the vertical chroma subsampling
  std::vector<TBand> bands_;

  // The frame being converted, set before the helper is woken.
  const uint8_t* bits_ = nullptr;
  uint32_t stride_ = 0;
  AVFrame* frame_ = nullptr;
  std::atomic<int> nextBand_{0};
  std::atomic<int> bandsDone_{0};

  std::mutex mutex_;
  std::condition_variable wake_;  // the helper waits here for a frame
  std::condition_variable done_;  // the caller waits here for the helper's band
  uint64_t posted_ = 0;           // frames handed to the helper (under mutex_)
  bool stop_ = false;
  std::thread helper_;
};

}  // namespace sdm
