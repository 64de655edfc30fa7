// A stand-in for the memo unit's text binding, for suites that test the
// table layer or the evaluator without the memo unit: AssignStubMemo binds a
// text file that reads whatever MemoTextOf answers for the value's block.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/text_files.h"

namespace qd::test_support {

inline std::function<std::string(std::int32_t block)> MemoTextOf;

inline std::uint16_t StubMemoTransfer(platform::TextFile& file) {
  file.end = 0;  // everything was in the first buffer
  return 0;
}

inline std::uint16_t StubMemoOpen(platform::TextFile& file) {
  const std::int32_t block = *static_cast<std::int32_t*>(file.user_pointer);
  const std::string text = MemoTextOf ? MemoTextOf(block) : std::string();
  file.buffer.assign(text.begin(), text.end());
  file.position = 0;
  file.end = text.size();
  file.transfer = StubMemoTransfer;
  return 0;
}

inline bool AssignStubMemo(platform::TextFile& file, std::int32_t* block) {
  file = platform::TextFile{};
  file.open = StubMemoOpen;
  file.user_pointer = block;
  return true;
}

}  // namespace qd::test_support
