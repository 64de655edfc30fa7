// The text-file binding of memo values: AssignMemo and the four text-file
// procedures (open, transfer, flush, close) that move text between a runtime
// text file and the line table.
#include <algorithm>
#include <new>

#include "foundation/errors.h"
#include "memo/memo_file.h"
#include "memo/memo_lines.h"
#include "table/work_areas.h"

namespace qd {

using namespace memo;
namespace pf = qd::platform;

namespace {

constexpr std::uint32_t kMemoHandle = 65535;
constexpr std::size_t kTextBufferSize = 255;
// Error of a transfer when the line table serves another text file.
constexpr std::uint16_t kNoLineTable = 104;

// What the line table is doing for the one text file it serves.
struct TextState {
  const pf::TextFile* owner = nullptr;  // the text file the line table serves
  // Reading: the next line and the offset in its delivered text.
  std::size_t line = 0;
  std::size_t offset = 0;
  // Writing: text after the last line feed, the value being replaced, and
  // whether text was lost because the line table was full.
  std::string pending;
  std::int32_t old_block = 0;
  bool overflow = false;
} text_state;

std::int32_t* BlockOf(pf::TextFile& file) { return static_cast<std::int32_t*>(file.user_pointer); }

// Makes the bound work area current while a procedure runs.
class BoundArea {
 public:
  explicit BoundArea(const pf::TextFile& file) : saved_(CurrentArea) {
    CurrentArea = file.user_number;
  }
  ~BoundArea() { CurrentArea = saved_; }
  BoundArea(const BoundArea&) = delete;
  BoundArea& operator=(const BoundArea&) = delete;
  // The bound table keeps its text in the OEM code page.
  static bool Oem() {
    const WorkArea* area = CurrentWorkArea();
    return area != nullptr && area->language == tlOem;
  }

 private:
  int saved_;
};

std::size_t Capacity() { return static_cast<std::size_t>(std::clamp(MemoLineCapacity, 1, kMaxLines)); }

// Ends the pending text as lines of at most 254 characters, the last with
// `end`. A line that does not fit the table is dropped whole.
std::uint16_t CommitPending(std::uint8_t end) {
  std::vector<MemoLine>& lines = Lines().lines;
  const std::string& text = text_state.pending;
  const std::size_t pieces = std::max<std::size_t>(1, (text.size() + kMaxLineWidth - 1) / kMaxLineWidth);
  if (text_state.overflow || lines.size() + pieces > Capacity()) {
    text_state.overflow = true;
    text_state.pending.clear();
    return pf::kIoWriteFault;
  }
  for (std::size_t i = 0; i < pieces; ++i) {
    MemoLine line;
    line.text = text.substr(i * kMaxLineWidth, kMaxLineWidth);
    line.end = i + 1 == pieces ? end : kWrapped;
    lines.push_back(std::move(line));
  }
  text_state.pending.clear();
  return 0;
}

// Output: takes the buffered characters into the pending text and lines.
std::uint16_t TakeOutput(pf::TextFile& file) {
  std::string text(file.buffer.data(), file.position);
  file.position = 0;
  {
    BoundArea bound(file);
    if (BoundArea::Oem()) pf::AnsiToOem(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  }
  std::uint16_t code = 0;
  for (const char c : text) {
    if (c != '\n') {
      text_state.pending.push_back(c);
      continue;
    }
    if (!text_state.pending.empty() && text_state.pending.back() == '\r') text_state.pending.pop_back();
    if (std::uint16_t failed = CommitPending(kHardReturn); failed != 0) code = failed;
  }
  return text_state.overflow ? pf::kIoWriteFault : code;
}

// Input: fills the buffer with the next characters of the lines as a text
// reader sees them.
std::uint16_t GiveInput(pf::TextFile& file) {
  const std::vector<MemoLine>& lines = Lines().lines;
  std::size_t filled = 0;
  while (filled < file.buffer.size() && text_state.line < lines.size()) {
    const MemoLine& line = lines[text_state.line];
    const std::size_t text_length = line.text.size();
    const std::size_t length = text_length + (line.end == kHardReturn ? 2 : 0);
    std::size_t& at = text_state.offset;
    if (at >= length) {
      ++text_state.line;
      at = 0;
    } else if (at < text_length) {
      const std::size_t n = std::min(file.buffer.size() - filled, text_length - at);
      std::copy_n(line.text.data() + at, n, file.buffer.data() + filled);
      filled += n;
      at += n;
    } else {
      file.buffer[filled++] = at == text_length ? '\r' : '\n';
      ++at;
    }
  }
  file.position = 0;
  file.end = filled;
  BoundArea bound(file);
  if (BoundArea::Oem()) pf::OemToAnsi(reinterpret_cast<std::uint8_t*>(file.buffer.data()), filled);
  return 0;
}

std::uint16_t MemoTransfer(pf::TextFile& file) {
  if (text_state.owner != &file) return kNoLineTable;
  if (file.mode == pf::TextMode::Input) return GiveInput(file);
  return TakeOutput(file);
}

std::uint16_t MemoFlush(pf::TextFile& file) {
  if (file.mode != pf::TextMode::Output) return 0;
  return MemoTransfer(file);
}

std::uint16_t MemoClose(pf::TextFile& file) {
  std::uint16_t code = 0;
  // Text written to a line table that another text file took since is lost.
  if (text_state.owner != &file && file.mode == pf::TextMode::Output) code = kNoLineTable;
  if (text_state.owner == &file && file.mode == pf::TextMode::Output) {
    // The text after the last line feed is the value's last line.
    if (!text_state.pending.empty() && CommitPending(kWrapped) != 0) code = pf::kIoWriteFault;
    if (text_state.overflow) {
      code = pf::kIoWriteFault;  // nothing is stored: the old value stays
    } else {
      BoundArea bound(file);
      const bool had_lines = !Lines().lines.empty();
      std::int32_t block = 0;
      if (EditMemoCloseMemo(text_state.old_block, block)) {
        *BlockOf(file) = block;
      } else if (had_lines) {
        code = pf::kIoWriteFault;
      }
    }
  }
  if (text_state.owner == &file) {
    ClearLines();
    text_state = TextState{};
  }
  file.buffer.clear();
  file.buffer.shrink_to_fit();
  return code;
}

std::uint16_t MemoOpen(pf::TextFile& file) {
  if (file.mode != pf::TextMode::Input && file.mode != pf::TextMode::Output &&
      file.mode != pf::TextMode::InOut)
    return pf::kIoNotAssigned;
  try {
    file.buffer.assign(kTextBufferSize, '\0');
  } catch (const std::bad_alloc&) {
    return pf::kIoNoMemory;
  }
  file.transfer = MemoTransfer;
  file.flush = MemoFlush;
  file.close = MemoClose;
  text_state = TextState{};
  text_state.owner = &file;
  text_state.old_block = *BlockOf(file);
  ClearLines();
  BoundArea bound(file);
  if (file.mode == pf::TextMode::Output) return 0;
  if (!GetMemo(*BlockOf(file))) {
    text_state = TextState{};
    return pf::kIoReadFault;
  }
  if (file.mode == pf::TextMode::InOut) {
    // Writing the value back would lose the lines the table could not keep.
    if (Lines().dropped > 0) {
      ClearLines();
      text_state = TextState{};
      return pf::kIoWriteFault;
    }
    std::vector<MemoLine>& lines = Lines().lines;
    if (!lines.empty() && lines.back().end == kWrapped) {
      text_state.pending = std::move(lines.back().text);
      lines.pop_back();
    }
    file.mode = pf::TextMode::Output;
  }
  return 0;
}

}  // namespace

bool AssignMemo(pf::TextFile& file, std::int32_t* block) {
  if (RequireMemo("\nAssignMemo") == nullptr) return false;
  file = pf::TextFile{};
  file.handle = kMemoHandle;
  file.mode = pf::TextMode::Closed;
  file.open = MemoOpen;
  file.user_pointer = block;
  file.user_number = CurrentArea;
  return true;
}

}  // namespace qd
