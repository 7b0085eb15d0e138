// mux: the audio phase of a job on its own. The muxer thread joins a silent
// video and a soundtrack into a new file; the inputs are left as they are, and
// an existing output is asked about first (--yes answers).
// Status texts and progress go to stderr; SIGINT and SIGTERM cancel.
#include <signal.h>

#include <atomic>
#include <iostream>

#include "Cli.h"
#include "avi/U_MuxThd.h"
#include "support/Thread.h"
#include "support/U_SysUtils.h"

namespace {

std::atomic<bool> g_cancel{false};

void OnSignal(int) { g_cancel.store(true); }

int RunMux(const sdm::cli::Args& all) {
  std::vector<std::string> args;
  bool yes = false;
  for (const std::string& a : all) {
    if (a == "--yes")
      yes = true;
    else if (a.size() > 2 && a.compare(0, 2, "--") == 0)
      throw sdm::cli::UsageError{"unknown option \"" + a + "\""};
    else
      args.push_back(a);
  }
  if (args.size() != 3) throw sdm::cli::UsageError{"expected VIDEO.avi, AUDIO and OUT.avi"};
  sdm::cli::CheckOutputPath(args[2], {args[0], args[1]});
  // An existing video is asked about first, as render asks; the muxer then
  // replaces it only with a complete file.
  if (sdm::FileIsNonEmpty(args[2]) &&
      !sdm::cli::AskOnTerminal("Output file already exists, and will be overwritten. Continue anyway ?", yes))
    return 1;
  sdm::TEventLoop loop;
  sdm::TMuxThd mux(loop);
  mux.VideoFile = args[0];
  mux.AudioFile = args[1];
  mux.OutputFile = args[2];
  mux.OnMessage = [](const std::string& text) { std::cerr << text << "\n"; };
  // One line per tenth of a phase is enough to follow it.
  int lastTenth = -1;
  mux.OnProgress = [&lastTenth](int position, int maximum, const std::string& text) {
    const int tenth = maximum > 0 ? static_cast<int>(10LL * position / maximum) : 0;
    if (position == 0) lastTenth = -1;
    if (tenth == lastTenth) return;
    lastTenth = tenth;
    std::cerr << text << ": " << position << " / " << maximum << "\n";
  };
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  mux.Start();
  loop.RunUntil([&] {
    if (g_cancel.load()) mux.Terminate();
    return mux.Finished();
  });
  mux.WaitFor();
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  switch (mux.Outcome()) {
    case sdm::TMuxOutcome::Done:
      if (!mux.EncodedFrom.empty()) std::cerr << "The soundtrack (" << mux.EncodedFrom << ") was encoded to MP3.\n";
      if (mux.DamagedBlocks > 0)
        std::cerr << "Warning: the soundtrack \"" << mux.AudioFile << "\" is damaged: " << mux.DamagedBlocks
                  << " blocks could not be decoded and were left out.\n";
      std::cout << "Wrote " << mux.OutputFile << "\n";
      return mux.DamagedBlocks > 0 ? 1 : 0;
    case sdm::TMuxOutcome::Cancelled: std::cerr << "Aborted by user.\n"; return 1;
    default: std::cerr << mux.ErrorText() << "\n"; return 1;
  }
}

}  // namespace

SDM_CLI_COMMAND("mux", "mux [--yes] VIDEO.avi AUDIO OUT.avi",
                "Adds a soundtrack to a silent AVI video, writing a new file with both streams (MP3 frames copied, "
                "any other sound file encoded to MP3)",
                RunMux,
                R"(  --yes       replace an existing OUT.avi without asking
  VIDEO.avi   the silent video; every video frame is copied unchanged
  AUDIO       the soundtrack: an MP3's frames are copied unchanged; any other
              sound file the program reads (WAV, Ogg, FLAC, WMA, APE, AC-3,
              Musepack, AAC) is encoded to MP3
  OUT.avi     the new file (never one of the inputs, which stay as they are),
              written under a name of its own and put in place when complete

Ctrl-C or SIGTERM cancels, and the earlier OUT.avi stays as it was. Damaged
sound is skipped with a warning and exit status 1.)");
