// The runtime's text files over a unit's procedures: a small driver whose
// buffer is 4 characters, so every operation crosses buffer boundaries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_files.h"

namespace qd::platform {
namespace {

// The driver's storage: a text read in pieces, and what was written.
struct Store {
  std::string text;
  std::size_t read = 0;
  std::string written;
  int flushes = 0;
  int closes = 0;
};

Store& StoreOf(TextFile& file) { return *static_cast<Store*>(file.user_pointer); }

std::uint16_t Transfer(TextFile& file) {
  Store& store = StoreOf(file);
  if (file.mode == TextMode::Input) {
    const std::string piece = store.text.substr(store.read, file.buffer.size());
    std::copy(piece.begin(), piece.end(), file.buffer.begin());
    store.read += piece.size();
    file.end = piece.size();
  } else {
    store.written.append(file.buffer.data(), file.position);
    file.position = 0;
    if (store.written.find('!') != std::string::npos) return kIoWriteFault;
  }
  return 0;
}
std::uint16_t Flush(TextFile& file) {
  ++StoreOf(file).flushes;
  return file.mode == TextMode::Output ? Transfer(file) : 0;
}
std::uint16_t Close(TextFile& file) {
  ++StoreOf(file).closes;
  return 0;
}
std::uint16_t Open(TextFile& file) {
  Store& store = StoreOf(file);
  file.buffer.assign(4, '\0');
  file.transfer = Transfer;
  file.flush = Flush;
  file.close = Close;
  store.read = 0;
  if (file.mode == TextMode::Output) store.written.clear();
  return file.mode == TextMode::Input && store.text == "refuse" ? kIoReadFault : 0;
}

TextFile Bound(Store& store) {
  TextFile file;
  file.open = Open;
  file.user_pointer = &store;
  return file;
}

TEST(TextFiles, ReadingSplitsLinesAtEveryKindOfLineBreak) {
  Store store;
  store.text = "first\r\nsecond\nthird\rfourth\r\n\r\nlast";
  TextFile file = Bound(store);
  ASSERT_EQ(TextReset(file), 0);
  std::vector<std::string> lines;
  std::string line;
  while (!TextEof(file)) {
    ASSERT_EQ(TextReadLine(file, line), 0);
    lines.push_back(line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "third", "fourth", "", "last"}));
  EXPECT_EQ(TextReadLine(file, line), 0);  // at the end: an empty line
  EXPECT_EQ(line, "");
  EXPECT_EQ(TextWrite(file, "x"), kIoNotOpenForOutput);
  EXPECT_EQ(TextClose(file), 0);
  EXPECT_EQ(store.closes, 1);
  EXPECT_EQ(TextClose(file), kIoNotOpen);
  EXPECT_TRUE(TextEof(file));
}

TEST(TextFiles, WritingPassesFullBuffersAndFlushesAfterEveryWrite) {
  Store store;
  TextFile file = Bound(store);
  ASSERT_EQ(TextRewrite(file), 0);
  EXPECT_EQ(TextWrite(file, "abcdefghij"), 0);
  EXPECT_EQ(TextWriteLine(file, "kl"), 0);
  EXPECT_EQ(store.flushes, 2);
  EXPECT_EQ(store.written, "abcdefghijkl\r\n");
  std::string line;
  EXPECT_EQ(TextReadLine(file, line), kIoNotOpenForInput);
  EXPECT_EQ(TextWrite(file, "a!"), kIoWriteFault);
  EXPECT_EQ(TextClose(file), 0);
  // Appending is writing once the driver has opened.
  ASSERT_EQ(TextAppend(file), 0);
  EXPECT_EQ(file.mode, TextMode::Output);
  // Opening an open file closes it first; a refused open leaves it closed.
  store.text = "refuse";
  EXPECT_EQ(TextReset(file), kIoReadFault);
  EXPECT_EQ(file.mode, TextMode::Closed);
  TextFile unbound;
  EXPECT_EQ(TextRewrite(unbound), kIoNotAssigned);
}

}  // namespace
}  // namespace qd::platform
