#pragma once
// The AVI file library: the AVIFile calls the writer and the muxer use, on our
// own RIFF reader and writer. Files are written as AVI 1.0 with an idx1 index
// and continue as OpenDML (AVIX parts, indx super-index, ix standard indexes,
// dmlh) once a part grows past the RIFF threshold, so long slideshows stay
// valid. A file opened for writing is complete only after its last reference
// (the file handle and every stream handle) has been released: headers and
// indexes are written then.
//
// Reading accepts what we write and ordinary AVI files of other writers: the
// OpenDML indexes when present, else idx1, else a scan of the movi lists. An
// index that names a chunk outside the movi data, or one byte twice, is not
// used. Only plain files are opened, for reading or writing. A file cut short
// gives AVIERR_FILEREAD, a damaged one AVIERR_BADFORMAT (each with its reason
// in AVIFileLastErrorText), never a crash, an endless loop or an allocation
// larger than the file.
//
// All calls return the Windows result codes (AVIERR_OK = 0). Handles are not
// shared between threads at the same time.
#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

namespace sdm {

struct TAviFile;
struct TAviStream;
using PAVIFILE = TAviFile*;
using PAVISTREAM = TAviStream*;

constexpr FOURCC streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr FOURCC streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');
constexpr FOURCC streamtypeMIDI = mmioFOURCC('m', 'i', 'd', 's');
constexpr FOURCC streamtypeTEXT = mmioFOURCC('t', 'x', 't', 's');

// Open modes (the OpenFile flags AVIFileOpen takes).
constexpr unsigned OF_READ = 0x0000;
constexpr unsigned OF_WRITE = 0x0001;
constexpr unsigned OF_READWRITE = 0x0002;
constexpr unsigned OF_SHARE_DENY_WRITE = 0x0020;
constexpr unsigned OF_CREATE = 0x1000;

// Sample flags of AVIStreamWrite and of the index.
constexpr DWORD AVIIF_LIST = 0x00000001;
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;
constexpr DWORD AVIIF_NOTIME = 0x00000100;

// AVIStreamFindSample flags. Without a direction the search goes backwards
// (FIND_PREV): the sample at or before the position.
constexpr long FIND_DIR = 0x0000000F;
constexpr long FIND_NEXT = 0x00000001;
constexpr long FIND_PREV = 0x00000004;
constexpr long FIND_FROM_START = 0x00000008;
constexpr long FIND_TYPE = 0x000000F0;
constexpr long FIND_KEY = 0x00000010;
constexpr long FIND_ANY = 0x00000020;
constexpr long FIND_FORMAT = 0x00000040;

// Stream header flags (AVISTREAMINFO.dwFlags) and file flags.
constexpr DWORD AVISTREAMINFO_DISABLED = 0x00000001;
constexpr DWORD AVISTREAMINFO_FORMATCHANGES = 0x00010000;
constexpr DWORD AVIFILEINFO_HASINDEX = 0x00000010;
constexpr DWORD AVIFILEINFO_MUSTUSEINDEX = 0x00000020;
constexpr DWORD AVIFILEINFO_ISINTERLEAVED = 0x00000100;
constexpr DWORD AVIFILECAPS_CANREAD = 0x00000001;
constexpr DWORD AVIFILECAPS_CANWRITE = 0x00000002;

// Result codes: MAKE_AVIERR(n) = 0x80044000 + n.
constexpr HRESULT MakeAviErr(int n) { return static_cast<HRESULT>(0x80044000u + static_cast<uint32_t>(n)); }
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviErr(101);
constexpr HRESULT AVIERR_BADFORMAT = MakeAviErr(102);
constexpr HRESULT AVIERR_MEMORY = MakeAviErr(103);
constexpr HRESULT AVIERR_INTERNAL = MakeAviErr(104);
constexpr HRESULT AVIERR_BADFLAGS = MakeAviErr(105);
constexpr HRESULT AVIERR_BADPARAM = MakeAviErr(106);
constexpr HRESULT AVIERR_BADSIZE = MakeAviErr(107);
constexpr HRESULT AVIERR_BADHANDLE = MakeAviErr(108);
constexpr HRESULT AVIERR_FILEREAD = MakeAviErr(109);
constexpr HRESULT AVIERR_FILEWRITE = MakeAviErr(110);
constexpr HRESULT AVIERR_FILEOPEN = MakeAviErr(111);
constexpr HRESULT AVIERR_COMPRESSOR = MakeAviErr(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MakeAviErr(113);
constexpr HRESULT AVIERR_READONLY = MakeAviErr(114);
constexpr HRESULT AVIERR_NODATA = MakeAviErr(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviErr(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = MakeAviErr(117);
constexpr HRESULT AVIERR_USERABORT = MakeAviErr(198);
constexpr HRESULT AVIERR_ERROR = MakeAviErr(199);

struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};

// AVISTREAMINFOA: the stream header as the library hands it out and takes it.
struct AVISTREAMINFO {
  FOURCC fccType = 0;
  FOURCC fccHandler = 0;
  DWORD dwFlags = 0;
  DWORD dwCaps = 0;
  WORD wPriority = 0;
  WORD wLanguage = 0;
  DWORD dwScale = 0;
  DWORD dwRate = 0;
  DWORD dwStart = 0;
  DWORD dwLength = 0;
  DWORD dwInitialFrames = 0;
  DWORD dwSuggestedBufferSize = 0;
  DWORD dwQuality = 0;
  DWORD dwSampleSize = 0;
  RECT rcFrame;
  DWORD dwEditCount = 0;
  DWORD dwFormatChangeCount = 0;
  char szName[64] = {};
};

// AVIFILEINFOA: dwLength is the length of the file's longest stream in units
// of dwRate / dwScale of that stream (the first video stream's frames for
// the files we write).
struct AVIFILEINFO {
  DWORD dwMaxBytesPerSec = 0;
  DWORD dwFlags = 0;
  DWORD dwCaps = 0;
  DWORD dwStreams = 0;
  DWORD dwSuggestedBufferSize = 0;
  DWORD dwWidth = 0;
  DWORD dwHeight = 0;
  DWORD dwScale = 0;
  DWORD dwRate = 0;
  DWORD dwLength = 0;
  DWORD dwEditCount = 0;
  char szFileType[64] = {};
};

// Library reference count, as on Windows. The calls work without it; it is
// kept so callers can mirror the platform's init/exit pairs.
void AVIFileInit();
void AVIFileExit();

// Opens fileName. mode OF_READ (0) reads an existing file; OF_WRITE | OF_CREATE
// creates (truncates) one for writing. handler must be null.
HRESULT AVIFileOpen(PAVIFILE* file, const std::string& fileName, unsigned mode, const void* handler = nullptr);
// Fills at most size bytes of info (size is sizeof(AVIFILEINFO) normally).
HRESULT AVIFileInfo(PAVIFILE file, AVIFILEINFO* info, long size);
// The lParam-th stream of type fccType (0 = any type). AVIERR_NODATA when none.
HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, FOURCC fccType, long lParam);
// New stream in a file opened for writing; info's dwLength, dwStart and
// dwSuggestedBufferSize are kept up to date by the library as samples arrive.
// Streams must be created, and their formats set, before the first sample of
// the file is written.
HRESULT AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO* info);
// Drops a reference. When the last reference to a file opened for writing goes
// (file and all its streams), the headers and indexes are written: the result
// is then AVIERR_FILEWRITE if that failed, so a file that could not be
// completed is never reported as written. Null is accepted and ignored.
HRESULT AVIFileRelease(PAVIFILE file);
HRESULT AVIStreamRelease(PAVISTREAM stream);

HRESULT AVIStreamInfo(PAVISTREAM stream, AVISTREAMINFO* info, long size);
// First sample position and length in samples.
long AVIStreamStart(PAVISTREAM stream);
long AVIStreamLength(PAVISTREAM stream);
// Reads the stream format. With format null, *formatSize receives the size;
// otherwise at most *formatSize bytes are copied and *formatSize is set to the
// number copied.
HRESULT AVIStreamReadFormat(PAVISTREAM stream, long pos, void* format, long* formatSize);
// Sets the format of a stream being written (before its first sample).
HRESULT AVIStreamSetFormat(PAVISTREAM stream, long pos, const void* format, long formatSize);
// Reads samples from start on. With buffer null only *bytes and *samplesRead
// are set (the size the read would need). AVIERR_BUFFERTOOSMALL when
// bufferSize cannot hold even one sample.
HRESULT AVIStreamRead(PAVISTREAM stream, long start, long samples, void* buffer, long bufferSize, long* bytes,
                      long* samplesRead);
// Writes samples at position start (-1 appends). Positions between the
// stream's end and start that were never written become zero-length samples,
// so every sample keeps its position. Writing before the end is refused with
// AVIERR_BADPARAM.
HRESULT AVIStreamWrite(PAVISTREAM stream, long start, long samples, const void* buffer, long size, DWORD flags,
                       long* samplesWritten = nullptr, long* bytesWritten = nullptr);
// The key frame (FIND_KEY, the default type) or the non-empty sample
// (FIND_ANY) at or before (FIND_PREV, the default direction) or at or after
// (FIND_NEXT) pos; -1 when there is none.
long AVIStreamFindSample(PAVISTREAM stream, long pos, long flags);
bool AVIStreamIsKeyFrame(PAVISTREAM stream, long pos);

// Why the last failing AVIFileOpen, AVIStreamRead, AVIStreamWrite,
// AVIFileRelease or AVIStreamRelease of the calling thread failed, in words a
// user can act on: the system's reason ("No space left on device"), what a
// path names instead of a file ("is a named pipe"), or what is wrong with the
// file's contents. Empty when the code says all there is.
const std::string& AVIFileLastErrorText();

// Size in bytes past which a RIFF part of a file being written is closed and
// the file continues in a new AVIX part with OpenDML indexes. 1 GiB by
// default; the environment variable SLIDOMAT_AVI_RIFF_LIMIT (bytes) overrides
// the default so whole-program tests can cross it with small files. Takes
// effect for files opened afterwards.
void AVISetRiffLimit(uint64_t bytes);
uint64_t AVIGetRiffLimit();
constexpr uint64_t kDefaultRiffLimit = 1ull << 30;

}  // namespace sdm
