// Translation of POSIX errno values into the Windows result codes that the
// engine's message table knows, so every platform reports the same numbers.
#pragma once

#include <cstdint>

namespace qd::platform::posix {

// The Windows code for an errno value (31 "General failure" when nothing
// closer exists). Lock conflicts (EAGAIN/EACCES from a lock request) are
// mapped by the lock code itself, since the same errno means something else
// elsewhere.
std::uint32_t WindowsCodeFromErrno(int error_number);

}  // namespace qd::platform::posix
