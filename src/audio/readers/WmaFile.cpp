#include "audio/readers/WmaFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

#include "audio/AudioFileStream.h"
#include "audio/tags/TagText.h"

namespace sdm {

namespace {

std::string Hex8(int code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%.8x", static_cast<unsigned>(code));
  return text;
}

uint64_t LE(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// A GUID in its registry form; ASF stores the first three fields little-endian.
std::string GuidText(const uint8_t* g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(LE(g, 4)), static_cast<unsigned>(LE(g + 4, 2)),
                static_cast<unsigned>(LE(g + 6, 2)), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

const char* const kHeaderObject = "{75B22630-668E-11CF-A6D9-00AA0062CE6C}";
const char* const kFileProperties = "{8CABDCA1-A947-11CF-8EE4-00C00C205365}";
const char* const kContentDescription = "{75B22633-668E-11CF-A6D9-00AA0062CE6C}";
const char* const kExtendedContent = "{D2D0A440-E307-11D2-97F0-00A0C95EA850}";

// A header larger than this is no audio file's.
constexpr uint64_t kMaxHeader = 16u << 20;

std::string Utf16Text(const uint8_t* p, size_t n) {
  std::string s = tagtext::Utf16LeToUtf8(p, n);
  auto end = s.find('\0');
  return end == std::string::npos ? s : s.substr(0, end);
}

// One attribute as the runtime writes it: NAME=value, or for data it cannot
// show, NAME followed by a note of its length.
void AddAttribute(TAsfAttributes& a, const std::string& name, int type, const uint8_t* value, size_t length) {
  const std::string tag = WmaTagName(name);
  std::string text;
  switch (type) {
    case 0: text = "=" + Utf16Text(value, length); break;                        // string
    case 1: text = "= Binary of length(" + std::to_string(length) + ")"; break;  // bytes
    case 2:
      text = "=" + std::string(length >= 1 && LE(value, std::min<int>(4, static_cast<int>(length))) ? "1" : "0");
      break;
    case 3: text = length >= 4 ? "=" + std::to_string(LE(value, 4)) : ""; break;  // 32-bit
    case 4: text = length >= 8 ? "=" + std::to_string(LE(value, 8)) : ""; break;  // 64-bit
    case 5: text = length >= 2 ? "=" + std::to_string(LE(value, 2)) : ""; break;  // 16-bit
    case 6: text = length >= 16 ? "=" + GuidText(value) : ""; break;              // GUID
    default: break;
  }
  if (text.empty()) text = "= Unknown data of length(" + std::to_string(length) + ")";
  a.Lines.push_back(tag + text);
  if (tagtext::SameText(name, "duration") && (type == 4 || type == 3)) a.Duration = LE(value, type == 4 ? 8 : 4);
  if (tagtext::SameText(name, "bitrate") && type == 3) a.BitRate = static_cast<uint32_t>(LE(value, 4));
}

void AddNumber(TAsfAttributes& a, const char* name, int type, uint64_t v) {
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
  AddAttribute(a, name, type, bytes, type == 4 ? 8 : 4);
}

void ReadFileProperties(TAsfAttributes& a, const uint8_t* p, size_t n) {
  // File id, size, date, packets, play and send duration, preroll, flags,
  // packet sizes, maximum bit rate.
  if (n < 80) return;
  const uint64_t play = LE(p + 40, 8), preroll = LE(p + 56, 8);
  const uint32_t flags = static_cast<uint32_t>(LE(p + 64, 4));
  // The play duration includes the preroll, given in milliseconds.
  const uint64_t prerollTicks = preroll * 10000;
  AddNumber(a, "Duration", 4, play > prerollTicks ? play - prerollTicks : 0);
  AddNumber(a, "Bitrate", 3, LE(p + 76, 4));
  AddNumber(a, "Seekable", 2, (flags >> 1) & 1);
  AddNumber(a, "Broadcast", 2, flags & 1);
}

void ReadContentDescription(TAsfAttributes& a, const uint8_t* p, size_t n) {
  static const char* const kNames[5] = {"Title", "Author", "Copyright", "Description", "Rating"};
  if (n < 10) return;
  size_t at = 10;
  for (int i = 0; i < 5; ++i) {
    const size_t length = static_cast<size_t>(LE(p + 2 * i, 2));
    if (length > n - at) return;
    if (length > 0) AddAttribute(a, kNames[i], 0, p + at, length);
    at += length;
  }
}

void ReadExtendedContent(TAsfAttributes& a, const uint8_t* p, size_t n) {
  if (n < 2) return;
  const size_t count = static_cast<size_t>(LE(p, 2));
  size_t at = 2;
  for (size_t i = 0; i < count; ++i) {
    if (n - at < 2) return;
    const size_t nameLength = static_cast<size_t>(LE(p + at, 2));
    at += 2;
    if (n - at < nameLength + 4) return;
    const std::string name = Utf16Text(p + at, nameLength);
    at += nameLength;
    const int type = static_cast<int>(LE(p + at, 2));
    const size_t valueLength = static_cast<size_t>(LE(p + at + 2, 2));
    at += 4;
    if (n - at < valueLength) return;
    AddAttribute(a, name, type, p + at, valueLength);
    at += valueLength;
  }
}

}  // namespace

std::string WmaTagName(const std::string& attribute) {
  static const std::pair<const char*, const char*> kNames[] = {{"Title", "TITLE"},
                                                               {"Author", "ARTIST"},
                                                               {"Description", "DESCRIPTION"},
                                                               {"Rating", "RATING"},
                                                               {"Copyright", "COPYRIGHT"},
                                                               {"Duration", "DURATION"},
                                                               {"Bitrate", "BITRATE"},
                                                               {"Seekable", "SEEKABLE"},
                                                               {"Stridable", "STRIDABLE"},
                                                               {"Broadcast", "BROADCAST"},
                                                               {"Use_DRM", "USEDRM"},
                                                               {"DRM_Flags", "DRMFLAGS"},
                                                               {"DRM_Level", "DRMLEVEL"},
                                                               {"Is_Protected", "PROTECTED"},
                                                               {"Is_Trusted", "TRUSTED"},
                                                               {"Signature_Name", "SIGNATURE"},
                                                               {"HasAudio", "HASAUDIO"},
                                                               {"HasImage", "HASIMAGE"},
                                                               {"HasScript", "HASSCRIPT"},
                                                               {"HasVideo", "HASVIDEO"},
                                                               {"CurrentBitrate", "BITRATE"},
                                                               {"OptimalBitrate", "OPTIMALBITRATE"},
                                                               {"WM/AlbumTitle", "ALBUM"},
                                                               {"WM/Composer", "COMPOSER"},
                                                               {"WM/Lyrics", "WRITER"},
                                                               {"WM/Track", "TRACK"},
                                                               {"WM/TrackNumber", "TRACKNUMBER"},
                                                               {"WM/PromotionURL", "WEB"},
                                                               {"WM/AlbumCoverURL", "COVERWEB"},
                                                               {"WM/Genre", "GENRE"},
                                                               {"WM/Year", "YEAR"},
                                                               {"WM/GenreID", "GENREID"},
                                                               {"WM/MCDI", "MCDI"},
                                                               {"BannerImageType", "BANNERIMAGETYPE"},
                                                               {"BannerImageData", ""},
                                                               {"BannerImageURL", "BANNERIMAGEWEB"},
                                                               {"CopyrightURL", "COPYRIGHTWEB"},
                                                               {"NSC_Name", "RADIONAME"},
                                                               {"NSC_Address", "RADIOADDRESS"},
                                                               {"NSC_Phone", "RADIOPHONE"},
                                                               {"NSC_Email", "RADIOEMAIL"},
                                                               {"NSC_Description", "RADIODESCRIPTION"}};
  for (const auto& [name, tag] : kNames)
    if (tagtext::SameText(attribute, name)) return tag;
  return attribute;
}

TAsfAttributes ReadAsfAttributes(const std::string& fileName) {
  TAsfAttributes a;
  try {
    TWFileStream s(fileName, TWFileStream::ModeRead);
    uint8_t head[30];
    if (s.Read(head, 30) != 30 || GuidText(head) != kHeaderObject) return a;
    const uint64_t size = LE(head + 16, 8);
    if (size < 30 || size > kMaxHeader || size > static_cast<uint64_t>(s.Size())) return a;
    std::string header(static_cast<size_t>(size - 30), '\0');
    if (s.Read(header.data(), static_cast<int64_t>(header.size())) != static_cast<int64_t>(header.size())) return a;
    a.Found = true;
    const auto* p = reinterpret_cast<const uint8_t*>(header.data());
    size_t at = 0;
    // Sub-objects: GUID and 64-bit size (both included in the size).
    while (header.size() - at >= 24) {
      const std::string guid = GuidText(p + at);
      const uint64_t objectSize = LE(p + at + 16, 8);
      if (objectSize < 24 || objectSize > header.size() - at) break;
      const uint8_t* body = p + at + 24;
      const size_t length = static_cast<size_t>(objectSize - 24);
      if (guid == kFileProperties)
        ReadFileProperties(a, body, length);
      else if (guid == kContentDescription)
        ReadContentDescription(a, body, length);
      else if (guid == kExtendedContent)
        ReadExtendedContent(a, body, length);
      at += static_cast<size_t>(objectSize);
    }
  } catch (const std::exception&) {
  }
  return a;
}

TWMAAudioFile::TWMAAudioFile(const std::string& fileName) : TAvAudioReader(fileName) {
  std::error_code ec;
  auto size = std::filesystem::file_size(fileName, ec);
  FileSizeValue = ec ? 0 : static_cast<int64_t>(size);
  if (!AvFormatAvailable("asf", {"wmav1", "wmav2"}))
    throw EError(
        "Windows Media Audio support DLL (wmvcore.dll) not found or outdated. Download the latest Microsoft "
        "Windows Media player.");
  int r = Av.OpenContainer(fileName, {"asf"});
  if (r < 0) throw EError("Failed to open the wm file - " + Hex8(r));
  const int outputs = Av.StreamCount();
  if (outputs > 1) throw EError("This Windows Media file contains too many outputs (" + std::to_string(outputs) + ")");
  if (outputs == 0) throw EError("Failed to get the props for output 0 - " + Hex8(AvDecoderNotFound()));
  if (!Av.IsAudio(0)) throw EError("WMA doesn't contains Audio data");
  r = OpenAudio(0);
  if (r < 0) throw EError("Failed to get media type for output 0 - " + Hex8(r));
  TAsfAttributes attributes = ReadAsfAttributes(fileName);
  Tags = attributes.Lines;
  BitRate = attributes.BitRate;
  Duration = attributes.Duration;
  const int64_t bytesPerSecond = int64_t{2} * Av.Channels * Av.SampleRate;
  // The play time of the header; a header without one leaves the length the
  // demuxer found.
  // In long double, and within int64_t: the header's 64-bit duration may
  // claim any length at all.
  const long double claimed = static_cast<long double>(Duration) * bytesPerSecond / 10000000.0L;
  PcmSize = Duration == 0 ? GetPcmSizeOfStream() : claimed >= 9.2e18L ? INT64_MAX : static_cast<int64_t>(claimed);
  // A header that claims more than the packets hold is held to them.
  if (Av.LengthCorrected) PcmSize = std::min(PcmSize, GetPcmSizeOfStream());
  PcmSize -= PcmSize % FrameBytes();
}

}  // namespace sdm
