#include "platform/avifile/AviOutFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/RegularFile.h"

namespace sdm::avi {
namespace {

// Small pieces (chunk headers, index entries, small frames) gather in memory
// and go out in blocks of about this size; larger pieces go out directly.
constexpr size_t kBufferLimit = 1u << 20;

}  // namespace

TOutFile::~TOutFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool TOutFile::Open(const std::string& path) {
  // Looked at before opening, so that an existing named pipe is neither
  // waited on nor, through O_TRUNC, treated as a file; looked at again on the
  // descriptor in case the path was replaced in between.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    Fail(NonRegularFileReason(st));
    return false;
  }
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    Fail(std::strerror(errno));
    return false;
  }
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    Fail(S_ISREG(st.st_mode) ? std::strerror(errno) : NonRegularFileReason(st));
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

void TOutFile::Fail(const std::string& why) {
  if (problem_.empty()) problem_ = why.empty() ? "unknown error" : why;
}

void TOutFile::WriteAt(uint64_t offset, const uint8_t* p, size_t n) {
  while (n > 0 && !Failed()) {
    const ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) {
      Fail(std::strerror(errno));
    } else if (w == 0) {
      // A regular file that takes nothing has no room left.
      Fail(std::strerror(ENOSPC));
    } else {
      p += w;
      offset += static_cast<uint64_t>(w);
      n -= static_cast<size_t>(w);
    }
  }
}

void TOutFile::Flush() {
  WriteAt(flushed_, buf_.data(), buf_.size());
  flushed_ += buf_.size();
  buf_.clear();
}

void TOutFile::Append(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (buf_.size() + size > kBufferLimit) Flush();
  if (size >= kBufferLimit) {
    // The buffer is empty now, so the block lands right after everything
    // appended before it.
    WriteAt(flushed_, p, size);
    flushed_ += size;
  } else if (size > 0) {
    buf_.insert(buf_.end(), p, p + size);
  }
}

void TOutFile::Patch(uint64_t offset, const void* data, size_t size) {
  if (offset > Pos() || size > Pos() - offset) {
    Fail("internal error: a patch past the end of the file");
    return;
  }
  const auto* p = static_cast<const uint8_t*>(data);
  if (offset < flushed_) {
    const size_t onDisk = static_cast<size_t>(std::min<uint64_t>(size, flushed_ - offset));
    WriteAt(offset, p, onDisk);
    p += onDisk;
    size -= onDisk;
    offset += onDisk;
  }
  if (size > 0) std::memcpy(buf_.data() + (offset - flushed_), p, size);
}

bool TOutFile::Close() {
  if (fd_ < 0) return !Failed();
  Flush();
  if (::close(fd_) != 0) Fail(std::strerror(errno));
  fd_ = -1;
  return !Failed();
}

}  // namespace sdm::avi
