// Separator handling, case-insensitive path resolution, wildcard matching and
// the thread's last failure code for the POSIX platform layer.
#include "platform/posix/posix_paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"

namespace qd::platform {

namespace {
thread_local std::uint32_t last_error = 0;
}

std::uint32_t LastError() { return last_error; }

namespace posix {

std::uint32_t Fail(std::uint32_t code) {
  if (code != 0) last_error = code;
  return code;
}

std::uint32_t FailErrno() { return Fail(WindowsCodeFromErrno(errno)); }

std::string NativeSeparators(const std::string& path) {
  std::string result = path;
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

namespace {

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == '\0' || FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return b[i] == '\0';
}

std::string Join(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

std::vector<std::string> SplitComponents(const std::string& native) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : native) {
    if (c == '/') {
      if (!part.empty()) parts.push_back(WindowsComponent(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(WindowsComponent(part));
  return parts;
}

enum class Match { kFound, kMissing, kAmbiguous, kError };

// Finds `name` in `directory` ("" is the current directory): the exact entry
// first, else the only entry equal to it ignoring case.
Match FindEntry(const std::string& directory, const std::string& name, std::string& found,
                int& error_number) {
  const std::string exact = Join(directory, name);
  struct stat info;
  if (::lstat(exact.c_str(), &info) == 0) {
    found = name;
    return Match::kFound;
  }
  if (errno != ENOENT) {
    error_number = errno;
    return Match::kError;
  }
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) {
    error_number = errno;
    return Match::kError;
  }
  int matches = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (SameIgnoringCase(name, entry->d_name)) {
      if (++matches == 1) found = entry->d_name;
    }
  }
  ::closedir(dir);
  if (matches == 1) return Match::kFound;
  return matches == 0 ? Match::kMissing : Match::kAmbiguous;
}

// Resolves the first `count` components of `parts` onto `prefix`.
std::uint32_t ResolveDirectories(const std::vector<std::string>& parts, std::size_t count,
                                 std::string& current) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& part = parts[i];
    if (part == "." || part == "..") {
      current = Join(current, part);
      continue;
    }
    std::string found;
    int error_number = 0;
    switch (FindEntry(current, part, found, error_number)) {
      case Match::kFound:
        current = Join(current, found);
        break;
      case Match::kMissing:
      case Match::kAmbiguous:
        return 3;
      case Match::kError:
        return error_number == ENOENT ? 3 : WindowsCodeFromErrno(error_number);
    }
  }
  return 0;
}

}  // namespace

std::uint32_t ResolveExisting(const std::string& path, std::string& out) {
  const std::string native = NativeSeparators(path);
  if (native.empty()) return 2;
  const std::vector<std::string> parts = SplitComponents(native);
  std::string current = native[0] == '/' ? "/" : "";
  if (parts.empty()) {
    out = current;
    return 0;
  }
  if (std::uint32_t code = ResolveDirectories(parts, parts.size() - 1, current); code != 0) {
    return code;
  }
  const std::string& last = parts.back();
  if (last == "." || last == "..") {
    out = Join(current, last);
    return 0;
  }
  std::string found;
  int error_number = 0;
  switch (FindEntry(current, last, found, error_number)) {
    case Match::kFound:
      out = Join(current, found);
      return 0;
    case Match::kMissing:
    case Match::kAmbiguous:
      return 2;
    case Match::kError:
      break;
  }
  // A file used as a directory, or an unreadable directory.
  return error_number == ENOENT ? 3 : WindowsCodeFromErrno(error_number);
}

std::uint32_t ResolveForCreate(const std::string& path, std::string& out) {
  const std::string native = NativeSeparators(path);
  const std::vector<std::string> parts = SplitComponents(native);
  if (parts.empty() || native.back() == '/') return 3;
  std::string current = native[0] == '/' ? "/" : "";
  if (std::uint32_t code = ResolveDirectories(parts, parts.size() - 1, current); code != 0) {
    return code;
  }
  const std::string& last = parts.back();
  std::string found;
  int error_number = 0;
  switch (FindEntry(current, last, found, error_number)) {
    case Match::kFound:
      out = Join(current, found);
      return 0;
    case Match::kMissing:
      out = Join(current, last);
      return 0;
    case Match::kAmbiguous:
      return 5;
    case Match::kError:
      break;
  }
  return error_number == ENOENT ? 3 : WindowsCodeFromErrno(error_number);
}

std::string WindowsComponent(const std::string& component) {
  if (component == "." || component == "..") return component;
  std::size_t end = component.size();
  while (end > 0 && (component[end - 1] == ' ' || component[end - 1] == '.')) --end;
  return end == 0 ? component : component.substr(0, end);
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  // "*.*" means every name, with or without an extension.
  if (pattern == "*.*") return true;
  std::size_t p = 0, n = 0;
  std::size_t star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace posix
}  // namespace qd::platform
