// Whole-file and directory services on POSIX: existence, erase, rename,
// path forms, directory search, file dates, temporary files and free space.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/posix_paths.h"

namespace qd::platform {

using posix::Fail;
using posix::FailErrno;

namespace {

void LocalDateOf(std::time_t when, int& year, int& month, int& day) {
  std::tm parts{};
  ::localtime_r(&when, &parts);
  year = parts.tm_year + 1900;
  month = parts.tm_mon + 1;
  day = parts.tm_mday;
}

// 32 while any handle has the file open: the engine never opens with
// delete sharing, so Windows refuses to erase or rename such a file.
std::uint32_t CheckNotOpen(const std::string& native) { return posix::FileIsOpen(native) ? 32 : 0; }

}  // namespace

bool FileExists(const std::string& path) {
  std::string native;
  if (std::uint32_t code = posix::ResolveExisting(path, native); code != 0) {
    Fail(code);
    return false;
  }
  struct stat info;
  if (::stat(native.c_str(), &info) != 0) {
    FailErrno();
    return false;
  }
  return !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
  std::string native;
  if (std::uint32_t code = posix::ResolveExisting(path, native); code != 0) {
    Fail(code == 2 ? 3 : code);
    return false;
  }
  struct stat info;
  if (::stat(native.c_str(), &info) != 0) {
    FailErrno();
    return false;
  }
  return S_ISDIR(info.st_mode);
}

std::uint32_t EraseFile(const std::string& path) {
  std::string native;
  if (std::uint32_t code = posix::ResolveExisting(path, native); code != 0) return Fail(code);
  struct stat info;
  if (::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return Fail(5);
  if (std::uint32_t code = CheckNotOpen(native); code != 0) return Fail(code);
  if (::unlink(native.c_str()) != 0) return FailErrno();
  return 0;
}

std::uint32_t RenameFile(const std::string& from, const std::string& to) {
  std::string source, target;
  if (std::uint32_t code = posix::ResolveExisting(from, source); code != 0) return Fail(code);
  if (std::uint32_t code = posix::ResolveForCreate(to, target); code != 0) return Fail(code);
  struct stat source_info, target_info;
  if (::stat(source.c_str(), &source_info) != 0) return FailErrno();
  const bool target_exists = ::lstat(target.c_str(), &target_info) == 0;
  // A rename that only changes the case of the name is allowed; any other
  // existing target is refused as on Windows (183, already exists).
  const bool same_file = target_exists && source_info.st_dev == target_info.st_dev &&
                         source_info.st_ino == target_info.st_ino;
  if (target_exists && !same_file) return Fail(183);
  if (std::uint32_t code = CheckNotOpen(source); code != 0) return Fail(code);
  if (same_file) {
    // The target resolved to the source itself; rename to the name as given.
    std::string as_given = posix::NativeSeparators(to);
    const std::size_t slash_in_target = target.rfind('/');
    const std::size_t slash_given = as_given.rfind('/');
    const std::string directory =
        slash_in_target == std::string::npos ? "" : target.substr(0, slash_in_target + 1);
    const std::string name = posix::WindowsComponent(
        slash_given == std::string::npos ? as_given : as_given.substr(slash_given + 1));
    target = directory + name;
    if (::rename(source.c_str(), target.c_str()) != 0) return FailErrno();
    return 0;
  }
  // Refuse to replace a target that appeared meanwhile.
  if (::link(source.c_str(), target.c_str()) == 0) {
    if (::unlink(source.c_str()) != 0) {
      const std::uint32_t code = posix::WindowsCodeFromErrno(errno);
      ::unlink(target.c_str());
      return Fail(code);
    }
    return 0;
  }
  if (errno == EEXIST) return Fail(183);
  // File systems without hard links: plain rename.
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return FailErrno();
  if (::rename(source.c_str(), target.c_str()) != 0) return FailErrno();
  return 0;
}

std::string ResolvePath(const std::string& path) {
  std::string native;
  if (posix::ResolveExisting(path, native) != 0) return path;
  return native;
}

std::string FullPathName(const std::string& path) {
  std::string native = posix::NativeSeparators(path);
  if (native.empty() || native[0] != '/') {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
      // Without a current directory (it was removed) the path stays relative:
      // made absolute from an empty prefix it would name a file under "/".
      if (errno != ERANGE) return native;
      buffer.resize(buffer.size() * 2);
    }
    native = std::string(buffer.data()) + "/" + native;
  }
  // Remove "." and ".." and doubled separators, as Windows does, without
  // consulting the file system.
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(posix::WindowsComponent(part));
    }
    part.clear();
  };
  for (char c : native) {
    if (c == '/') {
      flush();
    } else {
      part += c;
    }
  }
  flush();
  std::string result;
  for (const std::string& p : parts) result += "/" + p;
  return result.empty() ? "/" : result;
}

std::string ShortPathName(const std::string& path) { return path; }

std::uint32_t FindFiles(const std::string& pattern, std::vector<DirEntry>& out) {
  out.clear();
  const std::string native = posix::NativeSeparators(pattern);
  const std::size_t slash = native.rfind('/');
  const std::string directory_part =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
  const std::string name_pattern = slash == std::string::npos ? native : native.substr(slash + 1);
  std::string directory;
  if (std::uint32_t code = posix::ResolveExisting(directory_part, directory); code != 0) {
    return Fail(3);
  }
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return (errno == ENOENT || errno == ENOTDIR) ? Fail(3) : FailErrno();
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!posix::WildcardMatch(name_pattern, name)) continue;
    struct stat info;
    const std::string full = directory == "/" ? "/" + name : directory + "/" + name;
    if (::stat(full.c_str(), &info) != 0) continue;  // vanished or dangling link
    DirEntry found;
    found.name = name;
    found.size = static_cast<std::uint64_t>(info.st_size);
    found.is_directory = S_ISDIR(info.st_mode);
    LocalDateOf(info.st_mtime, found.year, found.month, found.day);
    out.push_back(std::move(found));
  }
  ::closedir(dir);
  // A stable order (directory order differs between file systems).
  std::sort(out.begin(), out.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return 0;
}

std::uint32_t FileDate(const std::string& path, int& year, int& month, int& day) {
  year = month = day = 0;
  std::string native;
  if (std::uint32_t code = posix::ResolveExisting(path, native); code != 0) return Fail(code);
  struct stat info;
  if (::stat(native.c_str(), &info) != 0) return FailErrno();
  LocalDateOf(info.st_mtime, year, month, day);
  return 0;
}

std::uint32_t TempDirectory(std::string& out) {
  const char* tmpdir = std::getenv("TMPDIR");
  out = (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
  if (out.back() != '/') out += '/';
  return 0;
}

std::uint32_t UniqueTempFile(const std::string& directory, const std::string& prefix,
                             std::string& out) {
  out.clear();
  std::string resolved;
  if (posix::ResolveExisting(directory.empty() ? "." : directory, resolved) != 0) return Fail(3);
  struct stat info;
  if (::stat(resolved.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return Fail(3);
  if (resolved.back() != '/') resolved += '/';
  static std::atomic<std::uint32_t> counter{0};
  const std::uint32_t start = static_cast<std::uint32_t>(::getpid()) * 2654435761u +
                              static_cast<std::uint32_t>(std::time(nullptr)) +
                              counter.fetch_add(7919);
  const std::string head = prefix.substr(0, 3);
  for (std::uint32_t attempt = 0; attempt < 0x10000; ++attempt) {
    const std::uint32_t number = (start + attempt) & 0xFFFF;
    if (number == 0) continue;
    char name[16];
    std::snprintf(name, sizeof name, "%04X.TMP", number);
    const std::string candidate = resolved + head + name;
    const int fd = ::open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      out = candidate;
      return 0;
    }
    if (errno != EEXIST) return FailErrno();
  }
  return Fail(80);
}

std::uint32_t DiskFreeBytes(const std::string& path, std::uint64_t& bytes) {
  bytes = 0;
  std::string native;
  if (std::uint32_t code = posix::ResolveExisting(path.empty() ? "." : path, native); code != 0) {
    return Fail(code == 2 ? 3 : code);
  }
  struct statvfs info;
  if (::statvfs(native.c_str(), &info) != 0) return FailErrno();
  bytes = static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
  return 0;
}

}  // namespace qd::platform
