// bench_render: the reference slideshow, rendered by the job controller as
// the Go button does, against ffmpeg making the same slideshow from the
// command line in the same run.
//
// Ten 12-megapixel JPEGs, 720 × 576, 25 fps, 3000 ms a picture, cross-fades
// and on-video text: 10 × 75 + 9 × 18 = 912 frames. ffmpeg decodes each
// picture once (the loop filter repeats it), fits it with scale and pad,
// joins the pictures with 18-frame xfade transitions, and encodes with the
// same encoder on one thread.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/U_BmpToAvi.h"
#include "project/U_JobControl.h"
#include "project/U_SlideProject.h"
#include "support/Thread.h"
#include "support/UserInteraction.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int Shell(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

class Quiet : public sdm::IUserInteraction {
public:
  int MessageBox(const std::string&, const std::string& text, int, int) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return sdm::mrYes;
  }
};

// Our render of the slideshow; returns the wall time, or a negative value on failure.
double RenderOurs(const std::vector<std::string>& pictures, const std::string& codec, const std::string& out,
                  int& frames) {
  sdm::TSlideProject project;
  for (const auto& p : pictures) project.AddPicture(p);
  project.SetResolution("720x576");
  project.SetDynamic(false);
  project.SetFramesPerSecond(25);
  project.SetMsPerPicture(3000);
  project.SetCrossFade(true);
  project.SetOsd(true);
  project.SetOutputPath(out);
  sdm::TBmpToAvi avi;
  sdm::TStringList codecs;
  avi.ListCodecs(codecs);
  std::string entry;
  for (const auto& l : codecs.Items())
    if (l.substr(0, 4) == codec) entry = l;
  if (entry.empty()) return -1;
  project.SetCodecEntry(entry);

  sdm::TEventLoop loop;
  struct Count : sdm::IJobView {
    int frames = 0;
    void PreviewChanged(const sdm::TDib24* f) override { frames += f != nullptr; }
  } view;
  sdm::TJobControl job(project, avi, loop, nullptr, nullptr, &view);
  const auto t0 = Clock::now();
  if (!job.Go()) return -1;
  loop.RunUntil([&] { return !job.Running(); });
  const auto t1 = Clock::now();
  frames = view.frames;
  return job.LastEnd() == sdm::TJobEnd::Finished ? Seconds(t0, t1) : -1;
}

// The same slideshow by ffmpeg alone.
double RenderFfmpeg(const std::vector<std::string>& pictures, const std::string& encoder, const std::string& out) {
  // Each clip is long enough that, after the overlaps of xfade, every picture
  // stands for 75 frames between 18-frame fades: 912 frames in all.
  std::string cmd = "ffmpeg -v error -y -threads 1 -filter_threads 1";
  for (const auto& p : pictures) cmd += " -i '" + p + "'";
  cmd += " -filter_complex \"";
  const int n = static_cast<int>(pictures.size());
  for (int i = 0; i < n; ++i) {
    const int frames = 75 + (i > 0 ? 18 : 0) + (i < n - 1 ? 18 : 0);
    cmd += "[" + std::to_string(i) + ":v]scale=720:576:force_original_aspect_ratio=decrease:flags=neighbor," +
           "pad=720:576:(ow-iw)/2:(oh-ih)/2,format=yuv420p,loop=loop=" + std::to_string(frames - 1) +
           ":size=1:start=0,setpts=N/25/TB,fps=25[c" + std::to_string(i) + "];";
  }
  std::string last = "c0";
  double offset = 0;
  for (int i = 1; i < n; ++i) {
    const int prevFrames = 75 + (i - 1 > 0 ? 18 : 0) + 18;
    offset += (prevFrames - 18) / 25.0;
    const std::string label = "x" + std::to_string(i);
    char buf[160];
    std::snprintf(buf, sizeof buf, "[%s][c%d]xfade=transition=fade:duration=0.72:offset=%.2f[%s];", last.c_str(), i,
                  offset, label.c_str());
    cmd += buf;
    last = label;
  }
  cmd.pop_back();  // the last ';'
  cmd += "\" -map \"[" + last + "]\" -frames:v 912 " + encoder + " '" + out + "'";
  const auto t0 = Clock::now();
  const int rc = Shell(cmd);
  const auto t1 = Clock::now();
  if (rc != 0) {
    std::fprintf(stderr, "ffmpeg failed: %s\n", cmd.c_str());
    return -1;
  }
  return Seconds(t0, t1);
}

}  // namespace

int main() {
  static Quiet quiet;
  sdm::SetUserInteraction(&quiet);
  const fs::path dir = fs::temp_directory_path() / ("slidomat-bench-render-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  setenv("SLIDOMAT_REGISTRY_DIR", (dir / "hive").c_str(), 1);

  std::vector<std::string> pictures;
  std::printf("making 10 pictures of 4000x3000...\n");
  for (int i = 0; i < 10; ++i) {
    const std::string p = (dir / ("pic" + std::to_string(i) + ".jpg")).string();
    const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=4000x3000:rate=1 -ss " + std::to_string(i) +
                            " -frames:v 1 -q:v 3 '" + p + "'";
    if (Shell(cmd) != 0) {
      std::fprintf(stderr, "cannot make the pictures with ffmpeg\n");
      return 1;
    }
    pictures.push_back(p);
  }

  struct Case {
    std::string fourcc, ffmpegEncoder;
  };
  const std::vector<Case> cases{{"xvid", "-c:v mpeg4 -vtag xvid -bf 0 -q:v 3 -g 250"},
                                {"MJPG", "-c:v mjpeg -q:v 3"}};
  std::printf("%-6s %8s %10s %8s %12s %10s %8s\n", "codec", "frames", "seconds", "fps", "ffmpeg s", "ffmpeg fps",
              "ratio");
  for (const auto& c : cases) {
    int frames = 0;
    const double ours = RenderOurs(pictures, c.fourcc, (dir / (c.fourcc + ".avi")).string(), frames);
    const double theirs = RenderFfmpeg(pictures, c.ffmpegEncoder, (dir / (c.fourcc + "-ffmpeg.avi")).string());
    if (ours < 0) {
      std::printf("%-6s not available or failed\n", c.fourcc.c_str());
      continue;
    }
    std::printf("%-6s %8d %10.2f %8.1f %12.2f %10.1f %8.2f\n", c.fourcc.c_str(), frames, ours, frames / ours, theirs,
                theirs > 0 ? 912 / theirs : 0.0, theirs > 0 ? ours / theirs : 0.0);
  }
  std::printf("ratio = our wall time / ffmpeg's wall time (lower is better)\n");
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
