#pragma once
// A failure of the AVI writer or the muxer on a file: it keeps the fixed text,
// unit and line of an assertion failure (Message(), Unit(), Line()), and puts
// what the user needs first, which file and why, with the technical text on
// the line after it:
//   Cannot write "/out/show.avi": Permission denied
//   FileOpen failed. Err: $8004406F (U_BmpToAvi, line 123)
#include <string>

#include "platform/avifile/AviFile.h"
#include "support/Errors.h"

namespace sdm {

// Whether the failing file was being read or written.
enum class TFileAccess { Read, Write };

class EFileFailure : public EAssertionFailed {
public:
  // The plain causes' own words; the window translates them where they begin
  // a message.
  static constexpr const char* kCannotRead = "Cannot read";
  static constexpr const char* kCannotWrite = "Cannot write";

  EFileFailure(const std::string& message, const char* unit, int line, const std::string& path,
               const std::string& reason, TFileAccess access = TFileAccess::Write)
      : EAssertionFailed(message, unit, line),
        cause_(std::string(access == TFileAccess::Read ? kCannotRead : kCannotWrite) + " \"" + path + "\"" +
               (reason.empty() ? "" : ": " + reason)),
        text_(cause_ + "\n" + EAssertionFailed::what()),
        path_(path),
        reason_(reason) {}
  const char* what() const noexcept override { return text_.c_str(); }
  // The first line of what(): Cannot read|write "path": reason.
  const std::string& Cause() const { return cause_; }
  const std::string& Path() const { return path_; }
  // The system's reason ("No space left on device") or what is wrong with
  // the file; empty when nothing more is known.
  const std::string& Reason() const { return reason_; }

private:
  std::string cause_;
  std::string text_;
  std::string path_;
  std::string reason_;
};

// The first failure among the releases that finish a file, with the AVI file
// library's reason: the headers and indexes are written when the last handle
// goes, so a full disk may show on any of them.
struct TFirstFailure {
  HRESULT code = 0;
  std::string reason;
  void Note(HRESULT r) {
    if (r == 0 || code != 0) return;
    code = r;
    reason = AVIFileLastErrorText();
  }
};

}  // namespace sdm

// SDM_ASSERT_FILE(cond, text, path): as SDM_ASSERT, naming path and the AVI
// file library's reason for the failure of its last call.
#define SDM_ASSERT_FILE(cond, text, path)                                                                      \
  do {                                                                                                         \
    if (!(cond)) throw ::sdm::EFileFailure((text), SDM_UNIT, __LINE__, (path), ::sdm::AVIFileLastErrorText()); \
  } while (0)
