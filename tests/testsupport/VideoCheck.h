#pragma once
// Looking at an MP4 or WebM through tools we did not write: ffprobe's view of
// a stream, where its decoded frames start and end, and the top-level boxes
// of an MP4 read from its bytes.
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"

namespace sdm::test {

// ffprobe's value of one entry of the first stream selected ("v:0",
// "codec_name"), or of the format ("", "duration").
inline std::string Probe(const std::string& file, const std::string& stream, const std::string& entry) {
  std::vector<std::string> args{"ffprobe", "-v", "error"};
  if (!stream.empty()) args.insert(args.end(), {"-select_streams", stream});
  args.insert(args.end(), {"-show_entries", (stream.empty() ? "format=" : "stream=") + entry, "-of",
                           "default=noprint_wrappers=1:nokey=1", file});
  const CommandResult r = RunCommand(args);
  std::string v = r.out;
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
  return v;
}

// What ffmpeg says when it decodes the whole file: nothing for a sound file.
inline std::string DecodeErrors(const std::string& file) {
  const CommandResult r = RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-f", "null", "-"});
  return r.status == 0 ? r.err : "exit " + std::to_string(r.status) + ": " + r.err;
}

// Where the decoded frames of a stream ("v", "a") begin and end, in seconds,
// and how many there are.
struct TStreamSpan {
  double first = 0, end = 0;
  int frames = 0;
};
inline TStreamSpan DecodedSpan(const std::string& file, const std::string& stream) {
  const CommandResult r = RunCommand({"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                                      "frame=best_effort_timestamp_time,pkt_duration_time", "-of", "csv=p=0", file});
  TStreamSpan span;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    try {
      const double t = std::stod(line.substr(0, comma));
      const double d = std::stod(line.substr(comma + 1));
      if (span.frames == 0) span.first = t;
      span.end = std::max(span.end, t + d);
      ++span.frames;
    } catch (const std::exception&) {
    }
  }
  return span;
}

// The four-character types of an MP4's top-level boxes, in file order.
inline std::vector<std::string> TopLevelBoxes(const std::string& file) {
  const std::vector<uint8_t> b = ReadBytes(file);
  std::vector<std::string> boxes;
  for (uint64_t at = 0; at + 8 <= b.size();) {
    uint64_t size = (uint64_t{b[at]} << 24) | (uint64_t{b[at + 1]} << 16) | (uint64_t{b[at + 2]} << 8) | b[at + 3];
    boxes.emplace_back(reinterpret_cast<const char*>(&b[at + 4]), 4);
    if (size == 1 && at + 16 <= b.size()) {
      size = 0;
      for (int i = 0; i < 8; ++i) size = (size << 8) | b[at + 8 + i];
    }
    if (size < 8) break;
    at += size;
  }
  return boxes;
}

}  // namespace sdm::test
