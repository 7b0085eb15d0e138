#pragma once
// Errors are exceptions that carry the program's own message texts. Assertion
// failures (the AVI writer, the muxer) add the unit and line to the text so a
// report points at the check that failed.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace sdm {

// Any error the program reports to the user: what() is the text to show.
class EError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A failed assertion: Message() is the fixed text, what() adds unit and line.
class EAssertionFailed : public EError {
public:
  EAssertionFailed(const std::string& message, const char* unit, int line)
      : EError(message + " (" + unit + ", line " + std::to_string(line) + ")"),
        message_(message),
        unit_(unit),
        line_(line) {}
  const std::string& Message() const { return message_; }
  const std::string& Unit() const { return unit_; }
  int Line() const { return line_; }

private:
  std::string message_;
  std::string unit_;
  int line_;
};

// "$" followed by the code as 8 upper-case hexadecimal digits: "$80044065".
inline std::string HexCode(uint32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "$%08X", code);
  return buf;
}

}  // namespace sdm

// SDM_ASSERT(cond, text): raises EAssertionFailed naming this unit and line.
// SDM_UNIT must be defined by the .cpp before use ("U_BmpToAvi").
#define SDM_ASSERT(cond, text)                                              \
  do {                                                                      \
    if (!(cond)) throw ::sdm::EAssertionFailed((text), SDM_UNIT, __LINE__); \
  } while (0)
