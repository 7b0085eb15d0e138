#pragma once
// Soundtracks made by reference tools (sox for the tone, lame for the MP3) and
// packet lists read back by ffprobe, shared by the MP3 frame and muxer tests.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/TestSupport.h"

namespace sdm::test {

// An MP3 of `seconds` of a tone at `rate` Hz, made by lame with its own
// options ("-b 128", "-V 4", ...). Mono when channels is 1.
inline std::string MakeMp3(const TempDir& dir, const std::string& name, int rate, int channels, double seconds,
                           const std::vector<std::string>& lameOptions) {
  const std::string wav = dir.file(name + ".wav");
  const std::string mp3 = dir.file(name);
  auto sox = RunCommand({"sox", "-n", "-r", std::to_string(rate), "-c", std::to_string(channels), "-b", "16", wav,
                         "synth", std::to_string(seconds), "sine", "300-2000"});
  EXPECT_EQ(sox.status, 0) << sox.err;
  std::vector<std::string> lame{"lame", "--quiet"};
  lame.insert(lame.end(), lameOptions.begin(), lameOptions.end());
  lame.push_back(wav);
  lame.push_back(mp3);
  auto enc = RunCommand(lame);
  EXPECT_EQ(enc.status, 0) << enc.err;
  return mp3;
}

struct Packet {
  int64_t pos = -1;
  int64_t size = 0;
};

// The packets of one stream as ffprobe sees them ("a:0", "v:0" or "" for all).
inline std::vector<Packet> ProbePackets(const std::string& file, const std::string& stream) {
  std::vector<std::string> args{"ffprobe", "-v", "error"};
  if (!stream.empty()) args.insert(args.end(), {"-select_streams", stream});
  args.insert(args.end(), {"-show_entries", "packet=pos,size", "-of", "compact=p=0", file});
  auto r = RunCommand(args);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<Packet> packets;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("size=") == std::string::npos) continue;
    Packet p;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '|')) {
      auto eq = field.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
      if (key == "pos" && value != "N/A") p.pos = std::stoll(value);
      if (key == "size") p.size = std::stoll(value);
    }
    packets.push_back(p);
  }
  return packets;
}

// One ffprobe entry of the first stream selected ("a:0", "stream=sample_rate").
inline std::string ProbeValue(const std::string& file, const std::string& stream, const std::string& entry) {
  auto r = RunCommand({"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries", entry, "-of",
                       "default=nw=1:nk=1", file});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string value = r.out.substr(0, r.out.find('\n'));
  return value;
}

}  // namespace sdm::test
