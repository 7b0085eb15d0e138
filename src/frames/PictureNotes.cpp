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

thread_local TPictureNoteCapture* tCapture = nullptr;

}  // namespace

TPictureNoteSink SetPictureNoteSink(TPictureNoteSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  std::swap(Sink(), sink);
  return sink;
}

void PictureNote(const std::string& line, int level) {
  if (tCapture) {
    tCapture->Notes.emplace_back(line, level);
    return;
  }
  TPictureNoteSink sink;
  {
    // A copy, called outside the lock: the sink may take its own (the log's).
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = Sink();
  }
  if (sink) sink(line, level);
}

TPictureNoteCapture::TPictureNoteCapture() : outer_(tCapture) { tCapture = this; }

TPictureNoteCapture::~TPictureNoteCapture() { tCapture = outer_; }

void TellPictureNotes(const std::vector<std::pair<std::string, int>>& notes) {
  for (const auto& [line, level] : notes) PictureNote(line, level);
}

}  // namespace sdm
