// encode: 24-bit BMP frames through the AVI writer, one video frame each.
#include <iostream>

#include "Cli.h"
#include "avi/U_BmpToAvi.h"
#include "frames/U_BmpWriter.h"
#include "support/Errors.h"

namespace {

int RunEncode(const sdm::cli::Args& args) {
  std::string codec, output;
  long long fps = 25;
  std::vector<std::string> frames;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--codec" && hasValue)
      codec = args[++i];
    else if (a == "--fps" && hasValue)
      fps = sdm::cli::ParseInt(args[++i], "--fps");
    else if (a == "-o" && hasValue)
      output = args[++i];
    else if (a.size() > 1 && a[0] == '-')
      throw sdm::cli::UsageError{"unknown or incomplete option \"" + a + "\""};
    else
      frames.push_back(a);
  }
  if (codec.empty()) throw sdm::cli::UsageError{"--codec FOURCC is required"};
  if (output.empty()) throw sdm::cli::UsageError{"-o OUT.avi is required"};
  if (frames.empty()) throw sdm::cli::UsageError{"no frames given"};
  if (fps < 1 || fps > 1000) throw sdm::cli::UsageError{"--fps must be between 1 and 1000"};

  sdm::cli::CheckOutputPath(output, frames);
  // Every frame is read before the output is touched, so a bad frame never
  // costs an existing file of that name.
  std::vector<sdm::TDib24> dibs;
  dibs.reserve(frames.size());
  for (const std::string& f : frames) {
    dibs.push_back(sdm::LoadBmp24(f));
    const sdm::TDib24& d = dibs.back();
    if (d.Width() != dibs.front().Width() || d.Height() != dibs.front().Height())
      throw sdm::EError("Frame " + f + " is " + std::to_string(d.Width()) + "x" + std::to_string(d.Height()) +
                        ", the first frame is " + std::to_string(dibs.front().Width()) + "x" +
                        std::to_string(dibs.front().Height()));
  }

  sdm::TBmpToAvi writer;
  writer.Width = dibs.front().Width();
  writer.Height = dibs.front().Height();
  writer.FramePeriod = static_cast<int32_t>(1000 / fps);
  writer.SetFourCC(codec);
  sdm::cli::WriteOutputFile(output, [&](const std::string& temp) {
    writer.FileName = temp;
    writer.Open();
    for (const sdm::TDib24& d : dibs) writer.AddFrame(d);
    writer.Close();
  });
  std::cout << "Wrote " << output << " (" << dibs.size() << " frames, " << writer.Width << "x" << writer.Height << ", "
            << codec << ")\n";
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("encode", "encode --codec FOURCC [--fps N] -o OUT.avi FRAME.bmp...",
                "Writes 24-bit BMP frames (all of one size) into an AVI file through the chosen compressor", RunEncode,
                R"(  --codec FOURCC   the compressor, from `slidomat-cli codecs` (required)
  --fps N          frames per second, 1 to 1000 (default 25); the frame period
                   is 1000 div N milliseconds
  -o OUT.avi       the video to write (required)
  FRAME.bmp...     24-bit BMP frames, all of the first one's size, in order)");
