#include "localization/TextStorage.h"

#include "support/U_SysUtils.h"

namespace sdm {

TTextStorage::TTextStorage(std::string name, std::vector<std::string> english)
    : name_(std::move(name)), english_(std::move(english)), items_(english_) {}

std::vector<std::string> TTextStorage::Items() const {
  std::lock_guard<std::mutex> g(mutex_);
  return items_;
}

void TTextStorage::SetItems(const std::vector<std::string>& items) {
  std::lock_guard<std::mutex> g(mutex_);
  items_ = items;
}

void TTextStorage::ApplyItems(const std::vector<std::string>& lines) {
  std::lock_guard<std::mutex> g(mutex_);
  if (items_.size() < english_.size()) items_.resize(english_.size());
  for (size_t i = 0; i < lines.size() && i < english_.size(); ++i) items_[i] = lines[i];
}

void TTextStorage::Reset() {
  std::lock_guard<std::mutex> g(mutex_);
  items_ = english_;
}

std::string TTextStorage::Translate(const std::string& englishText) const {
  for (size_t i = 0; i < english_.size(); ++i) {
    if (!SameText(english_[i], englishText)) continue;
    std::lock_guard<std::mutex> g(mutex_);
    // A list replaced by a shorter one has no text for the later lines.
    if (i >= items_.size()) return englishText;
    const std::string& current = items_[i];
    return current == "unused" ? englishText : current;
  }
  return englishText;
}

const std::vector<std::string>& MainTextStorageLines() {
  static const std::vector<std::string> lines = {
      "Soundtrack too short or too many picture loaded. Using minimal picture duration.",
      "Empty picture list",
      "File not found :",
      "Invalid output file",
      "Visual options disabled due to incompatible temporal settings",
      "Processing Video",
      "An error has occured. Please reset the application.",
      "Aborted by user.",
      "Processing Audio",
      "Please select a codec first",
      "pictures",
      "An error occured while processing video. Please choose another codec or different settings and retry.",
      "Convertion to DVD requires a third party product from Xol Software. Do you want to download it now ?",
      "BrennoDVD is required to burn CDs or DVDs. Do you want to download it now ?",
      "Unable to delete file",
      "MP3 files",
      "Bitmap Files",
      "JPEG Files",
      "Slidomat Project",
      "AVI Files",
      "Slidomat is already up to date.",
      "Ok",
      // Texts the program shows besides those above, added after them so
      // the lines of older language files keep their places.
      "The output file must differ from the pictures, the soundtrack and the project file",
      "is a folder",
      "is a named pipe",
      "is a socket",
      "is a device",
      "is not a regular file",
      "Unable to rename file",
      "The video without sound is kept as",
      "The soundtrack could not be added. The video without sound is kept as",
      "This file does not exist.",
      "Do you want to create it?",
      "Unable to write file",
      "The burning program could not be started.",
      // Captions of the message boxes.
      "Message",
      "Warning",
      "Error",
      "Question",
      "Information",
      // The soundtrack's progress, under the bar.
      "Loading MP3 file",
      "MP3 file succesfully loaded (%d frames)",
      "Adding Video Stream",
      "Adding Audio Stream",
      "Done",
      // The About dialog and the codec dialogs.
      "Version",
      "Encoder",
      "Library",
      "uncompressed frames",
      "frames",
      // The About dialog's library list: "libjpeg.so.62 (built with 2.1.5)".
      "built with",
      // Pictures of every kind: the picture dialog's first filter, and the
      // pictures of a loaded project that were left out.
      "All pictures",
      "These pictures of the project were not found, or are not pictures Slidomat can read:",
      "These pictures of the project were not found when it was loaded:",
      "Save the project without them?",
      "and %d more",
      // The window's rough edges mended: the plain cause of an error first
      // (its first words translated), the status after a failed job, the
      // names a screen reader gives the thumbnails and the Jump slider, and
      // what was left out of the files named on the command line.
      "Cannot read",
      "Cannot write",
      "Cannot load picture",
      "Video processing failed",
      "Audio processing failed",
      "Picture %d",
      "First picture shown",
      "Some files were not added:",
      "File not supported :",
      "No picture in the folder :",
      // MP4 and WebM videos: the output picker's kinds and the job's messages.
      "AVI video",
      "MP4 video (H.264)",
      "WebM video (VP9)",
      "Only AVI (.avi), MP4 (.mp4) and WebM (.webm) videos can be written",
      "This kind of video cannot be made here: its encoder is missing",
      "The video made so far is kept as",
      // Soundtracks of every kind the audio library reads: the picker's
      // filter, a soundtrack refused before the video is made, and the
      // muxer's progress while one that is not MP3 is encoded.
      "Sound files",
      "The soundtrack cannot be used",
      "Encoding the soundtrack to MP3",
  };
  return lines;
}

TTextStorage& main_ts() {
  static TTextStorage storage("main_ts", MainTextStorageLines());
  return storage;
}

}  // namespace sdm
