#pragma once
// Unit TagText.
// Text and file helpers shared by the tag classes: the character-set
// conversions of the tag formats (all strings here are UTF-8) and the one safe
// way this library rewrites a file.
#include <cstddef>
#include <cstdint>
#include <string>

namespace sdm {

class TWFileStream;

namespace tagtext {

std::string Latin1ToUtf8(const uint8_t* p, size_t n);
// UTF-16 little-endian code units (n bytes, an odd last byte ignored) to
// UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* p, size_t n);
std::string Utf8ToUtf16Le(const std::string& s);
bool IsValidUtf8(const std::string& s);
// Bytes of an 8-bit field as text: kept when they are valid UTF-8, else read
// as ISO-8859-1 (what older taggers wrote).
std::string BytesToText(const uint8_t* p, size_t n);
// The longest prefix of s of at most n bytes that does not split a character.
std::string CutUtf8(const std::string& s, size_t n);
bool SameText(const std::string& a, const std::string& b);

// The whole file, read from offset 0. Refuses (EStreamError) a file that does
// not fit in memory rather than allocating blindly.
std::string ReadWholeFile(TWFileStream& stream);
// Replaces the file's content by newContent: space is reserved first (so a
// full disk fails before anything is overwritten), the bytes are written from
// offset 0 and the file is cut at their end. When a write still fails, the
// original content is written back and EStreamError is raised.
void RewriteFile(TWFileStream& stream, const std::string& oldContent, const std::string& newContent);

}  // namespace tagtext
}  // namespace sdm
