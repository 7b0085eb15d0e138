// Garbled files: mutations of valid WAV, ID3v2, APEv2 and Ogg data must give
// an error or an empty tag list, never a crash, a hang or a huge allocation
// (the sanitizer build runs this too).
#include <gtest/gtest.h>

#include <random>

#include "AudioTestUtil.h"
#include "audio/U_AudioFile.h"
#include "audio/tags/U_ApeTag.h"
#include "audio/tags/U_ID3.h"
#include "audio/tags/U_OggTag.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

std::string Mutate(std::string s, std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 3), byte(0, 255);
  int edits = 1 + static_cast<int>(rng() % 8);
  for (int e = 0; e < edits && !s.empty(); ++e) {
    size_t at = rng() % s.size();
    switch (kind(rng)) {
      case 0: s[at] = static_cast<char>(byte(rng)); break;
      case 1: s[at] = '\xFF'; break;  // sizes made huge
      case 2: s.resize(at); break;    // truncated
      default: s.insert(at, 1, static_cast<char>(byte(rng))); break;
    }
  }
  return s;
}

}  // namespace

TEST(GarbledFiles, ReadersAndTagsSurviveMutations) {
  TempDir dir;
  std::string frames = std::string("TIT2\0\0\0\x03\0\0\x00hi", 13) + std::string(
                                                                         "COMM\0\0\0\x0A\0\0\x01"
                                                                         "eng\xFF\xFE\0\0x\0",
                                                                         20);
  std::string id3 = std::string("ID3\x03\0\0\0\0\0", 9) + static_cast<char>(frames.size()) + frames;
  TAPEV2Tag apeBuilder;
  apeBuilder.Values = {"Artist=a", "Title=t"};
  std::string ape = apeBuilder.BuildTag();
  TId3V1Tag v1Builder;
  v1Builder.Values = {"TITLE=x", "TRACK=3"};
  std::string base = id3 +
                     Riff(Chunk("fmt ", FmtBody(1, 2, 22050, 16)) + Chunk("LIST", "INFOabcd") +
                          Chunk("data", Samples16({1, 2, 3, 4, 5, 6, 7, 8}))) +
                     ape + v1Builder.BuildBlock();
  std::string ogg = dir.file("src.ogg");
  ASSERT_EQ(
      RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=duration=0.2", "-c:a", "libvorbis", ogg}).status,
      0);
  auto oggBytes = ReadBytes(ogg);
  std::string oggBase(oggBytes.begin(), oggBytes.end());

  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    std::string path = dir.file("g.wav");
    WriteBytes(path, Bytes(Mutate(base, rng)));
    try {
      TAudioFile f;
      f.SetFileName(path);
      f.GetDuration();
      std::vector<uint8_t> buf(8192);
      for (int k = 0; k < 4; ++k) {
        int32_t n = 8192;
        if (!f.Output()->ReadPcm(buf.data(), n)) break;
      }
    } catch (const EError&) {
    }
    TId3V2Tag v2;
    v2.ReadFromFile(path);
    TId3V1Tag v1;
    v1.ReadFromFile(path);
    TAPEV2Tag a;
    a.ReadFromFile(path);

    std::string opath = dir.file("g.ogg");
    WriteBytes(opath, Bytes(Mutate(oggBase, rng)));
    TOggTag o;
    if (o.ReadFromFile(opath)) {
      o.Values = {"TITLE=x"};
      o.WriteToFile();
    }
  }
  SUCCEED();
}
