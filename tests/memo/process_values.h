// The values the memo child programs write: determined by the writer, the
// record and the round, of lengths from 0 to about 3000 bytes, so that a
// value is sometimes cleared, rewritten in place, moved or placed in freed
// blocks. Shared by the child and the test that checks what they left.
#pragma once

#include <cstdint>
#include <string>

namespace qd::memo_test {

inline std::string ProcessValue(int writer, std::int32_t record, int round) {
  std::uint32_t seed = static_cast<std::uint32_t>(writer * 7919 + record * 104729 + round * 1299709);
  seed ^= seed >> 13;
  seed *= 0x5bd1e995u;
  seed ^= seed >> 15;
  const std::size_t length = seed % 7 == 0 ? 0 : seed % 3000;
  if (length == 0) return std::string();
  std::string value = "writer " + std::to_string(writer) + " record " + std::to_string(record) +
                      " round " + std::to_string(round) + ";";
  value.resize(std::max(length, value.size()), static_cast<char>('a' + (seed >> 8) % 26));
  return value;
}

}  // namespace qd::memo_test
