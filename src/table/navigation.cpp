// Moving the current work area from record to record: first, last, n
// visible records forward or back, or to a record number, in file order or
// through the index order hooks. Keeps the end and beginning flags, hides
// deleted records when asked, and keeps the record count of shared tables
// in step with the file so that other programs' appends appear.
#include <cstdlib>

#include "foundation/errors.h"
#include "table/native_record.h"
#include "table/work_areas.h"

namespace qd {

namespace {

bool InOrder() { return IndexHooks.OrderActive != nullptr && IndexHooks.OrderActive(); }

// The index read semaphore of an ordered move: taken with Take, given back
// with Release, and given back on the way out if an error report raised.
class IndexHold {
 public:
  IndexHold() = default;
  IndexHold(const IndexHold&) = delete;
  IndexHold& operator=(const IndexHold&) = delete;
  ~IndexHold() { Release(); }
  void Take() {
    if (!held_ && IndexHooks.SetReadSemaphoreProc != nullptr) {
      IndexHooks.SetReadSemaphoreProc(true);
      held_ = true;
    }
  }
  void Release() {
    if (held_) {
      held_ = false;
      IndexHooks.SetReadSemaphoreProc(false);
    }
  }

 private:
  bool held_ = false;
};
void Call(void (*hook)()) {
  if (hook != nullptr) hook();
}

bool ReadAndConvert(WorkArea& area, std::int32_t number,
                    RecordRead why = RecordRead::Positioning) {
  if (!GetDbfRecord(area, number, why)) return false;
  ConvertRecordToNative(area);
  return true;
}

// Records exist but none is visible (or the order holds no key).
void EmptyState(WorkArea& area) {
  area.record_number = area.record_count + 1;
  area.at_end = area.at_beginning = true;
  ClearAreaRecord(area);
}

void AtEnd(WorkArea& area) {
  area.record_number = area.record_count + 1;
  area.at_end = true;
  ClearAreaRecord(area);
}

std::string DatabaseName(const WorkArea& area) { return "Database \"" + area.file_name + "\""; }

}  // namespace

bool RecordVisible(const WorkArea& area) {
  return !(area.ignore_deleted && !area.record.empty() &&
           area.record[dbf::record::kDeletionFlag] == dbf::record::kDeleted);
}

void GoTop() {
  ErrorCode = 0;
  WorkArea* area = RequireTable("GoTop");
  if (area == nullptr || area->record_count == 0) return;
  const bool ordered = InOrder();
  IndexHold hold;
  std::int32_t n = 1;
  if (ordered) {
    hold.Take();
    n = IndexHooks.FirstInOrder();
    if (n == area->record_count + 1) {
      EmptyState(*area);
      hold.Release();
      return;
    }
  }
  bool ok = ReadAndConvert(*area, n);
  while (ok && !RecordVisible(*area) && !area->at_end) {
    std::int32_t candidate = n + 1;
    if (ordered) {
      candidate = IndexHooks.NextInOrder();
      if (IndexHooks.OrderEOF() || candidate == n) candidate = area->record_count + 1;
    }
    if (candidate > area->record_count) {
      EmptyState(*area);
      if (ordered) Call(IndexHooks.ResyncOrder);
      break;
    }
    n = candidate;
    ok = ReadAndConvert(*area, n, ordered ? RecordRead::Positioning : RecordRead::StepForward);
  }
  if (ordered) {
    if (ok) Call(IndexHooks.EndOrderMove);
    hold.Release();
  }
}

void GoBottom() {
  ErrorCode = 0;
  WorkArea* area = RequireTable("GoBottom");
  if (area == nullptr) return;
  RefreshRecordCount(*area);
  if (area->record_count == 0) return;
  const bool ordered = InOrder();
  IndexHold hold;
  std::int32_t n = area->record_count;
  if (ordered) {
    hold.Take();
    n = IndexHooks.LastInOrder();
    if (n == area->record_count + 1) {
      EmptyState(*area);
      hold.Release();
      return;
    }
  }
  bool ok = ReadAndConvert(*area, n);
  while (ok && !RecordVisible(*area)) {
    std::int32_t candidate = n - 1;
    bool finished = candidate < 1;
    if (ordered) {
      candidate = IndexHooks.PriorInOrder();
      finished = IndexHooks.OrderBOF() || candidate == n;
    }
    if (finished || candidate < 1 || candidate > area->record_count) {
      EmptyState(*area);
      if (ordered) {
        Call(IndexHooks.ResyncOrder);
        Call(IndexHooks.SetOrderBOF);
        Call(IndexHooks.SetOrderEOF);
      }
      break;
    }
    n = candidate;
    ok = ReadAndConvert(*area, n, ordered ? RecordRead::Positioning : RecordRead::StepBackward);
  }
  if (ordered) {
    if (ok) Call(IndexHooks.EndOrderMove);
    hold.Release();
  }
}

void Skip(std::int32_t n) {
  ErrorCode = 0;
  WorkArea* area = RequireTable("SKIP()");
  if (area == nullptr) return;
  if (n == 0) {
    if (area->record_count >= 1 && !area->at_end && area->record_number >= 1 &&
        area->record_number <= area->record_count)
      ReadAndConvert(*area, area->record_number);
    else
      ClearAreaRecord(*area);
    return;
  }
  // An empty table says so whichever way the step goes (its end flag is set
  // too, which would otherwise read as "past EOF" going forwards).
  if (area->record_count == 0) {
    area->at_end = area->at_beginning = true;
    SetError(212, DatabaseName(*area) + " is empty. [SKIP]");
    return;
  }
  if (n > 0 && area->at_end) {
    SetError(212, DatabaseName(*area) + " is past EOF. [SKIP]");
    return;
  }
  if (n < 0 && dBOF()) return;

  area->at_end = area->at_beginning = false;
  const bool ordered = InOrder();
  IndexHold hold;
  if (ordered) hold.Take();
  const bool forward = n > 0;
  std::int64_t remaining = std::llabs(static_cast<long long>(n));
  std::int32_t current = area->record_number;
  bool hit_end = false;
  while (remaining > 0) {
    std::int32_t candidate;
    if (ordered) {
      candidate = forward ? IndexHooks.NextInOrder() : IndexHooks.PriorInOrder();
      if (candidate == current) {
        hit_end = true;
        break;
      }
    } else if (forward) {
      candidate = current + 1;
      if (candidate > area->record_count) {
        // Only a step past the count known so far needs the file's size.
        RefreshRecordCount(*area);
        if (candidate > area->record_count) {
          hit_end = true;
          break;
        }
      }
    } else {
      if (current <= 1) {
        hit_end = true;
        break;
      }
      candidate = current - 1;
      if (candidate > area->record_count) candidate = area->record_count;
    }
    // Steps in natural order may be served from the read-ahead block; steps
    // through an index order read each record from the file.
    const RecordRead why = ordered   ? RecordRead::Positioning
                           : forward ? RecordRead::StepForward
                                     : RecordRead::StepBackward;
    if (!ReadAndConvert(*area, candidate, why)) {
      if (ordered) hold.Release();
      return;
    }
    current = candidate;
    if (RecordVisible(*area)) --remaining;
  }
  if (hit_end) {
    if (forward) {
      AtEnd(*area);
      if (ordered) Call(IndexHooks.ResyncOrder);
    } else {
      GoTop();
      area->at_beginning = true;
      if (ordered) Call(IndexHooks.SetOrderBOF);
      if (area->at_end) ClearAreaRecord(*area);
    }
  }
  if (ordered) {
    hold.Release();
    Call(IndexHooks.EndOrderMove);
  }
}

void Go(std::int32_t n) {
  ErrorCode = 0;
  WorkArea* area = RequireTable("GO()");
  if (area == nullptr) return;
  if (n > area->record_count) RefreshRecordCount(*area);
  auto text = [&] {
    return "Invalid record number = " + std::to_string(n) + " " + DatabaseName(*area) + " [GO]";
  };
  if (area->record_count == 0) {
    area->at_end = area->at_beginning = true;
    ClearAreaRecord(*area);
    SetError(212, text());
    return;
  }
  if (n >= 1 && n <= area->record_count) {
    area->at_end = area->at_beginning = false;
    const bool ordered = InOrder();
    IndexHold hold;
    if (ordered) hold.Take();
    const bool ok = ReadAndConvert(*area, n);
    if (ordered) {
      if (ok) {
        Call(IndexHooks.ResyncOrder);
        Call(IndexHooks.EndOrderMove);
      }
      hold.Release();
    }
    return;
  }
  area->record_number = area->record_count + 1;
  area->at_end = true;
  SetError(212, text());
}

namespace {
constexpr const char* kRawGoText = " [Dbf4RawGo]";
}  // namespace

void RawGo(std::int32_t n) {
  WorkArea* area = RequireTable("Dbf4RawGo");
  if (area == nullptr) return;
  if (area->record_count == 0 && n >= 1) {  // an empty table stays at record 0
    area->at_end = area->at_beginning = true;
    ClearAreaRecord(*area);
    return;
  }
  if (n > area->record_count) {
    AtEnd(*area);
    return;
  }
  // Every failure is reported under RawGo's name alone.
  if (n < 1) {
    SetError(212, kRawGoText);
    return;
  }
  const bool dispatch = SetImmediateDispatch(false);
  const bool ok = ReadAndConvert(*area, n);
  SetImmediateDispatch(dispatch);
  if (!ok) SetError(ErrorCode, kRawGoText);
}

bool GoIfValid(std::int32_t n) {
  if (n < 1 || CurrentWorkArea() == nullptr || n > RecCount()) return false;
  Go(n);
  return true;
}

bool dEOF() {
  WorkArea* area = RequireTable("dEOF");
  if (area == nullptr) return true;
  // Only a record number beyond the known count, or a table empty so far,
  // needs the file's size: the count refreshed here lets the next GoTop of
  // a shared table that was empty find another program's first records.
  if (area->record_number > area->record_count || area->record_count == 0) {
    RefreshRecordCount(*area);
    if (area->record_number > area->record_count) area->at_end = true;
  }
  if (InOrder()) return IndexHooks.OrderEOF();
  return area->at_end;
}

bool dBOF() {
  WorkArea* area = RequireTable("dBOF");
  if (area == nullptr) return true;
  if (InOrder()) return IndexHooks.OrderBOF();
  return area->at_beginning;
}

std::int32_t RecNo() {
  WorkArea* area = RequireTable("RecNo");
  return area ? area->record_number : 0;
}

std::int32_t RecCount() {
  WorkArea* area = RequireTable("RecCount");
  if (area == nullptr) return 0;
  RefreshRecordCount(*area);
  return area->record_count;
}

bool SetIgnoreDel(bool value) {
  WorkArea* area = RequireTable("SetIgnoreDel");
  if (area == nullptr) return false;
  const bool previous = area->ignore_deleted;
  area->ignore_deleted = value;
  Skip(0);
  return previous;
}

}  // namespace qd
