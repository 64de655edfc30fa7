// Fuzz target of the index file: writes the input as an index file beside a
// small fixed table, opens it with SetIndexTo (shared or exclusive, the table
// with or without records), and for every tag that opened walks its tree
// with the bounded walk and the tree check, makes keys and key texts for
// every record, reads nodes at pages the input names, re-reads and writes
// tag headers, steps through every order both ways and searches it, with
// option bit 3 also replaces and appends records (a fresh copy of the
// table, so that the tags' maintenance runs on the hostile trees), then
// closes and edits the tag table. A refused index must fail with 217, 222
// or 266, a walk must end with 0 or 222, and nothing may crash or hang.
//
// Input: byte 0 holds the options (bit 0 exclusive, bit 1 the table without
// records, bit 2 ANSI table, bit 3 updates); the rest is the file, where a zero byte
// followed by a count byte n stands for n + 1 zero bytes, so that small
// inputs describe files of many mostly empty blocks (at most 512 KB).
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "platform/platform.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace {

constexpr std::size_t kLargestFile = 512 * 1024;

struct Files {
  std::string base, table, empty_table, update_table, index;
};

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  qd::platform::FileHandle file = qd::platform::kNoFile;
  if (qd::platform::CreateNewFile(path, 0x12, file) != 0) std::abort();
  std::size_t done = 0;
  qd::platform::WriteAt(file, 0, bytes.data(), bytes.size(), done);
  qd::platform::CloseFile(file);
}

// A dBASE III table: NAME C(10), AMOUNT N(8,2), BORN D, FLAG L.
std::vector<std::uint8_t> Table(const std::vector<std::string>& records) {
  const char* names[] = {"NAME", "AMOUNT", "BORN", "FLAG"};
  const char types[] = {'C', 'N', 'D', 'L'};
  const std::uint8_t lengths[] = {10, 8, 8, 1};
  const std::size_t header = 32 + 32 * 4 + 1;
  std::vector<std::uint8_t> b(header, 0);
  b[0] = 0x03;
  b[1] = 126;
  b[2] = 1;
  b[3] = 1;
  b[4] = static_cast<std::uint8_t>(records.size());
  b[8] = static_cast<std::uint8_t>(header);
  b[10] = 28;
  for (int i = 0; i < 4; ++i) {
    for (std::size_t c = 0; names[i][c] != 0; ++c) b[32 + 32 * i + c] = static_cast<std::uint8_t>(names[i][c]);
    b[32 + 32 * i + 11] = static_cast<std::uint8_t>(types[i]);
    b[32 + 32 * i + 16] = lengths[i];
    b[32 + 32 * i + 17] = i == 1 ? 2 : 0;
  }
  b[header - 1] = 0x0D;
  for (const std::string& r : records) b.insert(b.end(), r.begin(), r.end());
  b.push_back(0x1A);
  return b;
}

std::vector<std::uint8_t> Records() {
  return Table({std::string(" Smith     ") + "   12.50" + "19990315" + "T",
                std::string(" Jones     ") + "-1500.00" + "20010101" + "F",
                std::string("*Adams     ") + "    0.00" + "        " + "?"});
}

const Files& TheFiles() {
  static const Files files = [] {
    Files f;
    std::string dir;
    qd::platform::TempDirectory(dir);
    qd::platform::UniqueTempFile(dir, "QDI", f.base);
    f.table = f.base + "T.DBF";
    f.empty_table = f.base + "E.DBF";
    f.update_table = f.base + "U.DBF";
    f.index = f.base + "T.MDX";
    WriteFile(f.table, Records());
    WriteFile(f.empty_table, Table({}));
    qd::InitErrorUnit();
    qd::InitExpressionUnit();
    qd::InitIndexUnit();
    return f;
  }();
  return files;
}

std::vector<std::uint8_t> Expand(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < size && out.size() < kLargestFile; ++i) {
    if (data[i] != 0) {
      out.push_back(data[i]);
      continue;
    }
    const std::size_t run = i + 1 < size ? data[++i] + 1u : 1u;
    out.insert(out.end(), std::min(run, kLargestFile - out.size()), 0);
  }
  return out;
}

// Runs a step whose report raises; the code it left.
template <typename Step>
std::uint16_t Quietly(Step step) {
  qd::ErrorCode = 0;
  try {
    step();
  } catch (const qd::EQuindleError&) {
  }
  const std::uint16_t code = qd::ErrorCode;
  qd::ErrorCode = 0;
  qd::TakeErrorText();
  return code;
}

void ExerciseTag(int slot, const std::vector<std::uint8_t>& file) {
  qd::CurrIndex* tag = qd::TagInSlot(slot);
  if (tag == nullptr) return;
  std::uint32_t entries = 0;
  const std::uint16_t walked =
      qd::WalkTree(*tag, [&](std::uint32_t, const std::uint8_t* key) { entries += key[0] != 0 ? 1 : 0; });
  if (walked != 0 && walked != 222) std::abort();
  const std::uint16_t checked = qd::CheckTree(*tag);
  if (checked != 0 && checked != 222) std::abort();
  if (walked != 0 && checked == 0) std::abort();  // the check walks at least as far
  qd::TagName(tag->tag_number);
  qd::TagDescription(slot);
  Quietly([&] {
    for (std::int32_t record = 1; record <= qd::RecCount() + 1; ++record) {
      qd::Go(record);
      qd::MakeKey(slot);
      qd::KeyText(slot);
      qd::ForTest(tag->for_expr);
    }
  });
  // Nodes at pages the file itself names.
  qd::NodeImage node{};
  for (std::size_t at = 2048; at + 4 <= file.size() && at < 2048 + 8 * 1024; at += 1020) {
    const auto page = static_cast<std::int32_t>(file[at] | (file[at + 1] << 8) | (file[at + 2] << 16) |
                                                (static_cast<std::uint32_t>(file[at + 3]) << 24));
    const std::uint16_t code = Quietly([&] { qd::SeekAndRead(*tag, page, node.data()); });
    if (code != 0 && code != 222) std::abort();
  }
}

// Every order (natural order too) stepped forwards and backwards from both
// ends and from a record, and searched.
void Navigate() {
  const int tags = std::min(qd::TagCount(qd::CurrentIndexArea()->Header()), qd::mdx::kMaxTags);
  for (int order = 0; order <= tags; ++order) {
    if (Quietly([&] { qd::Set_Order_To(order); }) != 0) continue;
    Quietly([] {
      qd::GoTop();
      for (int i = 0; i < 40 && !qd::dEOF(); ++i) qd::Skip(1);
    });
    Quietly([] {
      qd::GoBottom();
      for (int i = 0; i < 40 && !qd::dBOF() && !qd::dEOF(); ++i) qd::Skip(-1);
    });
    Quietly([] {
      qd::Go(2);
      qd::Skip(1);
      qd::Skip(-2);
    });
    if (order == 0) continue;
    for (const char* text : {"Jones", "-1500", "01/01/2001", "Z"}) {
      Quietly([&] {
        if (qd::Find(text)) qd::Skip(1);
      });
    }
  }
}

// A replace of every record (each locked) and two appends (under the table
// lock) in the first order: the tags' maintenance on the file's trees.
void Update() {
  Quietly([] { qd::Set_Order_To(std::min(qd::TagCount(qd::CurrentIndexArea()->Header()), 1)); });
  for (std::int32_t record = 1; record <= 3; ++record) {
    Quietly([&] {
      qd::Go(record);
      qd::RLock();
      std::uint8_t* name = qd::FieldAddress(1);
      name[0] = 4;
      std::memcpy(name + 1, record == 2 ? "Aaaa" : "Zzzz", 4);
      const double amount = record * 1e6 - 5;
      std::memcpy(qd::FieldAddress(2), &amount, sizeof amount);
      qd::Replace();
    });
    Quietly([] { qd::Unlock(); });
  }
  if (!qd::ALock()) return;
  for (int i = 0; i < 2; ++i) {
    Quietly([&] {
      qd::ClearRecord();
      std::uint8_t* name = qd::FieldAddress(1);
      name[0] = 3;
      std::memcpy(name + 1, i == 0 ? "Mmm" : "Bbb", 3);
      qd::Append();
    });
  }
  Quietly([] { qd::Unlock(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Files& files = TheFiles();
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  const std::vector<std::uint8_t> file = Expand(data + 1, size - 1);
  WriteFile(files.index, file);
  qd::SetImmediateDispatch(false);
  qd::SetRaiseExceptions(false);
  qd::AnsiTables = (options & 4) != 0;
  qd::ErrorCode = 0;
  qd::Select(1);
  const bool updates = (options & 8) != 0;
  if (updates) {
    qd::platform::EraseFile(files.update_table);
    WriteFile(files.update_table, (options & 2) != 0 ? Table({}) : Records());
  }
  const std::string& table = updates ? files.update_table : (options & 2) != 0 ? files.empty_table : files.table;
  qd::Use(table + ((options & 1) != 0 ? " EXCLUSIVE" : ""), nullptr, 0);
  if (qd::CurrentWorkArea() == nullptr) std::abort();

  bool opened = false;
  const std::uint16_t code = Quietly([&] { opened = qd::SetIndexTo(files.index); });
  if (!opened) {
    if (code != 217 && code != 222 && code != 266) std::abort();
  } else {
    if (code != 0) std::abort();
    for (int slot = 1; slot <= qd::mdx::kMaxTags; ++slot) ExerciseTag(slot, file);
    Navigate();
    if (updates) Update();
    Quietly([] { qd::ReadAnchorNodes(); });
    Quietly([] { qd::IndexChangedElsewhere(); });
    Quietly([] {
      qd::SetLockSemaphoreProc(true);
      qd::WriteAnchor(1);
      qd::SetLockSemaphoreProc(false);
    });
  }
  Quietly([] { qd::CloseIndex(); });

  // The tag table of whatever header the file has.
  if (file.size() >= 2048) {
    Quietly([&] {
      if (qd::CreateMdxHeader(files.index)) {
        qd::AddTagEntry(4, "FUZZ", 'C');
        qd::RemoveTagEntry(1);
        qd::AddTagEntry(6, "ZZZ", 'N');
        qd::CloseMdxHeader();
      }
    });
  }
  qd::Close();
  qd::ErrorCode = 0;
  qd::AnsiTables = false;
  return 0;
}
