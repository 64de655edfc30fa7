// The index file of a work area: creating the file header, opening the file
// and its tags with every check, reading and writing tag headers and nodes,
// and closing (see index_file.h).
#include "indexes/index_file.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "indexes/index_navigation.h"
#include "indexes/keys.h"
#include "indexes/node_cache.h"
#include "indexes/node_path.h"
#include "indexes/semaphore.h"
#include "indexes/tag_table.h"
#include "indexes/tag_table_layout.h"

namespace qd {

using namespace table_text;
namespace pf = qd::platform;
namespace th = qd::mdx::tag_header;

namespace {

constexpr std::uint16_t kCorrupted = 222;

// The first failure of a sequence of steps that must all run (closing),
// reported once they have.
struct FirstFailure {
  std::uint16_t code = 0;
  std::string text;
  void Note(std::uint32_t failed, const std::string& what) {
    if (code == 0 && failed != 0) {
      code = static_cast<std::uint16_t>(failed);
      text = what;
    }
  }
};

// The open mode of the index file: shared read/write for a shared table,
// compatibility read/write otherwise; the engine's override replaces both.
std::uint8_t IndexOpenMode(const WorkArea& area) {
  std::uint8_t mode = area.exclusive ? 0x02 : kSharedOpenMode;
  if (OpenModeOverride >= 0) mode = static_cast<std::uint8_t>(OpenModeOverride);
  return mode;
}

std::uint32_t RefreshSize(IndexArea& index) {
  std::uint64_t size = 0;
  const std::uint32_t code = pf::FileSize(index.file, size);
  if (code == 0) index.known_size = size;
  return code;
}

// True when `count` bytes at `offset` lie inside the file (asking the file
// again when they pass the size seen last: another program may have grown it).
bool InsideFile(IndexArea& index, std::uint64_t offset, std::uint64_t count) {
  if (offset + count <= index.known_size) return true;
  RefreshSize(index);
  return offset + count <= index.known_size;
}

std::string Describe(const CurrIndex& tag) {
  const IndexArea& index = *tag.file;
  std::string name;
  if (index.header) {
    const std::uint8_t* entry = index.header->data() + mdx::tag_entry::Offset(tag.tag_number);
    const std::uint8_t* text = entry + mdx::tag_entry::kName;
    const void* end = std::memchr(text, 0, mdx::tag_entry::kMaxNameLength);
    name.assign(reinterpret_cast<const char*>(text),
                end ? static_cast<const std::uint8_t*>(end) - text : mdx::tag_entry::kMaxNameLength);
  }
  return index.file_name + " [tag: " + name + "]";
}

// An expression text field of a tag header: false when it has no
// terminator within its 221 bytes.
bool StoredText(const std::uint8_t* field, std::string& text) {
  const void* end = std::memchr(field, 0, th::kExpressionSize);
  if (end == nullptr) return false;
  text.assign(reinterpret_cast<const char*>(field), static_cast<const std::uint8_t*>(end) - field);
  return true;
}

void StoreText(std::uint8_t* field, const std::string& text) {
  std::memset(field, 0, th::kExpressionSize);
  std::memcpy(field, text.data(), std::min(text.size(), th::kExpressionSize - 1));
}

// Compiles a tag's expression; a failure is no report of its own (the
// caller reports the tag), so it leaves no error behind.
ExprRecord* CompileQuietly(const std::string& text) {
  const bool dispatch = SetImmediateDispatch(false);
  ExprRecord* record = nullptr;
  try {
    record = AssignExpr(text);
  } catch (...) {
    SetImmediateDispatch(dispatch);
    throw;
  }
  SetImmediateDispatch(dispatch);
  if (record == nullptr) {
    ErrorCode = 0;
    TakeErrorText();
  }
  return record;
}

// Runs a step under the read semaphore, giving it back on every way out.
template <typename Step>
auto UnderReadSemaphore(Step&& step) -> decltype(step()) {
  SetReadSemaphoreProc(true);
  try {
    auto result = step();
    SetReadSemaphoreProc(false);
    return result;
  } catch (...) {
    try {
      SetReadSemaphoreProc(false);
    } catch (...) {
    }
    throw;
  }
}

void CountOpenFile(IndexArea& index) {
  if (index.counted) return;
  if (OpenIndexFiles++ == 0 || SharedPath == nullptr) SharedPath = new NodePath;
  index.counted = true;
}

void UncountOpenFile(IndexArea& index) {
  if (SharedPath != nullptr && SharedPath->Owner().file == &index) SharedPath->Reset({});
  if (!index.counted) return;
  index.counted = false;
  if (--OpenIndexFiles <= 0) {
    OpenIndexFiles = 0;
    delete SharedPath;
    SharedPath = nullptr;
  }
}

// Frees every tag, closes the file without writing and frees the header:
// what a failed open leaves behind.
void DiscardIndex(IndexArea& index) {
  for (auto& tag : index.tags) tag.reset();
  index.cache.reset();
  if (index.file != pf::kNoFile) pf::CloseFile(index.file);
  index.file = pf::kNoFile;
  index.known_size = 0;
  index.reserved_until = 0;
  index.header.reset();
  index.header_modified = false;
  UncountOpenFile(index);
}

std::uint16_t WriteAnchorQuietly(CurrIndex& tag) {
  const std::uint16_t code = WriteBlockAt(*tag.file, tag.header_page, tag.header.data(), th::kImageSize);
  if (code == 0) tag.header_modified = false;
  return code;
}

std::uint16_t FlushHeaderQuietly(IndexArea& index) {
  if (!index.header || !index.header_modified || !index.IsOpen()) return 0;
  const std::uint16_t code = WriteBlockAt(index, 0, index.header->data(), mdx::kFileHeaderSize);
  if (code == 0) index.header_modified = false;
  return code;
}

// Flushes the header and closes the file, noting failures.
void CloseIndexFile(IndexArea& index, FirstFailure& failure) {
  if (!index.IsOpen()) return;
  failure.Note(FlushHeaderQuietly(index), "Error writing index file:  " + index.file_name + " [CloseIndex]");
  failure.Note(pf::CloseFile(index.file), "Error closing index file:  " + index.file_name);
  index.file = pf::kNoFile;
  index.cache.reset();
  index.known_size = 0;
  index.reserved_until = 0;
  UncountOpenFile(index);
}

// Retries a byte lock on the index file the way the semaphore does, so that
// another program's short write of its own anchor does not cost ours.
std::uint32_t LockIndexByte(IndexArea& index) {
  std::uint32_t code = 0;
  for (int attempt = 1; attempt <= kSemaphoreLockAttempts; ++attempt) {
    code = pf::LockRange(index.file, 0, 1);
    if (code == 0) return 0;
    if (attempt < kSemaphoreLockAttempts) pf::SleepMs(SemaphoreLockPause);
  }
  return code;
}

// Closes the tag in a slot, noting failures; the last tag closes the file.
void CloseTagNoting(IndexArea& index, int slot, FirstFailure& failure) {
  CurrIndex* tag = index.tags[static_cast<std::size_t>(slot)].get();
  if (tag == nullptr) return;
  if (tag->header_modified && index.IsOpen()) {
    const WorkArea* area = CurrentWorkArea();
    const bool shared = area != nullptr && !area->exclusive;
    const std::string description = Describe(*tag);
    std::uint32_t lock = shared ? LockIndexByte(index) : 0;
    failure.Note(lock, "Could not lock index for writing anchor node " + description);
    if (lock == 0) {
      failure.Note(WriteAnchorQuietly(*tag), "Error writing index file:  " + description + " [WriteAnchor]");
      if (shared) {
        failure.Note(pf::UnlockRange(index.file, 0, 1),
                     "Could not unlock index after writing anchor node " + description);
      }
    }
  }
  index.tags[static_cast<std::size_t>(slot)].reset();
  const bool others = std::any_of(index.tags.begin(), index.tags.end(), [](const auto& t) { return t != nullptr; });
  if (!others) CloseIndexFile(index, failure);
}

void Report(const FirstFailure& failure) {
  if (failure.code != 0) RaiseError(failure.code, failure.text);
}

// Evaluates a character tag's key on the table's blank record (record
// count + 1) and returns the length of its text; the key, padded to the
// key length, becomes the tag's key buffer. The record is restored.
std::size_t BlankRecordKeyLength(WorkArea& area, CurrIndex& tag, int slot) {
  struct Restore {
    WorkArea& area;
    std::vector<std::uint8_t> record;
    std::int32_t number;
    int key_tag;
    ~Restore() {
      area.record = std::move(record);
      area.record_number = number;
      KeyTagNumber = key_tag;
    }
  } restore{area, area.record, area.record_number, KeyTagNumber};
  std::fill(area.record.begin(), area.record.end(), ' ');
  area.record_number = area.record_count + 1;
  KeyTagNumber = slot;
  IndexExpr = tag.key_expr;
  const std::uint8_t* key = tag.key_maker();
  const std::size_t length = std::strlen(reinterpret_cast<const char*>(key));
  const std::size_t kept = std::min(length, static_cast<std::size_t>(tag.key_length));
  std::memcpy(tag.key.data(), key, kept);
  std::memset(tag.key.data() + kept, ' ', static_cast<std::size_t>(tag.key_length) - kept);
  tag.key[static_cast<std::size_t>(tag.key_length)] = 0;
  return length;
}

// Checks the key layout of a tag header against its key type: 0, 266 for a
// key length the type cannot have, 222 for item lengths and capacities
// that do not fit a node.
std::uint16_t CheckKeyLayout(CurrIndex& tag) {
  const std::uint8_t* h = tag.header.data();
  tag.key_length = Get16(h + th::kKeyLength);
  tag.item_length = Get16(h + th::kItemLength);
  tag.max_keys = Get16(h + th::kMaxKeys);
  int wanted = kNumericKeyLength;
  if (tag.key_type == 'D') wanted = kDateKeyLength;
  if (tag.key_type == 'C') {
    if (tag.key_length < 1 || tag.key_length > kMaxKeyLength) return 266;
  } else if (tag.key_length != wanted) {
    return 266;
  }
  if (tag.item_length < tag.key_length + static_cast<int>(mdx::node::kPointerSize) ||
      tag.item_length > static_cast<int>(mdx::node::kEntrySpace)) {
    return kCorrupted;
  }
  if (tag.max_keys < 1 || tag.max_keys > NodeCapacity(tag.item_length)) return kCorrupted;
  return 0;
}

// The code of a failed node read as opening reports it.
std::uint16_t AsOpenCode(std::uint16_t code) { return code == 0 ? 0 : kCorrupted; }

std::uint16_t OpenTagIn(WorkArea& area, IndexArea& index, int number) {
  std::uint8_t* file_header = index.Header();
  auto tag = std::make_unique<CurrIndex>();
  tag->tag_number = static_cast<std::uint8_t>(number);
  tag->file = &index;
  tag->header_page = Get32(file_header + mdx::tag_entry::Offset(number) + mdx::tag_entry::kHeaderPage);
  const std::uint64_t offset = static_cast<std::uint64_t>(tag->header_page) * mdx::kPageSize;
  if (tag->header_page < mdx::kFirstBlockPage || !InsideFile(index, offset, th::kImageSize)) return kCorrupted;
  std::size_t done = 0;
  if (pf::ReadAt(index.file, offset, tag->header.data(), th::kImageSize, done) != 0 ||
      done < th::kImageSize) {
    return kCorrupted;
  }

  // The expressions are normalised in the header image, so that a later
  // WriteAnchor stores the normalised texts.
  std::string key_text;
  if (!StoredText(tag->header.data() + th::kKeyExpression, key_text)) return kCorrupted;
  NormaliseExpression(key_text, false);
  StoreText(tag->header.data() + th::kKeyExpression, key_text);
  if (key_text.empty()) return kCorrupted;
  tag->key_expr = CompileQuietly(key_text);
  if (tag->key_expr == nullptr) return kCorrupted;
  std::string for_text;
  if (!StoredText(tag->header.data() + th::kForExpression, for_text)) return kCorrupted;
  if (!for_text.empty()) {
    NormaliseExpression(for_text, false);
    StoreText(tag->header.data() + th::kForExpression, for_text);
    tag->for_expr = CompileQuietly(for_text);
    // A condition must be logical: its result is read as a logical value.
    if (tag->for_expr == nullptr || tag->for_expr->result_type != 'L') return kCorrupted;
  }
  tag->key_maker = TagFileKeyMaker;

  tag->key_type = tag->key_expr->result_type;
  tag->header[th::kKeyType] = static_cast<std::uint8_t>(tag->key_type);
  tag->descending = (tag->header[th::kKeyFormat] & th::kFormatDescending) != 0;
  tag->compare = ChooseComparison(tag->key_type, tag->descending);
  if (tag->compare == nullptr) return kCorrupted;
  if (const std::uint16_t code = CheckKeyLayout(*tag); code != 0) return code;
  tag->char_key = tag->key_type == 'C';

  CurrIndex& opened = *tag;
  index.tags[static_cast<std::size_t>(number)] = std::move(tag);
  if (number == 1 && SharedPath != nullptr) SharedPath->Reset({&index, 1});

  if (opened.char_key) {
    if (BlankRecordKeyLength(area, opened, number) != static_cast<std::size_t>(opened.key_length)) return 266;
  } else {
    std::memset(opened.key.data(), 0, opened.key.size());
  }
  // The root must be a node of the file.
  const std::int32_t root = static_cast<std::int32_t>(opened.RootPage());
  if (const std::uint16_t code = ReadNodeAt(index, root, opened.node.data()); code != 0) return AsOpenCode(code);
  if (area.record_count == 0) {
    opened.before_first = opened.after_last = true;
    if (opened.char_key) std::memset(opened.key.data(), ' ', static_cast<std::size_t>(opened.key_length));
    opened.node_in_use = opened.node.data();
    opened.node_page = root;
    opened.entry = opened.node.data() + mdx::node::kEntries;
    if (number == 1 && SharedPath != nullptr) SharedPath->Push(root, opened.node.data());
  } else {
    opened.node_in_use = index.empty_node.data();
    opened.node_page = -1;
    opened.entry = opened.node_in_use + mdx::node::kEntries;
    // The table moves to the first visible record in tag 1's order. A node
    // on the way that cannot be followed makes the file corrupted.
    if (number == 1) {
      try {
        PositionOnOpen();
      } catch (const EQuindleError&) {
        return kCorrupted;
      }
    }
  }
  return 0;
}

}  // namespace

// --------------------------------------------------------------- the file --

std::uint16_t ReadNodeAt(IndexArea& index, std::int32_t page, std::uint8_t* buffer) {
  if (page < static_cast<std::int32_t>(mdx::kFirstBlockPage)) return kCorrupted;
  const std::uint64_t offset = static_cast<std::uint64_t>(page) * mdx::kPageSize;
  if (!InsideFile(index, offset, mdx::kBlockSize)) return kCorrupted;
  std::size_t done = 0;
  const std::uint32_t code = pf::ReadAt(index.file, offset, buffer, mdx::kBlockSize, done);
  if (code != 0) return static_cast<std::uint16_t>(code);
  if (done < mdx::kBlockSize) return kCorrupted;
  Put16(buffer + mdx::node::kModified, 0);
  return 0;
}

std::uint16_t WriteBlockAt(IndexArea& index, std::uint32_t page, const std::uint8_t* bytes, std::size_t count) {
  if (index.cache) index.cache->Drop(page, count);
  const std::uint64_t offset = static_cast<std::uint64_t>(page) * mdx::kPageSize;
  std::size_t done = 0;
  const std::uint32_t code = pf::WriteAt(index.file, offset, bytes, count, done);
  if (code != 0 || done < count) return WriteErrorCode(code);
  index.known_size = std::max(index.known_size, offset + count);
  return 0;
}

std::uint32_t EndOfFilePage(IndexArea& index) {
  RefreshSize(index);
  return static_cast<std::uint32_t>(index.known_size / mdx::kPageSize);
}

bool CreateMdxHeader(const std::string& file_name) {
  WorkArea* area = RequireTable("CreateMdxHeader");
  if (area == nullptr) return false;
  IndexArea& index = EnsureIndexArea(*area);
  if (index.IsOpen()) DiscardIndex(index);
  try {
    index.header = std::make_unique<std::array<std::uint8_t, mdx::kFileHeaderSize>>();
  } catch (const std::bad_alloc&) {
    SetError(217, " to allocate index header buffer [CreateMdxHeader]");
    return false;
  }
  index.header_modified = false;
  index.file_name = file_name;
  std::uint8_t* h = index.header->data();
  const std::uint8_t mode = IndexOpenMode(*area);
  if (pf::FileExists(file_name)) {
    std::uint32_t code = pf::OpenFile(file_name, mode, index.file);
    std::size_t done = 0;
    if (code == 0) code = pf::ReadAt(index.file, 0, h, mdx::kFileHeaderSize, done);
    if (code == 0 && done < mdx::kFileHeaderSize) code = kCorrupted;
    if (code != 0) {
      DiscardIndex(index);
      SetError(static_cast<std::uint16_t>(code), "Unable to open index: " + file_name + " [CreateMdxHeader]");
      return false;
    }
    RefreshSize(index);
    return true;
  }
  namespace fh = mdx::header;
  int year = 0, month = 0, day = 0;
  pf::LocalDate(year, month, day);
  const std::uint8_t date[3] = {static_cast<std::uint8_t>(year - 1900), static_cast<std::uint8_t>(month),
                                static_cast<std::uint8_t>(day)};
  h[fh::kVersion] = fh::kVersionValue;
  std::memcpy(h + fh::kCreated, date, 3);
  std::memcpy(h + fh::kUpdated, date, 3);
  // The table's name, cut to the 15 characters its field holds.
  const std::string table = WithoutExtension(std::string_view(area->file_name).substr(NameStart(area->file_name)));
  std::memcpy(h + fh::kTableName, table.data(), std::min(table.size(), fh::kTableNameSize - 1));
  Put16(h + fh::kBlockPages, mdx::kPagesPerBlock);
  Put16(h + fh::kBlockBytes, mdx::kBlockSize);
  h[fh::kProduction] = 1;
  h[fh::kTagTableEntries] = fh::kTagTableEntriesValue;
  h[fh::kTagEntryLength] = fh::kTagEntryLengthValue;
  std::uint32_t code = pf::CreateNewFile(file_name, mode, index.file);
  if (code == 0) code = WriteBlockAt(index, 0, h, mdx::kFileHeaderSize);
  if (code != 0) {
    DiscardIndex(index);
    SetError(static_cast<std::uint16_t>(code), "Unable to create index: " + file_name + " [CreateMdxHeader]");
    return false;
  }
  return true;
}

void FlushMdxHeader() {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr) return;
  if (const std::uint16_t code = FlushHeaderQuietly(*index); code != 0) {
    RaiseError(code, "Error writing index file:  " + index->file_name + " [FlushMdxHeader]");
  }
}

void CloseMdxHeader() {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr) return;
  FirstFailure failure;
  CloseIndexFile(*index, failure);
  index->header.reset();
  index->header_modified = false;
  Report(failure);
}

bool OpenIndexFile(const std::string& file_name) {
  WorkArea* area = RequireTable("SetIndexTo");
  if (area == nullptr) return false;
  IndexArea& index = EnsureIndexArea(*area);
  DiscardIndex(index);
  // Whatever this open leaves half done goes again on every way out.
  struct Attempt {
    IndexArea& index;
    bool done = false;
    ~Attempt() {
      if (!done) DiscardIndex(index);
    }
  } attempt{index};

  index.file_name = file_name;
  try {
    index.header = std::make_unique<std::array<std::uint8_t, mdx::kFileHeaderSize>>();
  } catch (const std::bad_alloc&) {
    SetError(217, " to allocate index header buffer [SetIndexTo]");
    return false;
  }
  const std::string unable = "Unable to open index: " + file_name;
  if (const std::uint32_t code = pf::OpenFile(file_name, IndexOpenMode(*area), index.file); code != 0) {
    index.file = pf::kNoFile;
    SetError(static_cast<std::uint16_t>(code), unable);
    return false;
  }
  if (const std::uint32_t code = RefreshSize(index); code != 0) {
    SetError(static_cast<std::uint16_t>(code), unable);
    return false;
  }
  if (index.known_size < mdx::kSmallestIndexFile) {
    SetError(kCorrupted, unable);
    return false;
  }
  const std::uint32_t read = UnderReadSemaphore([&]() -> std::uint32_t {
    std::size_t done = 0;
    const std::uint32_t code = pf::ReadAt(index.file, 0, index.Header(), mdx::kFileHeaderSize, done);
    return code != 0 ? code : done < mdx::kFileHeaderSize ? kCorrupted : 0;
  });
  if (read != 0) {
    SetError(static_cast<std::uint16_t>(read), unable);
    return false;
  }
  CountOpenFile(index);
  const std::string corrupted = "Invalid dBASE key expression or corrupted index file " + file_name;
  const int count = TagCount(index.Header());
  if (count > mdx::kMaxTags) {
    SetError(kCorrupted, corrupted);
    return false;
  }
  for (int number = 1; number <= count; ++number) {
    const std::uint16_t code = UnderReadSemaphore([&]() -> std::uint16_t {
      try {
        return OpenTagIn(*area, index, number);
      } catch (const std::bad_alloc&) {
        return 217;
      }
    });
    switch (code) {
      case 0:
        continue;
      case 217:
        SetError(217, "Insufficient memory to open index: " + file_name);
        return false;
      case 266:
        SetError(266, "Incorrect key length: Must be 1 to 100. " + file_name);
        return false;
      default:
        SetError(code, corrupted);
        return false;
    }
  }
  attempt.done = true;
  return true;
}

std::uint16_t OpenTag(int number) {
  WorkArea* area = CurrentWorkArea();
  IndexArea* index = CurrentIndexArea();
  if (area == nullptr || index == nullptr || !index->IsOpen() || index->header == nullptr || number < 1 ||
      number > std::min(TagCount(index->Header()), mdx::kMaxTags)) {
    return kCorrupted;
  }
  index->tags[static_cast<std::size_t>(number)].reset();
  std::uint16_t code = 0;
  try {
    code = OpenTagIn(*area, *index, number);
  } catch (const std::bad_alloc&) {
    code = 217;
  }
  if (code != 0) index->tags[static_cast<std::size_t>(number)].reset();
  return code;
}

void CloseTag(int slot) {
  if (slot < 1 || slot > mdx::kMaxTags) return;
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || index->tags[static_cast<std::size_t>(slot)] == nullptr) return;
  FirstFailure failure;
  CloseTagNoting(*index, slot, failure);
  if (index->IsOpen()) {
    Report(failure);
    return;
  }
  // That was the last tag: the file is closed, the login goes too.
  index->header.reset();
  index->header_modified = false;
  std::exception_ptr logout_failure;
  try {
    HandleSemafore(LOGOUT);
  } catch (...) {
    logout_failure = std::current_exception();
  }
  Report(failure);
  if (logout_failure) std::rethrow_exception(logout_failure);
}

void CloseIndex() {
  WorkArea* area = CurrentWorkArea();
  if (area == nullptr) return;
  IndexArea* index = IndexAreaOf(*area);
  if (index == nullptr) return;
  index->natural_order = false;
  FirstFailure failure;
  for (int slot = 1; slot <= mdx::kMaxTags; ++slot) CloseTagNoting(*index, slot, failure);
  CloseIndexFile(*index, failure);
  index->header.reset();
  index->header_modified = false;
  // Everything is closed before anything is reported; a failed logout is
  // reported after the failures noted before it.
  std::exception_ptr logout_failure;
  try {
    HandleSemafore(LOGOUT);
  } catch (...) {
    logout_failure = std::current_exception();
  }
  Report(failure);
  if (logout_failure) std::rethrow_exception(logout_failure);
}

std::string ResolveIndexName(const std::string& name) {
  const WorkArea* area = CurrentWorkArea();
  const std::string table = area != nullptr ? area->file_name : std::string();
  const std::string given = AllTrim(name);
  if (given.empty()) return WithoutExtension(table) + ".MDX";
  const std::string with_extension = WithDefaultExtension(given, "MDX");
  if (NameStart(with_extension) != 0) return with_extension;
  return table.substr(0, NameStart(table)) + with_extension;
}

bool SetIndexTo(const std::string& name) {
  WorkArea* area = RequireTable("SetIndexTo");
  if (area == nullptr) return false;
  const std::string file_name = ResolveIndexName(name);
  CloseIndex();
  if (!pf::FileExists(file_name)) {
    SetError(2, "SetIndexTo(" + file_name + ")");
    return false;
  }
  // A read-only open that denies others writing needs no semaphore.
  if (!(OpenModeOverride >= 0 && (OpenModeOverride & pf::kShareDenyNone) == 0)) HandleSemafore(LOGIN);
  if (!OpenIndexFile(file_name)) {
    CloseIndex();
    return false;
  }
  return true;
}

// ----------------------------------------------------- headers and nodes --

void ReadAnchorNodes() {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !index->IsOpen()) return;
  // Another program changed the index: no copy of a node is current.
  if (index->cache) index->cache->Clear();
  for (auto& slot : index->tags) {
    if (slot == nullptr) continue;
    CurrIndex& tag = *slot;
    std::array<std::uint8_t, th::kImageSize> image{};
    std::size_t done = 0;
    const std::uint64_t offset = static_cast<std::uint64_t>(tag.header_page) * mdx::kPageSize;
    std::uint32_t code = pf::ReadAt(index->file, offset, image.data(), image.size(), done);
    // Another program may move a root, never change a tag's key layout.
    if (code == 0 && (done < image.size() || Get16(image.data() + th::kKeyLength) != tag.key_length ||
                      Get16(image.data() + th::kItemLength) != tag.item_length)) {
      code = kCorrupted;
    }
    if (code != 0) {
      RaiseError(static_cast<std::uint16_t>(code), "Error reading index file:  " + Describe(tag) + " [ReadAnchorNodes]");
      return;
    }
    // The texts stay as normalised here and the key type as compiled.
    std::memcpy(tag.header.data(), image.data(), th::kKeyExpression);
    std::memcpy(tag.header.data() + th::kForFlag, image.data() + th::kForFlag,
                th::kForExpression - th::kForFlag);
    tag.header[th::kKeyType] = static_cast<std::uint8_t>(tag.key_type);
  }
}

void WriteAnchor(int slot) {
  CurrIndex* tag = TagInSlot(slot);
  if (tag == nullptr) return;
  if (const std::uint16_t code = WriteAnchorQuietly(*tag); code != 0) {
    RaiseError(code, "Error writing index file:  " + Describe(*tag) + " [WriteAnchor]");
  }
}

void SeekAndRead(CurrIndex& tag, std::int32_t page, std::uint8_t* buffer) {
  if (SharedPath != nullptr) {
    if (const std::uint8_t* copy = SharedPath->Lookup(tag.file, page)) {
      if (copy != buffer) std::memcpy(buffer, copy, mdx::kBlockSize);
      return;
    }
  }
  IndexArea& index = *tag.file;
  if (index.cache) {
    if (const std::uint8_t* copy = index.cache->Find(page)) {
      std::memcpy(buffer, copy, mdx::kBlockSize);
      return;
    }
  }
  if (const std::uint16_t code = ReadNodeAt(index, page, buffer); code != 0) {
    // Should the report return, the caller finds an empty leaf.
    std::memset(buffer, 0, mdx::kBlockSize);
    RaiseError(code, "Error reading index file: " + Describe(tag) + " [SeekAndRead]");
    return;
  }
  if (!index.cache) index.cache = std::make_unique<NodeCache>();
  index.cache->Note(page, buffer, tag.item_length);
}

bool SeekAndWrite(CurrIndex& tag, std::int32_t page, std::uint8_t* buffer) {
  Put16(buffer + mdx::node::kModified, 0);
  std::uint16_t code = kCorrupted;  // a page inside the file header is never a node
  if (page >= static_cast<std::int32_t>(mdx::kFirstBlockPage)) {
    if (SharedPath != nullptr) {
      if (std::uint8_t* copy = SharedPath->Lookup(tag.file, page); copy != nullptr && copy != buffer) {
        std::memcpy(copy, buffer, mdx::kBlockSize);
      }
    }
    code = WriteBlockAt(*tag.file, static_cast<std::uint32_t>(page), buffer, mdx::kBlockSize);
    if (code == 0) {
      if (!tag.file->cache) tag.file->cache = std::make_unique<NodeCache>();
      tag.file->cache->Note(page, buffer, tag.item_length);
    }
  }
  if (code != 0) {
    RaiseError(code, "Error writing index file: " + Describe(tag) + " [SeekAndWrite]");
    return false;
  }
  return true;
}

// -------------------------------------------------------------- questions --

std::string Mdx() {
  const IndexArea* index = CurrentIndexArea();
  return index != nullptr && index->IsOpen() ? index->file_name : std::string();
}

std::string TagName(int number) {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || index->header == nullptr) return {};
  const std::uint8_t* h = index->Header();
  if (number < 1 || number > std::min(TagCount(h), mdx::kMaxTags)) return {};
  const std::uint8_t* text = h + mdx::tag_entry::Offset(number) + mdx::tag_entry::kName;
  const void* end = std::memchr(text, 0, mdx::tag_entry::kMaxNameLength);
  return std::string(reinterpret_cast<const char*>(text),
                     end ? static_cast<const std::uint8_t*>(end) - text : mdx::tag_entry::kMaxNameLength);
}

std::string TagDescription(int slot) {
  const IndexArea* index = CurrentIndexArea();
  if (index == nullptr) return {};
  const CurrIndex* tag = TagInSlot(slot);
  return tag != nullptr ? Describe(*tag) : index->file_name;
}

}  // namespace qd
