// The runtime's text-file operations over units' text-file procedures.
#include "platform/text_files.h"

namespace qd::platform {

namespace {

// Room for output when the open procedure installed no buffer.
constexpr std::size_t kDefaultBufferSize = 128;

std::uint16_t Open(TextFile& file, TextMode mode) {
  if (file.open == nullptr) return kIoNotAssigned;
  if (file.mode != TextMode::Closed) {
    if (std::uint16_t code = TextClose(file); code != 0) return code;
  }
  file.mode = mode;
  file.position = 0;
  file.end = 0;
  const std::uint16_t code = file.open(file);
  if (code != 0) {
    file.mode = TextMode::Closed;
    return code;
  }
  if (file.mode == TextMode::InOut) file.mode = TextMode::Output;
  return 0;
}

std::uint16_t CheckInput(const TextFile& file) {
  if (file.mode == TextMode::Input) return 0;
  return file.mode == TextMode::Closed ? kIoNotOpen : kIoNotOpenForInput;
}

std::uint16_t CheckOutput(const TextFile& file) {
  if (file.mode == TextMode::Output) return 0;
  return file.mode == TextMode::Closed ? kIoNotOpen : kIoNotOpenForOutput;
}

// Makes a character available to read; false at the end of the text or when
// the transfer failed (its code in `code`).
bool Fill(TextFile& file, std::uint16_t& code) {
  code = 0;
  if (file.position < file.end) return true;
  file.position = 0;
  file.end = 0;
  if (file.transfer == nullptr) return false;
  code = file.transfer(file);
  if (code != 0) {
    file.end = 0;
    return false;
  }
  if (file.end > file.buffer.size()) file.end = file.buffer.size();
  return file.end > 0;
}

}  // namespace

std::uint16_t TextReset(TextFile& file) { return Open(file, TextMode::Input); }
std::uint16_t TextRewrite(TextFile& file) { return Open(file, TextMode::Output); }
std::uint16_t TextAppend(TextFile& file) { return Open(file, TextMode::InOut); }

std::uint16_t TextReadLine(TextFile& file, std::string& line) {
  line.clear();
  if (std::uint16_t code = CheckInput(file); code != 0) return code;
  std::uint16_t code = 0;
  while (Fill(file, code)) {
    const char c = file.buffer[file.position++];
    if (c == '\n') return 0;
    if (c == '\r') {
      if (Fill(file, code) && file.buffer[file.position] == '\n') ++file.position;
      return code;
    }
    line.push_back(c);
  }
  return code;
}

bool TextEof(TextFile& file) {
  if (CheckInput(file) != 0) return true;
  std::uint16_t code = 0;
  return !Fill(file, code);
}

std::uint16_t TextWrite(TextFile& file, std::string_view text) {
  if (std::uint16_t code = CheckOutput(file); code != 0) return code;
  if (file.buffer.empty()) file.buffer.resize(kDefaultBufferSize);
  for (const char c : text) {
    if (file.position >= file.buffer.size()) {
      if (file.transfer == nullptr) return kIoWriteFault;
      if (std::uint16_t code = file.transfer(file); code != 0) return code;
      if (file.position >= file.buffer.size()) return kIoWriteFault;
    }
    file.buffer[file.position++] = c;
  }
  return file.flush != nullptr ? file.flush(file) : 0;
}

std::uint16_t TextWriteLine(TextFile& file, std::string_view text) {
  if (std::uint16_t code = CheckOutput(file); code != 0) return code;
  std::string line(text);
  line += "\r\n";
  return TextWrite(file, line);
}

std::uint16_t TextClose(TextFile& file) {
  if (file.mode == TextMode::Closed) return kIoNotOpen;
  std::uint16_t code = 0;
  if (file.mode == TextMode::Output && file.position > 0 && file.transfer != nullptr)
    code = file.transfer(file);
  if (file.close != nullptr) {
    const std::uint16_t closed = file.close(file);
    if (code == 0) code = closed;
  }
  file.mode = TextMode::Closed;
  file.position = 0;
  file.end = 0;
  return code;
}

}  // namespace qd::platform
