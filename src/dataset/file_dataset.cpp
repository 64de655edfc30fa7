// The file dataset: the open request built from the component's properties,
// and the record updates under the engine's locks with their retry events.
#include "dataset/file_dataset.h"

#include <cstring>

#include "dataset/blob_stream.h"
#include "dataset/field_classes.h"
#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "table/record_updates.h"

namespace qd {

namespace {

bool IndexOrderActive() { return IndexHooks.OrderActive != nullptr && IndexHooks.OrderActive(); }

// Puts a process-wide engine setting back when the scope ends, also when the
// engine raised on the way.
template <typename T>
class RestoreOnExit {
 public:
  explicit RestoreOnExit(T& setting) : setting_(setting), saved_(setting) {}
  ~RestoreOnExit() { setting_ = saved_; }
  RestoreOnExit(const RestoreOnExit&) = delete;
  RestoreOnExit& operator=(const RestoreOnExit&) = delete;

 private:
  T& setting_;
  T saved_;
};

}  // namespace

// One row of the locked updates: which lock, which engine update, whether a
// record the update hid is left for a visible one, the event of a refused
// lock and the word of its warning.
struct TQdFileDataSet::LockedUpdate {
  const char* label;
  bool append_lock;
  void (*update)();
  bool resync_visible;
  TQdLockFailedEvent TQdFileDataSet::*event;
  const char* word;
};

TQdFileDataSet::TQdFileDataSet(fw::TComponent* owner)
    : TQdCDataSet(owner), index_list_(std::make_unique<fw::TStringList>()) {}

TQdFileDataSet::~TQdFileDataSet() { CloseOnDestroy(); }

void TQdFileDataSet::SetExclusive(bool value) {
  if (value == exclusive_) return;
  exclusive_ = value;
  if (Active()) {
    Close();
    Open();
  }
}

bool TQdFileDataSet::OpenTable(const std::string& file_name) {
  ErrorCode = 0;
  if (create_if_not_found_ && !FileExists(file_name) && !CreateTableFromDbfFields())
    ShowWarning("Could not create \"" + DbfFileName() + "\"");

  std::string request = file_name;
  if (exclusive_) request += " EXCLUSIVE";
  const std::string alias = AllTrim(Name());
  if (!alias.empty()) request += " ALIAS " + alias;

  // The open-mode override stays in force while the indexes open; the
  // record-count switch only for the table itself.
  RestoreOnExit<int> override_guard(OpenModeOverride);
  if (ReadOnly()) OpenModeOverride = exclusive_ ? kReadOnlyOpenMode : kReadOnlySharedOpenMode;
  {
    RestoreOnExit<bool> fix_guard(qd::AutoFixRecCount);
    qd::AutoFixRecCount = auto_fix_rec_count_;
    ErrorCode = 0;
    if (AfterReadHook || BeforeWriteHook)
      UseWithHooks(request, nullptr, 0, AfterReadHook, BeforeWriteHook);
    else
      Use(request, nullptr, 0);
  }
  if (ErrorCode != 0) return false;
  return OpenIndexes();
}

bool TQdFileDataSet::OpenIndexes() { return true; }

void TQdFileDataSet::UpdateWithLock(const LockedUpdate& update) {
  if (!CanModify()) return;
  bool refused = false;
  bool retry = false;
  do {
    retry = false;
    // Selected on every attempt: a retry handler may have used other work
    // areas in between.
    if (!SelectWorkArea(update.label)) return;
    if (update.append_lock ? ALock() : RLock()) {
      refused = false;
      try {
        update.update();
      } catch (...) {
        // The engine raised while updating: the lock taken for the update
        // must not stay with the table, or no other program could change
        // the record (or append) until it is closed.
        Unlock();
        throw;
      }
      if (!update.resync_visible || !ResyncVisible()) Unlock();
    } else {
      refused = true;
      // A copy: the handler may assign a new handler while it runs.
      const TQdLockFailedEvent event = this->*update.event;
      if (event) {
        event(this, retry);
      } else {
        ShowWarning("Lock failed [%s]", {update.word});
      }
    }
  } while (retry);
  if (!refused) return;
  // Nothing was written, but the native record may still hold the change
  // (a new record, or the edited fields). Read the current record back from
  // the file, so that the buffers the framework refills after this
  // operation show what is stored.
  if (SelectWorkArea(update.label)) qd::Skip(0);
}

void TQdFileDataSet::s_AppendWithLock() {
  UpdateWithLock({"s_AppendWithLock", true, &qd::Append, true,
                  &TQdFileDataSet::OnALockFailedOnInsert, "Insert"});
}

void TQdFileDataSet::s_DeleteWithLock() {
  UpdateWithLock({"s_DeleteWithLock", false, &qd::DeleteRec, true,
                  &TQdFileDataSet::OnRLockFailedOnDelete, "Delete"});
}

void TQdFileDataSet::s_RestoreWithLock() {
  UpdateWithLock({"s_RestoreWithLock", false, &qd::RecallRec, false,
                  &TQdFileDataSet::OnRLockFailedOnRestore, "Restore"});
}

void TQdFileDataSet::s_ReplaceWithLock() {
  UpdateWithLock({"s_ReplaceWithLock", false, &qd::Replace, true,
                  &TQdFileDataSet::OnRLockFailedOnPost, "Post"});
}

bool TQdFileDataSet::IsSequenced() {
  if (Filtered()) return false;
  // Without a table no index order can be active; selecting would report
  // "Database is not open" for a mere question.
  if (WorkArea() == 0) return true;
  if (!SelectWorkArea("IsSequenced")) return false;
  return !IndexOrderActive();
}

bool TQdFileDataSet::Locate(const std::string& key_fields, const fw::Variant& key_values,
                            fw::TLocateOptions options) {
  CheckActive();
  if (!SelectWorkArea("Locate")) return false;
  if (IndexOrderActive()) return LocateInOrder(key_fields, key_values, options);
  return TQdCDataSet::Locate(key_fields, key_values, options);
}

bool TQdFileDataSet::LocateInOrder(const std::string& key_fields, const fw::Variant& key_values,
                                   fw::TLocateOptions options) {
  return TQdCDataSet::Locate(key_fields, key_values, options);
}

std::unique_ptr<fw::TStream> TQdFileDataSet::CreateBlobStream(fw::TField* field,
                                                              fw::TBlobStreamMode mode) {
  if (field == nullptr || !field->IsBlob()) return nullptr;
  if (mode != fw::bmRead && !CanModify()) return nullptr;
  return std::make_unique<TQdBlobStream>(*this, field, mode,
                                         TableLanguage() == TQdTableLanguage::tlOem);
}

}  // namespace qd
