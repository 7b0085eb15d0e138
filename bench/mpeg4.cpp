// bench_mpeg4: the two MPEG-4 part 2 encoders that can stand behind our
// "xvid" compressor, libxvid and libavcodec's own mpeg4, on the frames of the
// reference slideshow at the same quantiser, key-frame interval and single
// thread: encoding time, file size, PSNR against the frames given, and
// whether ffmpeg plays the AVI written from each without a word.
//
// The frames are made by the frame server and converted to YUV outside the
// clock; each encoder's packets are decoded as they come (libavcodec's
// MPEG-4 decoder) to measure the PSNR, also outside the clock.
//
// Usage: bench_mpeg4 [--pictures DIR] [--rounds N]
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ReferenceEncoder.h"
#include "ReferenceSlideshow.h"
#include "frames/U_FrameServer.h"
#include "platform/avifile/AviFile.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace bench;

namespace {

struct TResult {
  double seconds = 0;
  uint64_t bytes = 0;
  double sse = 0;  // squared error summed over the Y, U and V samples
  uint64_t samples = 0;
  int keyFrames = 0;
  bool plays = false;
};

void AddError(const AVFrame& a, const AVFrame& b, TResult& r) {
  for (int plane = 0; plane < 3; ++plane) {
    const int w = plane ? kWidth / 2 : kWidth, h = plane ? kHeight / 2 : kHeight;
    for (int y = 0; y < h; ++y) {
      const uint8_t* p = a.data[plane] + y * a.linesize[plane];
      const uint8_t* q = b.data[plane] + y * b.linesize[plane];
      for (int x = 0; x < w; ++x) {
        const int d = p[x] - q[x];
        r.sse += d * d;
      }
      r.samples += static_cast<uint64_t>(w);
    }
  }
}

TResult Encode(const std::string& encoder, const std::vector<std::string>& pictures, const std::string& avi) {
  TResult r;
  AVCodecContext* enc = OpenEncoder(encoder);
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* dec = avcodec_alloc_context3(decoder);
  dec->thread_count = 1;
  if (!enc || avcodec_open2(dec, decoder, nullptr) < 0) {
    std::fprintf(stderr, "cannot open %s\n", encoder.c_str());
    return r;
  }
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = kWidth;
  frame->height = kHeight;
  av_frame_get_buffer(frame, 0);
  AVFrame* decoded = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                   SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);

  sdm::AVIFileInit();
  sdm::PAVIFILE file = nullptr;
  sdm::PAVISTREAM stream = nullptr;
  sdm::AVIFileOpen(&file, avi, sdm::OF_WRITE | sdm::OF_CREATE);
  sdm::AVISTREAMINFO info;
  info.fccType = sdm::streamtypeVIDEO;
  info.fccHandler = sdm::mmioStringToFOURCC("XVID");
  info.dwScale = 1;
  info.dwRate = kFps;
  info.rcFrame = {0, 0, kWidth, kHeight};
  sdm::AVIFileCreateStream(file, &stream, &info);
  sdm::BITMAPINFOHEADER format;
  format.biWidth = kWidth;
  format.biHeight = kHeight;
  format.biBitCount = 24;
  format.biCompression = sdm::mmioStringToFOURCC("XVID");
  sdm::AVIStreamSetFormat(stream, 0, &format, sizeof format);

  sdm::TStringList list, captions;
  for (int i = 0; i < kPictures; ++i) {
    list.Add(pictures[static_cast<size_t>(i)]);
    captions.Add(CaptionOf(i));
  }
  sdm::TFrameServer server(list, &captions, kFramesPerPicture, kHeight, kWidth, {.crossFade = true, .osd = true});
  sdm::TBitmap32 bitmap;
  for (int i = 0; i < kFrames; ++i) {
    server.GetFrame(bitmap, i);
    av_frame_make_writable(frame);
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(bitmap.Bits())};
    const int stride[1] = {kWidth * 4};
    sws_scale(sws, src, stride, 0, kHeight, frame->data, frame->linesize);
    frame->pts = i;
    frame->quality = enc->global_quality;
    const auto t0 = Clock::now();
    avcodec_send_frame(enc, frame);
    const int got = avcodec_receive_packet(enc, pkt);
    r.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    if (got != 0) continue;
    r.bytes += static_cast<uint64_t>(pkt->size);
    const bool key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    r.keyFrames += key;
    sdm::AVIStreamWrite(stream, i, 1, pkt->data, pkt->size, key ? sdm::AVIIF_KEYFRAME : 0);
    avcodec_send_packet(dec, pkt);
    if (avcodec_receive_frame(dec, decoded) == 0) AddError(*frame, *decoded, r);
    av_packet_unref(pkt);
  }
  sdm::AVIStreamRelease(stream);
  sdm::AVIFileRelease(file);
  sdm::AVIFileExit();
  sws_freeContext(sws);
  av_packet_free(&pkt);
  av_frame_free(&decoded);
  av_frame_free(&frame);
  avcodec_free_context(&dec);
  avcodec_free_context(&enc);

  // Played by ffmpeg: every frame decoded, nothing said.
  const std::string log = avi + ".log";
  const std::string cmd = "ffmpeg -v warning -nostats -i '" + avi + "' -f null - > '" + log + "' 2>&1";
  const int rc = std::system(cmd.c_str());
  r.plays = WIFEXITED(rc) && WEXITSTATUS(rc) == 0 && fs::file_size(log) == 0;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::string keep;
  int rounds = 2;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--pictures" && i + 1 < argc)
      keep = argv[++i];
    else if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: bench_mpeg4 [--pictures DIR] [--rounds N]\n");
      return 2;
    }
  }
  const fs::path dir = fs::temp_directory_path() / ("slidomat-bench-mpeg4-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path pictureDir = keep.empty() ? dir : fs::path(keep);
  fs::create_directories(pictureDir);
  const std::vector<std::string> pictures = ReferencePictures(pictureDir);

  std::printf("%d frames of %dx%d at quantiser %d, key frames every %d, one thread; best of %d\n", kFrames, kWidth,
              kHeight, kQuantiser, kKeyInterval, rounds);
  std::printf("%-8s %10s %10s %12s %10s %6s %6s\n", "encoder", "seconds", "frames/s", "bytes", "PSNR dB", "keys",
              "plays");
  std::vector<std::string> encoders{"libxvid", "mpeg4"};
  for (const char* extra = std::getenv("SDM_MPEG4_EXTRA"); extra && *extra;) {
    const char* end = std::strchr(extra, ',');
    encoders.emplace_back(extra, end ? static_cast<size_t>(end - extra) : std::strlen(extra));
    extra = end ? end + 1 : nullptr;
  }
  for (const std::string& encoder : encoders) {
    TResult best;
    for (int r = 0; r < rounds; ++r) {
      const TResult got = Encode(encoder, pictures, (dir / "out.avi").string());
      if (r == 0 || got.seconds < best.seconds) best = got;
    }
    const double mse = best.samples ? best.sse / static_cast<double>(best.samples) : 0;
    std::printf("%-8s %10.2f %10.1f %12llu %10.2f %6d %6s\n", encoder.c_str(), best.seconds, kFrames / best.seconds,
                static_cast<unsigned long long>(best.bytes), mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0,
                best.keyFrames, best.plays ? "yes" : "NO");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
