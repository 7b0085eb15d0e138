#include "audio/readers/Ac3File.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstring>

#include "audio/readers/AvAudioStream.h"
#include "audio/tags/ReaderTags.h"

namespace sdm {

namespace {

// Frame sizes in 16-bit words by frame-size code, for 48, 44.1 and 32 kHz.
const uint16_t kFrameWords[3][38] = {
    {64,  64,  80,  80,  96,  96,  112, 112, 128, 128, 160, 160, 192, 192,  224,  224,  256,  256,  320,
     320, 384, 384, 448, 448, 512, 512, 640, 640, 768, 768, 896, 896, 1024, 1024, 1152, 1152, 1280, 1280},
    {69,  70,  87,  88,  104, 105, 121, 122, 139, 140, 174, 175, 208, 209,  243,  244,  278,  279,  348,
     349, 417, 418, 487, 488, 557, 558, 696, 697, 835, 836, 975, 976, 1114, 1115, 1253, 1254, 1393, 1394},
    {96,  96,  120, 120, 144, 144, 168, 168, 192, 192,  240,  240,  288,  288,  336,  336,  384,  384,  480,
     480, 576, 576, 672, 672, 768, 768, 960, 960, 1152, 1152, 1344, 1344, 1536, 1536, 1728, 1728, 1920, 1920}};

// Bit rates in kbit/s by frame-size code div 2.
const uint16_t kBitRates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};

constexpr int kSearchBlock = 1 << 16;

}  // namespace

int Ac3FrameBytes(int sampleRateCode, int frameSizeCode) {
  if (sampleRateCode < 0 || sampleRateCode > 2 || frameSizeCode < 0 || frameSizeCode > 37) return 0;
  return 2 * kFrameWords[sampleRateCode][frameSizeCode];
}

TAc3File::TAc3File(const std::string& fileName) : TAbstractAudioFile(fileName) {
  AvQuietReading();
  stream_ = std::make_unique<TWFileStream>(fileName, TWFileStream::ModeRead);
  if (avcodec_find_decoder(AV_CODEC_ID_AC3) == nullptr) throw EError("AZID.DLL not found. AC3 support is not enabled");
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (packet_ == nullptr || frame_ == nullptr || !StartDecoder()) {
    Release();
    throw EError("AZID.DLL initialization failed");
  }
  Tags = {std::string("DECODER=FFmpeg AC-3 decoder, libavcodec ") + LIBAVCODEC_IDENT};
  TFileTags t = ReadFileTags(*this, tkId3v1 | tkId3v2);
  if (t.HasId3v2)
    Tags = t.Id3v2;
  else if (t.HasId3v1)
    Tags = t.Id3v1;
  // The first frame is looked for in 16-bit steps, as AC-3 streams are
  // word-aligned: from the end of a leading ID3v2 tag, whose size may be odd
  // (our own tag writer makes such tags), else from the start.
  uint8_t header[5];
  FirstFrameOffset = FindSync(Id3v2Size, 2, header);
  if (FirstFrameOffset >= 0) {
    SampleRateCode = header[4] >> 6;
    FrameSizeCode = header[4] & 0x3F;
    FrameSize = Ac3FrameBytes(SampleRateCode, FrameSizeCode);
    stream_->Seek(FirstFrameOffset, 0);
  }
  if (FirstFrameOffset < 0 || DecodeFrame() != TFrameResult::Decoded) {
    Release();
    throw EError("Invalid AC3 file");
  }
  PcmSize = (stream_->Size() - FirstFrameOffset) / FrameSize * int64_t{SamplesPerFrame} * 2 * Channels;
  // The first frame is decoded already and is delivered first.
  remaining_ = FrameBytes();
}

TAc3File::~TAc3File() { Release(); }

// A fresh decoder, as at the start of the file: libavcodec's flush keeps the
// AC-3 decoder's overlap and the state of its dither noise.
bool TAc3File::StartDecoder() {
  avcodec_free_context(&codec_);
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_AC3);
  codec_ = avcodec_alloc_context3(decoder);
  return codec_ != nullptr && avcodec_open2(codec_, decoder, nullptr) >= 0;
}

void TAc3File::Release() {
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
}

uint32_t TAc3File::GetBitRate() { return 1000u * kBitRates[FrameSizeCode / 2]; }

uint32_t TAc3File::GetSampleRate() {
  static const uint32_t kRates[3] = {48000, 44100, 32000};
  return kRates[SampleRateCode];
}

// The offset of the next sync word at or after from (in steps of step bytes
// from there) whose codes name a frame; -1 when there is none. header5
// receives the sync word, the CRC and the code byte.
int64_t TAc3File::FindSync(int64_t from, int step, uint8_t* header5) {
  std::vector<uint8_t> block(kSearchBlock + 4);
  for (int64_t at = from;;) {
    if (stream_->Seek(at, 0) != at) return -1;
    const int64_t n = stream_->Read(block.data(), static_cast<int64_t>(block.size()));
    if (n < 5) return -1;
    int64_t i = 0;
    for (; i + 5 <= n; i += step) {
      if (block[i] == 0x0B && block[i + 1] == 0x77 && Ac3FrameBytes(block[i + 4] >> 6, block[i + 4] & 0x3F) > 0) {
        std::memcpy(header5, block.data() + i, 5);
        return at + i;
      }
    }
    at += i;  // a multiple of step, so the step pattern goes on
  }
}

// Reads the frame at the stream position (or, when the bytes there are no
// frame, at the next sync word) and decodes it into frameBuffer_. A frame the
// decoder refuses is left in frameBuffer_ as silence, so the frames after it
// keep their time; skipped bytes and refused frames are noted as damage.
TAc3File::TFrameResult TAc3File::DecodeFrame() {
  uint8_t header[5];
  int64_t at = stream_->Position();
  if (stream_->Read(header, 5) != 5) return TFrameResult::End;
  if (header[0] != 0x0B || header[1] != 0x77 || Ac3FrameBytes(header[4] >> 6, header[4] & 0x3F) == 0) {
    const int64_t from = at;
    at = FindSync(at + 1, 1, header);
    if (at < 0) {
      // Bytes after the last frame that are no frame (a tag, or damage at
      // the end) are only noted when there is a lot of them.
      if (stream_->Size() - from > 256) NoteDamage("AC-3 data at offset " + std::to_string(from) + " is no frame");
      return TFrameResult::End;
    }
    NoteDamage("AC-3 data from offset " + std::to_string(from) + " to " + std::to_string(at) + " is no frame");
  }
  const int size = Ac3FrameBytes(header[4] >> 6, header[4] & 0x3F);
  if (av_new_packet(packet_, size) < 0) return TFrameResult::End;
  std::memcpy(packet_->data, header, 5);
  stream_->Seek(at + 5, 0);
  const bool whole = stream_->Read(packet_->data + 5, size - 5) == size - 5;
  const int sent = whole ? avcodec_send_packet(codec_, packet_) : -1;
  av_packet_unref(packet_);
  if (!whole) {
    NoteDamage("AC-3 frame at offset " + std::to_string(at) + " is cut short");
    return TFrameResult::End;
  }
  if (sent < 0 || avcodec_receive_frame(codec_, frame_) < 0) {
    // The decoder's complaint, as the library's error callback recorded it.
    NoteDamage("AC-3 frame at offset " + std::to_string(at) + " cannot be decoded");
    std::fill(frameBuffer_.begin(), frameBuffer_.end(), 0);
    return Channels == 0 ? TFrameResult::End : TFrameResult::Damaged;
  }
  const int channels = frame_->ch_layout.nb_channels;
  if (Channels == 0) {
    Channels = channels;
    ChannelMask = ChannelMaskOf(codec_);
    frameBuffer_.assign(static_cast<size_t>(SamplesPerFrame) * Channels, 0);
  }
  // The decoder's float samples, scaled by 32767 and rounded; a frame whose
  // layout differs from the first frame's plays as silence.
  std::fill(frameBuffer_.begin(), frameBuffer_.end(), 0);
  if (channels == Channels && frame_->nb_samples <= SamplesPerFrame) {
    converted_.clear();
    AppendS16(frame_, channels, 32767.0f, converted_);
    std::copy(converted_.begin(), converted_.end(), frameBuffer_.begin());
  }
  av_frame_unref(frame_);
  return TFrameResult::Decoded;
}

bool TAc3File::ReadPcm(void* buffer, int32_t& count) {
  auto* out = static_cast<uint8_t*>(buffer);
  const uint32_t requested = count > 0 ? static_cast<uint32_t>(count) : 0;
  uint32_t wanted = requested;
  const uint32_t frameBytes = FrameBytes();
  while (wanted > 0) {
    if (remaining_ == 0) {
      if (ended_ || DecodeFrame() == TFrameResult::End) {
        // After the end the rest of the request is silence, and the count
        // says where the sound ended.
        ended_ = true;
        std::memset(out, 0, wanted);
        count = static_cast<int32_t>(requested - wanted);
        return false;
      }
      remaining_ = frameBytes;
    }
    const uint32_t n = std::min(wanted, remaining_);
    std::memcpy(out, reinterpret_cast<const uint8_t*>(frameBuffer_.data()) + (frameBytes - remaining_), n);
    out += n;
    wanted -= n;
    remaining_ -= n;
    PcmPos += n;
  }
  return true;
}

void TAc3File::Seek(int64_t position) {
  const int64_t sampleFrame = 2 * Channels;
  position = std::max<int64_t>(position, 0) / sampleFrame * sampleFrame;
  const int64_t frameBytes = FrameBytes();
  const int64_t n = position / frameBytes;
  // The frame before primes the decoder's overlap, so the target frame comes
  // out as it does when the file is read from the start (but for the dither
  // noise of bands without bits, which runs on from the start of the file).
  int64_t at = FirstFrameOffset + std::max<int64_t>(n - 1, 0) * FrameSize;
  stream_->Seek(at, 0);
  bool ok = StartDecoder() && (n == 0 || DecodeFrame() != TFrameResult::End);
  ok = ok && DecodeFrame() != TFrameResult::End;
  PcmPos = position;
  ended_ = !ok;
  remaining_ = ok ? static_cast<uint32_t>(frameBytes - position % frameBytes) : 0;
}

}  // namespace sdm
