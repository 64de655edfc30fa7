// Shared by the locking, update and search tests: a scratch directory with
// tables made for each test, raw file access for checking what is stored,
// and running the child program as further real processes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "platform/platform.h"
#include "table/table_test_support.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace qd::lock_testing {

// The table fixture with '/' in its paths and helpers for named tables.
class TableTest : public table_test::TableTest {
 protected:
  std::string Path(const std::string& name) const { return scratch_.GenericPath(name); }
  std::vector<std::uint8_t> FileBytes(const std::string& name) const {
    return test_support::ReadBytes(scratch_.dir() / name);
  }

  // Opens `name` in the current work area (shared unless `exclusive`) and
  // checks that it worked.
  void Open(const std::string& name, bool exclusive = false) {
    Use(Path(name) + (exclusive ? " EXCLUSIVE" : ""), nullptr, 0);
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    ASSERT_NE(CurrentWorkArea(), nullptr);
  }

  // Stores text into field n (C fields) of the native record, cut to the
  // field's length as the slot holds no more.
  static void SetText(int n, const std::string& text) {
    std::uint8_t* slot = FieldAddress(n);
    const std::size_t size = std::min<std::size_t>(text.size(), FieldLen(n));
    slot[0] = static_cast<std::uint8_t>(size);
    std::copy_n(text.begin(), size, slot + 1);
  }

  // Creates `name` with fields NAME C(10) and AMOUNT N(5,0) holding one
  // record per text (AMOUNT = its position), written in a free work area
  // and closed again; the current work area stays as it was.
  void CreateNamesTable(const std::string& name, const std::vector<std::string>& names) {
    ASSERT_TRUE(CreateDBF(Path(name), {{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 5, 0}}));
    const int area = Selected();
    Select(0);
    Open(name, true);
    for (std::size_t i = 0; i < names.size(); ++i) {
      ClearRecord();
      SetText(1, names[i]);
      const std::int32_t amount = static_cast<std::int32_t>(i + 1);
      std::memcpy(FieldAddress(2), &amount, 4);
      Append();
      ASSERT_EQ(ErrorCode, 0) << ErrorText;
    }
    Close();
    Select(area);
  }
};

#ifdef QD_LOCK_CHILD

// Path of the child program that plays the other programs sharing a table.
inline std::string ChildProgram() { return QD_LOCK_CHILD; }

// Runs the child with the arguments; its first argument is the result file,
// whose text is returned.
inline std::string RunChild(const std::string& result_file, const std::string& arguments) {
  std::filesystem::remove(result_file);
  std::string command = "\"" + ChildProgram() + "\" \"" + result_file + "\" " + arguments;
#ifdef _WIN32
  // cmd.exe /c drops the first and the last quote of a command that starts
  // with one; an outer pair keeps the quoted words intact.
  command = "\"" + command + "\"";
#endif
  const int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << command;
  std::ifstream in(result_file);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
#endif

}  // namespace qd::lock_testing
