#pragma once
// Builders for the small audio files the tests feed the library.
#include <cstdint>
#include <string>
#include <vector>

namespace sdm::test {

inline void PutLE(std::string& s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string Chunk(const std::string& id, const std::string& body) {
  std::string c = id;
  PutLE(c, body.size(), 4);
  return c + body;
}

inline std::string FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, bool withExtra = false) {
  std::string f;
  PutLE(f, tag, 2);
  PutLE(f, channels, 2);
  PutLE(f, rate, 4);
  PutLE(f, rate * channels * bits / 8, 4);
  PutLE(f, channels * bits / 8, 2);
  PutLE(f, bits, 2);
  if (withExtra) PutLE(f, 0, 2);
  return f;
}

// RIFF/WAVE file around the given chunks.
inline std::string Riff(const std::string& chunks) { return Chunk("RIFF", "WAVE" + chunks); }

inline std::string PcmWav(uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data) {
  return Riff(Chunk("fmt ", FmtBody(1, channels, rate, bits)) + Chunk("data", data));
}

inline std::string Samples16(const std::vector<int16_t>& s) {
  std::string d;
  for (int16_t v : s) PutLE(d, static_cast<uint16_t>(v), 2);
  return d;
}

inline std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace sdm::test
