// audio-info: what the audio library learns about a file, as the main window
// asks it when a soundtrack is picked.
#include <cmath>
#include <cstdio>
#include <iostream>

#include "Cli.h"
#include "audio/U_AudioFile.h"

namespace {

int RunAudioInfo(const sdm::cli::Args& args) {
  if (args.size() != 1) throw sdm::cli::UsageError{"expected one FILE"};
  sdm::TAudioFile audio;
  audio.SetFileName(args[0]);
  if (!audio.Open()) throw sdm::EError("Unknown audio file type: " + args[0]);
  double days = audio.GetDuration();
  sdm::TAbstractAudioFile& r = *audio.Reader;
  char duration[64];
  std::snprintf(duration, sizeof duration, "%.3f", days * 86400.0);
  // The main window's whole seconds: round to nearest, ties to even.
  auto seconds = static_cast<long long>(std::nearbyint(days * 86400.0));
  // The kind of the reader that read it: what the bytes are, when the name
  // says otherwise.
  std::cout << "kind: " << static_cast<int>(r.GetFormatKind()) << "\n"
            << "samplerate: " << r.GetSampleRate() << "\n"
            << "channels: " << r.GetChannels() << "\n"
            << "bits: " << r.GetBitsPerSample() << "\n"
            << "pcmsize: " << r.GetPcmSize() << "\n"
            << "duration: " << duration << "\n"
            << "seconds: " << seconds << "\n"
            << "tagkinds: " << r.TagKinds << "\n";
  for (const auto& line : r.Tags) std::cout << line << "\n";
  audio.Close();
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("audio-info", "audio-info FILE", "Prints an audio file's format, PCM size, play time and tags",
                RunAudioInfo,
                R"(  FILE   a sound file, known by its extension: WAV, MP3 (MPEG-1, 2, 2.5, Layer I,
         II, III), WMA/ASF, Ogg Vorbis, Monkey's Audio, AC-3, Musepack or FLAC

Prints one "name: value" a line: kind, samplerate, channels, bits, pcmsize
(bytes of PCM), duration (seconds, 3 decimals), seconds (the whole seconds the
window shows), tagkinds (1 ID3v1, 2 ID3v2, 4 APEv2, 8 Vorbis), then the tags.)");
