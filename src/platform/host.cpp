// The host seam shared by every platform: the current-host pointer, the
// default process halt and a simple text measure for hosts without fonts.
#include <cstdlib>
#include <cstdio>

#include "platform/platform.h"

namespace qd::platform {

Host* CreateDefaultHost();  // console host (posix/) or Windows host (win32/)

namespace {
Host* current_host = nullptr;

Host& DefaultHost() {
  static Host* host = CreateDefaultHost();
  return *host;
}
}  // namespace

void Host::Halt(int exit_code) {
#ifndef _WIN32
  // Only the low 8 bits of an exit status reach a POSIX parent: a nonzero
  // code whose low bits are all zero would read as success.
  if (exit_code != 0 && (exit_code & 0xFF) == 0) exit_code = 255;
#endif
  std::fflush(nullptr);
  std::exit(exit_code);
}

void Host::MeasureText(const std::string& text, const std::string& /*font*/, int points,
                       int& width, int& height) {
  // A fixed-pitch approximation: characters are about 0.6 of the point size
  // wide, lines 1.5 of it high (pixels at 96 dpi).
  const int size = points > 0 ? points : 8;
  width = static_cast<int>(text.size()) * (size * 96 / 72) * 6 / 10;
  height = (size * 96 / 72) * 3 / 2;
}

Host& CurrentHost() { return current_host != nullptr ? *current_host : DefaultHost(); }

void SetHost(Host* host) { current_host = host; }

}  // namespace qd::platform
