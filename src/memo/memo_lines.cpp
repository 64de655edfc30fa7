// The line table: reading a memo value into lines, storing lines as a value,
// and storing a plain text as a new value.
#include "memo/memo_lines.h"

#include <algorithm>

#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "memo/memo_file.h"

namespace qd {

namespace memo {

namespace {
LineTable line_table;
}

LineTable& Lines() { return line_table; }

void ClearLines() {
  line_table.lines.clear();
  line_table.dropped = 0;
}

std::size_t LineWidth() {
  const int width = MemoWrap ? MemoWidth + 1 : kMaxLineWidth;
  return width < 1 || width > kMaxLineWidth ? kMaxLineWidth : static_cast<std::size_t>(width);
}

LineEnd ReadMemoLine(std::string_view value, std::size_t& at, std::size_t width, std::string& line) {
  line.clear();
  while (at < value.size()) {
    const auto c = static_cast<std::uint8_t>(value[at]);
    if (c == kHardReturn || c == kSoftReturn) {
      ++at;
      if (at < value.size() && value[at] == '\n') ++at;
      return c == kHardReturn ? LineEnd::Hard : LineEnd::Soft;
    }
    if (line.size() >= width) {
      // Broken after the line's last blank; what follows it starts the
      // next line.
      const std::size_t blank = line.find_last_of(' ');
      if (blank != std::string::npos && blank + 1 < line.size()) {
        at -= line.size() - (blank + 1);
        line.resize(blank + 1);
      }
      return LineEnd::Wrapped;
    }
    line.push_back(static_cast<char>(c));
    ++at;
  }
  return line.empty() ? LineEnd::EndOfValue : LineEnd::Wrapped;
}

std::string LinesToValue(const std::vector<MemoLine>& lines) {
  std::size_t length = 0;
  for (const MemoLine& line : lines) length += line.text.size() + 2;
  std::string value;
  value.reserve(length);
  for (const MemoLine& line : lines) {
    value += line.text;
    if (line.end != kWrapped) {
      value.push_back(static_cast<char>(line.end));
      value.push_back('\n');
    }
  }
  return value;
}

}  // namespace memo

using namespace memo;

bool GetMemo(std::int32_t block) {
  ClearLines();
  std::string value;
  if (!ReadMemoValue(block, value, "GetMemo")) return false;
  const std::size_t width = LineWidth();
  const std::size_t capacity =
      static_cast<std::size_t>(std::clamp(MemoLineCapacity, 1, kMaxLines));
  std::size_t at = 0;
  std::string text;
  try {
    for (;;) {
      const LineEnd kind = ReadMemoLine(value, at, width, text);
      if (kind == LineEnd::EndOfValue) break;
      if (line_table.lines.size() >= capacity) {
        ++line_table.dropped;
        continue;
      }
      MemoLine line;
      line.text = text;
      line.end = kind == LineEnd::Hard ? kHardReturn : kind == LineEnd::Soft ? kSoftReturn : kWrapped;
      line_table.lines.push_back(std::move(line));
    }
  } catch (const std::bad_alloc&) {
    ClearLines();
    const MemoState* state = RequireMemo("GetMemo");
    SetError(217, "Reading memo field in " + (state ? state->file_name : std::string()));
    return false;
  }
  return true;
}

bool EditMemoCloseMemo(std::int32_t old_block, std::int32_t& block) {
  block = 0;
  MemoState* state = RequireMemo("EditMemo/CloseMemo");
  if (state == nullptr) return false;
  const std::string value = LinesToValue(line_table.lines);
  if (static_cast<std::uint64_t>(DiskFreeKB(state->file_name)) <= value.size() / 1024) {
    SetError(1004, state->file_name + " [EditMemo/CloseMemo]");
    return false;
  }
  return WriteMemoValue(old_block, value, block, "EditMemo/CloseMemo");
}

std::int32_t AddMemo(const std::string& text) {
  std::size_t length = text.size();
  while (length > 0 && text[length - 1] == ' ') --length;
  if (length == 0) return 0;
  std::int32_t block = 0;
  if (!WriteMemoValue(0, std::string_view(text).substr(0, length), block, "AddMemo")) return 0;
  if (MemoState* state = RequireMemo("AddMemo")) platform::FlushFile(state->file);
  return block;
}

}  // namespace qd
