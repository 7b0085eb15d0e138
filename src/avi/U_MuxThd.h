#pragma once
// TMuxThd: the second half of an encoding job with a soundtrack. It copies the
// video stream of the silent video sample for sample into the final file and
// adds the soundtrack's MPEG audio frames unchanged, one frame per chunk.
// A soundtrack that is not MPEG audio (WAV, Ogg, FLAC, WMA, APE, AC-3,
// Musepack, AAC, MPEG-2.5) is decoded through the audio library and encoded
// to MP3 first, and the frames of that are copied. The final file takes the
// output's name only when complete.
//
// The owner creates it, sets the fields and OnTerminate, and calls Start. The
// thread reports through OnProgress/OnMessage on the UI thread and waits for
// them. It never changes or deletes VideoFile, whatever happens. Failures on
// a file name it and give the reason (a full disk, a video cut short).
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "support/Thread.h"

namespace sdm {

class TPendingFile;

// How a run ended, for the termination handler: only Done means the output
// file is complete and the silent video may be let go.
enum class TMuxOutcome { Running, Done, Cancelled, Failed };

class TMuxThd : public TThread {
public:
  explicit TMuxThd(IUiThread& ui) : TThread(ui) {}

  // Set by the owner before Start.
  std::string VideoFile;   // the silent video ("temp.avi" beside the output)
  std::string AudioFile;   // the MP3 soundtrack
  std::string OutputFile;  // the final file with both streams
  std::function<void(int32_t position, int32_t maximum, const std::string& text)> OnProgress;
  std::function<void(const std::string& text)> OnMessage;

  // Written by the thread; read them on the UI thread (in the callbacks or
  // the termination handler).
  std::string Message;
  int32_t Position = 0;
  int32_t Total = 0;
  bool Aborted = false;  // set last: the user cancelled
  // When the soundtrack was not MPEG audio to copy and was encoded to MP3:
  // what it was ("FLAC", "WAV", ...), else empty; and the damaged blocks the
  // reader met in it (the job logs them).
  std::string EncodedFrom;
  int DamagedBlocks = 0;

  // Failed when Execute raised (the text is ErrorText()), Cancelled when it
  // was asked to stop, Done when the output file was completed.
  TMuxOutcome Outcome() const;
  const std::string& ErrorText() const { return FatalError(); }

protected:
  void Execute() override;

private:
  // Decodes the soundtrack through the audio library and writes it to mp3
  // encoded by libmp3lame; false when cancelled meanwhile.
  bool EncodeSoundtrack(TPendingFile& mp3);
  void SetMessage(const std::string& text);
  void ReportProgress();

  std::atomic<bool> completed_{false};
};

}  // namespace sdm
