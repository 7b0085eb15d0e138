#pragma once
// TBmpToAvi: the AVI writer. Lists the installed video compressors, keeps the
// chosen one, and writes an AVI file with one video stream whose frames are
// compressed one at a time by that compressor.
//
// The main window owns one writer for its whole life. Open and the catalogue
// calls run on the user-interface thread; AddFrame and Close on the video
// maker thread while a job runs; never both at once.
//
// The k-th frame after Open (k = 1, 2, ...) is compressed as frame number k
// and written at sample position k + 1; positions 0 and 1 stay empty. The
// file is complete only after Close.
#include <cstdint>
#include <string>
#include <vector>

#include "avi/FrameWriter.h"
#include "platform/Dib24.h"
#include "platform/WinTypes.h"
#include "platform/avifile/AviFile.h"
#include "platform/vfw/Vfw.h"
#include "support/StringList.h"

namespace sdm {

class TBmpToAvi : public IFrameWriter {
public:
  // Sample positions 0 and 1 of every file it writes stay empty: a video of
  // n frames lasts n + 2 frame periods.
  static constexpr int32_t kEmptyLeadingSamples = 2;

  TBmpToAvi();
  ~TBmpToAvi() override;  // Close() unless already closed; never throws
  TBmpToAvi(const TBmpToAvi&) = delete;
  TBmpToAvi& operator=(const TBmpToAvi&) = delete;

  // Set by the caller before Open. They keep the last job's values between
  // jobs.
  int32_t Width = -1;
  int32_t Height = -1;
  int32_t FramePeriod = -1;  // milliseconds per frame: 1000 div frames per second
  std::string FileName;

  // ---- Codec catalogue ----
  // Clears lines and adds "FOURCC description" for every compressor that can
  // compress 640 × 480 24-bit frames, in the platform's order.
  void ListCodecs(TStringList& lines);
  // Empty text clears FourCC. Otherwise keeps text when a compressor for it
  // can compress Width × Height 24-bit frames, else throws EError
  // "No compressor for " + text + " available" and leaves FourCC unchanged.
  void SetFourCC(const std::string& text);
  const std::string& FourCC() const { return fourCC_; }
  // The chosen compressor's configuration and about dialogs (through the
  // hooks of the compressor layer); nothing happens without a FourCC.
  void Configure(HWND owner = 0);
  void About(HWND owner = 0);
  // The four bytes of v, least significant first, as characters.
  static std::string FourCCToText(uint32_t v);

  // ---- Writing ----
  // Starts a new file at FileName (an existing file there is deleted first;
  // a folder, device or pipe of that name is left alone and fails the open).
  // Throws EAssertionFailed ("FileOpen failed. Err: $…", "CreateStream
  // failed. Err: $…", "ICOpen failed.") naming U_BmpToAvi and the line;
  // failures on the file are EFileFailure, which add its path and the reason.
  void Open();
  // Compresses one 24-bit frame and appends it to the stream. repeatsPrevious
  // says the frame is the same bitmap as the frame before, pixels unchanged:
  // the compressor is told (the previous frame handed to it is this one),
  // and may reuse its work on the frame. Every frame is compressed and
  // written either way.
  void AddFrame(const TDib24& bitmap, bool repeatsPrevious = false) override;
  // Finishes the file and frees every handle; safe when nothing is open.
  // Throws "FileRelease failed. Err: $…" with the path and the reason (a
  // full disk) when the finished file could not be written completely
  // (after every handle has been freed).
  void Close() override;

  // The frame hand-over: Width × Height at 1000 / FramePeriod frames a second.
  int32_t FrameWidth() const override { return Width; }
  int32_t FrameHeight() const override { return Height; }
  TFrameRate FrameRate() const override { return {1000, FramePeriod}; }

  bool Opened() const { return opened_; }
  bool Closed() const { return closed_; }
  HRESULT LastError() const { return lastError_; }
  // Frame number handed to the compressor next (1 after Open).
  int32_t FrameNumber() const { return frameNumber_; }
  bool Started() const { return started_; }
  const BITMAPINFOHEADER& OutFormat() const { return outFormat_; }
  int32_t MaxFrameSize() const { return maxFrameSize_; }

private:
  std::string fourCC_;
  bool opened_ = false;
  bool closed_ = false;
  HRESULT lastError_ = 0;
  PAVIFILE file_ = nullptr;
  PAVISTREAM stream_ = nullptr;
  HIC compressor_ = nullptr;
  BITMAPINFOHEADER outFormat_{};
  int32_t maxFrameSize_ = 0;
  bool started_ = false;
  int32_t frameNumber_ = 0;
  // A copy of the previous frame, only for compressors that need one to
  // compress the next (temporal ones that keep no reference of their own).
  bool keepsPrevious_ = false;
  std::vector<uint8_t> prevFormat_;
  std::vector<uint8_t> prevBits_;
  const uint8_t* lastBits_ = nullptr;  // the pixels of the frame compressed last
  std::vector<uint8_t> outBuffer_;
};

}  // namespace sdm
