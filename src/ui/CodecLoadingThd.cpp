#include "ui/CodecLoadingThd.h"

#include "avi/U_BmpToAvi.h"

namespace sdm {

void TLoadThd::Execute() {
  Synchronize([this] { Avi->ListCodecs(*CodecItems); });
}

}  // namespace sdm
