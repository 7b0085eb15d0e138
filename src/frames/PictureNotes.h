#pragma once
// What a picture reader has to tell that does not stop the picture loading (a
// colour profile it could not use, a picture that moved). The readers run
// below the log, on the job's thread and on the window's, so they hand such
// lines to one process-wide sink that the program points at its log.
#include <functional>
#include <string>

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

}  // namespace sdm
