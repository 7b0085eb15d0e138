#pragma once
// TFrameOptions: the six switches that shape a slideshow's frames, kept
// together so the project, the job record, the video maker and the frame
// server pass one value instead of a row of booleans whose order is easy to
// get wrong. Call sites name what they switch on: {.crossFade = true}.

namespace sdm {

struct TFrameOptions {
  bool dynamic = false;    // the slow pan over each picture
  bool crossFade = false;  // fade frames between pictures
  bool osd = false;        // the picture number and caption on the video
  bool greyscale = false;
  bool sepia = false;        // applied after greyscale when both are on
  bool singleFrame = false;  // one frame per picture; the visual options are then ignored

  bool operator==(const TFrameOptions&) const = default;
};

}  // namespace sdm
