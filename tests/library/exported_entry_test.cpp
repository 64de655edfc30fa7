// The guard of the exported functions, in this process: whatever a body
// raises ends in the stop box with a code and the halt, never in the caller.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "foundation/errors.h"
#include "library/exported_entry.h"
#include "support/recording_host.h"

namespace qd {
namespace {

// Records the halt and gives control back to the test by raising, which the
// guard must swallow as well.
class HaltingHost : public fw::testing::RecordingHost {
 public:
  std::vector<int> halts;
  [[noreturn]] void Halt(int exit_code) override {
    halts.push_back(exit_code);
    throw std::runtime_error("halted");
  }
};

class ExportedEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitErrorUnit();
    platform::SetHost(&host_);
  }
  void TearDown() override {
    platform::SetHost(nullptr);
    InitErrorUnit();
  }
  // Runs `body` under the guard and answers the one stop box's text (empty
  // when nothing was shown), checking the halt code.
  std::string Run(void (*body)(), int expected_halt) {
    host_.boxes.clear();
    host_.halts.clear();
    Halted = false;
    library::RunExported("DllMainCall", body);
    if (expected_halt == 0) {
      EXPECT_TRUE(host_.boxes.empty());
      EXPECT_TRUE(host_.halts.empty());
      return "";
    }
    EXPECT_EQ(host_.halts, std::vector<int>{expected_halt});
    if (host_.boxes.size() != 1) return "(" + std::to_string(host_.boxes.size()) + " boxes)";
    EXPECT_EQ(host_.boxes[0].caption, "Program halted.");
    EXPECT_EQ(host_.boxes[0].style, platform::kMbIconStop);
    return host_.boxes[0].text;
  }
  HaltingHost host_;
};

TEST_F(ExportedEntryTest, NothingEscapesAndEveryFailureHaltsWithACode) {
  EXPECT_EQ(Run([] {}, 0), "");
  // Failures the engine did not report: code 254 (217 for memory) and the
  // entry's name.
  EXPECT_EQ(Run([] { (void)std::vector<int>().at(0); }, 254).substr(0, 48),
            "Error # 254 (Quindle internal error)\r\nvector::_M");
  EXPECT_EQ(Run([] { throw std::out_of_range("no field"); }, 254),
            "Error # 254 (Quindle internal error)\r\nno field [DllMainCall]");
  EXPECT_EQ(Run([] { throw std::bad_alloc(); }, 217),
            "Error # 217 (Insufficient memory)\r\nNot enough memory [DllMainCall]");
  EXPECT_EQ(Run([] { throw 42; }, 254),
            "Error # 254 (Quindle internal error)\r\nUnknown failure [DllMainCall]");
  // An engine error raised as an exception keeps its code and text, and is
  // delivered as the stop box even where it was set to raise.
  EXPECT_EQ(Run(
                [] {
                  SetRaiseExceptions(true);
                  SetError(1103, "Database is not open [DS.QdiGetRecord]");
                },
                1103),
            "Error # 1103 (Invalid Operation )\r\nDatabase is not open [DS.QdiGetRecord]");
  EXPECT_FALSE(RaiseExceptions);
  // With dispatch deferred, the failure is delivered all the same.
  EXPECT_EQ(Run(
                [] {
                  SetImmediateDispatch(false);
                  throw std::logic_error("late");
                },
                254),
            "Error # 254 (Quindle internal error)\r\nlate [DllMainCall]");
  // While the process is being halted nothing is shown twice.
  host_.boxes.clear();
  host_.halts.clear();
  Halted = true;
  library::RunExported("DllMainCall", [] { throw std::runtime_error("again"); });
  EXPECT_TRUE(host_.boxes.empty());
  EXPECT_TRUE(host_.halts.empty());
}

}  // namespace
}  // namespace qd
