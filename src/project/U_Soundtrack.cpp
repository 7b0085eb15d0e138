#include "project/U_Soundtrack.h"

#include <exception>
#include <vector>

#include "audio/SoundFileKind.h"
#include "audio/U_AudioFile.h"
#include "audio/filters/FormatFilter.h"
#include "project/U_SlideProject.h"

namespace sdm {

namespace {

// Opens the file and decodes its first samples; throws what is wrong with it.
// Returns false for a name of no known sound kind.
bool OpenAndTry(TAudioFile& audio, const std::string& path) {
  audio.SetFileName(path);
  if (!audio.HasKnownFormat()) return false;
  OpenSoundFile(audio, path);
  auto refuse = [&](const std::string& why) {
    throw EError("The sound file \"" + path + "\" cannot be read: " + why + " (it holds " + DescribeFileContent(path) +
                 ").");
  };
  // The MPEG reader takes any stray sync pattern for a frame: a file named
  // .mp3 whose frames do not lead one to the next is no MPEG audio.
  if (audio.Reader->GetFormatKind() == akMpeg && !HoldsMpegFrames(path))
    refuse("no MPEG audio frames follow one another in it");
  std::vector<uint8_t> block(16384);
  int32_t n = static_cast<int32_t>(block.size());
  try {
    audio.Filter->ReadPcm(block.data(), n);
  } catch (const std::exception& e) {
    refuse(e.what());
  }
  if (n <= 0 && audio.Reader->GetPcmSize() > 0) refuse("its first samples cannot be decoded");
  return true;
}

}  // namespace

bool OpenSoundtrack(TSlideProject& project, const std::string& path) {
  TAudioFile audio;
  // Closed on every way out, the reader's error included (the facade's
  // destructor frees the chain).
  if (!OpenAndTry(audio, path)) return false;
  // The play time from a fresh start: the trial read has moved the reader.
  audio.Close();
  audio.SetFileName(path);
  const double duration = audio.GetDuration();
  project.SetSoundtrack(path, duration);
  audio.Close();
  return true;
}

void CheckSoundtrack(const std::string& path) {
  TAudioFile audio;
  if (!OpenAndTry(audio, path))
    throw EError("The file \"" + path + "\" is not a sound file this program reads (it holds " +
                 DescribeFileContent(path) + ").");
}

bool IsSoundFileName(const std::string& path) { return FormatKindFromName(path) != akNone; }

std::string SoundFilePatterns() {
  return "*.mp3;*.mp2;*.mp1;*.wav;*.ogg;*.flac;*.wma;*.asf;*.ape;*.ac3;*.mpc;*.aac;*.m4a";
}

}  // namespace sdm
