// The runtime's general exception: a message and a help context. The engine's
// EQuindleError and the record-set framework's database error derive from it.
#pragma once

#include <stdexcept>
#include <string>

namespace qd {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message, int help_context = 0)
      : std::runtime_error(message), help_context_(help_context) {}
  std::string Message() const { return what(); }
  int HelpContext() const { return help_context_; }

 private:
  int help_context_;
};

// The engine's exception. Carries no code: the code is part of the message
// and stays in ErrorCode.
class EQuindleError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace qd
