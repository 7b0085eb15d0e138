#include "audio/U_AudioFile.h"

#include <cctype>
#include <map>
#include <mutex>

#include "audio/SoundFileKind.h"
#include "audio/filters/FormatFilter.h"
#include "audio/filters/LoudnessCompressor.h"
#include "audio/mpeg/U_MpegAudio.h"
#include "audio/readers/AacFile.h"
#include "audio/readers/Ac3File.h"
#include "audio/readers/ApeFile.h"
#include "audio/readers/FlacFile.h"
#include "audio/readers/MpcFile.h"
#include "audio/readers/OggFile.h"
#include "audio/readers/WavFile.h"
#include "audio/readers/WmaFile.h"

namespace sdm {

namespace {

std::map<uint8_t, TAudioReaderFactory>& Registered() {
  static std::map<uint8_t, TAudioReaderFactory> r;
  return r;
}
std::mutex& RegistryLock() {
  static std::mutex m;
  return m;
}

template <class TReader>
std::unique_ptr<TAbstractAudioFile> Make(const std::string& fileName) {
  return std::make_unique<TReader>(fileName);
}

TAudioReaderFactory BuiltInReader(uint8_t kind) {
  switch (kind) {
    case akWav: return Make<TWavAudioFile>;
    case akMpeg: return Make<TMpegAudioFile>;
    case akWma: return Make<TWMAAudioFile>;
    case akOgg: return Make<TOggFile>;
    case akApe: return Make<TApeFile>;
    case akAc3: return Make<TAc3File>;
    case akMpc: return Make<TMpcFile>;
    case akFlac: return Make<TFLACFile>;
    case akAac: return Make<TAacFile>;
    default: return {};
  }
}

bool MatchAt(const std::string& s, size_t si, const std::string& m, size_t mi) {
  while (mi < m.size()) {
    char c = m[mi];
    if (c == '*') {
      while (mi < m.size() && m[mi] == '*') ++mi;
      if (mi == m.size()) return true;
      for (size_t k = si; k <= s.size(); ++k)
        if (MatchAt(s, k, m, mi)) return true;
      return false;
    }
    if (si >= s.size()) return false;
    auto lower = [](char x) { return static_cast<char>(std::tolower(static_cast<unsigned char>(x))); };
    if (c == '[') {
      size_t close = m.find(']', mi + 1);
      if (close == std::string::npos) return false;
      bool hit = false;
      for (size_t k = mi + 1; k < close; ++k) hit = hit || lower(m[k]) == lower(s[si]);
      if (!hit) return false;
      mi = close + 1;
      ++si;
      continue;
    }
    if (c != '?' && lower(c) != lower(s[si])) return false;
    ++mi;
    ++si;
  }
  return si == s.size();
}

// A reader of that kind for the file: the registered one, else the built-in.
std::unique_ptr<TAbstractAudioFile> ReaderOf(uint8_t kind, const std::string& fileName) {
  TAudioReaderFactory factory;
  {
    std::lock_guard<std::mutex> lock(RegistryLock());
    auto it = Registered().find(kind);
    if (it != Registered().end()) factory = it->second;
  }
  if (!factory) factory = BuiltInReader(kind);
  if (!factory) throw EReaderMissing("No reader for " + FormatKindName(kind) + " files in this build: " + fileName);
  return factory(fileName);
}

}  // namespace

void RegisterAudioReader(uint8_t kind, TAudioReaderFactory factory) {
  std::lock_guard<std::mutex> lock(RegistryLock());
  if (factory)
    Registered()[kind] = std::move(factory);
  else
    Registered().erase(kind);
}

bool MatchesMask(const std::string& name, const std::string& mask) { return MatchAt(name, 0, mask, 0); }

uint8_t FormatKindFromName(const std::string& name) {
  static const std::pair<const char*, uint8_t> kMasks[] = {
      {"*.wav", akWav}, {"*.mp[123]", akMpeg}, {"*.wma", akWma},   {"*.asf", akWma}, {"*.ogg", akOgg}, {"*.ape", akApe},
      {"*.ac3", akAc3}, {"*.mpc", akMpc},      {"*.flac", akFlac}, {"*.aac", akAac}, {"*.m4a", akAac}};
  for (const auto& [mask, kind] : kMasks)
    if (MatchesMask(name, mask)) return kind;
  return akNone;
}

std::string FormatKindName(uint8_t kind) {
  switch (kind) {
    case akWav: return "WAV";
    case akMpeg: return "MPEG audio";
    case akWma: return "Windows Media audio";
    case akOgg: return "Ogg Vorbis";
    case akApe: return "Monkey's Audio";
    case akAc3: return "AC-3";
    case akMpc: return "Musepack";
    case akFlac: return "FLAC";
    case akAac: return "AAC";
    default: return "unknown";
  }
}

TAudioFile::TAudioFile() = default;
TAudioFile::~TAudioFile() { Close(); }

void TAudioFile::SetFileName(const std::string& name) {
  if (IsOpen) return;
  FileName = name;
  FormatKind = FormatKindFromName(name);
}

bool TAudioFile::Open() {
  if (IsOpen) return true;
  if (FormatKind == akNone) return false;
  // The name chooses, unless the bytes plainly say the file is of another
  // kind: an AAC stream or a WAV named .mp3 read as MPEG audio would play as
  // noise, or as the stray patterns in it that look like frames.
  // When the reader of what the bytes show cannot read it after all (MP3
  // frames in a RIFF wrapper look like a WAV), the name's reader has its turn.
  const uint8_t sniffed = SniffFormatKind(FileName);
  std::unique_ptr<TAbstractAudioFile> reader;
  if (sniffed != akNone && sniffed != FormatKind) {
    try {
      reader = ReaderOf(sniffed, FileName);
    } catch (const EError&) {
    }
  }
  if (!reader) reader = ReaderOf(FormatKind, FileName);
  auto filter = std::make_unique<TRsmpFilter>(reader.get(), OutSampleRate, OutChannels);
  auto compressor = std::make_unique<TCompressor>(filter.get());
  compressor->Enabled = UseCompressor;
  compressor->AutoAmount = true;
  Reader = std::move(reader);
  Filter = std::move(filter);
  Compressor = std::move(compressor);
  IsOpen = true;
  return true;
}

double TAudioFile::GetDuration() {
  if (!Open()) return 0;
  const long double size = static_cast<long double>(Reader->GetPcmSize());
  const long double rate = Reader->GetSampleRate();
  const long double bits = Reader->GetBitsPerSample();
  const long double channels = Reader->GetChannels();
  // A reader without a format has no play time, not an infinite one.
  if (rate == 0 || bits == 0 || channels == 0) return 0;
  return static_cast<double>(size / rate / bits * (1.0L / 86400.0L) * 8.0L / channels);
}

bool TAudioFile::Close() {
  if (IsOpen) {
    Compressor.reset();
    Filter.reset();
    Reader.reset();
    IsOpen = false;
  }
  return true;
}

TAbstractAudioFile* TAudioFile::Output() { return IsOpen ? Compressor.get() : nullptr; }

}  // namespace sdm
