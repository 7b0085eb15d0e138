#include "audio/AudioFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/RegularFile.h"

#define SDM_UNIT "U_SpannedFileStream"

namespace sdm {

namespace {

std::string Format(const char* pattern, const std::string& name) {
  std::string text = pattern;
  auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

// The runtime's file-mode word mapped onto open(2). Access 3 and sharing
// values above 0x40 are refused, as the Windows call refuses them. Linux has
// no mandatory share modes; the sharing bits are checked but not enforced.
// Only regular files are opened: a named pipe would block the reader for ever
// and a device never ends. The descriptor is opened non-blocking so that even
// a pipe without a writer returns at once, and is checked with fstat, so the
// check and the open see the same object. problem receives the reason for a
// refused object ("is a named pipe").
int OpenWithMode(const std::string& path, uint16_t mode, std::string& problem) {
  if (path.empty()) return -1;
  int access = mode & 3;
  int share = mode & 0xF0;
  if (access == 3 || share > 0x40) return -1;
  int fd = ::open(path.c_str(), O_CLOEXEC | O_NONBLOCK | (access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR));
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(problem = NonRegularFileReason(st)).empty()) {
    ::close(fd);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

TWFileStream::TWFileStream(const std::string& fileName, uint16_t mode) : TWFileStream(fileName, 0u, mode) {}

TWFileStream::TWFileStream(const std::string& fileName, uint32_t rights, uint16_t mode) : fileName_(fileName) {
  SDM_ASSERT(rights == 0, "Wrong rights");
  if (mode == fmCreate) {
    handle_ = fileName.empty() ? -1 : ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle_ < 0) throw EFCreateError(Format("Impossible de créer le fichier %s", fileName));
  } else {
    std::string problem;
    handle_ = OpenWithMode(fileName, mode, problem);
    if (handle_ < 0) {
      std::string text = Format("Impossible d'ouvrir le fichier %s", fileName);
      throw EFOpenError(problem.empty() ? text : text + " (" + problem + ")");
    }
  }
}

TWFileStream::~TWFileStream() {
  if (handle_ >= 0) ::close(handle_);
}

namespace {

// read(2) until count bytes or the end of the file.
int64_t ReadFully(int handle, uint8_t* p, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(handle, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

}  // namespace

void TWFileStream::BufferReads(int64_t bytes) {
  if (bytes <= 0 || handle_ < 0) return;
  size_ = Size();
  position_ = Position();
  buffer_.assign(static_cast<size_t>(bytes), 0);
  bufferStart_ = position_;
  bufferCount_ = 0;
}

void TWFileStream::Unbuffer() {
  if (buffer_.empty()) return;
  buffer_.clear();
  ::lseek(handle_, static_cast<off_t>(position_), SEEK_SET);
}

int64_t TWFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* p = static_cast<uint8_t*>(buffer);
  if (buffer_.empty()) return ReadFully(handle_, p, count);
  int64_t done = 0;
  while (done < count && position_ < size_) {
    if (position_ < bufferStart_ || position_ >= bufferStart_ + bufferCount_) {
      // Large reads go straight into the caller's memory.
      if (count - done >= static_cast<int64_t>(buffer_.size())) {
        if (::lseek(handle_, static_cast<off_t>(position_), SEEK_SET) < 0) break;
        const int64_t n = ReadFully(handle_, p + done, count - done);
        done += n;
        position_ += n;
        break;
      }
      bufferStart_ = position_;
      bufferCount_ = ::lseek(handle_, static_cast<off_t>(position_), SEEK_SET) < 0
                         ? 0
                         : ReadFully(handle_, buffer_.data(), static_cast<int64_t>(buffer_.size()));
      if (bufferCount_ == 0) break;
    }
    const int64_t n = std::min(count - done, bufferStart_ + bufferCount_ - position_);
    std::memcpy(p + done, buffer_.data() + (position_ - bufferStart_), static_cast<size_t>(n));
    done += n;
    position_ += n;
  }
  return done;
}

int64_t TWFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  Unbuffer();
  auto* p = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(handle_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

void TWFileStream::ReadBuffer(void* buffer, int64_t count) {
  if (Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TWFileStream::WriteBuffer(const void* buffer, int64_t count) {
  if (Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TWFileStream::Seek(int64_t offset, int origin) {
  if (!buffer_.empty()) {
    const int64_t base = origin == 1 ? position_ : origin == 2 ? size_ : 0;
    if (base + offset < 0) return -1;
    position_ = base + offset;
    return position_;
  }
  int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  off_t r = ::lseek(handle_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t TWFileStream::Size() {
  if (!buffer_.empty()) return size_;
  struct stat st {};
  if (::fstat(handle_, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

void TWFileStream::SetSize(int64_t newSize) {
  Unbuffer();
  if (newSize < 0 || Seek(newSize, 0) != newSize || ::ftruncate(handle_, static_cast<off_t>(newSize)) != 0)
    throw EStreamError(std::strerror(errno));
}

}  // namespace sdm
