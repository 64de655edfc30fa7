// Helpers shared by the Win32 implementation of the platform layer: the
// Windows header with its macros tamed, the per-thread last-error value and
// the error-mode guard used around file-system probes.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <winuser.h> maps these old names onto its own services; the platform layer
// uses them for its own functions.
#undef AnsiToOem
#undef OemToAnsi
#undef AnsiUpper
#undef AnsiLower

#include <cstdint>

namespace qd::platform::win32 {

// Records `code` as this layer's last error (see LastError) and returns it.
std::uint32_t Fail(std::uint32_t code);
// Records and returns the calling thread's GetLastError value; a failing
// call that left no code behind is reported as access denied.
std::uint32_t FailWithLastError();

inline HANDLE ToHandle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// Suppresses the system's critical-error boxes (drive not ready, no disk)
// while a file-system call runs, so that the engine receives the error code
// instead of the user being asked; the previous mode is restored afterwards.
class QuietErrors {
 public:
  QuietErrors() : previous_(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
  ~QuietErrors() { SetErrorMode(previous_); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  UINT previous_;
};

}  // namespace qd::platform::win32
