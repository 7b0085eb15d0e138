#include "audio/tags/U_ApeTag.h"

#include <cstring>
#include <vector>

#include "audio/AudioFileStream.h"
#include "audio/tags/TagText.h"

namespace sdm {

namespace {

constexpr int64_t kFooterSize = 32;
// Bigger tags are taken for damage rather than read: a lying size must not
// make us allocate or parse megabytes.
constexpr int64_t kMaxItemsSize = 1000;

uint32_t LE32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

void PutLE32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

bool TAPEV2Tag::ReadFromFile(const std::string& fileName) {
  FileName = fileName;
  Present = Id3v1Present = false;
  TagOffset = ItemsOffset = TagSize = ItemsSize = 0;
  Values.clear();
  TWFileStream s(fileName, TWFileStream::ModeRead);
  int64_t size = s.Size();
  if (size >= 128) {
    char tag[3] = {};
    s.SetPosition(size - 128);
    Id3v1Present = s.Read(tag, 3) == 3 && std::memcmp(tag, "TAG", 3) == 0;
  }
  int64_t footerAt = size - kFooterSize - (Id3v1Present ? 128 : 0);
  if (footerAt < 0) return false;
  uint8_t footer[kFooterSize];
  s.SetPosition(footerAt);
  if (s.Read(footer, kFooterSize) != kFooterSize) return false;
  if (std::memcmp(footer, "APETAGEX", 8) != 0 || LE32(footer + 8) != 2000) return false;
  int64_t tagSize = LE32(footer + 12);
  bool hasHeader = (LE32(footer + 20) & 0x80000000u) != 0;
  int64_t items = tagSize - kFooterSize;
  if (items < 0 || items >= kMaxItemsSize || items > footerAt) return false;
  ItemsSize = items;
  ItemsOffset = footerAt - items;
  TagSize = tagSize + (hasHeader ? kFooterSize : 0);
  // A header flag with no room for the header: take the tag from its items.
  TagOffset = hasHeader && ItemsOffset >= kFooterSize ? ItemsOffset - kFooterSize : ItemsOffset;
  if (TagOffset == ItemsOffset) TagSize = tagSize;
  Present = true;

  std::vector<uint8_t> data(static_cast<size_t>(items));
  s.SetPosition(ItemsOffset);
  if (s.Read(data.data(), items) != items) return Present;
  size_t pos = 0, n = data.size();
  while (pos + 8 <= n) {
    uint32_t valueSize = LE32(&data[pos]);
    size_t keyStart = pos + 8, keyEnd = keyStart;
    while (keyEnd < n && data[keyEnd] != 0) ++keyEnd;
    if (keyEnd >= n || valueSize > n - keyEnd - 1) break;  // the item would run past the tag
    std::string line(reinterpret_cast<const char*>(&data[keyStart]), keyEnd - keyStart);
    line += '=';
    line.append(reinterpret_cast<const char*>(&data[keyEnd + 1]), valueSize);
    Values.push_back(tagtext::BytesToText(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
    pos = keyEnd + 1 + valueSize;
  }
  return Present;
}

std::string TAPEV2Tag::BuildTag() const {
  std::string items;
  uint32_t count = 0;
  for (const auto& line : Values) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    PutLE32(items, static_cast<uint32_t>(value.size()));
    PutLE32(items, 0);
    items += line.substr(0, eq);
    items += '\0';
    items += value;
    ++count;
  }
  std::string tag = items + "APETAGEX";
  PutLE32(tag, 2000);
  PutLE32(tag, static_cast<uint32_t>(items.size() + kFooterSize));
  PutLE32(tag, count);
  PutLE32(tag, 0);
  tag += std::string(8, '\0');
  return tag;
}

bool TAPEV2Tag::WriteToFile() {
  TWFileStream s(FileName, TWFileStream::ModeRewrite);
  std::string old = tagtext::ReadWholeFile(s);
  auto size = static_cast<int64_t>(old.size());
  int64_t cutFrom = size, cutTo = size;
  if (Present && TagOffset + TagSize <= size) {
    cutFrom = TagOffset;
    cutTo = TagOffset + TagSize;
  } else if (Id3v1Present && size >= 128) {
    cutFrom = cutTo = size - 128;
  }
  std::string content =
      old.substr(0, static_cast<size_t>(cutFrom)) + BuildTag() + old.substr(static_cast<size_t>(cutTo));
  tagtext::RewriteFile(s, old, content);
  return true;
}

bool TAPEV2Tag::RemoveFromFile() {
  TWFileStream s(FileName, TWFileStream::ModeRewrite);
  if (!Present) return true;
  std::string old = tagtext::ReadWholeFile(s);
  auto size = static_cast<int64_t>(old.size());
  if (TagOffset + TagSize > size) return true;
  std::string content =
      old.substr(0, static_cast<size_t>(TagOffset)) + old.substr(static_cast<size_t>(TagOffset + TagSize));
  tagtext::RewriteFile(s, old, content);
  return true;
}

}  // namespace sdm
