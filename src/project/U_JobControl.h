#pragma once
// TJobControl: one encoding job from the Go command to its last message,
// without a window. The main window, the command line and the tests drive it
// the same way: Go checks the project and starts the video maker thread; when
// that ends well and a soundtrack is set, the silent video is moved aside and
// the muxer thread writes the final file; every ending re-enables the
// controls and says what happened.
//
// All of it runs on the UI thread (the one that owns the IUiThread given);
// the workers reach it only through their reports and termination handlers.
//
// Safety rules of our own, on top of the classic behaviour:
// - a video phase that fails at any frame, the first included, ends as a
//   failure (never with the completion step) and its error is logged;
// - the video is written under a hidden name of its own beside the output
//   and takes the output's name only when complete (or cancelled after its
//   first frame): a failure, a kill or a cancel before the first frame leaves
//   an earlier file at the output as it was, and two jobs writing one output
//   never write into one file;
// - a soundtrack that cannot be read is refused before the video is made;
// - a "temp.avi" the job did not write is never deleted: the silent video
//   goes to a free name beside it, and a failed rename stops the job with the
//   silent video left at the output path;
// - after a failed mux the silent video is kept, at the output path when
//   nothing was there before, else as "temp.avi";
// - the job works on its own copy of the picture and caption lists, so
//   pictures dropped or edited while it runs cannot change it;
// - Go refuses, before anything is deleted, an output path that is a folder
//   (or a pipe or device) or the same file as a picture, the soundtrack or the
//   project file, by whatever name or link;
// - failure messages carry their cause on a line after the classic text, and
//   a cancelled audio phase says where the complete silent video is.
//
// The output's extension chooses the kind of video: an AVI takes the classic
// road above; an MP4 or WebM is written in one pass, soundtrack included, by
// a TContainerWriter the job owns, so it has no audio phase and no
// "temp.avi". Any other extension is refused before anything is written. A
// cancelled MP4 or WebM is finished with the frames made so far and the
// message says where it is.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Dib24.h"
#include "support/StringList.h"
#include "support/Thread.h"

namespace sdm {

class TBmpToAvi;
class TContainerWriter;
class TKLog;
struct TJobSettings;
class TSlideProject;
class TTextStorage;
class TVideoMakerThd;
class TMuxThd;
class TPendingFile;

// What the window shows of a job; every call is made on the UI thread. The
// defaults do nothing, so a front end overrides only what it shows.
class IJobView {
public:
  virtual ~IJobView() = default;
  // The progress bar pb (and the taskbar): maximum first, then position.
  virtual void ProgressChanged(int /*position*/, int /*max*/) {}
  // The preview image: a frame to show, or nullptr to hide it.
  virtual void PreviewChanged(const TDib24* /*frame*/) {}
  // Status bar panel 1: the job phase.
  virtual void StatusChanged(const std::string& /*text*/) {}
  // prog_lbl: the muxer's status text.
  virtual void ProgressLabelChanged(const std::string& /*text*/) {}
  // The enabled state of the editing controls changed (see Controls()).
  virtual void ControlsChanged() {}
  // Go's first two checks open these dialogs after their message.
  virtual void OpenAddFilesDialog() {}
  virtual void OpenOutputDialog() {}
};

// How the last job ended.
enum class TJobEnd {
  None,          // no job has ended yet (or Go stopped at a check)
  Finished,      // the completion step ran
  VideoFailed,   // the video maker thread failed
  VideoEmpty,    // the codec wrote nothing
  VideoAborted,  // cancelled during the video phase
  RenameFailed,  // the silent video could not be moved aside for the muxer
  MuxFailed,     // the muxer failed
  MuxAborted,    // cancelled during the audio phase
};

class TJobControl {
public:
  // The name of the temporary video beside the output.
  static constexpr const char* kTempName = "temp.avi";

  // The writer, log and text storage are not owned; log and text may be null.
  TJobControl(TSlideProject& project, TBmpToAvi& avi, IUiThread& ui, TKLog* log, const TTextStorage* text,
              IJobView* view);
  // A job still running is cancelled and waited for.
  ~TJobControl();
  TJobControl(const TJobControl&) = delete;
  TJobControl& operator=(const TJobControl&) = delete;

  // The Go command. Returns true when the video phase has started. A check
  // that fails shows its message and returns false; an error of the writer's
  // set-up returns the controls to idle and is rethrown for the caller to show.
  bool Go();
  // The Cancel command: asks the running phase to stop at its next frame or
  // chunk; nothing else happens until its termination handler runs.
  void Cancel();

  // True from the start of a worker to the first statement of its handler.
  bool Busy() const { return busy_; }
  // True while a phase runs (from Go to the last ending).
  bool Running() const { return running_; }
  TThread* JobThread() const { return jobThread_; }

  // The window's editing controls, in the order they are set, with their
  // enabled state. Starts with everything enabled.
  void EnableControls(bool enabled);
  const std::vector<std::pair<std::string, bool>>& Controls() const { return controls_; }
  bool ControlEnabled(const std::string& name) const;
  // Whether the codec list has entries (the codec buttons follow it).
  void SetCodecListEmpty(bool empty) {
    codecListEmpty_ = empty;
    if (!running_) SetControlStates(true);
  }

  // What the window shows now.
  int ProgressPosition() const { return pbPosition_; }
  int ProgressMax() const { return pbMax_; }
  const std::string& StatusText() const { return status_; }
  const std::string& ProgressLabel() const { return progLabel_; }
  bool PreviewVisible() const { return previewVisible_; }

  // The end of the last job, the error text behind a failure, and the silent
  // video's name during and after the audio phase.
  TJobEnd LastEnd() const { return lastEnd_; }
  const std::string& LastError() const { return lastError_; }
  const std::string& TempVideo() const { return tempVideo_; }

  // The muxer's status and progress (its OnProgress).
  void OnMuxProgress(int position, int max, const std::string& text);

  // A free name for the silent video in the folder of outputPath:
  // "temp.avi" when no file of that name exists, else "temp-1.avi", ...
  static std::string FreeTempName(const std::string& outputPath);

private:
  // Where the silent video is, said after a failed or cancelled audio phase.
  static constexpr const char* kVideoKeptText = "The video without sound is kept as";
  // The status after a job that failed in its video or its audio phase.
  static constexpr const char* kVideoFailedText = "Video processing failed";
  static constexpr const char* kAudioFailedText = "Audio processing failed";
  // Where a cancelled MP4 or WebM is.
  static constexpr const char* kPartKeptText = "The video made so far is kept as";

  void Show(const std::string& englishText);
  std::string Translated(const std::string& englishText) const;
  // The muxer's progress texts in the window's language.
  std::string TranslatedMuxText(const std::string& text) const;
  // The message, translated, and on a line of its own what caused it (the
  // failing picture's error, the path and the system's reason).
  void ShowWithCause(const std::string& englishText, const std::string& cause);
  // Go's check of the output path before anything is deleted: not a folder
  // or other non-file, and not the same file as any input of the job.
  bool OutputMayBeWritten(const std::string& output);
  // Go's checks of an output's kind: an extension the program writes, and
  // for MP4 and WebM, encoders present at run time.
  bool KindMayBeWritten(const std::string& output);
  // The MP4 or WebM writer of the job, opened (throws what Open throws).
  void OpenContainer(const TJobSettings& job);
  void Log(const std::string& line, int level = 1);
  void SetProgress(int position, int max);
  void SetStatus(const std::string& text);
  void SetProgressLabel(const std::string& text);
  void SetPreview(const TDib24* frame);
  void Ended(TJobEnd end);
  void SetControlStates(bool enabled);

  void OnVideoProgress(TVideoMakerThd& thread);
  void OnVideoDone(TThread& thread);
  // Puts the finished (or cancelled, shorter) video in place at the output;
  // false, with the message shown, when it cannot.
  bool CommitVideo();
  void StartMuxer();
  void OnMuxDone(TThread& thread);

  TSlideProject& project_;
  TBmpToAvi& avi_;
  // The running job's MP4 or WebM writer; none for an AVI.
  std::unique_ptr<TContainerWriter> container_;
  IUiThread& ui_;
  TKLog* log_;
  const TTextStorage* text_;
  IJobView* view_;
  IJobView nullView_;

  bool busy_ = false;
  bool running_ = false;
  TThread* jobThread_ = nullptr;
  std::vector<std::pair<std::string, bool>> controls_;
  bool codecListEmpty_ = false;
  int pbPosition_ = 0;
  int pbMax_ = 100;
  std::string status_;
  std::string progLabel_;
  bool previewVisible_ = false;

  // The job's own copies of the lists, read by the video maker thread.
  TStringList jobPictures_;
  TStringList jobCaptions_;
  std::string outputPath_;
  // The video phase's file, under a name of its own beside the output.
  std::unique_ptr<TPendingFile> pending_;
  std::string tempVideo_;
  TJobEnd lastEnd_ = TJobEnd::None;
  std::string lastError_;
};

}  // namespace sdm
