// Character-set services on POSIX (placeholder until the code page tables land).
#include "platform/platform.h"

namespace qd::platform {

namespace {
int ansi_page = 1252;
int oem_page = 437;
}  // namespace

void AnsiToOem(std::uint8_t*, std::size_t) {}
void OemToAnsi(std::uint8_t*, std::size_t) {}
void AnsiUpper(std::uint8_t* buffer, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (buffer[i] >= 'a' && buffer[i] <= 'z') buffer[i] = static_cast<std::uint8_t>(buffer[i] - 32);
  }
}
void AnsiLower(std::uint8_t* buffer, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (buffer[i] >= 'A' && buffer[i] <= 'Z') buffer[i] = static_cast<std::uint8_t>(buffer[i] + 32);
  }
}
bool SetCodePages(int ansi, int oem) {
  if (ansi != 1252 || oem != 437) return false;
  ansi_page = ansi;
  oem_page = oem;
  return true;
}
int AnsiCodePage() { return ansi_page; }
int OemCodePage() { return oem_page; }

}  // namespace qd::platform
