#include "audio/tags/U_ID3.h"

#include <cstring>
#include <vector>

#include "audio/tags/TagText.h"

namespace sdm {

using namespace tagtext;

// ---------------------------------------------------------------- genres

// The ID3v1 genre list (0-79) and its Winamp extension (80-147), with this
// program's own spellings of 40, 59, 67, 81, 84 and 123.
static const char* const kGenres[Id3GenreCount] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal", "New Age",
    "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska",
    "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion",
    "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alt. Rock",
    "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult",
    "Gangsta Rap", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro",
    "Musical", "Rock & Roll", "Hard Rock",
    // Winamp extension
    "Folk", "Folk/Rock", "National Folk", "Swing", "Fast-Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass",
    "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band",
    "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata",
    "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore",
    "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella",
    "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop",
    "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop", "Synthpop"};

const char* Id3GenreName(int number) { return number >= 0 && number < Id3GenreCount ? kGenres[number] : nullptr; }

int Id3GenreNumber(const std::string& name) {
  for (int i = 0; i < Id3GenreCount; ++i)
    if (SameText(name, kGenres[i])) return i;
  return -1;
}

namespace {

// A whole decimal integer (optional sign); false otherwise.
bool ParseInteger(const std::string& s, long long& out) {
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  if (i == s.size() || s.size() - i > 18) return false;
  long long n = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    n = n * 10 + (s[i] - '0');
  }
  out = neg ? -n : n;
  return true;
}

// An 8-bit field: cut at its size (and at a zero byte), trailing spaces and
// control characters stripped.
std::string Field(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  while (len > 0 && p[len - 1] <= ' ') --len;
  return BytesToText(p, len);
}

void PutField(std::string& block, size_t at, size_t size, const std::string& value) {
  std::string v = CutUtf8(value, size);
  std::memcpy(&block[at], v.data(), v.size());
}

}  // namespace

// ---------------------------------------------------------------- ID3v1

bool TId3V1Tag::ParseBlock(const uint8_t* b) {
  Values.clear();
  Present = std::memcmp(b, "TAG", 3) == 0;
  if (!Present) return false;
  Version = ((b[125] == 0 && b[126] != 0) || (b[125] == ' ' && b[126] != ' ')) ? 2 : 1;
  Values.push_back("TITLE=" + Field(b + 3, 30));
  Values.push_back("ARTIST=" + Field(b + 33, 30));
  Values.push_back("ALBUM=" + Field(b + 63, 30));
  Values.push_back("YEAR=" + Field(b + 93, 4));
  Values.push_back("COMMENTS=" + Field(b + 97, Version == 1 ? 30 : 28));
  if (Version == 2) Values.push_back("TRACK=" + std::to_string(b[126]));
  const char* genre = Id3GenreName(b[127]);
  Values.push_back("GENRE=" + (genre ? std::string(genre) : std::to_string(b[127])));
  return true;
}

bool TId3V1Tag::ReadFromFile(const std::string& fileName) {
  FileName = fileName;
  Present = false;
  Version = 0;
  Values.clear();
  try {
    TWFileStream s(fileName, TWFileStream::ModeRead);
    int64_t size = s.Size();
    if (size < BlockSize) return false;
    uint8_t block[128];
    s.SetPosition(size - BlockSize);
    if (s.Read(block, BlockSize) != BlockSize) return false;
    Offset = size - BlockSize;
    ParseBlock(block);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string TId3V1Tag::BuildBlock() const {
  std::string block(128, ' ');
  std::memcpy(&block[0], "TAG", 3);
  PutField(block, 3, 30, FindTagValue(Values, "title"));
  PutField(block, 33, 30, FindTagValue(Values, "artist"));
  PutField(block, 63, 30, FindTagValue(Values, "album"));
  PutField(block, 93, 4, FindTagValue(Values, "year"));
  long long track = 0;
  bool hasTrack = ParseInteger(FindTagValue(Values, "track"), track) && track > 0;
  PutField(block, 97, hasTrack ? 28 : 30, FindTagValue(Values, "comments"));
  if (hasTrack) {
    block[125] = '\0';
    block[126] = static_cast<char>(track & 0xFF);
  }
  std::string genre = FindTagValue(Values, "genre");
  long long g = 0;
  int number = 255;
  if (ParseInteger(genre, g) && g >= 0)
    number = static_cast<int>(g & 0xFF);
  else if (int n = Id3GenreNumber(genre); n >= 0)
    number = n;
  block[127] = static_cast<char>(number);
  return block;
}

bool TId3V1Tag::WriteToFile() {
  try {
    TWFileStream s(FileName, TWFileStream::ModeRewrite);
    int64_t size = s.Size();
    int64_t at = size;
    if (size >= BlockSize) {
      char old[3] = {};
      s.SetPosition(size - BlockSize);
      if (s.Read(old, 3) == 3 && std::memcmp(old, "TAG", 3) == 0) at = size - BlockSize;
    }
    std::string block = BuildBlock();
    s.SetPosition(at);
    return s.Write(block.data(), BlockSize) == BlockSize;
  } catch (const std::exception&) {
    return false;
  }
}

bool TId3V1Tag::RemoveFromFile() {
  TWFileStream s(FileName, TWFileStream::ModeRewrite);
  int64_t size = s.Size();
  if (size < BlockSize) return true;
  char old[3] = {};
  s.SetPosition(size - BlockSize);
  if (s.Read(old, 3) == 3 && std::memcmp(old, "TAG", 3) == 0) s.SetSize(size - BlockSize);
  return true;
}

// ---------------------------------------------------------------- ID3v2

namespace {

enum FrameKind { fkText = 2, fkUserText = 3, fkUrl = 4, fkUserUrl = 5, fkComment = 13 };

struct TIDV24 {
  const char* id;
  const char* name;
  int kind;
};
using TIDV22 = TIDV24;

// The enabled rows of the 2.3/2.4 frame table, in table order. Frames not
// listed (pictures, counters, lyrics, private data...) are skipped.
const TIDV24 kFramesV24[] = {
    {"COMM", "COMMENTS", fkComment},    {"TALB", "ALBUM", fkText},         {"TBPM", "BPM", fkText},
    {"TCOM", "COMPOSER", fkText},       {"TCON", "GENRE", fkText},         {"TCOP", "COPYRIGHT", fkText},
    {"TDEN", "ENCODINGTIME", fkText},   {"TDLY", "PLAYLISTDELAY", fkText}, {"TDOR", "RELEASETIME", fkText},
    {"TDRC", "RECORDTIME", fkText},     {"TDRL", "RELEASETIME", fkText},   {"TDTG", "TAGGINGTIME", fkText},
    {"TENC", "ENCODER", fkText},        {"TEXT", "WRITER", fkText},        {"TFLT", "FILETYPE", fkText},
    {"TIPL", "INVOLVEDPEOPLE", fkText}, {"TIT1", "TITLE", fkText},         {"TIT2", "TITLE", fkText},
    {"TIT3", "SUBTITLE", fkText},       {"TKEY", "INITIALKEY", fkText},    {"TLAN", "LANGUAGE", fkText},
    {"TLEN", "LENGTH", fkText},         {"TMCL", "CREDITS", fkText},       {"TMED", "MEDIATYPE", fkText},
    {"TMOO", "MOOD", fkText},           {"TOAL", "TITLE", fkText},         {"TOFN", "FILENAME", fkText},
    {"TOLY", "WRITER", fkText},         {"TOPE", "ARTIST", fkText},        {"TOWN", "OWNER", fkText},
    {"TPE1", "ARTIST", fkText},         {"TPE2", "BAND", fkText},          {"TPE3", "PERFORMER", fkText},
    {"TPE4", "INTERPRETER", fkText},    {"TPOS", "PARTOF", fkText},        {"TPRO", "PRODUCER", fkText},
    {"TPUB", "PUBLISHER", fkText},      {"TRCK", "TRACK", fkText},         {"TRSN", "INETRADIO", fkText},
    {"TRSO", "INETRADIOOWNER", fkText}, {"TSOA", "SORTORDER", fkText},     {"TSOP", "PERFORMERSORTORDER", fkText},
    {"TSOT", "TITLESORTORDER", fkText}, {"TSRC", "ISRC", fkText},          {"TSSE", "SETTINGS", fkText},
    {"TSST", "SUBTITLE", fkText},       {"TXXX", "USER", fkUserText},      {"TYER", "YEAR", fkText},
    {"WCOM", "COMMERCIALWEB", fkUrl},   {"WCOP", "LEGALINFOWEB", fkUrl},   {"WOAF", "OFFICIALWEB", fkUrl},
    {"WOAR", "ARTISTWEB", fkUrl},       {"WOAS", "AUDIOWEB", fkUrl},       {"WORS", "INETRADIOWEB", fkUrl},
    {"WPAY", "PAYMENTWEB", fkUrl},      {"WPUB", "PUBLISHERWEB", fkUrl},   {"WXXX", "WEB", fkUserUrl},
};

// The enabled rows of the 2.2 frame table, in table order.
const TIDV22 kFramesV22[] = {
    {"COM", "COMMENTS", fkComment}, {"TAL", "ALBUM", fkText},         {"TBP", "BPM", fkText},
    {"TCM", "COMPOSER", fkText},    {"TCO", "GENRE", fkText},         {"TCR", "COPYRIGHT", fkText},
    {"TDA", "DATE", fkText},        {"TDY", "PLAYLISTDELAY", fkText}, {"TEN", "ENCODER", fkText},
    {"TFT", "FILETYPE", fkText},    {"TIM", "TIME", fkText},          {"TKE", "INITIALKEY", fkText},
    {"TLA", "LANGUAGE", fkText},    {"TLE", "LENGTH", fkText},        {"TMT", "MEDIATYPE", fkText},
    {"TOA", "ARTIST", fkText},      {"TOF", "FILENAME", fkText},      {"TOL", "WRITER", fkText},
    {"TOR", "YEAR", fkText},        {"TOT", "ALBUM", fkText},         {"TP1", "ARTIST", fkText},
    {"TP2", "BAND", fkText},        {"TP3", "PERFORMER", fkText},     {"TP4", "INTERPRETER", fkText},
    {"TPA", "PARTOF", fkText},      {"TPB", "PUBLISHER", fkText},     {"TRC", "ISRC", fkText},
    {"TRD", "RECORDDATE", fkText},  {"TRK", "TRACK", fkText},         {"TSI", "SIZE", fkText},
    {"TSS", "SETTINGS", fkText},    {"TT1", "TITLE", fkText},         {"TT2", "TITLE", fkText},
    {"TT3", "SUBTITLE", fkText},    {"TXT", "WRITER", fkText},        {"TXX", "USER", fkUserText},
    {"TYE", "YEAR", fkText},        {"WAF", "OFFICIALWEB", fkUrl},    {"WAR", "ARTISTWEB", fkUrl},
    {"WAS", "AUDIOWEB", fkUrl},     {"WCM", "COMMERCIALWEB", fkUrl},  {"WCP", "LEGALINFOWEB", fkUrl},
    {"WPB", "PUBLISHERWEB", fkUrl}, {"WXX", "WEB", fkUserUrl},
};

template <size_t N>
const TIDV24* FindFrame(const TIDV24 (&table)[N], const uint8_t* id, size_t idLen) {
  for (const auto& row : table)
    if (std::memcmp(row.id, id, idLen) == 0) return &row;
  return nullptr;
}

// UTF-16LE text from p[0..n) as UTF-8, cut at the first zero character. In
// our UTF-8 world a byte-order mark is no character of the text, so one that
// the format leaves in place is dropped here.
std::string Utf16Text(const uint8_t* p, size_t n, bool dropBom) {
  size_t units = n / 2, len = 0;
  while (len < units && (p[2 * len] | p[2 * len + 1]) != 0) ++len;
  size_t start = 0;
  while (dropBom && start < len && p[2 * start] == 0xFF && p[2 * start + 1] == 0xFE) ++start;
  return Utf16LeToUtf8(p + 2 * start, 2 * (len - start));
}

// Offset just past a description that starts at `at`, ended by a zero byte
// (encoding 0) or a zero UTF-16 character; n when there is no terminator.
size_t SkipDescription(const uint8_t* p, size_t n, size_t at, bool wide) {
  if (!wide) {
    while (at < n && p[at] != 0) ++at;
    return at < n ? at + 1 : n;
  }
  while (at + 1 < n && (p[at] | p[at + 1]) != 0) at += 2;
  return at + 1 < n ? at + 2 : n;
}

size_t TrimZeros(const uint8_t* p, size_t n) {
  while (n > 0 && p[n - 1] == 0) --n;
  return n;
}

std::string FrameValue(int kind, const uint8_t* p, size_t n) {
  if (kind == fkUrl) return Latin1ToUtf8(p, n);
  if (n == 0) return {};
  uint8_t enc = p[0];
  const uint8_t* body = p + 1;
  size_t len = n - 1;
  switch (kind) {
    case fkText:
      if (enc == 1) {
        size_t skip = len >= 2 && body[0] == 0xFF && body[1] == 0xFE ? 2 : 0;
        return Utf16Text(body + skip, len - skip, false);
      }
      if (enc == 3) return BytesToText(body, TrimZeros(body, len));
      return Latin1ToUtf8(body, TrimZeros(body, len));
    case fkUserUrl: {
      // The URL itself is always 8-bit text, whatever the description's
      // encoding; reading it as UTF-16 would garble every such frame.
      size_t v = SkipDescription(p, n, 1, enc != 0);
      return BytesToText(p + v, TrimZeros(p + v, n - v));
    }
    case fkUserText: {
      size_t v = SkipDescription(p, n, 1, enc != 0);
      if (enc == 0) return Latin1ToUtf8(p + v, TrimZeros(p + v, n - v));
      return Utf16Text(p + v, n - v, true);
    }
    case fkComment: {
      if (n < 4) return {};
      size_t at = 4;
      if (enc == 0) {
        size_t v = SkipDescription(p, n, at, false);
        return Latin1ToUtf8(p + v, TrimZeros(p + v, n - v));
      }
      if (at + 1 < n && p[at] == 0xFF && p[at + 1] == 0xFE) at += 2;
      size_t v = SkipDescription(p, n, at, true);
      if (v + 1 < n && p[v] == 0xFF && p[v + 1] == 0xFE) v += 2;
      return Utf16Text(p + v, n - v, false);
    }
  }
  return {};
}

void PutBE32(std::string& out, uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>(v >> 16);
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v);
}

// Encoding 1 text: byte-order mark, UTF-16LE, a zero character.
std::string WideText(const std::string& s) {
  return std::string("\xFF\xFE", 2) + Utf8ToUtf16Le(s) + std::string(2, '\0');
}

}  // namespace

int64_t Id3v2TotalSize(const uint8_t* h) {
  if (std::memcmp(h, "ID3", 3) != 0) return 0;
  int64_t size = (int64_t{h[6]} << 21) + (int64_t{h[7]} << 14) + (int64_t{h[8]} << 7) + h[9] + 10;
  if (h[5] & 0x10) size += 10;
  return size;
}

void TId3V2Tag::ParseFrames(const uint8_t* data, size_t n, uint8_t major) {
  const bool v22 = major == 2;
  const size_t header = v22 ? 6 : 10;
  size_t pos = 0;
  while (pos + header <= n) {
    const uint8_t* f = data + pos;
    if (f[0] < 'A' || f[0] > 'Z') break;
    if (!v22 && std::memcmp(f, "MP3", 3) == 0) break;
    uint64_t size = v22 ? (uint64_t{f[3]} << 16) | (f[4] << 8) | f[5]
                        : (uint64_t{f[4]} << 24) | (uint64_t{f[5]} << 16) | (f[6] << 8) | f[7];
    if (size > n - pos - header) break;
    const TIDV24* row = v22 ? FindFrame(kFramesV22, f, 3) : FindFrame(kFramesV24, f, 4);
    if (row) {
      std::string value = FrameValue(row->kind, f + header, static_cast<size_t>(size));
      if (v22 || !value.empty()) Values.push_back(std::string(row->name) + "=" + value);
    }
    pos += header + static_cast<size_t>(size);
  }
}

bool TId3V2Tag::ReadFromStream(TWFileStream& s) {
  Present = false;
  TotalSize = 0;
  MajorVersion = 0;
  Values.clear();
  int64_t start = s.Position();
  Offset = start;
  try {
    uint8_t h[10];
    if (start >= 0 && s.Read(h, 10) == 10 && std::memcmp(h, "ID3", 3) == 0) {
      Present = true;
      MajorVersion = h[3];
      TotalSize = Id3v2TotalSize(h);
      // Never trust the declared size beyond what the file holds.
      int64_t available = std::max<int64_t>(0, s.Size() - start - 10);
      int64_t want = std::min<int64_t>(TotalSize - 10, available);
      std::vector<uint8_t> data(static_cast<size_t>(want));
      int64_t got = s.Read(data.data(), want);
      ParseFrames(data.data(), static_cast<size_t>(std::max<int64_t>(got, 0)), MajorVersion);
    }
  } catch (const std::exception&) {
  }
  s.SetPosition(start);
  return Present;
}

bool TId3V2Tag::ReadFromFile(const std::string& fileName) {
  FileName = fileName;
  Present = false;
  TotalSize = 0;
  Values.clear();
  try {
    TWFileStream s(fileName, TWFileStream::ModeRead);
    return ReadFromStream(s);
  } catch (const std::exception&) {
    return false;
  }
}

std::string TId3V2Tag::BuildTag() const {
  std::string frames;
  for (const auto& row : kFramesV24) {
    std::string value = FindTagValue(Values, row.name);
    if (value.empty()) continue;
    std::string body;
    switch (row.kind) {
      case fkText: body = "\x01" + WideText(value); break;
      case fkUrl: body = value; break;
      case fkUserUrl: body = "\x01" + WideText("url") + value; break;
      case fkUserText:
        // A user-defined text frame needs its (here empty) description
        // before the value, or readers take the value for the description.
        body = "\x01" + WideText("") + WideText(value);
        break;
      case fkComment:
        body =
            "\x01"
            "eng" +
            WideText("Comments") + WideText(value);
        break;
    }
    frames += row.id;
    PutBE32(frames, static_cast<uint32_t>(body.size()));
    frames += std::string(2, '\0');
    frames += body;
  }
  std::string tag = "ID3";
  tag += '\x03';
  tag += std::string(2, '\0');
  auto size = static_cast<uint32_t>(frames.size());
  for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((size >> shift) & 0x7F);
  return tag + frames;
}

bool TId3V2Tag::WriteToFile() {
  TWFileStream s(FileName, TWFileStream::ModeRewrite);
  std::string old = ReadWholeFile(s);
  size_t skip = Present ? static_cast<size_t>(std::min<int64_t>(TotalSize, static_cast<int64_t>(old.size()))) : 0;
  std::string content = BuildTag();
  content.append(old, skip, std::string::npos);
  RewriteFile(s, old, content);
  return true;
}

bool TId3V2Tag::RemoveFromFile() {
  TWFileStream s(FileName, TWFileStream::ModeRewrite);
  if (!Present) return true;
  std::string old = ReadWholeFile(s);
  size_t skip = static_cast<size_t>(std::min<int64_t>(TotalSize, static_cast<int64_t>(old.size())));
  RewriteFile(s, old, old.substr(skip));
  return true;
}

}  // namespace sdm
