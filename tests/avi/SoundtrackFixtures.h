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
  bool key = false;
  double time = 0;
  std::string hash;  // MD5 of the packet's bytes
};

// The packets of one stream as ffprobe sees them ("a:0", "v:0").
inline std::vector<Packet> ProbePackets(const std::string& file, const std::string& stream) {
  auto r = RunCommand({"ffprobe", "-v", "error", "-select_streams", stream, "-show_data_hash", "md5", "-show_entries",
                       "packet=pos,size,flags,pts_time,data_hash", "-of", "flat", file});
  EXPECT_EQ(r.status, 0) << r.err;
  // Lines look like: packets.packet.12.size="418"
  std::vector<Packet> packets;
  std::istringstream lines(r.out);
  std::string line;
  const std::string prefix = "packets.packet.";
  while (std::getline(lines, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    const auto dot = line.find('.', prefix.size());
    const auto eq = line.find('=');
    if (dot == std::string::npos || eq == std::string::npos || eq < dot) continue;
    const size_t index = std::stoul(line.substr(prefix.size(), dot - prefix.size()));
    const std::string key = line.substr(dot + 1, eq - dot - 1);
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    if (packets.size() <= index) packets.resize(index + 1);
    Packet& p = packets[index];
    if (key == "pos" && value != "N/A") p.pos = std::stoll(value);
    if (key == "size") p.size = std::stoll(value);
    if (key == "flags") p.key = !value.empty() && value[0] == 'K';
    if (key == "pts_time" && value != "N/A") p.time = std::stod(value);
    if (key == "data_hash") p.hash = value;
  }
  return packets;
}

// 1 when the soundtrack starts with lame's information frame, which ffprobe
// does not list as a packet (so its first packet does not start the file);
// lame leaves it out of some low-rate files. Our files carry no ID3 tag.
inline int LeadingInfoFrames(const std::vector<Packet>& packets) {
  return !packets.empty() && packets[0].pos > 0 ? 1 : 0;
}

// One ffprobe entry of the first stream selected ("a:0", "stream=sample_rate").
inline std::string ProbeValue(const std::string& file, const std::string& stream, const std::string& entry) {
  auto r = RunCommand(
      {"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries", entry, "-of", "default=nw=1:nk=1", file});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string value = r.out.substr(0, r.out.find('\n'));
  return value;
}

}  // namespace sdm::test
