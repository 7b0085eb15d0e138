#include "frames/U_FrameServer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "frames/PictureNotes.h"
#include "frames/U_ImageFile.h"
#include "support/Errors.h"

#define SDM_UNIT "U_FrameServer"

namespace sdm {

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

int Nearest(double x) { return static_cast<int>(std::nearbyint(x)); }

[[noreturn]] void ListIndexError(int index) {
  throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

}  // namespace

// ---------------------------------------------------------------------------
// On-video text

TOsdText::TOsdText() : font_(FontFamily, ScratchPixelHeight) {}

int TOsdText::StripTop(int height) {
  const int y0 = std::min(static_cast<int>(std::floor(height * 0.93)), height - 28);
  return std::max(y0, 0);
}

void TOsdText::DarkenStrip(TBitmap32& bitmap) {
  static const auto kDark = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = static_cast<uint8_t>(Nearest(c * 0.6));
    return t;
  }();
  for (int y = StripTop(bitmap.Height()); y < bitmap.Height(); ++y) {
    TColor32* row = bitmap.Row(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      const TColor32 c = row[x];
      row[x] = Color32(kDark[RedOf(c)], kDark[GreenOf(c)], kDark[BlueOf(c)], 255);
    }
  }
}

const TGrayCanvas& TOsdText::Opacity(const std::string& text) {
  for (const auto& c : cache_)
    if (c.text == text) return c.opacity;

  // The scratch is measured with a space appended and 2 pixels added each
  // way, which leaves room for glyphs that overhang their advance.
  const TTextSize extent = font_.TextExtent(text + " ");
  scratch_.SetSize(extent.cx + 2, extent.cy + 2);
  font_.TextOut(scratch_, 0, 0, text, 255);

  TGrayCanvas opacity(scratch_.Width() / 2, scratch_.Height() / 2);
  for (int y = 0; y < opacity.Height(); ++y) {
    const uint8_t* r0 = scratch_.Row(2 * y);
    const uint8_t* r1 = scratch_.Row(2 * y + 1);
    for (int x = 0; x < opacity.Width(); ++x) {
      const int sum = r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1];
      opacity.SetPixel(x, y, static_cast<uint8_t>(sum / 4));
    }
  }

  constexpr size_t kSlots = 4;
  if (cache_.size() < kSlots) {
    cache_.push_back({text, std::move(opacity)});
    return cache_.back().opacity;
  }
  TCached& slot = cache_[nextSlot_];
  nextSlot_ = (nextSlot_ + 1) % kSlots;
  slot = {text, std::move(opacity)};
  return slot.opacity;
}

void TOsdText::Draw(TBitmap32& bitmap, int x, int y, const std::string& text) {
  if (text.empty()) return;
  const TGrayCanvas& opacity = Opacity(text);
  for (int j = 0; j < opacity.Height(); ++j) {
    const int fy = y + j;
    if (fy < 0 || fy >= bitmap.Height()) continue;
    TColor32* row = bitmap.Row(fy);
    const uint8_t* a = opacity.Row(j);
    for (int i = 0; i < opacity.Width(); ++i) {
      const int fx = x + i;
      const int alpha = a[i];
      if (alpha == 0 || fx < 0 || fx >= bitmap.Width()) continue;
      const TColor32 c = row[fx];
      const auto mix = [alpha](int v) { return static_cast<uint8_t>(alpha + Nearest((255.0 - alpha) * v / 255.0)); };
      row[fx] = Color32(mix(RedOf(c)), mix(GreenOf(c)), mix(BlueOf(c)), AlphaOf(c));
    }
  }
}

// ---------------------------------------------------------------------------
// Loading ahead

// One picture asked for: which entry of the list, the path it had then, and
// how many changes the list had seen.
struct TPictureRequest {
  int index = -1;
  std::string path;
  uint64_t generation = 0;
  bool operator==(const TPictureRequest&) const = default;
};

// What a load gave: the picture or the error, what the readers noted on the
// way, and where the time went.
struct TLoadedPicture {
  TPictureRequest request;
  std::unique_ptr<TImageFile> picture;
  std::exception_ptr error;
  std::vector<std::pair<std::string, int>> notes;
  TFrameServerStats stats;
};

// The helper thread of a server that loads ahead: one request at a time, one
// result held until it is taken. A request made while another is being
// loaded replaces it; the other's result is dropped when it is done.
class TPictureLoader {
public:
  using TLoad =
      std::function<std::unique_ptr<TImageFile>(const std::string& path, TBitmap32* storage, TFrameServerStats& stats)>;

  explicit TPictureLoader(TLoad load) : load_(std::move(load)), thread_([this] { Run(); }) {}

  // Waits for a load under way (a decode cannot be stopped half-way).
  ~TPictureLoader() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  TPictureLoader(const TPictureLoader&) = delete;
  TPictureLoader& operator=(const TPictureLoader&) = delete;

  void Request(TPictureRequest request) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (wanted_ == request && (pending_ || loading_ || ready_)) return;
      wanted_ = std::move(request);
      pending_ = true;
      ready_.reset();  // whatever was loaded for another request goes now
    }
    wake_.notify_all();
  }

  // The result of the request, waited for; null when that is not the request
  // made last (nothing was asked for it, or something else since).
  std::unique_ptr<TLoadedPicture> Take(const TPictureRequest& request) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!(wanted_ == request) || (!pending_ && !loading_ && !ready_)) return nullptr;
    done_.wait(lock, [&] { return ready_ != nullptr; });
    auto result = std::move(ready_);
    wanted_ = TPictureRequest{};
    return result;
  }

  // Waits until nothing is asked for or being loaded.
  void WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return !pending_ && !loading_; });
  }

private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || pending_; });
      if (stop_) return;
      auto result = std::make_unique<TLoadedPicture>();
      result->request = wanted_;
      pending_ = false;
      loading_ = true;
      lock.unlock();
      {
        TPictureNoteCapture capture;
        try {
          result->picture = load_(result->request.path, &storage_, result->stats);
        } catch (...) {
          result->picture.reset();
          result->error = std::current_exception();
        }
        result->notes = std::move(capture.Notes);
      }
      lock.lock();
      loading_ = false;
      done_.notify_all();
      // A result nobody waits for any more is dropped with its picture.
      if (!pending_ && result->request == wanted_) {
        ready_ = std::move(result);
      } else {
        lock.unlock();
        result.reset();
        lock.lock();
      }
    }
  }

  TLoad load_;
  TBitmap32 storage_;  // what the last picture was decoded into; this thread only
  std::mutex mutex_;
  std::condition_variable wake_;  // the helper waits here for a request
  std::condition_variable done_;  // Take waits here for its result
  TPictureRequest wanted_;        // the request made last
  bool pending_ = false;          // wanted_ not started yet
  bool loading_ = false;          // a load under way (of wanted_, or of one replaced since)
  std::unique_ptr<TLoadedPicture> ready_;
  bool stop_ = false;
  std::thread thread_;  // last: it starts once everything above is in place
};

namespace {

void AddStats(TFrameServerStats& to, const TFrameServerStats& from) {
  to.DecodeSeconds += from.DecodeSeconds;
  to.FitSeconds += from.FitSeconds;
  to.EffectSeconds += from.EffectSeconds;
}

}  // namespace

// ---------------------------------------------------------------------------
// Frame server

TFrameServer::TFrameServer(TStringList& pictures, const TStringList* captions, int framesPerPicture, int frameHeight,
                           int frameWidth, const TFrameOptions& options)
    : pictures_(pictures),
      captions_(captions),
      framesPerPicture_(framesPerPicture),
      fadeFrames_(FadeFramesFor(framesPerPicture, options.crossFade)),
      frameHeight_(frameHeight),
      frameWidth_(frameWidth),
      options_(options),
      fader_(fromFrame_, toFrame_, fadeFrames_) {
  if (framesPerPicture < 1) throw std::invalid_argument("Frames per picture must be at least 1");
  if (frameHeight < 1 || frameWidth < 1) throw std::invalid_argument("Frame size must be at least 1 x 1");
  // The loaded picture is as large as the frame, or 16/9 of it for dynamic
  // pictures; keep that within what a picture may be.
  const int64_t side = options.dynamic ? 4 : 3;
  if ((side * frameWidth / 3) * (side * frameHeight / 3) > kMaxPicturePixels)
    throw std::invalid_argument("Frame size too large (" + std::to_string(frameWidth) + " x " +
                                std::to_string(frameHeight) +
                                (options.dynamic ? ", enlarged by 4/3 for dynamic pictures)" : ")"));
  if (framesPerPicture >= 2) {
    stepY_ = frameHeight / 4.0 / (framesPerPicture - 1);
    stepX_ = frameWidth / 4.0 / (framesPerPicture - 1);
  }
  subscription_ = pictures_.Subscribe([this] { PicturesChanged(); });
}

TFrameServer::~TFrameServer() {
  pictures_.Unsubscribe(subscription_);
  // The helper loads with this server's settings: it goes first.
  loader_.reset();
}

std::unique_ptr<TFrameServer> TFrameServer::CreateThumbnailServer(TStringList& pictures, const TStringList* captions) {
  auto server = std::make_unique<TFrameServer>(pictures, captions, 1, ThumbnailHeight, ThumbnailWidth, TFrameOptions{});
  // Its pictures are only ever shown this small: a camera's JPEG is decoded
  // at an eighth of its size, or taken from its EXIF preview.
  server->thumbnails_ = true;
  return server;
}

int TFrameServer::FadeFramesFor(int framesPerPicture, bool crossFade) {
  return crossFade && framesPerPicture > 0 ? (framesPerPicture / 20) * 6 : 0;
}

int64_t TFrameServer::FrameCountFor(int64_t pictures, int framesPerPicture, bool crossFade) {
  return pictures * framesPerPicture + (pictures - 1) * FadeFramesFor(framesPerPicture, crossFade);
}

int TFrameServer::CountFrames(int pictures, int framesPerPicture, bool crossFade) {
  const int64_t count = FrameCountFor(pictures, framesPerPicture, crossFade);
  if (count > INT_MAX) throw EError("The slideshow has too many frames");
  return static_cast<int>(count);
}

int TFrameServer::FrameCount() const { return CountFrames(pictures_.Count(), framesPerPicture_, fadeFrames_ > 0); }

void TFrameServer::KeepPictureStorage(bool keep) {
  keepStorage_ = keep;
  if (!keep) pictureStorage_ = TBitmap32();
}

void TFrameServer::LoadAhead(bool on) {
  if (!on) {
    loader_.reset();
    return;
  }
  if (loader_) return;
  loader_ =
      std::make_unique<TPictureLoader>([this](const std::string& path, TBitmap32* storage, TFrameServerStats& stats) {
        return MakePicture(path, storage, stats);
      });
}

void TFrameServer::WaitForLoadAhead() {
  if (loader_) loader_->WaitIdle();
}

void TFrameServer::PicturesChanged() {
  ++listGeneration_;
  loadedIndex_ = -1;
  lastFrame_ = -1;
  // The held end views may show pictures that are no longer at their index;
  // rendering them again on the next fade frame costs little.
  fadeIndex_ = -1;
}

bool TFrameServer::FrameRepeats(int i) const {
  if (i <= 0 || i != lastFrame_ + 1 || i >= FrameCount()) return false;
  const int period = framesPerPicture_ + fadeFrames_;
  const int p = i / period;
  const int r = i % period;
  // Frame i − 1 was the step before on the same picture, which is still the
  // one loaded; the text is that picture's either way.
  if (r == 0 || r >= framesPerPicture_ || loadedIndex_ != p) return false;
  int left = 0, top = 0, prevLeft = 0, prevTop = 0;
  WindowOrigin(p, r, left, top);
  WindowOrigin(p, r - 1, prevLeft, prevTop);
  return left == prevLeft && top == prevTop;
}

bool TFrameServer::RepeatFrame(int i) {
  if (!FrameRepeats(i)) return false;
  lastFrame_ = i;
  return true;
}

void TFrameServer::GetFrame(TBitmap32& bitmap, int i) {
  if (i < 0 || i >= FrameCount()) throw std::out_of_range("Frame index " + std::to_string(i) + " out of range");
  lastFrame_ = -1;  // until this frame is drawn whole
  const int period = framesPerPicture_ + fadeFrames_;
  const int p = i / period;
  const int r = i % period;
  int shown = p;
  if (r < framesPerPicture_) {
    RenderPicture(p, r, bitmap);
  } else {
    RenderTransition(p, r - framesPerPicture_, bitmap);
    // Fade frames already carry the incoming picture's text.
    shown = p + 1;
  }
  if (options_.osd) DrawOsdFor(bitmap, shown);
  lastFrame_ = i;
}

std::unique_ptr<TImageFile> TFrameServer::MakePicture(const std::string& path, TBitmap32* storage,
                                                      TFrameServerStats& stats) const {
  int width = frameWidth_;
  int height = frameHeight_;
  if (options_.dynamic) {
    width = (4 * frameWidth_) / 3;
    height = (4 * frameHeight_) / 3;
  }
  auto start = TClock::now();
  auto picture = storage ? std::make_unique<TImageFile>(path, TFitSize{width, height, thumbnails_}, std::move(*storage))
                         : std::make_unique<TImageFile>(path, TFitSize{width, height, thumbnails_});
  stats.DecodeSeconds += SecondsSince(start);
  start = TClock::now();
  picture->Fit(width, height, storage, options_.fit);
  stats.FitSeconds += SecondsSince(start);
  start = TClock::now();
  if (options_.greyscale) picture->Greyscale();
  if (options_.sepia) picture->Sepia();  // on the already grey pixels when both are set
  stats.EffectSeconds += SecondsSince(start);
  SDM_ASSERT(picture->Width() == width && picture->Height() == height, "Fitted picture has the wrong size");
  return picture;
}

void TFrameServer::LoadPicture(int p) {
  if (p == loadedIndex_) return;
  picture_.reset();
  loadedIndex_ = -1;
  if (p < 0 || p >= pictures_.Count()) ListIndexError(p);

  if (!loader_) {
    picture_ = MakePicture(pictures_[p], keepStorage_ ? &pictureStorage_ : nullptr, stats_);
  } else {
    // The picture asked for ahead, if it is still the one at p; else (asked
    // for out of turn, the list changed, or it failed ahead) it is loaded
    // now, and this frame waits for it as it would have for its own load.
    const TPictureRequest request{p, pictures_[p], listGeneration_.load()};
    std::unique_ptr<TLoadedPicture> loaded = loader_->Take(request);
    if (!loaded || loaded->error) {
      loader_->Request(request);
      loaded = loader_->Take(request);
      SDM_ASSERT(loaded != nullptr, "The picture loader lost a request");
    }
    AddStats(stats_, loaded->stats);
    TellPictureNotes(loaded->notes);
    if (loaded->error) std::rethrow_exception(loaded->error);
    picture_ = std::move(loaded->picture);
  }
  loadedIndex_ = p;
  ++stats_.Loads;
  // The next picture, while this one's frames are drawn.
  if (loader_ && p + 1 < pictures_.Count()) loader_->Request({p + 1, pictures_[p + 1], listGeneration_.load()});
}

void TFrameServer::WindowOrigin(int p, int s, int& left, int& top) const {
  left = top = 0;
  if (!options_.dynamic) return;
  const int u = s;
  const int v = framesPerPicture_ - 1 - s;
  // The pan direction follows the position in the list, four directions in turn.
  switch (p % 4) {
    case 0:
      left = Nearest(u * stepX_);
      top = Nearest(u * stepY_);
      break;  // top-left to lower right
    case 1:
      left = Nearest(u * stepX_);
      top = Nearest(v * stepY_);
      break;  // lower left to upper right
    case 2:
      left = Nearest(v * stepX_);
      top = Nearest(v * stepY_);
      break;  // lower right to top-left
    default:
      left = Nearest(v * stepX_);
      top = Nearest(u * stepY_);
      break;  // upper right to lower left
  }
}

void TFrameServer::RenderPicture(int p, int s, TBitmap32& bitmap) {
  LoadPicture(p);
  int left = 0;
  int top = 0;
  WindowOrigin(p, s, left, top);
  SDM_ASSERT(
      left >= 0 && top >= 0 && left + frameWidth_ <= picture_->Width() && top + frameHeight_ <= picture_->Height(),
      "Frame window outside the picture");
  const auto start = TClock::now();
  picture_->CopyWindow(top, left, frameHeight_, frameWidth_, bitmap);
  stats_.WindowSeconds += SecondsSince(start);
}

void TFrameServer::RenderTransition(int p, int k, TBitmap32& bitmap) {
  if (p != fadeIndex_) {
    // Forget the held views first: if a picture fails to load, half-redrawn
    // views must not pass for the old transition on a later request.
    fadeIndex_ = -1;
    RenderPicture(p, framesPerPicture_ - 1, fromFrame_);  // where the outgoing picture's motion ended
    RenderPicture(p + 1, 0, toFrame_);                    // where the incoming one's begins
    fadeIndex_ = p;
    ++stats_.Transitions;
  }
  const auto start = TClock::now();
  fader_.Blend(k, bitmap);
  stats_.BlendSeconds += SecondsSince(start);
}

std::string TFrameServer::CaptionOf(int index) const {
  if (captions_) {
    if (index < 0 || index >= captions_->Count()) ListIndexError(index);
    return (*captions_)[index];
  }
  if (index < 0 || index >= pictures_.Count()) ListIndexError(index);
  const std::string& path = pictures_[index];
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void TFrameServer::DrawOsd(TBitmap32& bitmap) { DrawOsdFor(bitmap, loadedIndex_); }

void TFrameServer::DrawOsdFor(TBitmap32& bitmap, int index) {
  const auto start = TClock::now();
  TOsdText::DarkenStrip(bitmap);
  if (index >= 0) {
    if (!osdText_) osdText_ = std::make_unique<TOsdText>();
    char number[64];
    std::snprintf(number, sizeof number, "Picture : %d / %d", index + 1, pictures_.Count());
    const int y = bitmap.Height() - 20;
    osdText_->Draw(bitmap, 10, y, number);
    osdText_->Draw(bitmap, bitmap.Width() / 2 - 50, y, CaptionOf(index));
  }
  stats_.TextSeconds += SecondsSince(start);
}

}  // namespace sdm
