#pragma once
// TFrameServer: the frames of a slideshow, one at a time, by frame index. It
// owns the timeline (pictures, with cross-fade frames added between them), a
// one-picture cache, the pan of "dynamic pictures" and the order of the frame
// operations: loading and fitting, colour effects, cross-fade, on-video text.
//
// A server is used by one thread at a time. It subscribes to its picture list
// so that a change to the list makes the next frame reload its picture. A
// job's server may load the next picture ahead on a helper thread of its own
// (LoadAhead) while the frames of the current one are drawn and compressed.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "frames/Bitmap32.h"
#include "frames/FrameOptions.h"
#include "frames/U_Fader.h"
#include "platform/text/Font.h"
#include "support/StringList.h"

namespace sdm {

class TImageFile;
class TPictureLoader;

// The on-video text: a darkened strip along the bottom of the frame and white
// text drawn on it, smoothed by rendering the text at twice its size without
// smoothing and reducing each 2 × 2 block to one of five opacities.
class TOsdText {
public:
  // The face standing in for the classic 8-pixel-wide dialog font, and its
  // size for the double-size rendering (a 16-pixel character height on video).
  static constexpr const char* FontFamily = "DejaVu Sans";
  static constexpr int ScratchPixelHeight = 32;

  TOsdText();  // throws std::runtime_error when the font is missing

  // First row of the strip: min(floor(H × 0.93), H − 28), never above the frame.
  static int StripTop(int height);
  // Every pixel of the strip's rows gets each colour byte × 0.6, rounded to
  // nearest (ties to even), and alpha 255.
  static void DarkenStrip(TBitmap32& bitmap);
  // Blends the text in white over the bitmap with its top-left corner at
  // (x, y), clipped to the bitmap. An empty text draws nothing.
  void Draw(TBitmap32& bitmap, int x, int y, const std::string& text);
  // The opacities of a text: (scratch width div 2) × (scratch height div 2)
  // values, each 0, 63, 127, 191 or 255.
  const TGrayCanvas& Opacity(const std::string& text);

  const TFont& Font() const { return font_; }

private:
  struct TCached {
    std::string text;
    TGrayCanvas opacity;
  };

  TFont font_;
  TGrayCanvas scratch_;
  // The number and the caption stay the same for all frames of a picture, so
  // the last few texts keep their reduced images.
  std::vector<TCached> cache_;
  size_t nextSlot_ = 0;
};

// Where the time of GetFrame goes, for the benchmark and for tests of the
// one-picture cache (Loads counts pictures decoded).
struct TFrameServerStats {
  int Loads = 0;
  int Transitions = 0;  // pairs of end views rendered
  double DecodeSeconds = 0;
  double FitSeconds = 0;
  double EffectSeconds = 0;  // greyscale and sepia
  double WindowSeconds = 0;  // copying the frame window out of the picture
  double BlendSeconds = 0;
  double TextSeconds = 0;
};

class TFrameServer {
public:
  static constexpr int ThumbnailWidth = 100;
  static constexpr int ThumbnailHeight = 75;

  // Neither list is owned; both must outlive the server. captions may be null
  // (the caption is then the picture's file name). Throws std::invalid_argument
  // for fewer than 1 frame per picture, a frame side below 1, or a frame
  // (enlarged for dynamic pictures) beyond kMaxPicturePixels.
  // Of the options, Single Frame does not concern the server: the caller has
  // made framesPerPicture 1 for it.
  TFrameServer(TStringList& pictures, const TStringList* captions, int framesPerPicture, int frameHeight,
               int frameWidth, const TFrameOptions& options);
  ~TFrameServer();
  TFrameServer(const TFrameServer&) = delete;
  TFrameServer& operator=(const TFrameServer&) = delete;

  // The main window's thumbnail server: 100 × 75, one frame per picture, no
  // effects, its pictures decoded no larger than needed to cover 100 × 75.
  static std::unique_ptr<TFrameServer> CreateThumbnailServer(TStringList& pictures, const TStringList* captions);

  // N × FramesPerPicture + (N − 1) × FadeFrames for N pictures; zero or
  // negative for an empty list, when no frame may be requested.
  int FrameCount() const;
  // The frames of each cross-fade: (framesPerPicture div 20) × 6 with
  // cross-fades on, else none; and the frames of a slideshow of n pictures,
  // both as a server built with these values makes them.
  static int FadeFramesFor(int framesPerPicture, bool crossFade);
  static int64_t FrameCountFor(int64_t pictures, int framesPerPicture, bool crossFade);
  // The frames of a slideshow not made yet, as an int (the job's count).
  static int CountFrames(int pictures, int framesPerPicture, bool crossFade);

  // Draws frame i (0 <= i < FrameCount) into bitmap, resized to the frame
  // size. A picture that cannot be loaded makes this throw the loader's error;
  // the server then holds no picture and renders the next request cleanly.
  void GetFrame(TBitmap32& bitmap, int i);

  // True when frame i shows exactly the pixels of the frame GetFrame drew
  // last, and that was frame i − 1: a still picture between its fades (no
  // pan, or a pan too slow to move the window this frame) under the same
  // text. A caller that kept the bitmap of frame i − 1 has frame i in it
  // already and need not ask for it.
  bool FrameRepeats(int i) const;
  // Takes frame i as drawn when FrameRepeats(i) holds, for a caller that
  // keeps the bitmap of the frame before and hands it on again: then the
  // frame after it may repeat it in turn. Returns whether it did; otherwise
  // nothing changes and frame i is to be drawn.
  bool RepeatFrame(int i);

  // The picture list changed: the next frame reloads its picture.
  void PicturesChanged();

  // A job's server loads one picture after another: keeping the memory a
  // picture was decoded into for the next one saves mapping and faulting in
  // some 48 MB per 12-megapixel photo. Off by default, so that a long-lived
  // server (the thumbnails) holds no more than its small pictures.
  void KeepPictureStorage(bool keep);

  // A job's server asks for picture p + 1 as soon as picture p is loaded: a
  // helper thread decodes, fits and colours it while the frames of p are
  // drawn, and the first frame that needs it takes it ready. Nothing else
  // changes: the same pixels, a picture loaded when its first frame is made
  // as far as anyone can tell (its notes are told then, a change to the list
  // in between makes it load again, a picture that failed ahead is loaded
  // again then and fails, or not, as it would have), and at most two pictures
  // held, the current and the next. The helper keeps the memory it decodes
  // into from picture to picture. Off by default; for frames asked for in
  // order (a picture asked for out of turn is loaded then, as without).
  void LoadAhead(bool on);
  bool LoadsAhead() const { return loader_ != nullptr; }
  // Waits until the picture asked for ahead, if any, is loaded (tests).
  void WaitForLoadAhead();

  // The strip and, when a picture is loaded, its number and caption.
  void DrawOsd(TBitmap32& bitmap);

  int FramesPerPicture() const { return framesPerPicture_; }
  int FadeFrames() const { return fadeFrames_; }
  int FrameWidth() const { return frameWidth_; }
  int FrameHeight() const { return frameHeight_; }
  const TFrameOptions& Options() const { return options_; }
  double StepX() const { return stepX_; }
  double StepY() const { return stepY_; }
  int LoadedIndex() const { return loadedIndex_; }
  int FadeIndex() const { return fadeIndex_; }
  const TFrameServerStats& Stats() const { return stats_; }

  // Origin (left, top) of the frame window of picture p at motion step s
  // inside its 4/3 enlargement; (0, 0) when Dynamic is off.
  void WindowOrigin(int p, int s, int& left, int& top) const;

private:
  void RenderPicture(int p, int s, TBitmap32& bitmap);
  void RenderTransition(int p, int k, TBitmap32& bitmap);
  void LoadPicture(int p);
  // A picture loaded, fitted into the size it is cut from and coloured;
  // storage (when given) is the memory to decode into, and gets it back.
  // Reads nothing that changes after construction, so the helper thread of
  // LoadAhead may call it while frames are drawn.
  std::unique_ptr<TImageFile> MakePicture(const std::string& path, TBitmap32* storage, TFrameServerStats& stats) const;
  void DrawOsdFor(TBitmap32& bitmap, int index);
  std::string CaptionOf(int index) const;

  TStringList& pictures_;
  const TStringList* captions_;
  TStringList::Token subscription_ = 0;
  int framesPerPicture_;
  int fadeFrames_;
  int frameHeight_;
  int frameWidth_;
  double stepY_ = 0;
  double stepX_ = 0;
  TFrameOptions options_;

  std::unique_ptr<TImageFile> picture_;
  bool thumbnails_ = false;  // pictures may be decoded reduced, no smaller than the frame
  bool keepStorage_ = false;
  TBitmap32 pictureStorage_;  // what the last picture was decoded into, when kept
  int loadedIndex_ = -1;
  // Counts the changes of the list: a picture loaded ahead before a change
  // is not taken after it.
  std::atomic<uint64_t> listGeneration_{0};
  std::unique_ptr<TPictureLoader> loader_;  // with LoadAhead only
  int fadeIndex_ = -1;
  int lastFrame_ = -1;  // the frame GetFrame drew last; -1 when none or after a change
  TBitmap32 fromFrame_;
  TBitmap32 toFrame_;
  TFramesFader fader_;
  std::unique_ptr<TOsdText> osdText_;  // opened at the first text drawn
  TFrameServerStats stats_;
};

}  // namespace sdm
