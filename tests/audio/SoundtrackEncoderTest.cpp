// The soundtrack encoder end to end: what it writes is muxed by libavformat
// (or, for MP3, written frame after frame as the AVI path does) and then
// probed and decoded by ffprobe and ffmpeg.
#include "audio/encode/SoundtrackEncoder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <fstream>

#include "audio/AudioTestUtil.h"
#include "testsupport/AudioCheck.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

// A sine of 440 Hz at half scale, seconds long.
void WriteToneWav(const std::string& path, int channels, int rate, double seconds) {
  std::vector<int16_t> s;
  const int n = static_cast<int>(seconds * rate);
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < channels; ++c) s.push_back(static_cast<int16_t>(16384 * std::sin(2 * M_PI * 440.0 * i / rate)));
  test::WriteBytes(path, test::Bytes(test::PcmWav(static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), 16,
                                                  test::Samples16(s))));
}

// The packets' times: the encoder's delay comes first, so the first packet
// starts that many samples before 0, and the last ends where the music ends.
struct TEncoded {
  int64_t firstPts = 0;
  int64_t end = 0;  // the last packet's pts + duration
};

// Every packet through libavformat's muxer of that format (or, with an
// empty format, the bytes one after another, as the AVI path's MP3 is).
TEncoded Write(TSoundtrackEncoder& encoder, const std::string& path, const char* format) {
  TEncoded result;
  AVPacket* pkt = av_packet_alloc();
  bool first = true;
  if (format == nullptr) {
    std::ofstream out(path, std::ios::binary);
    while (encoder.NextPacket(pkt)) {
      if (first) result.firstPts = pkt->pts, first = false;
      result.end = pkt->pts + pkt->duration;
      out.write(reinterpret_cast<const char*>(pkt->data), pkt->size);
      av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return result;
  }
  AVFormatContext* mux = nullptr;
  EXPECT_GE(avformat_alloc_output_context2(&mux, nullptr, format, path.c_str()), 0);
  AVStream* st = avformat_new_stream(mux, nullptr);
  avcodec_parameters_from_context(st->codecpar, encoder.Context());
  st->time_base = encoder.Context()->time_base;
  EXPECT_GE(avio_open(&mux->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
  EXPECT_GE(avformat_write_header(mux, nullptr), 0);
  while (encoder.NextPacket(pkt)) {
    if (first) result.firstPts = pkt->pts, first = false;
    result.end = pkt->pts + pkt->duration;
    av_packet_rescale_ts(pkt, encoder.Context()->time_base, st->time_base);
    pkt->stream_index = 0;
    EXPECT_GE(av_interleaved_write_frame(mux, pkt), 0);
  }
  av_write_trailer(mux);
  avio_closep(&mux->pb);
  avformat_free_context(mux);
  av_packet_free(&pkt);
  return result;
}

std::string Probe(const std::string& path) {
  return test::RunCommand({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                           "stream=codec_name,sample_rate,channels:format=duration", "-of",
                           "default=noprint_wrappers=1", path})
      .out;
}

class SoundtrackEncoderTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!test::HaveTool("ffmpeg") || !test::HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
  }
  test::TempDir dir;
};

TEST_F(SoundtrackEncoderTest, AMonoWavAt22050BecomesStereoMp3At44100HoldingTheTone) {
  const std::string wav = dir.file("tone.wav"), mp3 = dir.file("tone.mp3");
  WriteToneWav(wav, 1, 22050, 1.0);
  TSoundtrackEncoder encoder(wav, {.Encoder = "libmp3lame", .BitRate = 128000});
  EXPECT_EQ(encoder.SourceKind(), "WAV");
  const TEncoded e = Write(encoder, mp3, nullptr);
  EXPECT_EQ(encoder.DamagedBlocks(), 0);
  EXPECT_DOUBLE_EQ(encoder.Progress(), 1.0);
  // One second of music in, one second of samples out (the converter's
  // tail included, nothing padded).
  EXPECT_EQ(e.firstPts, -encoder.Context()->initial_padding);
  EXPECT_EQ(e.end, encoder.SamplesEncoded());
  EXPECT_NEAR(static_cast<double>(e.end), 44100.0, 64.0);
  const std::string info = Probe(mp3);
  EXPECT_NE(info.find("codec_name=mp3"), std::string::npos) << info;
  EXPECT_NE(info.find("sample_rate=44100"), std::string::npos) << info;
  EXPECT_NE(info.find("channels=2"), std::string::npos) << info;
  bool clean = false;
  const auto sound = test::DecodeMono(mp3, 44100, &clean);
  EXPECT_TRUE(clean);
  EXPECT_NEAR(test::ToneLevel(sound, 44100, 440, 0.2, 0.9), 0.5, 0.05);
  EXPECT_LT(test::ToneLevel(sound, 44100, 1000, 0.2, 0.9), 0.01);
}

TEST_F(SoundtrackEncoderTest, LongerMusicIsCutExactlyAtTheLengthAndFadedOut) {
  const std::string wav = dir.file("long.wav"), mp4 = dir.file("cut.mp4");
  WriteToneWav(wav, 2, 44100, 3.0);
  TSoundtrackEncoder encoder(wav, {.Encoder = "aac", .BitRate = 128000, .Length = 88200});
  const TEncoded e = Write(encoder, mp4, "mp4");
  EXPECT_EQ(e.firstPts, -encoder.Context()->initial_padding);
  EXPECT_EQ(e.end, 88200);
  EXPECT_EQ(encoder.SamplesEncoded(), 88200);
  const std::string info = Probe(mp4);
  EXPECT_NE(info.find("duration=2.000000"), std::string::npos) << info;
  const auto sound = test::DecodeMono(mp4, 44100);
  // ffmpeg's decoder plays the last AAC frame out whole.
  EXPECT_GE(sound.size(), 88200u);
  EXPECT_LE(sound.size(), 88200u + 1024u);
  const double full = test::ToneLevel(sound, 44100, 440, 0.2, 0.9);
  EXPECT_NEAR(full, 0.5, 0.05);
  // Over the last second the level falls to nothing.
  EXPECT_NEAR(test::ToneLevel(sound, 44100, 440, 1.45, 1.55), full / 2, 0.06);
  EXPECT_LT(test::ToneLevel(sound, 44100, 440, 1.95, 2.0), 0.02);
}

TEST_F(SoundtrackEncoderTest, ShorterMusicIsFollowedBySilenceAtTheOpusRate) {
  const std::string wav = dir.file("short.wav"), webm = dir.file("short.webm");
  WriteToneWav(wav, 2, 44100, 0.5);
  TSoundtrackEncoder encoder(wav, {.Encoder = "libopus", .BitRate = 96000, .SampleRate = 48000, .Length = 72000});
  const TEncoded e = Write(encoder, webm, "webm");
  EXPECT_EQ(e.firstPts, -encoder.Context()->initial_padding);
  EXPECT_EQ(e.end, 72000);
  const std::string info = Probe(webm);
  EXPECT_NE(info.find("sample_rate=48000"), std::string::npos) << info;
  EXPECT_NE(info.find("channels=2"), std::string::npos) << info;
  const auto sound = test::DecodeMono(webm, 48000);
  EXPECT_NEAR(static_cast<double>(sound.size()), 72000.0, 960.0);
  EXPECT_NEAR(test::ToneLevel(sound, 48000, 440, 0.1, 0.4), 0.5, 0.06);
  // No fade of music that ends by itself, and silence after it.
  EXPECT_NEAR(test::ToneLevel(sound, 48000, 440, 0.4, 0.48), 0.5, 0.08);
  EXPECT_LT(test::Rms(sound, 48000, 0.6, 1.5), 0.005);
}

TEST_F(SoundtrackEncoderTest, WhatCannotBeDoneIsRefusedWithTheFileAndTheReason) {
  const std::string wav = dir.file("tone.wav");
  WriteToneWav(wav, 2, 44100, 0.2);
  auto message = [](auto&& make) {
    try {
      make();
    } catch (const EError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  std::string m = message([&] { TSoundtrackEncoder(wav, {.Encoder = "no-such-encoder"}); });
  EXPECT_NE(m.find("\"no-such-encoder\" is not available"), std::string::npos) << m;
  EXPECT_NE(m.find(wav), std::string::npos) << m;
  m = message([&] { TSoundtrackEncoder(wav, {.Encoder = "libmp3lame", .SampleRate = 12345}); });
  EXPECT_NE(m.find("12345 Hz"), std::string::npos) << m;

  // A text file named as a FLAC: the reader's reason and what it really is.
  const std::string text = dir.file("notes.flac");
  test::WriteText(text, "These are my notes, not music.\n");
  m = message([&] { TSoundtrackEncoder(text, {.Encoder = "libmp3lame"}); });
  EXPECT_NE(m.find("\"" + text + "\" cannot be read: Invalid FLAC file"), std::string::npos) << m;
  // A WAV of 24-bit samples opens but cannot be converted: refused once the
  // encoder is set up, which is all given back (the sanitizer build checks).
  const std::string deep = dir.file("deep.wav");
  test::WriteBytes(deep, test::Bytes(test::PcmWav(2, 44100, 24, std::string(6 * 4410, '\0'))));
  m = message([&] { TSoundtrackEncoder(deep, {.Encoder = "libmp3lame"}); });
  EXPECT_NE(m.find("Cannot read the soundtrack \"" + deep + "\": Unsupported PCM format"), std::string::npos) << m;
  // A name of no sound kind, an empty file and a named pipe (never opened
  // for reading, so nothing hangs).
  const std::string other = dir.file("picture.xyz");
  test::WriteText(other, "");
  m = message([&] { TSoundtrackEncoder(other, {.Encoder = "libmp3lame"}); });
  EXPECT_NE(m.find("is not a sound file this program reads (it holds an empty file)"), std::string::npos) << m;
  const std::string pipe = dir.file("pipe.wav");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  m = message([&] { TSoundtrackEncoder(pipe, {.Encoder = "libmp3lame"}); });
  EXPECT_NE(m.find("named pipe"), std::string::npos) << m;
}

}  // namespace
}  // namespace sdm
