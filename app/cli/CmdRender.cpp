// render: the main job without a window. A project is built from a project
// file or a list of pictures and the options, then run through the same job
// controller the window's Go button uses: same checks, messages, log lines,
// temporary file and muxer phase. SIGINT and SIGTERM are the Cancel button.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "Cli.h"
#include "avi/U_BmpToAvi.h"
#include "frames/PictureNotes.h"
#include "localization/TextStorage.h"
#include "project/U_JobControl.h"
#include "project/U_ProjectFile.h"
#include "project/U_SlideProject.h"
#include "project/U_Soundtrack.h"
#include "support/Errors.h"
#include "support/SettingsStore.h"
#include "support/U_Log.h"
#include "support/U_SysUtils.h"
#include "support/UserInteraction.h"

namespace {

using sdm::cli::UsageError;

volatile std::sig_atomic_t g_cancelRequested = 0;

extern "C" void OnCancelSignal(int) { g_cancelRequested = 1; }

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) !=
        std::tolower(static_cast<unsigned char>(suffix[i])))
      return false;
  return true;
}

// Messages on stderr; questions answered by --yes, by the user at a terminal,
// or else No, so an unattended run never overwrites anything by surprise.
class TCliInteraction : public sdm::IUserInteraction {
public:
  bool Yes = false;
  bool Quiet = false;
  std::function<void()> BeforeMessage;  // clears a progress bar first

  int MessageBox(const std::string& caption, const std::string& text, int buttons, int) override {
    if (BeforeMessage) BeforeMessage();
    if (buttons == sdm::mbOk) {
      std::cerr << (caption.empty() ? "" : caption + ": ") << text << "\n";
      return sdm::mrOk;
    }
    const bool yes = sdm::cli::AskOnTerminal(text, Yes);
    if (buttons == sdm::mbOkCancel) return yes ? sdm::mrOk : sdm::mrCancel;
    return yes ? sdm::mrYes : sdm::mrNo;
  }
  void JobFinished(const std::string& videoPath) override {
    if (BeforeMessage) BeforeMessage();
    if (!Quiet) std::cerr << "Video written: " << videoPath << "\n";
  }
};

// "1:05", or "1:02:03" from an hour on.
std::string ClockText(double seconds) {
  const long long total = std::llround(std::max(seconds, 0.0));
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  return text;
}

// Progress on stderr. At a terminal one line redrawn in place, at most ten
// times a second and only when its text changes, with the frames done, the
// rate and the time left; otherwise one line per phase.
class TCliView : public sdm::IJobView {
public:
  using Clock = std::chrono::steady_clock;
  bool Tty = false;
  bool Quiet = false;
  // Said once, above the progress, when the video phase starts.
  std::string JobLine;

  void ProgressChanged(int position, int max) override {
    position_ = position;
    max_ = max;
    Draw();
  }
  void PreviewChanged(const sdm::TDib24* frame) override {
    if (!frame) return;
    ++framesDone_;
    Draw();
  }
  void StatusChanged(const std::string& text) override {
    if (text.empty() || Quiet) return;
    ClearLine();
    if (!JobLine.empty()) std::cerr << JobLine << "\n";
    JobLine.clear();
    phase_ = text;
    label_.clear();
    framesDone_ = 0;
    ++phases_;
    ended_ = false;
    Restart();
    if (!Tty) std::cerr << text << "\n";
  }
  void ProgressLabelChanged(const std::string& text) override {
    if (text != label_) {
      Restart();  // each step of the muxer has its own pace
      ended_ = text.empty();
    }
    label_ = text;
    Draw();
  }
  // Before a message and at the end: the line goes, and stays away until
  // the next phase or step starts.
  void ClearLine() {
    if (drawn_) std::cerr << "\r\033[K" << std::flush;
    drawn_ = false;
    ended_ = true;
    shown_.clear();
  }

private:
  void Restart() {
    start_ = Clock::now();
    lastDraw_ = Clock::time_point{};
    completeShown_ = false;
  }

  // ", 0:42 left" once the rate can be told.
  std::string TimeLeft(double done, double max, double elapsed) const {
    if (done <= 0 || done >= max || elapsed < 0.5) return "";
    return ", " + ClockText(elapsed * (max - done) / done) + " left";
  }

  void Draw() {
    if (!Tty || Quiet || ended_ || max_ <= 0) return;
    const Clock::time_point now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::string line;
    bool complete = false;
    if (label_.empty()) {
      // Frames are counted in the video phase only; the audio phase shows
      // its muxer's steps once they come.
      if (phases_ != 1) return;
      const int done = std::min(framesDone_, max_);
      complete = done == max_;
      const int width = 16;
      const int fill = static_cast<int>(static_cast<long long>(done) * width / max_);
      line = phase_ + " [" + std::string(fill, '#') + std::string(width - fill, '.') + "] " + std::to_string(done) +
             "/" + std::to_string(max_) + " frames";
      if (done > 0 && elapsed >= 0.5) {
        char rate[32];
        std::snprintf(rate, sizeof rate, ", %.1f fps", done / elapsed);
        line += rate;
      }
      line += TimeLeft(done, max_, elapsed);
    } else {
      const int position = std::clamp(position_, 0, max_);
      complete = position == max_;
      line = label_.substr(0, 60) + " " + std::to_string(static_cast<long long>(position) * 100 / max_) + "%" +
             TimeLeft(position, max_, elapsed);
    }
    // A terminal redrawn for every frame costs more than the frame; the end
    // of a phase is always shown, once.
    if (line == shown_) return;
    const bool showEnd = complete && !completeShown_;
    if (!showEnd && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    std::cerr << "\r\033[K" << line << std::flush;
    shown_ = line;
    lastDraw_ = now;
    completeShown_ = completeShown_ || complete;
    drawn_ = true;
  }

  std::string phase_, label_, shown_;
  int position_ = 0, max_ = 0, framesDone_ = 0, phases_ = 0;
  Clock::time_point start_{}, lastDraw_{};
  bool drawn_ = false, ended_ = true, completeShown_ = false;
};

// The soundtrack as the window takes it: the audio library opens it and
// gives its play time; a name of no known sound format changes nothing; a
// sound file that cannot be read is an error.
void OpenSoundtrack(sdm::TSlideProject& project, const std::string& path, bool warn) {
  if (!sdm::OpenSoundtrack(project, path) && warn && !path.empty())
    std::cerr << "Not a sound file, soundtrack left unchanged: " << path << "\n";
}

// The codec list entry for a FourCC: the line that begins with it (exactly,
// else ignoring case); a FourCC with no line is kept as it is, so the writer
// reports it with its own message.
std::string CodecEntryFor(const sdm::TStringList& codecs, const std::string& fourcc) {
  for (const auto& line : codecs.Items())
    if (line.substr(0, 4) == fourcc) return line;
  for (const auto& line : codecs.Items())
    if (sdm::StartsText(line, fourcc) && (line.size() == fourcc.size() || line[fourcc.size()] == ' ')) return line;
  return fourcc;
}

// Without --codec: "xvid" when it is installed, else the first compressor
// listed. The window's remembered codec (LastFCC) is never read here, so a
// script gets the same codec whatever was chosen in the window or by an
// earlier run.
std::string DefaultCodecEntry(const sdm::TStringList& codecs) {
  if (codecs.Empty()) return "";
  for (const auto& line : codecs.Items())
    if (sdm::StartsText(line, "xvid")) return line;
  return codecs[0];
}

// "xvid (XviD MPEG-4 codec), 720x480, 15 fps, 3000 ms per picture": what the
// job is made with, said before it starts.
std::string JobLine(const sdm::TSlideProject& project) {
  const std::string entry = project.CodecEntry();
  const size_t blank = entry.find(' ', 4);
  std::string codec = entry.substr(0, 4);
  while (!codec.empty() && codec.back() == ' ') codec.pop_back();  // "DIB "
  if (blank != std::string::npos && blank + 1 < entry.size()) codec += " (" + entry.substr(blank + 1) + ")";
  int32_t width = 0, height = 0;
  sdm::ParseResolution(project.Resolution(), width, height);
  return "Codec " + codec + ", frame size " + std::to_string(width) + "x" + std::to_string(height) + ", " +
         std::to_string(project.FramesPerSecond()) + " fps, " + std::to_string(project.MsPerPicture()) +
         " ms per picture";
}

// A size of the window's list, or for an MP4 or WebM any even size up to
// 3840x2160.
void SetResolution(sdm::TSlideProject& project, const std::string& text, bool container) {
  const auto& list = sdm::TSlideProject::Resolutions();
  if (std::find(list.begin(), list.end(), text) != list.end()) {
    project.SetResolution(text);
    return;
  }
  std::string sizes;
  for (const auto& r : list) sizes += (sizes.empty() ? "" : ", ") + r;
  const std::string allowed = "resolution must be one of " + sizes + ", or for MP4 and WebM any even size up to " +
                              std::to_string(sdm::TSlideProject::kMaxContainerWidth) + "x" +
                              std::to_string(sdm::TSlideProject::kMaxContainerHeight);
  int width = 0, height = 0;
  try {
    sdm::cli::ParseSize(text, width, height);
  } catch (const UsageError&) {
    throw UsageError{allowed};
  }
  if (!container) throw UsageError{allowed};
  try {
    project.SetFrameSize(width, height);
  } catch (const std::invalid_argument&) {
    throw UsageError{allowed};
  }
}

struct TRenderOptions {
  std::optional<std::string> output, sound, codec, resolution, scaling;
  std::optional<long long> fps, msPerPicture;
  bool dynamic = false, noXfade = false, noOsd = false, greyscale = false, sepia = false;
  bool singleFrame = false, matchAudio = false, yes = false, quiet = false;
  std::vector<std::string> inputs;
};

TRenderOptions ParseOptions(const sdm::cli::Args& a) {
  TRenderOptions o;
  auto value = [&](size_t& i) -> const std::string& {
    if (i + 1 >= a.size()) throw UsageError{"option " + a[i] + " needs a value"};
    return a[++i];
  };
  for (size_t i = 0; i < a.size(); ++i) {
    const std::string& s = a[i];
    if (s == "-o" || s == "--output")
      o.output = value(i);
    else if (s == "--sound")
      o.sound = value(i);
    else if (s == "--codec")
      o.codec = value(i);
    else if (s == "--resolution")
      o.resolution = value(i);
    else if (s == "--scaling")
      o.scaling = value(i);
    else if (s == "--fps")
      o.fps = sdm::cli::ParseInt(value(i), "frame rate");
    else if (s == "--ms-per-picture")
      o.msPerPicture = sdm::cli::ParseInt(value(i), "time per picture");
    else if (s == "--dynamic")
      o.dynamic = true;
    else if (s == "--no-xfade")
      o.noXfade = true;
    else if (s == "--no-osd")
      o.noOsd = true;
    else if (s == "--greyscale")
      o.greyscale = true;
    else if (s == "--sepia")
      o.sepia = true;
    else if (s == "--single-frame")
      o.singleFrame = true;
    else if (s == "--match-audio")
      o.matchAudio = true;
    else if (s == "--yes")
      o.yes = true;
    else if (s == "--quiet")
      o.quiet = true;
    else if (s.size() > 1 && s[0] == '-')
      throw UsageError{"unknown option \"" + s + "\""};
    else
      o.inputs.push_back(s);
  }
  if (o.inputs.empty()) throw UsageError{"expected a project file or pictures"};
  if (o.greyscale && o.sepia) throw UsageError{"--greyscale and --sepia exclude each other"};
  if (o.scaling && *o.scaling != "auto" && *o.scaling != "sharp" && *o.scaling != "smooth")
    throw UsageError{"scaling must be auto, sharp or smooth"};
  if (o.codec && (o.codec->empty() || o.codec->size() > 4))
    throw UsageError{"a codec is a FourCC of 1 to 4 characters"};
  return o;
}

int RunRender(const sdm::cli::Args& args) {
  const TRenderOptions o = ParseOptions(args);

  TCliInteraction interaction;
  interaction.Yes = o.yes;
  interaction.Quiet = o.quiet;
  TCliView view;
  view.Tty = ::isatty(STDERR_FILENO);
  view.Quiet = o.quiet;
  interaction.BeforeMessage = [&view] { view.ClearLine(); };
  sdm::SetUserInteraction(&interaction);
  struct Restore {
    ~Restore() { sdm::SetUserInteraction(nullptr); }
  } restore;

  const std::string title = sdm::kProductName;
  sdm::TKLog log(sdm::GetAppDataFolder(sdm::ProgramFilePath(), title) + title + ".log",
                 sdm::GetSetting("DebugMode") == "1", 10000, false);
  sdm::LogRegistryProblems(log);

  sdm::TSlideProject project;
  project.Translator = [](const std::string& s) { return sdm::main_ts().Translate(s); };
  project.Interaction = &interaction;
  project.Log = [&](const std::string& m, int level) {
    log.AddLine(m, level);
    // Pictures left out, or taken from where they moved to, matter to whoever
    // runs this; say so at once.
    const bool relinked = m.rfind("Picture relinked : ", 0) == 0;
    if ((level >= sdm::llError || relinked) && !o.quiet) std::cerr << m << "\n";
  };
  // The readers' notes come from the job's thread: the log takes them there.
  const sdm::TScopedPictureNoteSink notes([&](const std::string& m, int level) {
    log.AddLine(m, level);
    if (!o.quiet) std::cerr << m << "\n";
  });

  const bool isProject = o.inputs.size() == 1 && EndsWithNoCase(o.inputs[0], ".sdm");
  if (isProject) {
    sdm::LoadProject(project, o.inputs[0], {[&](const std::string& p) { OpenSoundtrack(project, p, false); }, {}, {}});
  } else {
    project.AddFiles(o.inputs);
  }

  if (o.sound) OpenSoundtrack(project, *o.sound, true);
  if (o.output) project.SetOutputPath(*o.output);
  if (o.greyscale) project.SetEffects(true, false);
  if (o.sepia) project.SetEffects(false, true);
  const sdm::TOutputKind kind = project.OutputKind();
  const bool container = kind == sdm::TOutputKind::Mp4 || kind == sdm::TOutputKind::WebM;
  if (o.resolution) SetResolution(project, *o.resolution, container);
  // The command line's own default, never the window's remembered choice.
  project.SetScaling(sdm::ScalingFromWord(o.scaling ? *o.scaling : "auto"));
  if (o.dynamic) project.SetDynamic(true);  // 25 fps, unless --fps says otherwise
  if (o.fps) project.SetFramesPerSecond(*o.fps);
  if (o.msPerPicture) project.SetMsPerPicture(*o.msPerPicture);
  if (o.noXfade) project.SetCrossFade(false);
  if (o.noOsd) project.SetOsd(false);
  if (o.singleFrame) project.SetSingleFrame(true);
  if (o.matchAudio) project.MatchAudio();

  sdm::TBmpToAvi avi;
  sdm::TStringList codecs;
  if (container) {
    // The kind's one encoder; a FourCC asked for must be it.
    codecs.Assign(sdm::ContainerCodecEntries(kind));
    if (o.codec && !sdm::SameText(*o.codec, sdm::ContainerFourCC(kind)))
      throw UsageError{std::string("an ") + sdm::KindName(kind) + " video is made with " + sdm::ContainerFourCC(kind) +
                       "; --codec " + *o.codec + " is for AVI"};
    project.SetCodecEntry(codecs[0]);
  } else {
    avi.ListCodecs(codecs);
    project.SetCodecEntry(o.codec ? CodecEntryFor(codecs, *o.codec) : DefaultCodecEntry(codecs));
  }
  view.JobLine = JobLine(project);

  sdm::TEventLoop loop;
  sdm::TJobControl job(project, avi, loop, &log, &sdm::main_ts(), &view);
  job.SetCodecListEmpty(codecs.Empty());

  struct sigaction sa {};
  sa.sa_handler = OnCancelSignal;
  sigemptyset(&sa.sa_mask);
  struct sigaction oldInt {
  }, oldTerm{};
  sigaction(SIGINT, &sa, &oldInt);
  sigaction(SIGTERM, &sa, &oldTerm);
  struct RestoreSignals {
    struct sigaction *i, *t;
    ~RestoreSignals() {
      sigaction(SIGINT, i, nullptr);
      sigaction(SIGTERM, t, nullptr);
    }
  } restoreSignals{&oldInt, &oldTerm};
  g_cancelRequested = 0;

  if (!job.Go()) return 1;
  bool cancelled = false;
  while (job.Running()) {
    if (g_cancelRequested && !cancelled) {
      job.Cancel();
      cancelled = true;
    }
    loop.ProcessPending(50);
  }
  view.ClearLine();
  return job.LastEnd() == sdm::TJobEnd::Finished ? 0 : 1;
}

}  // namespace

SDM_CLI_COMMAND("render",
                "render [--sound FILE] [--codec FOURCC] [--resolution WxH] [--fps N] [--ms-per-picture N] "
                "[--dynamic] [--no-xfade] [--no-osd] [--greyscale] [--sepia] [--single-frame] [--match-audio] "
                "[--scaling auto|sharp|smooth] [--yes] [--quiet] -o OUT.avi|OUT.mp4|OUT.webm "
                "(PROJECT.sdm | PICTURE... | FOLDER)",
                "Renders a slideshow to an AVI, MP4 or WebM file, with its soundtrack when one is given", RunRender,
                R"(A project file sets its pictures, captions, soundtrack, output and effect;
the options below change what it sets. Without a project, the pictures are
taken in the order given, each captioned with its file name; a FOLDER gives
its pictures in name order. Nothing the
window remembers (its last codec, frame size or times) is used: the defaults
are always those below.

  -o, --output OUT     the video to write (required unless the project names
                        it); its extension chooses the kind: .avi, .mp4 (H.264
                        and AAC) or .webm (VP9 and Opus)
  --sound FILE          the soundtrack: MP3 copied frame for frame into an AVI;
                        any other sound file the program reads (WAV, Ogg, FLAC,
                        WMA, APE, AC-3, Musepack, AAC) is encoded
  --codec FOURCC        the AVI's video compressor, from `slidomat-cli codecs`
                        (default: xvid, else the first one listed); an MP4 is
                        always avc1 (H.264), a WebM vp09 (VP9)
  --resolution WxH      320x240, 640x480, 720x480, 720x576, 1280x720,
                        1920x1080 or 3840x2160 (default 720x480); for MP4 and
                        WebM any even size up to 3840x2160
  --fps N               frames per second, 1 to 60 (default 15, 25 with --dynamic)
  --ms-per-picture N    display time of a picture, 100 to 60000 (default 3000)
  --match-audio         choose the time per picture whose video is nearest the
                        soundtrack's length
  --dynamic             a slow pan over each picture
  --no-xfade            no cross-fades between pictures
  --no-osd              no picture number and caption on the video
  --greyscale           grey levels
  --sepia               sepia tones (not with --greyscale)
  --single-frame        one frame per picture, no pan, fades or captions
  --scaling auto|sharp|smooth
                        how pictures are fitted: sharp is the nearest pixel,
                        smooth a Lanczos filter; auto (default) is smooth for
                        MP4 and WebM and sharp for AVI
  --yes                 answer yes to questions (overwriting an existing video)
  --quiet               print only errors: no codec line, progress or summary

Fewer than 30 frames a picture (fps x ms < 30000) switch the pan, the fades
and the captions off, with a message. The codec, frame size and timing used
are printed before the job starts. Ctrl-C or SIGTERM cancels: the video so far
stays a valid AVI (or a finished, playable MP4 or WebM); during an AVI's
soundtrack phase the complete silent video is kept beside the output.)");
