// The runtime's text files: a text-file record whose four procedures (open,
// transfer, flush, close) a unit installs, and the ordinary text operations
// over it (open for reading, writing or appending, read a line, write, close).
// A unit binds a record to its own data by filling the open procedure; the
// open procedure installs the other three and the buffer. The operations
// move characters between the caller and the buffer and call the procedures
// when the buffer runs empty (reading) or full (writing), after every write
// (flush) and at the close, as the runtime's text files do.
//
// Every operation answers the runtime's input/output error number, 0 when it
// worked; the procedures answer the same numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qd::platform {

// Input/output error numbers of the runtime.
inline constexpr std::uint16_t kIoNoMemory = 8;
inline constexpr std::uint16_t kIoReadFault = 100;
inline constexpr std::uint16_t kIoWriteFault = 101;
inline constexpr std::uint16_t kIoNotAssigned = 102;
inline constexpr std::uint16_t kIoNotOpen = 103;
inline constexpr std::uint16_t kIoNotOpenForInput = 104;
inline constexpr std::uint16_t kIoNotOpenForOutput = 105;

// The mode word of a text-file record, with the runtime's values.
enum class TextMode : std::uint16_t {
  Closed = 0xD7B0,
  Input = 0xD7B1,
  Output = 0xD7B2,
  InOut = 0xD7B3,  // asked for by TextAppend; the open procedure turns it into Output
};

struct TextFile;
// A text-file procedure: answers 0 or an input/output error number.
using TextProc = std::uint16_t (*)(TextFile& file);

struct TextFile {
  std::uint32_t handle = 0;
  TextMode mode = TextMode::Closed;
  // Input: characters buffer[position, end) are still to be read; a transfer
  // refills the buffer and sets end (0 at the end of the text).
  // Output: characters buffer[0, position) wait to be taken; a transfer takes
  // them and sets position back to 0.
  std::vector<char> buffer;
  std::size_t position = 0;
  std::size_t end = 0;
  TextProc open = nullptr;
  TextProc transfer = nullptr;
  TextProc flush = nullptr;  // may stay null
  TextProc close = nullptr;  // may stay null
  // For the unit that bound the record.
  void* user_pointer = nullptr;
  std::int32_t user_number = 0;
  std::string name;
};

// Opens for reading, writing or appending (a record that is open is closed
// first). 102 when no unit has bound the record.
std::uint16_t TextReset(TextFile& file);
std::uint16_t TextRewrite(TextFile& file);
std::uint16_t TextAppend(TextFile& file);

// Reads the characters up to the next line break (carriage return, line
// feed, or the pair) and consumes the break; at the end of the text the line
// is empty.
std::uint16_t TextReadLine(TextFile& file, std::string& line);
// True when no character is left to read (also when the file is not open
// for reading or a transfer failed).
bool TextEof(TextFile& file);

// Writes the text (TextWriteLine adds a carriage return and a line feed),
// then calls the flush procedure.
std::uint16_t TextWrite(TextFile& file, std::string_view text);
std::uint16_t TextWriteLine(TextFile& file, std::string_view text);

// Hands pending output to the unit, calls the close procedure and marks the
// record closed; the first error met is answered.
std::uint16_t TextClose(TextFile& file);

}  // namespace qd::platform
