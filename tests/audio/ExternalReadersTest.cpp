// The readers over external decoders (Ogg Vorbis, WMA, Monkey's Audio, AC-3,
// Musepack, FLAC) against tools we did not write: files made by ffmpeg and
// mpcenc in the test (Monkey's Audio: small committed samples), figures
// against ffprobe, PCM against ffmpeg's decoding of the same file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "audio/U_AudioFile.h"
#include "audio/readers/Ac3File.h"
#include "audio/readers/FlacFile.h"
#include "audio/readers/OggFile.h"
#include "audio/readers/WmaFile.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using namespace sdm::test;

namespace {

using TPcm = std::vector<int16_t>;

bool HaveTools() { return HaveTool("ffmpeg") && HaveTool("ffprobe"); }

// A tone with some noise, so every band of a lossy coder carries something.
void MakeWithFfmpeg(const std::string& out, const std::vector<std::string>& encode, int rate = 44100, int channels = 2,
                    double seconds = 0.9, double noise = 0.02) {
  std::vector<std::string> argv = {
      "ffmpeg",
      "-v",
      "error",
      "-y",
      "-f",
      "lavfi",
      "-i",
      "sine=frequency=440:sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds),
      "-f",
      "lavfi",
      "-i",
      "anoisesrc=a=" + std::to_string(noise) + ":seed=3:r=" + std::to_string(rate) + ":d=" + std::to_string(seconds),
      "-filter_complex",
      "[0][1]amix=inputs=2:normalize=0",
      "-ac",
      std::to_string(channels)};
  argv.insert(argv.end(), encode.begin(), encode.end());
  argv.push_back(out);
  auto r = RunCommand(argv);
  ASSERT_EQ(r.status, 0) << r.err;
}

TPcm FfmpegPcm(const std::string& path) {
  auto r = RunCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  TPcm pcm(r.out.size() / 2);
  std::memcpy(pcm.data(), r.out.data(), pcm.size() * 2);
  return pcm;
}

std::map<std::string, std::string> Probe(const std::string& path) {
  auto r = RunCommand({"ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,channels:format=duration", "-of",
                       "default=noprint_wrappers=1", path});
  std::map<std::string, std::string> values;
  size_t at = 0;
  while (at < r.out.size()) {
    size_t end = r.out.find('\n', at);
    std::string line = r.out.substr(at, end - at);
    auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    at = end == std::string::npos ? r.out.size() : end + 1;
  }
  return values;
}

// Everything a reader delivers, read as the decode command does: up to its
// PCM size, stopping at a false.
TPcm ReadAll(TAbstractAudioFile& f, int32_t chunk = 65536) {
  TPcm out;
  std::vector<uint8_t> buf(static_cast<size_t>(chunk));
  const int64_t size = f.GetPcmSize();
  while (static_cast<int64_t>(out.size()) * 2 < size) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(chunk, size - static_cast<int64_t>(out.size()) * 2));
    bool more = f.ReadPcm(buf.data(), n);
    if (n < 2) break;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) / 2);
    std::memcpy(out.data() + at, buf.data(), static_cast<size_t>(n / 2) * 2);
    if (!more) break;
  }
  return out;
}

TPcm ReadAt(TAbstractAudioFile& f, int64_t position, int32_t bytes) {
  f.Seek(position);
  std::vector<uint8_t> buf(static_cast<size_t>(bytes));
  int32_t n = bytes;
  f.ReadPcm(buf.data(), n);
  TPcm out(static_cast<size_t>(n) / 2);
  std::memcpy(out.data(), buf.data(), out.size() * 2);
  return out;
}

int MaxDifference(const TPcm& a, const TPcm& b, size_t n) {
  int d = 0;
  for (size_t i = 0; i < n; ++i) d = std::max(d, std::abs(a[i] - b[i]));
  return d;
}

double SnrDb(const TPcm& signal, const TPcm& test, size_t n) {
  double s = 0, e = 0;
  for (size_t i = 0; i < n; ++i) {
    s += double(signal[i]) * signal[i];
    e += (double(signal[i]) - test[i]) * (double(signal[i]) - test[i]);
  }
  return e == 0 ? 200.0 : 10 * std::log10(s / e);
}

struct TCase {
  std::string name;  // file name: its extension picks the reader
  uint8_t kind;
  std::vector<std::string> encode;
  int rate = 44100;
  int channels = 2;
  bool sameDecoder = true;  // ffmpeg decodes with the code we use: within 1 LSB
};

// The AC-3 decoder dithers the mantissas it gets no bits for, from a random
// sequence that runs on from the start of the file; after a seek that noise
// differs, so AC-3 seeks are checked on a clean tone, by SNR.
bool Dithers(const TCase& c) { return c.kind == akAc3; }

// The files of every kind the tests make (Monkey's Audio: committed).
std::vector<TCase> Cases() {
  return {{"vorbis.ogg", akOgg, {"-c:a", "libvorbis", "-q:a", "6"}, 44100, 2, false},
          {"v1.wma", akWma, {"-c:a", "wmav1", "-b:a", "128k"}},
          {"v2.asf", akWma, {"-c:a", "wmav2", "-b:a", "96k"}, 32000, 1},
          {"mono48.flac", akFlac, {"-c:a", "flac"}, 48000, 1},
          {"deep.flac", akFlac, {"-c:a", "flac", "-sample_fmt", "s32"}, 96000, 2},
          {"stereo.ac3", akAc3, {"-c:a", "ac3", "-b:a", "192k"}, 48000, 2},
          {"film.ac3", akAc3, {"-c:a", "ac3", "-b:a", "384k"}, 48000, 6},
          {"stereo-44100.ape", akApe, {}},
          {"mono-22050.ape", akApe, {}, 22050, 1},
          {"music.mpc", akMpc, {}}};
}

// Makes the case's file as path (mpcenc for Musepack, a copy of the sample
// for Monkey's Audio).
void Make(const std::string& path, const TCase& c, double noise) {
  if (c.kind == akApe) {
    std::filesystem::copy_file(SourcePath("tests/data/audio-samples/" + c.name), path);
  } else if (c.kind == akMpc) {
    std::string wav = path + ".wav";
    MakeWithFfmpeg(wav, {}, c.rate, c.channels, 0.9, noise);
    auto r = RunCommand({"mpcenc", "--silent", "--overwrite", wav, path});
    EXPECT_EQ(r.status, 0) << r.err;
    std::filesystem::remove(wav);
  } else {
    MakeWithFfmpeg(path, c.encode, c.rate, c.channels, 0.9, noise);
  }
}

// The files are made once for all the tests that only read them, in a
// folder of the build that the test processes share (each test runs in a
// process of its own); a test that changes a file works on its own copy.
// Clean files carry the tone alone.
std::string Sample(const TCase& c, bool clean = false) {
  const char* shared = std::getenv("SDM_TEST_TMP");
  static TempDir own;
  const std::filesystem::path dir =
      shared ? std::filesystem::path(shared) / "external-reader-samples-1" : own.path();  // new number for new cases
  std::filesystem::create_directories(dir);
  const std::string name = (clean ? "clean-" : "") + c.name;
  const std::filesystem::path path = dir / name;
  if (!std::filesystem::exists(path)) {
    // Made under a name of this process and renamed, so a test running
    // beside this one never sees half a file.
    const std::filesystem::path part = dir / ("part-" + std::to_string(::getpid()) + "-" + name);
    Make(part.string(), c, clean ? 0.0 : 0.02);
    std::filesystem::rename(part, path);
  }
  return path.string();
}

std::string CopyOf(const TempDir& dir, const TCase& c) {
  std::string path = dir.file(c.name);
  std::filesystem::copy_file(Sample(c), path);
  return path;
}

}  // namespace

TEST(ExternalReaders, FiguresAndPcmAgreeWithFfprobeAndFfmpeg) {
  if (!HaveTools() || !HaveTool("mpcenc")) GTEST_SKIP() << "ffmpeg, ffprobe or mpcenc missing";
  TempDir dir;
  for (const TCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::string path = Sample(c);
    auto probe = Probe(path);
    ASSERT_EQ(probe.size(), 3u) << "ffprobe cannot read the file";
    TAudioFile audio;
    audio.SetFileName(path);
    ASSERT_EQ(audio.FormatKind, c.kind);
    const double seconds = audio.GetDuration() * 86400;
    TAbstractAudioFile& r = *audio.Reader;
    EXPECT_EQ(r.GetFormatKind(), c.kind);
    EXPECT_EQ(std::to_string(r.GetSampleRate()), probe["sample_rate"]);
    EXPECT_EQ(std::to_string(r.GetChannels()), probe["channels"]);
    EXPECT_EQ(r.GetBitsPerSample(), 16u);
    EXPECT_EQ(r.GetFileSize(), static_cast<int64_t>(std::filesystem::file_size(path)));
    EXPECT_GT(r.GetBitRate(), 0u);
    // The play time is the file's, never 0 (FLAC once reported 0 here).
    // ffprobe only estimates Musepack's; Debian's decoder gives the samples.
    if (c.kind == akMpc) {
      std::string wav = dir.file("mpcdec.wav");
      ASSERT_EQ(RunCommand({"mpcdec", path, wav}).status, 0);
      probe["duration"] = Probe(wav)["duration"];
    }
    EXPECT_NEAR(seconds, std::stod(probe["duration"]), 0.002);

    TPcm ours = ReadAll(r);
    TPcm theirs = FfmpegPcm(path);
    EXPECT_EQ(r.GetPosition(), static_cast<int64_t>(ours.size()) * 2);
    if (c.kind == akWma) {
      // The header's play time, which the PCM size comes from, runs a
      // little past the decoded samples.
      EXPECT_EQ(ours.size(), theirs.size());
      EXPECT_LE(static_cast<int64_t>(theirs.size()) * 2, r.GetPcmSize());
    } else {
      EXPECT_EQ(static_cast<int64_t>(ours.size()) * 2, r.GetPcmSize());
      // Musepack's last frame is padded past the length its header states.
      // ffmpeg's own Vorbis decoder trims the stream's ends its own way.
      if (c.kind == akMpc) {
        EXPECT_LE(ours.size(), theirs.size());
      } else if (c.kind == akOgg) {
        EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(theirs.size()), 2048.0 * c.channels);
      } else {
        EXPECT_EQ(ours.size(), theirs.size());
      }
    }
    const size_t n = std::min(ours.size(), theirs.size());
    ASSERT_GT(n, static_cast<size_t>(c.rate) * c.channels / 4);
    if (c.sameDecoder)
      EXPECT_LE(MaxDifference(ours, theirs, n), 1);
    else
      EXPECT_GT(SnrDb(theirs, ours, n), 60.0);
  }
}

TEST(ExternalReaders, SeeksLandWhereReadingFromTheStartWould) {
  if (!HaveTools() || !HaveTool("mpcenc")) GTEST_SKIP() << "ffmpeg, ffprobe or mpcenc missing";
  for (const TCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::string path = Sample(c, Dithers(c));
    TAudioFile audio;
    audio.SetFileName(path);
    ASSERT_TRUE(audio.Open());
    TAbstractAudioFile& r = *audio.Reader;
    TPcm whole = ReadAll(r);
    const int64_t frame = 2 * static_cast<int64_t>(c.channels);
    const int64_t frames = static_cast<int64_t>(whole.size()) / c.channels;
    // Forward, back, into the middle of a codec frame, an odd byte offset,
    // and back to the start.
    for (double at : {0.61, 0.17, 0.2503, 0.05, 0.0}) {
      const int64_t first = std::min(static_cast<int64_t>(at * static_cast<double>(frames)), frames - 4096);
      const int64_t position = first * frame + (at == 0.05 ? 1 : 0);
      const int64_t start = position / frame * frame;
      TPcm got = ReadAt(r, position, 4096 * static_cast<int32_t>(frame));
      ASSERT_EQ(got.size(), 4096u * c.channels) << at;
      TPcm want(whole.begin() + start / 2, whole.begin() + start / 2 + static_cast<int64_t>(got.size()));
      if (Dithers(c)) {
        EXPECT_GT(SnrDb(want, got, got.size()), 60.0) << at;
      } else {
        EXPECT_EQ(MaxDifference(got, want, got.size()), 0) << at;
      }
      EXPECT_EQ(r.GetPosition(), start + 4096 * frame) << at;
    }
  }
}

TEST(ExternalReaders, TagsRoundTripAndLeaveTheAudioAlone) {
  if (!HaveTools() || !HaveTool("mpcenc")) GTEST_SKIP() << "ffmpeg, ffprobe or mpcenc missing";
  TempDir dir;
  for (const TCase& c : Cases()) {
    if (c.name != "vorbis.ogg" && c.name != "mono48.flac" && c.name != "stereo.ac3" && c.name != "mono-22050.ape" &&
        c.name != "music.mpc")
      continue;
    SCOPED_TRACE(c.name);
    std::string path = CopyOf(dir, c);
    const auto original = ReadBytes(path);
    TPcm before, theirs = FfmpegPcm(path);
    uint32_t kinds = 0;
    {
      TAudioFile audio;
      audio.SetFileName(path);
      ASSERT_TRUE(audio.Open());
      before = ReadAll(*audio.Reader);
      // Each kind writes the tags its reader reads first.
      kinds = c.kind == akOgg ? tkVorbis : c.kind == akApe || c.kind == akMpc ? tkApeV2 : tkId3v2;
      audio.Reader->Tags = {"TITLE=Über", "ARTIST=Someone"};
      EXPECT_TRUE(audio.Reader->WriteTags(kinds));
    }
    TAudioFile audio;
    audio.SetFileName(path);
    ASSERT_TRUE(audio.Open());
    TAbstractAudioFile& r = *audio.Reader;
    EXPECT_EQ(r.TagValue("title"), "Über");
    EXPECT_EQ(r.TagValue("artist"), "Someone");
    EXPECT_NE(r.TagKinds & kinds, 0u);
    if (c.kind == akAc3) {  // the ID3 values replace the decoder's line
      EXPECT_EQ(r.TagValue("DECODER"), "");
    }
    if (c.kind == akFlac) {  // the stream's own comments follow the ID3 values
      EXPECT_EQ(r.Tags.front(), "TITLE=Über");
      EXPECT_NE(r.TagValue("encoder"), "");
    }
    EXPECT_EQ(ReadAll(r), before);
    // A decoder we did not write still decodes the same audio and, except
    // for FLAC whose own comments it prefers, sees the title.
    EXPECT_EQ(FfmpegPcm(path), theirs);
    auto probe = RunCommand(
        {"ffprobe", "-v", "error", "-show_entries", "format_tags=title:stream_tags=title", "-of", "csv=p=0", path});
    EXPECT_EQ(probe.status, 0) << probe.err;
    if (c.kind != akFlac) {
      EXPECT_NE(probe.out.find("Über"), std::string::npos) << probe.out;
    }
    EXPECT_TRUE(r.RemoveTags(kinds));
    if (c.kind != akOgg) {
      EXPECT_EQ(ReadBytes(path), original);
    } else {
      TOggFile again(path);
      EXPECT_EQ(again.TagKinds, tkVorbis);  // an empty comment header stays
      EXPECT_EQ(again.Tags.size(), 0u);
      EXPECT_EQ(ReadAll(again), before);
    }
  }
}

TEST(ExternalReaders, WindowsMediaAttributesAndOutputs) {
  if (!HaveTools()) GTEST_SKIP() << "ffmpeg missing";
  TempDir dir;
  std::string wma = dir.file("t.wma");
  MakeWithFfmpeg(wma, {"-c:a", "wmav2", "-metadata", "title=Night", "-metadata", "artist=Band", "-metadata",
                       "album=Record", "-metadata", "genre=Jazz"});
  TWMAAudioFile f(wma);
  EXPECT_EQ(f.TagValue("TITLE"), "Night");
  EXPECT_EQ(f.TagValue("ARTIST"), "Band");
  EXPECT_EQ(f.TagValue("ALBUM"), "Record");  // WM/AlbumTitle
  EXPECT_EQ(f.TagValue("GENRE"), "Jazz");
  EXPECT_EQ(f.TagValue("SEEKABLE"), "1");
  // Duration in 100-ns units and the PCM size worked out from it.
  const auto probe = Probe(wma);
  EXPECT_NEAR(f.GetTagInt("DURATION") / 1e7, std::stod(probe.at("duration")), 1e-6);
  EXPECT_EQ(f.GetPcmSize(), static_cast<int64_t>(std::stoll(f.TagValue("DURATION")) * 44100.0 * 4 / 1e7) / 4 * 4);
  EXPECT_EQ(f.GetBitRate(), static_cast<uint32_t>(f.GetTagInt("BITRATE")));
  EXPECT_FALSE(f.WriteTags(tkId3v2));  // not supported
  EXPECT_FALSE(f.RemoveTags(tkId3v1));
  EXPECT_EQ(WmaTagName("wm/albumtitle"), "ALBUM");
  EXPECT_EQ(WmaTagName("BannerImageData"), "");
  EXPECT_EQ(WmaTagName("Something/Else"), "Something/Else");

  // Audio and video: two outputs; video alone: no audio.
  std::string both = dir.file("both.asf"), video = dir.file("video.asf");
  auto r = RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:duration=0.5", "-f", "lavfi",
                       "-i", "sine=duration=0.5", "-c:v", "wmv2", "-c:a", "wmav2", both});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCommand(
      {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:duration=0.5", "-c:v", "wmv2", video});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THROW(
      {
        try {
          TWMAAudioFile two(both);
        } catch (const EError& e) {
          EXPECT_STREQ(e.what(), "This Windows Media file contains too many outputs (2)");
          throw;
        }
      },
      EError);
  EXPECT_THROW(
      {
        try {
          TWMAAudioFile none(video);
        } catch (const EError& e) {
          EXPECT_STREQ(e.what(), "WMA doesn't contains Audio data");
          throw;
        }
      },
      EError);
}

TEST(ExternalReaders, BadInputGivesEachReadersMessage) {
  TempDir dir;
  const std::map<std::string, std::string> messages = {{"ogg", "\"" + dir.file("t.ogg") + "\" is not a Ogg bitstream"},
                                                       {"wma", "Failed to open the wm file - 0x"},
                                                       {"asf", "Failed to open the wm file - 0x"},
                                                       {"ape", "Invalid APE file " + dir.file("t.ape")},
                                                       {"ac3", "Invalid AC3 file"},
                                                       {"mpc", "\"" + dir.file("t.mpc") + "\" is not a MPC bitstream"},
                                                       {"flac", "Invalid FLAC file " + dir.file("t.flac")}};
  for (const std::string& content : {std::string("This is a text file, not music.\n"), std::string()}) {
    for (const auto& [ext, message] : messages) {
      std::string path = dir.file("t." + ext);
      WriteText(path, content);
      TAudioFile audio;
      audio.SetFileName(path);
      try {
        audio.Open();
        ADD_FAILURE() << ext << " opened";
      } catch (const EError& e) {
        EXPECT_EQ(std::string(e.what()).substr(0, message.size()), message) << ext;
      }
      EXPECT_FALSE(audio.IsOpen);
    }
  }
  try {
    OggSeekOrigin(3);
    ADD_FAILURE() << "no error";
  } catch (const EError& e) {
    EXPECT_STREQ(e.what(), "Bad file origin");
  }
  EXPECT_EQ(OggSeekOrigin(SEEK_END), 2);
}

TEST(ExternalReaders, DamagedFilesOpenOrFailCleanlyAndReadingEnds) {
  if (!HaveTools() || !HaveTool("mpcenc")) GTEST_SKIP() << "ffmpeg, ffprobe or mpcenc missing";
  TempDir dir;
  for (const TCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    auto bytes = ReadBytes(Sample(c));
    // Cut in the middle, and a run of garbage over the first half of the audio.
    for (int damage = 0; damage < 2; ++damage) {
      auto broken = bytes;
      if (damage == 0) {
        broken.resize(bytes.size() / 2);
      } else {
        for (size_t i = bytes.size() / 4; i < bytes.size() / 2; ++i) broken[i] = static_cast<uint8_t>(i * 131 + 7);
      }
      std::string bad = dir.file("bad-" + c.name);
      WriteBytes(bad, broken);
      TAudioFile audio;
      audio.SetFileName(bad);
      try {
        audio.GetDuration();
      } catch (const EError&) {
        continue;  // a clear refusal is fine
      }
      TPcm pcm = ReadAll(*audio.Reader);
      EXPECT_LE(static_cast<int64_t>(pcm.size()) * 2, audio.Reader->GetPcmSize());
    }
  }
}

TEST(ExternalReaders, Ac3FilesOpenTogetherAndOddSizedTagsDoNotHideTheFrames) {
  if (!HaveTools()) GTEST_SKIP() << "ffmpeg missing";
  TempDir dir;
  std::string a = dir.file("a.ac3"), b = dir.file("b.ac3");
  MakeWithFfmpeg(a, {"-c:a", "ac3"}, 48000, 2, 0.5);
  MakeWithFfmpeg(b, {"-c:a", "ac3"}, 32000, 1, 0.5);
  TAc3File first(a);
  TAc3File second(b);  // no limit of one stream
  EXPECT_EQ(first.GetSampleRate(), 48000u);
  EXPECT_EQ(second.GetSampleRate(), 32000u);
  EXPECT_EQ(second.GetChannels(), 1u);
  EXPECT_EQ(first.FirstFrameOffset, 0);
  // PCM size: whole frames after the first, 1536 samples each.
  EXPECT_EQ(first.GetPcmSize(), static_cast<int64_t>(std::filesystem::file_size(a)) / first.FrameSize * 1536 * 4);
  EXPECT_EQ(first.GetBitRate(), 1000u * (static_cast<uint32_t>(first.FrameSize) * 8 * 48000 / 1536 / 1000));
  EXPECT_EQ(Ac3FrameBytes(1, 1), 140);  // 44.1 kHz frames alternate in length
  EXPECT_EQ(Ac3FrameBytes(3, 0), 0);
  EXPECT_EQ(Ac3FrameBytes(0, 38), 0);
  // An ID3v2 tag of odd length moves the stream to an odd offset.
  TPcm before = ReadAll(first);
  TAc3File tagged(a);
  tagged.Tags = {"TITLE=x"};
  ASSERT_TRUE(tagged.WriteTags(tkId3v2));
  TAc3File reread(a);
  EXPECT_EQ(reread.FirstFrameOffset % 2, 1);
  EXPECT_EQ(reread.TagValue("TITLE"), "x");
  EXPECT_EQ(ReadAll(reread), before);
}

TEST(ExternalReaders, VorbisChannelsComeInTheWaveOrder) {
  if (!HaveTools()) GTEST_SKIP() << "ffmpeg missing";
  // A different tone per channel of a 5.1 file; ffmpeg's own Vorbis decoder
  // hands the channels over in the WAVE order (FL FR FC LFE BL BR).
  TempDir dir;
  std::string path = dir.file("six.ogg");
  std::string graph;
  for (int c = 0; c < 6; ++c)
    graph += "sine=frequency=" + std::to_string(200 + 150 * c) + ":duration=0.5[s" + std::to_string(c) + "];";
  graph += "[s0][s1][s2][s3][s4][s5]join=inputs=6:channel_layout=5.1";
  auto r = RunCommand({"ffmpeg", "-v", "error", "-filter_complex", graph, "-c:a", "libvorbis", path});
  ASSERT_EQ(r.status, 0) << r.err;
  TOggFile f(path);
  ASSERT_EQ(f.GetChannels(), 6u);
  TPcm ours = ReadAll(f);
  TPcm theirs = FfmpegPcm(path);
  // libvorbisfile trims the end of the stream to its last granule position,
  // ffmpeg a few samples less.
  ASSERT_EQ(static_cast<int64_t>(ours.size()) * 2, f.GetPcmSize());
  ASSERT_GE(ours.size(), theirs.size());
  ASSERT_GT(theirs.size(), 6u * 20000);
  for (size_t c = 0; c < 6; ++c) {
    TPcm a, b;
    for (size_t i = c; i < theirs.size(); i += 6) a.push_back(ours[i]), b.push_back(theirs[i]);
    EXPECT_GT(SnrDb(b, a, a.size()), 60.0) << "channel " << c;
  }
}
