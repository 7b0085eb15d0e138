#pragma once
// The reference slideshow made by ffmpeg alone, for the render benchmarks:
// each picture decoded once (the loop filter repeats the fitted frame),
// fitted with black bars by the scaler flags given, the pictures joined by
// 18-frame xfade transitions, the strip darkened and the two texts drawn.
// Everything before the encoder's options: the decoders and the filter graph
// run on one thread, as our frame synthesis does.
#include <cstdio>
#include <string>
#include <vector>

#include "ReferenceSlideshow.h"
#include "frames/U_FrameServer.h"

namespace bench {

inline std::string FfmpegSlideshowCommand(const std::vector<std::string>& pictures, int width, int height,
                                          const std::string& scaleFlags) {
  const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  const std::string w = std::to_string(width), h = std::to_string(height);
  std::string cmd = "ffmpeg -v error -y -filter_complex_threads 1";
  for (const auto& p : pictures) cmd += " -threads 1 -i '" + p + "'";
  cmd += " -filter_complex \"";
  const int n = kPictures;
  // Each clip is long enough that, after the overlaps of xfade, every picture
  // stands for 75 frames between 18-frame fades: 912 frames in all.
  for (int i = 0; i < n; ++i) {
    const int frames = kFramesPerPicture + (i > 0 ? kFadeFrames : 0) + (i < n - 1 ? kFadeFrames : 0);
    cmd += "[" + std::to_string(i) + ":v]scale=" + w + ":" + h +
           ":force_original_aspect_ratio=decrease:flags=" + scaleFlags + ",pad=" + w + ":" + h +
           ":(ow-iw)/2:(oh-ih)/2,format=yuv420p,loop=loop=" + std::to_string(frames - 1) + ":size=1:start=0,setpts=N/" +
           std::to_string(kFps) + "/TB[c" + std::to_string(i) + "];";
  }
  std::string last = "c0";
  double offset = 0;
  for (int i = 1; i < n; ++i) {
    const int prevFrames = kFramesPerPicture + (i - 1 > 0 ? kFadeFrames : 0) + kFadeFrames;
    offset += static_cast<double>(prevFrames - kFadeFrames) / kFps;
    const std::string label = "x" + std::to_string(i);
    char buf[200];
    std::snprintf(buf, sizeof buf, "[%s][c%d]xfade=transition=fade:duration=%.2f:offset=%.2f[%s];", last.c_str(), i,
                  static_cast<double>(kFadeFrames) / kFps, offset, label.c_str());
    cmd += buf;
    last = label;
  }
  // The strip and the texts; a picture's texts stand from the first frame of
  // the fade into it to its last frame.
  const int stripTop = sdm::TOsdText::StripTop(height);
  cmd += "[" + last + "]drawbox=x=0:y=" + std::to_string(stripTop) + ":w=iw:h=" + std::to_string(height - stripTop) +
         ":color=black@0.4:t=fill";
  const int period = kFramesPerPicture + kFadeFrames;
  for (int i = 0; i < n; ++i) {
    const int from = i == 0 ? 0 : i * period - kFadeFrames;
    const int to = i * period + kFramesPerPicture - 1;
    const std::string enable = ":enable='between(n," + std::to_string(from) + "," + std::to_string(to) + ")'";
    const std::string common = ":fontfile=" + font + ":fontsize=16:fontcolor=white:y=h-20" + enable;
    cmd += ",drawtext=text='Picture \\: " + std::to_string(i + 1) + " / " + std::to_string(n) + "':x=10" + common;
    cmd += ",drawtext=text='" + CaptionOf(i) + "':x=w/2-50" + common;
  }
  cmd += "[v]\" -map \"[v]\" -frames:v " + std::to_string(kFrames);
  return cmd;
}

}  // namespace bench
