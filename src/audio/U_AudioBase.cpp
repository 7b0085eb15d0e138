#include "audio/U_AudioBase.h"

#include <cctype>
#include <climits>
#include <cstdio>

#include "audio/U_AudioFile.h"
#include "audio/tags/U_ApeTag.h"
#include "audio/tags/U_ID3.h"

namespace sdm {

namespace {

bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Days from 1899-12-30 (the runtime's date epoch) to a proleptic Gregorian date.
bool EncodeDate(int y, int m, int d, double& result) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  int maxDay = kDays[m - 1] + (m == 2 && leap ? 1 : 0);
  if (d > maxDay) return false;
  // Days since 0001-01-01 by the civil-from-days inverse.
  auto daysFromCivil = [](long long yy, long long mm, long long dd) {
    yy -= mm <= 2;
    long long era = (yy >= 0 ? yy : yy - 399) / 400;
    long long yoe = yy - era * 400;
    long long doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
  };
  result = static_cast<double>(daysFromCivil(y, m, d) - daysFromCivil(1899, 12, 30));
  return true;
}

}  // namespace

std::string FindTagValue(const TTagLines& lines, const std::string& name, bool* found) {
  for (const auto& line : lines) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (SameTextAscii(line.substr(0, eq), name)) {
      if (found) *found = true;
      return line.substr(eq + 1);
    }
  }
  if (found) *found = false;
  return {};
}

TAbstractAudioFile::TAbstractAudioFile(const std::string& fileName) : FileName(fileName) {}
TAbstractAudioFile::~TAbstractAudioFile() = default;

uint32_t TAbstractAudioFile::GetBitRate() { return 0; }
uint32_t TAbstractAudioFile::GetChannels() { return 0; }
int64_t TAbstractAudioFile::GetFileSize() { return 0; }
int64_t TAbstractAudioFile::GetPosition() { return 0; }
int64_t TAbstractAudioFile::GetPcmSize() { return 0; }
uint32_t TAbstractAudioFile::GetSampleRate() { return 0; }
uint32_t TAbstractAudioFile::GetBitsPerSample() { return 0; }
uint8_t TAbstractAudioFile::GetFormatKind() { return akNone; }
void TAbstractAudioFile::Seek(int64_t) {}
bool TAbstractAudioFile::CanRead() { return false; }

double TAbstractAudioFile::GetPlayTime() {
  // Bytes per second in 32-bit integer arithmetic, as the stored figures are
  // 32-bit; a reader without a format has no play time rather than a NaN.
  int32_t bytesPerSecond =
      static_cast<int32_t>(static_cast<int64_t>(GetChannels()) * GetSampleRate() * GetBitsPerSample() / 8);
  if (bytesPerSecond <= 0) return 0.0;
  long double t = static_cast<long double>(GetPcmSize()) / bytesPerSecond / 86400.0L;
  return static_cast<double>(t);
}

void TAbstractAudioFile::GetTagValue(const std::string& name, std::string& value) { value = FindTagValue(Tags, name); }

int32_t TAbstractAudioFile::GetTagInt(const std::string& name) {
  std::string v = TagValue(name);
  size_t i = 0;
  bool negative = false;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
  if (i == v.size()) return 0;
  long long n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] < '0' || v[i] > '9') return 0;
    n = n * 10 + (v[i] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) return 0;
  }
  n = negative ? -n : n;
  if (n > INT_MAX || n < INT_MIN) return 0;
  return static_cast<int32_t>(n);
}

double TAbstractAudioFile::GetTagDate(const std::string& name) {
  std::string v = TagValue(name);
  int a = 0, b = 0, c = 0;
  char tail = 0;
  double result = 0;
  if (std::sscanf(v.c_str(), "%d-%d-%d%c", &a, &b, &c, &tail) == 3 && v.find('-') == 4 && EncodeDate(a, b, c, result))
    return result;
  if (std::sscanf(v.c_str(), "%d/%d/%d%c", &a, &b, &c, &tail) == 3 && EncodeDate(c, b, a, result)) return result;
  throw EConvertError("'" + v + "' is not a valid date");
}

// The kinds of a set, named: "ID3v1, APEv2".
std::string TagKindNames(uint32_t kinds) {
  std::string names;
  const std::pair<uint32_t, const char*> all[] = {
      {tkId3v1, "ID3v1"}, {tkId3v2, "ID3v2"}, {tkApeV2, "APEv2"}, {tkVorbis, "Vorbis comment"}};
  for (const auto& [kind, name] : all)
    if (kinds & kind) names += (names.empty() ? "" : ", ") + std::string(name);
  return names;
}

bool TAbstractAudioFile::RefusesKinds(uint32_t kinds) {
  TagProblem.clear();
  const uint32_t foreign = kinds & ~WritableTagKinds();
  if (foreign == 0) return false;
  const uint8_t kind = GetFormatKind();
  TagProblem = TagKindNames(foreign) + " tags are not written to " +
               (kind == akNone ? std::string("files of this kind") : FormatKindName(kind) + " files");
  return true;
}

bool TAbstractAudioFile::RemoveTags(uint32_t kinds) { return !RefusesKinds(kinds) && RemoveKinds(kinds); }

bool TAbstractAudioFile::RemoveKinds(uint32_t kinds) {
  bool ok = true;
  if (kinds & tkId3v1) {
    TId3V1Tag tag;
    tag.ReadFromFile(FileName);
    ok = tag.RemoveFromFile() && ok;
  }
  if (kinds & tkId3v2) {
    TId3V2Tag tag;
    tag.ReadFromFile(FileName);
    ok = tag.RemoveFromFile() && ok;
  }
  if (kinds & tkApeV2) {
    TAPEV2Tag tag;
    tag.ReadFromFile(FileName);
    ok = tag.RemoveFromFile() && ok;
  }
  return ok;
}

bool TAbstractAudioFile::WriteTags(uint32_t kinds) {
  if (RefusesKinds(kinds)) return false;
  bool ok = true;
  if (kinds & tkId3v1) {
    TId3V1Tag tag;
    tag.ReadFromFile(FileName);
    tag.Values = Tags;  // UTF-8 is the 8-bit code page here
    ok = tag.WriteToFile() && ok;
  }
  if (kinds & tkId3v2) {
    TId3V2Tag tag;
    tag.ReadFromFile(FileName);
    tag.Values = Tags;
    ok = tag.WriteToFile() && ok;
  }
  if (kinds & tkApeV2) {
    TAPEV2Tag tag;
    tag.ReadFromFile(FileName);
    tag.Values = Tags;
    ok = tag.WriteToFile() && ok;
  }
  return ok;
}

}  // namespace sdm
