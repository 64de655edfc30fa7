// Text as qdbf prints and reads it: table bytes in their code page to UTF-8
// and back, the code page a table's language driver byte names, and the
// quoting of CSV and JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qd::qdbf {

// Whether qdbf has the characters of a single-byte code page.
bool KnownCodePage(int page);
// The code page a language driver byte names; 0 for none or unknown.
int CodePageOfDriver(std::uint8_t driver);
// Windows (ANSI) pages; the rest are OEM pages.
bool IsAnsiPage(int page);
// The page qdbf reads a table's text in: the driver's page, else OEM 437.
int TableCodePage(std::uint8_t driver);

// Table bytes to UTF-8 (control characters kept as they are).
std::string ToUtf8(std::string_view bytes, int page);
// UTF-8 to table bytes; characters the page lacks become '?', and
// `unmapped` (when given) counts them.
std::string FromUtf8(std::string_view text, int page, int* unmapped = nullptr);

// RFC 4180: quoted when it holds a comma, quote, CR or LF; quotes doubled.
std::string CsvField(std::string_view text);
// A JSON string literal with the escapes JSON requires.
std::string JsonString(std::string_view utf8);
// Characters (code points) of a UTF-8 text, for aligning columns.
std::size_t DisplayWidth(std::string_view utf8);

}  // namespace qd::qdbf
