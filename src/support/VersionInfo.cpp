#include "support/VersionInfo.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/RegularFile.h"
#include "support/SdmVersion.h"
#include "support/U_SysUtils.h"

namespace sdm {

namespace {

// The version record every program of this project carries. It starts with a
// marker that the reader looks for in other program files; the reader builds
// its copy of the marker at run time, so the only complete marker in a binary
// is the one in front of the record.
#define SDM_RECORD_MARKER "\x01SDM-VERSION-RECORD\x02"
__attribute__((used)) const char kVersionRecord[] =
    SDM_RECORD_MARKER "FileVersion=" SDM_VERSION_TEXT
                      "\n"
                      "ProductVersion=" SDM_VERSION_TEXT
                      "\n"
                      "CompanyName=Tarvenit\n"
                      "ProductName=Slidomat\n"
                      "FileDescription=Slidomat, pictures to AVI video\n"
                      "InternalName=Slidomat\n"
                      "OriginalFilename=slidomat\n"
                      "LegalCopyright=Tarvenit\n"
                      "LegalTrademarks=\n"
                      "Comments=\n";
#undef SDM_RECORD_MARKER

std::string Marker() {
  std::string m = "\x01SDM-VERSION";
  m += "-RECORD\x02";
  return m;
}

// English (United States), Unicode: what a Windows build of the program declares.
constexpr uint32_t kTranslation = 0x04B00409;
constexpr const char* kLanguageName = "English (United States)";
constexpr uint32_t kFlagsMask = 0x3F;  // every flag the fixed information knows
constexpr uint32_t kTypeApp = 1;       // an application, not a library

std::string StripParens(std::string s) {
  std::string r;
  for (char c : s)
    if (c != '(' && c != ')') r += c;
  return r;
}

// Parses "Key=Value\n..." up to the terminating zero; false when no FileVersion.
bool ParseRecord(const char* text, size_t len, std::vector<std::pair<std::string, std::string>>& fields) {
  fields.clear();
  size_t pos = 0;
  while (pos < len && text[pos] != 0) {
    size_t end = pos;
    while (end < len && text[end] != '\n' && text[end] != 0) ++end;
    std::string line(text + pos, end - pos);
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    pos = end < len && text[end] == '\n' ? end + 1 : end;
  }
  for (const auto& f : fields)
    if (f.first == "FileVersion") return true;
  return false;
}

// Finds the record in a program file. Only ELF files are searched, in pieces,
// and only up to a size a program can have, so pointing this at a video file
// costs nothing.
bool FindRecordInFile(const std::string& path, std::vector<std::pair<std::string, std::string>>& fields) {
  constexpr int64_t kMaxProgramBytes = 512LL * 1024 * 1024;
  constexpr size_t kRecordMax = 4096;
  if (FileSizeOf(path) > kMaxProgramBytes) return false;
  // A named pipe or a device at that path would block or never end.
  std::string problem;
  const int fd = OpenRegularFileForReading(path, problem);
  if (fd < 0) return false;
  FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    return false;
  }
  char magic[4] = {};
  bool elf = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic,
                                                            "\x7F"
                                                            "ELF",
                                                            4) == 0;
  if (!elf) {
    std::fclose(f);
    return false;
  }
  std::rewind(f);
  const std::string marker = Marker();
  const size_t tail = marker.size() + kRecordMax;
  std::vector<char> chunk(1 << 20), win;
  bool found = false, eof = false;
  while (!found && !eof) {
    const size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
    eof = n < chunk.size();
    win.insert(win.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    // Keep enough of the end for a marker cut in two by the piece boundary.
    size_t keepFrom = win.size() > tail ? win.size() - tail : 0;
    for (size_t from = 0;;) {
      auto it = std::search(win.begin() + static_cast<std::ptrdiff_t>(from), win.end(), marker.begin(), marker.end());
      if (it == win.end()) break;
      const size_t pos = static_cast<size_t>(it - win.begin()), at = pos + marker.size();
      if (!eof && win.size() - at < kRecordMax) {
        keepFrom = std::min(keepFrom, pos);  // the record goes on in the next piece
        break;
      }
      if (ParseRecord(win.data() + at, std::min(win.size() - at, kRecordMax), fields)) {
        found = true;
        break;
      }
      from = pos + 1;
    }
    win.erase(win.begin(), win.begin() + static_cast<std::ptrdiff_t>(keepFrom));
  }
  std::fclose(f);
  return found;
}

// "1.2.3.4" as four 16-bit numbers; missing ones are 0.
std::array<uint32_t, 4> FourNumbers(const std::string& text) {
  std::array<uint32_t, 4> r{0, 0, 0, 0};
  size_t i = 0;
  for (char c : text) {
    if (c == '.' || c == ',') {
      if (++i == 4) break;
    } else if (c >= '0' && c <= '9') {
      r[i] = (r[i] * 10 + static_cast<uint32_t>(c - '0')) & 0xFFFF;
    }
  }
  return r;
}

}  // namespace

uint32_t PackVersion(const std::string& text) {
  uint32_t field[5] = {0, 0, 0, 0, 0};
  int i = 0;
  uint32_t digits = 0;  // the decimal value of the digits so far, wrapping like the 32-bit fields
  for (size_t k = 0; k < text.size() && i <= 4; ++k) {
    const char c = text[k];
    if (c >= '0' && c <= '9') digits = digits * 10 + static_cast<uint32_t>(c - '0');
    if (c == '.' || c == ',' || k + 1 == text.size()) {
      field[i++] = digits;
      digits = 0;
    }
  }
  return (field[0] << 24) | ((field[1] << 16) & 0x00FF0000u) | ((field[2] << 10) & 0x0000FC00u) | (field[3] & 0x3FFu);
}

std::string VersionIntToText(uint32_t value) {
  return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 0xFF) + "." +
         std::to_string((value >> 10) & 0x3F) + "." + std::to_string(value & 0x3FF);
}

TProgramVersion ProgramVersion() {
  return {SDM_VERSION_MAJOR, SDM_VERSION_MINOR, SDM_VERSION_RELEASE, SDM_VERSION_BUILD};
}

std::string ProgramVersionText() { return SDM_VERSION_TEXT; }

void TVersionInfo::SetFileName(const std::string& value) {
  if (!FileExistsLong(value)) return;
  fileName_ = value;
  Clear();
}

void TVersionInfo::SetToModule() {
  const std::string self = ProgramFilePath();
  if (self.empty()) return;
  fileName_ = self;
  Clear();
}

void TVersionInfo::Clear() {
  loaded_ = false;
  v_ = TValues{};
}

void TVersionInfo::EnsureLoaded() {
  if (!loaded_) LoadInfo();
}

bool TVersionInfo::LoadInfo() {
  Clear();
  if (!FileExistsLong(fileName_)) return false;
  std::vector<std::pair<std::string, std::string>> fields;
  // The running program knows its own record; other files are searched.
  const std::string self = ProgramFilePath();
  bool ok = !self.empty() && SameFile(self, fileName_)
                ? ParseRecord(kVersionRecord + Marker().size(), sizeof kVersionRecord - Marker().size(), fields)
                : FindRecordInFile(fileName_, fields);
  if (!ok) return false;

  for (const auto& [key, value] : fields) {
    if (key == "FileVersion")
      v_.fileVersion = StripParens(value);
    else if (key == "ProductVersion")
      v_.productVersion = StripParens(value);
    else if (key == "CompanyName")
      v_.companyName = value;
    else if (key == "ProductName")
      v_.productName = value;
    else if (key == "FileDescription")
      v_.fileDescription = value;
    else if (key == "InternalName")
      v_.internalName = value;
    else if (key == "OriginalFilename")
      v_.originalFilename = value;
    else if (key == "LegalCopyright")
      v_.legalCopyright = value;
    else if (key == "LegalTrademarks")
      v_.legalTrademarks = value;
    else if (key == "Comments")
      v_.comments = value;
  }
  v_.translation = kTranslation;
  v_.languageCount = 1;
  v_.languageName = kLanguageName;
  // The fixed information holds the four numbers as 16-bit halves of two words.
  const auto file = FourNumbers(v_.fileVersion), product = FourNumbers(v_.productVersion);
  v_.fileMS = file[0] << 16 | file[1];
  v_.fileLS = file[2] << 16 | file[3];
  v_.productMS = product[0] << 16 | product[1];
  v_.productLS = product[2] << 16 | product[3];
  v_.flagsMask = kFlagsMask;
  v_.type = kTypeApp;
  loaded_ = true;
  return true;
}

uint32_t TVersionInfo::TranslationValue() { return EnsureLoaded(), v_.translation; }
int TVersionInfo::LanguageCount() { return EnsureLoaded(), v_.languageCount; }
std::string TVersionInfo::LanguageName() { return EnsureLoaded(), v_.languageName; }
uint32_t TVersionInfo::FileMajorVersion() { return EnsureLoaded(), v_.fileMS; }
uint32_t TVersionInfo::FileMinorVersion() { return EnsureLoaded(), v_.fileLS; }
uint32_t TVersionInfo::ProductMajorVersion() { return EnsureLoaded(), v_.productMS; }
uint32_t TVersionInfo::ProductMinorVersion() { return EnsureLoaded(), v_.productLS; }
uint32_t TVersionInfo::FileFlags() { return EnsureLoaded(), v_.flags; }
uint32_t TVersionInfo::FileFlagsMask() { return EnsureLoaded(), v_.flagsMask; }
uint32_t TVersionInfo::FileOS() { return EnsureLoaded(), v_.os; }
uint32_t TVersionInfo::FileType() { return EnsureLoaded(), v_.type; }
uint32_t TVersionInfo::FileSubtype() { return EnsureLoaded(), v_.subtype; }
std::string TVersionInfo::Comments() { return EnsureLoaded(), v_.comments; }
std::string TVersionInfo::CompanyName() { return EnsureLoaded(), v_.companyName; }
std::string TVersionInfo::FileDescription() { return EnsureLoaded(), v_.fileDescription; }
std::string TVersionInfo::InternalName() { return EnsureLoaded(), v_.internalName; }
std::string TVersionInfo::LegalCopyright() { return EnsureLoaded(), v_.legalCopyright; }
std::string TVersionInfo::LegalTrademark() { return EnsureLoaded(), v_.legalTrademarks; }
std::string TVersionInfo::OriginalFilename() { return EnsureLoaded(), v_.originalFilename; }
std::string TVersionInfo::ProductName() { return EnsureLoaded(), v_.productName; }
std::string TVersionInfo::FileVersion() { return EnsureLoaded(), v_.fileVersion; }
std::string TVersionInfo::ProductVersion() { return EnsureLoaded(), v_.productVersion; }
uint32_t TVersionInfo::FileVersionInt() { return EnsureLoaded(), PackVersion(FileVersion()); }

}  // namespace sdm
