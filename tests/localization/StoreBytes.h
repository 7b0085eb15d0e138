#pragma once
// Record stores and language files built byte by byte in the tests, without
// the code under test, so that what it reads and writes is checked against
// the layout itself.
#include <cstdint>
#include <string>
#include <vector>

namespace sdm::test {

using TBytes = std::vector<uint8_t>;

inline void Le32(TBytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

inline TBytes Le32(uint32_t v) {
  TBytes b;
  Le32(b, v);
  return b;
}

inline TBytes Str(const std::string& s) { return TBytes(s.begin(), s.end()); }

// One record: Size = payload + 8, Tag, payload, Trailer = payload + 12.
inline TBytes Record(uint32_t tag, const TBytes& payload) {
  TBytes b;
  Le32(b, uint32_t(payload.size()) + 8);
  Le32(b, tag);
  b.insert(b.end(), payload.begin(), payload.end());
  Le32(b, uint32_t(payload.size()) + 12);
  return b;
}

// A whole store: signature, count, records.
inline TBytes Store(const std::string& signature, int32_t count, const std::vector<TBytes>& records) {
  TBytes b = Str(signature);
  Le32(b, uint32_t(count));
  for (const TBytes& r : records) b.insert(b.end(), r.begin(), r.end());
  return b;
}

// A language file in records; Bytes() seals it with the record count.
struct TLangFileBytes {
  std::vector<TBytes> records;

  void Int(uint32_t tag, uint32_t v) { records.push_back(Record(tag, Le32(v))); }
  void Text(uint32_t tag, const std::string& s) { records.push_back(Record(tag, Str(s))); }

  // Records 0 to 5 and the header records of the revision (1 to 4).
  static TLangFileBytes Header(int revision, uint16_t langId, const std::string& listName,
                               const std::string& headerName, const std::string& suffix, uint32_t version = 0,
                               const std::string& fontName = "Arial", uint32_t charset = 238, uint32_t minFont = 9,
                               const TBytes& flag = {}) {
    TLangFileBytes f;
    f.Int(0, uint32_t(revision) << 16 | langId);
    f.Text(1, listName);
    f.Text(2, headerName);
    f.Text(3, suffix);
    f.Text(4, "note one\r\nnote two\r\n");
    f.records.push_back(Record(5, flag));
    f.Int(512, version);
    if (revision >= 2) {
      f.Int(516, 0);
      f.Text(517, "");
      f.Text(518, "");
    }
    f.Text(513, "ime");
    f.Text(514, fontName);
    f.Int(515, charset);
    if (revision == 4) f.Int(516, minFont);
    return f;
  }

  // A revision 1 to 4 entry; the alignment record only for revisions 3 and 4.
  void Entry(int revision, const std::string& path, uint32_t captionTag, const std::string& caption,
             uint32_t hintTag = 0, const std::string& hint = "", uint32_t itemsTag = 0, const std::string& items = "",
             uint32_t alignment = 0, uint32_t pathTag = 531) {
    Text(pathTag, path);
    if (revision >= 3) Int(768, alignment);
    Text(captionTag, caption);
    Text(hintTag, hint);
    Text(itemsTag, items);
  }

  TBytes Bytes() const { return Store("Xol LANGUAGE FILE", int32_t(records.size()), records); }
};

}  // namespace sdm::test
