#include "avi/U_MuxThd.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "audio/encode/SoundtrackEncoder.h"
#include "avi/FileFailure.h"
#include "avi/U_MP3FrameExtract.h"
#include "platform/RegularFile.h"
#include "platform/avifile/AviFile.h"
#include "support/Errors.h"
#include "support/PendingFile.h"

#define SDM_UNIT "U_MuxThd"

namespace sdm {

namespace {

// The result code check of every AVI library call: the message ends in "$",
// the code follows as 8 hexadecimal digits. Calls on a file also name it and
// the library's reason.
std::string WithCode(const char* text, HRESULT code) {
  return std::string(text) + HexCode(static_cast<uint32_t>(code)).substr(1);
}

#define SDM_CHECK_AVI(call, text)                                                          \
  do {                                                                                     \
    const HRESULT hr_ = (call);                                                            \
    if (hr_ != AVIERR_OK) throw EAssertionFailed(WithCode(text, hr_), SDM_UNIT, __LINE__); \
  } while (0)

#define SDM_CHECK_AVI_FILE(call, text, path, access)                                              \
  do {                                                                                            \
    const HRESULT hr_ = (call);                                                                   \
    if (hr_ != AVIERR_OK)                                                                         \
      throw EFileFailure(WithCode(text, hr_), SDM_UNIT, __LINE__, (path), AVIFileLastErrorText(), \
                         TFileAccess::access);                                                    \
  } while (0)

// The 30-byte MPEGLAYER3WAVEFORMAT, laid out little-endian as stored.
std::vector<uint8_t> Mp3WaveFormat(int channels, int sampleRate, int bitRate, int samplesPerFrame) {
  std::vector<uint8_t> f;
  auto put16 = [&](uint32_t v) {
    f.push_back(static_cast<uint8_t>(v));
    f.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  put16(0x0055);                                  // wFormatTag: MPEG layer 3
  put16(static_cast<uint32_t>(channels));         // nChannels
  put32(static_cast<uint32_t>(sampleRate));       // nSamplesPerSec
  put32(static_cast<uint32_t>(bitRate / 8));      // nAvgBytesPerSec
  put16(static_cast<uint32_t>(samplesPerFrame));  // nBlockAlign: one frame per chunk
  put16(0);                                       // wBitsPerSample
  put16(12);                                      // cbSize: the bytes that follow
  put16(1);                                       // wID: MPEGLAYER3_ID_MPEG
  put32(2);                                       // fdwFlags: MPEGLAYER3_FLAG_PADDING_OFF
  put16(522);                                     // nBlockSize
  put16(1);                                       // nFramesPerBlock
  put16(1393);                                    // nCodecDelay
  return f;
}

// Handles of one run. A run that fails still gives every handle back, so no
// descriptor or half-open writer outlives the thread.
struct TMuxHandles {
  PAVIFILE source = nullptr;
  PAVIFILE output = nullptr;
  PAVISTREAM sourceVideo = nullptr;
  PAVISTREAM outVideo = nullptr;
  PAVISTREAM outAudio = nullptr;
  bool avifileInit = false;
  ~TMuxHandles() {
    AVIStreamRelease(outAudio);
    AVIStreamRelease(sourceVideo);
    AVIStreamRelease(outVideo);
    AVIFileRelease(source);
    AVIFileRelease(output);
    if (avifileInit) AVIFileExit();
  }
};

// The soundtrack read in large blocks and handed out a frame at a time: an
// hour of music is some 140 000 frames of about 400 bytes, and a system call
// for each cost more than copying them.
class TSoundReader {
public:
  explicit TSoundReader(int fd) : fd_(fd) {}
  ~TSoundReader() { Close(); }
  TSoundReader(const TSoundReader&) = delete;
  TSoundReader& operator=(const TSoundReader&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // The size bytes at offset, valid until the next call; null when they
  // cannot be read (problem says why).
  const uint8_t* Read(int64_t offset, size_t size, std::string& problem) {
    if (offset >= blockStart_ && offset - blockStart_ + static_cast<int64_t>(size) <= static_cast<int64_t>(held_))
      return block_.data() + (offset - blockStart_);
    block_.resize(std::max(size, kBlockSize));
    blockStart_ = offset;
    held_ = 0;
    while (held_ < size) {
      const ssize_t got = ::pread(fd_, block_.data() + held_, block_.size() - held_,
                                  static_cast<off_t>(offset) + static_cast<off_t>(held_));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        problem = got < 0 ? std::strerror(errno) : "the file has become shorter";
        held_ = 0;
        return nullptr;
      }
      held_ += static_cast<size_t>(got);
    }
    return block_.data();
  }

private:
  static constexpr size_t kBlockSize = 1 << 20;
  int fd_;
  std::vector<uint8_t> block_;
  int64_t blockStart_ = 0;
  size_t held_ = 0;  // bytes of block_ read from blockStart_ on
};

// The same file reached by two names: writing the output must never
// truncate the silent video or the soundtrack it is made from.
// A name that does not exist yet is compared by its canonical path.
bool SameFileOrPath(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return !ec ? false : std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

// The soundtrack encoded to MP3 when it cannot be copied: as good as the
// usual MP3 soundtrack, at 192 kbit/s.
constexpr int kEncodedBitRate = 192000;

// Formats longer than this are not video formats but damage.
constexpr long kMaxFormatSize = 1 << 20;

}  // namespace

bool TMuxThd::EncodeSoundtrack(TPendingFile& mp3) {
  SetMessage("Encoding the soundtrack to MP3");
  TSoundtrackEncoder encoder(AudioFile, {.Encoder = "libmp3lame", .BitRate = kEncodedBitRate, .SampleRate = 44100});
  EncodedFrom = encoder.SourceKind();
  std::string why;
  const int fd = mp3.OpenForWriting(why);
  if (fd < 0) throw EError("Cannot write \"" + mp3.TempPath() + "\": " + why);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) throw std::bad_alloc();
  struct Freer {
    AVPacket* p;
    ~Freer() { av_packet_free(&p); }
  } freer{packet};
  Total = 100;
  Position = 0;
  ReportProgress();
  while (encoder.NextPacket(packet)) {
    for (int done = 0; done < packet->size;) {
      const ssize_t n = ::write(fd, packet->data + done, static_cast<size_t>(packet->size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw EError("Cannot write \"" + mp3.TempPath() + "\": " + std::strerror(n < 0 ? errno : ENOSPC));
      done += static_cast<int>(n);
    }
    av_packet_unref(packet);
    if (Terminated()) return false;
    const auto percent = static_cast<int32_t>(encoder.Progress() * 100);
    if (percent != Position) {
      Position = percent;
      ReportProgress();
    }
  }
  DamagedBlocks = encoder.DamagedBlocks();
  return true;
}

TMuxOutcome TMuxThd::Outcome() const {
  if (HasFatalError()) return TMuxOutcome::Failed;
  if (!completed_.load()) return TMuxOutcome::Running;
  return Aborted ? TMuxOutcome::Cancelled : TMuxOutcome::Done;
}

void TMuxThd::SetMessage(const std::string& text) {
  Message = text;
  Position = 0;
  Total = 0;
  if (OnMessage) Synchronize([this] { OnMessage(Message); });
}

void TMuxThd::ReportProgress() {
  if (OnProgress) Synchronize([this] { OnProgress(Position, Total, Message); });
}

void TMuxThd::Execute() {
  Aborted = false;
  SetMessage("Audio : " + AudioFile);
  SetMessage("Video : " + VideoFile);
  SetMessage("Output : " + OutputFile);
  if (SameFileOrPath(OutputFile, VideoFile) || SameFileOrPath(OutputFile, AudioFile))
    throw EError("The output file \"" + OutputFile + "\" must differ from the video and the soundtrack.");
  SetMessage("Loading MP3 file");

  auto frames = std::make_unique<TMP3FrameExtract>(AudioFile);
  frames->OnProgress = [this](TMP3FrameExtract&, uint8_t percent) {
    Position = percent;
    Total = 100;
    ReportProgress();
  };
  frames->OnAbortQuery = [this] { return Terminated(); };
  frames->Scan();
  if (Terminated()) {
    // Cancelled before anything was written: there is nothing to keep.
    Aborted = true;
    completed_.store(true);
    return;
  }
  // A soundtrack that is not MPEG audio through and through (WAV, FLAC, an
  // AAC stream named .mp3, MPEG-2.5...) would be copied as noise or as the
  // stray patterns in it that look like frames: it is decoded and encoded to
  // MP3 first, and the frames of that are copied.
  std::string notCopyable;
  TPendingFile encoded(OutputFile + ".mp3");
  if (!frames->IsCopyable(&notCopyable)) {
    if (!EncodeSoundtrack(encoded)) {
      Aborted = true;
      completed_.store(true);
      return;
    }
    frames = std::make_unique<TMP3FrameExtract>(encoded.TempPath());
    frames->Scan();
    if (!frames->IsCopyable(&notCopyable))
      throw EError("The soundtrack \"" + AudioFile + "\" could not be encoded to MP3: " + notCopyable);
  }
  const int count = frames->Count();
  char loaded[80];
  std::snprintf(loaded, sizeof loaded, "MP3 file succesfully loaded (%d frames)", count);
  SetMessage(loaded);

  // The output is written under a name of its own beside it and takes the
  // output's name only when complete: a failure or a cancel leaves an
  // earlier file of that name as it was.
  TPendingFile output(OutputFile);
  TMuxHandles h;
  AVIFileInit();
  h.avifileInit = true;
  SDM_CHECK_AVI_FILE(AVIFileOpen(&h.source, VideoFile, OF_READ), "FileOpen failed. Err: $", VideoFile, Read);
  SDM_CHECK_AVI_FILE(AVIFileOpen(&h.output, output.TempPath(), OF_WRITE | OF_CREATE), "FileOpen failed. Err: $",
                     OutputFile, Write);

  AVIFILEINFO fileInfo;
  SDM_CHECK_AVI(AVIFileInfo(h.source, &fileInfo, sizeof fileInfo), "FileInfo failed. Err: $");
  const long length = static_cast<long>(fileInfo.dwLength);
  SDM_CHECK_AVI(AVIFileGetStream(h.source, &h.sourceVideo, streamtypeVIDEO, 0), "GetStream failed. Err: $");
  AVISTREAMINFO videoInfo;
  SDM_CHECK_AVI(AVIStreamInfo(h.sourceVideo, &videoInfo, sizeof videoInfo), "StreamInfo failed. Err: $");
  SDM_CHECK_AVI(AVIFileCreateStream(h.output, &h.outVideo, &videoInfo), "CreateStream failed. Err: $");

  // Our own silent videos carry the 40-byte bitmap header; a video of
  // another writer may have a palette or codec data after it, which must
  // travel with the stream or the copy would not decode.
  long formatSize = 0;
  SDM_CHECK_AVI(AVIStreamReadFormat(h.sourceVideo, 0, nullptr, &formatSize), "StreamReadFormat failed. Err: $");
  if (formatSize < 40 || formatSize > kMaxFormatSize) formatSize = 40;
  std::vector<uint8_t> format(static_cast<size_t>(formatSize));
  SDM_CHECK_AVI(AVIStreamReadFormat(h.sourceVideo, 0, format.data(), &formatSize), "StreamReadFormat failed. Err: $");
  SDM_CHECK_AVI(AVIStreamSetFormat(h.outVideo, 0, format.data(), formatSize), "StreamSetFormat failed. Err: $");

  // One chunk per frame: a chunk stands for the samples of one frame, 1152
  // for MPEG-1 and 576 for MPEG-2 layer III, or players would time a low
  // sampling rate soundtrack at half speed.
  const int samplesPerFrame = frames->FirstHeader()->SamplesPerFrame();
  AVISTREAMINFO audioInfo;
  audioInfo.fccType = streamtypeAUDIO;
  audioInfo.dwScale = static_cast<DWORD>(samplesPerFrame);
  audioInfo.dwRate = static_cast<DWORD>(frames->SampleRate());
  SDM_CHECK_AVI(AVIFileCreateStream(h.output, &h.outAudio, &audioInfo), "CreateStream failed. Err: $");
  const auto waveFormat = Mp3WaveFormat(frames->Channels(), frames->SampleRate(), frames->BitRate(), samplesPerFrame);
  SDM_CHECK_AVI(AVIStreamSetFormat(h.outAudio, 0, waveFormat.data(), static_cast<long>(waveFormat.size())),
                "StreamSetFormat failed. Err: $");

  // The samples of the video stream, from its first: a stream that starts
  // late has no samples before, and another stream of the file reaching
  // past the video's end has no video samples there.
  const long first = AVIStreamStart(h.sourceVideo);
  const long end = std::min(length, first + AVIStreamLength(h.sourceVideo));
  SetMessage("Adding Video Stream");
  Position = 0;
  Total = static_cast<int32_t>(length);
  ReportProgress();
  std::vector<uint8_t> sample;
  long pictures = 0;  // samples that hold a picture
  for (long i = first; i < end && !Terminated(); ++i) {
    long bytes = 0, samples = 0;
    SDM_CHECK_AVI_FILE(AVIStreamRead(h.sourceVideo, i, 1, nullptr, 0, &bytes, &samples), "StreamRead failed. Err: $",
                       VideoFile, Read);
    // Our own silent videos leave sample 0 empty; other writers put their
    // first key frame there, without which nothing after it decodes.
    if (i == 0 && bytes == 0) continue;
    sample.resize(static_cast<size_t>(bytes));
    if (bytes > 0)
      SDM_CHECK_AVI_FILE(AVIStreamRead(h.sourceVideo, i, 1, sample.data(), bytes, &bytes, &samples),
                         "StreamRead failed. Err: $", VideoFile, Read);
    pictures += bytes > 0;
    const bool key = AVIStreamFindSample(h.sourceVideo, i, FIND_KEY) == i;
    SDM_CHECK_AVI_FILE(AVIStreamWrite(h.outVideo, i, 1, sample.data(), bytes, key ? AVIIF_KEYFRAME : 0),
                       "StreamWrite failed. Err: $", OutputFile, Write);
    Position = static_cast<int32_t>(i);
    ReportProgress();
  }

  // A video without a single picture gives a file with sound and nothing to
  // see: not a video.
  if (pictures == 0 && !Terminated()) throw EError("The video \"" + VideoFile + "\" holds no frames.");
  SetMessage("Adding Audio Stream");
  std::string problem;
  TSoundReader sound(OpenRegularFileForReading(frames->FileName, problem));
  if (!sound.IsOpen()) throw EError("Cannot open the soundtrack \"" + AudioFile + "\": " + problem);
  Position = 0;
  Total = count - 1;
  ReportProgress();
  for (int j = 0; j <= count - 2 && !Terminated(); ++j) {
    const size_t size = static_cast<size_t>(frames->FrameSize(j));
    const uint8_t* chunk = sound.Read(frames->FramePosition(j), size, problem);
    // The soundtrack changed since it was scanned: stop rather than write a
    // frame that is not there.
    if (!chunk) throw EError("Cannot read the soundtrack \"" + AudioFile + "\": " + problem);
    SDM_CHECK_AVI_FILE(AVIStreamWrite(h.outAudio, j + 1, 1, chunk, static_cast<long>(size), 0),
                       "StreamWrite failed. Err: $", OutputFile, Write);
    Position = j + 1;
    ReportProgress();
  }

  // Releasing the last handle of the output writes its headers and indexes;
  // a full disk shows only here, and must not end as "Done".
  sound.Close();
  TFirstFailure released;
  released.Note(AVIStreamRelease(h.outAudio));
  h.outAudio = nullptr;
  AVIStreamRelease(h.sourceVideo);
  h.sourceVideo = nullptr;
  released.Note(AVIStreamRelease(h.outVideo));
  h.outVideo = nullptr;
  AVIFileRelease(h.source);
  h.source = nullptr;
  released.Note(AVIFileRelease(h.output));
  h.output = nullptr;
  if (released.code != AVIERR_OK)
    throw EFileFailure(WithCode("FileRelease failed. Err: $", released.code), SDM_UNIT, __LINE__, OutputFile,
                       released.reason);

  // One look at the request, so "Done" and Aborted never disagree.
  const bool cancelled = Terminated();
  if (!cancelled) {
    std::string why;
    if (!output.Commit(why)) throw EError("Cannot write \"" + OutputFile + "\": " + why);
    SetMessage("Done");
  }
  Aborted = cancelled;
  completed_.store(true);
}

}  // namespace sdm
