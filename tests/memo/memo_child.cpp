// Child program of the memo multi-process tests: another program writing
// memo values of a shared table at the same time as its siblings.
//
//   memo_child <table> <writer> <rounds>
//       opens the table shared; in every round writes each record's value
//       (ProcessValue of writer, record, round) under the record's lock,
//       writer 1 from the first record up, writer 2 from the last one down,
//       waiting while a sibling holds the record.
// The exit status is the engine's error code (0 on success).
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/errors.h"
#include "memo/memo_file.h"
#include "memo/memo_unit.h"
#include "platform/platform.h"
#include "process_values.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

int main(int argc, char** argv) {
  if (argc != 4) return 1;
  qd::SetImmediateDispatch(false);
  qd::InitMemoUnit();
  qd::AnsiTables = true;
  qd::Select(1);
  qd::Use(argv[1], nullptr, 0);
  if (qd::ErrorCode != 0) return qd::ErrorCode;
  const int writer = std::atoi(argv[2]);
  const int rounds = std::atoi(argv[3]);
  const std::int32_t records = qd::RecCount();
  for (int round = 1; round <= rounds; ++round) {
    for (std::int32_t i = 0; i < records; ++i) {
      const std::int32_t record = writer == 1 ? i + 1 : records - i;
      qd::Go(record);
      while (!qd::RLock()) qd::platform::SleepMs(1);
      qd::Go(record);  // as stored, now that nobody else can change it
      std::int32_t old_block = 0;
      std::memcpy(&old_block, qd::FieldAddress(2), 4);
      std::int32_t block = 0;
      if (!qd::WriteMemoValue(old_block, qd::memo_test::ProcessValue(writer, record, round), block,
                              "child"))
        return qd::ErrorCode;
      std::memcpy(qd::FieldAddress(2), &block, 4);
      qd::Replace();
      qd::Unlock();
      if (qd::ErrorCode != 0) return qd::ErrorCode;
    }
  }
  qd::Close();
  return qd::ErrorCode;
}
