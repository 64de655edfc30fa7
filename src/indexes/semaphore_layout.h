// The semaphore file of a shared table: the table's file name with the
// extension ".@S@", in the table's directory. It holds exactly one 4-byte
// record:
//
//   Offset  Size  Content
//   ------  ----  ---------------------------------------------------------
//      0      1   programs logged in (LOGIN adds 1, LOGOUT subtracts 1)
//      1      1   read phases in progress, 0 to 127; a writer holding the
//                 semaphore counts itself here too
//      2      2   change counter (unsigned): raised by 1 at every
//                 UNLOCKSEMAPHORE; 65535 is never stored (it becomes 0)
//
// Every update of the record is made holding the byte-range lock on the 4
// bytes at offset 1 (beyond the record's end, which the lock allows); a
// writer keeps that lock for its whole write phase.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qd::mdx::semaphore {

inline constexpr std::size_t kRecordSize = 4;
inline constexpr std::size_t kUsers = 0;
inline constexpr std::size_t kReaders = 1;
inline constexpr std::size_t kChangeCounter = 2;  // 16-bit

inline constexpr std::uint64_t kLockOffset = 1;
inline constexpr std::uint64_t kLockLength = 4;

inline constexpr std::uint8_t kMostReaders = 127;
inline constexpr std::uint16_t kCounterWrap = 65535;  // stored as 0

inline constexpr const char* kExtension = ".@S@";

}  // namespace qd::mdx::semaphore
