// The whole job as a careless or hostile user meets it, over random cases
// (seeded, so a failure repeats): a soundtrack of a random kind, sometimes
// damaged, an output where an earlier video may stand, and a run that may be
// cancelled (SIGINT) or killed (SIGKILL) at a random moment. After each run:
// - a file said written decodes in ffmpeg without a word (a copied MP3 may
//   carry the damage its soundtrack had, and no more),
// - its sound is the soundtrack's (the test tone at the level ffmpeg finds
//   in the soundtrack itself),
// - anything else leaves the earlier video as it was, or (a cancel after the
//   first frame) a shorter video that decodes,
// - and nothing half-written ever stands at the output's name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "testsupport/AudioCheck.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::RunCommand;

struct TSoundKind {
  const char* name;                // file name, its extension choosing the reader
  std::vector<std::string> codec;  // ffmpeg's options
  bool copied;                     // MPEG audio: its frames go into the video unchanged
};

const TSoundKind kKinds[] = {
    {"tone.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}, true},
    {"tone.wav", {}, false},
    {"tone.flac", {}, false},
    {"tone.ogg", {"-c:a", "libvorbis"}, false},
    {"tone.ac3", {"-ar", "48000"}, false},
    {"aac.mp3", {"-c:a", "aac", "-f", "adts"}, false},
    {"tone.wma", {"-c:a", "wmav2"}, false},
};

// A run of the command line in the background, stopped by a signal after
// `after` unless it ends first.
struct TRun {
  int status = -1;  // the exit status, or -1 when killed
  std::string err;
};

TRun RunRender(const std::vector<std::string>& args, const std::string& errFile, int signal, int afterMs) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int nul = ::open("/dev/null", O_RDWR);
    dup2(nul, 0);
    dup2(nul, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  TRun run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs);
  bool signalled = signal == 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (!signalled && std::chrono::steady_clock::now() >= deadline) {
      kill(pid, signal);
      signalled = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = test::ReadText(errFile);
  return run;
}

// What ffmpeg says decoding a file (nothing for a sound file).
std::string Complaints(const std::string& path) {
  return RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"}).err;
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class JobProperty : public test::PrivateRegistryTest {};

TEST_F(JobProperty, NothingLostNothingFalseOverRandomSoundtracksDamageAndStops) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  // A seed whose eight cases include a cancel, kills, a soundtrack that is AAC
  // named .mp3, and damaged MP3, Ogg and WAV soundtracks.
  std::mt19937 random(5);
  // The soundtracks: two seconds of a 440 Hz tone in every kind.
  fs::create_directory(dir.file("sounds"));
  for (const TSoundKind& k : kKinds) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=2", "-ac", "2"};
    argv.insert(argv.end(), k.codec.begin(), k.codec.end());
    argv.push_back(dir.file(std::string("sounds/") + k.name));
    ASSERT_EQ(RunCommand(argv).status, 0) << k.name;
  }
  const std::string out = dir.file("show.avi"), errFile = dir.file("stderr.txt");
  const std::vector<std::string> pictures = {test::SourcePath("examples/landscape.jpg"),
                                             test::SourcePath("examples/bars.bmp")};
  constexpr int kIterations = 8;
  for (int iteration = 0; iteration < kIterations; ++iteration) {
    const TSoundKind& kind = kKinds[random() % std::size(kKinds)];
    const bool damaged = random() % 3 == 0;
    const int stop = static_cast<int>(random() % 4);  // 0, 1: runs to its end; 2: SIGINT; 3: SIGKILL
    const int afterMs = 10 + static_cast<int>(random() % 500);
    SCOPED_TRACE("iteration " + std::to_string(iteration) + ": " + kind.name + (damaged ? " damaged" : "") +
                 (stop == 2   ? ", cancelled"
                  : stop == 3 ? ", killed"
                              : "") +
                 " after " + std::to_string(afterMs) + " ms");
    // The soundtrack, damaged in its last third (the sound is compared
    // before it).
    const std::string sound = dir.file(std::string("track-") + kind.name);
    fs::copy_file(dir.file(std::string("sounds/") + kind.name), sound, fs::copy_options::overwrite_existing);
    if (damaged) {
      auto bytes = ReadBytes(sound);
      const size_t at = bytes.size() * 2 / 3 + random() % (bytes.size() / 4);
      for (size_t i = at; i < std::min(bytes.size(), at + 60); ++i) bytes[i] = static_cast<uint8_t>(random());
      test::WriteBytes(sound, bytes);
    }
    const bool earlier = fs::exists(out);
    const std::vector<uint8_t> before = earlier ? ReadBytes(out) : std::vector<uint8_t>();
    const TRun run =
        RunRender({SDM_CLI, "render", "--yes", "--codec", "MJPG", "--resolution", "320x240", "--ms-per-picture", "4000",
                   "--no-xfade", "--sound", sound, "-o", out, pictures[0], pictures[1]},
                  errFile,
                  stop == 2   ? SIGINT
                  : stop == 3 ? SIGKILL
                              : 0,
                  afterMs);
    const bool written = run.status == 0;
    EXPECT_TRUE(written || stop >= 2) << run.err;
    // Nothing half-written ever stands at the output's name.
    if (fs::exists(out) && (written || ReadBytes(out) != before)) {
      const std::string complaints = Complaints(out);
      if (kind.copied && damaged) {
        EXPECT_LE(Lines(complaints), Lines(Complaints(sound))) << complaints;
      } else {
        EXPECT_EQ(complaints, "");
      }
    }
    if (written) {
      EXPECT_NE(run.err.find("Video written: " + out), std::string::npos) << run.err;
      // The soundtrack's sound: the tone at the level ffmpeg finds in it.
      const auto heard = test::DecodeMono(out, 44100);
      const double expected = test::ToneLevel(test::DecodeMono(sound, 44100), 44100, 440, 0.1, 1.0);
      EXPECT_GT(expected, 0.03);
      EXPECT_NEAR(test::ToneLevel(heard, 44100, 440, 0.1, 1.0), expected, expected * 0.1);
    } else if (run.status == -1 || run.err.find("Aborted by user.") == std::string::npos) {
      // Killed, or failed: the earlier video is there as it was (or the job
      // had finished before the kill came).
      if (fs::exists(out) && ReadBytes(out) != before) {
        EXPECT_EQ(Complaints(out), "");
      }
      if (earlier && ReadBytes(out) != before) {
        EXPECT_EQ(run.status, -1);
      }
      if (!earlier && run.status != -1) {
        EXPECT_FALSE(fs::exists(out));
      }
    }
    // A kill leaves its temporary files (a hidden .part, perhaps temp.avi);
    // they are no output, and the next run writes files of its own.
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().extension() == ".part" || e.path().filename().string().rfind("temp", 0) == 0) fs::remove(e.path());
  }
}

}  // namespace
}  // namespace sdm
