#pragma once
// TAudioFile: the one entry point of the audio library. The file name picks a
// format kind by mask; Open builds the chain reader -> TRsmpFilter ->
// TCompressor that presents the file as 44100 Hz stereo 16-bit PCM.
//
// How readers plug in. Every kind of the table has its reader built in;
// RegisterAudioReader overrides one (tests use it), and Open raises
// EReaderMissing for a kind that has none.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/U_AudioBase.h"

namespace sdm {

class TRsmpFilter;
class TCompressor;

// Raised by Open for a known kind whose reader is not part of this build.
class EReaderMissing : public EError {
public:
  using EError::EError;
};

using TAudioReaderFactory = std::function<std::unique_ptr<TAbstractAudioFile>(const std::string& fileName)>;
// Installs (or, with an empty factory, removes) the reader of a kind.
void RegisterAudioReader(uint8_t kind, TAudioReaderFactory factory);

// Kind chosen from the whole name by the facade's masks; akNone when none.
uint8_t FormatKindFromName(const std::string& fileName);
// Whole-name file-mask match without regard to case: '*' any run (directory
// part included), '?' one character, "[abc]" one of the listed characters.
bool MatchesMask(const std::string& name, const std::string& mask);
// "WAV", "MPEG audio", ... for messages; "unknown" for akNone.
std::string FormatKindName(uint8_t kind);

class TAudioFile {
public:
  TAudioFile();
  ~TAudioFile();
  TAudioFile(const TAudioFile&) = delete;
  TAudioFile& operator=(const TAudioFile&) = delete;

  // Ignored while open; otherwise stores the name and chooses FormatKind.
  void SetFileName(const std::string& name);
  bool HasKnownFormat() const { return FormatKind != akNone; }
  // True at once when open; false for kind 0. A reader's exception leaves the
  // facade closed and propagates.
  bool Open();
  // Play time in days from the reader's own figures; 0 when Open is false.
  double GetDuration();
  // Frees compressor, filter and reader; always true.
  bool Close();

  // The end of the chain while open (the compressor), else nullptr.
  TAbstractAudioFile* Output();

  std::unique_ptr<TAbstractAudioFile> Reader;
  std::unique_ptr<TRsmpFilter> Filter;
  std::unique_ptr<TCompressor> Compressor;
  uint8_t FormatKind = akNone;
  bool UseCompressor = false;
  bool IsOpen = false;
  uint32_t OutBits = 16;
  uint32_t OutChannels = 2;
  uint32_t OutSampleRate = 44100;
  std::string FileName;
};

}  // namespace sdm
