#include "localization/StoreFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/RegularFile.h"
#include "support/Errors.h"
#include "support/U_SysUtils.h"

namespace sdm {

namespace {

// Smallest record: Size, Tag and Trailer around an empty payload.
constexpr int64_t kRecordOverhead = 12;

uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

bool WriteAll(int fd, int64_t pos, const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    ssize_t n = ::pwrite(fd, p, count, pos);
    if (n <= 0) return false;
    p += n;
    pos += n;
    count -= size_t(n);
  }
  return true;
}

// Opens an existing plain file for reading and writing; a pipe or device is
// refused rather than waited on.
int OpenRegularFileForWriting(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::string FullName(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return name;
  return std::string(buf) + "/" + name;
}

}  // namespace

TStorefile::~TStorefile() { Close(); }

void TStorefile::Open() { OpenFile(true); }

bool TStorefile::OpenExisting() {
  OpenFile(false);
  return open_;
}

bool TStorefile::OpenFile(bool mayCreate) {
  if (open_ || filename_.empty()) return open_;
  const std::string path = FullName(filename_);
  if (FileExistsLong(path)) {
    std::string problem;
    if (readOnly_) {
      fd_ = OpenRegularFileForReading(path, problem);
      openedReadOnly_ = true;
    } else {
      fd_ = OpenRegularFileForWriting(path);
      openedReadOnly_ = false;
      if (fd_ < 0) {
        fd_ = OpenRegularFileForReading(path, problem);
        openedReadOnly_ = true;
      }
    }
    if (fd_ < 0) {
      Reset();
      return false;
    }
    if (!ReadHeader()) {
      Close();
      return false;
    }
    open_ = true;
    return true;
  }
  if (!mayCreate) return false;

  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    Reset();
    return false;
  }
  openedReadOnly_ = false;
  std::string header = signature_;
  header.append(4, '\0');
  if (!WriteAll(fd_, 0, header.data(), header.size())) {
    ::close(fd_);
    ::unlink(path.c_str());
    Reset();
    return false;
  }
  headerEnd_ = length_ = position_ = int64_t(header.size());
  count_ = 0;
  index_ = 0;
  open_ = true;
  return true;
}

bool TStorefile::ReadHeader() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return false;
  length_ = st.st_size;
  headerEnd_ = int64_t(signature_.size()) + 4;
  // A file too short for its header is not a store, whatever it starts with.
  if (length_ < headerEnd_) return false;
  if (!signature_.empty()) {
    std::string head(signature_.size(), '\0');
    if (!ReadAt(0, head.data(), head.size()) || head != signature_) return false;
  }
  uint8_t count[4];
  if (!ReadAt(int64_t(signature_.size()), count, 4)) return false;
  count_ = int32_t(GetLE32(count));
  index_ = 0;
  position_ = headerEnd_;
  return true;
}

void TStorefile::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  open_ = false;
  openedReadOnly_ = false;
  count_ = index_ = 0;
  position_ = length_ = headerEnd_ = 0;
}

void TStorefile::Close() {
  if (open_ && !IsReadOnly()) {
    uint8_t count[4];
    PutLE32(count, uint32_t(count_));
    WriteAll(fd_, int64_t(signature_.size()), count, 4);
  }
  Reset();
}

void TStorefile::CheckWritable() const {
  if (IsReadOnly()) throw EError(kReadOnlyStoreMessage);
}

void TStorefile::Clear() {
  CheckWritable();
  const bool wasOpen = open_;
  Close();
  if (!filename_.empty()) ::unlink(FullName(filename_).c_str());
  if (wasOpen) Open();
}

bool TStorefile::ReadAt(int64_t pos, void* buffer, size_t count) const {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    ssize_t n = ::pread(fd_, p, count, pos);
    if (n <= 0) return false;
    p += n;
    pos += n;
    count -= size_t(n);
  }
  return true;
}

TStorefile::TRecordHead TStorefile::HeadAt(int64_t pos) const {
  TRecordHead h;
  if (!open_ || pos < headerEnd_ || length_ - pos < kRecordOverhead) return h;
  uint8_t raw[8];
  if (!ReadAt(pos, raw, 8)) return h;
  const uint32_t size = GetLE32(raw);
  // The record with its trailer must lie inside the file.
  if (size < 8 || int64_t(size) > length_ - pos - 4) return h;
  h.valid = true;
  h.tag = int32_t(GetLE32(raw + 4));
  h.payload = size - 8;
  return h;
}

int64_t TStorefile::NextStart(int64_t pos) const {
  const TRecordHead h = HeadAt(pos);
  return h.valid ? pos + kRecordOverhead + h.payload : -1;
}

int64_t TStorefile::PreviousStart(int64_t pos) const {
  if (pos <= headerEnd_ || pos > length_) return -1;
  // The trailer before pos names the start of the previous record; trust it
  // only when a record there really ends at pos.
  uint8_t raw[4];
  if (pos - headerEnd_ >= kRecordOverhead && ReadAt(pos - 4, raw, 4)) {
    const int64_t start = pos - int64_t(GetLE32(raw));
    if (start >= headerEnd_ && start < pos && NextStart(start) == pos) return start;
  }
  // A damaged trailer: walk the chain from the front instead.
  int64_t p = headerEnd_;
  for (;;) {
    const int64_t next = NextStart(p);
    if (next < 0 || next > pos) return -1;
    if (next == pos) return p;
    p = next;
  }
}

void TStorefile::First() {
  if (!open_) return;
  index_ = 0;
  position_ = headerEnd_;
}

void TStorefile::Last() {
  if (!open_) return;
  const int64_t start = PreviousStart(length_);
  if (start >= 0) {
    index_ = count_ - 1;
    position_ = start;
    return;
  }
  // No record ends at the end of the file (it was cut or garbled): the last
  // record is the last one the chain reaches.
  int64_t p = headerEnd_, last = -1;
  int32_t n = 0;
  for (int64_t next; (next = NextStart(p)) >= 0; p = next, ++n) last = p;
  if (last < 0) return;
  index_ = n - 1;
  position_ = last;
}

void TStorefile::Next() {
  if (AtEnd()) return;
  const int64_t next = NextStart(position_);
  position_ = next < 0 ? length_ : next;  // a garbled record ends the data
  ++index_;
}

void TStorefile::Prior() {
  if (!open_ || index_ <= 0) return;
  const int64_t start = PreviousStart(position_);
  if (start < 0) return;
  position_ = start;
  --index_;
}

void TStorefile::GoTo(int32_t index) {
  if (!open_ || index < 0 || index >= count_) return;
  First();
  while (index_ < index && !AtEnd()) Next();
}

int32_t TStorefile::DataSize() const {
  const TRecordHead h = HeadAt(position_);
  return h.valid ? int32_t(h.payload) : 0;
}

int32_t TStorefile::ReadData(void* buffer, int32_t& size, bool advance) {
  const TRecordHead h = HeadAt(position_);
  if (!h.valid) {
    size = 0;
    if (advance) Next();
    return 0;
  }
  const uint32_t want = size < 0 ? h.payload : std::min<uint32_t>(uint32_t(size), h.payload);
  if (want > 0 && !ReadAt(position_ + 8, buffer, want)) {
    size = 0;
    if (advance) Next();  // a failing disk must not stall a reading loop
    return 0;
  }
  size = int32_t(want);
  if (advance) Next();
  return h.tag;
}

int32_t TStorefile::ReadBytes(std::vector<uint8_t>& data, bool advance) {
  // DataSize is bounded by the file's length, so the buffer is too.
  data.assign(size_t(DataSize()), 0);
  int32_t size = -1;
  const int32_t tag = ReadData(data.data(), size, advance);
  data.resize(size_t(size));
  return tag;
}

int32_t TStorefile::ReadString(std::string& text, bool advance) {
  text.assign(size_t(DataSize()), '\0');
  int32_t size = -1;
  const int32_t tag = ReadData(text.data(), size, advance);
  text.resize(size_t(size));
  return tag;
}

int32_t TStorefile::ReadInteger(int32_t& value, bool advance) {
  uint8_t raw[4] = {0, 0, 0, 0};
  int32_t size = 4;
  const int32_t tag = ReadData(raw, size, advance);
  value = int32_t(GetLE32(raw));
  return tag;
}

int32_t TStorefile::AppendData(int32_t tag, const void* buffer, int32_t count) {
  CheckWritable();
  if (!open_ || position_ != length_ || count < 0) return 0;
  std::vector<uint8_t> rec(size_t(count) + kRecordOverhead);
  PutLE32(rec.data(), uint32_t(count) + 8);
  PutLE32(rec.data() + 4, uint32_t(tag));
  if (count > 0) std::memcpy(rec.data() + 8, buffer, size_t(count));
  PutLE32(rec.data() + 8 + count, uint32_t(count) + 12);
  if (!WriteAll(fd_, length_, rec.data(), rec.size())) {
    // A full disk must not leave half a record that later reads trip over.
    if (::ftruncate(fd_, length_) != 0) return 0;
    return 0;
  }
  length_ += int64_t(rec.size());
  position_ = length_;
  ++count_;
  ++index_;
  return count_;
}

int32_t TStorefile::AppendString(int32_t tag, const std::string& text) {
  return AppendData(tag, text.data(), int32_t(text.size()));
}

int32_t TStorefile::AppendInteger(int32_t tag, int32_t value) {
  uint8_t raw[4];
  PutLE32(raw, uint32_t(value));
  return AppendData(tag, raw, 4);
}

}  // namespace sdm
