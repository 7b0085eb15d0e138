#include "project/U_JobControl.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "avi/ContainerWriter.h"
#include "avi/FileFailure.h"
#include "avi/U_BmpToAvi.h"
#include "avi/U_MuxThd.h"
#include "frames/U_FrameServer.h"
#include "frames/U_VideoMakerThd.h"
#include "localization/TextStorage.h"
#include "platform/RegularFile.h"
#include "project/ErrorText.h"
#include "project/U_SlideProject.h"
#include "project/U_Soundtrack.h"
#include "support/Errors.h"
#include "support/MessageBoxes.h"
#include "support/PendingFile.h"
#include "support/SettingsStore.h"
#include "support/U_Log.h"
#include "support/U_SysUtils.h"
#include "support/UserInteraction.h"

namespace sdm {

namespace {

const char* YesNo(bool b) { return b ? "Yes" : "No"; }

bool PathExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace

TJobControl::TJobControl(TSlideProject& project, TBmpToAvi& avi, IUiThread& ui, TKLog* log, const TTextStorage* text,
                         IJobView* view)
    : project_(project), avi_(avi), ui_(ui), log_(log), text_(text), view_(view ? view : &nullView_) {
  // Idle: everything enabled but Cancel. The project's own state (Single
  // Frame mode among it) is left as the caller set it.
  SetControlStates(true);
}

TJobControl::~TJobControl() {
  // The workers report to us; they must be gone before we are.
  if (running_ && ui_.IsUiThread()) {
    Cancel();
    while (running_) ui_.ProcessPending(10);
  }
}

// ---------------------------------------------------------------- helpers

void TJobControl::Show(const std::string& englishText) { UserInteraction().ShowMessage(Translated(englishText)); }

std::string TJobControl::Translated(const std::string& englishText) const {
  return text_ ? text_->Translate(englishText) : englishText;
}

void TJobControl::ShowWithCause(const std::string& englishText, const std::string& cause) {
  UserInteraction().ShowMessage(cause.empty() ? Translated(englishText)
                                              : Translated(englishText) + "\n" + TranslatedCause(cause, text_));
}

void TJobControl::Log(const std::string& line, int level) {
  if (log_) log_->AddLine(line, level);
}

void TJobControl::SetProgress(int position, int max) {
  pbMax_ = max;
  pbPosition_ = position;
  view_->ProgressChanged(position, max);
}

void TJobControl::SetStatus(const std::string& text) {
  status_ = text;
  view_->StatusChanged(text);
}

void TJobControl::SetProgressLabel(const std::string& text) {
  progLabel_ = text;
  view_->ProgressLabelChanged(text);
}

void TJobControl::SetPreview(const TDib24* frame) {
  previewVisible_ = frame != nullptr;
  view_->PreviewChanged(frame);
}

void TJobControl::Ended(TJobEnd end) {
  lastEnd_ = end;
  running_ = false;
  jobThread_ = nullptr;
}

void TJobControl::EnableControls(bool enabled) {
  SetControlStates(enabled);
  // Enabling the controls ends Single Frame mode.
  project_.EnableControls(enabled);
  view_->ControlsChanged();
}

void TJobControl::SetControlStates(bool enabled) {
  const bool codecs = enabled && !codecListEmpty_;
  controls_ = {
      {"sound_btn", enabled},      {"resetaudio_btn", enabled},
      {"sound_txt", enabled},      {"sort_btn", enabled},
      {"addphotos_btn", enabled},  {"imgreset_btn", enabled},
      {"load_btn", enabled},       {"save_btn", enabled},
      {"jump_btn", enabled},       {"dynamics_chk", enabled},
      {"FPS_txt", enabled},        {"matchaudio_btn", enabled && project_.SoundDuration() > 0},
      {"osd_chk", enabled},        {"time_txt", enabled},
      {"xfade_chk", enabled},      {"exp_btn", enabled},
      {"codecconfig_btn", codecs}, {"codecabout_btn", codecs},
      {"codecs_cmb", enabled},     {"res_cmb", enabled},
      {"go_btn", enabled},         {"out_btn", enabled},
      {"out_txt", enabled},        {"cancel_btn", !enabled},
      {"File1", enabled},          {"Pictures1", enabled},
      {"Sound1", enabled},         {"Effects1", enabled},
  };
}

bool TJobControl::ControlEnabled(const std::string& name) const {
  for (const auto& [n, e] : controls_)
    if (n == name) return e;
  return false;
}

std::string TJobControl::FreeTempName(const std::string& outputPath) {
  const std::string folder = ExtractFilePath(outputPath);
  std::string name = folder + kTempName;
  for (int i = 1; PathExists(name); ++i) name = folder + "temp-" + std::to_string(i) + ".avi";
  return name;
}

// ---------------------------------------------------------------- Go

bool TJobControl::OutputMayBeWritten(const std::string& output) {
  struct stat out {};
  if (::stat(output.c_str(), &out) != 0) return true;  // nothing there to lose
  // The writer deletes what is at the output path first: a folder (or a pipe
  // or a device) there is never the user's old video.
  if (const std::string kind = NonRegularFileReason(out); !kind.empty()) {
    const std::string cause = output + " " + Translated(kind);
    ShowWithCause("Invalid output file", cause);
    Log("Invalid output file : " + cause, llError);
    return false;
  }
  // Nor may it be one of the job's own inputs, by any name: the overwrite
  // question would delete it before the job ever read it.
  auto same = [&out](const std::string& input) { return !input.empty() && SameFile(out, input); };
  std::string input;
  for (const std::string& picture : project_.PictureList().Items())
    if (same(picture)) {
      input = picture;
      break;
    }
  if (input.empty() && same(project_.SoundPath())) input = project_.SoundPath();
  if (input.empty() && same(project_.ProjectFile())) input = project_.ProjectFile();
  if (input.empty()) return true;
  const char* text = "The output file must differ from the pictures, the soundtrack and the project file";
  ShowWithCause(text, output + " = " + input);
  Log(std::string(text) + " : " + output + " = " + input, llError);
  return false;
}

bool TJobControl::KindMayBeWritten(const std::string& output) {
  const TOutputKind kind = OutputKindOf(output);
  if (kind == TOutputKind::Unknown) {
    const char* text = "Only AVI (.avi), MP4 (.mp4) and WebM (.webm) videos can be written";
    ShowWithCause(text, output);
    Log(std::string(text) + " : " + output, llError);
    return false;
  }
  const std::vector<std::string> missing = MissingEncoders(kind);
  if (missing.empty()) return true;
  std::string names;
  for (const std::string& m : missing) names += (names.empty() ? "" : ", ") + m;
  const std::string cause = std::string(KindName(kind)) + " : " + names;
  const char* text = "This kind of video cannot be made here: its encoder is missing";
  ShowWithCause(text, cause);
  Log(std::string(text) + " : " + cause, llError);
  return false;
}

void TJobControl::OpenContainer(const TJobSettings& job) {
  if (!SameText(job.FourCC, ContainerFourCC(job.Kind))) throw EError("No compressor for " + job.FourCC + " available");
  TContainerSettings c;
  c.Kind = job.Kind;
  c.Width = job.Width;
  c.Height = job.Height;
  c.FramesPerSecond = job.FramesPerSecond;
  c.FileName = job.OutputPath;
  // The soundtrack goes in as the frames are written: it is the one set now.
  const std::string sound = project_.SoundPath();
  if (!sound.empty() && FileExistsLong(sound)) c.SoundPath = sound;
  const int fpp =
      TVideoMakerThd::FramesPerPicture(job.MsPerPicture, TFrameRate{job.FramesPerSecond, 1}, job.Options.singleFrame);
  c.FrameCount = TFrameServer::CountFrames(job.Pictures->Count(), fpp, job.Options.crossFade);
  if (job.Kind == TOutputKind::Mp4) c.H264 = LoadH264Settings();
  auto writer = std::make_unique<TContainerWriter>(c);
  writer->Open();
  container_ = std::move(writer);
}

bool TJobControl::Go() {
  if (running_) return false;  // one job at a time; Go is disabled meanwhile

  if (project_.PictureCount() == 0) {
    Show("Empty picture list");
    view_->OpenAddFilesDialog();  // pictures added there wait for the next Go
    return false;
  }
  if (project_.OutputPath().empty()) {
    Show("Invalid output file");
    view_->OpenOutputDialog();
    return false;
  }
  if (project_.CodecEntry().empty()) {
    Show("Please select a codec first");
    return false;
  }
  const std::string output = project_.OutputPath();
  const bool avi = OutputKindOf(output) == TOutputKind::Avi;
  if (!OutputMayBeWritten(output)) return false;
  if (!KindMayBeWritten(output)) return false;
  // This question is asked in English in every language. The earlier file is
  // not deleted now: the new video is written under a name of its own and
  // takes the output's name only when it is there, so a failure, a kill or a
  // cancel before the first frame leaves the earlier one as it was.
  if (FileIsNonEmpty(output) &&
      AskYesNo("Output file already exists, and will be overwritten. Continue anyway ?") != mrYes)
    return false;
  // A soundtrack that cannot be read is refused before any video is made.
  const std::string sound = project_.SoundPath();
  if (!sound.empty() && FileExistsLong(sound)) {
    try {
      CheckSoundtrack(sound);
    } catch (const EError& e) {
      ShowWithCause("The soundtrack cannot be used", e.what());
      Log(std::string("The soundtrack cannot be used : ") + e.what(), llError);
      return false;
    }
  }

  const TJobSettings job = project_.MakeJobSettings();
  EnableControls(false);

  Log("Start Encoding");
  Log("Resolution : " + std::to_string(job.Width) + "x" + std::to_string(job.Height));
  Log("FPS : " + std::to_string(job.FramesPerSecond));
  Log("Time per Picture : " + std::to_string(job.MsPerPicture) + " ms");
  Log("FCC : " + job.FourCC);
  Log(std::string("OSD : ") + YesNo(job.Options.osd));
  Log(std::string("Dynamic Pictures : ") + YesNo(job.Options.dynamic));
  Log(std::string("XFade : ") + YesNo(job.Options.crossFade));
  Log(std::string("Single Frame mode : ") + YesNo(job.Options.singleFrame));
  // Lines of the outputs and the fit the classic program did not have; an
  // AVI fitted as it always was logs nothing more.
  if (!avi) Log(std::string("Container : ") + KindName(job.Kind));
  if (job.Kind == TOutputKind::Mp4) {
    const TH264Settings h264 = LoadH264Settings();
    Log("H.264 : CRF " + std::to_string(h264.Crf) + ", preset " + h264.Preset);
  }
  if (job.Options.fit == TFitFilter::Smooth) Log("Picture scaling : Smooth");

  std::unique_ptr<TVideoMakerThd> thread;
  std::unique_ptr<TPendingFile> pending;
  container_.reset();
  try {
    if (avi) {
      // The AVI is written under a name of its own beside the output; the MP4
      // and WebM writer does the same inside.
      pending = std::make_unique<TPendingFile>(job.OutputPath);
      avi_.Width = job.Width;
      avi_.Height = job.Height;
      avi_.FramePeriod = job.FramePeriod;
      avi_.FileName = pending->TempPath();
      avi_.SetFourCC(job.FourCC);
      SetSetting("LastFCC", job.FourCC);
      try {
        avi_.Open();
      } catch (const EFileFailure& e) {
        // Said of the output the user chose, not of the name it is written under.
        throw EFileFailure(e.Message(), e.Unit().c_str(), e.Line(), job.OutputPath, e.Reason());
      }
    } else {
      OpenContainer(job);
    }

    // The job's own lists: whatever happens to the project's lists while it
    // runs, the frames come from what was there when Go was pressed.
    jobPictures_ = *job.Pictures;
    jobCaptions_ = *job.Captions;
    thread = std::make_unique<TVideoMakerThd>(ui_);
  } catch (const std::exception& e) {
    // The caller shows the text; the log keeps it too.
    Log(e.what(), llError);
    EnableControls(true);
    throw;
  } catch (...) {
    EnableControls(true);
    throw;
  }
  thread->FreeOnTerminate = true;
  thread->OnTerminate = [this](TThread& t) { OnVideoDone(t); };
  thread->OnUpdateProgress = [this](TVideoMakerThd& t) { OnVideoProgress(t); };
  thread->Avi = container_ ? static_cast<IFrameWriter*>(container_.get()) : &avi_;
  thread->MsPerPicture = job.MsPerPicture;
  thread->Pictures = &jobPictures_;
  thread->Captions = &jobCaptions_;
  thread->Options = job.Options;

  outputPath_ = job.OutputPath;
  pending_ = std::move(pending);
  tempVideo_.clear();
  lastError_.clear();
  lastEnd_ = TJobEnd::None;
  busy_ = true;
  running_ = true;
  project_.Busy = true;
  TVideoMakerThd* t = thread.release();  // frees itself when it ends
  jobThread_ = t;
  t->Start();
  SetStatus(text_ ? text_->Translate("Processing Video") : "Processing Video");
  return true;
}

void TJobControl::Cancel() {
  if (!jobThread_ || jobThread_->Finished()) return;
  jobThread_->Terminate();
  for (auto& [name, enabled] : controls_)
    if (name == "cancel_btn") enabled = false;
  view_->ControlsChanged();
}

// ---------------------------------------------------------------- video phase

void TJobControl::OnVideoProgress(TVideoMakerThd& thread) {
  SetProgress(thread.Position, thread.Total);
  if (thread.Preview) SetPreview(thread.Preview.get());
}

void TJobControl::OnVideoDone(TThread& thread) {
  busy_ = false;
  project_.Busy = false;
  jobThread_ = nullptr;  // it frees itself once this handler returns
  auto& video = static_cast<TVideoMakerThd&>(thread);
  // The MP4 or WebM writer has done its work (or failed): what it did not
  // finish goes, and an earlier video of the output's name stays.
  const bool container = container_ != nullptr;
  const bool containerFinished = container && container_->Finished();
  if (container && container_->SoundDamagedBlocks() > 0)
    Log("Damaged blocks skipped in the soundtrack : " + std::to_string(container_->SoundDamagedBlocks()), llError);
  container_.reset();

  // A failure is known by the thread's error, not only by where the progress
  // bar stopped: a first frame that fails leaves the bar at 0 too.
  if (video.HasFatalError() || pbPosition_ != 0) {
    // The partial video goes; an earlier file at the output stays as it was.
    pending_.reset();
    lastError_ = video.FatalError();
    if (video.HasFatalError()) Log(video.FatalError(), llError);
    ShowWithCause("An error has occured. Please reset the application.", lastError_);
    Log("Video processing failed");
    SetProgress(0, pbMax_);
    EnableControls(true);
    // The window is idle again: the status says the job failed rather than
    // still reading "Processing Video".
    SetStatus(Translated(kVideoFailedText));
    SetProgressLabel("");
    Ended(TJobEnd::VideoFailed);
    return;
  }
  if (video.Aborted) {
    if (container) {
      if (containerFinished) {
        // Finished with the frames made so far: a video that plays.
        ShowWithCause("Aborted by user.", Translated(kPartKeptText) + " " + outputPath_);
        Log("Video processing aborted by user");
        Log(std::string(kPartKeptText) + " " + outputPath_);
      } else {
        Show("Aborted by user.");
        Log("Video processing aborted by user");
      }
    } else {
      // Cancelled after some frames: the shorter video is the result. Before
      // the first frame there is no video at all, and an earlier file stays.
      if (avi_.FrameNumber() > 1 && !CommitVideo()) {
        EnableControls(true);
        SetStatus(Translated(kVideoFailedText));
        Ended(TJobEnd::VideoFailed);
        return;
      }
      pending_.reset();
      Show("Aborted by user.");
      Log("Video processing aborted by user");
    }
    EnableControls(true);
    SetStatus("");
    Ended(TJobEnd::VideoAborted);
    return;
  }
  // The size of this job's own file: an MP4 or WebM is judged by its writer,
  // an AVI by the file written under its own name, never by what is at the
  // output path (an earlier file, or another job's writing the same output).
  const int64_t size = container ? (containerFinished ? FileSizeOf(outputPath_) : 0) : FileSizeOf(pending_->TempPath());
  const std::string sound = project_.SoundPath();  // the soundtrack as it is now
  if (size > 0 && !container && !sound.empty() && FileExistsLong(sound)) {
    StartMuxer();
  } else if (size > 0) {
    if (!container && !CommitVideo()) {
      EnableControls(true);
      SetStatus(Translated(kVideoFailedText));
      SetProgressLabel("");
      Ended(TJobEnd::VideoFailed);
      return;
    }
    UserInteraction().JobFinished(outputPath_);
    Log("Processing Terminated");
    EnableControls(true);
    SetStatus("");
    SetProgressLabel("");
    Ended(TJobEnd::Finished);
  } else {
    pending_.reset();
    Show("An error occured while processing video. Please choose another codec or different settings and retry.");
    Log("Video processing failed");
    EnableControls(true);
    SetStatus(Translated(kVideoFailedText));
    SetProgressLabel("");
    Ended(TJobEnd::VideoEmpty);
  }
}

bool TJobControl::CommitVideo() {
  std::string why;
  if (pending_->Commit(why)) {
    pending_.reset();
    return true;
  }
  lastError_ = "Unable to rename file " + pending_->TempPath() + " to " + outputPath_ + " : " + why;
  Log(lastError_, llError);
  ShowWithCause("Unable to rename file", pending_->TempPath() + " -> " + outputPath_ + " : " + why);
  pending_.reset();
  return false;
}

// ---------------------------------------------------------------- audio phase

void TJobControl::OnMuxProgress(int position, int max, const std::string& text) {
  SetProgress(position, max);
  SetProgressLabel(TranslatedMuxText(text));
}

std::string TJobControl::TranslatedMuxText(const std::string& text) const {
  // One text carries a number: it is translated through its pattern.
  static const char* const kLoaded = "MP3 file succesfully loaded (%d frames)";
  int frames = 0;
  char close = 0;
  if (std::sscanf(text.c_str(), "MP3 file succesfully loaded (%d frames%c", &frames, &close) == 2 && close == ')') {
    std::string t = Translated(kLoaded);
    const size_t at = t.find("%d");
    if (at != std::string::npos) t.replace(at, 2, std::to_string(frames));
    return t;
  }
  return Translated(text);
}

void TJobControl::StartMuxer() {
  // The silent video becomes "temp.avi" beside the output, the muxer's
  // input. Never delete a "temp.avi" this job did not write: take a free
  // name. The output's own name is untouched until the muxer has written the
  // whole final file.
  const std::string temp = FreeTempName(outputPath_);
  std::error_code ec;
  std::filesystem::rename(pending_->TempPath(), temp, ec);
  if (ec) {
    lastError_ = "Unable to rename file " + pending_->TempPath() + " to " + temp + " : " + ec.message();
    Log(lastError_, llError);
    ShowWithCause("Unable to rename file", pending_->TempPath() + " -> " + temp + " : " + ec.message());
    pending_.reset();
    EnableControls(true);
    SetStatus(Translated(kAudioFailedText));
    SetProgressLabel("");
    Ended(TJobEnd::RenameFailed);
    return;
  }
  pending_.reset();
  tempVideo_ = temp;
  SetPreview(nullptr);
  auto mux = std::make_unique<TMuxThd>(ui_);
  mux->FreeOnTerminate = true;
  mux->VideoFile = temp;
  mux->AudioFile = project_.SoundPath();
  mux->OutputFile = outputPath_;
  mux->OnProgress = [this](int position, int max, const std::string& text) { OnMuxProgress(position, max, text); };
  mux->OnTerminate = [this](TThread& t) { OnMuxDone(t); };
  busy_ = true;
  project_.Busy = true;
  TMuxThd* m = mux.release();  // frees itself when it ends
  jobThread_ = m;
  m->Start();
  SetStatus(text_ ? text_->Translate("Processing Audio") : "Processing Audio");
  Log("Processing Audio");
}

void TJobControl::OnMuxDone(TThread& thread) {
  busy_ = false;
  project_.Busy = false;
  jobThread_ = nullptr;
  auto& mux = static_cast<TMuxThd&>(thread);
  if (mux.Aborted) {
    // The silent video and what the muxer wrote both stay on disk; the user
    // learns where the complete video is, as after a failure.
    const std::string kept = Translated(kVideoKeptText) + " " + tempVideo_;
    ShowWithCause("Aborted by user.", kept);
    Log("Audio processing aborted by user");
    Log(std::string(kVideoKeptText) + " " + tempVideo_);
    EnableControls(true);
    SetStatus("");
    SetProgressLabel("");
    Ended(TJobEnd::MuxAborted);
    return;
  }
  if (mux.Outcome() != TMuxOutcome::Done) {
    // The silent video is the only complete result: it takes the output's
    // name when nothing is there, or, rather than replace an earlier file
    // with a video without its sound, stays where it is.
    lastError_ = mux.ErrorText().empty() ? std::string("The soundtrack was not added") : mux.ErrorText();
    Log(lastError_, llError);
    Log("Audio processing failed");
    std::error_code ec;
    if (PathExists(outputPath_))
      ec = std::make_error_code(std::errc::file_exists);
    else
      std::filesystem::rename(tempVideo_, outputPath_, ec);
    std::string where = ec ? tempVideo_ : outputPath_;
    if (!ec) tempVideo_.clear();
    UserInteraction().ShowMessage(Translated("The soundtrack could not be added. The video without sound is kept as") +
                                  " " + where + "\n" + TranslatedCause(lastError_, text_));
    OnMuxProgress(0, 0, "");
    EnableControls(true);
    SetStatus(Translated(kAudioFailedText));
    SetProgressLabel("");
    Ended(TJobEnd::MuxFailed);
    return;
  }
  if (!mux.EncodedFrom.empty()) Log("Soundtrack encoded to MP3 : " + mux.EncodedFrom);
  if (mux.DamagedBlocks > 0)
    Log("The soundtrack is damaged : " + std::to_string(mux.DamagedBlocks) +
            " blocks left out : " + project_.SoundPath(),
        llError);
  std::error_code ec;
  std::filesystem::remove(tempVideo_, ec);
  tempVideo_.clear();
  OnMuxProgress(0, 0, "");
  jobThread_ = nullptr;
  EnableControls(true);
  SetStatus("");
  SetProgressLabel("");
  UserInteraction().JobFinished(outputPath_);
  Log("Processing Terminated");
  Ended(TJobEnd::Finished);
}

}  // namespace sdm
