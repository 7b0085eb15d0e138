#include "frames/U_VideoMakerThd.h"

#include <cfenv>
#include <cmath>

#include "frames/U_BmpWriter.h"
#include "frames/U_FrameServer.h"
#include "support/Errors.h"

namespace sdm {

int TVideoMakerThd::FramesPerPicture(int32_t msPerPicture, int32_t framePeriod, bool singleFrame) {
  return FramesPerPicture(msPerPicture, TFrameRate{1000, framePeriod}, singleFrame);
}

int TVideoMakerThd::FramesPerPicture(int32_t msPerPicture, TFrameRate rate, bool singleFrame) {
  if (singleFrame) return 1;
  if (rate.Num <= 0 || rate.Den <= 0) throw EError("Invalid frame period");
  // Both products are whole numbers a double holds exactly, so the quotient
  // is the correctly rounded value of msPerPicture × Num / (1000 × Den): for
  // Num = 1000 the same double as msPerPicture / Den.
  const double ms = static_cast<double>(msPerPicture) * rate.Num;
  const double per = 1000.0 * rate.Den;
  // nearbyint follows the current rounding mode, which is to nearest with ties
  // to even unless someone changed it; say so explicitly.
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double n = std::nearbyint(ms / per);
  std::fesetround(saved);
  if (n < 1) return 1;
  if (n > 2147483647.0) throw EError("Invalid frame period");
  return static_cast<int>(n);
}

void TVideoMakerThd::UpdateProgress() {
  if (OnUpdateProgress) Synchronize([this] { OnUpdateProgress(*this); });
}

void TVideoMakerThd::Execute() {
  if (!Avi || !Pictures) throw EError("The video maker has no writer or no picture list");
  const int fpp = FramesPerPicture(MsPerPicture, Avi->FrameRate(), Options.singleFrame);
  {
    TFrameServer server(*Pictures, Captions, fpp, Avi->FrameHeight(), Avi->FrameWidth(), Options);
    server.KeepPictureStorage(true);
    // The next picture is decoded on a second core while this one's frames
    // are drawn and compressed.
    server.LoadAhead(true);
    Position = 0;
    Total = server.FrameCount();
    UpdateProgress();
    Aborted = false;

    TBitmap32 frame;
    Preview = std::make_unique<TDib24>();
    try {
      for (int i = 0; i < Total; ++i) {
        if (Terminated()) break;
        // Most frames of a slideshow repeat the one before (a still picture
        // between fades): the frame and its 24-bit form are still here, and
        // the writer is told so, so that nothing is drawn or converted twice.
        // A repeat counts as drawn, so the frame after it may repeat too.
        const bool repeat = server.RepeatFrame(i);
        if (!repeat) {
          server.GetFrame(frame, i);
          Bitmap32ToDib24(frame, *Preview);
        }
        Avi->AddFrame(*Preview, repeat);
        Position = i;
        UpdateProgress();
      }
    } catch (...) {
      // The frames go whatever happens; the writer stays as the error left it.
      Preview.reset();
      throw;
    }
    Preview.reset();
  }
  Avi->Close();
  Aborted = Terminated();
  Position = 0;
  UpdateProgress();
}

}  // namespace sdm
