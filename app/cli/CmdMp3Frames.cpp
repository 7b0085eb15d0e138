// mp3frames: the frame index the muxer builds of a soundtrack, to see what a
// file will give before a job uses it.
#include <iostream>

#include "Cli.h"
#include "avi/U_MP3FrameExtract.h"
#include "support/Errors.h"

namespace {

int RunMp3Frames(const sdm::cli::Args& args) {
  if (args.size() != 1) throw sdm::cli::UsageError{"expected one MP3 file"};
  sdm::TMP3FrameExtract frames(args[0]);
  frames.Scan();
  // Without a single frame there is nothing to report, and "Count: -1" with
  // success would read as a soundtrack.
  if (!frames.FirstHeader()) throw sdm::EError("No MPEG audio frame found in \"" + args[0] + "\".");
  std::cout << "Count: " << frames.Count() << "\n"
            << "SampleRate: " << frames.SampleRate() << "\n"
            << "Channels: " << frames.Channels() << "\n"
            << "BitRate: " << frames.BitRate() << "\n";
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("mp3frames", "mp3frames FILE.mp3",
                "Scans an MP3 file for its frames and prints their count, sample rate, channels and bit rate",
                RunMp3Frames, R"(  FILE.mp3   the soundtrack, scanned as the muxer scans it before a job adds it)");
