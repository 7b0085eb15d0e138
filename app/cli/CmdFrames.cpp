// frames: a frame server over pictures given on the command line, to count the
// frames of a slideshow or to look at any one of them as a 24-bit BMP.
#include <iostream>

#include "Cli.h"
#include "frames/FrameOptions.h"
#include "frames/U_BmpWriter.h"
#include "frames/U_FrameServer.h"
#include "support/Errors.h"
#include "support/StringList.h"

namespace {

struct TFramesOptions {
  int width = 720;
  int height = 576;
  int framesPerPicture = 1;
  sdm::TFrameOptions effects;
  bool count = false;
  long long index = -1;
  std::string out;
  std::vector<std::string> pictures;
};

const std::string& Value(const sdm::cli::Args& args, size_t& i) {
  if (i + 1 >= args.size()) throw sdm::cli::UsageError{"option \"" + args[i] + "\" needs a value"};
  return args[++i];
}

TFramesOptions Parse(const sdm::cli::Args& args) {
  TFramesOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--size") {
      sdm::cli::ParseSize(Value(args, i), o.width, o.height);
    } else if (a == "--fpp") {
      const long long n = sdm::cli::ParseInt(Value(args, i), "frames per picture");
      if (n < 1 || n > 1000000) throw sdm::cli::UsageError{"frames per picture must be 1 to 1000000"};
      o.framesPerPicture = static_cast<int>(n);
    } else if (a == "--index") {
      o.index = sdm::cli::ParseInt(Value(args, i), "frame index");
      if (o.index < 0) throw sdm::cli::UsageError{"frame index must not be negative"};
    } else if (a == "--out") {
      o.out = Value(args, i);
    } else if (a == "--scaling") {
      o.effects.fit = sdm::cli::ParseFitFilter(Value(args, i));
    } else if (a == "--count") {
      o.count = true;
    } else if (a == "--dynamic") {
      o.effects.dynamic = true;
    } else if (a == "--xfade") {
      o.effects.crossFade = true;
    } else if (a == "--osd") {
      o.effects.osd = true;
    } else if (a == "--greyscale") {
      o.effects.greyscale = true;
    } else if (a == "--sepia") {
      o.effects.sepia = true;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      throw sdm::cli::UsageError{"unknown option \"" + a + "\""};
    } else {
      o.pictures.push_back(a);
    }
  }
  if (o.pictures.empty()) throw sdm::cli::UsageError{"expected at least one PICTURE"};
  if (o.count == (o.index >= 0)) throw sdm::cli::UsageError{"expected either --count or --index I --out FILE.bmp"};
  if (o.index >= 0 && o.out.empty()) throw sdm::cli::UsageError{"--index needs --out FILE.bmp"};
  if (o.count && !o.out.empty()) throw sdm::cli::UsageError{"--out goes with --index"};
  return o;
}

int RunFrames(const sdm::cli::Args& args) {
  const TFramesOptions o = Parse(args);
  // Each argument is a picture line of a project file: the path, then an
  // optional caption after a TAB. Without one the caption is the file name.
  sdm::TStringList pictures;
  sdm::TStringList captions;
  for (const std::string& line : o.pictures) {
    const auto tab = line.find('\t');
    const std::string path = line.substr(0, tab);
    pictures.Add(path);
    if (tab != std::string::npos) {
      captions.Add(line.substr(tab + 1));
    } else {
      const auto slash = path.find_last_of('/');
      captions.Add(slash == std::string::npos ? path : path.substr(slash + 1));
    }
  }
  sdm::TFrameServer server(pictures, &captions, o.framesPerPicture, o.height, o.width, o.effects);
  const int count = server.FrameCount();
  if (o.count) {
    std::cout << count << "\n";
    return 0;
  }
  sdm::cli::CheckOutputPath(o.out, pictures.Items());
  if (o.index >= count)
    throw sdm::EError("Frame index " + std::to_string(o.index) + " out of range (" + std::to_string(count) +
                      " frames)");
  sdm::TBitmap32 frame;
  server.GetFrame(frame, static_cast<int>(o.index));
  sdm::cli::WriteOutputFile(o.out, [&](const std::string& temp) { sdm::SaveBmp24(frame, temp); });
  std::cout << "Wrote " << o.out << " (frame " << o.index << " of " << count << ", " << o.width << " x " << o.height
            << ")\n";
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("frames",
                "frames [--size WxH] [--fpp N] [--dynamic] [--xfade] [--osd] [--greyscale] [--sepia] "
                "[--scaling sharp|smooth] (--count | --index I --out FILE.bmp) PICTURE...",
                "Counts the frames of a slideshow or writes one frame as a 24-bit BMP", RunFrames,
                R"(  --size WxH      the frame size (default 720x576)
  --fpp N         frames per picture, 1 to 1000000 (default 1)
  --dynamic       the slow pan over each picture
  --xfade         cross-fades between pictures ((N div 20) x 6 frames each)
  --osd           the picture number and caption on the frames
  --greyscale     grey levels
  --sepia         sepia tones
  --scaling sharp|smooth
                  how pictures are fitted: the nearest pixel (default) or a
                  Lanczos filter
  --count         print the number of frames
  --index I       write frame I (from 0) ...
  --out FILE.bmp  ... to this 24-bit BMP
  PICTURE...      the pictures in order; a caption may follow a TAB, else the
                  caption is the file name)");
