#include "audio/SoundFileKind.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <unistd.h>

#include <vector>

#include "audio/U_AudioFile.h"
#include "audio/readers/AvAudioStream.h"
#include "platform/RegularFile.h"

namespace sdm {

namespace {

// Enough of the file for libav's probes to name any format we meet.
constexpr int kProbeBytes = 1 << 16;

}  // namespace

std::string DescribeFileContent(const std::string& path) {
  std::string problem;
  const int fd = OpenRegularFileForReading(path, problem);
  if (fd < 0) return "a file that " + (problem.rfind("is ", 0) == 0 ? problem : "cannot be opened: " + problem);
  std::vector<uint8_t> bytes(kProbeBytes + AVPROBE_PADDING_SIZE, 0);
  ssize_t got = 0;
  while (got < kProbeBytes) {
    const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(kProbeBytes - got));
    if (n <= 0) break;
    got += n;
  }
  ::close(fd);
  if (got == 0) return "an empty file";
  AvQuietReading();
  AVProbeData probe{};
  probe.filename = "";
  probe.buf = bytes.data();
  probe.buf_size = static_cast<int>(got);
  int score = 0;
  const AVInputFormat* format = av_probe_input_format3(&probe, 1, &score);
  // A weak guess (a format told only by its extension, or a few bytes that
  // happen to look like one) is no description.
  if (format == nullptr || score < AVPROBE_SCORE_EXTENSION) return "data of no known sound format";
  return format->long_name ? format->long_name : format->name;
}

void OpenSoundFile(TAudioFile& audio, const std::string& path) {
  audio.SetFileName(path);
  bool opened = false;
  try {
    opened = audio.Open();
  } catch (const std::exception& e) {
    throw EError("The sound file \"" + path + "\" cannot be read: " + e.what() + " (it holds " +
                 DescribeFileContent(path) + ").");
  }
  if (!opened)
    throw EError("The file \"" + path + "\" is not a sound file this program reads (it holds " +
                 DescribeFileContent(path) + ").");
}

}  // namespace sdm
