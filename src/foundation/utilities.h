// Shared helpers of the engine: trimming and padding of text, option words in
// command strings, numbers to and from the right-aligned text of DBF fields,
// and file services (existence, erasing, temporary names, free space, short
// names, flushing, directory search). Positions are 1-based, 0 meaning none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qd {

// ----------------------------------------------------------------- text ---

// Without leading and trailing characters whose code is 32 or less.
std::string AllTrim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);
// Blanks added on the right up to width; longer text is not cut.
std::string PadRight(const std::string& s, int width);
// Upper-cases word and command, removes every occurrence of word that is not
// followed by a letter, digit, backslash or underscore, trims the command.
// True when something was removed. Pass the word with its leading blank
// (" EXCLUSIVE") so that only whole words match.
bool ExtractOption(const std::string& word, std::string& command);
int CountChar(char c, const std::string& s);
// Position of sub in s at or after start, 0 if none.
int PosFrom(int start, const std::string& sub, const std::string& s);

inline std::string Iif(bool condition, const std::string& a, const std::string& b) {
  return condition ? a : b;
}
template <typename T>
T Iif(bool condition, T a, T b) {
  return condition ? a : b;
}

// -------------------------------------------------------------- numbers ---

// Decimal text right-aligned with blanks to width (longer text is not cut).
std::string IntToField(std::int32_t value, int width);
// Fixed-point text with `decimals` decimals right-aligned to width; the first
// '.' becomes DecimalChar. The digits are never cut; values that are not
// finite give width asterisks.
std::string FloatToField(int width, int decimals, double value);
// Normalises user-typed numeric text in place so that it reads with '.' as
// decimal point: no "$", no leading blanks or '+', no thousands separators,
// "0" before a leading decimal point, cut at the first blank.
void ParseNumberText(std::string& s);
// User text to a 16-bit integer, clamped to -32768..32767; 0 when unreadable.
std::int16_t TextToSmallInt(const std::string& s);
// Normalised text up to its decimal point as a 32-bit integer; 0 when empty
// or unreadable.
std::int32_t TextToBlockNumber(const std::string& s);

// ---------------------------------------------------------------- files ---

bool FileExists(const std::string& name);
// Opens the file exclusively (so nobody else uses it), closes and deletes it.
// 0 or the code of the failed step; reports nothing.
std::uint32_t EraseFile(const std::string& name);
// Erases one file, or every file matching a pattern with '*' or '?'. A
// pattern carries on past files that cannot be erased and reports code 5
// once at the end; a single file reports its own code.
void EraseFiles(const std::string& pattern);
// Full names of the files the last EraseFiles could not erase.
const std::vector<std::string>& UnerasedFiles();
// Creates a new empty file "QDP..." in the temporary directory and returns
// its path; empty (and reported) on failure.
std::string UniqueFilename();
// Forces the file's buffers to disk; failures are reported.
void FlushFile(platform::FileHandle file);
// Free space in KB of the drive holding path (current directory when empty);
// 2,147,483,647 when unknown or larger.
std::int32_t DiskFreeKB(const std::string& path);
// The same for drive n (1 = A:, 0 = current drive). Where the file system has
// no drive letters every number means the current directory's file system.
std::int32_t DiskFreeKBOnDrive(int drive);
// True when the file exists, opens for reading and was last written today.
bool FileDatedToday(const std::string& name);
// Each path component in its short (8.3) form; "C:" alone is unchanged.
std::string ShortPathName(const std::string& path);
// The name with ".<extension>" added when it has no extension.
std::string DefaultExtension(const std::string& name, const std::string& extension);
// Directory (with its trailing separator), file name without extension, and
// extension with its dot. Both '\' and '/' separate directories.
void SplitPath(const std::string& path, std::string& directory, std::string& name,
               std::string& extension);

// ------------------------------------------------------ directory search ---

// Attribute bits for FindFirst; normal and archive files are always found.
inline constexpr std::uint32_t kFaDirectory = 0x10;
inline constexpr std::uint32_t kFaArchive = 0x20;

struct SearchRec {
  std::string name;  // file name only
  std::uint64_t size = 0;
  bool is_directory = false;
  int year = 0, month = 0, day = 0;  // last-write date

  // Search state.
  std::vector<platform::DirEntry> entries;
  std::size_t next = 0;
  std::uint32_t attributes = 0;
};

// Result of the last FindFirst/FindNext: 0 when a file was found, 2 when
// nothing matched, 18 at the end of the list, 3 for a missing directory.
inline std::uint32_t LastFindResult = 0;

std::uint32_t FindFirst(const std::string& pattern, std::uint32_t attributes, SearchRec& rec);
std::uint32_t FindNext(SearchRec& rec);
void FindClose(SearchRec& rec);

}  // namespace qd
