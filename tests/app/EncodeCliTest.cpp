// The codecs and encode commands: the list as the writer makes it, frames
// from BMP files into a file ffprobe reads, and errors that keep what exists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/TestSupport.h"

using sdm::test::ReadBytes;
using sdm::test::RunCli;
using sdm::test::RunCommand;
using sdm::test::TempDir;
using sdm::test::WriteBytes;

namespace {

// A 24-bit BMP of w × h whose pixels depend on n; rows bottom-up, padded.
std::vector<uint8_t> Bmp(int w, int h, int n) {
  const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u, image = stride * static_cast<uint32_t>(h);
  std::vector<uint8_t> b(54 + image, 0);
  auto p32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = (v >> (8 * k)) & 0xFF;
  };
  b[0] = 'B';
  b[1] = 'M';
  p32(2, static_cast<uint32_t>(b.size()));
  p32(10, 54);
  p32(14, 40);
  p32(18, static_cast<uint32_t>(w));
  p32(22, static_cast<uint32_t>(h));
  b[26] = 1;
  b[28] = 24;
  p32(34, image);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) b[54 + y * stride + x] = static_cast<uint8_t>(x * 3 + y * 7 + n * 40);
  return b;
}

}  // namespace

// Every command runs with the test's own registry, never the settings.ini
// beside the program.
using EncodeCli = sdm::test::PrivateRegistryTest;

TEST_F(EncodeCli, CodecsPrintsOneLinePerCompressor) {
  setenv("SLIDOMAT_CODECS", "FFV1,DIB ", 1);
  auto r = RunCli({"codecs"});
  unsetenv("SLIDOMAT_CODECS");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "FFV1 FFV1 Lossless Video\nDIB  Uncompressed RGB 24-bit\n");
}

TEST_F(EncodeCli, EncodesBmpFramesIntoAnAviFfmpegReads) {
  std::vector<std::string> args = {"encode", "--codec", "FFV1", "--fps", "10", "-o", dir.file("out.avi")};
  for (int k = 0; k < 4; ++k) {
    // 62 × 3 bytes per row needs padding: the reader must drop it.
    WriteBytes(dir.file("f" + std::to_string(k) + ".bmp"), Bmp(62, 40, k));
    args.push_back(dir.file("f" + std::to_string(k) + ".bmp"));
  }
  auto r = RunCli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCommand({"ffprobe", "-v", "warning", "-show_entries", "stream=codec_name,width,height,r_frame_rate,nb_frames",
                  "-of", "default=nw=1", dir.file("out.avi")});
  EXPECT_EQ(r.err, "");
  // Four frames after the two empty positions the writer leaves.
  EXPECT_EQ(r.out, "codec_name=ffv1\nwidth=62\nheight=40\nr_frame_rate=10/1\nnb_frames=6\n");
  r = RunCommand({"ffmpeg", "-v", "warning", "-i", dir.file("out.avi"), "-f", "rawvideo", "-pix_fmt", "bgr24",
                  "-fps_mode", "passthrough", dir.file("raw")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> raw = ReadBytes(dir.file("raw"));
  ASSERT_EQ(raw.size(), 4u * 62 * 40 * 3);
  // Top row of frame 2 is the BMP's last stored row.
  const std::vector<uint8_t> bmp = Bmp(62, 40, 2);
  const size_t stride = 188;
  EXPECT_TRUE(
      std::equal(raw.begin() + 2 * 62 * 40 * 3, raw.begin() + 2 * 62 * 40 * 3 + 186, bmp.begin() + 54 + 39 * stride));
}

TEST_F(EncodeCli, ErrorsAreReportedAndLoseNothing) {
  const std::string out = dir.file("keep.avi");
  sdm::test::WriteText(out, "precious");
  WriteBytes(dir.file("a.bmp"), Bmp(64, 48, 0));
  WriteBytes(dir.file("b.bmp"), Bmp(32, 48, 0));
  WriteBytes(dir.file("bad.bmp"), {'B', 'M', 1, 2, 3});

  auto r = RunCli({"encode", "--codec", "FFV1", "-o", out, dir.file("a.bmp"), dir.file("b.bmp")});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("32x48"), std::string::npos) << r.err;
  r = RunCli({"encode", "--codec", "FFV1", "-o", out, dir.file("a.bmp"), dir.file("bad.bmp")});
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(r.err.empty());
  r = RunCli({"encode", "--codec", "QQQQ", "-o", out, dir.file("a.bmp")});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("No compressor for QQQQ available"), std::string::npos) << r.err;
  EXPECT_EQ(sdm::test::ReadText(out), "precious");

  r = RunCli({"encode", "--codec", "FFV1", "-o", dir.file("x/y/z.avi"), dir.file("a.bmp")});
  EXPECT_NE(r.status, 0);
  // The cause first, the writer's own text on the next line.
  EXPECT_EQ(r.err.rfind("Cannot write \"" + dir.file("x/y/z.avi") + "\": " + std::strerror(ENOENT) +
                            "\nFileOpen failed. Err: $8004406F (U_BmpToAvi, line ",
                        0),
            0u)
      << r.err;
  r = RunCli({"encode", "--codec", "FFV1", "--fps", "0", "-o", out, dir.file("a.bmp")});
  EXPECT_NE(r.status, 0);
  r = RunCli({"encode", "-o", out, dir.file("a.bmp")});
  EXPECT_NE(r.status, 0);
}

TEST_F(EncodeCli, AFolderOrPipeNamedLikeTheOutputIsLeftAlone) {
  WriteBytes(dir.file("a.bmp"), Bmp(64, 48, 0));
  const std::string folder = dir.file("folder.avi");
  std::filesystem::create_directory(folder);
  auto r = RunCli({"encode", "--codec", "DIB ", "-o", folder, dir.file("a.bmp")});
  // The command refuses a folder before the writer is reached (the writer's
  // own refusal is tested with the library).
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"" + folder + "\" is a folder"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  // Nobody reads the pipe: writing to it would wait for ever. The command
  // refuses it as it refuses a folder.
  const std::string fifo = dir.file("pipe.avi");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  r = RunCli({"encode", "--codec", "DIB ", "-o", fifo, dir.file("a.bmp")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "The output \"" + fifo + "\" is a named pipe; nothing was written.\n");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

// Frames of 320x240 uncompressed (230 KB each) fill a small disk quickly; the
// command must fail with the file and the system's reason, never say "Wrote".
TEST_F(EncodeCli, AFullDiskOrFileSizeLimitFailsWithThePathAndTheReason) {
  std::vector<std::string> frames;
  for (int k = 0; k < 6; ++k) {
    frames.push_back(dir.file("f" + std::to_string(k) + ".bmp"));
    WriteBytes(frames.back(), Bmp(320, 240, k));
  }
  auto encode = [&](const std::string& out) {
    std::vector<std::string> args{SDM_CLI, "encode", "--codec", "DIB ", "-o", out};
    args.insert(args.end(), frames.begin(), frames.end());
    return args;
  };
  // The size limit of the process: writes past it fail with EFBIG once the
  // signal that would end the process is ignored.
  const std::string limited = dir.file("limited.avi");
  std::vector<std::string> cmd{"prlimit", "--fsize=300000", "sh", "-c", "trap '' XFSZ; exec \"$@\"", "sh"};
  for (const auto& a : encode(limited)) cmd.push_back(a);
  auto r = RunCommand(cmd);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("failed. Err: $8004406E (U_BmpToAvi, line "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"" + limited + "\": " + std::strerror(EFBIG) + "\n"), std::string::npos) << r.err;

  // A real full disk where a small tmpfs can be mounted (in a mount
  // namespace of its own, gone with the command).
  const std::string small = dir.file("small");
  std::filesystem::create_directory(small);
  cmd = {"unshare", "-m", "sh", "-c", "mount -t tmpfs -o size=512k tmpfs \"$0\" || exit 99; exec \"$@\"", small};
  for (const auto& a : encode(small + "/full.avi")) cmd.push_back(a);
  r = RunCommand(cmd);
  if (r.status == 99 || (r.status != 0 && r.err.find("unshare") != std::string::npos))
    GTEST_SKIP() << "cannot mount a tmpfs here: " << r.err;
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("failed. Err: $8004406E (U_BmpToAvi, line "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("full.avi\": " + std::string(std::strerror(ENOSPC)) + "\n"), std::string::npos) << r.err;
}
