// decode: pulls a file's PCM through the audio library into a WAV file, either
// through the facade's chain (44100 Hz stereo 16-bit) or straight from the
// reader at its own format. The samples go to the file as they are decoded,
// so memory stays flat whatever the length, and the WAV ends where the sound
// really ends (not where a header claims). A file with damaged blocks is
// still written, with a warning and a failing status.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <vector>

#include "Cli.h"
#include "audio/U_AudioFile.h"

namespace {

// A RIFF file holds at most 4 GiB of samples.
constexpr int64_t kMaxData = 0xFFFFFFFFLL - 36;
// Samples are written to the file in blocks of this size.
constexpr size_t kWriteBlock = 1 << 20;

void PutLE(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The 44-byte header of a PCM WAV file holding dataBytes of samples.
std::vector<uint8_t> WavHeader(uint32_t rate, uint32_t channels, uint32_t bits, uint32_t dataBytes) {
  std::vector<uint8_t> h(44);
  std::memcpy(h.data(), "RIFF", 4);
  PutLE(&h[4], 36 + dataBytes, 4);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  PutLE(&h[16], 16, 4);
  PutLE(&h[20], 1, 2);
  PutLE(&h[22], channels, 2);
  PutLE(&h[24], rate, 4);
  PutLE(&h[28], rate * channels * bits / 8, 4);
  PutLE(&h[32], channels * bits / 8, 2);
  PutLE(&h[34], bits, 2);
  std::memcpy(&h[36], "data", 4);
  PutLE(&h[40], dataBytes, 4);
  return h;
}

class TOutput {
public:
  TOutput(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TOutput() { ::close(fd_); }
  void Write(const uint8_t* data, size_t size, off_t at) {
    for (size_t done = 0; done < size;) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, at + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw sdm::EError("Cannot write " + path_ + ": " + std::strerror(n < 0 ? errno : ENOSPC));
      done += static_cast<size_t>(n);
    }
  }

private:
  int fd_;
  std::string path_;
};

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
  const std::string& input = positional[0];
  const std::string& output = positional[1];
  sdm::cli::CheckOutputPath(output, {input});
  sdm::TAudioFile audio;
  audio.SetFileName(input);
  if (!audio.Open()) throw sdm::EError("Unknown audio file type: " + input);
  sdm::TAbstractAudioFile* src = native ? audio.Reader.get() : audio.Output();
  const uint32_t rate = src->GetSampleRate(), channels = src->GetChannels(), bits = src->GetBitsPerSample();
  const int64_t frameBytes = std::max<int64_t>(1, int64_t{channels} * bits / 8);

  int64_t data = 0;
  sdm::cli::WriteOutputFile(output, [&](const std::string& temp) {
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) throw sdm::EError("Cannot write " + temp + ": " + std::strerror(errno));
    TOutput out(fd, temp);
    std::vector<uint8_t> block(kWriteBlock);
    // Whole sample frames to the file: a 4 GiB WAV stops at the last one.
    int64_t limit = kMaxData / frameBytes * frameBytes;
    // The MPEG reader fills its last request whole; its length, from the
    // complete index of its frames, says where the sound ends.
    if (audio.Reader->GetFormatKind() == sdm::akMpeg) limit = std::min(limit, src->GetPcmSize());
    size_t held = 0;
    bool more = true;
    while (more && data + static_cast<int64_t>(held) < limit) {
      int32_t n = static_cast<int32_t>(std::min<int64_t>(
          {65536, static_cast<int64_t>(block.size() - held), limit - data - static_cast<int64_t>(held)}));
      more = src->ReadPcm(block.data() + held, n);
      if (n <= 0) break;
      held += static_cast<size_t>(n);
      if (held == block.size() || !more) {
        out.Write(block.data(), held, static_cast<off_t>(44 + data));
        data += static_cast<int64_t>(held);
        held = 0;
      }
    }
    if (held > 0) {
      out.Write(block.data(), held, static_cast<off_t>(44 + data));
      data += static_cast<int64_t>(held);
    }
    data -= data % frameBytes;
    if (::ftruncate(fd, static_cast<off_t>(44 + data)) != 0)
      throw sdm::EError("Cannot write " + temp + ": " + std::strerror(errno));
    const auto header = WavHeader(rate, channels, bits, static_cast<uint32_t>(data));
    out.Write(header.data(), header.size(), 0);
  });
  std::cout << "Wrote " << output << " (" << data << " bytes of PCM, " << rate << " Hz, " << channels << " channels, "
            << bits << " bits)\n";
  const int64_t damaged = audio.Reader->DamagedBlocks;
  if (damaged > 0) {
    std::cerr << "Warning: " << input << " is damaged: " << damaged << (damaged == 1 ? " block" : " blocks")
              << " could not be decoded and " << (damaged == 1 ? "was" : "were") << " left out.\n";
    // What the reader saw, the first few of it.
    const auto& lines = audio.Reader->Messages;
    for (size_t i = 0; i < lines.size() && i < 10; ++i) std::cerr << "  " << lines[i] << "\n";
    if (lines.size() > 10) std::cerr << "  ...\n";
    return 1;
  }
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("decode", "decode FILE OUT.wav [--native]",
                "Decodes an audio file through the library's chain (or its reader) into a WAV file", RunDecode,
                R"(  FILE       a sound file of a format audio-info knows
  OUT.wav    the WAV file to write (never one of the inputs)
  --native   the reader's own rate, channels and bits instead of the chain's
             44100 Hz stereo 16-bit)");
