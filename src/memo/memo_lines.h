// Memo values as text made of lines. A value is read into the line table
// (one per process), one entry per line with the kind of line end that
// followed it; the line table is written back as a value. AssignMemo binds a
// runtime text file (platform/text_files.h) to a memo value of the current
// table, so that the ordinary text operations read and write memo text:
//
//   reading    the value's lines; a line that ended with a hard return is
//              followed by a line break, a line that was wrapped or ended
//              with a soft return runs on into the next one, so a reader
//              sees the value's own lines (paragraphs), without soft returns
//   writing    the text is collected into lines of at most 254 characters;
//              a line feed (with a carriage return before it, or alone) ends
//              a line; text after the last line feed is the value's last
//              line, stored without a line end
//   appending  the value is read, and writing continues its last line when
//              that line has no line end, else starts a new line
//   closing    after writing, the line table is stored as the value (reusing
//              or giving up the old value's blocks) and the block variable
//              receives its block; a failed store leaves the variable and the
//              old value as they were
//
// Text moves through the binding in the Windows character set: for a table
// kept in the OEM code page it is converted on the way in and out, while the
// line table keeps the stored bytes (so an appended value's old lines are
// written back exactly as they were).
//
// The text-file procedures answer the runtime's input/output errors: 8 no
// memory, 100 the value could not be read, 101 it could not be written or
// the line table is full, 102 an unknown mode, 104 the line table now serves
// another text file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_files.h"

namespace qd {

namespace memo {

// Lines the line table keeps, at most kMaxLines; lines of a value beyond it
// are read but not kept (a text reader does not see them, and appending to
// such a value is refused). It starts at the bound: a smaller table made
// searches and expressions miss the end of long values.
inline constexpr int kMaxLines = 16000;
inline int MemoLineCapacity = kMaxLines;
inline constexpr int kMaxLineWidth = 254;
// Wrapping of long lines when a value is read: off, lines are cut at 254
// characters; on, at the memo width plus 1.
inline int MemoWidth = 78;
inline bool MemoWrap = false;

// Line-end bytes kept per line.
inline constexpr std::uint8_t kHardReturn = 0x0D;
inline constexpr std::uint8_t kSoftReturn = 0x8D;
inline constexpr std::uint8_t kWrapped = 0x00;

// Kinds of line end the line reader answers.
enum class LineEnd { Wrapped = 0, Hard = 1, Soft = 2, EndOfValue = 3 };

struct MemoLine {
  std::string text;          // stored bytes, at most 254
  std::uint8_t end = kWrapped;
};

struct LineTable {
  std::vector<MemoLine> lines;
  std::size_t dropped = 0;   // lines read beyond the capacity
};

// The process's line table.
LineTable& Lines();
void ClearLines();
// The width at which the line reader wraps.
std::size_t LineWidth();
// Reads one line of a value's bytes from `at` (advanced past the line and
// its line end): up to a carriage return or soft return (a line feed right
// after either is consumed), or wrapped at `width` after the line's last
// blank (cut at the width when it has none).
LineEnd ReadMemoLine(std::string_view value, std::size_t& at, std::size_t width, std::string& line);
// The bytes a line table is stored as: each line, then its line-end byte and
// a line feed when it has one.
std::string LinesToValue(const std::vector<MemoLine>& lines);

}  // namespace memo

// Reads the value at `block` of the current table into the line table.
bool GetMemo(std::int32_t block);
// Stores the line table as the value replacing the one at `old_block`;
// `block` receives its block (0 for no lines).
bool EditMemoCloseMemo(std::int32_t old_block, std::int32_t& block);
// Stores the text without its trailing blanks as a new value and answers
// its block; 0 for an empty text or a failure (reported).
std::int32_t AddMemo(const std::string& text);
// Binds a text file to the value whose block `block` holds, in the current
// work area (215 without a table, 1019 without a memo file). The variable
// must outlive the binding.
bool AssignMemo(platform::TextFile& file, std::int32_t* block);

}  // namespace qd
