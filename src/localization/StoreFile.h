#pragma once
// Unit Lang_Storageobj.
// TStorefile: a file of tagged records, the container of language files.
//
//   signature bytes (no length, no terminator) | record count (int32)
//   then records back to back to the end of the file:
//   Size = payload + 8 | Tag | payload | Trailer = payload + 12
//
// All integers are 32-bit little-endian. Size lets a reader skip forward, the
// Trailer lets it step back from the start of the next record. The count in
// the header is rewritten when a writable store is closed; the end of the data
// is the end of the file.
//
// Everything read from a file is checked against what remains of it: a record
// whose sizes do not fit ends the data there, so a garbled or cut store never
// reads outside the file, never loops and never allocates more than the file
// holds. Reading operations fail quietly (tag 0, nothing copied) when the store
// is not open or at its end; only writes to a read-only store raise.
#include <cstdint>
#include <string>
#include <vector>

namespace sdm {

inline constexpr const char* kReadOnlyStoreMessage = "Attempt to write a data while in ReadOnly mode";

class TStorefile {
public:
  TStorefile() = default;
  ~TStorefile();
  TStorefile(const TStorefile&) = delete;
  TStorefile& operator=(const TStorefile&) = delete;

  const std::string& Signature() const { return signature_; }
  void SetSignature(const std::string& s) { signature_ = s; }
  const std::string& Filename() const { return filename_; }
  void SetFilename(const std::string& s) { filename_ = s; }
  // Asked for read-only access; the effective state also counts a file that
  // could only be opened for reading.
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool b) { readOnly_ = b; }
  bool IsReadOnly() const { return readOnly_ || openedReadOnly_; }

  // Opens Filename, creating it (and its folders) with an empty header when it
  // does not exist. A name without a folder is taken in the current directory.
  // A file whose first bytes differ from Signature stays closed.
  void Open();
  // As Open, but a missing file stays missing: the store stays closed.
  bool OpenExisting();
  bool IsOpen() const { return open_; }
  // Writes the count into the header of a writable store and closes it.
  void Close();
  // Deletes the file; an open store is opened again, which recreates it empty.
  void Clear();

  int32_t RecordCount() const { return open_ ? count_ : 0; }
  int32_t RecordIndex() const { return index_; }
  bool AtEnd() const { return !open_ || position_ == length_; }

  void First();
  void Last();
  void Next();
  void Prior();
  void GoTo(int32_t index);

  // Returns the current record's tag and copies min(size, payload) bytes into
  // buffer (a negative size asks for the whole payload); size becomes the
  // number copied. With advance the store moves to the next record. At the
  // end: tag 0, size 0.
  int32_t ReadData(void* buffer, int32_t& size, bool advance);
  int32_t DataSize() const;
  int32_t ReadBytes(std::vector<uint8_t>& data, bool advance);
  int32_t ReadString(std::string& text, bool advance);
  // The first four bytes of the payload (fewer bytes leave the rest 0).
  int32_t ReadInteger(int32_t& value, bool advance);

  // Append one record at the end of the file and return the new count; 0 when
  // the store is not open, not at its end, or the write failed (the file is
  // then cut back to where it was). A read-only store raises.
  int32_t AppendData(int32_t tag, const void* buffer, int32_t count);
  int32_t AppendString(int32_t tag, const std::string& text);
  int32_t AppendInteger(int32_t tag, int32_t value);

private:
  struct TRecordHead {
    bool valid = false;
    int32_t tag = 0;
    uint32_t payload = 0;
  };
  bool OpenFile(bool mayCreate);
  bool ReadHeader();
  void Reset();
  bool ReadAt(int64_t pos, void* buffer, size_t count) const;
  TRecordHead HeadAt(int64_t pos) const;
  int64_t NextStart(int64_t pos) const;  // -1 when no valid record starts at pos
  int64_t PreviousStart(int64_t pos) const;
  void CheckWritable() const;

  std::string signature_;
  std::string filename_;
  bool readOnly_ = false;

  bool open_ = false;
  bool openedReadOnly_ = false;
  int fd_ = -1;
  int32_t count_ = 0;
  int32_t index_ = 0;
  int64_t position_ = 0;
  int64_t length_ = 0;
  int64_t headerEnd_ = 0;
};

}  // namespace sdm
