#include "frames/PictureNotes.h"

#include <mutex>

namespace sdm {

namespace {

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}

TPictureNoteSink& Sink() {
  static TPictureNoteSink sink;
  return sink;
}

}  // namespace

TPictureNoteSink SetPictureNoteSink(TPictureNoteSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  std::swap(Sink(), sink);
  return sink;
}

void PictureNote(const std::string& line, int level) {
  TPictureNoteSink sink;
  {
    // A copy, called outside the lock: the sink may take its own (the log's).
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = Sink();
  }
  if (sink) sink(line, level);
}

}  // namespace sdm
