// Helpers for the platform tests: a scratch directory per test, small file
// utilities, and running the child program as a second process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "support/scratch_dir.h"

namespace qd::platform::testing {

// Creates an empty scratch directory for the running test and removes it
// afterwards.
class ScratchDirTest : public ::testing::Test {
 protected:
  // Path of a name inside the scratch directory, with '/' separators.
  std::string Path(const std::string& name) const { return scratch_.GenericPath(name); }

  void WriteText(const std::string& name, const std::string& text) const {
    std::ofstream out(dir_ / name, std::ios::binary);
    out << text;
  }

  test_support::ScratchDir scratch_{"qdplat"};
  const std::filesystem::path& dir_ = scratch_.dir();
};

// Result of one run of the child program: its open code and lock code.
struct ChildResult {
  std::uint32_t open_code = 9999;
  std::uint32_t lock_code = 9999;
};

// Runs the child program to completion with the given arguments after the
// result-file argument, and reads back what it reported.
inline ChildResult RunChild(const std::string& scratch, const std::string& arguments) {
  const std::string result_file = scratch + "/child_result.txt";
  std::filesystem::remove(result_file);
  std::string child = QD_PLATFORM_CHILD;
#ifdef _WIN32
  // cmd.exe wants backslashes; a cross build run under Wine has a Unix path,
  // reachable through drive Z:.
  for (char& c : child) {
    if (c == '/') c = '\\';
  }
  if (!child.empty() && child[0] == '\\') child = "Z:" + child;
#endif
  std::string command = "\"" + child + "\" \"" + result_file + "\" " + arguments;
#ifdef _WIN32
  command = "\"" + command + "\"";  // cmd /c strips the outer pair of quotes
#endif
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  ChildResult result;
  std::ifstream in(result_file);
  in >> result.open_code >> result.lock_code;
  return result;
}

}  // namespace qd::platform::testing
