// fit: one picture through the same loading, fitting and colour steps a
// slideshow frame takes, written as a 24-bit BMP to look at.
#include <iostream>

#include "Cli.h"
#include "frames/U_BmpWriter.h"
#include "frames/U_ImageFile.h"

namespace {

int RunFit(const sdm::cli::Args& args) {
  std::vector<std::string> positional;
  bool greyscale = false;
  bool sepia = false;
  sdm::TFitFilter filter = sdm::TFitFilter::Sharp;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--scaling") {
      filter = sdm::cli::ParseFitFilter(i + 1 < args.size() ? args[++i] : std::string());
    } else if (a == "--greyscale")
      greyscale = true;
    else if (a == "--sepia")
      sepia = true;
    else if (a.size() > 2 && a.compare(0, 2, "--") == 0)
      throw sdm::cli::UsageError{"unknown option \"" + a + "\""};
    else
      positional.push_back(a);
  }
  if (positional.size() != 3) throw sdm::cli::UsageError{"expected INPUT, WIDTHxHEIGHT and OUTPUT.bmp"};
  int width = 0;
  int height = 0;
  sdm::cli::ParseSize(positional[1], width, height);
  sdm::cli::CheckOutputPath(positional[2], {positional[0]});

  sdm::CheckFitSize(width, height);
  sdm::TImageFile picture(positional[0], sdm::TFitSize{width, height});
  picture.Fit(width, height, nullptr, filter);
  // The frame server's order: grey first, so sepia tones the grey levels.
  if (greyscale) picture.Greyscale();
  if (sepia) picture.Sepia();
  sdm::cli::WriteOutputFile(positional[2], [&](const std::string& temp) { sdm::SaveBmp24(picture.Bitmap(), temp); });
  std::cout << "Wrote " << positional[2] << " (" << width << " x " << height << ")\n";
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("fit", "fit INPUT WIDTHxHEIGHT OUTPUT.bmp [--greyscale] [--sepia] [--scaling sharp|smooth]",
                "Fits a picture into a frame size and writes a 24-bit BMP", RunFit,
                R"(  INPUT          a picture of any kind the program reads (JPEG, BMP, PNG, WebP,
                 TIFF, GIF, HEIF), standing the way it was taken, in sRGB
  WIDTHxHEIGHT   the frame size, each side 1 to 65535
  OUTPUT.bmp     the 24-bit BMP to write
  --greyscale    grey levels
  --sepia        sepia tones (after --greyscale when both are given)
  --scaling sharp|smooth
                 sharp: the nearest pixel, as AVI videos fit their pictures
                 (default); smooth: a Lanczos filter, as MP4 and WebM do)");
