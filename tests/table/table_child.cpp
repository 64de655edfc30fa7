// Child program of the shared-table tests: another program appending to a
// table the test process has open at the same time.
//
//   table_child <table> <text>...
//       opens the table shared, takes the table lock, appends one record per
//       text (into the first field), releases the lock and closes the table.
//       A text "--exit" ends the program there, leaving the table open.
// The exit status is the engine's error code (0 on success).
#include <cstring>
#include <string>

#include "foundation/errors.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  qd::SetImmediateDispatch(false);
  qd::AnsiTables = true;
  qd::Select(1);
  qd::Use(argv[1], nullptr, 0);
  if (qd::ErrorCode != 0) return qd::ErrorCode;
  if (!qd::ALock()) return 33;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--exit") == 0) return 0;
    qd::ClearRecord();
    std::uint8_t* slot = qd::FieldAddress(1);
    const std::size_t n = std::min<std::size_t>(std::strlen(argv[i]), slot[0]);
    std::memcpy(slot + 1, argv[i], n);
    qd::Append();
    if (qd::ErrorCode != 0) return qd::ErrorCode;
  }
  qd::Unlock();
  qd::Close();
  return qd::ErrorCode;
}
