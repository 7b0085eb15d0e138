#pragma once
// What the fuzz targets and the corpus tests do with one picture file: load it
// as the frame server does (with the frame it goes into, so the reduced-scale
// path is reached too), then fit it, grey it and tone it, and load it once
// more as a thumbnail, checking the promises of the loaders on the way. A refused file (an EError naming the
// file) is a correct answer; a broken promise is collected as a fault so the
// fuzzer can stop on it and the test can name it.
#include <cstdint>
#include <string>
#include <vector>

#include "frames/U_ImageFile.h"
#include "support/Errors.h"

namespace sdm::fuzz {

struct TPictureRun {
  bool loaded = false;
  std::string refusal;  // the error text when the loader refused the file
  int width = 0;        // the picture as loaded for a 720 × 576 frame
  int height = 0;
  std::vector<std::string> faults;
};

namespace detail {

// Every pixel of a small bitmap; of a large one (a few bytes of RLE may
// declare a hundred million pixels) an even spread of about a million, so one
// input never takes the fuzzer seconds.
inline void CheckPixels(const TBitmap32& b, const std::string& what, bool grey, TPictureRun& run) {
  const size_t n = static_cast<size_t>(b.Width()) * b.Height();
  const size_t step = n / 1000000 + 1;
  for (size_t k = 0; k < n; k += step) {
    const TColor32 p = b.Bits()[k];
    if (AlphaOf(p) != 255) {
      run.faults.push_back(what + ": alpha is not 255 at pixel " + std::to_string(k));
      return;
    }
    if (grey && (RedOf(p) != GreenOf(p) || GreenOf(p) != BlueOf(p))) {
      run.faults.push_back(what + ": not grey at pixel " + std::to_string(k));
      return;
    }
  }
}

inline void CheckLoaded(TImageFile& f, TPictureRun& run) {
  const int64_t w = f.Width(), h = f.Height();
  if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPicturePixels) {
    run.faults.push_back("loaded as " + std::to_string(w) + " x " + std::to_string(h));
    return;
  }
  CheckPixels(f.Bitmap(), "loaded", false, run);
  // A frame of an odd size, then the thumbnail: exactly the size asked for,
  // whatever the picture's shape.
  for (const auto& [fw, fh] : {std::pair{7, 5}, std::pair{100, 75}}) {
    f.Fit(fw, fh);
    if (f.Width() != fw || f.Height() != fh) run.faults.push_back("fitted to the wrong size");
  }
  f.Greyscale();
  CheckPixels(f.Bitmap(), "greyed", true, run);
  f.Sepia();
  CheckPixels(f.Bitmap(), "toned", false, run);
}

}  // namespace detail

inline TPictureRun RunPictureFile(const std::string& path) {
  TPictureRun run;
  try {
    TImageFile f(path, TFitSize{720, 576});
    run.loaded = true;
    run.width = f.Width();
    run.height = f.Height();
    detail::CheckLoaded(f, run);
  } catch (const EError& e) {
    run.refusal = e.what();
    if (run.refusal.find(path) == std::string::npos) run.faults.push_back("the error does not name the file");
  }
  // The same file as a thumbnail takes other roads (the EXIF preview, DCT
  // and WebP scaling, a HEIF's own thumbnail); it may load where the whole
  // picture is refused, but never breaks a promise either.
  try {
    TImageFile thumb(path, TFitSize{100, 75, true});
    const int64_t w = thumb.Width(), h = thumb.Height();
    if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPicturePixels)
      run.faults.push_back("thumbnail loaded as " + std::to_string(w) + " x " + std::to_string(h));
    else
      detail::CheckPixels(thumb.Bitmap(), "thumbnail", false, run);
  } catch (const EError& e) {
    if (std::string(e.what()).find(path) == std::string::npos)
      run.faults.push_back("the thumbnail's error does not name the file");
  }
  return run;
}

}  // namespace sdm::fuzz
