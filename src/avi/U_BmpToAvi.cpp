// TBmpToAvi: the codec catalogue and the AVI writer over the compressor
// layer and the AVI file library.
#define SDM_UNIT "U_BmpToAvi"
#include "avi/U_BmpToAvi.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "avi/FileFailure.h"
#include "support/Errors.h"

namespace sdm {
namespace {

BITMAPINFOHEADER RgbHeader(int32_t width, int32_t height) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biCompression = BI_RGB;
  return h;
}

std::string Narrow(const char16_t* s, size_t cap) {
  // The description up to its first zero or 127 characters, as UTF-8.
  std::string out;
  for (size_t i = 0; i < cap && i < 127 && s[i]; ++i) {
    const char32_t c = s[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

TBmpToAvi::TBmpToAvi() = default;

TBmpToAvi::~TBmpToAvi() {
  if (closed_) return;
  try {
    Close();
  } catch (...) {
    // A destructor has nobody to report to; Close has freed the handles.
  }
}

std::string TBmpToAvi::FourCCToText(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

void TBmpToAvi::ListCodecs(TStringList& lines) {
  lines.Clear();
  const BITMAPINFOHEADER query = RgbHeader(640, 480);
  std::vector<std::string> found;
  ICINFO info;
  for (DWORD n = 0;; ++n) {
    info.dwSize = sizeof info;
    if (!ICInfo(ICTYPE_VIDEO, n, &info)) break;
    HIC h = ICOpen(ICTYPE_VIDEO, info.fccHandler, ICMODE_QUERY);
    if (h && ICSendMessage(h, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(&query), 0) == ICERR_OK) {
      ICINFO got;
      ICGetInfo(h, &got, sizeof got);
      found.push_back(FourCCToText(got.fccHandler) + " " + Narrow(got.szDescription, 128));
    }
    if (h) ICClose(h);
  }
  lines.Assign(found);
}

void TBmpToAvi::SetFourCC(const std::string& text) {
  if (text.empty()) {
    fourCC_.clear();
    return;
  }
  // Before the first job there is no frame size yet (-1 × -1), and no
  // compressor takes that; Configure and About then ask about the size the
  // list was made for, so they work from the start.
  const bool haveSize = Width > 0 && Height > 0;
  const BITMAPINFOHEADER in = haveSize ? RgbHeader(Width, Height) : RgbHeader(640, 480);
  HIC h = ICLocate(ICTYPE_VIDEO, mmioStringToFOURCC(text), &in, nullptr, ICMODE_COMPRESS);
  if (!h) throw EError("No compressor for " + text + " available");
  fourCC_ = text;
  ICClose(h);
}

void TBmpToAvi::Configure(HWND owner) {
  if (fourCC_.empty()) return;
  HIC h = ICOpen(ICTYPE_VIDEO, mmioStringToFOURCC(fourCC_), ICMODE_QUERY);
  if (h && ICSendMessage(h, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY) == ICERR_OK)
    ICSendMessage(h, ICM_CONFIGURE, owner, 0);
  if (h) ICClose(h);
}

void TBmpToAvi::About(HWND owner) {
  if (fourCC_.empty()) return;
  HIC h = ICOpen(ICTYPE_VIDEO, mmioStringToFOURCC(fourCC_), ICMODE_QUERY);
  if (h) {
    ICSendMessage(h, ICM_ABOUT, owner, 0);
    ICClose(h);
  }
}

void TBmpToAvi::Open() {
  Close();
  AVIFileInit();
  // Only a file is replaced: a folder, a device or a pipe of that name is left
  // alone, and opening it for writing then fails with the reason.
  std::error_code ec;
  if (std::filesystem::is_regular_file(FileName, ec)) std::filesystem::remove(FileName, ec);

  lastError_ = AVIFileOpen(&file_, FileName, OF_WRITE | OF_CREATE, nullptr);
  SDM_ASSERT_FILE(lastError_ == 0, "FileOpen failed. Err: " + HexCode(static_cast<uint32_t>(lastError_)), FileName);

  AVISTREAMINFO info;
  info.fccType = streamtypeVIDEO;
  info.fccHandler = mmioStringToFOURCC(fourCC_);
  info.dwFlags = 12;
  info.dwScale = static_cast<DWORD>(FramePeriod);
  info.dwRate = 1000;
  info.dwQuality = 10000;
  info.rcFrame = {0, 0, Width, Height};
  lastError_ = AVIFileCreateStream(file_, &stream_, &info);
  SDM_ASSERT(lastError_ == 0, "CreateStream failed. Err: " + HexCode(static_cast<uint32_t>(lastError_)));

  compressor_ = ICOpen(ICTYPE_VIDEO, mmioStringToFOURCC(fourCC_), ICMODE_COMPRESS);
  SDM_ASSERT(compressor_ != nullptr, "ICOpen failed.");
  // A temporal compressor that keeps its own reference frames says so
  // (VIDCF_FASTTEMPORALC); only the others are handed a copy of the
  // previous frame, which costs a whole frame's copy every frame.
  ICINFO about;
  ICGetInfo(compressor_, &about, sizeof about);
  keepsPrevious_ = (about.dwFlags & VIDCF_TEMPORAL) != 0 && (about.dwFlags & VIDCF_FASTTEMPORALC) == 0;

  frameNumber_ = 1;
  started_ = false;
  opened_ = true;
  closed_ = false;
}

void TBmpToAvi::AddFrame(const TDib24& bitmap, bool repeatsPrevious) {
  // The frame must be the 24-bit DIB its header describes; anything else
  // would make the compressor read past the pixels.
  const BITMAPINFOHEADER& hdr = bitmap.Header;
  const bool valid = hdr.biBitCount == 24 && hdr.biPlanes == 1 && hdr.biCompression == BI_RGB && hdr.biWidth > 0 &&
                     hdr.biHeight > 0 &&
                     bitmap.Bits.size() >= static_cast<size_t>(DibStride(hdr.biWidth, 24)) * hdr.biHeight;
  SDM_ASSERT(valid, std::string("GetObject failed : ") + std::strerror(EINVAL));
  SDM_ASSERT(opened_ && compressor_ && stream_, "ICCompress failed.");
  BITMAPINFOHEADER in = hdr;
  in.biSize = 40;
  in.biSizeImage = DibStride(in.biWidth, 24) * static_cast<uint32_t>(in.biHeight);
  const uint8_t* bits = bitmap.Bits.data();

  if (!started_) {
    SDM_ASSERT(ICSendMessage(compressor_, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(&in),
                             reinterpret_cast<DWORD_PTR>(&outFormat_)) == 0,
               "ICCompressGetFormat failed.");
    lastError_ = AVIStreamSetFormat(stream_, 0, &outFormat_, sizeof outFormat_);
    SDM_ASSERT(lastError_ == 0, "StreamSetFormat failed. Err: " + HexCode(static_cast<uint32_t>(lastError_)));
    // The frame rate of the file, so that encoders which write timing into
    // their frames (MPEG-4) agree with the stream header. Advisory: a
    // compressor that does not take it compresses as before.
    ICCOMPRESSFRAMES frames;
    frames.lpbiOutput = &outFormat_;
    frames.lpbiInput = &in;
    frames.dwRate = 1000;
    frames.dwScale = static_cast<DWORD>(std::max<int32_t>(FramePeriod, 1));
    ICSendMessage(compressor_, ICM_COMPRESS_FRAMES_INFO, reinterpret_cast<DWORD_PTR>(&frames), sizeof frames);
    SDM_ASSERT(ICSendMessage(compressor_, ICM_COMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(&in),
                             reinterpret_cast<DWORD_PTR>(&outFormat_)) == 0,
               "ICCompressBegin failed.");
    maxFrameSize_ =
        static_cast<int32_t>(ICSendMessage(compressor_, ICM_COMPRESS_GET_SIZE, reinterpret_cast<DWORD_PTR>(&in),
                                           reinterpret_cast<DWORD_PTR>(&outFormat_)));
    prevFormat_.clear();
    prevBits_.clear();
    lastBits_ = nullptr;
    started_ = true;
  }
  // Only the very pixels compressed last can be repeated.
  const bool repeat = repeatsPrevious && bits == lastBits_;

  // Kept from frame to frame: clearing megabytes for every frame cost more
  // than compressing a small one. Only the bytes the compressor reports are
  // written to the file.
  outBuffer_.resize(static_cast<size_t>(std::max<int32_t>(maxFrameSize_, 0)));
  DWORD ckid = 0, flags = 0;
  // The previous frame: for a repeat, these very pixels, which also tells
  // the compressor that its work on them still holds.
  const BITMAPINFOHEADER* prevHeader = nullptr;
  const void* prevBits = nullptr;
  if (repeat) {
    prevHeader = &in;
    prevBits = bits;
  } else if (!prevFormat_.empty()) {
    prevHeader = reinterpret_cast<const BITMAPINFOHEADER*>(prevFormat_.data());
    prevBits = prevBits_.data();
  }
  const LRESULT r = ICCompress(compressor_, 0, &outFormat_, outBuffer_.data(), &in, bits, &ckid, &flags, frameNumber_,
                               0, 0, prevHeader, prevBits);
  SDM_ASSERT(r == 0 && !outBuffer_.empty(), "ICCompress failed.");

  if (keepsPrevious_ && !repeat) {
    const auto* inBytes = reinterpret_cast<const uint8_t*>(&in);
    prevFormat_.assign(inBytes, inBytes + sizeof in);
    prevBits_.assign(bits, bits + in.biSizeImage);
  }
  lastBits_ = bits;
  ++frameNumber_;

  lastError_ = AVIStreamWrite(stream_, frameNumber_, 1, outBuffer_.data(), static_cast<long>(outFormat_.biSizeImage),
                              flags, nullptr, nullptr);
  SDM_ASSERT_FILE(lastError_ == 0, "StreamWrite failed. Err: " + HexCode(static_cast<uint32_t>(lastError_)), FileName);
}

void TBmpToAvi::Close() {
  // The file is finished when its last handle goes; remember whether that
  // worked, so a file that could not be completed is not taken for a video.
  TFirstFailure released;
  // A file closed before its first frame still gets its stream's format, so
  // that it is a valid (empty) video and not one no player can open.
  if (stream_ && compressor_ && !started_ && Width > 0 && Height > 0) {
    BITMAPINFOHEADER in = RgbHeader(Width, Height);
    in.biSizeImage = DibStride(Width, 24) * static_cast<uint32_t>(Height);
    if (ICSendMessage(compressor_, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(&in),
                      reinterpret_cast<DWORD_PTR>(&outFormat_)) == 0)
      AVIStreamSetFormat(stream_, 0, &outFormat_, sizeof outFormat_);
  }
  if (stream_) {
    released.Note(AVIStreamRelease(stream_));
    stream_ = nullptr;
  }
  if (file_) {
    released.Note(AVIFileRelease(file_));
    file_ = nullptr;
  }
  if (compressor_) {
    ICSendMessage(compressor_, ICM_COMPRESS_END, 0, 0);
    ICClose(compressor_);
    compressor_ = nullptr;
  }
  AVIFileExit();
  closed_ = true;
  opened_ = false;
  if (released.code != 0) {
    lastError_ = released.code;
    throw EFileFailure("FileRelease failed. Err: " + HexCode(static_cast<uint32_t>(released.code)), SDM_UNIT, __LINE__,
                       FileName, released.reason);
  }
}

}  // namespace sdm
