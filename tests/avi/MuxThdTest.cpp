#include "avi/U_MuxThd.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <tuple>

#include "avi/SoundtrackFixtures.h"
#include "platform/avifile/AviFile.h"
#include "testsupport/AudioCheck.h"

namespace sdm {
namespace {

using test::Packet;
using test::TempDir;

// A silent video laid out as our AVI writer lays it out: JPEG pictures made
// by ffmpeg, stored from sample position 2 on (0 and 1 stay empty), a key
// frame every fourth picture.
std::string MakeSilentVideo(const TempDir& dir, const std::string& name, int frames) {
  const std::string pattern = dir.file(name + "_%02d.jpg");
  auto r = test::RunCommand({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10",
                             "-frames:v", std::to_string(frames), "-f", "image2", pattern});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string path = dir.file(name);
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  EXPECT_EQ(AVIFileOpen(&file, path, OF_WRITE | OF_CREATE), AVIERR_OK);
  AVISTREAMINFO info;
  info.fccType = streamtypeVIDEO;
  info.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
  info.dwScale = 1;
  info.dwRate = 10;
  info.rcFrame = {0, 0, 160, 120};
  EXPECT_EQ(AVIFileCreateStream(file, &stream, &info), AVIERR_OK);
  BITMAPINFOHEADER bih;
  bih.biWidth = 160;
  bih.biHeight = 120;
  bih.biBitCount = 24;
  bih.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
  bih.biSizeImage = 160 * 120 * 3;
  EXPECT_EQ(AVIStreamSetFormat(stream, 0, &bih, sizeof bih), AVIERR_OK);
  for (int k = 0; k < frames; ++k) {
    char picture[16];
    std::snprintf(picture, sizeof picture, "_%02d.jpg", k + 1);
    const auto jpeg = test::ReadBytes(dir.file(name + picture));
    EXPECT_EQ(
        AVIStreamWrite(stream, k + 2, 1, jpeg.data(), static_cast<long>(jpeg.size()), k % 4 == 0 ? AVIIF_KEYFRAME : 0),
        AVIERR_OK);
  }
  EXPECT_EQ(AVIStreamRelease(stream), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(file), AVIERR_OK);
  return path;
}

std::vector<Packet> NonEmpty(const std::vector<Packet>& packets) {
  std::vector<Packet> kept;
  for (const auto& p : packets)
    if (p.size > 0) kept.push_back(p);
  return kept;
}

struct MuxRun {
  TMuxOutcome outcome = TMuxOutcome::Running;
  bool aborted = false;
  std::string error;
  std::vector<std::string> messages;
  std::vector<std::tuple<int, int, std::string>> progress;
};

// Runs the muxer thread to its end with a plain event loop as UI thread.
// stopAt(position, maximum, text) true asks the thread to terminate;
// cancelFirst asks it before it starts.
MuxRun RunMux(const std::string& video, const std::string& audio, const std::string& output,
              std::function<bool(int, int, const std::string&)> stopAt = {}, bool cancelFirst = false) {
  TEventLoop loop;
  TMuxThd mux(loop);
  MuxRun run;
  mux.VideoFile = video;
  mux.AudioFile = audio;
  mux.OutputFile = output;
  mux.OnMessage = [&](const std::string& text) {
    EXPECT_TRUE(loop.IsUiThread());
    run.messages.push_back(text);
  };
  mux.OnProgress = [&](int position, int maximum, const std::string& text) {
    EXPECT_TRUE(loop.IsUiThread());
    run.progress.emplace_back(position, maximum, text);
    if (stopAt && stopAt(position, maximum, text)) mux.Terminate();
  };
  bool terminated = false;
  mux.OnTerminate = [&](TThread&) { terminated = true; };
  if (cancelFirst) mux.Terminate();
  mux.Start();
  mux.WaitFor();
  EXPECT_TRUE(terminated);
  run.outcome = mux.Outcome();
  run.aborted = mux.Aborted;
  run.error = mux.ErrorText();
  return run;
}

std::vector<long> KeyFramesOf(const std::string& avi) {
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  EXPECT_EQ(AVIFileOpen(&file, avi, OF_READ), AVIERR_OK);
  EXPECT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
  std::vector<long> keys;
  for (long i = 0; i < AVIStreamLength(stream); ++i)
    if (AVIStreamIsKeyFrame(stream, i)) keys.push_back(i);
  AVIStreamRelease(stream);
  AVIFileRelease(file);
  return keys;
}

std::vector<uint8_t> AudioFormatOf(const std::string& avi, AVISTREAMINFO& info) {
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  EXPECT_EQ(AVIFileOpen(&file, avi, OF_READ), AVIERR_OK);
  EXPECT_EQ(AVIFileGetStream(file, &stream, streamtypeAUDIO, 0), AVIERR_OK);
  EXPECT_EQ(AVIStreamInfo(stream, &info, sizeof info), AVIERR_OK);
  long size = 0;
  EXPECT_EQ(AVIStreamReadFormat(stream, 0, nullptr, &size), AVIERR_OK);
  std::vector<uint8_t> format(static_cast<size_t>(size));
  EXPECT_EQ(AVIStreamReadFormat(stream, 0, format.data(), &size), AVIERR_OK);
  AVIStreamRelease(stream);
  AVIFileRelease(file);
  return format;
}

// The whole road checked by ffmpeg: video packets byte for byte those of the
// silent video with their key frames, audio packets byte for byte the
// soundtrack's frames after lame's information frame but the last, and the
// sound decoding cleanly at the length its frames give.
TEST(MuxThdTest, SoundtracksOfEveryRateJoinTheVideoAsFfmpegReadsThem) {
  TempDir dir;
  const std::string video = MakeSilentVideo(dir, "silent.avi", 14);
  const auto before = test::ReadBytes(video);
  const auto sourceVideo = NonEmpty(test::ProbePackets(video, "v:0"));
  ASSERT_EQ(sourceVideo.size(), 14u);

  struct Case {
    int rate, channels;
    std::vector<std::string> options;
    int samplesPerFrame;
  };
  const Case cases[] = {{44100, 2, {"-b", "128"}, 1152}, {48000, 1, {"-V", "3", "-m", "m"}, 1152},
                        {32000, 2, {"-V", "5"}, 1152},   {22050, 1, {"-b", "48", "-m", "m"}, 576},
                        {24000, 2, {"-V", "4"}, 576},    {16000, 2, {"-b", "32"}, 576}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channel(s)");
    const std::string name = "s" + std::to_string(n++);
    const auto mp3 = test::MakeMp3(dir, name + ".mp3", c.rate, c.channels, 2.5, c.options);
    const std::string out = dir.file(name + ".avi");
    const auto run = RunMux(video, mp3, out);
    ASSERT_EQ(run.outcome, TMuxOutcome::Done) << run.error;
    EXPECT_FALSE(run.aborted);

    EXPECT_EQ(test::ProbeValue(out, "v:0", "stream=codec_name"), "mjpeg");
    EXPECT_EQ(test::ProbeValue(out, "a:0", "stream=codec_name"), "mp3");
    EXPECT_EQ(test::ProbeValue(out, "a:0", "stream=sample_rate"), std::to_string(c.rate));
    EXPECT_EQ(test::ProbeValue(out, "a:0", "stream=channels"), std::to_string(c.channels));

    const auto outVideo = NonEmpty(test::ProbePackets(out, "v:0"));
    ASSERT_EQ(outVideo.size(), sourceVideo.size());
    for (size_t k = 0; k < outVideo.size(); ++k) EXPECT_EQ(outVideo[k].hash, sourceVideo[k].hash) << k;
    // ffprobe calls every MJPEG packet a key frame, so the flags are read back
    // from the index: pictures 0, 4, 8 and 12, at positions 2, 6, 10 and 14.
    EXPECT_EQ(KeyFramesOf(out), (std::vector<long>{2, 6, 10, 14}));

    // Frames found 1 ... n - 2: without lame's information frame at the
    // start, ffprobe's first packet is frame 0 and is not copied.
    const auto frames = test::ProbePackets(mp3, "a:0");
    const size_t skipped = 1 - static_cast<size_t>(test::LeadingInfoFrames(frames));
    const auto audio = NonEmpty(test::ProbePackets(out, "a:0"));
    ASSERT_EQ(audio.size() + 1 + skipped, frames.size());
    for (size_t k = 0; k < audio.size(); ++k)
      ASSERT_EQ(audio[k].hash, frames[k + skipped].hash) << "audio packet " << k;

    const double frameTime = static_cast<double>(c.samplesPerFrame) / c.rate;
    const double expected = static_cast<double>(audio.size()) * frameTime;
    const double duration = std::stod(test::ProbeValue(out, "a:0", "stream=duration"));
    EXPECT_NEAR(duration, expected, frameTime * 1.01);
    EXPECT_NEAR(audio.back().time, expected - frameTime, frameTime * 1.01);

    auto decode = test::RunCommand({"ffmpeg", "-v", "error", "-xerror", "-i", out, "-map", "0:a", "-f", "s16le", "-"});
    EXPECT_EQ(decode.status, 0) << decode.err;
    EXPECT_EQ(decode.err, "");
    const double decoded = static_cast<double>(decode.out.size()) / (2.0 * c.channels * c.rate);
    EXPECT_NEAR(decoded, expected, frameTime * 1.01);
  }
  EXPECT_EQ(test::ReadBytes(video), before);
}

TEST(MuxThdTest, StatusTextsProgressAndAudioFormat) {
  TempDir dir;
  const std::string video = MakeSilentVideo(dir, "silent.avi", 5);
  const auto mp3 = test::MakeMp3(dir, "cbr.mp3", 44100, 2, 2.0, {"-b", "128"});
  const std::string out = dir.file("out.avi");
  const auto run = RunMux(video, mp3, out);
  ASSERT_EQ(run.outcome, TMuxOutcome::Done) << run.error;

  const auto frames = test::ProbePackets(mp3, "a:0");
  const int count = static_cast<int>(frames.size()) + test::LeadingInfoFrames(frames) - 1;
  const std::vector<std::string> expected{"Audio : " + mp3,
                                          "Video : " + video,
                                          "Output : " + out,
                                          "Loading MP3 file",
                                          "MP3 file succesfully loaded (" + std::to_string(count) + " frames)",
                                          "Adding Video Stream",
                                          "Adding Audio Stream",
                                          "Done"};
  EXPECT_EQ(run.messages, expected);

  int scanReports = 0, videoReports = 0, audioReports = 0;
  for (const auto& [position, maximum, text] : run.progress) {
    if (text == "Loading MP3 file") {
      ++scanReports;
      EXPECT_EQ(maximum, 100);
      EXPECT_LE(position, 100);
    } else if (text == "Adding Video Stream") {
      EXPECT_EQ(position, videoReports++);
      EXPECT_EQ(maximum, 7);  // the file's length: positions 0 ... 6
    } else if (text == "Adding Audio Stream") {
      EXPECT_EQ(position, audioReports++);
      EXPECT_EQ(maximum, count - 1);
    } else {
      ADD_FAILURE() << "progress with \"" << text << "\"";
    }
  }
  EXPECT_EQ(scanReports, (count - 1) / 10);  // every tenth frame after the first
  EXPECT_EQ(videoReports, 7);                // the start, then samples 1 ... 6
  EXPECT_EQ(audioReports, count);            // the start, then chunks 1 ... count - 1

  AVISTREAMINFO info;
  const auto format = AudioFormatOf(out, info);
  const std::vector<uint8_t> mpeg1{0x55, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x80, 0x3E,
                                   0x00, 0x00, 0x80, 0x04, 0x00, 0x00, 0x0C, 0x00, 0x01, 0x00,
                                   0x02, 0x00, 0x00, 0x00, 0x0A, 0x02, 0x01, 0x00, 0x71, 0x05};
  EXPECT_EQ(format, mpeg1);
  EXPECT_EQ(info.dwScale, 1152u);
  EXPECT_EQ(info.dwRate, 44100u);
  EXPECT_EQ(info.dwSampleSize, 0u);

  // An MPEG-2 soundtrack: 576 samples a frame, announced as such.
  const auto low = test::MakeMp3(dir, "low.mp3", 22050, 1, 1.0, {"-b", "32", "-m", "m"});
  ASSERT_EQ(RunMux(video, low, dir.file("low.avi")).outcome, TMuxOutcome::Done);
  const auto lowFormat = AudioFormatOf(dir.file("low.avi"), info);
  ASSERT_EQ(lowFormat.size(), 30u);
  EXPECT_EQ(lowFormat[2], 1);                          // mono
  EXPECT_EQ(lowFormat[4] | lowFormat[5] << 8, 22050);  // rate
  EXPECT_EQ(lowFormat[8] | lowFormat[9] << 8, 4000);   // 32 kbit/s
  EXPECT_EQ(lowFormat[12] | lowFormat[13] << 8, 576);  // block alignment
  EXPECT_EQ(info.dwScale, 576u);
  EXPECT_EQ(info.dwRate, 22050u);
}

TEST(MuxThdTest, CancelDuringTheVideoCopyKeepsWhatWasWritten) {
  TempDir dir;
  const std::string video = MakeSilentVideo(dir, "silent.avi", 14);
  const auto before = test::ReadBytes(video);
  const auto mp3 = test::MakeMp3(dir, "s.mp3", 44100, 2, 1.0, {"-b", "128"});
  const std::string out = dir.file("out.avi");
  const auto run = RunMux(video, mp3, out, [](int position, int, const std::string& text) {
    return text == "Adding Video Stream" && position == 10;
  });
  EXPECT_EQ(run.outcome, TMuxOutcome::Cancelled);
  EXPECT_TRUE(run.aborted);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.messages.back(), "Adding Audio Stream");
  // A cancelled mux is no video with sound: nothing takes the output's name,
  // and an earlier file there stays as it was.
  EXPECT_FALSE(std::filesystem::exists(out));
  test::WriteText(out, "an earlier video");
  const auto again = RunMux(video, mp3, out, [](int position, int, const std::string& text) {
    return text == "Adding Audio Stream" && position == 3;
  });
  EXPECT_EQ(again.outcome, TMuxOutcome::Cancelled);
  EXPECT_EQ(test::ReadText(out), "an earlier video");
  EXPECT_EQ(test::ReadBytes(video), before);

  // A cancel during the scan or the encoding as well.
  const auto early = RunMux(video, mp3, dir.file("early.avi"),
                            [](int, int, const std::string& text) { return text == "Loading MP3 file"; });
  EXPECT_EQ(early.outcome, TMuxOutcome::Cancelled);
  const std::string wav = dir.file("silence.wav");
  ASSERT_EQ(test::RunCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "trim", "0", "3"}).status, 0);
  const auto encoding = RunMux(video, wav, dir.file("early.avi"), [](int position, int, const std::string& text) {
    return text == "Encoding the soundtrack to MP3" && position > 10;
  });
  EXPECT_EQ(encoding.outcome, TMuxOutcome::Cancelled);
  EXPECT_FALSE(std::filesystem::exists(dir.file("early.avi")));
  // No temporary file of the muxer's is left in the folder.
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().extension(), ".part") << e.path();
}

TEST(MuxThdTest, SoundtracksThatAreNotMp3AreEncodedAndSoundAsThemselves) {
  TempDir dir;
  const std::string video = MakeSilentVideo(dir, "silent.avi", 14);
  // A 440 Hz tone in the forms the issue found muxed as noise: an AAC stream
  // named .mp3, a WAV, a FLAC; and MPEG-2.5, whose frames cannot be copied.
  auto make = [&](const std::string& name, std::vector<std::string> codec) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=440:d=2", "-ac", "2"};
    argv.insert(argv.end(), codec.begin(), codec.end());
    argv.push_back(dir.file(name));
    EXPECT_EQ(test::RunCommand(argv).status, 0) << name;
    return dir.file(name);
  };
  struct Case {
    std::string file, kind;
  };
  const Case cases[] = {
      {make("aac.mp3", {"-c:a", "aac", "-f", "adts"}), "AAC"},
      {make("tone.wav", {"-ar", "22050"}), "WAV"},
      {make("tone.flac", {}), "FLAC"},
      {test::MakeMp3(dir, "low.mp3", 8000, 1, 2.0, {"-b", "16", "-m", "m"}), "MPEG audio"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string out = c.file + ".avi";
    const auto run = RunMux(video, c.file, out);
    ASSERT_EQ(run.outcome, TMuxOutcome::Done) << run.error;
    EXPECT_NE(std::find(run.messages.begin(), run.messages.end(), "Encoding the soundtrack to MP3"),
              run.messages.end());
    EXPECT_EQ(test::ProbeValue(out, "a:0", "stream=codec_name"), "mp3");
    EXPECT_EQ(test::ProbeValue(out, "a:0", "stream=sample_rate"), "44100");
    bool clean = false;
    const auto sound = test::DecodeMono(out, 44100, &clean);
    EXPECT_TRUE(clean);
    EXPECT_GT(sound.size(), 44100u * 3 / 2);
    if (c.kind != "MPEG audio") {
      // The tone at the level ffmpeg finds in the soundtrack itself.
      const double level = test::ToneLevel(test::DecodeMono(c.file, 44100), 44100, 440, 0.2, 1.5);
      EXPECT_GT(level, 0.05);
      EXPECT_NEAR(test::ToneLevel(sound, 44100, 440, 0.2, 1.5), level, level * 0.05);
      EXPECT_LT(test::ToneLevel(sound, 44100, 1000, 0.2, 1.5), level * 0.02);
    } else {
      // MPEG-2.5 of silence: it plays, silent, at its true length.
      EXPECT_LT(sound.size(), 44100u * 5 / 2);
    }
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().extension(), ".part") << e.path();
}

TEST(MuxThdTest, FailuresSayWhyAndLeaveTheSilentVideoAlone) {
  TempDir dir;
  const std::string video = MakeSilentVideo(dir, "silent.avi", 4);
  const auto before = test::ReadBytes(video);
  const auto mp3 = test::MakeMp3(dir, "s.mp3", 44100, 2, 1.0, {"-b", "128"});
  // Neither music nor anything the audio library reads.
  const std::string text = dir.file("notes.mp3");
  test::WriteText(text, std::string(3000, 'x'));
  const std::string garbage = dir.file("garbage.avi");
  test::WriteBytes(garbage, std::vector<uint8_t>(5000, 0xA5));

  struct Case {
    std::string video, audio, output, errorPart;
    bool outputMayExist;
  };
  const Case cases[] = {
      {video, dir.file("missing.mp3"), dir.file("o1.avi"), "missing.mp3", false},
      {video, text, dir.file("o2.avi"), "notes.mp3\" cannot be read: Invalid MPEG file", false},
      {garbage, mp3, dir.file("o4.avi"), "FileOpen failed. Err: $", false},
      {dir.file("none.avi"), mp3, dir.file("o5.avi"), "FileOpen failed. Err: $", false},
      {video, mp3, video, "must differ", true},
      {video, mp3, dir.path().string() + "/./silent.avi", "must differ", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.errorPart + " / " + c.output);
    const auto run = RunMux(c.video, c.audio, c.output);
    EXPECT_EQ(run.outcome, TMuxOutcome::Failed);
    EXPECT_FALSE(run.aborted);
    EXPECT_NE(run.error.find(c.errorPart), std::string::npos) << run.error;
    EXPECT_TRUE(std::find(run.messages.begin(), run.messages.end(), "Done") == run.messages.end());
    if (!c.outputMayExist) {
      EXPECT_FALSE(std::filesystem::exists(c.output));
    }
    EXPECT_EQ(test::ReadBytes(video), before);
  }
  // The code of a failed library call follows as 8 hexadecimal digits, and
  // the text names the muxer's unit.
  // The file read and what is wrong with it come first.
  const auto run = RunMux(garbage, mp3, dir.file("o6.avi"));
  const std::string cause = "Cannot read \"" + garbage + "\": not an AVI file, or a damaged one\n";
  ASSERT_EQ(run.error.compare(0, cause.size(), cause), 0) << run.error;
  const std::string prefix = "FileOpen failed. Err: $";
  ASSERT_EQ(run.error.compare(cause.size(), prefix.size(), prefix), 0) << run.error;
  const std::string code = run.error.substr(cause.size() + prefix.size(), 8);
  EXPECT_EQ(code.find_first_not_of("0123456789ABCDEF"), std::string::npos) << run.error;
  EXPECT_EQ(run.error.substr(cause.size() + prefix.size() + 8, 16), " (U_MuxThd, line") << run.error;
  const auto missing = RunMux(video, mp3, dir.file("no/such/folder/o7.avi"));
  EXPECT_EQ(missing.error.rfind("Cannot write \"" + dir.file("no/such/folder/o7.avi") + "\": " + std::strerror(ENOENT) +
                                    "\nFileOpen failed. Err: $8004406F (U_MuxThd, line ",
                                0),
            0u)
      << missing.error;
}

// A video of another writer has its first key frame at sample 0, and every
// frame after it depends on it: it is copied, or nothing decodes.
TEST(MuxThdTest, VideosOfOtherWritersKeepTheirFirstFrame) {
  TempDir dir;
  const std::string video = dir.file("mpeg4.avi");
  auto made = test::RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10",
                                "-frames:v", "12", "-c:v", "mpeg4", "-g", "100", "-bf", "0", video});
  ASSERT_EQ(made.status, 0) << made.err;
  const auto mp3 = test::MakeMp3(dir, "s.mp3", 44100, 2, 1.0, {"-b", "128"});
  const std::string out = dir.file("out.avi");
  const auto run = RunMux(video, mp3, out);
  ASSERT_EQ(run.outcome, TMuxOutcome::Done) << run.error;
  const auto source = NonEmpty(test::ProbePackets(video, "v:0"));
  const auto copied = NonEmpty(test::ProbePackets(out, "v:0"));
  ASSERT_EQ(source.size(), 12u);
  ASSERT_EQ(copied.size(), 12u);
  for (size_t k = 0; k < copied.size(); ++k) EXPECT_EQ(copied[k].hash, source[k].hash) << k;
  EXPECT_EQ(KeyFramesOf(out), std::vector<long>{0});
  auto decode = test::RunCommand({"ffmpeg", "-v", "error", "-i", out, "-map", "0:v", "-f", "null", "-"});
  EXPECT_EQ(decode.status, 0);
  EXPECT_EQ(decode.err, "");
  EXPECT_EQ(test::ProbeValue(out, "v:0", "stream=nb_frames"), "12");
}

namespace {

void Put32At(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(MuxThdTest, CutShortPipesAndLyingIndexesAreNotCopiedBlindly) {
  TempDir dir;
  const std::string video = MakeSilentVideo(dir, "silent.avi", 6);
  const auto whole = test::ReadBytes(video);
  const auto mp3 = test::MakeMp3(dir, "s.mp3", 44100, 2, 1.0, {"-b", "128"});

  // A silent video cut short is reported, not taken for the whole.
  const std::string cut = dir.file("cut.avi");
  test::WriteBytes(cut, std::vector<uint8_t>(whole.begin(), whole.end() - 3000));
  auto run = RunMux(cut, mp3, dir.file("o1.avi"));
  EXPECT_EQ(run.outcome, TMuxOutcome::Failed);
  EXPECT_NE(run.error.find("FileOpen failed. Err: $8004406D (U_MuxThd, line "), std::string::npos) << run.error;
  EXPECT_NE(run.error.find("cut.avi\": the file is cut short: it ends at byte " + std::to_string(whole.size() - 3000)),
            std::string::npos)
      << run.error;
  EXPECT_FALSE(std::filesystem::exists(dir.file("o1.avi")));

  // An index naming the last picture 4000 times: copied blindly it would make
  // a file of thousands of pictures from one of six.
  std::vector<uint8_t> lying = whole;
  size_t idx1 = lying.size() - 8 - 16 * 8;  // our index: its 8 entries end the file
  ASSERT_EQ(std::string(lying.begin() + static_cast<long>(idx1), lying.begin() + static_cast<long>(idx1) + 4), "idx1");
  const std::vector<uint8_t> last(lying.end() - 16, lying.end());
  for (int k = 0; k < 4000; ++k) lying.insert(lying.end(), last.begin(), last.end());
  Put32At(lying, idx1 + 4, 16 * (8 + 4000));
  Put32At(lying, 4, static_cast<uint32_t>(lying.size() - 8));
  const std::string lies = dir.file("lies.avi");
  test::WriteBytes(lies, lying);
  run = RunMux(lies, mp3, dir.file("o2.avi"));
  ASSERT_EQ(run.outcome, TMuxOutcome::Done) << run.error;
  EXPECT_LT(std::filesystem::file_size(dir.file("o2.avi")), 2 * whole.size() + 100000);
  EXPECT_EQ(NonEmpty(test::ProbePackets(dir.file("o2.avi"), "v:0")).size(), 6u);

  // Named pipes are refused at once, whichever input they stand for.
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  run = RunMux(fifo, mp3, dir.file("o3.avi"));
  EXPECT_EQ(run.outcome, TMuxOutcome::Failed);
  EXPECT_NE(run.error.find("\"" + fifo + "\": is a named pipe"), std::string::npos) << run.error;
  run = RunMux(video, fifo, dir.file("o4.avi"));
  EXPECT_EQ(run.outcome, TMuxOutcome::Failed);
  EXPECT_EQ(run.error, "Cannot open the soundtrack \"" + fifo + "\": is a named pipe");

  // A long soundtrack without a single frame still notices a cancel: 256 MiB
  // of nothing (a sparse file) is neither loaded nor scanned to its end.
  const std::string empty = dir.file("nothing.mp3");
  test::WriteBytes(empty, {});
  std::filesystem::resize_file(empty, 256u << 20);
  run = RunMux(video, empty, dir.file("o5.avi"), {}, true);
  EXPECT_EQ(run.outcome, TMuxOutcome::Cancelled) << run.error;
  EXPECT_TRUE(run.aborted);
  EXPECT_FALSE(std::filesystem::exists(dir.file("o5.avi")));

  // A RIFF size that ends before the frames: they are not silently lost,
  // the video is refused with the reason.
  auto bytes = test::ReadBytes(video);
  size_t movi = 0;
  for (size_t at = 0; at + 4 <= bytes.size() && movi == 0; ++at)
    if (std::memcmp(bytes.data() + at, "movi", 4) == 0) movi = at;
  ASSERT_GT(movi, 0u);
  for (int i = 0; i < 4; ++i) bytes[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(movi >> (8 * i));
  const std::string small = dir.file("smallriff.avi");
  test::WriteBytes(small, bytes);
  run = RunMux(small, mp3, dir.file("o6.avi"));
  EXPECT_EQ(run.outcome, TMuxOutcome::Failed);
  EXPECT_NE(run.error.find("the RIFF size is wrong"), std::string::npos) << run.error;
  EXPECT_FALSE(std::filesystem::exists(dir.file("o6.avi")));
}

}  // namespace
}  // namespace sdm
