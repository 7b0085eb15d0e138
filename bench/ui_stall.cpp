// bench_ui_stall: how long the window's UI thread goes without running its
// events while a job runs. The real main window (offscreen Qt, a private
// registry and data folder) renders the reference pictures as the Go button
// does, and a timer on the UI thread that should tick every millisecond
// records the gaps between its ticks: the longest gap is the longest time
// the window could not have answered a click or repainted.
//
// Two jobs: the reference slideshow as an AVI (720 × 576, "xvid") and a
// shorter one as a 1920 × 1080 MP4, whose larger frames make the preview
// costlier. Each prints the job's time, the longest gap, the 99th percentile
// of the gaps and how many passed 16 ms and 50 ms (the target: none over
// 50 ms), with where in the job the longest ones fell.
//
// Usage: bench_ui_stall [--rounds N] [--pictures DIR] [--only avi|mp4]
//   --pictures DIR keeps the reference pictures there and reuses them.
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ReferenceSlideshow.h"
#include "project/U_JobControl.h"
#include "project/U_SlideProject.h"
#include "support/U_SysUtils.h"
#include "ui/ProgramWindows.h"
#include "ui/SanitizerSuppressions.h"
#include "ui_U_MainDlg.h"

namespace fs = std::filesystem;

namespace {

using namespace bench;

// A registry, data and cache folder of our own, with the uninstall entry of
// an installed program, so nothing of a real installation is read or left.
class TSandbox {
public:
  TSandbox() {
    root_ = fs::temp_directory_path() / ("slidomat-bench-ui-" + std::to_string(::getpid()));
    fs::create_directories(root_ / "machine");
    std::ofstream(root_ / "machine" / "HKEY_LOCAL_MACHINE.reg")
        << "Slidomat registry hive 1\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvenit Slidomat]\n"
           "\"DisplayName\"=\"Tarvenit Slidomat\"\n";
    setenv("SLIDOMAT_MACHINE_REGISTRY_DIR", (root_ / "machine").c_str(), 1);
    setenv("SLIDOMAT_REGISTRY_DIR", (root_ / "user").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
  }
  ~TSandbox() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string File(const std::string& name) const { return (root_ / name).string(); }

private:
  fs::path root_;
};

// One gap between two ticks of the UI thread's timer, and where the job was.
struct TGap {
  double ms = 0;
  double atSeconds = 0;  // since Go
  int position = 0;
  int max = 0;
  std::string phase;
};

struct TJobRun {
  double seconds = -1;
  std::vector<TGap> gaps;  // every gap of the job, in order
};

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Runs one job through the Go button while the timer watches the UI thread.
TJobRun RunJob(sdm::TMainDlg& main) {
  TJobRun run;
  QElapsedTimer clock;
  bool watching = false;
  qint64 lastTick = 0;
  QTimer ticker;
  bool refused = false;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    sdm::TJobControl* job = main.Job();
    if (watching) {
      TGap g;
      g.ms = static_cast<double>(now - lastTick) / 1e6;
      g.atSeconds = static_cast<double>(now) / 1e9;
      g.position = job->ProgressPosition();
      g.max = job->ProgressMax();
      g.phase = job->StatusText();
      run.gaps.push_back(g);
    }
    lastTick = now;
    // The job ends with "Done !": closed as a user would, at once.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->objectName() == "ProcessSuccessDlg")
      static_cast<QDialog*>(modal)->done(QDialog::Accepted);
    else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      // A question or an error instead of the job: said, answered No, and
      // the run counts as failed.
      std::fprintf(stderr, "the window said: %s\n", box->text().toUtf8().constData());
      box->done(QMessageBox::No);
      refused = true;
    }
  });
  clock.start();
  ticker.start();
  // A tick or two before Go, so the first gap measured is Go's own.
  WaitFor([&] { return clock.elapsed() > 20; }, 1000);
  watching = true;
  const qint64 t0 = clock.nsecsElapsed();
  main.Form()->go_btn->click();
  const bool ended = WaitFor([&] { return refused || (main.Job() && !main.Job()->Running()); }, 600000);
  run.seconds = static_cast<double>(clock.nsecsElapsed() - t0) / 1e9;
  watching = false;
  ticker.stop();
  if (!ended || refused || !main.Job() || main.Job()->LastEnd() != sdm::TJobEnd::Finished) {
    std::fprintf(stderr, "the job did not finish: %s\n", main.Job() ? main.Job()->LastError().c_str() : "");
    run.seconds = -1;
  }
  return run;
}

void Report(const char* name, const std::vector<TJobRun>& runs) {
  for (const TJobRun& run : runs) {
    if (run.seconds < 0 || run.gaps.empty()) continue;
    std::vector<double> ms;
    for (const TGap& g : run.gaps) ms.push_back(g.ms);
    std::sort(ms.begin(), ms.end());
    const double p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    const auto over = [&](double limit) {
      return std::count_if(ms.begin(), ms.end(), [&](double v) { return v > limit; });
    };
    std::printf(
        "%s: job %.2f s, %zu ticks; longest stall %.1f ms, 99%% of gaps under %.1f ms, %ld over 16 ms, %ld over "
        "50 ms\n",
        name, run.seconds, ms.size(), ms.back(), p99, static_cast<long>(over(16)), static_cast<long>(over(50)));
    std::vector<TGap> longest = run.gaps;
    std::sort(longest.begin(), longest.end(), [](const TGap& a, const TGap& b) { return a.ms > b.ms; });
    for (size_t i = 0; i < std::min<size_t>(3, longest.size()); ++i)
      std::printf("    %6.1f ms at %6.2f s, frame %d of %d, \"%s\"\n", longest[i].ms, longest[i].atSeconds,
                  longest[i].position, longest[i].max, longest[i].phase.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 1;
  std::string only, keep;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc)
      only = argv[++i];
    else if (a == "--pictures" && i + 1 < argc)
      keep = argv[++i];
    else {
      std::fprintf(stderr, "usage: bench_ui_stall [--rounds N] [--pictures DIR] [--only avi|mp4]\n");
      return 2;
    }
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  TSandbox sandbox;
  // The AVI job's "xvid" and the MP4 job's H.264.
  setenv("SLIDOMAT_CODECS", "xvid,avc1", 1);
  const fs::path pictureDir = keep.empty() ? fs::path(sandbox.File("pictures")) : fs::path(keep);
  fs::create_directories(pictureDir);
  const std::vector<std::string> pictures = ReferencePictures(pictureDir);

  QApplication app(argc, argv);
  sdm::ApplyProgramLook(app);
  sdm::TProgramEnvironment env;
  env.ProgramPath = sdm::ProgramFilePath();
  sdm::TProgramWindows windows(env);
  sdm::TMainDlg& main = windows.Main();
  main.ShellOpener = [](const std::string&) { return true; };
  main.show();
  if (!WaitFor([&] { return main.StartupDone(); }, 60000)) {
    std::fprintf(stderr, "the window did not start\n");
    return 1;
  }

  struct TJob {
    const char* name;
    const char* output;
    const char* resolution;
    int pictures;
  };
  const TJob jobs[] = {{"avi", "slideshow.avi", "720x576", kPictures}, {"mp4", "slideshow.mp4", "1920x1080", 3}};
  for (const TJob& j : jobs) {
    if (!only.empty() && only != j.name) continue;
    sdm::TSlideProject& project = main.Project();
    main.ClearPictures();
    std::vector<std::string> chosen(pictures.begin(), pictures.begin() + j.pictures);
    main.AddFiles(chosen);
    for (int i = 0; i < j.pictures; ++i) project.SetCaption(i, CaptionOf(i));
    project.SetOutputPath(sandbox.File(j.output));
    project.SetResolution(j.resolution);
    project.SetDynamic(false);
    project.SetFramesPerSecond(kFps);
    project.SetMsPerPicture(3000);
    project.SetCrossFade(true);
    project.SetOsd(true);
    main.SyncFromProject();
    std::printf("%s: %d pictures at %s, %s\n", j.name, j.pictures, j.resolution, project.CodecEntry().c_str());
    std::fflush(stdout);
    std::vector<TJobRun> runs;
    for (int r = 0; r < rounds; ++r) {
      std::error_code ec;
      fs::remove(sandbox.File(j.output), ec);  // no question about the last round's video
      runs.push_back(RunJob(main));
    }
    Report(j.name, runs);
    std::fflush(stdout);
  }
  main.close();
  return 0;
}
