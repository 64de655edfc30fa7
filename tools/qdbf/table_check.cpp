// qdbf check: reads the whole table, its memo file and its production index
// and reports every problem it finds, one line each.
//
// Sections: the header against the file size, the field descriptors, every
// record's values, the memo references with the extent of each value (no two
// records may share blocks, no value may run past the file, dBASE IV free
// runs must be chained in order inside the file and clear of values), and
// for each tag of the production index its tree (CheckTree: structure and
// key order) and its entries against the records (WalkTree: records missing
// or present twice, keys that differ from the record's key, entries naming
// no record or a record the FOR condition excludes).
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "commands.h"
#include "console_text.h"
#include "foundation/errors.h"
#include "foundation/exception.h"
#include "indexes/index_engine.h"
#include "indexes/index_file.h"
#include "indexes/keys.h"
#include "indexes/tree_walk.h"
#include "memo/memo_file.h"
#include "memo/memo_layouts.h"
#include "platform/platform.h"
#include "table/dbf_layout.h"
#include "table/table_text.h"
#include "table_access.h"

namespace qd::qdbf {

namespace pf = qd::platform;

namespace {

// A memo value's blocks and who refers to it.
struct Extent {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
  std::int32_t record = 0;
  std::string field;
};

class Checker {
 public:
  Checker(WorkArea& area, std::vector<std::string>& problems, int page)
      : area_(area), problems_(problems), page_(page) {}

  void Run() {
    Guard("header", [&] { Header(); });
    Guard("fields", [&] { Descriptors(); });
    Guard("records", [&] { Records(); });
    if (area_.memo) Guard("memo file", [&] { Memo(); });
    Guard("index", [&] { Index(); });
  }

 private:
  void Problem(const std::string& text) { problems_.push_back(text); }

  // An engine error inside a section is one more problem; the next section
  // still runs.
  template <typename Body>
  void Guard(const std::string& section, Body body) {
    try {
      body();
    } catch (const Exception& error) {
      std::string text = error.what();
      for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, ": ");
      Problem(section + ": " + text);
      ErrorCode = 0;
    }
  }

  bool ReadBytes(pf::FileHandle file, std::uint64_t offset, void* bytes, std::size_t count) {
    std::size_t done = 0;
    return pf::ReadAt(file, offset, bytes, count, done) == 0 && done == count;
  }

  void Header() {
    std::uint64_t size = 0;
    pf::FileSize(area_.file, size);
    const std::uint64_t records = static_cast<std::uint64_t>(area_.record_count);
    const std::uint64_t expected = area_.header_length + records * area_.record_length;
    const std::uint64_t in_file = size < area_.header_length ? 0 : (size - area_.header_length) / area_.record_length;
    if (size < expected)
      Problem("header: counts " + std::to_string(records) + " records but the file (" + std::to_string(size) +
              " bytes) holds " + std::to_string(in_file));
    else if (in_file > records)
      Problem("header: counts " + std::to_string(records) + " records but the file holds " +
              std::to_string(in_file));
    if (area_.version != dbf::kDbase2) {
      const int month = area_.header[dbf::header::kUpdateMonth], day = area_.header[dbf::header::kUpdateDay];
      if (month < 1 || month > 12 || day < 1 || day > 31)
        Problem("header: the last update date (month " + std::to_string(month) + ", day " + std::to_string(day) +
                ") is not a date");
    }
    std::uint32_t used = 1;
    for (const FieldEntry& field : area_.fields) used += field.length;
    if (used != area_.record_length)
      Problem("header: record length " + std::to_string(area_.record_length) + " but the fields take " +
              std::to_string(used) + " bytes");
    bool memo_fields = false;
    for (const FieldEntry& field : area_.fields) memo_fields = memo_fields || field.type == 'M';
    if (memo_fields && area_.memo == nullptr)
      Problem("header: memo fields but no memo file is open (version " + std::to_string(area_.version) + ")");
  }

  void Descriptors() {
    const dbf::DescriptorForm& form = dbf::FormOf(area_.version);
    const std::size_t size = form.size;
    const std::size_t n = area_.fields.size();
    std::vector<std::uint8_t> bytes(n * size + 1);
    if (!ReadBytes(area_.file, form.first, bytes.data(), bytes.size())) {
      Problem("fields: the descriptors cannot be read");
      return;
    }
    if (bytes[n * size] != dbf::kTerminator)
      Problem("fields: no terminator (0x0D) after descriptor " + std::to_string(n));
    std::set<std::string> names;
    for (std::size_t i = 0; i < n; ++i) {
      const FieldEntry& field = area_.fields[i];
      const std::string where = "field " + std::to_string(i + 1) + " (" + field.name + "): ";
      const std::uint8_t* name = bytes.data() + i * size + dbf::descriptor::kName;
      std::size_t length = 0;
      while (length < form.name_size && name[length] != 0) ++length;
      bool valid = length > 0;
      for (std::size_t k = 0; k < length; ++k) {
        const char c = static_cast<char>(name[k]);
        valid = valid && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
      }
      if (!valid) Problem(where + "the stored name is empty or holds characters other than letters, digits and _");
      if (!names.insert(table_text::Upper(field.name)).second) Problem(where + "the name is used twice");
      switch (field.type) {
        case 'D':
          if (field.length != dbf::kDateLength)
            Problem(where + "a date field is " + std::to_string(field.length) + " bytes, not 8");
          break;
        case 'L':
          if (field.length != dbf::kLogicalLength)
            Problem(where + "a logical field is " + std::to_string(field.length) + " bytes, not 1");
          break;
        case 'M':
          if (field.length != dbf::kMemoLength && field.length != dbf::kBinaryMemoLength)
            Problem(where + "a memo field is " + std::to_string(field.length) + " bytes, not 10");
          break;
        case 'N':
        case 'F':
          if (field.decimals > 0 && field.decimals + 2 > field.length)
            Problem(where + std::to_string(field.decimals) + " decimals do not fit a width of " +
                    std::to_string(field.length));
          break;
        default: break;
      }
      if (field.length == 0) Problem(where + "length 0");
    }
  }

  // The records both the header counts and the file holds.
  std::int32_t ReadableRecords() {
    std::uint64_t size = 0;
    pf::FileSize(area_.file, size);
    const std::int64_t readable = size < area_.header_length
                                      ? 0
                                      : static_cast<std::int64_t>((size - area_.header_length) / area_.record_length);
    return static_cast<std::int32_t>(std::min<std::int64_t>(area_.record_count, readable));
  }

  void Records() {
    const std::int32_t last = ReadableRecords();
    for (std::int32_t n = 1; n <= last; ++n) {
      GetDbfRecord(area_, n);
      const std::string where = "record " + std::to_string(n);
      const std::uint8_t flag = area_.record[dbf::record::kDeletionFlag];
      if (flag != dbf::record::kActive && flag != dbf::record::kDeleted)
        Problem(where + ": deletion flag is byte " + std::to_string(flag) + ", not blank or *");
      for (std::size_t i = 0; i < area_.fields.size(); ++i) {
        const FieldEntry& field = area_.fields[i];
        const std::string stored(reinterpret_cast<const char*>(area_.record.data() + field.offset), field.length);
        const std::string trimmed = table_text::TrimBlanks(stored);
        const std::string shown = "'" + ToUtf8(trimmed, page_) + "'";
        const std::string at = where + ", field " + field.name + ": ";
        switch (field.type) {
          case 'N':
          case 'F':
            if (!trimmed.empty() && trimmed.find_first_not_of('\0') != std::string::npos &&
                !ParseNumberText(stored, nullptr))
              Problem(at + shown + " is not a number");
            break;
          case 'D':
            if (!trimmed.empty() && trimmed != "00000000" && !ValidStoredDate(stored))
              Problem(at + shown + " is not a date");
            break;
          case 'L':
            if (std::string("TtFfYyNn? ").find(stored.empty() ? ' ' : stored[0]) == std::string::npos ||
                stored.empty() || stored[0] == '\0')
              Problem(at + shown + " is not a logical value");
            break;
          case 'C': break;
          default: {
            std::int32_t block = 0;
            if (!MemoBlockOf(area_, field, block)) {
              Problem(at + "memo reference " + shown + " is not a block number");
            } else if (block != 0) {
              references_.push_back({static_cast<std::uint32_t>(block < 0 ? -static_cast<std::int64_t>(block) : block),
                                     block < 0 ? 1u : 0u, n, field.name});
            }
          }
        }
      }
    }
  }

  // The blocks of a dBASE III text value: up to its end mark.
  std::uint32_t TextValueBlocks(MemoState& state, std::uint32_t block, std::uint64_t file_size, bool& ended) {
    const std::uint64_t start = static_cast<std::uint64_t>(block) * state.block_size;
    std::vector<std::uint8_t> chunk(64 * 1024);
    std::uint64_t at = start;
    ended = false;
    while (at < file_size) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), file_size - at));
      std::size_t done = 0;
      if (pf::ReadAt(state.file, at, chunk.data(), want, done) != 0 || done == 0) break;
      const auto end = std::find(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(done), memo_layout::kTextEnd);
      if (end != chunk.begin() + static_cast<std::ptrdiff_t>(done)) {
        at += static_cast<std::uint64_t>(end - chunk.begin());
        ended = true;
        break;
      }
      at += done;
    }
    const std::uint64_t length = at - start + 1;
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (length + state.block_size - 1) / state.block_size));
  }

  void Memo() {
    MemoState& state = *area_.memo;
    std::uint64_t size = 0;
    pf::FileSize(state.file, size);
    const std::uint64_t blocks = (size + state.block_size - 1) / state.block_size;
    const std::uint32_t first = memo::FirstDataBlock(state);
    const bool dbase3 = memo::IsDbase3(state), dbase4 = memo::IsDbase4(state);
    std::vector<Extent> extents;
    for (Extent& reference : references_) {
      const std::string where = "record " + std::to_string(reference.record) + ", field " + reference.field +
                                ": memo block " + std::to_string(reference.first);
      const bool headed = reference.count == 1 || !dbase3;
      if (reference.first < first || reference.first >= blocks) {
        Problem(where + " lies outside the memo file (blocks " + std::to_string(first) + " to " +
                std::to_string(blocks == 0 ? 0 : blocks - 1) + ")");
        continue;
      }
      std::uint32_t count = 0;
      if (headed) {
        count = ReadGroupHeader(state, reference.first);
        ErrorCode = 0;
        if (count == 0) {
          Problem(where + " does not start a memo value");
          continue;
        }
      } else {
        bool ended = false;
        count = TextValueBlocks(state, reference.first, size, ended);
        if (!ended) Problem(where + ": the value has no end mark (0x1A) before the end of the memo file");
      }
      if (static_cast<std::uint64_t>(reference.first) + count > blocks) {
        Problem(where + ": the value's " + std::to_string(count) + " blocks run past the end of the memo file");
        count = static_cast<std::uint32_t>(blocks - reference.first);
      }
      extents.push_back({reference.first, count, reference.record, reference.field});
    }
    std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < extents.size(); ++i) {
      const Extent& a = extents[i - 1];
      const Extent& b = extents[i];
      if (b.first < static_cast<std::uint64_t>(a.first) + a.count)
        Problem("memo file: record " + std::to_string(a.record) + " (" + a.field + ") and record " +
                std::to_string(b.record) + " (" + b.field + ") share memo blocks from " + std::to_string(b.first));
    }
    if (dbase4) FreeList(state, blocks, first, extents);
  }

  // The dBASE IV free list: runs chained from the header in increasing
  // block order, inside the file, clear of values; the last link names the
  // block count of the file.
  void FreeList(MemoState& state, std::uint64_t blocks, std::uint32_t first, const std::vector<Extent>& extents) {
    std::uint8_t head[4];
    if (!ReadBytes(state.file, memo_layout::kNextFreeOffset, head, sizeof head)) return;
    std::uint64_t link = table_text::Get32(head);
    std::uint64_t previous_end = first;
    for (std::uint64_t steps = 0; link != blocks; ++steps) {
      if (link > blocks) {
        Problem("memo file: the free list links to block " + std::to_string(link) + ", past the end (" +
                std::to_string(blocks) + " blocks)");
        return;
      }
      if (link < previous_end || steps > blocks) {
        Problem("memo file: the free list is out of order at block " + std::to_string(link));
        return;
      }
      std::uint8_t run[memo_layout::kRunRecordSize];
      if (!ReadBytes(state.file, link * state.block_size, run, sizeof run)) {
        Problem("memo file: the free run at block " + std::to_string(link) + " cannot be read");
        return;
      }
      const std::uint64_t length = table_text::Get32(run + memo_layout::kRunLengthOffset);
      if (length == 0 || link + length > blocks) {
        Problem("memo file: the free run at block " + std::to_string(link) + " has a wrong length (" +
                std::to_string(length) + ")");
        return;
      }
      for (const Extent& extent : extents)
        if (extent.first < link + length && link < static_cast<std::uint64_t>(extent.first) + extent.count)
          Problem("memo file: the free run at block " + std::to_string(link) + " overlaps the value of record " +
                  std::to_string(extent.record) + " (" + extent.field + ")");
      previous_end = link + length;
      link = table_text::Get32(run + memo_layout::kRunNextOffset);
    }
  }

  void Index() {
    const std::string name = ProductionIndexName(area_);
    if (name.empty()) return;
    if (!pf::FileExists(name)) {
      Problem("index: the table names a production index, but " + name + " does not exist");
      return;
    }
    try {
      OpenProductionIndex(area_);
    } catch (const Exception& error) {
      std::string text = error.what();
      for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, ": ");
      Problem("index: " + name + " does not open: " + text);
      ErrorCode = 0;
      return;
    }
    IndexArea* index = CurrentIndexArea();
    for (int slot = 1; index != nullptr && slot <= mdx::kMaxTags; ++slot) {
      CurrIndex* tag = index->tags[static_cast<std::size_t>(slot)].get();
      if (tag != nullptr) Guard("index, tag " + TagName(tag->tag_number), [&] { Tag(*tag, slot); });
    }
  }

  void Tag(CurrIndex& tag, int slot) {
    const std::string where = "index, tag " + TagName(tag.tag_number) + ": ";
    std::string problem;
    if (CheckTree(tag, nullptr, &problem) != 0) {
      Problem(where + problem);
      ErrorCode = 0;
      return;  // entries of a broken tree say nothing reliable
    }
    const std::size_t key_length = static_cast<std::size_t>(tag.key_length);
    std::map<std::uint32_t, std::vector<std::string>> entries;
    std::set<std::string> keys;
    const bool empty = tag.EmptyForTag();
    if (!empty) {
      if (WalkTree(tag, [&](std::uint32_t record, const std::uint8_t* key) {
            std::string bytes(reinterpret_cast<const char*>(key), key_length);
            keys.insert(bytes);
            entries[record].push_back(std::move(bytes));
          }, {}, nullptr, &problem) != 0) {
        Problem(where + problem);
        ErrorCode = 0;
        return;
      }
    }
    const std::int32_t count = area_.record_count;
    const std::int32_t readable = ReadableRecords();
    for (const auto& [record, list] : entries)
      if (record < 1 || record > static_cast<std::uint32_t>(count))
        Problem(where + "an entry names record " + std::to_string(record) + ", which does not exist");
    std::size_t reported = 0;
    auto report = [&](const std::string& text) {
      if (++reported <= kMostPerTag) Problem(where + text);
    };
    for (std::int32_t n = 1; n <= readable; ++n) {
      // Read by number without the order hooks: positioning a damaged tag
      // on each record would end the check with the engine's error.
      RawGo(n);
      const bool wanted = ForTest(tag.for_expr);
      const std::uint8_t* made = MakeKey(slot);
      const std::string key(reinterpret_cast<const char*>(made), key_length);
      auto it = entries.find(static_cast<std::uint32_t>(n));
      const std::size_t present = it == entries.end() ? 0 : it->second.size();
      const std::string record = "record " + std::to_string(n);
      if (present > 1) report(record + " is in the tag " + std::to_string(present) + " times");
      if (present == 0 && wanted && !(tag.Unique() && keys.count(key) != 0)) report(record + " is missing from the tag");
      if (present > 0 && !wanted) report(record + " is in the tag but its FOR condition excludes it");
      if (present > 0 && wanted && it->second.front() != key) report(record + "'s key in the tag does not match the record");
    }
    if (reported > kMostPerTag)
      Problem(where + std::to_string(reported - kMostPerTag) + " more problems of this tag not shown");
  }

  static constexpr std::size_t kMostPerTag = 50;

  WorkArea& area_;
  std::vector<std::string>& problems_;
  int page_;
  std::vector<Extent> references_;  // count 1 marks a headed dBASE III value
};

}  // namespace

int CheckCommand(Context& context) {
  const std::string path = ResolveTableName(context.line.positional[0]);
  std::vector<std::string> problems;
  WorkArea* area = nullptr;
  try {
    area = &OpenTable(path, Access::ReadOnly);
  } catch (const EQuindleError& error) {
    // A table (or memo file) the engine refuses to open is damage that check
    // reports; a missing table or one held by another program is an engine
    // error.
    if (!pf::FileExists(path) || ErrorCode == 32 || ErrorCode == 33 || ErrorCode == 5) throw;
    std::string text = error.what();
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, ": ");
    problems.push_back("table: does not open: " + text);
  }
  if (area != nullptr) Checker(*area, problems, CodePageOf(*area, context.codepage)).Run();
  for (const std::string& problem : problems) context.out << problem << "\n";
  if (problems.empty()) {
    context.out << path << ": no problems found\n";
    return kExitOk;
  }
  context.out << path << ": " << problems.size() << (problems.size() == 1 ? " problem" : " problems") << " found\n";
  return kExitNotFound;
}

}  // namespace qd::qdbf
