// bench_render_mp4: the reference slideshow as an HD MP4, rendered by the job
// controller as the Go button does, against ffmpeg making the same slideshow
// with the same encoder settings in the same run.
//
// The reference slideshow (ReferenceSlideshow.h) at 1920 × 1080: ten 4000 ×
// 3000 photo-like JPEGs, 25 frames per second, 3000 ms a picture, cross-fades
// and on-video text, 912 frames. Ours: the MP4 output as it stands (H.264 by
// libx264 at CRF 20, preset medium, two encoder threads; pictures fitted
// Smooth, the Automatic choice for an MP4). ffmpeg: each picture decoded once
// and fitted by its Lanczos scaler, the same fades and texts on one filter
// thread, libx264 at the same CRF, preset and key-frame interval and at its
// default threads (as many as it likes, frame threads and look-ahead
// included: ffmpeg as people run it).
//
// Runs alternate (ours, ffmpeg, ours, ffmpeg …) and the best of each is kept,
// since a shared machine slows single runs at random; the processor time of
// each, steadier than the wall clock there, is printed beside it.
//
// Usage: bench_render_mp4 [--rounds N] [--pictures DIR] [--videos DIR] [--only ours|ffmpeg]
//   --pictures DIR keeps the pictures in DIR and reuses them on the next run;
//   --videos DIR keeps the two videos there (ours.mp4, ffmpeg.mp4).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FfmpegSlideshow.h"
#include "Measure.h"
#include "ReferenceSlideshow.h"
#include "avi/ContainerWriter.h"
#include "avi/OutputKind.h"
#include "avi/U_BmpToAvi.h"
#include "project/U_JobControl.h"
#include "project/U_SlideProject.h"
#include "support/Thread.h"
#include "support/UserInteraction.h"

namespace fs = std::filesystem;

namespace {

using namespace bench;

constexpr int kHdWidth = 1920, kHdHeight = 1080;

class Quiet : public sdm::IUserInteraction {
public:
  int MessageBox(const std::string&, const std::string& text, int, int) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return sdm::mrYes;
  }
};

struct TRun {
  double seconds = -1;
  double cpuSeconds = -1;
  int frames = 0;
  long peakKiB = 0;
};

// Renders in a child process, so its processor time and peak memory are the
// render's own.
TRun RenderOurs(const std::vector<std::string>& pictures, const std::string& out) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    TRun run;
    sdm::TSlideProject project;
    for (int i = 0; i < kPictures; ++i) project.AddPicture(pictures[static_cast<size_t>(i)] + "\t" + CaptionOf(i));
    project.SetResolution(std::to_string(kHdWidth) + "x" + std::to_string(kHdHeight));
    project.SetDynamic(false);
    project.SetFramesPerSecond(kFps);
    project.SetMsPerPicture(3000);
    project.SetCrossFade(true);
    project.SetOsd(true);
    project.SetOutputPath(out);
    project.SetCodecEntry(sdm::ContainerCodecEntries(sdm::TOutputKind::Mp4).front());
    sdm::TBmpToAvi avi;
    sdm::TEventLoop loop;
    struct Count : sdm::IJobView {
      int frames = 0;
      void PreviewChanged(const sdm::TDib24* f) override { frames += f != nullptr; }
    } view;
    sdm::TJobControl job(project, avi, loop, nullptr, nullptr, &view);
    const auto t0 = Clock::now();
    if (job.Go()) {
      loop.RunUntil([&] { return !job.Running(); });
      if (job.LastEnd() == sdm::TJobEnd::Finished)
        run.seconds = Seconds(t0, Clock::now());
      else
        std::fprintf(stderr, "our render failed: %s\n", job.LastError().c_str());
    }
    run.frames = view.frames;
    if (write(fds[1], &run, sizeof run) != sizeof run) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  TRun run;
  const bool got = read(fds[0], &run, sizeof run) == sizeof run;
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!got) return {};
  run.cpuSeconds = CpuSeconds(usage);
  run.peakKiB = usage.ru_maxrss;
  return run;
}

TRun RenderFfmpeg(const std::vector<std::string>& pictures, const std::string& out) {
  const sdm::TH264Settings h264;
  const std::string cmd = FfmpegSlideshowCommand(pictures, kHdWidth, kHdHeight, "lanczos") +
                          " -c:v libx264 -pix_fmt yuv420p -preset " + h264.Preset + " -crf " +
                          std::to_string(h264.Crf) + " -g " + std::to_string(5 * kFps) + " -movflags +faststart '" +
                          out + "'";
  const TTimed t = TimeCommand(cmd);
  TRun run;
  if (!t.ok()) return run;
  run.seconds = t.seconds;
  run.cpuSeconds = t.cpuSeconds;
  run.frames = kFrames;
  run.peakKiB = t.peakKiB;
  return run;
}

const TRun* Best(const std::vector<TRun>& runs) {
  const TRun* best = nullptr;
  for (const TRun& r : runs)
    if (r.seconds > 0 && (!best || r.seconds < best->seconds)) best = &r;
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 1;
  std::string only, keep, videos;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc)
      only = argv[++i];
    else if (a == "--pictures" && i + 1 < argc)
      keep = argv[++i];
    else if (a == "--videos" && i + 1 < argc)
      videos = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: bench_render_mp4 [--rounds N] [--pictures DIR] [--videos DIR] [--only ours|ffmpeg]\n");
      return 2;
    }
  }
  static Quiet quiet;
  sdm::SetUserInteraction(&quiet);
  const fs::path dir = fs::temp_directory_path() / ("slidomat-bench-render-mp4-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path pictureDir = keep.empty() ? dir : fs::path(keep);
  fs::create_directories(pictureDir);
  const fs::path videoDir = videos.empty() ? dir : fs::path(videos);
  fs::create_directories(videoDir);
  // A hive of its own: the H.264 settings are the defaults, whatever the
  // person running this has chosen.
  setenv("SLIDOMAT_REGISTRY_DIR", (dir / "hive").c_str(), 1);

  const std::vector<std::string> pictures = ReferencePictures(pictureDir);
  const sdm::TH264Settings h264;
  std::printf(
      "pictures: %d of 4000x3000; %dx%d at %d fps, %d frames; libx264 CRF %d, preset %s; %d threads for ours, "
      "libx264's default for ffmpeg\n",
      kPictures, kHdWidth, kHdHeight, kFps, kFrames, h264.Crf, h264.Preset.c_str(),
      sdm::TContainerSettings::kEncoderThreads);
  std::fflush(stdout);

  std::vector<TRun> ours, theirs;
  std::error_code ec;
  const std::string ourFile = (videoDir / "ours.mp4").string(), theirFile = (videoDir / "ffmpeg.mp4").string();
  for (int r = 0; r < rounds; ++r) {
    if (only.empty() || only == "ours") {
      fs::remove(ourFile, ec);  // a fresh render: no question about the last round's
      ours.push_back(RenderOurs(pictures, ourFile));
      std::printf("  ours   %.2f s, %.2f s of processor time (%d frames, peak %.1f MiB)\n", ours.back().seconds,
                  ours.back().cpuSeconds, ours.back().frames, ours.back().peakKiB / 1024.0);
    }
    if (only.empty() || only == "ffmpeg") {
      theirs.push_back(RenderFfmpeg(pictures, theirFile));
      std::printf("  ffmpeg %.2f s, %.2f s of processor time (peak %.1f MiB)\n", theirs.back().seconds,
                  theirs.back().cpuSeconds, theirs.back().peakKiB / 1024.0);
    }
    std::fflush(stdout);
  }

  const TRun* o = Best(ours);
  const TRun* t = Best(theirs);
  auto size = [&](const std::string& f) { return fs::exists(f) ? static_cast<double>(fs::file_size(f)) / 1e6 : 0.0; };
  if (o)
    std::printf("ours            %7.2f s  %6.1f frames/s  %7.2f s CPU  %.1f MB  peak memory %.1f MiB\n", o->seconds,
                kFrames / o->seconds, o->cpuSeconds, size(ourFile), o->peakKiB / 1024.0);
  if (t)
    std::printf("ffmpeg          %7.2f s  %6.1f frames/s  %7.2f s CPU  %.1f MB  peak memory %.1f MiB\n", t->seconds,
                kFrames / t->seconds, t->cpuSeconds, size(theirFile), t->peakKiB / 1024.0);
  if (o && t) {
    std::printf("ratio ours / ffmpeg         %.2f  (target <= 1.0)\n", o->seconds / t->seconds);
    std::printf("ratio of processor time     %.2f\n", o->cpuSeconds / t->cpuSeconds);
  }
  fs::remove_all(dir, ec);
  return 0;
}
