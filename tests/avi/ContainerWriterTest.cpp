#include "avi/ContainerWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/Errors.h"
#include "testsupport/AudioCheck.h"
#include "testsupport/TestSupport.h"
#include "testsupport/VideoCheck.h"

using namespace sdm;
using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

// A frame of moving colour bars, different for every index.
TDib24 Frame(int width, int height, int index) {
  TDib24 dib(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = dib.TopRow(y);
    for (int x = 0; x < width; ++x) {
      const int bar = ((x + 4 * index) / 40) % 6;
      row[3 * x] = static_cast<uint8_t>(bar * 40);
      row[3 * x + 1] = static_cast<uint8_t>(y * 255 / height);
      row[3 * x + 2] = static_cast<uint8_t>(255 - bar * 40);
    }
  }
  return dib;
}

// A stereo tone of `seconds` at 440 Hz, amplitude 0.5, made by sox.
std::string Tone(const TempDir& dir, const std::string& name, double seconds) {
  const std::string path = dir.file(name);
  const CommandResult r = RunCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth",
                                      std::to_string(seconds), "sine", "440", "vol", "0.5"});
  EXPECT_EQ(r.status, 0) << r.err;
  return path;
}

TContainerSettings Settings(TOutputKind kind, const std::string& file, int frames, const std::string& sound = {}) {
  TContainerSettings c;
  c.Kind = kind;
  c.Width = 320;
  c.Height = 240;
  c.FramesPerSecond = 30;
  c.FileName = file;
  c.SoundPath = sound;
  c.FrameCount = frames;
  return c;
}

void Write(TContainerWriter& w, int frames) {
  const TDib24 still = Frame(320, 240, 0);
  for (int i = 0; i < frames; ++i) {
    // Every other frame repeats the one before, as a still picture does.
    if (i % 2 == 1)
      w.AddFrame(still, true);
    else
      w.AddFrame(i == 0 ? still : Frame(320, 240, i), false);
  }
}

// The files in a folder (not its sub-folders), by name.
std::vector<std::string> Listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (!e.is_directory()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

class ContainerWriter : public PrivateRegistryTest {};

TEST_F(ContainerWriter, Mp4IsH264AndAacAtAnExactRateAndLongerMusicFadesWithTheLastFrame) {
  const std::string song = Tone(dir, "song.wav", 3.0);
  const std::string out = dir.file("show.mp4");
  TContainerWriter w(Settings(TOutputKind::Mp4, out, 45, song));
  w.Open();
  Write(w, 45);
  w.Close();
  EXPECT_TRUE(w.Finished());

  EXPECT_EQ(DecodeErrors(out), "");
  EXPECT_EQ(Probe(out, "v:0", "codec_name"), "h264");
  EXPECT_EQ(Probe(out, "v:0", "pix_fmt"), "yuv420p");
  EXPECT_EQ(Probe(out, "v:0", "width") + "x" + Probe(out, "v:0", "height"), "320x240");
  EXPECT_EQ(Probe(out, "v:0", "r_frame_rate"), "30/1");
  EXPECT_EQ(Probe(out, "v:0", "avg_frame_rate"), "30/1");
  EXPECT_EQ(Probe(out, "v:0", "color_space"), "bt709");
  EXPECT_EQ(Probe(out, "a:0", "codec_name"), "aac");
  EXPECT_EQ(Probe(out, "a:0", "profile"), "LC");
  EXPECT_EQ(Probe(out, "a:0", "channels"), "2");
  EXPECT_EQ(Probe(out, "a:0", "sample_rate"), "44100");
  // The index before the data: a browser plays it while it loads.
  const std::vector<std::string> boxes = TopLevelBoxes(out);
  const auto moov = std::find(boxes.begin(), boxes.end(), "moov"), mdat = std::find(boxes.begin(), boxes.end(), "mdat");
  ASSERT_NE(moov, boxes.end());
  ASSERT_NE(mdat, boxes.end());
  EXPECT_LT(moov, mdat);

  const TStreamSpan video = DecodedSpan(out, "v"), sound = DecodedSpan(out, "a");
  EXPECT_EQ(video.frames, 45);
  EXPECT_NEAR(video.end, 1.5, 0.001);
  EXPECT_NEAR(sound.end, video.end, 0.25);
  // Three seconds of music over a second and a half of pictures: full at the
  // start, faded out over the last second, nearly gone at the end.
  const std::vector<float> s = DecodeMono(out, 44100);
  const double full = Rms(s, 44100, 0.1, 0.4);
  EXPECT_NEAR(full, 0.5 / std::sqrt(2.0), 0.05);
  EXPECT_NEAR(Rms(s, 44100, 0.95, 1.05), full * 0.5, full * 0.12);
  EXPECT_LT(Rms(s, 44100, 1.4, 1.5), full * 0.12);
}

TEST_F(ContainerWriter, WebmIsVp9AndOpusAndShorterMusicIsFollowedBySilence) {
  const std::string song = Tone(dir, "short.wav", 0.5);
  const std::string out = dir.file("show.webm");
  TContainerWriter w(Settings(TOutputKind::WebM, out, 45, song));
  w.Open();
  Write(w, 45);
  w.Close();

  EXPECT_EQ(DecodeErrors(out), "");
  EXPECT_EQ(Probe(out, "v:0", "codec_name"), "vp9");
  EXPECT_EQ(Probe(out, "v:0", "pix_fmt"), "yuv420p");
  EXPECT_EQ(Probe(out, "v:0", "r_frame_rate"), "30/1");
  EXPECT_EQ(Probe(out, "a:0", "codec_name"), "opus");
  EXPECT_EQ(Probe(out, "a:0", "channels"), "2");
  EXPECT_EQ(Probe(out, "a:0", "sample_rate"), "48000");
  const TStreamSpan video = DecodedSpan(out, "v"), sound = DecodedSpan(out, "a");
  EXPECT_EQ(video.frames, 45);
  EXPECT_NEAR(video.end - video.first, 1.5, 0.001);
  EXPECT_NEAR(sound.end, video.end, 0.25);
  const std::vector<float> s = DecodeMono(out, 48000);
  EXPECT_GT(Rms(s, 48000, 0.1, 0.4), 0.3);
  EXPECT_LT(Rms(s, 48000, 0.7, 1.4), 0.001);
}

TEST_F(ContainerWriter, TheSameSlideshowGivesTheSameBytes) {
  for (TOutputKind kind : {TOutputKind::Mp4, TOutputKind::WebM}) {
    SCOPED_TRACE(KindName(kind));
    const std::string a = dir.file(std::string("a") + ExtensionOf(kind)),
                      b = dir.file(std::string("b") + ExtensionOf(kind));
    for (const std::string& out : {a, b}) {
      TContainerWriter w(Settings(kind, out, 8));
      w.Open();
      Write(w, 8);
      w.Close();
    }
    EXPECT_EQ(ReadBytes(a), ReadBytes(b));
  }
}

TEST_F(ContainerWriter, AnEarlierFileStaysUntilAVideoIsCompleteAndAStoppedOneStillPlays) {
  const std::string out = dir.file("show.mp4");
  const std::string song = Tone(dir, "song.wav", 3.0);
  WriteText(out, "an earlier video");
  {
    // A failed job drops what it wrote; so does a writer never closed.
    TContainerWriter failed(Settings(TOutputKind::Mp4, out, 30, song));
    failed.Open();
    EXPECT_NE(failed.TempPath(), out);
    EXPECT_TRUE(fs::exists(failed.TempPath()));
    Write(failed, 10);
    failed.Discard();
    TContainerWriter abandoned(Settings(TOutputKind::Mp4, out, 30, song));
    abandoned.Open();
    Write(abandoned, 10);
  }
  EXPECT_EQ(ReadText(out), "an earlier video");
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"show.mp4", "song.wav"}));

  // Stopped after 10 of 30 frames (a cancel): finished with those, and the
  // sound ends with them.
  TContainerWriter stopped(Settings(TOutputKind::Mp4, out, 30, song));
  stopped.Open();
  Write(stopped, 10);
  EXPECT_EQ(ReadText(out), "an earlier video");
  stopped.Close();
  EXPECT_TRUE(stopped.Finished());
  EXPECT_EQ(DecodeErrors(out), "");
  const TStreamSpan video = DecodedSpan(out, "v"), sound = DecodedSpan(out, "a");
  EXPECT_EQ(video.frames, 10);
  EXPECT_NEAR(sound.end, video.end, 0.05);
  const std::vector<uint8_t> kept = ReadBytes(out);

  // Stopped before its first frame: nothing worth keeping, nothing replaced.
  TContainerWriter empty(Settings(TOutputKind::Mp4, out, 30, song));
  empty.Open();
  empty.Close();
  EXPECT_FALSE(empty.Finished());
  EXPECT_EQ(ReadBytes(out), kept);
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"show.mp4", "song.wav"}));
}

TEST_F(ContainerWriter, WhatCannotBeMadeIsRefusedAtOpenNamingWhy) {
  const std::string out = dir.file("show.mp4");
  auto refusal = [](TContainerSettings c) -> std::string {
    try {
      TContainerWriter w(c);
      w.Open();
    } catch (const EError& e) {
      return e.what();
    }
    return "no error";
  };
  TContainerSettings odd = Settings(TOutputKind::Mp4, out, 10);
  odd.Width = 321;
  EXPECT_NE(refusal(odd).find("321 x 240 pixels: width and height must be even"), std::string::npos);
  {
    ScopedEnv only("SLIDOMAT_CODECS", "xvid");
    EXPECT_NE(refusal(Settings(TOutputKind::Mp4, out, 10)).find("the encoder libx264 is missing"), std::string::npos);
    EXPECT_NE(refusal(Settings(TOutputKind::WebM, out, 10)).find("libvpx-vp9"), std::string::npos);
  }
  WriteText(dir.file("notes.txt"), "not music at all, only words");
  EXPECT_NE(refusal(Settings(TOutputKind::Mp4, out, 10, dir.file("notes.txt"))).find(dir.file("notes.txt")),
            std::string::npos);
  const std::string nowhere = dir.file("missing/show.mp4");
  EXPECT_NE(refusal(Settings(TOutputKind::Mp4, nowhere, 10)).find(nowhere), std::string::npos);
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"notes.txt"}));

  // A frame of another size is refused, not read past its end.
  TContainerWriter w(Settings(TOutputKind::Mp4, out, 10));
  w.Open();
  EXPECT_THROW(w.AddFrame(Frame(160, 120, 0)), EError);
}
