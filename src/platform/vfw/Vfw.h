#pragma once
// The video compressor interface: ICInfo/ICOpen/ICClose/ICGetInfo/ICLocate/
// ICSendMessage/ICCompress with their Windows meanings and result codes, over
// the encoders of libavcodec (and our own uncompressed "DIB " compressor).
//
// Every compressor takes 24-bit bottom-up BGR frames and returns exactly one
// compressed frame per input frame with its key-frame flag; its output format
// is a complete 40-byte BITMAPINFOHEADER (no private data outside the frames).
// The installed compressors are those whose encoder exists at run time;
// SLIDOMAT_CODECS (comma-separated FourCCs) restricts them, and set to the
// empty string leaves none.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/WinTypes.h"
#include "platform/avifile/AviFile.h"

namespace sdm {

struct TIcInstance;
using HIC = TIcInstance*;
using HWND = uintptr_t;  // an owner window as the UI layer identifies it; 0 = none
using DWORD_PTR = uintptr_t;

constexpr FOURCC ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');

constexpr unsigned ICMODE_COMPRESS = 1;
constexpr unsigned ICMODE_DECOMPRESS = 2;
constexpr unsigned ICMODE_FASTDECOMPRESS = 3;
constexpr unsigned ICMODE_QUERY = 4;

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_DONTDRAW = 1;
constexpr LRESULT ICERR_NEWPALETTE = 2;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_CANTUPDATE = -9;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;
constexpr LRESULT ICERR_BADBITDEPTH = -200;
constexpr LRESULT ICERR_BADIMAGESIZE = -201;

constexpr unsigned DRV_USER = 0x4000;
constexpr unsigned ICM_USER = DRV_USER;
constexpr unsigned ICM_RESERVED_LOW = DRV_USER + 0x1000;
constexpr unsigned ICM_GETINFO = ICM_RESERVED_LOW + 2;
constexpr unsigned ICM_CONFIGURE = ICM_RESERVED_LOW + 10;
constexpr unsigned ICM_ABOUT = ICM_RESERVED_LOW + 11;
constexpr unsigned ICM_GETDEFAULTQUALITY = ICM_RESERVED_LOW + 30;
constexpr unsigned ICM_GETQUALITY = ICM_RESERVED_LOW + 31;
constexpr unsigned ICM_SETQUALITY = ICM_RESERVED_LOW + 32;
constexpr unsigned ICM_GETDEFAULTKEYFRAMERATE = ICM_RESERVED_LOW + 42;
constexpr unsigned ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr unsigned ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr unsigned ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr unsigned ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr unsigned ICM_COMPRESS = ICM_USER + 8;
constexpr unsigned ICM_COMPRESS_END = ICM_USER + 9;
constexpr unsigned ICM_COMPRESS_FRAMES_INFO = ICM_USER + 70;

constexpr DWORD_PTR ICMF_CONFIGURE_QUERY = 1;
constexpr DWORD_PTR ICMF_ABOUT_QUERY = 1;

// ICCompress flags in and out.
constexpr DWORD ICCOMPRESS_KEYFRAME = 0x00000001;
// Key frames come back from ICCompress with AVIIF_KEYFRAME (AviFile.h), the
// flag the AVI index takes.

// ICINFO flags.
constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;
constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;
constexpr DWORD VIDCF_FASTTEMPORALD = 0x0080;
constexpr DWORD VIDCF_QUALITYTIME = 0x0040;

#pragma pack(push, 1)
// ICINFO, 568 bytes: wide (UTF-16) name, description and driver fields.
struct ICINFO {
  DWORD dwSize = sizeof(ICINFO);
  DWORD fccType = 0;
  DWORD fccHandler = 0;
  DWORD dwFlags = 0;
  DWORD dwVersion = 0;
  DWORD dwVersionICM = 0;
  char16_t szName[16] = {};
  char16_t szDescription[128] = {};
  char16_t szDriver[128] = {};
};
#pragma pack(pop)
static_assert(sizeof(ICINFO) == 568, "ICINFO must be 568 bytes");

// The argument block of ICM_COMPRESS (ICCompress packs its arguments in one).
struct ICCOMPRESS {
  DWORD dwFlags = 0;
  BITMAPINFOHEADER* lpbiOutput = nullptr;
  void* lpOutput = nullptr;
  const BITMAPINFOHEADER* lpbiInput = nullptr;
  const void* lpInput = nullptr;
  DWORD* lpckid = nullptr;
  DWORD* lpdwFlags = nullptr;
  LONG lFrameNum = 0;
  DWORD dwFrameSize = 0;
  DWORD dwQuality = 0;
  const BITMAPINFOHEADER* lpbiPrev = nullptr;
  const void* lpPrev = nullptr;
};

// The argument block of ICM_COMPRESS_FRAMES_INFO: what the sequence about to
// be compressed is like. Only the frame rate (dwRate / dwScale frames per
// second) is used: encoders that store timing in their bit stream (MPEG-4)
// would otherwise claim 25 frames per second, whatever the file says, and
// readers that trust the stream retime or drop frames.
struct ICCOMPRESSFRAMES {
  DWORD dwFlags = 0;
  BITMAPINFOHEADER* lpbiOutput = nullptr;
  intptr_t lOutput = 0;
  BITMAPINFOHEADER* lpbiInput = nullptr;
  intptr_t lInput = 0;
  LONG lStartFrame = 0;
  LONG lFrameCount = 0;
  LONG lQuality = 0;
  LONG lDataRate = 0;
  LONG lKeyRate = 0;
  DWORD dwRate = 0;
  DWORD dwScale = 0;
  DWORD dwOverheadPerFrame = 0;
  DWORD dwReserved2 = 0;
  void* GetData = nullptr;
  void* PutData = nullptr;
};

// fccHandler below 256 is an index into the installed compressors of that
// type (how the list is enumerated); otherwise it names one.
bool ICInfo(FOURCC fccType, FOURCC fccHandler, ICINFO* info);
// Opens a compressor; null when none of that FourCC is installed. The
// comparison of FourCCs ignores case, as the platform's does.
HIC ICOpen(FOURCC fccType, FOURCC fccHandler, unsigned mode);
LRESULT ICClose(HIC hic);
// Copies at most cb bytes of the compressor's ICINFO; returns the bytes copied.
LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD cb);
// A compressor of that FourCC (or, with fccHandler 0, the first installed one)
// that accepts the input format: opened in wMode (ICMODE_COMPRESS) or null.
HIC ICLocate(FOURCC fccType, FOURCC fccHandler, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out,
             unsigned wMode);
LRESULT ICSendMessage(HIC hic, unsigned msg, DWORD_PTR dw1, DWORD_PTR dw2);
// The output buffer must hold ICM_COMPRESS_GET_SIZE bytes; lpbiOutput's
// biSizeImage receives the compressed size. Our compressors keep their own
// reference frames (VIDCF_FASTTEMPORALC) and need no previous frame; a
// previous frame given as the very input pixels (lpPrev == lpBits) says the
// frame repeats the one before unchanged, and its conversion is reused.
LRESULT ICCompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER* lpbiOutput, void* lpData,
                   const BITMAPINFOHEADER* lpbiInput, const void* lpBits, DWORD* lpckid, DWORD* lpdwFlags,
                   LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, const BITMAPINFOHEADER* lpbiPrev,
                   const void* lpPrev);

// ---- Compressor settings --------------------------------------------------
// Each compressor keeps its own settings, as real codecs do. They apply the
// next time the compressor is opened for compression.
struct TCompressorSettings {
  int Quality = 7500;          // 0 … 10000, higher is better
  int KeyFrameInterval = 250;  // frames between forced key frames, >= 1
};

// Where the settings live. The default store keeps them in the current user's
// registry hive, one key per compressor; tests may replace it.
class ICompressorSettingsStore {
public:
  virtual ~ICompressorSettingsStore() = default;
  // Leaves settings untouched when nothing is stored for fcc.
  virtual void Load(FOURCC fcc, TCompressorSettings& settings) = 0;
  // Returns false when the settings could not be stored.
  virtual bool Save(FOURCC fcc, const TCompressorSettings& settings) = 0;
};
ICompressorSettingsStore& CompressorSettingsStore();
// Replaces the store (null restores the default one). Not thread-safe: set it
// at start-up.
void SetCompressorSettingsStore(ICompressorSettingsStore* store);
// The compressor's default settings (the values used when none are stored).
TCompressorSettings DefaultCompressorSettings(FOURCC fcc);

// ---- Dialog hooks ---------------------------------------------------------
// ICM_CONFIGURE and ICM_ABOUT call these; the window provides them. Without a
// hook the messages do nothing visible. The configure hook edits the settings
// in place and returns true when the user accepted them; they are then saved.
using TConfigureHook =
    std::function<bool(HWND owner, FOURCC fcc, const std::string& description, TCompressorSettings& settings)>;
using TAboutHook = std::function<void(HWND owner, FOURCC fcc, const std::string& description)>;
void SetCompressorDialogHooks(TConfigureHook configure, TAboutHook about);

}  // namespace sdm
