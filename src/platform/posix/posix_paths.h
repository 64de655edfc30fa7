// Path handling shared by the POSIX file services: both separators, and
// case-insensitive resolution of each component to an existing entry so that
// names the engine upper-cases find files stored in any case.
#pragma once

#include <cstdint>
#include <string>

namespace qd::platform::posix {

// The path with every '\' turned into '/'.
std::string NativeSeparators(const std::string& path);

// Resolves every component of an existing path. An exact match wins; else the
// single entry whose name differs only by case. No match, or several that
// differ only by case, count as missing. Codes: 0, 2 (the last component is
// missing), 3 (a directory on the way is missing), or a mapped errno.
std::uint32_t ResolveExisting(const std::string& path, std::string& out);

// Resolves a path for creating or replacing a file: the directories must
// exist (else 3); the last component resolves to an existing entry as above,
// or stays as given when there is none. Several entries differing only by
// case give 5, since picking one could overwrite the wrong file.
std::uint32_t ResolveForCreate(const std::string& path, std::string& out);

// A path component as Windows reads it: trailing blanks and dots dropped
// ("MOVIE." names the file MOVIE), "." and ".." kept.
std::string WindowsComponent(const std::string& component);

// Case-insensitive match of a name against a pattern with '*' and '?'.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// True while any handle of this layer, in this or another process, has the
// file open (Windows refuses to erase or rename such a file).
bool FileIsOpen(const std::string& native);

// Records a failure code for LastError() and returns it (0 passes through).
std::uint32_t Fail(std::uint32_t code);
// Fail(WindowsCodeFromErrno(errno)).
std::uint32_t FailErrno();

}  // namespace qd::platform::posix
