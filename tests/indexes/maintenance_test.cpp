// Keeping tags in step with records: appends into empty tags, node splits
// at capacity and new roots, deep trees, replaces that move keys between
// leaves, deletions that empty leaves and bypass branch nodes, FOR
// conditions, unique tags, and the two faults of the written replace rule.
#include <cstdio>

#include "nav_test_support.h"

namespace qd::index_test {
namespace {

using V = std::vector<std::uint32_t>;

class MaintenanceTest : public NavTest {
 protected:
  static std::string Name(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "N%05d", i);
    return text;
  }
  std::uint64_t MdxSize() { return FileBytes().size(); }
  // Replaces the current record's name.
  static void Rename(std::int32_t record, const std::string& name) {
    Go(record);
    SetName(name);
    Replace();
  }
  // Every tag walked from the file is sound.
  void ExpectSound(int tags) {
    for (int number = 1; number <= tags; ++number) EXPECT_EQ(WalkFile(number).problem, "") << "tag " << number;
  }
};

TEST_F(MaintenanceTest, SplitsAtCapacityAndNewRoots) {
  OpenEmpty({{"NAMES", CharTag("NAME", 10)}});
  const std::uint64_t empty_size = MdxSize();
  // 63 keys fill the root leaf of a 10-byte key.
  for (int i = 0; i < 63; ++i) AppendPerson(Name(2 * i));
  EXPECT_EQ(MdxSize(), empty_size);
  index_model::Walked walked = WalkFile(1);
  EXPECT_EQ(walked.problem, "");
  EXPECT_EQ(walked.nodes, 1);
  // The 64th splits it: the lower 32 stay, the upper 31 and the new key
  // (its position falls in the upper half) go to a new leaf, and a new root
  // holds the lower half's greatest key: two blocks more.
  AppendPerson(Name(200));
  EXPECT_EQ(MdxSize(), empty_size + 2048);
  walked = WalkFile(1);
  EXPECT_EQ(walked.problem, "");
  EXPECT_EQ(walked.depth, 2);
  EXPECT_EQ(walked.leaves, 2);
  Bytes bytes = FileBytes();
  const auto layout = LayoutOf(1);
  const std::size_t root = static_cast<std::size_t>(layout.root) * 512;
  EXPECT_EQ(Get16(bytes, root), 1);
  const std::size_t lower = static_cast<std::size_t>(Get32(bytes, root + 8)) * 512;
  const std::size_t upper = static_cast<std::size_t>(Get32(bytes, root + 8 + 16)) * 512;
  EXPECT_EQ(Get16(bytes, lower), 32);
  EXPECT_EQ(Get16(bytes, upper), 32);
  EXPECT_EQ(std::string(bytes.begin() + static_cast<std::ptrdiff_t>(root + 12), bytes.begin() + static_cast<std::ptrdiff_t>(root + 22)),
            Name(62) + "    ");
  EXPECT_EQ(Get32(bytes, lower + 8 + 32 * 16), 0u);  // a leaf's trailing pointer
  // The file header's page field names the new root's last page.
  EXPECT_EQ(Get32(bytes, 32), layout.root + 1);
  // A key falling in the lower half of a full leaf goes there.
  for (int i = 0; i < 31; ++i) AppendPerson(Name(2 * i + 1));  // the lower leaf is full now
  const std::uint64_t before = MdxSize();
  AppendPerson(Name(1) + "A");
  EXPECT_EQ(MdxSize(), before + 1024);  // one block: the root had room
  walked = WalkFile(1);
  EXPECT_EQ(walked.problem, "");
  EXPECT_EQ(walked.leaves, 3);
  // The order holds every record in key order.
  V order;
  for (const auto& entry : walked.entries) order.push_back(entry.record);
  EXPECT_EQ(Forwards(), order);
  EXPECT_EQ(Backwards(), order);
  EXPECT_EQ(RecNo(), static_cast<std::int32_t>(order.front()));
  // The current order's cursor ends on the appended record.
  AppendPerson(Name(0) + "A");
  EXPECT_EQ(RecNo(), 97);
  Skip(-1);
  EXPECT_EQ(table_test::SlotText(1), Name(0) + "    ");
}

TEST_F(MaintenanceTest, DeepTreesGrowAndShrinkThroughReplaces) {
  // Three keys a node: every split leaves halves of one or two keys, so
  // 2500 records make a tree deeper than a path segment.
  TagHeader small = CharTag("NAME", 10);
  small.max_keys = 3;
  OpenEmpty({{"NAMES", small}, {"DNAMES", CharTag("NAME", 10, true)}});
  for (int i = 0; i < 2500; ++i) AppendPerson(Name(i), i);
  index_model::Walked walked = WalkFile(1);
  ASSERT_EQ(walked.problem, "");
  EXPECT_GT(walked.depth, 9);
  EXPECT_EQ(walked.entries.size(), 2500u);
  ExpectSound(2);
  V ascending;
  for (std::uint32_t i = 1; i <= 2500; ++i) ascending.push_back(i);
  EXPECT_EQ(Forwards(), ascending);
  GoBottom();
  EXPECT_GT(SharedPath->Segments(), 1);
  EXPECT_EQ(Backwards(), ascending);
  EXPECT_TRUE(Find(Name(777)));
  EXPECT_EQ(RecNo(), 778);

  // Moving the first 600 keys past the last empties their leaves and
  // leaves branch nodes without keys to be bypassed; every step keeps the
  // tree sound and the order right.
  const std::uint64_t size = MdxSize();
  for (int i = 0; i < 600; ++i) {
    Rename(i + 1, "Z" + Name(i));
    if (i % 150 == 149) {
      walked = WalkFile(1);
      ASSERT_EQ(walked.problem, "") << "after " << i + 1;
      ASSERT_EQ(WalkFile(2).problem, "") << "after " << i + 1;
    }
  }
  EXPECT_GT(MdxSize(), size);
  // The engine's own check agrees (leaves now lie at several depths).
  std::string problem;
  EXPECT_EQ(CheckTree(*TagInSlot(1), nullptr, &problem), 0) << problem;
  V moved;
  for (std::uint32_t i = 601; i <= 2500; ++i) moved.push_back(i);
  for (std::uint32_t i = 1; i <= 600; ++i) moved.push_back(i);
  EXPECT_EQ(Forwards(), moved);
  EXPECT_EQ(Records(WalkFile(1)), moved);
  Set_Order_To(2);
  V reversed(moved.rbegin(), moved.rend());
  EXPECT_EQ(Forwards(), reversed);
  // Moving them back leaves everything as the keys say.
  for (int i = 0; i < 600; ++i) Rename(i + 1, Name(i));
  EXPECT_EQ(Records(WalkFile(1)), ascending);
  ExpectSound(2);
  Set_Order_To(1);
  EXPECT_EQ(Forwards(), ascending);
}

TEST_F(MaintenanceTest, ReplacesMoveOnlyChangedKeys) {
  OpenEmpty({{"NAMES", CharTag("NAME", 10)}, {"AMOUNTS", NumericTag("AMOUNT")}, {"BORN", DateTag("BORN", true)}});
  AppendPerson("Smith", 12.5, true, 1999, 3, 15);
  AppendPerson("Jones", -1500, true, 2001, 1, 1);
  AppendPerson("Adams", 0, true);
  EXPECT_EQ(Records(WalkFile(1)), (V{3, 2, 1}));
  EXPECT_EQ(Records(WalkFile(2)), (V{2, 3, 1}));
  EXPECT_EQ(Records(WalkFile(3)), (V{3, 2, 1}));  // descending, an empty date highest
  // A replace that changes no key writes nothing to the index.
  const Bytes before = FileBytes();
  Go(1);
  SetFlag(false);
  Replace();
  EXPECT_EQ(FileBytes(), before);
  // A changed key moves; the current order's cursor stays on the record.
  Go(1);
  SetName("Baker");
  Replace();
  EXPECT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(Records(WalkFile(1)), (V{3, 1, 2}));
  EXPECT_EQ(RecNo(), 1);
  Skip(1);
  EXPECT_EQ(RecNo(), 2);
  Set_Order_To(2);
  Go(2);
  SetAmount(99);
  Replace();
  EXPECT_EQ(Records(WalkFile(2)), (V{3, 1, 2}));
  Skip(-1);
  EXPECT_EQ(RecNo(), 1);
  // Deleting and recalling touch no tag.
  const Bytes now = FileBytes();
  Go(3);
  DeleteRec();
  RecallRec();
  EXPECT_EQ(FileBytes(), now);
}

TEST_F(MaintenanceTest, ForConditionsAndUniqueTags) {
  OpenEmpty({{"FLAGGED", CharTag("NAME", 10, false, false, "FLAG")}, {"UNIQUE", CharTag("NAME", 10, false, true)}});
  // A record whose condition is false has no entry; the first that holds
  // sets byte 246.
  AppendPerson("Out", 0, false);
  EXPECT_EQ(TagInSlot(1)->header[246], 0);
  EXPECT_EQ(Records(WalkFile(1)), V{});
  AppendPerson("In", 0, true);
  EXPECT_EQ(FileBytes()[LayoutOf(1).header_page * 512 + 246], 1);
  EXPECT_EQ(Records(WalkFile(1)), (V{2}));
  // Going to a record outside the current FOR order ends at end of file;
  // in natural order it can be replaced.
  Go(1);
  EXPECT_TRUE(dEOF());
  Set_Order_To(0);
  // Replacing a record that had no entry: nothing to delete, its new key
  // enters when the condition now holds (this was refused as "not found").
  Go(1);
  SetFlag(true);
  SetName("Out2");
  Replace();
  EXPECT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(Records(WalkFile(1)), (V{2, 1}));
  // A record leaving the condition leaves the tag; the current order (the
  // FOR tag) then stands at the end.
  Set_Order_To(1);
  Go(2);
  SetFlag(false);
  Replace();
  EXPECT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(Records(WalkFile(1)), (V{1}));
  EXPECT_TRUE(dEOF());
  // The only key going leaves an empty root and clears byte 246.
  Set_Order_To(0);
  Go(1);
  SetFlag(false);
  Replace();
  EXPECT_EQ(Records(WalkFile(1)), V{});
  EXPECT_EQ(FileBytes()[LayoutOf(1).header_page * 512 + 246], 0);
  EXPECT_EQ(WalkFile(1).problem, "");

  // Unique: equal keys keep the first record only.
  Set_Order_To(2);
  AppendPerson("Twin", 0, true);   // 3
  AppendPerson("Twin", 0, true);   // 4: no entry of its own
  EXPECT_EQ(Records(WalkFile(2)), (V{2, 1, 3}));
  // Replacing record 4, which has none, never takes record 3's entry; its
  // new key enters.
  Go(4);
  SetName("Triplet");
  Replace();
  EXPECT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(Records(WalkFile(2)), (V{2, 1, 4, 3}));
  // Back to the shared key: record 3 keeps it.
  Go(4);
  SetName("Twin");
  Replace();
  EXPECT_EQ(Records(WalkFile(2)), (V{2, 1, 3}));
  // The holder moving away takes the key out of the tag although record 4
  // still has it (a rebuild puts it back); navigating to record 4 is no
  // error.
  Go(3);
  SetName("Single");
  Replace();
  EXPECT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(Records(WalkFile(2)), (V{2, 1, 3}));
  Go(4);
  EXPECT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(RecNo(), 4);
}

}  // namespace
}  // namespace qd::index_test
