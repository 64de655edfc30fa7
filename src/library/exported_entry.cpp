// Keeps exceptions inside the library's exported functions (see
// exported_entry.h).
#include "library/exported_entry.h"

#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "foundation/errors.h"

namespace qd::library {

namespace {

constexpr std::uint16_t kInternalError = 254;  // "Quindle internal error"
constexpr std::uint16_t kNoMemory = 217;       // "Insufficient memory"

// The code and detail text a failure is reported with.
void Describe(const std::exception_ptr& failure, const char* entry, std::uint16_t& code,
              std::string& text) {
  const std::string where = std::string(" [") + entry + "]";
  try {
    std::rethrow_exception(failure);
  } catch (const EQuindleError& e) {
    // Already an engine error: its message is the code's text, a line
    // break and the detail text; the code is still in ErrorCode.
    code = ErrorCode != 0 ? ErrorCode : kInternalError;
    text = e.what();
    const std::size_t detail = text.find("\r\n");
    if (detail != std::string::npos) text.erase(0, detail + 2);
  } catch (const std::bad_alloc&) {
    code = kNoMemory;
    text = "Not enough memory" + where;
  } catch (const std::exception& e) {
    code = kInternalError;
    text = e.what() + where;
  } catch (...) {
    code = kInternalError;
    text = "Unknown failure" + where;
  }
}

}  // namespace

void RunExported(const char* entry, void (*body)()) noexcept {
  std::exception_ptr failure;
  try {
    body();
    return;
  } catch (...) {
    failure = std::current_exception();
  }
  std::uint16_t code = kInternalError;
  std::string text;
  try {
    Describe(failure, entry, code, text);
    failure = nullptr;
    // Delivered as the start-up settings deliver every engine error: the
    // stop box, then the halt (which does not return).
    SetRaiseExceptions(false);
    SetImmediateDispatch(true);
    SetError(code, text);
  } catch (...) {
    // Nothing more can be done without letting it escape.
  }
}

}  // namespace qd::library
