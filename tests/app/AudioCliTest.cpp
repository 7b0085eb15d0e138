// audio-info, decode and tags end to end; decoded files and written tags are
// read back by ffprobe.
#include <gtest/gtest.h>

#include <cmath>

#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

void PutLE(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Wav(uint16_t channels, uint32_t rate, const std::string& pcm) {
  std::string f = "fmt ";
  PutLE(f, 16, 4);
  PutLE(f, 1, 2);
  PutLE(f, channels, 2);
  PutLE(f, rate, 4);
  PutLE(f, rate * channels * 2, 4);
  PutLE(f, channels * 2, 2);
  PutLE(f, 16, 2);
  std::string d = "data";
  PutLE(d, static_cast<uint32_t>(pcm.size()), 4);
  std::string w = "RIFF";
  PutLE(w, static_cast<uint32_t>(4 + f.size() + d.size() + pcm.size()), 4);
  return w + "WAVE" + f + d + pcm;
}

void WriteWav(const std::string& path, const std::string& content) {
  test::WriteBytes(path, std::vector<uint8_t>(content.begin(), content.end()));
}

std::string Probe(const std::string& path, const std::string& entries) {
  return test::RunCommand(
             {"ffprobe", "-v", "error", "-show_entries", entries, "-of", "default=noprint_wrappers=1", path})
      .out;
}

TEST(AudioCliTest, InfoOfAOneAndAHalfSecondWav) {
  test::TempDir dir;
  std::string path = dir.file("a.wav");
  WriteWav(path, Wav(2, 44100, std::string(176400 * 3 / 2, '\0')));
  auto r = test::RunCli({"audio-info", path});
  ASSERT_EQ(r.status, 0) << r.err;
  // 1.5 s rounds to 2 (ties to even).
  EXPECT_EQ(r.out,
            "kind: 1\nsamplerate: 44100\nchannels: 2\nbits: 16\npcmsize: 264600\nduration: 1.500\nseconds: 2\n"
            "tagkinds: 0\n");
}

TEST(AudioCliTest, BadInputGivesClearErrors) {
  test::TempDir dir;
  std::string bad = dir.file("bad.wav");
  WriteWav(bad, "RIFX0000WAVE");
  auto r = test::RunCli({"audio-info", bad});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Bad .wav format. RIFF chunk not found"), std::string::npos) << r.err;
  r = test::RunCli({"audio-info", dir.file("x.mp4")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Unknown audio file type"), std::string::npos) << r.err;
  r = test::RunCli({"decode", dir.file("missing.wav"), dir.file("o.wav")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Impossible d'ouvrir le fichier"), std::string::npos) << r.err;
  r = test::RunCli({"tags", bad, "--write", "99"});
  EXPECT_EQ(r.status, 2);
}

TEST(AudioCliTest, DecodeResamplesToStereo44100AndNativeKeepsTheFormat) {
  test::TempDir dir;
  std::string in = dir.file("m.wav"), out = dir.file("o.wav"), native = dir.file("n.wav");
  std::string pcm;
  for (int i = 0; i < 22050; ++i) PutLE(pcm, static_cast<uint16_t>(static_cast<int16_t>(10000 * std::sin(i * 0.2))), 2);
  WriteWav(in, Wav(1, 22050, pcm));
  auto r = test::RunCli({"decode", in, out});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string info = Probe(out, "stream=sample_rate,channels,codec_name:format=duration");
  EXPECT_NE(info.find("sample_rate=44100"), std::string::npos) << info;
  EXPECT_NE(info.find("channels=2"), std::string::npos) << info;
  EXPECT_NE(info.find("codec_name=pcm_s16le"), std::string::npos) << info;
  EXPECT_NE(info.find("duration=1.000000"), std::string::npos) << info;
  r = test::RunCli({"decode", in, native, "--native"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto bytes = test::ReadBytes(native);
  ASSERT_EQ(bytes.size(), 44u + pcm.size());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()), std::vector<uint8_t>(pcm.begin(), pcm.end()));
}

TEST(AudioCliTest, TagsWriteReadAndRemove) {
  test::TempDir dir;
  std::string wav = dir.file("s.wav"), mp3 = dir.file("s.mp3");
  WriteWav(wav, Wav(1, 44100, std::string(44100 * 2, '\0')));
  ASSERT_EQ(test::RunCommand({"lame", "--quiet", wav, mp3}).status, 0);
  auto audio = test::ReadBytes(mp3);
  auto r = test::RunCli({"tags", mp3, "--set", "TITLE=Été", "--set", "ARTIST=Me", "--write", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("tagkinds: 3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("TITLE=Été"), std::string::npos) << r.out;
  std::string tags = Probe(mp3, "format_tags=title,artist");
  EXPECT_NE(tags.find("TAG:title=Été"), std::string::npos) << tags;
  EXPECT_NE(tags.find("TAG:artist=Me"), std::string::npos) << tags;
  r = test::RunCli({"tags", mp3, "--remove", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("tagkinds: 0"), std::string::npos) << r.out;
  EXPECT_EQ(test::ReadBytes(mp3), audio);
}

TEST(AudioCliTest, ResampledMp3DecodesToItsWholeLength) {
  // 22.05 kHz mono: the chain doubles the rate and the channels, so the WAV
  // holds four times the reader's PCM, the converter's tail included.
  test::TempDir dir;
  std::string wav = dir.file("m.wav"), mp3 = dir.file("m.mp3"), out = dir.file("o.wav");
  std::string pcm;
  for (int i = 0; i < 22050; ++i) PutLE(pcm, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(i * 0.1))), 2);
  WriteWav(wav, Wav(1, 22050, pcm));
  ASSERT_EQ(test::RunCommand({"lame", "--quiet", "-m", "m", wav, mp3}).status, 0);
  auto info = test::RunCli({"audio-info", mp3});
  ASSERT_EQ(info.status, 0) << info.err;
  auto at = info.out.find("pcmsize: ");
  ASSERT_NE(at, std::string::npos);
  const long long size = std::stoll(info.out.substr(at + 9));
  auto r = test::RunCli({"decode", mp3, out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(" + std::to_string(4 * size) + " bytes of PCM, 44100 Hz, 2 channels"), std::string::npos)
      << r.out << " reader size " << size;
}

TEST(AudioCliTest, InfoDecodeAndTagsServeEveryKind) {
  test::TempDir dir;
  std::string flac = dir.file("a.flac"), film = dir.file("f.ac3"), ogg = dir.file("v.ogg"), out = dir.file("o.wav");
  auto make = [](const std::string& graph, const std::vector<std::string>& encode, const std::string& path) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", graph};
    argv.insert(argv.end(), encode.begin(), encode.end());
    argv.push_back(path);
    return test::RunCommand(argv).status;
  };
  ASSERT_EQ(make("sine=sample_rate=48000:duration=2.5", {"-c:a", "flac"}, flac), 0);
  ASSERT_EQ(make("sine=sample_rate=48000:duration=1", {"-ac", "6", "-c:a", "ac3"}, film), 0);
  ASSERT_EQ(make("sine=sample_rate=44100:duration=1", {"-c:a", "libvorbis"}, ogg), 0);
  // FLAC: its own rate and channels and a real play time (2.5 s rounds to 2).
  auto r = test::RunCli({"audio-info", flac});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("tagkinds")),
            "kind: 9\nsamplerate: 48000\nchannels: 1\nbits: 16\npcmsize: 240000\nduration: 2.500\nseconds: 2\n");
  // 5.1 AC-3 through the chain: mixed down, resampled, a valid stereo WAV.
  r = test::RunCli({"decode", film, out});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string info = Probe(out, "stream=sample_rate,channels");
  EXPECT_NE(info.find("sample_rate=44100"), std::string::npos) << info;
  EXPECT_NE(info.find("channels=2"), std::string::npos) << info;
  // Vorbis comments written and read back through the Ogg reader.
  r = test::RunCli({"tags", ogg, "--set", "ALBUM=Live", "--write", "8"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("tagkinds: 8"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ALBUM=Live"), std::string::npos) << r.out;
  EXPECT_NE(Probe(ogg, "stream_tags=album").find("=Live"), std::string::npos);
  // A text file named as each kind: the reader's message, status 1.
  std::string text = dir.file("text.ape");
  test::WriteText(text, "not audio\n");
  r = test::RunCli({"audio-info", text});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Invalid APE file"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace sdm
