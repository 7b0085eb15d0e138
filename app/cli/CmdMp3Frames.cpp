// mp3frames: the frame index the muxer builds of a soundtrack, to see what a
// file will give before a job uses it.
#include <iostream>

#include "Cli.h"
#include "avi/U_MP3FrameExtract.h"

namespace {

int RunMp3Frames(const sdm::cli::Args& args) {
  if (args.size() != 1) throw sdm::cli::UsageError{"expected one MP3 file"};
  sdm::TMP3FrameExtract frames(args[0]);
  frames.Scan();
  std::cout << "Count: " << frames.Count() << "\n"
            << "SampleRate: " << frames.SampleRate() << "\n"
            << "Channels: " << frames.Channels() << "\n"
            << "BitRate: " << frames.BitRate() << "\n";
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("mp3frames", "mp3frames FILE.mp3",
                "Scans an MP3 file for its frames and prints their count, sample rate, channels and bit rate",
                RunMp3Frames);
