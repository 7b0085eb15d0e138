#pragma once
// What a picture reader has to tell that does not stop the picture loading (a
// colour profile it could not use, a picture that moved). The readers run
// below the log, on the job's thread and on the window's, so they hand such
// lines to one process-wide sink that the program points at its log.
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sdm {

// Receives a log line and its level (1 Info, 2 Error). Called on whichever
// thread loads the picture.
using TPictureNoteSink = std::function<void(const std::string& line, int level)>;

// Sets the sink (an empty one drops the lines) and returns the one before.
TPictureNoteSink SetPictureNoteSink(TPictureNoteSink sink);

// Hands a line to the sink, if there is one.
void PictureNote(const std::string& line, int level);

// Sets a sink for the life of the object, then puts the previous one back.
class TScopedPictureNoteSink {
public:
  explicit TScopedPictureNoteSink(TPictureNoteSink sink) : previous_(SetPictureNoteSink(std::move(sink))) {}
  ~TScopedPictureNoteSink() { SetPictureNoteSink(std::move(previous_)); }
  TScopedPictureNoteSink(const TScopedPictureNoteSink&) = delete;
  TScopedPictureNoteSink& operator=(const TScopedPictureNoteSink&) = delete;

private:
  TPictureNoteSink previous_;
};

// Keeps the notes of the pictures this thread loads while it lives, instead
// of handing them to the sink: a picture loaded ahead on a thread of its own
// tells its notes when it is taken into use, where loading it in turn would
// have told them. Captures do not nest across threads; the innermost one of
// a thread takes the notes.
class TPictureNoteCapture {
public:
  TPictureNoteCapture();
  ~TPictureNoteCapture();
  TPictureNoteCapture(const TPictureNoteCapture&) = delete;
  TPictureNoteCapture& operator=(const TPictureNoteCapture&) = delete;

  std::vector<std::pair<std::string, int>> Notes;

private:
  TPictureNoteCapture* outer_;
};

// Hands the kept notes to the sink, in the order they were made.
void TellPictureNotes(const std::vector<std::pair<std::string, int>>& notes);

}  // namespace sdm
