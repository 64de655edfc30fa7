// Win32 file services of the platform layer: opening with share modes,
// positioned reads and writes, sizes, byte-range locks, whole-file services,
// directory search, temporary files and free disk space.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_internal.h"

namespace qd::platform {

using win32::Fail;
using win32::FailWithLastError;
using win32::QuietErrors;
using win32::ToHandle;

namespace {

// Largest transfer handed to one ReadFile/WriteFile call.
constexpr std::size_t kMaxChunk = 1u << 30;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string NativeSeparators(const std::string& path) {
  std::string out = path;
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

DWORD DesiredAccess(std::uint8_t mode) {
  switch (mode & kAccessMask) {
    case kAccessRead:
      return GENERIC_READ;
    case kAccessWrite:
      return GENERIC_WRITE;
    default:
      return GENERIC_READ | GENERIC_WRITE;
  }
}

// Sharing granted to other handles. Compatibility mode, like deny-all, lets
// no other handle in, so that an exclusive open cannot slip past it.
DWORD ShareMode(std::uint8_t mode) {
  switch (mode & kShareMask) {
    case kShareDenyWrite:
      return FILE_SHARE_READ;
    case kShareDenyRead:
      return FILE_SHARE_WRITE;
    case kShareDenyNone:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:  // compatibility, deny all, and the undefined values above 0x40
      return 0;
  }
}

std::uint32_t Open(const std::string& path, std::uint8_t mode, DWORD disposition,
                   FileHandle& out) {
  out = kNoFile;
  if ((mode & kAccessMask) == kAccessMask) return Fail(12);  // invalid access code
  DWORD access = DesiredAccess(mode);
  // Replacing a file's contents needs write access; a file created
  // "read-only" is still created empty.
  if (disposition == CREATE_ALWAYS) access |= GENERIC_WRITE;
  QuietErrors quiet;
  HANDLE handle = CreateFileA(NativeSeparators(path).c_str(), access, ShareMode(mode), nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FailWithLastError();
  out = reinterpret_cast<FileHandle>(handle);
  return 0;
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

void SplitOffset(std::uint64_t value, DWORD& low, DWORD& high) {
  low = static_cast<DWORD>(value & 0xFFFFFFFFu);
  high = static_cast<DWORD>(value >> 32);
}

// Match of '*' and '?' wildcards against a whole name, byte for byte.
bool WildcardMatch(const char* name, const char* pattern) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern != '\0' && (*pattern == '?' || *pattern == *name)) {
      ++name;
      ++pattern;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

std::string Upper(std::string text) {
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// FindFirstFileA also matches a pattern against generated 8.3 names, so
// "*.DBF" would list "MOVIE.DBF_OLD" through "MOVIE~1.DBF". Only the stored
// long names count, case-insensitively; as in DOS, "NAME.*" also matches a
// name without a dot.
bool NameMatches(const std::string& name, const std::string& pattern) {
  const std::string upper_name = Upper(name);
  const std::string upper_pattern = Upper(pattern);
  if (WildcardMatch(upper_name.c_str(), upper_pattern.c_str())) return true;
  const std::size_t size = upper_pattern.size();
  if (size >= 2 && upper_pattern.compare(size - 2, 2, ".*") == 0 &&
      upper_name.find('.') == std::string::npos) {
    return WildcardMatch(upper_name.c_str(), upper_pattern.substr(0, size - 2).c_str());
  }
  return false;
}

void LocalDateOf(const FILETIME& stamp, int& year, int& month, int& day) {
  FILETIME local{};
  SYSTEMTIME parts{};
  if (FileTimeToLocalFileTime(&stamp, &local) && FileTimeToSystemTime(&local, &parts)) {
    year = parts.wYear;
    month = parts.wMonth;
    day = parts.wDay;
  } else {
    year = month = day = 0;
  }
}

// Length of the root of a native path: "C:\", "C:", "\\server\share\", "\"
// or nothing for a relative path.
std::size_t RootLength(const std::string& path) {
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    std::size_t at = path.find('\\', 2);
    if (at == std::string::npos) return path.size();
    at = path.find('\\', at + 1);
    return at == std::string::npos ? path.size() : at + 1;
  }
  if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && path[2] == '\\' ? 3 : 2;
  if (!path.empty() && path[0] == '\\') return 1;
  return 0;
}

std::string DirectoryOf(const std::string& native) {
  const std::size_t slash = native.find_last_of('\\');
  const std::size_t root = RootLength(native);
  if (slash == std::string::npos || slash + 1 < root) return native.substr(0, root);
  return native.substr(0, std::max(slash + 1, root));
}

}  // namespace

// ---------------------------------------------------------------- files ----

std::uint32_t OpenFile(const std::string& path, std::uint8_t mode, FileHandle& out) {
  return Open(path, mode, OPEN_EXISTING, out);
}

std::uint32_t CreateNewFile(const std::string& path, std::uint8_t mode, FileHandle& out) {
  return Open(path, mode, CREATE_ALWAYS, out);
}

std::uint32_t CloseFile(FileHandle file) {
  if (file == kNoFile) return Fail(6);
  if (!CloseHandle(ToHandle(file))) return FailWithLastError();
  return 0;
}

std::uint32_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t count,
                     std::size_t& done) {
  done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (done < count) {
    const DWORD chunk = static_cast<DWORD>(std::min(count - done, kMaxChunk));
    OVERLAPPED position = At(offset + done);
    DWORD moved = 0;
    if (!ReadFile(ToHandle(file), bytes + done, chunk, &moved, &position)) {
      const DWORD code = GetLastError();
      if (code == ERROR_HANDLE_EOF) break;  // positioned read at or past the end
      return Fail(code != 0 ? code : 5);
    }
    done += moved;
    if (moved < chunk) break;  // end of file
  }
  return 0;
}

std::uint32_t WriteAt(FileHandle file, std::uint64_t offset, const void* buffer,
                      std::size_t count, std::size_t& done) {
  done = 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (done < count) {
    const DWORD chunk = static_cast<DWORD>(std::min(count - done, kMaxChunk));
    OVERLAPPED position = At(offset + done);
    DWORD moved = 0;
    if (!WriteFile(ToHandle(file), bytes + done, chunk, &moved, &position)) {
      return FailWithLastError();
    }
    done += moved;
    if (moved < chunk) return Fail(ERROR_DISK_FULL);  // the volume took no more
  }
  return 0;
}

std::uint32_t FileSize(FileHandle file, std::uint64_t& size) {
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(ToHandle(file), &length)) {
    size = 0;
    return FailWithLastError();
  }
  size = static_cast<std::uint64_t>(length.QuadPart);
  return 0;
}

std::uint32_t ReserveSpace(FileHandle file, std::uint64_t offset, std::uint64_t count) {
  const auto most = static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max());
  if (offset > most || count > most - offset) return Fail(87);
  // The allocation size only ever grows here: below the end of the file it
  // would cut the file.
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(ToHandle(file), &size)) return FailWithLastError();
  if (offset + count <= static_cast<std::uint64_t>(size.QuadPart)) return 0;
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(offset + count);
  if (!SetFileInformationByHandle(ToHandle(file), FileAllocationInfo, &allocation,
                                  sizeof allocation)) {
    const DWORD code = GetLastError();
    if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) return Fail(112);
    return Fail(50);
  }
  return 0;
}

std::uint32_t Truncate(FileHandle file, std::uint64_t size) {
  if (size > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) return Fail(87);
  LARGE_INTEGER target{};
  target.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(ToHandle(file), target, nullptr, FILE_BEGIN)) return FailWithLastError();
  if (!SetEndOfFile(ToHandle(file))) {
    const DWORD code = GetLastError();
    // Wine reports a handle without write access as an invalid parameter;
    // Windows, and this layer, call it access denied.
    return Fail(code == ERROR_INVALID_PARAMETER || code == 0 ? ERROR_ACCESS_DENIED : code);
  }
  return 0;
}

std::uint32_t FlushFile(FileHandle file) {
  if (!FlushFileBuffers(ToHandle(file))) return FailWithLastError();
  return 0;
}

std::uint32_t LockRange(FileHandle file, std::uint64_t offset, std::uint64_t length) {
  DWORD offset_low, offset_high, length_low, length_high;
  SplitOffset(offset, offset_low, offset_high);
  SplitOffset(length, length_low, length_high);
  if (!LockFile(ToHandle(file), offset_low, offset_high, length_low, length_high)) {
    return FailWithLastError();
  }
  return 0;
}

std::uint32_t UnlockRange(FileHandle file, std::uint64_t offset, std::uint64_t length) {
  DWORD offset_low, offset_high, length_low, length_high;
  SplitOffset(offset, offset_low, offset_high);
  SplitOffset(length, length_low, length_high);
  if (!UnlockFile(ToHandle(file), offset_low, offset_high, length_low, length_high)) {
    const DWORD code = GetLastError();
    // Windows answers 158 (not locked) for a range this handle does not hold;
    // Wine answers 33 when another handle holds it. Both mean the same here.
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_NOT_LOCKED) return Fail(ERROR_NOT_LOCKED);
    return Fail(code != 0 ? code : ERROR_NOT_LOCKED);
  }
  return 0;
}

// ---------------------------------------------------- whole-file services ---

bool FileExists(const std::string& path) {
  QuietErrors quiet;
  const DWORD attributes = GetFileAttributesA(NativeSeparators(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  QuietErrors quiet;
  const DWORD attributes = GetFileAttributesA(NativeSeparators(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::uint32_t EraseFile(const std::string& path) {
  QuietErrors quiet;
  if (!DeleteFileA(NativeSeparators(path).c_str())) return FailWithLastError();
  return 0;
}

std::uint32_t RenameFile(const std::string& from, const std::string& to) {
  const std::string source = NativeSeparators(from);
  const std::string target = NativeSeparators(to);
  QuietErrors quiet;
  const std::string full_source = FullPathName(source);
  const std::string full_target = FullPathName(target);
  if (full_source != full_target && lstrcmpiA(full_source.c_str(), full_target.c_str()) == 0) {
    // A change of case only. Some file systems (and Wine) take the target
    // for the existing source and keep the old spelling, so the file moves
    // through a temporary name in the same directory.
    char temporary[MAX_PATH + 1] = {};
    if (GetTempFileNameA(DirectoryOf(full_source).c_str(), "QDR", 0, temporary) == 0) {
      return FailWithLastError();
    }
    DeleteFileA(temporary);  // only the unique name is wanted
    if (!MoveFileA(source.c_str(), temporary)) return FailWithLastError();
    if (!MoveFileA(temporary, target.c_str())) {
      const std::uint32_t code = FailWithLastError();
      MoveFileA(temporary, source.c_str());
      return code;
    }
    return 0;
  }
  if (!MoveFileA(source.c_str(), target.c_str())) return FailWithLastError();
  return 0;
}

std::string ResolvePath(const std::string& path) {
  const std::string native = NativeSeparators(path);
  const std::size_t root = RootLength(native);
  std::string resolved = native.substr(0, root);
  QuietErrors quiet;
  if (GetFileAttributesA(native.c_str()) == INVALID_FILE_ATTRIBUTES) return path;
  std::size_t at = root;
  while (at < native.size()) {
    std::size_t end = native.find('\\', at);
    if (end == std::string::npos) end = native.size();
    if (end == at) {  // a doubled separator
      ++at;
      continue;
    }
    std::string component = native.substr(at, end - at);
    const bool plain = !component.empty() && component != "." && component != ".." &&
                       component.find_first_of("*?") == std::string::npos;
    if (plain) {
      WIN32_FIND_DATAA data{};
      HANDLE search = FindFirstFileA((resolved + component).c_str(), &data);
      if (search != INVALID_HANDLE_VALUE) {
        component = data.cFileName;  // the name in the case it is stored
        FindClose(search);
      }
    }
    resolved += component;
    if (end < native.size()) resolved += '\\';
    at = end + 1;
  }
  return resolved;
}

std::string FullPathName(const std::string& path) {
  const std::string native = NativeSeparators(path);
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD length = GetFullPathNameA(native.c_str(), static_cast<DWORD>(buffer.size()),
                                          buffer.data(), nullptr);
    if (length == 0) return native;
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

std::string ShortPathName(const std::string& path) {
  const std::string native = NativeSeparators(path);
  std::vector<char> buffer(MAX_PATH + 1);
  QuietErrors quiet;
  for (;;) {
    const DWORD length =
        GetShortPathNameA(native.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return path;  // no such file, or no short names here
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

std::uint32_t FindFiles(const std::string& pattern, std::vector<DirEntry>& out) {
  out.clear();
  const std::string native = NativeSeparators(pattern);
  const std::size_t slash = native.find_last_of('\\');
  const std::size_t name_at =
      std::max(slash == std::string::npos ? 0 : slash + 1, RootLength(native));
  const std::string name_pattern = native.substr(name_at);
  if (name_pattern.empty()) {  // a directory alone names no entries
    const std::string directory = native.substr(0, name_at);
    return directory.empty() || DirectoryExists(directory) ? 0 : Fail(ERROR_PATH_NOT_FOUND);
  }

  QuietErrors quiet;
  WIN32_FIND_DATAA data{};
  HANDLE search = FindFirstFileA(native.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES) return 0;
    return Fail(code != 0 ? code : ERROR_PATH_NOT_FOUND);
  }
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (!NameMatches(name, name_pattern)) continue;
    DirEntry entry;
    entry.name = name;
    entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entry.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    LocalDateOf(data.ftLastWriteTime, entry.year, entry.month, entry.day);
    out.push_back(std::move(entry));
  } while (FindNextFileA(search, &data));
  const DWORD code = GetLastError();
  FindClose(search);
  if (code != ERROR_NO_MORE_FILES) return Fail(code);
  // The same order on every file system.
  std::sort(out.begin(), out.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return 0;
}

std::uint32_t FileDate(const std::string& path, int& year, int& month, int& day) {
  year = month = day = 0;
  QuietErrors quiet;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(NativeSeparators(path).c_str(), GetFileExInfoStandard, &data)) {
    return FailWithLastError();
  }
  LocalDateOf(data.ftLastWriteTime, year, month, day);
  return 0;
}

std::uint32_t TempDirectory(std::string& out) {
  char buffer[MAX_PATH + 2] = {};
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) {
    out.clear();
    return length == 0 ? FailWithLastError() : Fail(ERROR_BUFFER_OVERFLOW);
  }
  out.assign(buffer, length);
  if (!IsSeparator(out.back())) out += '\\';
  return 0;
}

std::uint32_t UniqueTempFile(const std::string& directory, const std::string& prefix,
                             std::string& out) {
  out.clear();
  char buffer[MAX_PATH + 1] = {};
  const std::string where = directory.empty() ? std::string(".") : NativeSeparators(directory);
  if (!DirectoryExists(where)) return Fail(ERROR_PATH_NOT_FOUND);
  QuietErrors quiet;
  if (GetTempFileNameA(where.c_str(), prefix.substr(0, 3).c_str(), 0,
                       buffer) == 0) {
    return FailWithLastError();
  }
  out = buffer;
  return 0;
}

std::uint32_t DiskFreeBytes(const std::string& path, std::uint64_t& bytes) {
  bytes = 0;
  std::string where = FullPathName(path.empty() ? std::string(".") : path);
  if (!DirectoryExists(where)) {
    if (!FileExists(where)) return Fail(ERROR_PATH_NOT_FOUND);
    where = DirectoryOf(where);
  }
  if (!where.empty() && where.back() != '\\') where += '\\';
  QuietErrors quiet;
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(where.empty() ? nullptr : where.c_str(), &available, nullptr,
                           nullptr)) {
    return FailWithLastError();
  }
  bytes = available.QuadPart;
  return 0;
}

}  // namespace qd::platform
