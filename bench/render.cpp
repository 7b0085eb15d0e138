// bench_render: the reference slideshow rendered by the job controller as the
// Go button does, against the floor of the work done by tools we did not
// write, and against ffmpeg making the same slideshow.
//
// The reference slideshow: ten 4000 × 3000 photo-like JPEGs (made here, see
// WritePhotoLikeJpeg), 720 × 576, 25 frames per second, 3000 ms a picture,
// cross-fades and on-video text: 10 × 75 + 9 × 18 = 912 frames, compressed
// by the "xvid" compressor at quantiser 4 with a key frame every 250 frames.
//
// The floor: djpeg decoding the ten pictures whole (as the job does), then
// ffmpeg encoding the 912 frames, read raw from memory (made beforehand
// from our own frames, outside the clock), with the encoder behind our
// "xvid" at the same quantiser and key-frame interval on one thread: the
// decode-plus-encode time of one core, which a render on two cores should
// reach. The same work in our own process (our JPEG reader, libavcodec fed
// converted frames) is printed beside it.
//
// ffmpeg's slideshow decodes each picture once (the loop filter repeats the
// fitted frame), fits it with the same nearest-neighbour scaling and black
// bars, joins the pictures with 18-frame xfade transitions, darkens the
// strip and draws the two texts, and encodes with the same encoder at the
// same quantiser, every part of it on one thread.
//
// Rounds alternate (ours, ffmpeg, djpeg, ffmpeg's encoding, ours …) and the
// best of each is kept, since a shared machine slows single runs at random;
// the processor time of each (all its threads) is printed beside it.
//
// Usage: bench_render [--rounds N] [--pictures DIR] [--videos DIR] [--only ours|ffmpeg|floor]
//   --pictures DIR keeps the pictures in DIR and reuses them on the next run;
//   --videos DIR keeps the videos there (ours.avi, ffmpeg.avi, floor.avi).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FfmpegSlideshow.h"
#include "Measure.h"
#include "ReferenceEncoder.h"
#include "ReferenceSlideshow.h"
#include "avi/U_BmpToAvi.h"
#include "frames/U_BmpWriter.h"
#include "frames/U_FrameServer.h"
#include "frames/U_ImageFile.h"
#include "platform/vfw/FrameConverter.h"
#include "platform/vfw/Vfw.h"
#include "project/U_JobControl.h"
#include "project/U_SlideProject.h"
#include "support/Thread.h"
#include "support/UserInteraction.h"

namespace fs = std::filesystem;

namespace {

using namespace bench;

int Shell(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// ---------------------------------------------------------------- our render

class Quiet : public sdm::IUserInteraction {
public:
  int MessageBox(const std::string&, const std::string& text, int, int) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return sdm::mrYes;
  }
};

// The libavcodec encoder behind one of our compressors (its driver name).
std::string EncoderOf(const std::string& fourcc) {
  sdm::ICINFO info;
  if (!sdm::ICInfo(sdm::ICTYPE_VIDEO, sdm::mmioStringToFOURCC(fourcc), &info)) return {};
  std::string name;
  for (const char16_t* p = info.szDriver; *p; ++p) name += static_cast<char>(*p);
  return name;
}

struct TOurRun {
  TTimed time;
  int frames = 0;
  long peakKiB = 0;   // the render process's peak resident memory
  long startKiB = 0;  // … and what it held before the render began
};

long ResidentKiB() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Renders in a child process, so its processor time and peak memory are the
// render's own.
TOurRun RenderOurs(const std::vector<std::string>& pictures, const std::string& out) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    TOurRun run;
    run.startKiB = ResidentKiB();
    sdm::TSlideProject project;
    for (int i = 0; i < kPictures; ++i) project.AddPicture(pictures[static_cast<size_t>(i)] + "\t" + CaptionOf(i));
    project.SetResolution(std::to_string(kWidth) + "x" + std::to_string(kHeight));
    project.SetDynamic(false);
    project.SetFramesPerSecond(kFps);
    project.SetMsPerPicture(3000);
    project.SetCrossFade(true);
    project.SetOsd(true);
    project.SetOutputPath(out);
    sdm::TBmpToAvi avi;
    sdm::TStringList codecs;
    avi.ListCodecs(codecs);
    for (const auto& l : codecs.Items())
      if (l.substr(0, 4) == "xvid") project.SetCodecEntry(l);
    sdm::TEventLoop loop;
    struct Count : sdm::IJobView {
      int frames = 0;
      void PreviewChanged(const sdm::TDib24* f) override { frames += f != nullptr; }
    } view;
    sdm::TJobControl job(project, avi, loop, nullptr, nullptr, &view);
    const auto t0 = Clock::now();
    if (job.Go()) {
      loop.RunUntil([&] { return !job.Running(); });
      if (job.LastEnd() == sdm::TJobEnd::Finished) run.time.seconds = Seconds(t0, Clock::now());
    }
    run.frames = view.frames;
    if (write(fds[1], &run, sizeof run) != sizeof run) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  TOurRun run;
  const bool got = read(fds[0], &run, sizeof run) == sizeof run;
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!got) return {};
  if (run.time.ok()) run.time.cpuSeconds = CpuSeconds(usage);
  run.peakKiB = usage.ru_maxrss;
  return run;
}

// ---------------------------------------------------------------- ffmpeg

std::string FfmpegEncoderOptions(const std::string& encoder) {
  const std::string q = " -q:v " + std::to_string(kQuantiser) + " -g " + std::to_string(kKeyInterval) + " -bf 0";
  if (encoder == "libxvid") return "-c:v libxvid -vtag XVID" + q;
  return "-c:v mpeg4 -vtag XVID" + q;
}

// The same slideshow by ffmpeg alone.
TTimed RenderFfmpeg(const std::vector<std::string>& pictures, const std::string& encoder, const std::string& out) {
  return TimeCommand(FfmpegSlideshowCommand(pictures, kWidth, kHeight, "neighbor") + " -threads 1 " +
                     FfmpegEncoderOptions(encoder) + " " + Quoted(out));
}

// ---------------------------------------------------------------- the floor

// The 912 frames as the compressor is given them, in YUV 4:2:0 as it
// converts them, one after the other in a raw file for ffmpeg.
bool WriteRawFrames(const std::vector<std::string>& pictures, const std::string& path) {
  sdm::TStringList list, captions;
  for (int i = 0; i < kPictures; ++i) {
    list.Add(pictures[static_cast<size_t>(i)]);
    captions.Add(CaptionOf(i));
  }
  sdm::TFrameServer server(list, &captions, kFramesPerPicture, kHeight, kWidth, {.crossFade = true, .osd = true});
  sdm::TFrameConverter convert;
  if (!convert.Open(kWidth, kHeight, AV_PIX_FMT_YUV420P,
                    SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_BITEXACT))
    return false;
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = kWidth;
  frame->height = kHeight;
  av_frame_get_buffer(frame, 0);
  FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr;
  sdm::TBitmap32 bitmap;
  sdm::TDib24 dib;
  for (int i = 0; ok && i < kFrames; ++i) {
    server.GetFrame(bitmap, i);
    sdm::Bitmap32ToDib24(bitmap, dib);
    convert.Convert(dib.Bits.data(), dib.Stride(), *frame);
    for (int p = 0; p < 3; ++p) {
      const int w = p ? kWidth / 2 : kWidth, h = p ? kHeight / 2 : kHeight;
      for (int y = 0; ok && y < h; ++y)
        ok = std::fwrite(frame->data[p] + static_cast<ptrdiff_t>(y) * frame->linesize[p], 1, static_cast<size_t>(w),
                         f) == static_cast<size_t>(w);
    }
  }
  if (f && std::fclose(f) != 0) ok = false;
  av_frame_free(&frame);
  return ok;
}

TTimed DecodeWithDjpeg(const std::vector<std::string>& pictures) {
  std::string cmd;
  for (const auto& p : pictures)
    cmd += (cmd.empty() ? "" : " && ") + std::string("djpeg -outfile /dev/null ") + Quoted(p);
  return TimeCommand(cmd);
}

TTimed EncodeWithFfmpeg(const std::string& raw, const std::string& encoder, const std::string& out) {
  return TimeCommand("ffmpeg -v error -y -threads 1 -f rawvideo -pix_fmt yuv420p -s " + std::to_string(kWidth) + "x" +
                     std::to_string(kHeight) + " -r " + std::to_string(kFps) + " -i " + Quoted(raw) + " -threads 1 " +
                     FfmpegEncoderOptions(encoder) + " " + Quoted(out));
}

struct TInProcessFloor {
  double decodeSeconds = -1;
  double encodeSeconds = -1;
};

// The same work in this process: each picture decoded once by our JPEG
// reader, and the 912 frames encoded by the same encoder at the same
// quantiser on one thread, fed frames made and converted beforehand
// (outside the clock).
TInProcessFloor MeasureInProcess(const std::vector<std::string>& pictures, const std::string& encoder) {
  TInProcessFloor floor;
  floor.decodeSeconds = 0;
  sdm::TBitmap32 decoded;  // one buffer for all, as the decoder's own output would be
  for (const auto& p : pictures) {
    const auto t0 = Clock::now();
    const std::vector<uint8_t> data = sdm::ReadPictureFile(p);
    sdm::DecodePicture(data.data(), data.size(), p, sdm::TFitSize{kWidth, kHeight}, decoded);
    floor.decodeSeconds += Seconds(t0, Clock::now());
  }

  AVCodecContext* c = OpenEncoder(encoder);
  if (!c) return floor;
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = kWidth;
  frame->height = kHeight;
  av_frame_get_buffer(frame, 0);
  AVPacket* pkt = av_packet_alloc();
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                   nullptr, nullptr, nullptr);
  sdm::TStringList list, captions;
  for (int i = 0; i < kPictures; ++i) {
    list.Add(pictures[static_cast<size_t>(i)]);
    captions.Add(CaptionOf(i));
  }
  sdm::TFrameServer server(list, &captions, kFramesPerPicture, kHeight, kWidth, {.crossFade = true, .osd = true});
  sdm::TBitmap32 bitmap;
  double seconds = 0;
  for (int i = 0; i < kFrames; ++i) {
    server.GetFrame(bitmap, i);
    av_frame_make_writable(frame);
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(bitmap.Bits())};
    const int srcStride[1] = {kWidth * 4};
    sws_scale(sws, src, srcStride, 0, kHeight, frame->data, frame->linesize);
    frame->pts = i;
    frame->quality = c->global_quality;
    const auto t0 = Clock::now();
    avcodec_send_frame(c, frame);
    while (avcodec_receive_packet(c, pkt) == 0) av_packet_unref(pkt);
    seconds += Seconds(t0, Clock::now());
  }
  avcodec_send_frame(c, nullptr);
  while (avcodec_receive_packet(c, pkt) == 0) av_packet_unref(pkt);
  floor.encodeSeconds = seconds;
  sws_freeContext(sws);
  av_packet_free(&pkt);
  av_frame_free(&frame);
  avcodec_free_context(&c);
  return floor;
}

void PrintRun(const char* what, const TTimed& t) {
  if (t.ok()) std::printf("  %-22s %6.2f s, %6.2f s of processor time\n", what, t.seconds, t.cpuSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 2;
  std::string only, keep, videos;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc)
      only = argv[++i];
    else if (a == "--pictures" && i + 1 < argc)
      keep = argv[++i];
    else if (a == "--videos" && i + 1 < argc)
      videos = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: bench_render [--rounds N] [--pictures DIR] [--videos DIR] [--only ours|ffmpeg|floor]\n");
      return 2;
    }
  }
  static Quiet quiet;
  sdm::SetUserInteraction(&quiet);
  const fs::path dir = fs::temp_directory_path() / ("slidomat-bench-render-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path pictureDir = keep.empty() ? dir : fs::path(keep);
  fs::create_directories(pictureDir);
  const fs::path videoDir = videos.empty() ? dir : fs::path(videos);
  fs::create_directories(videoDir);
  setenv("SLIDOMAT_REGISTRY_DIR", (dir / "hive").c_str(), 1);
  setenv("SLIDOMAT_CODECS", "xvid", 1);
  sdm::CompressorSettingsStore().Save(sdm::mmioStringToFOURCC("xvid"), {kQuality, kKeyInterval});

  const std::vector<std::string> pictures = ReferencePictures(pictureDir);
  uintmax_t bytes = 0;
  for (const auto& p : pictures) bytes += fs::file_size(p);
  const std::string encoder = EncoderOf("xvid");
  std::printf("pictures: %d of 4000x3000, %.1f MB in all; encoder %s at quantiser %d, %d frames\n", kPictures,
              static_cast<double>(bytes) / 1e6, encoder.c_str(), kQuantiser, kFrames);
  std::fflush(stdout);

  const bool floorWanted = only.empty() || only == "floor";
  // The raw frames live in memory (/dev/shm) where there is one, so that
  // ffmpeg's encoding is not timed reading a disk.
  const fs::path shm = "/dev/shm";
  const fs::path raw = (fs::is_directory(shm) ? shm : dir) / ("slidomat-bench-frames-" + std::to_string(::getpid()));
  bool haveRaw = false;
  if (floorWanted) {
    if (Shell("djpeg -version </dev/null >/dev/null 2>&1") != 0)
      std::fprintf(stderr, "no djpeg here (Debian's libjpeg-turbo-progs): the floor is left out\n");
    else if (!(haveRaw = WriteRawFrames(pictures, raw.string())))
      std::fprintf(stderr, "cannot write the raw frames to %s\n", raw.c_str());
  }

  std::vector<TTimed> ours, theirs, djpeg, encode;
  TOurRun last;
  std::error_code ec;
  for (int r = 0; r < rounds; ++r) {
    if (only.empty() || only == "ours") {
      // As a fresh render: no question about overwriting the last round's.
      fs::remove(videoDir / "ours.avi", ec);
      last = RenderOurs(pictures, (videoDir / "ours.avi").string());
      ours.push_back(last.time);
      std::printf("  ours                   %6.2f s, %6.2f s of processor time (%d frames, peak %.1f MiB)\n",
                  last.time.seconds, last.time.cpuSeconds, last.frames, last.peakKiB / 1024.0);
    }
    if (only.empty() || only == "ffmpeg") {
      theirs.push_back(RenderFfmpeg(pictures, encoder, (videoDir / "ffmpeg.avi").string()));
      PrintRun("ffmpeg slideshow", theirs.back());
    }
    if (haveRaw) {
      djpeg.push_back(DecodeWithDjpeg(pictures));
      PrintRun("djpeg, ten pictures", djpeg.back());
      encode.push_back(EncodeWithFfmpeg(raw.string(), encoder, (videoDir / "floor.avi").string()));
      PrintRun("ffmpeg, encoding", encode.back());
    }
    std::fflush(stdout);
  }
  fs::remove(raw, ec);
  TInProcessFloor inProcess;
  if (floorWanted) inProcess = MeasureInProcess(pictures, encoder);

  const TTimed o = Best(ours), t = Best(theirs), d = Best(djpeg), e = Best(encode);
  const bool haveFloor = d.ok() && e.ok();
  const TTimed f{haveFloor ? d.seconds + e.seconds : -1, haveFloor ? d.cpuSeconds + e.cpuSeconds : -1};
  std::printf("best of %d rounds:\n", rounds);
  if (o.ok()) {
    std::printf(
        "ours            %7.2f s  %6.1f frames/s  %6.2f s CPU  peak memory %.1f MiB (%.1f MiB before the render)\n",
        o.seconds, kFrames / o.seconds, o.cpuSeconds, last.peakKiB / 1024.0, last.startKiB / 1024.0);
    std::printf("                one decoded picture is %.1f MiB; the target is a peak under 160 MiB\n",
                4000.0 * 3000 * 4 / 1048576);
  }
  if (f.ok())
    std::printf(
        "floor           %7.2f s  %6.2f s CPU  (djpeg %.2f s + ffmpeg encoding %d frames on one thread %.2f s)\n",
        f.seconds, f.cpuSeconds, d.seconds, kFrames, e.seconds);
  if (inProcess.decodeSeconds >= 0 && inProcess.encodeSeconds >= 0)
    std::printf("  in process    %7.2f s  (our JPEG reader %.2f s + libavcodec encoding %.2f s)\n",
                inProcess.decodeSeconds + inProcess.encodeSeconds, inProcess.decodeSeconds, inProcess.encodeSeconds);
  if (t.ok())
    std::printf("ffmpeg          %7.2f s  %6.1f frames/s  %6.2f s CPU\n", t.seconds, kFrames / t.seconds, t.cpuSeconds);
  if (o.ok() && f.ok())
    std::printf("ratio ours / floor           %.2f  (target <= 1.0); processor time %.2f\n", o.seconds / f.seconds,
                o.cpuSeconds / f.cpuSeconds);
  if (o.ok() && t.ok()) std::printf("ratio ours / ffmpeg          %.2f\n", o.seconds / t.seconds);
  fs::remove_all(dir, ec);
  return 0;
}
