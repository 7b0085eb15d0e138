#include "audio/readers/AacFile.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <vector>

#include "audio/AudioFileStream.h"
#include "audio/tags/ReaderTags.h"

namespace sdm {

namespace {

// The sample frames of an ADTS stream from offset on: 1024 for each frame
// of the chain of frame headers, so the length is what the file holds and
// not the demuxer's estimate from the bit rate. -1 when it cannot be read.
int64_t AdtsSampleFrames(const std::string& fileName, int64_t offset) {
  try {
    TWFileStream s(fileName, TWFileStream::ModeRead);
    s.BufferReads(1 << 16);
    const int64_t size = s.Size();
    int64_t frames = 0;
    uint8_t h[7];
    for (int64_t at = offset; at + 7 <= size;) {
      if (s.Seek(at, 0) != at || s.Read(h, 7) != 7) break;
      if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) break;
      const int64_t length = (int64_t{h[3]} & 3) << 11 | int64_t{h[4]} << 3 | h[5] >> 5;
      if (length < 7 || at + length > size) break;
      frames += (h[6] & 3) + 1;  // raw data blocks in the frame, 1024 samples each
      at += length;
    }
    return frames * 1024;
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace

TAacFile::TAacFile(const std::string& fileName) : TAvAudioReader(fileName) {
  if (!AvFormatAvailable("aac", {"aac"})) throw EError("AAC support is not part of this FFmpeg build: " + fileName);
  if (Av.OpenContainer(fileName, {"mov", "aac"}) < 0) throw EError("Invalid AAC file " + fileName);
  const bool adts = Av.DemuxerName() == "aac";
  // An ADTS stream has no header: its rate and channels are in its frames.
  if (adts && avformat_find_stream_info(Av.Format(), nullptr) < 0) throw EError("Invalid AAC file " + fileName);
  int audio = -1;
  for (int i = 0; i < Av.StreamCount() && audio < 0; ++i)
    if (Av.IsAudio(i) && Av.Format()->streams[i]->codecpar->codec_id == AV_CODEC_ID_AAC) audio = i;
  if (audio < 0 || OpenAudio(audio) < 0) throw EError("Invalid AAC file " + fileName);
  const TFileTags t = ReadFileTags(*this, tkId3v2);
  Tags = t.Id3v2;
  if (adts) {
    const int64_t frames = AdtsSampleFrames(fileName, Id3v2Size);
    if (frames >= 0) Av.TotalFrames = frames;
  } else {
    // An MP4 file times its packets in samples.
    Av.ExactSeek = true;
  }
}

}  // namespace sdm
