// render: the main job without a window. A project is built from a project
// file or a list of pictures and the options, then run through the same job
// controller the window's Go button uses: same checks, messages, log lines,
// temporary file and muxer phase. SIGINT and SIGTERM are the Cancel button.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "Cli.h"
#include "avi/U_BmpToAvi.h"
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

// Progress on stderr: a bar redrawn in place at a terminal, one line per
// phase otherwise.
class TCliView : public sdm::IJobView {
public:
  bool Tty = false;
  bool Quiet = false;

  void ProgressChanged(int position, int max) override {
    position_ = position;
    max_ = max;
    Draw();
  }
  void PreviewChanged(const sdm::TDib24* frame) override {
    if (frame) ++framesDone_;
  }
  void StatusChanged(const std::string& text) override {
    if (text.empty() || Quiet) return;
    phase_ = text;
    framesDone_ = 0;
    if (!Tty) std::cerr << text << "\n";
  }
  void ProgressLabelChanged(const std::string& text) override {
    label_ = text;
    Draw();
  }
  void ClearLine() {
    if (drawn_) std::cerr << "\r\033[K" << std::flush;
    drawn_ = false;
  }

private:
  void Draw() {
    if (!Tty || Quiet || max_ <= 0) return;
    char line[256];
    if (label_.empty()) {
      const int done = std::min(framesDone_, max_);
      const int width = 30;
      const int fill = static_cast<int>(static_cast<long long>(done) * width / max_);
      std::snprintf(line, sizeof line, "%s [%s%s] %d/%d frames", phase_.c_str(), std::string(fill, '#').c_str(),
                    std::string(width - fill, '.').c_str(), done, max_);
    } else {
      const int percent = static_cast<int>(static_cast<long long>(position_) * 100 / max_);
      std::snprintf(line, sizeof line, "%.60s %3d%%", label_.c_str(), percent);
    }
    std::cerr << "\r\033[K" << line << std::flush;
    drawn_ = true;
  }

  std::string phase_, label_;
  int position_ = 0, max_ = 0, framesDone_ = 0;
  bool drawn_ = false;
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

// The start-up choice: the first line that begins with the remembered FourCC
// ignoring case, else the first line.
std::string DefaultCodecEntry(const sdm::TStringList& codecs) {
  if (codecs.Empty()) return "";
  std::string last = sdm::GetSetting("LastFCC");
  if (last.empty()) last = "xvid";
  for (const auto& line : codecs.Items())
    if (sdm::StartsText(line, last)) return line;
  return codecs[0];
}

struct TRenderOptions {
  std::optional<std::string> output, sound, codec, resolution;
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
  if (o.resolution) {
    const auto& list = sdm::TSlideProject::Resolutions();
    if (std::find(list.begin(), list.end(), *o.resolution) == list.end())
      throw UsageError{"resolution must be one of 320x240, 640x480, 720x480, 720x576"};
  }
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
    // Pictures left out matter to whoever runs this; say so at once.
    if (level >= sdm::llError && !o.quiet) std::cerr << m << "\n";
  };

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
  if (o.resolution) project.SetResolution(*o.resolution);
  if (o.dynamic) project.SetDynamic(true);  // 25 fps, unless --fps says otherwise
  if (o.fps) project.SetFramesPerSecond(*o.fps);
  if (o.msPerPicture) project.SetMsPerPicture(*o.msPerPicture);
  if (o.noXfade) project.SetCrossFade(false);
  if (o.noOsd) project.SetOsd(false);
  if (o.singleFrame) project.SetSingleFrame(true);
  if (o.matchAudio) project.MatchAudio();

  sdm::TBmpToAvi avi;
  sdm::TStringList codecs;
  avi.ListCodecs(codecs);
  project.SetCodecEntry(o.codec ? CodecEntryFor(codecs, *o.codec) : DefaultCodecEntry(codecs));

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
                "[--yes] [--quiet] -o OUT.avi (PROJECT.sdm | PICTURE...)",
                "Renders a slideshow to an AVI file, with its soundtrack when one is given", RunRender);
