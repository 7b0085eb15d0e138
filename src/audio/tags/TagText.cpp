#include "audio/tags/TagText.h"

#include <fcntl.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "audio/AudioFileStream.h"

namespace sdm::tagtext {

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at s[i]; returns its length or 0 when invalid.
size_t DecodeUtf8(const std::string& s, size_t i, uint32_t& cp) {
  auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t c = b(i);
  size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::string Latin1ToUtf8(const uint8_t* p, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) AppendUtf8(out, p[i]);
  return out;
}

std::string Utf16LeToUtf8(const uint8_t* p, size_t n) {
  std::string out;
  size_t units = n / 2;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = p[2 * i] | (p[2 * i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      uint32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

std::string Utf8ToUtf16Le(const std::string& s) {
  std::string out;
  auto put = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t len = DecodeUtf8(s, i, cp);
    if (len == 0) {  // a stray byte: take it as ISO-8859-1
      cp = static_cast<uint8_t>(s[i]);
      len = 1;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

bool IsValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t len = DecodeUtf8(s, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string BytesToText(const uint8_t* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  return IsValidUtf8(s) ? s : Latin1ToUtf8(p, n);
}

std::string CutUtf8(const std::string& s, size_t n) {
  if (s.size() <= n) return s;
  size_t end = n;
  while (end > 0 && (static_cast<uint8_t>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string ReadWholeFile(TWFileStream& stream) {
  int64_t size = stream.Size();
  if (size < 0 || static_cast<uint64_t>(size) > std::string().max_size() / 2)
    throw EStreamError("File too large: " + stream.FileName());
  std::string data(static_cast<size_t>(size), '\0');
  stream.SetPosition(0);
  if (stream.Read(data.data(), size) != size) throw EStreamError("Stream read error");
  return data;
}

void RewriteFile(TWFileStream& stream, const std::string& oldContent, const std::string& newContent) {
  auto newSize = static_cast<int64_t>(newContent.size());
  if (newSize > static_cast<int64_t>(oldContent.size())) {
    // Reserve the blocks before overwriting anything: on a full disk this is
    // where we fail, with the file still intact.
    int rc = ::posix_fallocate(stream.Handle(), 0, static_cast<off_t>(newSize));
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) throw EStreamError(std::strerror(rc));
  }
  stream.SetPosition(0);
  if (stream.Write(newContent.data(), newSize) == newSize) {
    stream.SetSize(newSize);
    return;
  }
  int saved = errno;
  // Put the original bytes back so the audio is not lost.
  stream.SetPosition(0);
  stream.Write(oldContent.data(), static_cast<int64_t>(oldContent.size()));
  try {
    stream.SetSize(static_cast<int64_t>(oldContent.size()));
  } catch (const EStreamError&) {
  }
  throw EStreamError(std::string("Stream write error: ") + std::strerror(saved ? saved : EIO));
}

}  // namespace sdm::tagtext
