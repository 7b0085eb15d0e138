// audio-info, decode and tags end to end; decoded files and written tags are
// read back by ffprobe.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

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

namespace sdm {
namespace {

// The decoded samples of a file as ffmpeg sees them, and whether it said
// anything while decoding.
std::string FfmpegPcm(const std::string& path, std::string* complaints = nullptr) {
  const auto r = test::RunCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"});
  if (complaints) *complaints = r.err;
  return r.out;
}

TEST(AudioCliTest, TagWritersNeverChangeASampleAndSayWhyTheyRefuse) {
  test::TempDir dir;
  auto make = [&](const std::string& name, std::vector<std::string> codec) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=2", "-ac", "2"};
    argv.insert(argv.end(), codec.begin(), codec.end());
    argv.push_back(dir.file(name));
    EXPECT_EQ(test::RunCommand(argv).status, 0);
    return dir.file(name);
  };
  const std::string ogg = make("t.ogg", {"-c:a", "libvorbis"}), ac3 = make("t.ac3", {"-ar", "48000"}),
                    flac = make("t.flac", {}), mp3 = make("t.mp3", {});

  // Kinds a format does not carry: refused, named, the file untouched.
  const std::pair<std::string, std::string> foreign[] = {{mp3, "8"}, {flac, "8"}, {ac3, "1"}, {ac3, "4"}, {ogg, "2"}};
  for (const auto& [file, kinds] : foreign) {
    SCOPED_TRACE(file + " --write " + kinds);
    const auto before = test::ReadBytes(file);
    const auto r = test::RunCli({"tags", file, "--set", "TITLE=x", "--write", kinds});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Writing the tags failed: " + file + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" tags are not written to "), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadBytes(file), before);
  }

  // What is written leaves every sample as ffmpeg decodes it, AC-3's last
  // frame included (its tag goes before the stream).
  for (const auto& [file, kinds] : {std::pair{ogg, "8"}, std::pair{ac3, "2"}, std::pair{flac, "3"}}) {
    SCOPED_TRACE(file);
    const std::string pcm = FfmpegPcm(file);
    const auto r = test::RunCli({"tags", file, "--set", "TITLE=kept", "--write", kinds});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("TITLE=kept"), std::string::npos) << r.out;
    std::string complaints;
    EXPECT_EQ(FfmpegPcm(file, &complaints), pcm);
    EXPECT_EQ(complaints, "");
  }

  // An Ogg page whose checksum fails would be dropped by a rewrite: refused.
  auto bytes = test::ReadBytes(ogg);
  size_t third = 0;
  for (size_t at = 0, n = 0; at + 4 <= bytes.size(); ++at)
    if (std::memcmp(bytes.data() + at, "OggS", 4) == 0 && ++n == 4) third = at;
  ASSERT_GT(third, 0u);
  bytes[third + 40] ^= 1;
  test::WriteBytes(ogg, bytes);
  const auto r = test::RunCli({"tags", ogg, "--set", "TITLE=y", "--write", "8"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a page of it is damaged"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadBytes(ogg), bytes);
}

}  // namespace
}  // namespace sdm
