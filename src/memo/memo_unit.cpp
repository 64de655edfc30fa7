// The memo unit's start-up.
#include "memo/memo_unit.h"

#include "memo/memo_file.h"
#include "memo/memo_lines.h"
#include "memo/memo_pack.h"
#include "table/hooks.h"

namespace qd {

void InitMemoUnit() {
  memo::MemoLockWaitMs = 5000;
  memo::FlushAfterWrite = false;
  memo::MemoLineCapacity = memo::kMaxLines;
  memo::MemoWidth = 78;
  memo::MemoWrap = false;
  memo::ClearLines();
  MemoHooks.AssignMemo = &AssignMemo;
  MemoHooks.OpenMemofile = &OpenMemofile;
  MemoHooks.CloseMemofile = &CloseMemofile;
  MemoHooks.AddMemo = &AddMemo;
  MemoHooks.PackMemofile = &PackMemofile;
  MemoHooks.CopyMemo = [](int source_area, std::int32_t block) { return CopyMemo(source_area, block, false); };
  MemoHooks.CopyMemoKeepPosition = [](int source_area, std::int32_t block) {
    return CopyMemo(source_area, block, true);
  };
  MemoHooks.EmptyMemofile = [] { EmptyMemofile(); };
  MemoHooks.RecordWritten = &ReleaseReplacedValues;
}

}  // namespace qd
