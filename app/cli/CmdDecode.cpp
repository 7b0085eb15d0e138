// decode: pulls a file's PCM through the audio library into a WAV file, either
// through the facade's chain (44100 Hz stereo 16-bit) or straight from the
// reader at its own format.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "Cli.h"
#include "audio/U_AudioFile.h"

namespace {

void PutLE(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string WavHeader(uint32_t rate, uint32_t channels, uint32_t bits, uint32_t dataBytes) {
  std::string h = "RIFF";
  PutLE(h, 36 + dataBytes, 4);
  h += "WAVEfmt ";
  PutLE(h, 16, 4);
  PutLE(h, 1, 2);
  PutLE(h, channels, 2);
  PutLE(h, rate, 4);
  PutLE(h, rate * channels * bits / 8, 4);
  PutLE(h, channels * bits / 8, 2);
  PutLE(h, bits, 2);
  h += "data";
  PutLE(h, dataBytes, 4);
  return h;
}

int RunDecode(const sdm::cli::Args& args) {
  std::vector<std::string> positional;
  bool native = false;
  for (const auto& a : args) {
    if (a == "--native")
      native = true;
    else if (a.size() > 2 && a.compare(0, 2, "--") == 0)
      throw sdm::cli::UsageError{"unknown option \"" + a + "\""};
    else
      positional.push_back(a);
  }
  if (positional.size() != 2) throw sdm::cli::UsageError{"expected FILE and OUT.wav"};
  sdm::cli::CheckOutputPath(positional[1], {positional[0]});
  sdm::TAudioFile audio;
  audio.SetFileName(positional[0]);
  if (!audio.Open()) throw sdm::EError("Unknown audio file type: " + positional[0]);
  sdm::TAbstractAudioFile* src = native ? audio.Reader.get() : audio.Output();
  const int64_t total = src->GetPcmSize();
  // A RIFF file holds at most 4 GiB of samples.
  const int64_t limit = total > 0 ? std::min<int64_t>(total, 0xFFFFFFFFLL - 36) : 0xFFFFFFFFLL - 36;
  std::string pcm;
  std::vector<uint8_t> buf(65536);
  while (static_cast<int64_t>(pcm.size()) < limit) {
    int32_t n = static_cast<int32_t>(
        std::min<int64_t>(static_cast<int64_t>(buf.size()), limit - static_cast<int64_t>(pcm.size())));
    bool more = src->ReadPcm(buf.data(), n);
    if (n > 0) pcm.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
    if (!more || n <= 0) break;
  }
  errno = 0;
  std::ofstream out(positional[1], std::ios::binary | std::ios::trunc);
  out << WavHeader(src->GetSampleRate(), src->GetChannels(), src->GetBitsPerSample(), static_cast<uint32_t>(pcm.size()))
      << pcm;
  out.close();
  if (!out) throw sdm::EError("Cannot write " + positional[1] + ": " + std::strerror(errno != 0 ? errno : EIO));
  std::cout << "Wrote " << positional[1] << " (" << pcm.size() << " bytes of PCM, " << src->GetSampleRate() << " Hz, "
            << src->GetChannels() << " channels, " << src->GetBitsPerSample() << " bits)\n";
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("decode", "decode FILE OUT.wav [--native]",
                "Decodes an audio file through the library's chain (or its reader) into a WAV file", RunDecode,
                R"(  FILE       a sound file of a format audio-info knows
  OUT.wav    the WAV file to write (never one of the inputs)
  --native   the reader's own rate, channels and bits instead of the chain's
             44100 Hz stereo 16-bit)");
