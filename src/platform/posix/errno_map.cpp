// The one table from errno values to Windows result codes.
#include "platform/posix/errno_map.h"

#include <cerrno>

namespace qd::platform::posix {

namespace {
struct ErrnoCode {
  int error_number;
  std::uint32_t code;
};

constexpr ErrnoCode kTable[] = {
    {ENOENT, 2},        // file not found
    {ENOTDIR, 3},       // a directory of the path is missing or is a file
    {ENAMETOOLONG, 3},  //
    {ELOOP, 3},         //
    {EMFILE, 4},        // too many open files
    {ENFILE, 4},        //
    {EACCES, 5},        // access denied
    {EPERM, 5},         //
    {EROFS, 5},         //
    {EISDIR, 5},        // a directory opened as a file
    {EBADF, 6},         // invalid handle
    {ENOMEM, 8},        // not enough memory
    {EXDEV, 17},        // rename across devices
    {ENODEV, 21},       // drive not ready
    {ENXIO, 21},        //
    {EIO, 31},          // general failure
    {ETXTBSY, 32},      // sharing violation
    {EBUSY, 32},        //
    {EDEADLK, 33},      // lock violation
    {ENOLCK, 36},       // out of lock records
    {ENOSYS, 50},       // not supported
    {EOPNOTSUPP, 50},   //
    {ESTALE, 59},       // network failures
    {ENETDOWN, 59},     //
    {ENETUNREACH, 59},  //
    {ECONNRESET, 59},   //
    {ETIMEDOUT, 59},    //
    {EHOSTUNREACH, 51}, // remote machine not listening
    {EEXIST, 80},       // file exists
    {EINVAL, 87},       // invalid parameter
    {EOVERFLOW, 87},    //
    {ENOSPC, 112},      // disk full
    {EDQUOT, 112},      //
    {EFBIG, 112},       //
    {ENOTEMPTY, 145},   // directory not empty
};
}  // namespace

std::uint32_t WindowsCodeFromErrno(int error_number) {
  if (error_number == 0) return 0;
  for (const ErrnoCode& entry : kTable) {
    if (entry.error_number == error_number) return entry.code;
  }
  return 31;
}

}  // namespace qd::platform::posix
