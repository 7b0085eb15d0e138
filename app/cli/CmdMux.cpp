// mux: the audio phase of a job on its own. The muxer thread joins a silent
// video and an MP3 soundtrack into a new file; the inputs are left as they are.
// Status texts and progress go to stderr; SIGINT and SIGTERM cancel.
#include <signal.h>

#include <atomic>
#include <iostream>

#include "Cli.h"
#include "avi/U_MuxThd.h"
#include "support/Thread.h"

namespace {

std::atomic<bool> g_cancel{false};

void OnSignal(int) { g_cancel.store(true); }

int RunMux(const sdm::cli::Args& args) {
  if (args.size() != 3) throw sdm::cli::UsageError{"expected VIDEO.avi, AUDIO.mp3 and OUT.avi"};
  // The muxer itself refuses an output that is one of its inputs.
  sdm::cli::CheckOutputPath(args[2], {});
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
    case sdm::TMuxOutcome::Done: std::cout << "Wrote " << mux.OutputFile << "\n"; return 0;
    case sdm::TMuxOutcome::Cancelled: std::cerr << "Aborted by user.\n"; return 1;
    default: std::cerr << mux.ErrorText() << "\n"; return 1;
  }
}

}  // namespace

SDM_CLI_COMMAND("mux", "mux VIDEO.avi AUDIO.mp3 OUT.avi",
                "Adds an MP3 soundtrack to a silent AVI video, writing a new file with both streams", RunMux,
                R"(  VIDEO.avi   the silent video; every video frame is copied unchanged
  AUDIO.mp3   the soundtrack; its MP3 frames are copied unchanged
  OUT.avi     the new file (never one of the inputs, which stay as they are)

Ctrl-C or SIGTERM cancels.)");
