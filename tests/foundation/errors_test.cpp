// Tests of the error model: the message table, the two delivery switches,
// the stop box and halt through the host, and the allocation pair.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "support/recording_host.h"
#include "platform/platform.h"
#include "support/messages.h"

namespace {

struct HaltRequested {
  int exit_code;
};

// Records message boxes; Halt throws instead of ending the test process.
class RecordingHost : public qd::fw::testing::RecordingHost {
 public:
  [[noreturn]] void Halt(int exit_code) override { throw HaltRequested{exit_code}; }
};

using qd::test_support::MessageOf;

class ErrorModel : public ::testing::Test {
 protected:
  void SetUp() override {
    qd::InitErrorUnit();
    qd::platform::SetHost(&host_);
  }
  void TearDown() override {
    qd::platform::SetHost(nullptr);
    qd::InitErrorUnit();
  }
  RecordingHost host_;
};

TEST_F(ErrorModel, MessageTableTexts) {
  EXPECT_EQ(qd::ErrorMessage(0), "");
  EXPECT_EQ(qd::ErrorMessage(215), "Error # 215 (No database in use)");
  EXPECT_EQ(qd::ErrorMessage(356), "Error # 356 (Undefined error)");
  // Trailing blanks are part of these texts.
  EXPECT_EQ(qd::ErrorMessage(1103), "Error # 1103 (Invalid Operation )");
  // The network range with its edges.
  EXPECT_EQ(qd::ErrorMessage(1202),
            "Error # 1202 (Semaphore file error. Possible solutions: log into network or load "
            "SHARE.EXE before running Windows)");
  EXPECT_EQ(qd::ErrorMessage(1203), "Error # 1203 (Network Error)");
  EXPECT_EQ(qd::ErrorMessage(1299), "Error # 1299 (Network Error)");
  EXPECT_EQ(qd::ErrorMessage(1300), "Error # 1300 (File format not supported)");
  EXPECT_EQ(qd::ErrorMessage(1301), "Error # 1301 (Undefined error)");
  EXPECT_EQ(qd::ErrorMessage(101), "Error # 101 (Disk write error (probable cause: Disk Full).)");
}

TEST_F(ErrorModel, DeferredDispatchKeepsCodeAndDeliversTextOnce) {
  EXPECT_TRUE(qd::SetImmediateDispatch(false));
  EXPECT_NO_THROW(qd::SetError(1200, "x"));
  EXPECT_EQ(qd::ErrorCode, 1200);
  EXPECT_TRUE(host_.boxes.empty());
  EXPECT_EQ(qd::PendingErrorMessage(), "Error # 1200 (Record not locked)\r\nx");
  EXPECT_EQ(qd::PendingErrorMessage(), "");
  EXPECT_EQ(qd::ErrorCode, 1200);
  EXPECT_FALSE(qd::SetImmediateDispatch(true));
}

TEST_F(ErrorModel, ExceptionDeliveryKeepsCodeAndTakesText) {
  EXPECT_FALSE(qd::SetRaiseExceptions(true));
  EXPECT_EQ(MessageOf<qd::EQuindleError>([] { qd::SetError(1200, "Record not locked [RecallRec]"); }),
            "Error # 1200 (Record not locked)\r\nRecord not locked [RecallRec]");
  EXPECT_EQ(qd::ErrorCode, 1200);
  EXPECT_EQ(qd::ErrorText, "");
  EXPECT_EQ(qd::PendingErrorCode, 0);
  EXPECT_TRUE(host_.boxes.empty());
  EXPECT_FALSE(qd::Halted);
}

TEST_F(ErrorModel, CodeZeroDeliversNothing) {
  qd::DispatchError();
  qd::SetRaiseExceptions(true);
  EXPECT_NO_THROW(qd::SetError(0, "ignored"));
  EXPECT_TRUE(host_.boxes.empty());
  EXPECT_FALSE(qd::Halted);
}

TEST_F(ErrorModel, StopBoxThenHaltWithCodeAndNoSecondReport) {
  const std::string detail(300, 'd');
  try {
    qd::SetError(215, detail);
    FAIL() << "no halt";
  } catch (const HaltRequested& halt) {
    EXPECT_EQ(halt.exit_code, 215);
  }
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].caption, "Program halted.");
  EXPECT_EQ(host_.boxes[0].style, 16);
  EXPECT_EQ(host_.boxes[0].text.size(), 255u);
  EXPECT_EQ(host_.boxes[0].text.rfind("Error # 215 (No database in use)\r\nddd", 0), 0u);
  EXPECT_TRUE(qd::Halted);

  // An error while halting is neither shown nor halts again.
  EXPECT_NO_THROW(qd::SetError(5, "during halt"));
  EXPECT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(qd::ErrorCode, 5);
}

TEST_F(ErrorModel, RaiseErrorEndsTheOperationEvenWhenDeferred) {
  qd::SetImmediateDispatch(false);
  EXPECT_EQ(MessageOf<qd::EQuindleError>([] { qd::RaiseError(222, "bad node [MakeIndex]"); }),
            "Error # 222 (Corrupted index file)\r\nbad node [MakeIndex]");
  EXPECT_EQ(qd::ErrorCode, 222);
  EXPECT_EQ(qd::PendingErrorMessage(), "");

  // With immediate dispatch the dispatcher raises, exactly once.
  qd::SetImmediateDispatch(true);
  qd::SetRaiseExceptions(true);
  EXPECT_THROW(qd::RaiseError(222, "again"), qd::EQuindleError);
  EXPECT_EQ(qd::ErrorText, "");
}

TEST_F(ErrorModel, AllocationPair) {
  void* block = nullptr;
  qd::GetMem(block, 65535);
  ASSERT_NE(block, nullptr);
  std::memset(block, 0xAB, 65535);
  qd::FreeMem(block, 65535);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(qd::ErrorCode, 0);

  qd::SetImmediateDispatch(false);
  qd::FreeMem(block, 10);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(qd::ErrorCode, 9);
  EXPECT_EQ(qd::ErrorText, "Attempt to free NIL pointer [FreeMem()]");

  // Raised as an exception, the pointer is still left nil.
  qd::SetImmediateDispatch(true);
  qd::SetRaiseExceptions(true);
  void* other = nullptr;
  EXPECT_THROW(qd::FreeMem(other, 10), qd::EQuindleError);
  EXPECT_EQ(other, nullptr);
}

}  // namespace
