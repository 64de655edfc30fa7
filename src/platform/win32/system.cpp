// Win32 system services of the platform layer: the last-error value, the
// clock, the user's language and the ANSI/OEM character services.
#include <algorithm>

#include "platform/platform.h"
#include "platform/win32/win32_internal.h"

namespace qd::platform {

namespace {
thread_local std::uint32_t last_error = 0;

// Largest buffer handed to one character-service call (their lengths are
// DWORDs).
constexpr std::size_t kMaxChunk = 1u << 30;

template <typename Convert>
void InChunks(std::uint8_t* buffer, std::size_t count, Convert convert) {
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min(count, kMaxChunk));
    convert(reinterpret_cast<char*>(buffer), chunk);
    buffer += chunk;
    count -= chunk;
  }
}
}  // namespace

namespace win32 {
std::uint32_t Fail(std::uint32_t code) {
  last_error = code;
  return code;
}

std::uint32_t FailWithLastError() {
  const DWORD code = GetLastError();
  return Fail(code != 0 ? code : ERROR_ACCESS_DENIED);
}
}  // namespace win32

std::uint32_t LastError() { return last_error; }

// ---------------------------------------------------------------- clock ----

std::uint32_t TickCount() { return GetTickCount(); }

void SleepMs(std::uint32_t milliseconds) { Sleep(milliseconds); }

void LocalDate(int& year, int& month, int& day) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  year = now.wYear;
  month = now.wMonth;
  day = now.wDay;
}

std::uint16_t UserDefaultLangID() { return GetUserDefaultLangID(); }

// -------------------------------------------------------- character sets ---

// The system converts between its own ANSI and OEM code pages (with its
// best-fit replacements); other pairs are not available here.
void AnsiToOem(std::uint8_t* buffer, std::size_t count) {
  InChunks(buffer, count, [](char* bytes, DWORD size) { CharToOemBuffA(bytes, bytes, size); });
}

void OemToAnsi(std::uint8_t* buffer, std::size_t count) {
  InChunks(buffer, count, [](char* bytes, DWORD size) { OemToCharBuffA(bytes, bytes, size); });
}

void AnsiUpper(std::uint8_t* buffer, std::size_t count) {
  InChunks(buffer, count, [](char* bytes, DWORD size) { CharUpperBuffA(bytes, size); });
}

void AnsiLower(std::uint8_t* buffer, std::size_t count) {
  InChunks(buffer, count, [](char* bytes, DWORD size) { CharLowerBuffA(bytes, size); });
}

bool SetCodePages(int ansi, int oem) {
  return ansi == AnsiCodePage() && oem == OemCodePage();
}

int AnsiCodePage() { return static_cast<int>(GetACP()); }

int OemCodePage() { return static_cast<int>(GetOEMCP()); }

}  // namespace qd::platform
