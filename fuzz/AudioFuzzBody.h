#pragma once
// What the facade fuzz target and its corpus test do with one input: the
// first byte picks the file's extension, and with it the reader (WAV, MPEG,
// WMA/ASF, Ogg Vorbis, Monkey's Audio, AC-3, Musepack, FLAC, AAC as ADTS or
// MP4), unless the bytes show another kind; the rest is the file. The
// sequence is what a caller may ask: the play time, the PCM of the reader and
// of the facade's chain (format filter and compressor), seeks, the encoding
// to MP3 a job gives a soundtrack that is not MPEG audio, then the tag
// classes (ID3v1, ID3v2, APEv2, Vorbis comments) reading the
// file and writing and removing their tags on a copy, and the reader's own
// WriteTags and RemoveTags on another copy. A refusal (an EError) is a
// correct answer; a broken promise is collected as a fault.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "audio/SoundFileKind.h"
#include "audio/U_AudioFile.h"
#include "audio/encode/SoundtrackEncoder.h"
#include "audio/tags/U_ApeTag.h"
#include "audio/tags/U_ID3.h"
#include "audio/tags/U_OggTag.h"

namespace sdm::fuzz {

struct TAudioRun {
  std::string extension;
  bool opened = false;
  std::string refusal;  // the error text when the reader refused the file
  int64_t pcmRead = 0;  // bytes the reader delivered before its end or the bound
  std::vector<std::string> faults;
};

namespace detail {

inline const char* const kExtensions[] = {".wav", ".mp3", ".wma",  ".ogg", ".ape",
                                          ".ac3", ".mpc", ".flac", ".aac", ".m4a"};

// Reading stops here so that a header promising hours cannot make one fuzz
// run take seconds.
constexpr int64_t kMaxPcmBytes = 1 << 20;

inline bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

// One read into a buffer of exactly the requested size, so a write past it
// is an out-of-bounds write the sanitizer reports; the count delivered must
// lie within the request.
inline bool ReadExact(TAbstractAudioFile& f, int32_t count, const char* who, TAudioRun& run, int32_t* got = nullptr) {
  std::vector<uint8_t> buf(static_cast<size_t>(std::max(count, 1)));
  int32_t n = count;
  bool more = f.ReadPcm(buf.data(), n);
  if (n < 0 || n > count)
    run.faults.push_back(std::string(who) + " delivered " + std::to_string(n) + " of " + std::to_string(count) +
                         " bytes");
  if (got) *got = n;
  return more;
}

// Reads until the source says it is exhausted or delivers nothing; returns
// the bytes delivered.
inline int64_t ReadToEnd(TAbstractAudioFile& f, int32_t chunk, const char* who, TAudioRun& run) {
  int64_t total = 0;
  for (int64_t guard = 0; total < kMaxPcmBytes && guard < kMaxPcmBytes; guard += chunk) {
    int32_t n = 0;
    const bool more = ReadExact(f, chunk, who, run, &n);
    total += std::max(n, 0);
    if (!more || n <= 0) break;
  }
  return total;
}

inline void CheckFigures(TAbstractAudioFile& r, TAudioRun& run) {
  const double t = r.GetPlayTime();
  if (!(std::isfinite(t) && t >= 0)) run.faults.push_back("play time is not a duration");
  if (r.GetPcmSize() < 0) run.faults.push_back("negative PCM size");
  if (r.GetPosition() < 0) run.faults.push_back("negative position");
  const uint32_t bits = r.GetBitsPerSample();
  if (bits != 8 && bits != 16 && r.GetFormatKind() != akWav)
    run.faults.push_back("bits per sample " + std::to_string(bits));
}

inline void SeekAround(TAbstractAudioFile& f, const char* who, TAudioRun& run) {
  const int64_t size = f.GetPcmSize();
  const int64_t targets[] = {0, size / 2 + 1, 4099, size - 1, size + 12345, -8, 7};
  for (int64_t t : targets) {
    f.Seek(t);
    // A position before the start may be kept as asked (the MPEG reader does).
    if (t >= 0 && f.GetPosition() < 0)
      run.faults.push_back(std::string(who) + ": negative position after Seek(" + std::to_string(t) + ")");
    ReadExact(f, 7, who, run);
    ReadExact(f, 4099, who, run);
  }
}

inline void RunReader(const std::string& path, TAudioRun& run) {
  TAudioFile audio;
  audio.SetFileName(path);
  const double days = audio.GetDuration();
  run.opened = true;
  if (!(std::isfinite(days) && days >= 0)) run.faults.push_back("facade play time is not a duration");
  TAbstractAudioFile& reader = *audio.Reader;
  CheckFigures(reader, run);
  run.pcmRead = ReadToEnd(reader, 4093, "reader", run);
  SeekAround(reader, "reader", run);
  // The chain presents 44100 Hz stereo 16-bit whatever the source; it may
  // refuse a source it cannot convert, with an error.
  TAbstractAudioFile& chain = *audio.Output();
  try {
    chain.Seek(0);
    ReadToEnd(chain, 8192, "chain", run);
    SeekAround(chain, "chain", run);
  } catch (const EError&) {
  }
}

// The soundtrack path of a job: the file decoded and encoded to MP3 by
// libmp3lame, as the muxer does with a soundtrack that is not MPEG audio, cut
// or padded to a fixed length. The packets must end exactly there and make
// MPEG audio frames that follow one another.
constexpr int64_t kEncodedSamples = 8192;

inline void RunEncoder(const std::string& path, TAudioRun& run) {
  try {
    TSoundtrackEncoder encoder(
        path, {.Encoder = "libmp3lame", .BitRate = 64000, .SampleRate = 44100, .Length = kEncodedSamples});
    struct TPacket {
      AVPacket* p = av_packet_alloc();
      ~TPacket() { av_packet_free(&p); }
    } owned;
    AVPacket* packet = owned.p;
    std::vector<uint8_t> mp3;
    int64_t end = 0;
    int packets = 0;
    while (encoder.NextPacket(packet)) {
      end = packet->pts + packet->duration;
      mp3.insert(mp3.end(), packet->data, packet->data + packet->size);
      av_packet_unref(packet);
      if (++packets > 1000) {
        run.faults.push_back("the encoder gives packets without end");
        break;
      }
    }
    if (end != kEncodedSamples)
      run.faults.push_back("the encoded sound ends at sample " + std::to_string(end) + ", not " +
                           std::to_string(kEncodedSamples));
    if (!MpegFramesChainAt(mp3.data(), mp3.size(), 0, 4)) run.faults.push_back("the MP3 written is no MPEG audio");
  } catch (const EError&) {
    // Refusing a file it cannot read, with the reason, is a correct answer.
  }
}

// The tag classes on the input and on a copy: read, write, read back,
// remove. Writers must keep their promise that what they wrote reads back.
inline void RunTags(const std::string& path, const std::string& copy, TAudioRun& run) {
  const TTagLines values = {"TITLE=fuzz", "ARTIST=someone", "TRACK=3", "GENRE=Rock"};
  std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
  try {
    TId3V1Tag v1;
    v1.ReadFromFile(copy);
    v1.Values = values;
    if (v1.WriteToFile()) {
      TId3V1Tag back;
      if (!back.ReadFromFile(copy) || FindTagValue(back.Values, "title") != "fuzz")
        run.faults.push_back("the ID3v1 tag written does not read back");
      back.RemoveFromFile();
    }
  } catch (const EError&) {
  }
  try {
    TId3V2Tag v2;
    v2.ReadFromFile(copy);
    v2.Values = values;
    if (v2.WriteToFile()) {
      TId3V2Tag back;
      if (!back.ReadFromFile(copy) || FindTagValue(back.Values, "title") != "fuzz")
        run.faults.push_back("the ID3v2 tag written does not read back");
      back.RemoveFromFile();
    }
  } catch (const EError&) {
  }
  try {
    TAPEV2Tag ape;
    ape.ReadFromFile(copy);
    ape.Values = values;
    if (ape.WriteToFile()) {
      TAPEV2Tag back;
      if (!back.ReadFromFile(copy) || FindTagValue(back.Values, "title") != "fuzz")
        run.faults.push_back("the APEv2 tag written does not read back");
      back.RemoveFromFile();
    }
  } catch (const EError&) {
  }
  TOggTag ogg;
  if (ogg.ReadFromFile(copy)) {
    ogg.Values = values;
    if (ogg.WriteToFile()) {
      TOggTag back;
      if (!back.ReadFromFile(copy) || FindTagValue(back.Values, "title") != "fuzz")
        run.faults.push_back("the Vorbis comments written do not read back");
    }
    TOggTag again;
    if (again.ReadFromFile(copy)) again.RemoveFromFile();
  }
  // The reader's own tag writing, every kind at once.
  std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
  try {
    TAudioFile audio;
    audio.SetFileName(copy);
    if (audio.Open()) {
      audio.Reader->Tags = values;
      audio.Reader->WriteTags(tkId3v1 | tkId3v2 | tkApeV2 | tkVorbis);
      audio.Reader->RemoveTags(tkId3v1 | tkId3v2 | tkApeV2 | tkVorbis);
    }
  } catch (const EError&) {
  }
}

}  // namespace detail

// Runs the whole sequence on one input (extension byte and file) in folder
// dir, which receives two scratch files and is left without them.
inline TAudioRun RunAudioInput(const uint8_t* data, size_t size, const std::string& dir) {
  TAudioRun run;
  if (size == 0) return run;
  run.extension = detail::kExtensions[data[0] % std::size(detail::kExtensions)];
  const std::string path = dir + "/sdm_audio_fuzz" + run.extension;
  const std::string copy = dir + "/sdm_audio_fuzz_copy" + run.extension;
  if (!detail::WriteFile(path, data + 1, size - 1)) {
    run.faults.push_back("cannot write " + path);
    return run;
  }
  try {
    detail::RunReader(path, run);
  } catch (const EError& e) {
    run.opened = false;
    run.refusal = e.what();
  }
  detail::RunEncoder(path, run);
  detail::RunTags(path, copy, run);
  std::remove(path.c_str());
  std::remove(copy.c_str());
  return run;
}

}  // namespace sdm::fuzz
