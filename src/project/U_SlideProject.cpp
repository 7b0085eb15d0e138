#include "project/U_SlideProject.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "avi/U_BmpToAvi.h"
#include "frames/PictureFormats.h"
#include "frames/U_FrameServer.h"
#include "frames/U_VideoMakerThd.h"
#include "support/U_SysUtils.h"
#include "support/UserInteraction.h"

namespace sdm {

const char* const TSlideProject::kBudgetMessage = "Visual options disabled due to incompatible temporal settings";
const char* const TSlideProject::kMatchAudioMessage =
    "Soundtrack too short or too many picture loaded. Using minimal picture duration.";

namespace {

// The whole text as a decimal integer (an optional sign, digits, nothing else).
bool ParseWholeInt(const std::string& text, int32_t& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;  // a leading plus is a valid integer too
  int32_t v = 0;
  auto [ptr, ec] = std::from_chars(first, last, v);
  if (first == last || ec != std::errc() || ptr != last) return false;
  value = v;
  return true;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

bool FolderExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

// Nearest integer, ties to even, kept inside [lo, hi] before it is narrowed so
// a huge soundtrack cannot overflow the 32-bit fields.
int64_t NearestClamped(double v, int64_t lo, int64_t hi) {
  if (std::isnan(v)) return lo;
  const double r = std::nearbyint(v);
  if (r <= static_cast<double>(lo)) return lo;
  if (r >= static_cast<double>(hi)) return hi;
  return static_cast<int64_t>(r);
}

}  // namespace

void ParseResolution(const std::string& text, int32_t& width, int32_t& height) {
  width = 640;
  height = 480;
  const size_t x = text.find('x');
  if (x == std::string::npos) return;
  ParseWholeInt(text.substr(0, x), width);
  ParseWholeInt(text.substr(x + 1), height);
}

std::string PictureFileName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsSupportedPictureName(const std::string& path) { return HasPictureExtension(path); }

TAddPictureResult CheckPicture(const std::string& path) {
  if (!FileExists(path)) return TAddPictureResult::NotFound;
  if (!IsSupportedPictureName(path)) return TAddPictureResult::NotSupported;
  return TAddPictureResult::Added;
}

const char* ScalingWord(TPictureScaling scaling) {
  switch (scaling) {
    case TPictureScaling::Sharp: return "sharp";
    case TPictureScaling::Smooth: return "smooth";
    default: return "auto";
  }
}

TPictureScaling ScalingFromWord(const std::string& word) {
  if (word == "sharp") return TPictureScaling::Sharp;
  if (word == "smooth") return TPictureScaling::Smooth;
  return TPictureScaling::Automatic;
}

TFitFilter ResolveScaling(TPictureScaling scaling, TOutputKind kind) {
  if (scaling == TPictureScaling::Automatic)
    return kind == TOutputKind::Mp4 || kind == TOutputKind::WebM ? TFitFilter::Smooth : TFitFilter::Sharp;
  return scaling == TPictureScaling::Smooth ? TFitFilter::Smooth : TFitFilter::Sharp;
}

const std::vector<std::string>& TSlideProject::Resolutions() {
  static const std::vector<std::string> list = {"320x240",  "640x480",   "720x480",  "720x576",
                                                "1280x720", "1920x1080", "3840x2160"};
  return list;
}

TSlideProject::TSlideProject() { ResetProject(); }

void TSlideProject::Show(const std::string& englishText) {
  IUserInteraction& ui = Interaction ? *Interaction : UserInteraction();
  ui.ShowMessage(Translator ? Translator(englishText) : englishText);
}

void TSlideProject::Logged(const std::string& message, int level) {
  if (Log) Log(message, level);
}

// ---------------------------------------------------------------- the lists
// Captions change first: a frame server hearing of a picture change then
// already finds the caption that belongs to it.

TAddPictureResult TSlideProject::AddPicture(const std::string& text) {
  const size_t tab = text.find('\t');
  const std::string path = tab == std::string::npos ? text : text.substr(0, tab);
  const std::string caption = tab == std::string::npos ? PictureFileName(path) : text.substr(tab + 1);
  const TAddPictureResult result = CheckPicture(path);
  if (result == TAddPictureResult::NotFound) Logged("File not found : " + path, 2);
  if (result == TAddPictureResult::NotSupported) Logged("File not supported : " + path, 2);
  if (result == TAddPictureResult::Added) AppendPicture(path, caption);
  return result;
}

void TSlideProject::AddFolder(const std::string& folder) {
  // The folder's files in name order, as a file manager lists them.
  std::vector<std::string> files;
  ListFiles(folder, files);
  for (const std::string& f : files) {
    if (IsSupportedPictureName(f))
      AppendPicture(f, PictureFileName(f));
    else
      Logged("File not supported : " + f, 2);
  }
}

void TSlideProject::AddFiles(const std::vector<std::string>& entries) {
  Logged("Files count : " + std::to_string(PictureCount()), 1);
  Logged(std::to_string(entries.size()) + " files to be added", 1);
  for (const std::string& e : entries) {
    // A folder given whole (dropped, or named to render) brings its pictures.
    if (e.find('\t') == std::string::npos && FolderExists(e))
      AddFolder(e);
    else
      AddPicture(e);
  }
  Logged("Files count : " + std::to_string(PictureCount()), 1);
}

void TSlideProject::AppendPicture(const std::string& path, const std::string& caption) {
  captions_.Add(caption);
  pictures_.Add(path);
}

void TSlideProject::InsertPicture(int index, const std::string& path, const std::string& caption) {
  if (index < 0 || index > PictureCount())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  captions_.Insert(index, caption);
  pictures_.Insert(index, path);
}

void TSlideProject::DeletePicture(int index) {
  if (index < 0 || index >= PictureCount())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  captions_.Delete(index);
  pictures_.Delete(index);
}

void TSlideProject::MovePicture(int from, int to) {
  if (from < 0 || from >= PictureCount() || to < 0 || to >= PictureCount())
    throw std::out_of_range("List index out of bounds (" +
                            std::to_string(from < 0 || from >= PictureCount() ? from : to) + ")");
  captions_.Move(from, to);
  pictures_.Move(from, to);
}

void TSlideProject::ExchangePictures(int a, int b) {
  if (a < 0 || a >= PictureCount() || b < 0 || b >= PictureCount())
    throw std::out_of_range("List index out of bounds (" + std::to_string(a < 0 || a >= PictureCount() ? a : b) + ")");
  captions_.Exchange(a, b);
  pictures_.Exchange(a, b);
}

void TSlideProject::ClearPictures() {
  captions_.Clear();
  pictures_.Clear();
  leftOut_.clear();
}

void TSlideProject::SetCaption(int index, const std::string& caption) { captions_.Put(index, caption); }

// ---------------------------------------------------------------- options

void TSlideProject::SetSoundtrack(const std::string& path, double durationDays) {
  soundPath_ = path;
  soundDuration_ = static_cast<int32_t>(NearestClamped(durationDays * 86400.0, 0, INT32_MAX));
  matchAudioEnabled_ = soundDuration_ > 0 && controlsEnabled_ && !options_.singleFrame;
}

void TSlideProject::ClearSoundtrack() {
  soundPath_.clear();
  soundDuration_ = 0;
  matchAudioEnabled_ = false;
}

void TSlideProject::SetMsPerPicture(int64_t ms) {
  msPerPicture_ = static_cast<int32_t>(std::clamp<int64_t>(ms, kMinMsPerPicture, kMaxMsPerPicture));
}

void TSlideProject::SetFramesPerSecond(int64_t fps) {
  framesPerSecond_ = static_cast<int32_t>(std::clamp<int64_t>(fps, kMinFramesPerSecond, kMaxFramesPerSecond));
}

void TSlideProject::SetResolution(const std::string& entry) {
  const auto& list = Resolutions();
  if (!entry.empty() && std::find(list.begin(), list.end(), entry) == list.end())
    throw std::invalid_argument("unknown resolution \"" + entry + "\"");
  resolution_ = entry;
}

void TSlideProject::SetFrameSize(int32_t width, int32_t height) {
  if (width < 2 || height < 2 || width > kMaxContainerWidth || height > kMaxContainerHeight || width % 2 || height % 2)
    throw std::invalid_argument("unsupported frame size " + std::to_string(width) + "x" + std::to_string(height));
  resolution_ = std::to_string(width) + "x" + std::to_string(height);
}

void TSlideProject::SetDynamic(bool on) {
  if (on == options_.dynamic) return;  // only a change moves the frame rate, like a check box click
  options_.dynamic = on;
  framesPerSecond_ = on ? 25 : 15;
}

void TSlideProject::ToggleGreyscale() {
  options_.greyscale = !options_.greyscale;
  if (options_.greyscale) options_.sepia = false;
}

void TSlideProject::ToggleSepia() {
  options_.sepia = !options_.sepia;
  if (options_.sepia) options_.greyscale = false;
}

void TSlideProject::SetEffects(bool greyscale, bool sepia) {
  options_.greyscale = greyscale;
  options_.sepia = sepia && !greyscale;
}

void TSlideProject::SetSingleFrame(bool on) {
  options_.singleFrame = on;
  // Leaving the mode unlocks Match audio even without a soundtrack, as the
  // Expert dialog always has.
  matchAudioEnabled_ = !on;
}

void TSlideProject::EnableControls(bool enabled) {
  controlsEnabled_ = enabled;
  matchAudioEnabled_ = enabled && soundDuration_ > 0;
  if (enabled) options_.singleFrame = false;
}

// ---------------------------------------------------------------- commands

void TSlideProject::MatchAudio() {
  const int n = PictureCount();
  if (n == 0) return;
  // The picture time is chosen by what a job really makes of it: whole frames
  // per picture, the cross-fades the frame rule gives that many frames (none
  // when the frame budget rule will switch them off), n - 1 fades between n
  // pictures, and the writer's empty leading samples. Every number of frames
  // per picture the spin range allows is tried, and the video nearest the
  // soundtrack wins; a factor such as 1.3 for the fades missed by seconds.
  const int32_t fps = std::max<int32_t>(framesPerSecond_, 1);
  // An AVI runs at whole milliseconds a frame (1000 div fps) and starts with
  // the writer's empty samples; an MP4 or WebM runs at the exact rate.
  const bool avi = OutputKind() != TOutputKind::Mp4 && OutputKind() != TOutputKind::WebM;
  const TFrameRate rate = avi ? TFrameRate{1000, 1000 / fps} : TFrameRate{fps, 1};
  const int64_t leading = avi ? TBmpToAvi::kEmptyLeadingSamples : 0;
  const int64_t target = static_cast<int64_t>(soundDuration_) * 1000;
  const int fewest = TVideoMakerThd::FramesPerPicture(kMinMsPerPicture, rate, false);
  const int most = TVideoMakerThd::FramesPerPicture(kMaxMsPerPicture, rate, false);
  int64_t bestMs = kMinMsPerPicture;
  int64_t bestMiss = INT64_MAX;
  for (int fpp = fewest; fpp <= most; ++fpp) {
    // The ends of the range stand for the shortest and longest time, so that
    // the message below still tells when the soundtrack is too short.
    // Between them, the time nearest fpp frames (which rounds back to fpp).
    const int64_t ms = fpp == fewest ? kMinMsPerPicture
                       : fpp == most ? kMaxMsPerPicture
                                     : (static_cast<int64_t>(fpp) * 1000 * rate.Den + rate.Num / 2) / rate.Num;
    const bool fades = options_.crossFade && fps * ms >= kMinFramesPerPicture * 1000;
    const int64_t frames = TFrameServer::FrameCountFor(n, fpp, fades) + leading;
    // Video length in milliseconds: frames × Den × 1000 / Num.
    const int64_t miss = std::llabs(frames * rate.Den * 1000 / rate.Num - target);
    if (miss < bestMiss) {
      bestMiss = miss;
      bestMs = ms;
    }
  }
  SetMsPerPicture(bestMs);
  if (msPerPicture_ == kMinMsPerPicture) Show(kMatchAudioMessage);
}

void TSlideProject::ResetProject() {
  ClearSoundtrack();
  ClearPictures();
  SetDynamic(false);
  options_.crossFade = true;
  options_.osd = true;
  outputPath_.clear();
  projectFile_.clear();
  msPerPicture_ = 3000;
  framesPerSecond_ = 15;
  options_.greyscale = false;
  options_.sepia = false;
  resolution_ = kDefaultResolution;
  EnableControls(true);
  Busy = false;
}

TJobSettings TSlideProject::MakeJobSettings() {
  TJobSettings job;
  job.MsPerPicture = msPerPicture_;
  job.FramesPerSecond = framesPerSecond_;
  job.FramePeriod = 1000 / std::max<int32_t>(1, job.FramesPerSecond);
  ParseResolution(resolution_, job.Width, job.Height);
  job.FourCC = FourCC();
  job.OutputPath = outputPath_;
  job.Kind = OutputKind();

  // Checked boxes count even in Single Frame mode; they stay unchecked after.
  const int64_t budget = static_cast<int64_t>(job.FramesPerSecond) * job.MsPerPicture;
  if (budget < kMinFramesPerPicture * 1000 && (options_.dynamic || options_.crossFade || options_.osd)) {
    SetDynamic(false);  // the control shows 15 fps now; the job keeps what it read
    options_.crossFade = false;
    options_.osd = false;
    Show(kBudgetMessage);
  }
  // Single Frame mode leaves the visual options checked but unused.
  job.Options = options_;
  if (options_.singleFrame) job.Options.dynamic = job.Options.crossFade = job.Options.osd = false;
  job.Options.fit = ResolveScaling(scaling_, job.Kind);
  job.Pictures = &pictures_;
  job.Captions = &captions_;
  return job;
}

}  // namespace sdm
