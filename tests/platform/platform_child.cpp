// A second process for the platform tests: opens a file with a given mode,
// optionally takes a byte-range lock, and writes the resulting codes to a
// result file, so that the tests see what another program would get.
//
//   qd_platform_child <result-file> open <path> <mode>
//   qd_platform_child <result-file> lock <path> <mode> <offset> <length>
//   qd_platform_child <result-file> lock-and-exit <path> <mode> <offset> <length>
//
// "lock-and-exit" ends the process without closing the file or unlocking.
// With the environment variable QD_CHILD_UNPRIVILEGED set, a child started as
// root first becomes the user "nobody", so that file permissions apply.
// The result file receives "<open code> <lock code>" (lock code 0 for open).
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/platform.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace platform = qd::platform;

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  const std::string result_path = argv[1];
  const std::string command = argv[2];
  const std::string path = argv[3];
  const auto mode = static_cast<std::uint8_t>(std::strtoul(argv[4], nullptr, 0));
#ifndef _WIN32
  if (std::getenv("QD_CHILD_UNPRIVILEGED") != nullptr && ::geteuid() == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 3;
  }
#endif
  std::uint32_t open_code = 0, lock_code = 0;
  platform::FileHandle file = platform::kNoFile;
  open_code = platform::OpenFile(path, mode, file);
  const bool lock = command == "lock" || command == "lock-and-exit";
  if (open_code == 0 && lock && argc >= 7) {
    const std::uint64_t offset = std::strtoull(argv[5], nullptr, 0);
    const std::uint64_t length = std::strtoull(argv[6], nullptr, 0);
    lock_code = platform::LockRange(file, offset, length);
  }
  {
    std::ofstream result(result_path);
    result << open_code << ' ' << lock_code << '\n';
    if (!result) return 1;
  }
  if (command == "lock-and-exit") std::_Exit(0);
  if (file != platform::kNoFile) platform::CloseFile(file);
  return 0;
}
