// Shared text, number and file helpers. Every operating-system service is
// reached through the platform layer; failures are reported through SetError.
#include "foundation/utilities.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "foundation/errors.h"
#include "foundation/number_settings.h"

namespace qd {

namespace {

constexpr int kMaxText = 255;
constexpr std::int32_t kUnknownFreeKB = std::numeric_limits<std::int32_t>::max();
constexpr std::uint32_t kNoMoreFiles = 18;
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kHandleDiskFull = 39;
constexpr std::uint32_t kDiskFull = 112;
constexpr std::uint32_t kDiskWriteError = 101;

bool IsControlOrBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperCase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), UpperAscii);
  return s;
}

// Characters that continue a word: an option followed by one of these is part
// of a longer name (EXCLUSIVE_1.DBF) and not the option. Bytes above 127 are
// letters of the ANSI code page.
bool ContinuesWord(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '\\' ||
         c == '_' || u >= 0x80;
}

void EraseAll(std::string& s, char c) { s.erase(std::remove(s.begin(), s.end(), c), s.end()); }

std::string PadLeft(const std::string& s, int width) {
  width = std::min(width, kMaxText);
  if (width <= 0 || static_cast<int>(s.size()) >= width) return s;
  return std::string(static_cast<std::size_t>(width) - s.size(), ' ') + s;
}

// Reads an optional '-' followed by at least one digit and nothing else.
// False when the text is not of that form; the value saturates at the
// bounds of long long instead of overflowing.
bool ReadWholeNumber(const std::string& s, long long& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && s[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == s.size()) return false;
  long long magnitude = 0;
  constexpr long long kCap = std::numeric_limits<long long>::max() / 10 - 10;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return false;
    if (magnitude < kCap) magnitude = magnitude * 10 + (s[i] - '0');
  }
  value = negative ? -magnitude : magnitude;
  return true;
}

bool HasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

std::uint16_t AsErrorCode(std::uint32_t code) {
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(code, 0xFFFF));
}

std::vector<std::string> unerased_files;

}  // namespace

// ----------------------------------------------------------------- text ---

std::string TrimLeft(const std::string& s) {
  std::size_t first = 0;
  while (first < s.size() && IsControlOrBlank(s[first])) ++first;
  return s.substr(first);
}

std::string TrimRight(const std::string& s) {
  std::size_t end = s.size();
  while (end > 0 && IsControlOrBlank(s[end - 1])) --end;
  return s.substr(0, end);
}

std::string AllTrim(const std::string& s) { return TrimLeft(TrimRight(s)); }

std::string PadRight(const std::string& s, int width) {
  if (width < 1 || static_cast<int>(s.size()) >= width) return s;
  return s + std::string(static_cast<std::size_t>(width) - s.size(), ' ');
}

bool ExtractOption(const std::string& word, std::string& command) {
  const std::string option = UpperCase(word);
  command = UpperCase(command);
  bool removed = false;
  if (!option.empty()) {
    std::size_t pos = 0;
    while ((pos = command.find(option, pos)) != std::string::npos) {
      const std::size_t after = pos + option.size();
      if (after < command.size() && ContinuesWord(command[after])) {
        ++pos;
      } else {
        command.erase(pos, option.size());
        removed = true;
      }
    }
  }
  command = AllTrim(command);
  return removed;
}

int CountChar(char c, const std::string& s) {
  return static_cast<int>(std::count(s.begin(), s.end(), c));
}

int PosFrom(int start, const std::string& sub, const std::string& s) {
  if (start < 1) start = 1;
  if (sub.empty() || static_cast<std::size_t>(start) > s.size()) return 0;
  const std::size_t pos = s.find(sub, static_cast<std::size_t>(start) - 1);
  return pos == std::string::npos ? 0 : static_cast<int>(pos) + 1;
}

// -------------------------------------------------------------- numbers ---

std::string IntToField(std::int32_t value, int width) {
  return PadLeft(std::to_string(value), width);
}

std::string FloatToField(int width, int decimals, double value) {
  if (!std::isfinite(value)) return std::string(static_cast<std::size_t>(std::clamp(width, 1, kMaxText)), '*');
  decimals = std::clamp(decimals, 0, kMaxText);
  // Room for 309 integer digits, sign, point and the decimals.
  char buffer[320 + kMaxText];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  std::string text(buffer, result.ptr);
  // A negative value that rounds to zero is shown as zero, not "-0.00".
  if (!text.empty() && text[0] == '-' &&
      text.find_first_not_of("0.", 1) == std::string::npos) {
    text.erase(0, 1);
  }
  if (DecimalChar != '.') {
    const std::size_t point = text.find('.');
    if (point != std::string::npos) text[point] = DecimalChar;
  }
  return PadLeft(text, width);
}

void ParseNumberText(std::string& s) {
  EraseAll(s, '$');
  std::size_t lead = 0;
  while (lead < s.size() && (s[lead] == ' ' || s[lead] == '+')) ++lead;
  s.erase(0, lead);
  if (!s.empty() && s[0] == '-') {
    std::size_t after = 1;
    while (after < s.size() && (s[after] == ' ' || s[after] == '+' || s[after] == '-')) ++after;
    s.erase(1, after - 1);
    if (s.size() > 1 && s[1] == DecimalChar) s.insert(1, "0");
  }
  if (DecimalChar != '.') {
    EraseAll(s, '.');
    std::replace(s.begin(), s.end(), DecimalChar, '.');
  } else {
    EraseAll(s, ',');
  }
  if (!s.empty() && s[0] == '.') s.insert(0, "0");
  const std::size_t blank = s.find(' ');
  if (blank != std::string::npos) s.erase(blank);
}

std::int16_t TextToSmallInt(const std::string& s) {
  // Leading blanks are skipped so that right-aligned field text reads too.
  std::string text = TrimLeft(s);
  if (!text.empty() && text[0] == '+') text.erase(0, 1);
  EraseAll(text, ThousandsChar);
  const std::size_t dollar = text.find('$');
  if (dollar != std::string::npos) text.erase(dollar, 1);
  std::size_t end = 0;
  while (end < text.size() && (IsDigit(text[end]) || text[end] == '-')) ++end;
  text.erase(end);
  long long value = 0;
  if (!ReadWholeNumber(text, value)) return 0;
  return static_cast<std::int16_t>(std::clamp<long long>(value, -32768, 32767));
}

std::int32_t TextToBlockNumber(const std::string& s) {
  std::string text = s;
  ParseNumberText(text);
  // After normalisation the decimal point is always '.'.
  const std::size_t point = text.find('.');
  if (point != std::string::npos) text.erase(point);
  long long value = 0;
  if (!ReadWholeNumber(text, value)) return 0;
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return static_cast<std::int32_t>(value);
}

// ---------------------------------------------------------------- files ---

bool FileExists(const std::string& name) { return platform::FileExists(name); }

std::uint32_t EraseFile(const std::string& name) {
  platform::FileHandle file = platform::kNoFile;
  std::uint32_t code =
      platform::OpenFile(name, platform::kAccessRead | platform::kShareDenyAll, file);
  if (code != 0) return code;
  code = platform::CloseFile(file);
  if (code != 0) return code;
  return platform::EraseFile(name);
}

void EraseFiles(const std::string& pattern) {
  unerased_files.clear();
  if (!HasWildcards(pattern)) {
    const std::uint32_t code = EraseFile(pattern);
    if (code != 0) SetError(AsErrorCode(code), "Error erasing " + pattern);
    return;
  }
  const std::string full = platform::FullPathName(pattern);
  std::string directory, name, extension;
  SplitPath(full, directory, name, extension);
  int failed = 0;
  SearchRec rec;
  FindFirst(full, kFaArchive, rec);
  while (LastFindResult == 0) {
    const std::string path = directory + rec.name;
    if (EraseFile(path) != 0) {
      ++failed;
      unerased_files.push_back(path);
    }
    FindNext(rec);
  }
  FindClose(rec);
  if (failed != 0) {
    SetError(5, "Could not erase " + std::to_string(failed) + " files like " + pattern);
  }
}

const std::vector<std::string>& UnerasedFiles() { return unerased_files; }

std::string UniqueFilename() {
  std::string directory;
  std::string path;
  std::uint32_t code = platform::TempDirectory(directory);
  if (code == 0) code = platform::UniqueTempFile(directory, "QDP", path);
  if (code != 0 || path.empty()) {
    if (code == 0) code = platform::LastError();
    SetError(AsErrorCode(code), "Error requesting unique file name [UniqueFilename]");
    return std::string();
  }
  return path;
}

void FlushFile(platform::FileHandle file) {
  std::uint32_t code = platform::FlushFile(file);
  // Data that could not reach a full disk reads as the write error users know.
  if (code == kHandleDiskFull || code == kDiskFull) code = kDiskWriteError;
  if (code != 0) SetError(AsErrorCode(code), "Unable to flush file [FlushFile]");
}

std::int32_t DiskFreeKB(const std::string& path) {
  std::string where = path.empty() ? std::string(".") : path;
  if (where.back() != '\\' && where.back() != '/') where += '\\';
  std::uint64_t bytes = 0;
  if (platform::DiskFreeBytes(where, bytes) != 0) return kUnknownFreeKB;
  const std::uint64_t kb = bytes / 1024;
  return kb > static_cast<std::uint64_t>(kUnknownFreeKB) ? kUnknownFreeKB
                                                        : static_cast<std::int32_t>(kb);
}

std::int32_t DiskFreeKBOnDrive(int drive) {
#ifdef _WIN32
  if (drive < 0 || drive > 26) return kUnknownFreeKB;
  if (drive == 0) return DiskFreeKB(std::string());
  return DiskFreeKB(std::string(1, static_cast<char>('A' + drive - 1)) + ":\\");
#else
  (void)drive;
  return DiskFreeKB(std::string());
#endif
}

bool FileDatedToday(const std::string& name) {
  if (!platform::FileExists(name)) return false;
  platform::FileHandle file = platform::kNoFile;
  if (platform::OpenFile(name, platform::kAccessRead | platform::kShareDenyNone, file) != 0) {
    return false;
  }
  platform::CloseFile(file);
  int year = 0, month = 0, day = 0;
  if (platform::FileDate(name, year, month, day) != 0) return false;
  int today_year = 0, today_month = 0, today_day = 0;
  platform::LocalDate(today_year, today_month, today_day);
  return year == today_year && month == today_month && day == today_day;
}

std::string ShortPathName(const std::string& path) {
  if (path.size() == 2 && path[1] == ':') return path;
  return platform::ShortPathName(path);
}

std::string DefaultExtension(const std::string& name, const std::string& extension) {
  std::string directory, base, ext;
  SplitPath(name, directory, base, ext);
  if (!ext.empty()) return name;
  const std::size_t end = base.find_last_not_of(' ');
  base.erase(end == std::string::npos ? 0 : end + 1);
  return directory + base + "." + extension;
}

void SplitPath(const std::string& path, std::string& directory, std::string& name,
               std::string& extension) {
  const std::size_t separator = path.find_last_of("\\/:");
  const std::size_t start = separator == std::string::npos ? 0 : separator + 1;
  directory = path.substr(0, start);
  const std::string file = path.substr(start);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string::npos) {
    name = file;
    extension.clear();
  } else {
    name = file.substr(0, dot);
    extension = file.substr(dot);
  }
}

// ------------------------------------------------------ directory search ---

namespace {

// Moves to the next entry the attributes admit; fills rec from it.
std::uint32_t Advance(SearchRec& rec, std::uint32_t none_left) {
  while (rec.next < rec.entries.size()) {
    const platform::DirEntry& entry = rec.entries[rec.next++];
    if (entry.is_directory &&
        ((rec.attributes & kFaDirectory) == 0 || entry.name == "." || entry.name == "..")) {
      continue;
    }
    rec.name = entry.name;
    rec.size = entry.size;
    rec.is_directory = entry.is_directory;
    rec.year = entry.year;
    rec.month = entry.month;
    rec.day = entry.day;
    return LastFindResult = 0;
  }
  return LastFindResult = none_left;
}

}  // namespace

std::uint32_t FindFirst(const std::string& pattern, std::uint32_t attributes, SearchRec& rec) {
  rec = SearchRec();
  rec.attributes = attributes;
  const std::uint32_t code = platform::FindFiles(pattern, rec.entries);
  if (code != 0) return LastFindResult = code;
  return Advance(rec, kFileNotFound);
}

std::uint32_t FindNext(SearchRec& rec) { return Advance(rec, kNoMoreFiles); }

void FindClose(SearchRec& rec) {
  rec.entries.clear();
  rec.entries.shrink_to_fit();
  rec.next = 0;
}

}  // namespace qd
