#pragma once
// Unit U_SpannedFileStream.
// TWFileStream: the file stream every audio reader and tag class opens files
// with. It owns an operating-system handle and closes it when destroyed.
// Failures to open or create raise errors carrying the library's own texts, so
// a reader's constructor can simply let them propagate.
#include <cstdint>
#include <string>
#include <vector>

#include "support/Errors.h"

namespace sdm {

// Raised when a file cannot be created: "Impossible de créer le fichier %s".
class EFCreateError : public EError {
public:
  using EError::EError;
};

// Raised when a file cannot be opened: "Impossible d'ouvrir le fichier %s".
class EFOpenError : public EError {
public:
  using EError::EError;
};

// Raised when a read or write that must be complete is not, or when an
// operating-system call on the handle fails.
class EStreamError : public EError {
public:
  using EError::EError;
};

class TWFileStream {
public:
  // File-mode words of the runtime: access in the low two bits, sharing in
  // bits 4-6; fmCreate makes a new file (replacing one) for read and write.
  static constexpr uint16_t fmOpenRead = 0x0000;
  static constexpr uint16_t fmOpenWrite = 0x0001;
  static constexpr uint16_t fmOpenReadWrite = 0x0002;
  static constexpr uint16_t fmShareExclusive = 0x0010;
  static constexpr uint16_t fmShareDenyWrite = 0x0020;
  static constexpr uint16_t fmShareDenyRead = 0x0030;
  static constexpr uint16_t fmShareDenyNone = 0x0040;
  static constexpr uint16_t fmCreate = 0xFFFF;
  // The modes the audio library uses.
  static constexpr uint16_t ModeRead = 0x40;     // read, shared with everybody
  static constexpr uint16_t ModeScan = 0x20;     // read, others may read
  static constexpr uint16_t ModeRewrite = 0x22;  // read and write, others may read

  TWFileStream(const std::string& fileName, uint16_t mode);
  // Rights must be 0: anything else fails the assertion "Wrong rights".
  TWFileStream(const std::string& fileName, uint32_t rights, uint16_t mode);
  ~TWFileStream();
  TWFileStream(const TWFileStream&) = delete;
  TWFileStream& operator=(const TWFileStream&) = delete;

  // Reads up to count bytes at the current position; returns the bytes read
  // (fewer at the end of the file, 0 on error). Never throws.
  int64_t Read(void* buffer, int64_t count);
  // Writes count bytes; returns the bytes written (0 on error). Never throws.
  int64_t Write(const void* buffer, int64_t count);
  // Whole reads and writes: a short transfer raises EStreamError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);

  // Origin 0 from the start, 1 from the current position, 2 from the end;
  // returns the new position (or -1 when the system refuses the seek).
  int64_t Seek(int64_t offset, int origin);
  int64_t Position() { return Seek(0, 1); }
  void SetPosition(int64_t pos) { Seek(pos, 0); }
  int64_t Size();
  // Seeks to newSize and truncates or extends the file there; raises
  // EStreamError with the system's message on failure.
  void SetSize(int64_t newSize);

  // From now on reads go through a buffer of `bytes`: a seek and a read
  // within it cost no system call, and the size is taken once. For streams
  // that are read only while the file keeps its size (the MPEG frame loader
  // reads every frame header and frame this way). A write or SetSize leaves
  // the buffered mode.
  void BufferReads(int64_t bytes);

  int Handle() const { return handle_; }
  const std::string& FileName() const { return fileName_; }

private:
  void Unbuffer();

  std::string fileName_;
  int handle_ = -1;
  // Buffered mode: the logical position and size, and the file's bytes from
  // bufferStart_ on.
  std::vector<uint8_t> buffer_;
  int64_t bufferStart_ = 0;
  int64_t bufferCount_ = 0;
  int64_t position_ = 0;
  int64_t size_ = 0;
};

}  // namespace sdm
