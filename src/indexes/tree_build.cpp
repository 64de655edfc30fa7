// The tree build: memory plan, disk-space check, collect, runs, merge and
// the bottom-up node writer (see tree_build.h).
#include "indexes/tree_build.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "indexes/index_file.h"
#include "indexes/keys.h"

namespace qd {

using namespace table_text;
namespace pf = qd::platform;

namespace {

// The engine's answer to "how much memory is available".
constexpr std::int64_t kAvailableMemory = 2147483647;
constexpr std::size_t kStartRwBuffer = 4096;
constexpr std::size_t kLargestRwBuffer = 65512;
constexpr std::size_t kLargestPool = 32758;
constexpr std::size_t kLargePoolLimit = 65512;
constexpr int kFewestPointers = 256;
constexpr std::size_t kRecordNumberSize = 4;

std::function<void()> ProgressCallback;
int ProgressSteps = 0;
BuildStatistics Statistics;

// Ends a build whose failure has been reported.
class BuildFailed {};

class TreeBuilder {
 public:
  TreeBuilder(WorkArea& area, IndexArea& index, const TreeBuildTag& tag)
      : area_(area), index_(index), tag_(tag), item_size_(static_cast<std::size_t>(tag.key_length) + kRecordNumberSize),
        saved_record_(area.record), saved_number_(area.record_number), saved_end_(area.at_end),
        saved_beginning_(area.at_beginning) {}

  ~TreeBuilder() {
    if (run_file_ != pf::kNoFile) pf::CloseFile(run_file_);
    if (!run_name_.empty()) pf::EraseFile(run_name_);
    area_.record = std::move(saved_record_);
    area_.record_number = saved_number_;
    area_.at_end = saved_end_;
    area_.at_beginning = saved_beginning_;
  }
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  std::int32_t Run(bool& key_entered) {
    Statistics = BuildStatistics{};
    try {
      records_ = RecCount();
      Statistics.records = records_;
      PlanMemory();
      CheckDiskSpace();
      StartProgress();
      Collect();
      const std::int32_t root = MergeAndWrite();
      key_entered = key_entered_;
      Statistics.items = items_;
      Statistics.progress_calls = progress_calls_;
      return root;
    } catch (const BuildFailed&) {
      return 0;
    } catch (const std::bad_alloc&) {
      SetError(217, " to allocate build buffers [MakeIndex]");
      return 0;
    }
  }

 private:
  [[noreturn]] static void Fail(std::uint16_t code, const std::string& text) {
    SetError(code, text);
    throw BuildFailed{};
  }

  void NotePeak() {
    std::size_t bytes = rw_.size() + pools_.size() * pool_size_ + pointers_.capacity() * sizeof(std::uint8_t*) +
                        stack_.size() * mdx::kBlockSize + merge_buffer_.size() +
                        cursors_.capacity() * sizeof(Cursor) + order_.capacity() * sizeof(int);
    Statistics.peak_bytes = std::max(Statistics.peak_bytes, bytes);
  }

  // ------------------------------------------------------------- plan ---
  void PlanMemory() {
    const int levels = BuildLevels(records_, tag_.capacity);
    try {
      stack_.assign(static_cast<std::size_t>(levels), NodeImage{});
    } catch (const std::bad_alloc&) {
      Fail(217, " for allocating reindex stack [MakeIndex]");
    }
    const double root_n = std::sqrt(static_cast<double>(records_));
    const auto s = static_cast<std::int64_t>(root_n * (tag_.key_length + 8) * (tag_.key_length + 18));
    std::size_t rw_size = kStartRwBuffer;
    std::int64_t spare = kAvailableMemory - static_cast<std::int64_t>(rw_size) - s - 512;
    if (spare < 0) {
      Fail(217, "Additional " + std::to_string(-spare) + " bytes of memory are needed. [MakeIndex]");
    }
    const std::int64_t grow = std::min<std::int64_t>(spare / 2, static_cast<std::int64_t>(kLargestRwBuffer - rw_size));
    rw_size += static_cast<std::size_t>(grow);
    spare -= grow;
    std::int64_t pool = s + spare + 384;
    if (pool > static_cast<std::int64_t>(kLargePoolLimit)) pool = static_cast<std::int64_t>(kLargestPool);
    pool_size_ = std::max(static_cast<std::size_t>(pool), item_size_);
    items_per_pool_ = pool_size_ / item_size_;
    capacity_ = std::max(kFewestPointers, static_cast<int>(pool_size_ / 4));
    try {
      rw_.assign(rw_size, 0);
    } catch (const std::bad_alloc&) {
      Fail(217, " to allocate RW buffer [MakeIndex]");
    }
    try {
      pointers_.reserve(static_cast<std::size_t>(capacity_));
    } catch (const std::bad_alloc&) {
      Fail(217, " to allocate at least 256 s_ptrs [MakeIndex]");
    }
    Statistics.pointer_capacity = capacity_;
    Statistics.pool_size = pool_size_;
    Statistics.rw_buffer_size = rw_size;
    NotePeak();
  }

  void CheckDiskSpace() {
    const auto n = static_cast<std::uint64_t>(records_);
    std::uint64_t needed = n * item_size_;
    std::uint64_t divisor = 1;
    for (std::size_t level = 1; level <= stack_.size(); ++level) {
      divisor = divisor > n ? divisor : divisor * static_cast<std::uint64_t>(tag_.capacity);
      needed += (n / divisor + 1) * mdx::kBlockSize;
    }
    const std::string& file = index_.file_name;
    const std::int32_t free_kb = DiskFreeKB(file.substr(0, NameStart(file)));
    if (needed / 1024 > static_cast<std::uint64_t>(free_kb)) {
      Fail(227, "Available disk space: " + std::to_string(free_kb) + " KBytes;needed: " +
                    std::to_string(needed / 1024) + " KBytes [MakeIndex]");
    }
  }

  // --------------------------------------------------------- progress ---
  void StartProgress() {
    if (ProgressSteps <= 0 || !ProgressCallback) return;
    interval_ = (records_ / ProgressSteps) * 2;
    if (interval_ == 0) interval_ = 2;
  }
  void Step(std::int64_t done) {
    if (interval_ != 0 && done % interval_ == 0 && progress_calls_ < ProgressSteps) {
      ++progress_calls_;
      ProgressCallback();
    }
  }
  void FinishProgress() {
    if (interval_ == 0) return;
    while (progress_calls_ < ProgressSteps) {
      ++progress_calls_;
      ProgressCallback();
    }
  }

  // ---------------------------------------------------------- collect ---
  void Collect() {
    const std::size_t length = area_.record_length;
    if (records_ == 0 || length == 0) return;
    const std::size_t per_block = std::max<std::size_t>(1, rw_.size() / 2 / length);
    std::vector<std::uint8_t>& record = area_.record;
    record.resize(length);
    std::uint8_t key[kKeyBufferSize];
    for (std::int32_t first = 1; first <= records_;) {
      const std::size_t count = std::min<std::size_t>(per_block, static_cast<std::size_t>(records_ - first) + 1);
      ReadRecords(first, count);
      for (std::size_t i = 0; i < count; ++i, ++first) {
        std::memcpy(record.data(), rw_.data() + i * length, length);
        if (length > 1) {
          if (area_.after_read) area_.after_read(record.data() + 1, length - 1);
          if (area_.language == tlOem) pf::OemToAnsi(record.data() + 1, length - 1);
        }
        area_.record_number = first;
        const bool take = tag_.for_expr == nullptr || ForTest(tag_.for_expr);
        if (take) {
          key_entered_ = true;
          MakeItemKey(key);
        }
        // An expression that failed on this record has been reported.
        if (ErrorCode != 0) throw BuildFailed{};
        if (take) AddItem(key, first);
        if (interval_ != 0) Step(first);
      }
    }
  }

  void ReadRecords(std::int32_t first, std::size_t count) {
    const std::size_t length = area_.record_length;
    const std::uint64_t offset =
        static_cast<std::uint64_t>(area_.header_length) + static_cast<std::uint64_t>(first - 1) * length;
    std::size_t done = 0;
    const std::uint32_t code = pf::ReadAt(area_.file, offset, rw_.data(), count * length, done);
    if (code != 0) Fail(static_cast<std::uint16_t>(code), "File:  " + area_.file_name + "  [MakeIndex]");
    if (done < count * length) Fail(213, "File:  " + area_.file_name + "  [MakeIndex]");
  }

  void MakeItemKey(std::uint8_t* key) {
    IndexExpr = tag_.key_expr;
    const std::uint8_t* made = tag_.maker();
    const auto length = static_cast<std::size_t>(tag_.key_length);
    if (tag_.key_type != 'C') {
      std::memcpy(key, made, length);
      return;
    }
    // Stored keys have the key length: shorter texts are padded with
    // blanks, longer ones cut.
    const std::size_t text = std::min(std::strlen(reinterpret_cast<const char*>(made)), length);
    std::memcpy(key, made, text);
    std::memset(key + text, ' ', length - text);
  }

  void AddItem(const std::uint8_t* key, std::int32_t record) {
    // A full pointer array becomes a run when the next item arrives, so
    // that exactly the capacity is still sorted in memory.
    if (static_cast<int>(pointers_.size()) == capacity_) WriteRun();
    if (used_in_pool_ == items_per_pool_) {
      ++pool_index_;
      used_in_pool_ = 0;
    }
    if (pool_index_ >= pools_.size()) {
      // The items fill the pools so far: one more pool while the pointer
      // array has room; without memory for it the items so far are a run.
      std::unique_ptr<std::uint8_t[]> pool(new (std::nothrow) std::uint8_t[pool_size_]);
      if (pool == nullptr) {
        if (pointers_.empty()) Fail(217, " to allocate a sort pool [MakeIndex]");
        WriteRun();
      } else {
        pools_.push_back(std::move(pool));
        NotePeak();
      }
    }
    std::uint8_t* item = pools_[pool_index_].get() + used_in_pool_ * item_size_;
    ++used_in_pool_;
    std::memcpy(item, key, static_cast<std::size_t>(tag_.key_length));
    const auto number = static_cast<std::uint32_t>(record);
    std::memcpy(item + tag_.key_length, &number, kRecordNumberSize);
    pointers_.push_back(item);
    ++items_;
  }

  // ------------------------------------------------------------- sort ---
  std::uint32_t RecordOf(const std::uint8_t* item) const {
    std::uint32_t number;
    std::memcpy(&number, item + tag_.key_length, kRecordNumberSize);
    return number;
  }
  int CompareItems(const std::uint8_t* a, const std::uint8_t* b) const {
    int c;
    if (tag_.key_type == 'C') {
      c = std::memcmp(a, b, static_cast<std::size_t>(tag_.key_length));
      if (tag_.compare == CompareCharacterKeysDescending) c = -c;
    } else {
      c = tag_.compare(a, b, tag_.key_length);
    }
    if (c != 0) return c;
    const std::uint32_t ra = RecordOf(a), rb = RecordOf(b);
    return ra < rb ? -1 : ra > rb ? 1 : 0;
  }
  void SortPointers() {
    std::sort(pointers_.begin(), pointers_.end(),
              [this](const std::uint8_t* a, const std::uint8_t* b) { return CompareItems(a, b) < 0; });
  }

  void WriteRun() {
    SortPointers();
    if (run_file_ == pf::kNoFile) {
      const bool dispatch = SetImmediateDispatch(false);
      run_name_ = UniqueFilename();
      SetImmediateDispatch(dispatch);
      if (run_name_.empty()) {
        const std::uint16_t code = ErrorCode != 0 ? ErrorCode : 5;
        Fail(code, TakeErrorText() + " [MakeIndex]");
      }
      Statistics.run_file = run_name_;
      const std::uint32_t code = pf::OpenFile(run_name_, pf::kAccessReadWrite | pf::kShareDenyAll, run_file_);
      if (code != 0) {
        run_file_ = pf::kNoFile;
        Fail(static_cast<std::uint16_t>(code), "Error opening temporary file " + run_name_ + " [MakeIndex]");
      }
    }
    // Through the upper half of the RW buffer.
    std::uint8_t* half = rw_.data() + rw_.size() / 2;
    const std::size_t per_write = std::max<std::size_t>(1, (rw_.size() / 2) / item_size_);
    std::uint64_t offset = static_cast<std::uint64_t>(run_lengths_.size()) * static_cast<std::uint64_t>(capacity_) *
                           item_size_;
    for (std::size_t at = 0; at < pointers_.size(); at += per_write) {
      const std::size_t n = std::min(per_write, pointers_.size() - at);
      for (std::size_t i = 0; i < n; ++i) std::memcpy(half + i * item_size_, pointers_[at + i], item_size_);
      std::size_t done = 0;
      const std::uint32_t code = pf::WriteAt(run_file_, offset, half, n * item_size_, done);
      if (code != 0 || done < n * item_size_) {
        Fail(WriteErrorCode(code), "Error writing temporary file " + run_name_ + " [MakeIndex]");
      }
      offset += n * item_size_;
    }
    run_lengths_.push_back(pointers_.size());
    Statistics.runs = static_cast<int>(run_lengths_.size());
    pointers_.clear();
    // The next item starts filling the first pool again.
    pool_index_ = 0;
    used_in_pool_ = 0;
  }

  // ------------------------------------------------------------ merge ---
  struct Cursor {
    std::uint64_t next_offset = 0;  // in the run file
    std::size_t left_in_file = 0;   // items not yet read
    std::uint8_t* buffer = nullptr;
    std::size_t buffer_items = 0;
    std::size_t count = 0;  // items in the buffer
    std::size_t at = 0;     // next item in the buffer
    const std::uint8_t* Current(std::size_t item_size) const { return buffer + at * item_size; }
  };

  bool Refill(Cursor& cursor) {
    if (cursor.left_in_file == 0) return false;
    const std::size_t n = std::min(cursor.buffer_items, cursor.left_in_file);
    std::size_t done = 0;
    const std::uint32_t code = pf::ReadAt(run_file_, cursor.next_offset, cursor.buffer, n * item_size_, done);
    if (code != 0 || done < n * item_size_) {
      Fail(code != 0 ? static_cast<std::uint16_t>(code) : 100,
           "Error reading temporary file " + run_name_ + " [MakeIndex]");
    }
    cursor.next_offset += n * item_size_;
    cursor.left_in_file -= n;
    cursor.count = n;
    cursor.at = 0;
    return true;
  }

  std::int32_t MergeAndWrite() {
    StartNodes();
    if (run_lengths_.empty()) {
      SortPointers();
      for (const std::uint8_t* item : pointers_) Emit(item);
      return FinishNodes();
    }
    if (!pointers_.empty()) WriteRun();
    pointers_.clear();
    pointers_.shrink_to_fit();
    const std::size_t pool_bytes = std::max<std::size_t>(pools_.size(), 1) * pool_size_;
    pools_.clear();
    const std::size_t runs = run_lengths_.size();
    const std::size_t per_run = std::max<std::size_t>(1, pool_bytes / runs / item_size_);
    try {
      merge_buffer_.assign(runs * per_run * item_size_, 0);
      cursors_.resize(runs);
      order_.reserve(runs);
    } catch (const std::bad_alloc&) {
      Fail(217, "after freeing all pools [MakeIndex]");
    }
    NotePeak();
    for (std::size_t r = 0; r < runs; ++r) {
      Cursor& c = cursors_[r];
      c.next_offset = static_cast<std::uint64_t>(r) * static_cast<std::uint64_t>(capacity_) * item_size_;
      c.left_in_file = run_lengths_[r];
      c.buffer = merge_buffer_.data() + r * per_run * item_size_;
      c.buffer_items = per_run;
      if (Refill(c)) Place(static_cast<int>(r), order_.size());
    }
    while (!order_.empty()) {
      const int first = order_.front();
      Cursor& c = cursors_[static_cast<std::size_t>(first)];
      Emit(c.Current(item_size_));
      ++c.at;
      if (c.at == c.count && !Refill(c)) {
        order_.erase(order_.begin());
        continue;
      }
      // Move the cursor to its place among the others by binary search.
      const std::uint8_t* item = c.Current(item_size_);
      std::size_t low = 1, high = order_.size();
      while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (CompareItems(cursors_[static_cast<std::size_t>(order_[mid])].Current(item_size_), item) < 0) {
          low = mid + 1;
        } else {
          high = mid;
        }
      }
      if (low > 1) {
        std::move(order_.begin() + 1, order_.begin() + static_cast<std::ptrdiff_t>(low), order_.begin());
        order_[low - 1] = first;
      }
    }
    return FinishNodes();
  }

  // Inserts cursor r among the first `used` ordered cursors.
  void Place(int r, std::size_t used) {
    const std::uint8_t* item = cursors_[static_cast<std::size_t>(r)].Current(item_size_);
    std::size_t low = 0, high = used;
    while (low < high) {
      const std::size_t mid = (low + high) / 2;
      if (CompareItems(cursors_[static_cast<std::size_t>(order_[mid])].Current(item_size_), item) < 0) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(low), r);
  }

  // ------------------------------------------------------------ nodes ---
  void StartNodes() {
    const std::uint32_t end_page = EndOfFilePage(index_);
    counter_ = static_cast<std::int64_t>(end_page / mdx::kPagesPerBlock) - 1;
    rw_fill_ = 0;
    rw_first_page_ = 0;
    for (NodeImage& node : stack_) node.fill(0);
  }

  NodeView ViewOf(std::size_t level) { return NodeView(stack_[level].data(), tag_.item_length); }

  // Writes the node of a level through the RW buffer, clears it and
  // returns its page.
  std::uint32_t WriteNode(std::size_t level) {
    ++counter_;
    const auto page = static_cast<std::uint32_t>(counter_ * mdx::kPagesPerBlock);
    if (rw_fill_ + mdx::kBlockSize > rw_.size()) FlushNodes();
    if (rw_fill_ == 0) rw_first_page_ = page;
    std::memcpy(rw_.data() + rw_fill_, stack_[level].data(), mdx::kBlockSize);
    rw_fill_ += mdx::kBlockSize;
    stack_[level].fill(0);
    return page;
  }

  void FlushNodes() {
    if (rw_fill_ == 0) return;
    const std::uint16_t code = WriteBlockAt(index_, rw_first_page_, rw_.data(), rw_fill_);
    if (code != 0) Fail(code, "Error writing index file: " + index_.file_name + " [MakeIndex]");
    rw_fill_ = 0;
  }

  void Emit(const std::uint8_t* item) {
    ++emitted_;
    const auto key_length = static_cast<std::size_t>(tag_.key_length);
    const bool skip = tag_.unique && have_previous_ && tag_.compare(item, previous_.data(), tag_.key_length) == 0;
    if (!skip) {
      std::memcpy(previous_.data(), item, key_length);
      have_previous_ = true;
      NodeView leaf = ViewOf(0);
      if (leaf.Count() == tag_.capacity) {
        std::array<std::uint8_t, kKeyBufferSize> up_key{};
        std::memcpy(up_key.data(), leaf.Key(leaf.Count() - 1), key_length);
        std::uint32_t page = WriteNode(0);
        for (std::size_t level = 1;; ++level) {
          if (level == stack_.size()) stack_.push_back(NodeImage{});
          NodeView node = ViewOf(level);
          const int n = node.Count();
          if (n < tag_.capacity) {
            node.SetPointer(n, page);
            std::memcpy(node.Key(n), up_key.data(), key_length);
            node.SetCount(n + 1);
            break;
          }
          node.SetPointer(n, page);  // the trailing pointer
          page = WriteNode(level);
        }
      }
      NodeView target = ViewOf(0);
      const int n = target.Count();
      target.SetPointer(n, RecordOf(item));
      std::memcpy(target.Key(n), item, key_length);
      target.SetCount(n + 1);
    }
    if (interval_ != 0) Step(emitted_);
  }

  std::int32_t FinishNodes() {
    std::uint32_t page = WriteNode(0);
    for (std::size_t level = 1; level < stack_.size(); ++level) {
      NodeView node = ViewOf(level);
      if (node.Count() < 1) continue;
      node.SetPointer(node.Count(), page);
      page = WriteNode(level);
    }
    FlushNodes();
    FinishProgress();
    return static_cast<std::int32_t>(page);
  }

  WorkArea& area_;
  IndexArea& index_;
  const TreeBuildTag& tag_;
  const std::size_t item_size_;
  std::vector<std::uint8_t> saved_record_;
  std::int32_t saved_number_;
  bool saved_end_;
  bool saved_beginning_;

  std::int32_t records_ = 0;
  std::vector<NodeImage> stack_;
  std::vector<std::uint8_t> rw_;
  std::size_t pool_size_ = 0;
  std::size_t items_per_pool_ = 1;
  int capacity_ = kFewestPointers;
  std::vector<std::unique_ptr<std::uint8_t[]>> pools_;
  std::size_t pool_index_ = 0;
  std::size_t used_in_pool_ = 0;
  std::vector<std::uint8_t*> pointers_;
  std::int32_t items_ = 0;
  bool key_entered_ = false;

  pf::FileHandle run_file_ = pf::kNoFile;
  std::string run_name_;
  std::vector<std::size_t> run_lengths_;
  std::vector<std::uint8_t> merge_buffer_;
  std::vector<Cursor> cursors_;
  std::vector<int> order_;

  std::int64_t counter_ = 0;
  std::size_t rw_fill_ = 0;
  std::uint32_t rw_first_page_ = 0;
  std::array<std::uint8_t, kKeyBufferSize> previous_{};
  bool have_previous_ = false;
  std::int64_t emitted_ = 0;

  std::int64_t interval_ = 0;
  int progress_calls_ = 0;
};

}  // namespace

int BuildLevels(std::int64_t records, int capacity) {
  int levels = 0;
  if (capacity < 2) capacity = 2;
  for (std::int64_t n = records; n > 0; n /= capacity) ++levels;
  return std::max(levels, 1);
}

std::int32_t BuildTree(const TreeBuildTag& tag, bool& key_entered) {
  key_entered = false;
  WorkArea* area = RequireTable("MakeIndex");
  if (area == nullptr) return 0;
  IndexArea* index = IndexAreaOf(*area);
  if (index == nullptr || !index->IsOpen()) {
    SetError(221, "Index file not open [MakeIndex]");
    return 0;
  }
  TreeBuilder builder(*area, *index, tag);
  return builder.Run(key_entered);
}

void SetBuildProgress(std::function<void()> callback, int steps) {
  if (steps <= 0) {
    ProgressCallback = nullptr;
    ProgressSteps = 0;
    return;
  }
  ProgressCallback = std::move(callback);
  ProgressSteps = steps;
}

const BuildStatistics& LastBuildStatistics() { return Statistics; }

}  // namespace qd
