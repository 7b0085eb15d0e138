#include "frames/U_VideoMakerThd.h"

#include <cfenv>
#include <cmath>

#include "avi/U_BmpToAvi.h"
#include "frames/U_BmpWriter.h"
#include "frames/U_FrameServer.h"
#include "support/Errors.h"

namespace sdm {

int TVideoMakerThd::FramesPerPicture(int32_t msPerPicture, int32_t framePeriod, bool singleFrame) {
  if (singleFrame) return 1;
  if (framePeriod <= 0) throw EError("Invalid frame period");
  // nearbyint follows the current rounding mode, which is to nearest with ties
  // to even unless someone changed it; say so explicitly.
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double n = std::nearbyint(static_cast<double>(msPerPicture) / static_cast<double>(framePeriod));
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
  const int fpp = FramesPerPicture(MsPerPicture, Avi->FramePeriod, Options.singleFrame);
  {
    TFrameServer server(*Pictures, Captions, fpp, Avi->Height, Avi->Width, Options);
    server.KeepPictureStorage(true);
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
        const bool repeat = server.FrameRepeats(i);
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
