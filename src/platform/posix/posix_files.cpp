// Open files on POSIX: Windows-style share modes and byte-range locks, both
// built on open-file-description locks, plus positioned reads and writes,
// size, truncation and flushing.
//
// Share modes: every handle locks one reserved byte at the very top of the
// offset range, shared for a deny-none open and exclusive for every other
// open (exclusive, compatibility, deny-read, deny-write). OFD locks belong to
// the open file description, so two opens of one file conflict within one
// process exactly as across processes. (flock would do the same on local
// disks, but network file systems turn it into a whole-file byte-range lock
// that would collide with every record lock.)
//
// Byte-range locks: F_OFD_SETLK write locks, which conflict between handles
// of one process and survive the closing of any other handle of the same
// file (classic fcntl locks do neither). OFD locks of one description merge
// silently, so each handle keeps the list of ranges it holds to refuse
// overlapping locks and inexact unlocks as Windows does.
//
// Write locks need a descriptor open for writing and read locks one open for
// reading, so a handle that is not read-write carries its locks on a second,
// read-write descriptor of the same file when the process may write it.
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
  int lock_fd = -1;  // descriptor carrying the share and range locks
  bool lock_fd_readable = false;
  bool lock_fd_writable = false;
  std::vector<Range> locks;
};

// The open handles of this layer, by descriptor. Created with the first
// open and freed with the last close: a host that loads and unloads the
// library (which closes every table) keeps nothing of it, and no static
// destructor can take it away from a close that runs late at process exit.
std::mutex registry_mutex;
using HandleRegistry = std::unordered_map<int, OpenHandle>;
HandleRegistry* registry = nullptr;

HandleRegistry& Registry() {
  if (registry == nullptr) registry = new HandleRegistry();
  return *registry;
}

// The handle of `fd`, or nil (without creating the registry).
OpenHandle* FindHandle(int fd) {
  if (registry == nullptr) return nullptr;
  auto found = registry->find(fd);
  return found == registry->end() ? nullptr : &found->second;
}

void ForgetHandle(int fd) {
  registry->erase(fd);
  if (registry->empty()) {
    delete registry;
    registry = nullptr;
  }
}

constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
// The byte whose lock stands for a handle's sharing mode; byte-range locks
// end below it.
constexpr std::uint64_t kShareByte = kMaxOffset - 1;
#ifdef F_OFD_SETLK
// The byte above it, read-locked by exclusive opens that could not take a
// write lock on the share byte.
constexpr std::uint64_t kReaderExclusiveByte = kMaxOffset;
#endif

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

// One non-blocking lock request (F_RDLCK, F_WRLCK or F_UNLCK) owned by the
// descriptor's open file description; 0 or -1 with errno.
int SetLock(int fd, short type, std::uint64_t offset, std::uint64_t length) {
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = static_cast<off_t>(offset);
  request.l_len = static_cast<off_t>(length);
  request.l_pid = 0;
#ifdef F_OFD_SETLK
  const int command = F_OFD_SETLK;
#else
  const int command = F_SETLK;  // systems without OFD locks: per-process locks
#endif
  int result;
  do {
    result = ::fcntl(fd, command, &request);
  } while (result != 0 && errno == EINTR);
  return result;
}

#ifdef F_OFD_SETLK
// True when another open file description holds a lock on `byte`.
bool OthersLock(int fd, std::uint64_t byte) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = static_cast<off_t>(byte);
  probe.l_len = 1;
  probe.l_pid = 0;
  return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}
#endif

bool IsLockConflict(int error_number) { return error_number == EAGAIN || error_number == EACCES; }

// Takes the lock that stands for the open's sharing mode. 0 or 32.
std::uint32_t TakeShareLock(int fd, const OpenHandle& handle, std::uint8_t mode) {
  const bool exclusive = (mode & kShareMask) != kShareDenyNone;
#ifdef F_OFD_SETLK
  (void)fd;
  short type;
  if (exclusive) {
    // Without write access to the file only a read lock is possible: it
    // still keeps out every exclusive open and every writer's exclusive open.
    type = handle.lock_fd_writable ? F_WRLCK : F_RDLCK;
  } else if (handle.lock_fd_readable) {
    type = F_RDLCK;
  } else {
    return 0;  // write-only access to an unreadable file: nothing can lock
  }
  if (SetLock(handle.lock_fd, type, kShareByte, 1) != 0) {
    if (IsLockConflict(errno)) return 32;
    // File systems without lock support: open without share enforcement
    // rather than refuse every file.
    if (errno == EINVAL || errno == EOPNOTSUPP || errno == ENOLCK) return 0;
    return posix::WindowsCodeFromErrno(errno);
  }
  if (type == F_RDLCK) {
    // Read locks do not keep each other out, so an exclusive open that could
    // only take a read lock marks the byte above as well and then gives way
    // to any other open; shared opens give way to that mark. Each side locks
    // before it looks, so of two racing opens at least one is refused. The
    // caller closes the descriptors on refusal, which drops these locks.
    if (exclusive) {
      SetLock(handle.lock_fd, F_RDLCK, kReaderExclusiveByte, 1);
      if (OthersLock(handle.lock_fd, kShareByte)) return 32;
    } else if (OthersLock(handle.lock_fd, kReaderExclusiveByte)) {
      return 32;
    }
  }
  return 0;
#else
  (void)handle;
  while (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return 32;
    if (errno == EINVAL || errno == EOPNOTSUPP || errno == ENOLCK) return 0;
    return posix::WindowsCodeFromErrno(errno);
  }
  return 0;
#endif
}

// A second, read-write descriptor of the file `info` describes; -1 with
// errno when the process may not write it (or the name now leads elsewhere).
int OpenReadWriteTwin(const std::string& native, const struct stat& info) {
  const int fd = ::open(native.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat check;
  if (::fstat(fd, &check) != 0 || check.st_dev != info.st_dev || check.st_ino != info.st_ino) {
    ::close(fd);
    errno = ENOENT;
    return -1;
  }
  return fd;
}

void CloseHandleDescriptors(int fd, const OpenHandle& handle) {
  if (handle.lock_fd >= 0 && handle.lock_fd != fd) ::close(handle.lock_fd);
  ::close(fd);
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
  const int access = flags & O_ACCMODE;
  OpenHandle handle;
  handle.lock_fd = fd;
  handle.lock_fd_readable = access != O_WRONLY;
  handle.lock_fd_writable = access != O_RDONLY;
  if (access != O_RDWR) {
    const int twin = OpenReadWriteTwin(native, info);
    if (twin >= 0) {
      handle.lock_fd = twin;
      handle.lock_fd_readable = handle.lock_fd_writable = true;
    } else if (errno == EMFILE || errno == ENFILE) {
      ::close(fd);  // out of descriptors: report it rather than lock weaker
      return Fail(4);
    }
  }
  if (std::uint32_t code = TakeShareLock(fd, handle, mode); code != 0) {
    CloseHandleDescriptors(fd, handle);
    return Fail(code);
  }
  // Truncation only once the share lock is held, so that replacing a file
  // another handle has open exclusively fails without touching its data.
  if (truncate && ::ftruncate(fd, 0) != 0) {
    const std::uint32_t code = posix::WindowsCodeFromErrno(errno);
    CloseHandleDescriptors(fd, handle);
    return Fail(code);
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
  OpenHandle handle;
  {
    std::lock_guard<std::mutex> guard(registry_mutex);
    // Only handles this layer opened are closed: closing a stale number
    // could close a descriptor that now belongs to another file.
    OpenHandle* found = FindHandle(static_cast<int>(file));
    if (found == nullptr) return Fail(6);
    handle = std::move(*found);
    ForgetHandle(static_cast<int>(file));
  }
  if (handle.lock_fd >= 0 && handle.lock_fd != file) ::close(handle.lock_fd);
  if (::close(static_cast<int>(file)) != 0 && errno != EINTR) return FailErrno();
  return 0;
}

namespace {
// A read or write refused by the descriptor's access: Windows answers 5 for
// a handle of this layer opened without that access, 6 for anything else.
std::uint32_t BadDescriptor(FileHandle file) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  return FindHandle(static_cast<int>(file)) != nullptr ? 5 : 6;
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

std::uint32_t ReserveSpace(FileHandle file, std::uint64_t offset, std::uint64_t count) {
  if (offset > kMaxOffset || count > kMaxOffset - offset) return Fail(87);
#if defined(__linux__)
  while (::fallocate(static_cast<int>(file), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                     static_cast<off_t>(count)) != 0) {
    if (errno == EINTR) continue;
    if (errno == EBADF) return Fail(BadDescriptor(file));
    if (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) return Fail(50);
    return FailErrno();
  }
  return 0;
#else
  (void)file;
  return Fail(50);
#endif
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
// A lock request of one handle: write locks where its lock descriptor may
// write. A handle of a file this process may not write takes read locks:
// those still conflict with every writer's lock, and two such handles
// sharing a range cannot change its bytes.
int SetRangeLock(const OpenHandle& handle, bool lock, std::uint64_t offset, std::uint64_t length) {
  const short type = !lock ? F_UNLCK : (handle.lock_fd_writable ? F_WRLCK : F_RDLCK);
  return SetLock(handle.lock_fd, type, offset, length);
}

}  // namespace

std::uint32_t LockRange(FileHandle file, std::uint64_t offset, std::uint64_t length) {
  if (offset > kShareByte || length > kShareByte - offset) return Fail(87);
  std::lock_guard<std::mutex> guard(registry_mutex);
  OpenHandle* found = FindHandle(static_cast<int>(file));
  if (found == nullptr) return Fail(6);
  OpenHandle& handle = *found;
  for (const Range& held : handle.locks) {
    if (Overlaps(held, offset, length)) return Fail(33);
  }
  // A zero-length range locks nothing (and to fcntl would mean "to the end
  // of the file and beyond"); it is only remembered so it can be unlocked.
  if (length != 0 && SetRangeLock(handle, true, offset, length) != 0) {
    if (IsLockConflict(errno)) return Fail(33);
    return FailErrno();
  }
  handle.locks.push_back(Range{offset, length});
  return 0;
}

std::uint32_t UnlockRange(FileHandle file, std::uint64_t offset, std::uint64_t length) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  OpenHandle* found = FindHandle(static_cast<int>(file));
  if (found == nullptr) return Fail(6);
  std::vector<Range>& locks = found->locks;
  auto held = std::find_if(locks.begin(), locks.end(), [&](const Range& range) {
    return range.offset == offset && range.length == length;
  });
  if (held == locks.end()) return Fail(158);
  if (length != 0 && SetRangeLock(*found, false, offset, length) != 0) return FailErrno();
  locks.erase(held);
  return 0;
}

namespace posix {

bool FileIsOpen(const std::string& native) {
  int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) fd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;  // nothing to probe with; the operation decides
  bool open = false;
#ifdef F_OFD_GETLK
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = static_cast<off_t>(kShareByte);
  probe.l_len = 1;
  probe.l_pid = 0;
  open = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
#else
  open = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
#endif
  ::close(fd);
  return open;
}

}  // namespace posix

}  // namespace qd::platform
