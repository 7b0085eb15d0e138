#pragma once
// Builders for small MPEG audio files: header words from their fields, frames
// of the standard length with a chosen body, and lame-made files. The frame
// lengths here are worked out from the standards' formulas on their own, so
// they check the reader's arithmetic rather than repeat it.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"

namespace sdm::test {

enum class MpegVersion { V1, V2, V25 };

// The 32-bit header word (first byte in bits 31-24). layer is 1, 2 or 3.
inline uint32_t MpegWord(MpegVersion v, int layer, int bitRateIndex, int rateIndex, bool padding = false,
                         bool mono = false, bool crc = false) {
  uint32_t versionBits = v == MpegVersion::V1 ? 3 : v == MpegVersion::V2 ? 2 : 0;
  uint32_t w = 0x7FFu << 21;
  w |= versionBits << 19;
  w |= static_cast<uint32_t>(4 - layer) << 17;
  w |= (crc ? 0u : 1u) << 16;
  w |= static_cast<uint32_t>(bitRateIndex) << 12;
  w |= static_cast<uint32_t>(rateIndex) << 10;
  w |= (padding ? 1u : 0u) << 9;
  w |= (mono ? 3u : 0u) << 6;
  return w;
}

// Bit rate in kbit/s and sample rate in Hz of a word, from the tables of
// ISO/IEC 11172-3 and 13818-3 (MPEG-2.5 halving the MPEG-2 rates).
inline int StdKbps(uint32_t w) {
  static const int v1[3][15] = {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
  static const int v2l1[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};
  static const int v2l23[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  int layer = 4 - static_cast<int>((w >> 17) & 3);
  int idx = (w >> 12) & 15;
  if (idx == 15) return 0;
  if ((w >> 19) & 1) return v1[layer - 1][idx];
  return layer == 1 ? v2l1[idx] : v2l23[idx];
}

inline int StdRate(uint32_t w) {
  static const int rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  int idx = (w >> 10) & 3;
  int row = ((w >> 19) & 1) ? 0 : ((w >> 20) & 1) ? 1 : 2;
  return rates[row][idx];
}

// Length of the whole frame in bytes.
inline int StdFrameLength(uint32_t w) {
  int layer = 4 - static_cast<int>((w >> 17) & 3);
  int64_t bps = int64_t{1000} * StdKbps(w);
  int rate = StdRate(w);
  int pad = (w >> 9) & 1;
  bool mpeg1 = (w >> 19) & 1;
  if (layer == 1) return static_cast<int>((12 * bps / rate + pad) * 4);
  if (layer == 2 || mpeg1) return static_cast<int>(144 * bps / rate + pad);
  return static_cast<int>(72 * bps / rate + pad);
}

inline int StdSamplesPerFrame(uint32_t w) {
  int layer = 4 - static_cast<int>((w >> 17) & 3);
  if (layer == 1) return 384;
  if (layer == 2 || ((w >> 19) & 1)) return 1152;
  return 576;
}

inline std::string WordBytes(uint32_t w) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(w >> (24 - 8 * i));
  return s;
}

// One frame: the header and a body of the given byte (zero: a silent frame
// for every layer, since nothing is allocated and no main data is claimed).
inline std::string MpegFrame(uint32_t w, char fill = '\0') {
  return WordBytes(w) + std::string(StdFrameLength(w) - 4, fill);
}

inline std::string MpegFrames(uint32_t w, int count, char fill = '\0') {
  std::string s;
  for (int i = 0; i < count; ++i) s += MpegFrame(w, fill);
  return s;
}

// count MPEG-1 Layer III 128 kbit/s 44.1 kHz frames, padded the way an
// encoder pads them so that the average length is 144 * 128000 / 44100.
inline std::string Cbr128Frames(int count, bool mono = false) {
  std::string s;
  const double exact = 144.0 * 128000 / 44100;
  for (int i = 0; i < count; ++i) {
    bool pad = static_cast<int64_t>((i + 1) * exact) - static_cast<int64_t>(i * exact) == 418;
    s += MpegFrame(MpegWord(MpegVersion::V1, 3, 9, 0, pad, mono));
  }
  return s;
}

inline void WriteString(const std::string& path, const std::string& content) {
  WriteBytes(path, std::vector<uint8_t>(content.begin(), content.end()));
}

// A WAV of a 440 Hz tone made by sox; "" when sox is missing or fails.
inline std::string SoxTone(const TempDir& dir, const std::string& name, int rate, int channels, double seconds) {
  std::string wav = dir.file(name);
  auto r = RunCommand({"sox", "-n", "-r", std::to_string(rate), "-c", std::to_string(channels), "-b", "16", wav,
                       "synth", std::to_string(seconds), "sine", "440"});
  return r.status == 0 ? wav : std::string();
}

// MPEG audio packets ffprobe reads from a file (the encoder's Xing/Info frame
// is consumed as a header and not among them); -1 when ffprobe fails.
inline int ProbePackets(const std::string& path) {
  auto r = RunCommand({"ffprobe", "-v", "error", "-count_packets", "-select_streams", "a:0", "-show_entries",
                       "stream=nb_read_packets", "-of", "default=noprint_wrappers=1:nokey=1", path});
  if (r.status != 0) return -1;
  try {
    return std::stoi(r.out);
  } catch (...) {
    return -1;
  }
}

// True when the file's first frame (right at the start or after an ID3v2
// tag) is an encoder's Xing/Info summary. lame leaves it out when the frames
// are too small to hold it.
inline bool FirstFrameIsXing(const std::string& path) {
  std::vector<uint8_t> d = ReadBytes(path);
  size_t p = 0;
  if (d.size() >= 10 && d[0] == 'I' && d[1] == 'D' && d[2] == '3')
    p = 10 + (size_t{d[6]} << 21 | size_t{d[7]} << 14 | size_t{d[8]} << 7 | d[9]);
  if (d.size() < p + 4) return false;
  uint32_t w = static_cast<uint32_t>(d[p]) << 24 | d[p + 1] << 16 | d[p + 2] << 8 | d[p + 3];
  if ((w >> 21) != 0x7FF) return false;
  std::string first(d.begin() + p, d.begin() + std::min<size_t>(d.size(), p + StdFrameLength(w)));
  return first.find("Xing") != std::string::npos || first.find("Info") != std::string::npos;
}

}  // namespace sdm::test
