#pragma once
// TFrameOptions: the switches that shape a slideshow's frames, kept
// together so the project, the job record, the video maker and the frame
// server pass one value instead of a row of booleans whose order is easy to
// get wrong. Call sites name what they switch on: {.crossFade = true}.

namespace sdm {

// How a picture is scaled into the frame. Sharp takes for each pixel the
// nearest pixel of the picture (the classic fit, exact pixel for pixel);
// Smooth filters (Lanczos), so that a photo much larger than the frame does
// not shimmer with aliasing.
enum class TFitFilter { Sharp, Smooth };

struct TFrameOptions {
  bool dynamic = false;    // the slow pan over each picture
  bool crossFade = false;  // fade frames between pictures
  bool osd = false;        // the picture number and caption on the video
  bool greyscale = false;
  bool sepia = false;        // applied after greyscale when both are on
  bool singleFrame = false;  // one frame per picture; the visual options are then ignored
  TFitFilter fit = TFitFilter::Sharp;

  bool operator==(const TFrameOptions&) const = default;
};

}  // namespace sdm
