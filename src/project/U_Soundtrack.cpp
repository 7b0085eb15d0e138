#include "project/U_Soundtrack.h"

#include "audio/U_AudioFile.h"
#include "project/U_SlideProject.h"

namespace sdm {

bool OpenSoundtrack(TSlideProject& project, const std::string& path) {
  TAudioFile audio;
  audio.SetFileName(path);
  // Closed on every way out, the reader's error included (the facade's
  // destructor frees the chain).
  if (!audio.Open()) return false;
  project.SetSoundtrack(path, audio.GetDuration());
  audio.Close();
  return true;
}

}  // namespace sdm
