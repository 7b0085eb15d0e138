#pragma once
// The file an AVI is written to: the one owner of its descriptor, its write
// position and the bytes still waiting in memory. Every byte of the file goes
// through Append (new bytes at the end) or Patch (bytes appended before), and
// the end of the file is always the end of the buffer, so a large block can
// never land on disk ahead of smaller bytes appended before it, whatever the
// sizes. Inside the AVI file library only.
#include <cstdint>
#include <string>
#include <vector>

namespace sdm::avi {

class TOutFile {
public:
  TOutFile() = default;
  ~TOutFile();
  TOutFile(const TOutFile&) = delete;
  TOutFile& operator=(const TOutFile&) = delete;

  // Creates or truncates path. Only a plain file is written: a named pipe
  // would block, a device or a folder cannot hold an AVI file. On failure
  // Problem() says why.
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }

  // Offset the next appended byte will have.
  uint64_t Pos() const { return flushed_ + buf_.size(); }
  void Append(const void* data, size_t size);
  // Overwrites bytes appended earlier (sizes and headers filled in late).
  void Patch(uint64_t offset, const void* data, size_t size);
  // Writes what is buffered and closes the file; false when any write or the
  // close failed (the file is then incomplete).
  bool Close();

  // After the first failure nothing more is written; the reason stays.
  bool Failed() const { return !problem_.empty(); }
  const std::string& Problem() const { return problem_; }

private:
  void Flush();
  void WriteAt(uint64_t offset, const uint8_t* data, size_t size);
  void Fail(const std::string& why);

  int fd_ = -1;
  uint64_t flushed_ = 0;      // bytes before this offset are on disk
  std::vector<uint8_t> buf_;  // the bytes from flushed_ on
  std::string problem_;
};

}  // namespace sdm::avi
