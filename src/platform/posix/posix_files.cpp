// Open files on POSIX: Windows-style share modes emulated with flock, and
// Windows-style byte-range locks with open-file-description locks, plus
// positioned reads and writes, size, truncation and flushing.
//
// Share modes: a deny-none open takes a shared flock on its own descriptor,
// every other open (exclusive, compatibility, deny-read, deny-write) an
// exclusive one. flock locks belong to the open file description, so two
// opens of one file conflict within one process exactly as across processes.
//
// Byte-range locks: F_OFD_SETLK write locks, also per open file description,
// so they conflict between handles of one process and survive the closing of
// any other handle of the same file (classic fcntl locks do neither). OFD
// locks of one description merge silently, so each handle keeps the list of
// ranges it holds to refuse overlapping locks and inexact unlocks as Windows
// does.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/posix_paths.h"

namespace qd::platform {

using posix::Fail;
using posix::FailErrno;

namespace {

struct Range {
  std::uint64_t offset;
  std::uint64_t length;
};

struct OpenHandle {
  bool writable = false;
  // The descriptor that carries this handle's byte-range locks: the handle's
  // own when it may write, else a second read-write descriptor of the same
  // file (write locks need one), or -1 when the file cannot be opened for
  // writing at all and read locks must do.
  int lock_fd = -1;
  std::vector<Range> locks;
};

std::mutex registry_mutex;
std::unordered_map<int, OpenHandle>& Registry() {
  static auto* registry = new std::unordered_map<int, OpenHandle>();
  return *registry;
}

constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

int AccessFlags(std::uint8_t mode) {
  switch (mode & kAccessMask) {
    case kAccessRead:
      return O_RDONLY;
    case kAccessWrite:
      return O_WRONLY;
    default:
      return O_RDWR;
  }
}

// Takes the flock that stands for the open's sharing mode. 0 or 32.
std::uint32_t TakeShareLock(int fd, std::uint8_t mode) {
  const int operation = ((mode & kShareMask) == kShareDenyNone) ? LOCK_SH : LOCK_EX;
  while (::flock(fd, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return 32;
    // File systems without flock support: open without share enforcement
    // rather than refuse every file.
    if (errno == EINVAL || errno == EOPNOTSUPP || errno == ENOLCK) return 0;
    return posix::WindowsCodeFromErrno(errno);
  }
  return 0;
}

// A read-write descriptor of the file `info` describes, for the locks of a
// read-only handle; -1 when the file is not writable for this process.
int OpenLockDescriptor(const std::string& native, const struct stat& info) {
  const int fd = ::open(native.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;  // errno tells why
  struct stat check;
  if (::fstat(fd, &check) != 0 || check.st_dev != info.st_dev || check.st_ino != info.st_ino) {
    ::close(fd);  // the name now leads to another file
    errno = ENOENT;
    return -1;
  }
  return fd;
}

// Opens `native` with `flags`, refuses directories, takes the share lock and
// registers the handle.
std::uint32_t OpenResolved(const std::string& native, int flags, std::uint8_t mode,
                           bool truncate, FileHandle& out) {
  int fd;
  do {
    fd = ::open(native.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return FailErrno();
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return Fail(5);
  }
  if (std::uint32_t code = TakeShareLock(fd, mode); code != 0) {
    ::close(fd);
    return Fail(code);
  }
  // Truncation only once the share lock is held, so that replacing a file
  // another handle has open exclusively fails without touching its data.
  if (truncate && ::ftruncate(fd, 0) != 0) {
    const std::uint32_t code = posix::WindowsCodeFromErrno(errno);
    ::close(fd);
    return Fail(code);
  }
  OpenHandle handle;
  handle.writable = (flags & O_ACCMODE) != O_RDONLY;
  handle.lock_fd = handle.writable ? fd : OpenLockDescriptor(native, info);
  if (handle.lock_fd < 0 && (errno == EMFILE || errno == ENFILE)) {
    ::close(fd);  // out of descriptors: report it rather than lock weaker
    return Fail(4);
  }
  {
    std::lock_guard<std::mutex> guard(registry_mutex);
    Registry()[fd] = std::move(handle);
  }
  out = fd;
  return 0;
}

bool Overlaps(const Range& a, std::uint64_t offset, std::uint64_t length) {
  if (a.length == 0 || length == 0) return false;
  return offset < a.offset + a.length && a.offset < offset + length;
}

}  // namespace

std::uint32_t OpenFile(const std::string& path, std::uint8_t mode, FileHandle& out) {
  out = kNoFile;
  std::string native;
  if (std::uint32_t code = posix::ResolveExisting(path, native); code != 0) return Fail(code);
  return OpenResolved(native, AccessFlags(mode), mode, false, out);
}

std::uint32_t CreateNewFile(const std::string& path, std::uint8_t mode, FileHandle& out) {
  out = kNoFile;
  std::string native;
  if (std::uint32_t code = posix::ResolveForCreate(path, native); code != 0) return Fail(code);
  // Truncating needs write access; a file created "read-only" is still
  // created empty.
  int flags = AccessFlags(mode);
  if (flags == O_RDONLY) flags = O_RDWR;
  return OpenResolved(native, flags | O_CREAT, mode, true, out);
}

std::uint32_t CloseFile(FileHandle file) {
  {
    std::lock_guard<std::mutex> guard(registry_mutex);
    // Only handles this layer opened are closed: closing a stale number
    // could close a descriptor that now belongs to another file.
    auto found = Registry().find(static_cast<int>(file));
    if (found == Registry().end()) return Fail(6);
    if (found->second.lock_fd >= 0 && found->second.lock_fd != file) {
      ::close(found->second.lock_fd);
    }
    Registry().erase(found);
  }
  if (::close(static_cast<int>(file)) != 0 && errno != EINTR) return FailErrno();
  return 0;
}

namespace {
// A read or write refused by the descriptor's access: Windows answers 5 for
// a handle of this layer opened without that access, 6 for anything else.
std::uint32_t BadDescriptor(FileHandle file) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  return Registry().count(static_cast<int>(file)) != 0 ? 5 : 6;
}
}  // namespace

std::uint32_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t count,
                     std::size_t& done) {
  done = 0;
  if (offset > kMaxOffset || count > kMaxOffset - offset) return Fail(87);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  while (done < count) {
    const ssize_t got = ::pread(static_cast<int>(file), bytes + done, count - done,
                                static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EBADF) return Fail(BadDescriptor(file));
      return FailErrno();
    }
    if (got == 0) break;  // end of file
    done += static_cast<std::size_t>(got);
  }
  return 0;
}

std::uint32_t WriteAt(FileHandle file, std::uint64_t offset, const void* buffer,
                      std::size_t count, std::size_t& done) {
  done = 0;
  if (offset > kMaxOffset || count > kMaxOffset - offset) return Fail(87);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  while (done < count) {
    const ssize_t put = ::pwrite(static_cast<int>(file), bytes + done, count - done,
                                 static_cast<off_t>(offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      if (errno == EBADF) return Fail(BadDescriptor(file));
      return FailErrno();
    }
    if (put == 0) return Fail(112);
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

std::uint32_t FileSize(FileHandle file, std::uint64_t& size) {
  size = 0;
  struct stat info;
  if (::fstat(static_cast<int>(file), &info) != 0) return FailErrno();
  size = static_cast<std::uint64_t>(info.st_size);
  return 0;
}

std::uint32_t Truncate(FileHandle file, std::uint64_t size) {
  if (size > kMaxOffset) return Fail(87);
  while (::ftruncate(static_cast<int>(file), static_cast<off_t>(size)) != 0) {
    if (errno == EINTR) continue;
    if (errno == EBADF || errno == EINVAL) return Fail(BadDescriptor(file));
    return FailErrno();
  }
  return 0;
}

std::uint32_t FlushFile(FileHandle file) {
  if (::fsync(static_cast<int>(file)) != 0) {
    // Descriptors of special files cannot be synced; nothing to flush then.
    if (errno == EINVAL || errno == EROFS) return 0;
    return FailErrno();
  }
  return 0;
}

namespace {
// One OFD lock request on the handle's lock descriptor. A read-only handle
// of a file this process may not write takes read locks instead: those still
// conflict with every writer's lock, and two such handles sharing a range
// cannot change its bytes.
int SetRangeLock(FileHandle file, const OpenHandle& handle, bool lock, std::uint64_t offset,
                 std::uint64_t length) {
  const bool write_lock = handle.lock_fd >= 0;
  const int fd = write_lock ? handle.lock_fd : static_cast<int>(file);
  struct flock lock_request {};
  lock_request.l_type = !lock ? F_UNLCK : (write_lock ? F_WRLCK : F_RDLCK);
  lock_request.l_whence = SEEK_SET;
  lock_request.l_start = static_cast<off_t>(offset);
  lock_request.l_len = static_cast<off_t>(length);
  lock_request.l_pid = 0;
#ifdef F_OFD_SETLK
  const int command = F_OFD_SETLK;
#else
  const int command = F_SETLK;  // systems without OFD locks: per-process locks
#endif
  int result;
  do {
    result = ::fcntl(fd, command, &lock_request);
  } while (result != 0 && errno == EINTR);
  return result;
}
}  // namespace

std::uint32_t LockRange(FileHandle file, std::uint64_t offset, std::uint64_t length) {
  if (offset > kMaxOffset || length > kMaxOffset - offset) return Fail(87);
  std::lock_guard<std::mutex> guard(registry_mutex);
  auto found = Registry().find(static_cast<int>(file));
  if (found == Registry().end()) return Fail(6);
  OpenHandle& handle = found->second;
  for (const Range& held : handle.locks) {
    if (Overlaps(held, offset, length)) return Fail(33);
  }
  // A zero-length range locks nothing (and to fcntl would mean "to the end
  // of the file and beyond"); it is only remembered so it can be unlocked.
  if (length != 0 && SetRangeLock(file, handle, true, offset, length) != 0) {
    if (errno == EAGAIN || errno == EACCES) return Fail(33);
    return FailErrno();
  }
  handle.locks.push_back(Range{offset, length});
  return 0;
}

std::uint32_t UnlockRange(FileHandle file, std::uint64_t offset, std::uint64_t length) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  auto found = Registry().find(static_cast<int>(file));
  if (found == Registry().end()) return Fail(6);
  std::vector<Range>& locks = found->second.locks;
  auto held = std::find_if(locks.begin(), locks.end(), [&](const Range& range) {
    return range.offset == offset && range.length == length;
  });
  if (held == locks.end()) return Fail(158);
  if (length != 0 && SetRangeLock(file, found->second, false, offset, length) != 0) {
    return FailErrno();
  }
  locks.erase(held);
  return 0;
}

}  // namespace qd::platform
