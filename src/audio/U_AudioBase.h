#pragma once
// TAbstractAudioFile: the base of every format reader and of the two stream
// filters of the decoding chain. A reader is complete when its constructor
// returns (file open, stream parameters known, Tags filled) or it raises.
//
// Audio conventions: PCM is interleaved, little-endian, channel 0 first,
// 16-bit signed (8-bit unsigned only from WAV sources); positions and sizes
// are signed 64-bit byte counts of the PCM stream; play time is a double
// holding days (1.0 = 24 hours). Strings are UTF-8.
#include <cstdint>
#include <string>
#include <vector>

#include "support/Errors.h"

namespace sdm {

// Format kinds a reader reports and the facade chooses from the file name.
enum : uint8_t {
  akNone = 0,
  akWav = 1,
  akMpeg = 3,
  akWma = 4,
  akOgg = 5,
  akApe = 6,
  akAc3 = 7,
  akMpc = 8,
  akFlac = 9,
  akAac = 10,  // ADTS streams and MP4 audio (*.aac, *.m4a)
};

// Tag kinds, a bit set.
enum : uint32_t {
  tkId3v1 = 1,
  tkId3v2 = 2,
  tkApeV2 = 4,
  tkVorbis = 8,
};

// A tag value list: lines of the form NAME=value.
using TTagLines = std::vector<std::string>;

// The conversion error of GetTagDate.
class EConvertError : public EError {
public:
  using EError::EError;
};

class TAbstractAudioFile {
public:
  // Stores the name, clears Id3v2Size and TagKinds, starts Tags and Messages
  // empty. Every reader calls it first and then fills its own fields.
  explicit TAbstractAudioFile(const std::string& fileName);
  virtual ~TAbstractAudioFile();
  TAbstractAudioFile(const TAbstractAudioFile&) = delete;
  TAbstractAudioFile& operator=(const TAbstractAudioFile&) = delete;

  virtual uint32_t GetBitRate();        // bits per second of the source
  virtual uint32_t GetChannels();       // channels in the PCM
  virtual int64_t GetFileSize();        // bytes of the file
  virtual int64_t GetPosition();        // current PCM byte position
  virtual int64_t GetPcmSize();         // total PCM bytes
  virtual uint32_t GetSampleRate();     // samples per second per channel
  virtual uint32_t GetBitsPerSample();  // 8 or 16
  virtual uint8_t GetFormatKind();      // akNone...
  virtual void Seek(int64_t position);  // PCM byte offset; base does nothing
  // Base: PcmSize / ((Channels * SampleRate * BitsPerSample) div 8) / 86400.
  virtual double GetPlayTime();
  virtual bool CanRead();  // base false; readers and filters true

  // The PCM read contract: on entry count is the number of bytes wanted; the
  // implementation writes PCM into buffer and sets count to the bytes it
  // delivered. The result is true while the stream has (or may still have)
  // data and false once it is exhausted. Readers that cannot fill the whole
  // request either zero-fill the remainder or report the short count.
  virtual bool ReadPcm(void* buffer, int32_t& count) = 0;

  // Value after "Name=" of the first line whose name equals name, ignoring
  // case; empty when there is none.
  virtual void GetTagValue(const std::string& name, std::string& value);
  // The value as a 32-bit integer; 0 when it is not a valid integer.
  virtual int32_t GetTagInt(const std::string& name);
  // The value as a date-time (days since 1899-12-30, the runtime's epoch).
  // Accepted: yyyy-mm-dd and dd/mm/yyyy; anything else raises EConvertError.
  virtual double GetTagDate(const std::string& name);
  // Strip / write tags of the given kinds (ID3v1, ID3v2, APEv2 in that order)
  // from / into FileName. The result is the AND of the single results; true
  // for an empty kind set, which leaves the file untouched. A kind the format
  // does not carry (outside WritableTagKinds) is refused: false, and the file
  // is not touched at all. Why a writer refused is in TagProblem.
  virtual bool RemoveTags(uint32_t kinds);
  virtual bool WriteTags(uint32_t kinds);
  // The tag kinds this format carries, which WriteTags and RemoveTags can
  // change without touching a byte of the audio (base: ID3v1, ID3v2, APEv2).
  virtual uint32_t WritableTagKinds() { return tkId3v1 | tkId3v2 | tkApeV2; }

  // Convenience for callers: the value (empty when absent).
  std::string TagValue(const std::string& name) {
    std::string v;
    GetTagValue(name, v);
    return v;
  }

  std::string FileName;
  TTagLines Tags;
  int64_t Id3v2Size = 0;
  TTagLines Messages;
  uint32_t TagKinds = 0;
  // Speaker positions of the PCM's channels as a WAVE channel mask (front
  // left 0x1, front right 0x2, centre 0x4, LFE 0x8, back 0x10/0x20, ...),
  // the channels in ascending bit order; 0 means the usual layout for the
  // count. Only the mix-down of more than two channels needs it.
  uint32_t ChannelMask = 0;
  // Blocks of the file (packets, frames, pages) the reader met damaged and
  // left out or played as silence so far. A decode that had any is not a
  // faithful copy of the file, and says so.
  int64_t DamagedBlocks = 0;
  // Why the last WriteTags or RemoveTags refused, for the message; empty
  // when it did not or nothing more is known.
  std::string TagProblem;

protected:
  // True (with TagProblem said) when kinds holds a kind the format does not
  // carry.
  bool RefusesKinds(uint32_t kinds);
  // The ID3v1, ID3v2 and APEv2 tag classes at work, without that check.
  bool RemoveKinds(uint32_t kinds);
  // Counts one damaged block and says what it was in Messages (the first
  // thousand of them: a file of nothing but damage must not fill memory).
  void NoteDamage(const std::string& message) {
    ++DamagedBlocks;
    if (Messages.size() < 1000) Messages.push_back(message);
  }
};

// Shared by the tag classes and readers: the value of the first line of lines
// whose name part equals name without regard to case; found tells whether
// there was one.
std::string FindTagValue(const TTagLines& lines, const std::string& name, bool* found = nullptr);
// The kinds of a tag-kind set, named for messages: "ID3v1, APEv2".
std::string TagKindNames(uint32_t kinds);

}  // namespace sdm
