// The file dataset: the open request built from the component's properties,
// and the record updates under the engine's locks with their retry events.
#include "dataset/file_dataset.h"

#include <cstring>

#include "dataset/blob_stream.h"
#include "dataset/field_classes.h"
#include "dataset/qd_msg.h"
#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "framework/sysutils.h"
#include "indexes/index_build.h"
#include "indexes/index_file.h"
#include "indexes/index_navigation.h"
#include "indexes/keys.h"
#include "indexes/semaphore.h"
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

// Keys are at most 100 characters; Locate's key text at most 255.
constexpr std::size_t kKeyLimit = 100;
constexpr std::size_t kLocateTextLimit = 255;
// Index list limits: tags, and the lengths of a tag's parts.
constexpr int kMaxListedTags = 255;
constexpr std::size_t kTagNameLimit = 10;
constexpr std::size_t kExpressionLimit = 220;
// Progress steps the builder reports per tag.
constexpr int kProgressSteps = 100;

// Opening with these codes finds no usable index: it is built anew.
bool RebuildCode(std::uint16_t code) { return code == 2 || code == 222 || code == 223; }

// The name with its extension (if any) replaced by `extension`.
std::string WithExtension(const std::string& name, const std::string& extension) {
  const std::size_t slash = name.find_last_of("/\\:");
  const std::size_t dot = name.find_last_of('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (has_extension ? name.substr(0, dot) : name) + "." + extension;
}

// The index list as tag definitions, two lines per tag:
//   NAME,D,U,KEY EXPRESSION     D and U are "T" for descending, unique
//   FOR CONDITION               empty for none
std::vector<TagDefinition> TagDefinitions(const fw::TStrings& list) {
  std::vector<TagDefinition> tags;
  const int count = std::min(list.Count() / 2, kMaxListedTags);
  for (int k = 0; k < count; ++k) {
    const std::string& line = list[2 * k];
    TagDefinition tag;
    const std::size_t comma = line.find(',');
    tag.name = line.substr(0, std::min(comma, kTagNameLimit));
    if (comma != std::string::npos) {
      const std::string rest = line.substr(comma + 1);
      tag.descending = rest.size() > 0 && rest[0] == 'T';
      tag.unique = rest.size() > 2 && rest[2] == 'T';
      if (rest.size() > 4) tag.key_expression = rest.substr(4, kExpressionLimit);
    }
    tag.for_condition = list[2 * k + 1].substr(0, kExpressionLimit);
    tags.push_back(std::move(tag));
  }
  return tags;
}

// An index list line as the index file's tag list shows it: tag lines
// (even positions) with the name trimmed and the key expression, and FOR
// lines, in the form the index keeps expressions (blanks dropped, literals
// in double quotes). A list that built the file reads back equal.
std::string StoredListLine(const std::string& line, bool tag_line) {
  if (!tag_line) {
    std::string condition = AllTrim(line);
    if (!condition.empty()) NormaliseExpression(condition, false);
    return condition;
  }
  const std::size_t comma = line.find(',');
  if (comma == std::string::npos || line.size() < comma + 5) return line;
  std::string key = line.substr(comma + 5);
  NormaliseExpression(key, false);
  return AllTrim(line.substr(0, comma)) + line.substr(comma, 5) + key;
}

bool SameListLine(const std::string& listed, const std::string& stored, bool tag_line) {
  return fw::SameText(listed, stored) || fw::SameText(StoredListLine(listed, tag_line), stored);
}

// True when another program has the table's index open: its semaphore file
// exists. A semaphore file from an earlier day is left over from a program
// that ended without logging out, and is erased first.
bool IndexInUseElsewhere(const std::string& table_file) {
  const std::string semaphore = SemaphoreFileName(table_file);
  if (!FileExists(semaphore)) return false;
  if (!FileDatedToday(semaphore)) EraseFile(semaphore);
  return FileExists(semaphore);
}

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

bool TQdFileDataSet::OpenIndexes() {
  if (Designing()) return true;
  const int listed_tags = std::min(IndexList().Count() / 2, kMaxListedTags);
  TCreateIndexType mode = create_index_;
  if (listed_tags > 0) {
    SetProductionFlag(true);
  } else {
    if (!GetProductionFlag()) return true;
    mode = ciNever;
  }
  const std::string index_name = WithExtension(DbfFileName(), "MDX");
  try {
    if (mode == ciNever) {
      SetIndexTo(index_name);
      return ErrorCode == 0 || FailOpen();
    }
    mode = ChooseIndexMode(mode, index_name);
    if (ErrorCode != 0) return FailOpen();
    if (mode == ciAlways && !BuildIndex(index_name)) return FailOpen();
  } catch (...) {
    // An index that cannot be opened or built must not leave the table
    // open without it: changes made then would not reach the index.
    const std::uint16_t code = ErrorCode;
    const std::string text = ErrorText;
    Use("", nullptr, 0);
    ErrorCode = code;
    ErrorText = text;
    throw;
  }
  return true;
}

// Closes the table after a failed index open, keeping the failure's code and
// text for the caller.
bool TQdFileDataSet::FailOpen() {
  const std::uint16_t code = ErrorCode;
  const std::string text = ErrorText;
  Use("", nullptr, 0);
  ErrorCode = code;
  ErrorText = text;
  return false;
}

// Opening an existing index (ciNever is handled by the caller): decides
// whether the file is opened as it is (ciNotFound) or built anew (ciAlways),
// and opens it in the first case. Errors stay in ErrorCode.
TCreateIndexType TQdFileDataSet::ChooseIndexMode(TCreateIndexType mode,
                                                 const std::string& index_name) {
  // Failures here are looked at, not delivered: dispatch is deferred.
  RestoreOnExit<bool> dispatch_guard(ImmediateDispatch);
  ImmediateDispatch = false;

  if (FileExists(ResolveIndexName(index_name))) {
    if ((mode == ciAlways || mode == ciVerifyHeader) &&
        IndexInUseElsewhere(CurrentWorkArea()->file_name))
      mode = ciNotFound;
    ErrorCode = 0;
  } else {
    mode = ciAlways;
  }

  if (mode == ciVerifyHeader) {
    std::vector<std::string> lines;
    TagList(lines, index_name);
    mode = ciNotFound;
    if (IndexList().Count() == 0) {
      for (const std::string& line : lines) IndexList().Add(line);
    } else if (static_cast<std::size_t>(IndexList().Count()) != lines.size()) {
      mode = ciAlways;
    } else {
      for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!SameListLine(IndexList()[static_cast<int>(i)], lines[i], i % 2 == 0)) {
          mode = ciAlways;
          break;
        }
      }
    }
    ErrorCode = 0;
  }

  if (mode == ciNotFound) {
    try {
      SetIndexTo(index_name);
    } catch (const EQuindleError&) {
      // Reading the tree while positioning, or the semaphore login, raised;
      // the code tells whether a rebuild repairs it.
      if (!RebuildCode(ErrorCode)) throw;
    }
    if (RebuildCode(ErrorCode)) {
      CloseIndex();
      mode = ciAlways;
      ErrorCode = 0;
    }
  }
  return mode;
}

// The build: OnBeforeMakeIndex may veto it; a progress window follows it
// when ShowProgress is set; OnAfterMakeIndex follows it, and a good build is
// opened. False with ErrorCode set when the build or the open failed.
bool TQdFileDataSet::BuildIndex(const std::string& index_name) {
  const std::vector<TagDefinition> tags = TagDefinitions(IndexList());
  // The handlers may use other work areas: the build and the open act on
  // the current one, so this dataset's is selected again after each.
  const int area = Selected();
  bool can_make = true;
  if (OnBeforeMakeIndex) {
    OnBeforeMakeIndex(index_name, can_make);
    Select(area);
  }
  if (!can_make) {
    SetProductionFlag(false);
    return true;
  }
  {
    std::unique_ptr<TQdProgress100> window;
    struct ProgressOff {
      ~ProgressOff() { SetIndexProgress(nullptr, 0); }
    } progress_off;
    if (ShowProgress()) {
      window = std::make_unique<TQdProgress100>(nullptr, "Indexing " + index_name + "...");
      TQdProgress100* shown = window.get();
      SetIndexProgress([shown] { shown->Step(); }, kProgressSteps);
    }
    ErrorCode = 0;
    MakeIndex(tags, index_name);
  }
  if (OnAfterMakeIndex) {
    const std::uint16_t code = ErrorCode;
    OnAfterMakeIndex(index_name);
    Select(area);
    ErrorCode = code;
  }
  if (ErrorCode != 0) return false;
  SetIndexTo(index_name);
  return ErrorCode == 0;
}

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

bool TQdFileDataSet::LocateInOrder(const std::string& key_fields,
                                   const fw::Variant& key_values, fw::TLocateOptions options) {
  // An index open in natural order has no key to seek: the fields are
  // searched instead of reporting that Find needs an order.
  if (CurrentOrder() == 0) return TQdCDataSet::Locate(key_fields, key_values, options);
  std::string text = key_values.AsString();
  if (text.size() > kLocateTextLimit) text.resize(kLocateTextLimit);
  return (options & fw::loPartialKey) != 0 ? Find(text) : FindExact(text);
}

bool TQdFileDataSet::Find(const std::string& key) { return Search(key, false, "Find"); }

bool TQdFileDataSet::FindExact(const std::string& key) { return Search(key, true, "FindExact"); }

bool TQdFileDataSet::Search(const std::string& key, bool exact, const char* label) {
  CheckBrowseMode();
  const std::string cut = key.substr(0, kKeyLimit);
  if (!SelectWorkArea(label)) return false;
  bool found = false;
  {
    const bool was_exact = exact ? SetExactLength() : ExactLength;
    struct ExactBack {
      bool restore;
      ~ExactBack() {
        if (restore) ClearExactLength();
      }
    } exact_back{exact && !was_exact};
    found = qd::Find(cut);
  }
  AfterIndexSearch();
  return found;
}

void TQdFileDataSet::AfterIndexSearch() {
  if (!dEOF())
    ResyncFromEngine();
  else
    Last();
}

std::unique_ptr<fw::TStream> TQdFileDataSet::CreateBlobStream(fw::TField* field,
                                                              fw::TBlobStreamMode mode) {
  if (field == nullptr || !field->IsBlob()) return nullptr;
  if (mode != fw::bmRead && !CanModify()) return nullptr;
  return std::make_unique<TQdBlobStream>(*this, field, mode,
                                         TableLanguage() == TQdTableLanguage::tlOem);
}

}  // namespace qd
