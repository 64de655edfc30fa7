// The file dataset: the concrete dataset over a DBF file. It builds the
// engine's open request from its properties (exclusive use, alias, read-only
// use, record-count correction, record hooks) and performs every record
// update under the engine's append or record lock, with an event that lets
// the host retry a refused lock. TQdDbf is the published component hosts
// create.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dataset/table_dataset.h"
#include "framework/classes.h"
#include "table/work_areas.h"

namespace qd {

// What to do with the table's production index when the table opens.
enum TCreateIndexType : std::uint8_t { ciNotFound = 0, ciAlways = 1, ciVerifyHeader = 2, ciNever = 3 };

// Called when a lock was refused; Retry is false on entry, and a handler that
// sets it to true makes the operation try the lock again.
using TQdLockFailedEvent = std::function<void(fw::TComponent* sender, bool& retry)>;
// Before an index build, with the index file's name; CanMake false vetoes it.
using TBeforeMakeIndexEvent = std::function<void(const std::string& name, bool& can_make)>;
// After an index build, with the index file's name.
using TAfterMakeIndexEvent = std::function<void(const std::string& name)>;

class TQdFileDataSet : public TQdCDataSet {
 public:
  explicit TQdFileDataSet(fw::TComponent* owner = nullptr);
  ~TQdFileDataSet() override;

  // ------------------------------------------------------- properties ---
  TCreateIndexType CreateIndex() const { return create_index_; }
  void SetCreateIndex(TCreateIndexType value) { create_index_ = value; }
  // Create a missing table from DbfFields when opening (on by default).
  bool CreateIfNotFound() const { return create_if_not_found_; }
  void SetCreateIfNotFound(bool value) { create_if_not_found_ = value; }
  // Take the record count from the file size when opening (off by default).
  bool AutoFixRecCount() const { return auto_fix_rec_count_; }
  void SetAutoFixRecCount(bool value) { auto_fix_rec_count_ = value; }
  // Index definitions, two lines per tag.
  fw::TStringList& IndexList() { return *index_list_; }
  bool Exclusive() const { return exclusive_; }
  // A different value closes an active dataset and opens it again.
  void SetExclusive(bool value);

  // ---------------------------------------------------------- events ---
  TBeforeMakeIndexEvent OnBeforeMakeIndex;
  TAfterMakeIndexEvent OnAfterMakeIndex;
  TQdLockFailedEvent OnRLockFailedOnPost;     // record lock, posting an edit
  TQdLockFailedEvent OnALockFailedOnInsert;   // append lock, adding a record
  TQdLockFailedEvent OnRLockFailedOnDelete;   // record lock, deleting
  TQdLockFailedEvent OnRLockFailedOnRestore;  // record lock, recalling

  // Record hooks, empty unless the host fills them: with either present the
  // table opens with them installed (UseWithHooks). They take effect at the
  // next open.
  RecordHook AfterReadHook;
  RecordHook BeforeWriteHook;

  // ------------------------------------------------------ operations ---
  // Seeks the key (cut to 100 characters) in the current index order and
  // shows the record found; not found shows the last record. Answers whether
  // the key was found.
  bool Find(const std::string& key);
  // The same with the key's whole length compared.
  bool FindExact(const std::string& key);
  // False while filtered or while an index order is active.
  bool IsSequenced() override;
  bool Locate(const std::string& key_fields, const fw::Variant& key_values,
              fw::TLocateOptions options) override;
  // A memo field's value of the active record as a stream (TQdBlobStream,
  // blob_stream.h) in the requested mode; text is converted from and to the
  // OEM code page when TableLanguage is tlOem.
  std::unique_ptr<fw::TStream> CreateBlobStream(fw::TField* field, fw::TBlobStreamMode mode) override;

 protected:
  bool OpenTable(const std::string& file_name) override;
  void s_AppendWithLock() override;
  void s_DeleteWithLock() override;
  void s_RestoreWithLock() override;
  void s_ReplaceWithLock() override;
  // An exclusive table is not held open in the designer.
  bool KeepsTableOpen() override { return !(Designing() && exclusive_); }
  // Opens, verifies or builds the table's production index after the table
  // opened, as CreateIndex and IndexList ask; answers success. A failure
  // leaves the table closed and its code in ErrorCode.
  virtual bool OpenIndexes();
  // Locate through the current index order (only called while one is
  // active): the key values' text is sought with Find (partial key) or
  // FindExact; the key field names are not used.
  virtual bool LocateInOrder(const std::string& key_fields, const fw::Variant& key_values,
                             fw::TLocateOptions options);
  // Shows the engine's record after a search: the record found, or the last
  // one when the search ended at end of file.
  void AfterIndexSearch();

 private:
  friend class TQdBlobStream;
  struct LockedUpdate;
  void UpdateWithLock(const LockedUpdate& update);
  bool Search(const std::string& key, bool exact, const char* label);
  // The OpenIndexes steps.
  TCreateIndexType ChooseIndexMode(TCreateIndexType mode, const std::string& index_name);
  bool BuildIndex(const std::string& index_name);
  bool FailOpen();

  TCreateIndexType create_index_ = ciNotFound;
  bool create_if_not_found_ = true;
  bool auto_fix_rec_count_ = false;
  std::unique_ptr<fw::TStringList> index_list_;
  bool exclusive_ = false;
};

// The component hosts create: the file dataset with its properties published.
class TQdDbf : public TQdFileDataSet {
 public:
  using TQdFileDataSet::TQdFileDataSet;
};

}  // namespace qd
