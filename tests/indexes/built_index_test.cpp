// Built indexes under navigation and maintenance: a file made by MakeIndex
// is the one the cursors step through and the updates change. Every order
// of a random table's build stepped both ways and searched key by key
// against the model; the 4,050-key layout (leaves at two depths, the last
// leaf hanging from the root) stepped across its boundary and grown by
// appends and replaces until the hanging leaf and the root split; a FOR tag
// emptied by replaces; the position after make-and-open; Reindex keeping
// the order.
#include <algorithm>
#include <cstdio>
#include <random>

#include "foundation/dates.h"
#include "nav_test_support.h"

namespace qd::index_test {
namespace {

using V = std::vector<std::uint32_t>;

struct Row {
  std::string name;
  double amount;
  int year, month, day;
  bool flag;
  bool deleted;
};

std::string Amount(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

class BuiltIndexTest : public NavTest {
 protected:
  void OpenRows(const std::vector<Row>& rows, bool exclusive = true) {
    CenturyOn = true;
    rows_ = rows;
    std::vector<std::string> records;
    for (const Row& r : rows) {
      char born[16];
      std::snprintf(born, sizeof born, "%04d%02d%02d", r.year, r.month, r.day);
      records.push_back(Person(r.deleted, r.name, Amount(r.amount), born, r.flag ? 'T' : 'F'));
    }
    OpenPeople(exclusive, records);
  }

  // Records N00000... in a shuffled order, every flag set.
  void OpenNames(int n, unsigned seed = 3) {
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
    std::mt19937 random(seed);
    std::shuffle(order.begin(), order.end(), random);
    std::vector<Row> rows;
    for (int i : order) rows.push_back({Name(i), (i % 97) - 40.5, 2000, 1 + i % 12, 1 + i % 28, true, false});
    OpenRows(rows);
  }

  static std::string Name(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "N%05d", i);
    return text;
  }

  // The slot holding tag `number` of the open index.
  static int SlotOf(int number) {
    for (int slot = 1; slot <= mdx::kMaxTags; ++slot) {
      if (TagInSlot(slot) != nullptr && TagInSlot(slot)->tag_number == number) return slot;
    }
    return 0;
  }

  // The model of tag `number` over the table as it is: each record in
  // record order, its key made by the tag's key maker, entering as a new
  // record would. Records are visited in natural order (in a FOR order, Go
  // to a record outside the condition ends at end of file).
  index_model::TagModel ModelOf(int number) {
    const index_model::TagLayout layout = LayoutOf(number);
    index_model::TagModel model(layout);
    const int order = CurrentOrder();
    Set_Order_To(0);
    const int slot = SlotOf(number);
    CurrIndex& tag = *TagInSlot(slot);
    for (std::int32_t record = 1; record <= RecCount(); ++record) {
      Go(record);
      model.Append(static_cast<std::uint32_t>(record), index_model::StoredKeyValue(layout, MakeKey(slot)),
                   ForTest(tag.for_expr));
    }
    Set_Order_To(order);
    GoTop();
    return model;
  }

  // The model's entries in the tag's order (equal keys by record number).
  static std::vector<index_model::WalkedEntry> Ordered(const index_model::TagLayout& layout,
                                                        const index_model::TagModel& model) {
    std::vector<index_model::WalkedEntry> entries = model.Entries();
    std::stable_sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
      return index_model::CompareValues(layout, a.key, b.key) < 0;
    });
    return entries;
  }

  // The tag's walk equals the model, the engine's own check passes, and
  // the order steps through the walk's records both ways.
  void ExpectTagAsModel(int number, const index_model::TagModel& model, const std::string& when) {
    const index_model::Walked walked = WalkFile(number);
    ASSERT_EQ(model.Check(walked), "") << "tag " << number << " " << when;
    std::string problem;
    ASSERT_EQ(CheckTree(*TagInSlot(SlotOf(number)), nullptr, &problem), 0) << problem << " " << when;
    const V records = Records(walked);
    ASSERT_EQ(Forwards(), records) << "tag " << number << " " << when;
    ASSERT_EQ(Backwards(), records) << "tag " << number << " " << when;
  }

  // Tag `number`'s root: its entry count, and whether the node its
  // trailing pointer names is a leaf.
  struct RootShape {
    int count = 0;
    bool trailing_leaf = false;
  };
  RootShape RootOf(int number) const {
    const Bytes file = FileBytes();
    const index_model::TagLayout t = index_model::ReadLayout(file, number);
    const std::size_t root = static_cast<std::size_t>(t.root) * 512;
    RootShape shape;
    shape.count = Get16(file, root);
    const auto entry = [&](std::size_t node, int i) { return node + 8 + static_cast<std::size_t>(i * t.item_length); };
    const std::size_t trailing = static_cast<std::size_t>(Get32(file, entry(root, shape.count))) * 512;
    if (trailing != 0) shape.trailing_leaf = Get32(file, entry(trailing, Get16(file, trailing))) == 0;
    return shape;
  }

  std::vector<Row> rows_;
};

TEST_F(BuiltIndexTest, EveryOrderOfABuiltIndexStepsAndFindsAsTheModel) {
  // 2,000 records with repeated names, amounts and dates, some deleted
  // (visible); six tags of every kind.
  std::mt19937 random(11);
  std::vector<Row> rows;
  for (int i = 0; i < 2000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "R%03d", static_cast<int>(random() % 400));
    rows.push_back({name, static_cast<double>(random() % 600) / 4 - 75, 1950 + static_cast<int>(random() % 70),
                    1 + static_cast<int>(random() % 12), 1 + static_cast<int>(random() % 28), random() % 2 == 0,
                    random() % 10 == 0});
  }
  OpenRows(rows);
  const std::vector<TagDefinition> tags = {
      {"NAMES", "NAME", "", false, false},         {"DOWN", "NAME", "", true, false},
      {"BORN", "BORN", "", false, false},          {"LATE", "BORN", "FLAG .AND. AMOUNT > 0", true, false},
      {"AMOUNTS", "AMOUNT", "", true, true},       {"ONCE", "NAME", "FLAG", false, true}};
  ASSERT_TRUE(MakeAndOpenIndex(tags)) << ErrorText;

  for (int number = 1; number <= 6; ++number) {
    const index_model::TagModel model = ModelOf(number);
    ASSERT_TRUE(SetOrderToTag(tags[static_cast<std::size_t>(number - 1)].name));
    ASSERT_EQ(CurrentOrder(), number);
    ExpectTagAsModel(number, model, "after the build");

    // Find of every distinct key lands on its first entry in the order.
    const index_model::TagLayout layout = LayoutOf(number);
    std::vector<index_model::WalkedEntry> ordered = Ordered(layout, model);
    for (std::size_t i = 0; i < ordered.size(); ++i) {
      if (i > 0 && ordered[i].key == ordered[i - 1].key) continue;
      const Row& row = rows[ordered[i].record - 1];
      std::string text;
      if (layout.type == 'C') {
        text = row.name;
      } else if (layout.type == 'N') {
        text = Amount(row.amount);
      } else {
        text = JulianToDate(JulianDate(row.year, row.month, row.day));
      }
      ASSERT_TRUE(Find(text)) << "tag " << number << " key " << text;
      ASSERT_EQ(static_cast<std::uint32_t>(RecNo()), ordered[i].record) << "tag " << number << " key " << text;
      // The cursor stands there: the next step is the next entry.
      Skip(1);
      if (i + 1 < ordered.size()) {
        ASSERT_EQ(static_cast<std::uint32_t>(RecNo()), ordered[i + 1].record) << "tag " << number << " after " << text;
      } else {
        ASSERT_TRUE(dEOF());
      }
    }
    // A key no record has is not found and leaves the table at its end.
    EXPECT_FALSE(Find(layout.type == 'C' ? "Q" : layout.type == 'N' ? "1234.56" : "01/01/1800"));
    EXPECT_TRUE(dEOF());
  }
}

TEST_F(BuiltIndexTest, TheHangingLastLeafIsSteppedAcrossAndSplitByAppendsAndReplaces) {
  // 4,050 keys at 63 a node: 64 full leaves under a branch at depth 2, and
  // the last 18 keys' leaf as the root's trailing pointer (depth 2 against
  // depth 3). The second tag runs the other way over the same layout.
  OpenNames(4050);
  ASSERT_TRUE(MakeAndOpenIndex({{"NAMES", "NAME", "", false, false}, {"DOWN", "NAME", "", true, false}}))
      << ErrorText;
  const index_model::TagLayout layout = LayoutOf(1);
  ASSERT_EQ(index_model::WalkTag(FileBytes(), 1).depth, 3);
  ASSERT_EQ(RootOf(1).count, 1);
  ASSERT_TRUE(RootOf(1).trailing_leaf);
  index_model::TagModel names = ModelOf(1), down = ModelOf(2);
  ExpectTagAsModel(1, names, "after the build");

  // Across the boundary between the last full leaf (entry 4,031) and the
  // hanging leaf, from a search and from a bare Go.
  auto record_of = [&](int i) { return static_cast<std::int32_t>(Ordered(layout, names)[static_cast<std::size_t>(i)].record); };
  ASSERT_TRUE(Find(Name(4031)));
  Skip(1);
  EXPECT_EQ(RecNo(), record_of(4032));
  Skip(-1);
  EXPECT_EQ(RecNo(), record_of(4031));
  Skip(-1);
  EXPECT_EQ(RecNo(), record_of(4030));
  Skip(2);
  EXPECT_EQ(RecNo(), record_of(4032));
  Go(record_of(4032));
  Skip(-1);
  EXPECT_EQ(RecNo(), record_of(4031));
  Go(record_of(4031));
  Skip(1);
  EXPECT_EQ(RecNo(), record_of(4032));
  GoBottom();
  Skip(-18);
  EXPECT_EQ(RecNo(), record_of(4031));
  Skip(18);
  EXPECT_EQ(RecNo(), record_of(4049));
  // In the descending tag the hanging leaf holds the smallest keys.
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  ExpectTagAsModel(2, down, "after the build");
  ASSERT_TRUE(Find(Name(18)));
  Skip(1);
  EXPECT_EQ(table_test::SlotText(1), Name(17) + "    ");
  Skip(-1);
  EXPECT_EQ(table_test::SlotText(1), Name(18) + "    ");

  // Appends above every key fill the hanging leaf, split it (the root then
  // holds leaves and a branch as children) and go on splitting the last
  // leaf; appends below and among the keys split full leaves at depth 3.
  ASSERT_TRUE(SetOrderToTag("NAMES"));
  auto append = [&](const std::string& name) {
    AppendPerson(name, 1, true, 2001, 2, 3);
    const auto record = static_cast<std::uint32_t>(RecNo());
    for (auto* model : {&names, &down}) {
      model->Append(record, index_model::KeyValue{(name + std::string(10, ' ')).substr(0, 10), 0}, true);
    }
  };
  for (int i = 0; i < 50; ++i) append("Z" + Name(i));
  ExpectTagAsModel(1, names, "after 50 appends at the end");
  EXPECT_GT(WalkFile(1).leaves, 65);
  EXPECT_EQ(RootOf(1).count, 2);  // the branch and the split leaf's lower half
  EXPECT_TRUE(RootOf(1).trailing_leaf);
  for (int i = 50; i < 200; ++i) append("Z" + Name(i));
  for (int i = 0; i < 70; ++i) append("A" + Name(i));
  for (int i = 0; i < 70; ++i) append(Name(i * 57) + "A");
  ExpectTagAsModel(1, names, "after 340 appends");
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  ExpectTagAsModel(2, down, "after 340 appends");

  // Replaces move keys into and out of the last leaves.
  ASSERT_TRUE(SetOrderToTag("NAMES"));
  std::mt19937 random(9);
  for (int i = 0; i < 300; ++i) {
    const auto record = static_cast<std::int32_t>(1 + random() % static_cast<std::uint32_t>(RecCount()));
    Go(record);
    const std::string old_name = table_test::SlotText(1);
    const std::string new_name = (i % 2 == 0 ? "ZZ" : "N0403") + std::to_string(i);
    SetName(new_name);
    Replace();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    const index_model::KeyValue old_key{(old_name + std::string(10, ' ')).substr(0, 10), 0};
    const index_model::KeyValue new_key{(new_name + std::string(10, ' ')).substr(0, 10), 0};
    for (auto* model : {&names, &down}) {
      model->Replace(static_cast<std::uint32_t>(record), old_key, true, new_key, true);
    }
  }
  ExpectTagAsModel(1, names, "after 300 replaces");
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  ExpectTagAsModel(2, down, "after 300 replaces");

  // Appends at the end until the root, whose children are a branch and
  // leaves, is full and splits: the tree grows a level.
  ASSERT_TRUE(SetOrderToTag("NAMES"));
  const int depth = WalkFile(1).depth;
  for (int i = 0; i < 2100 && RootOf(1).trailing_leaf; ++i) append("ZZZ" + Name(i));
  EXPECT_FALSE(RootOf(1).trailing_leaf);
  EXPECT_EQ(WalkFile(1).depth, depth + 1);
  ExpectTagAsModel(1, names, "after the root split");
  ASSERT_TRUE(SetOrderToTag("DOWN"));
  ExpectTagAsModel(2, down, "after the root split");
  CloseIndex();
  // The file reopens and the engine's check still passes from scratch.
  OpenIndex();
  for (int slot = 1; slot <= 2; ++slot) {
    std::string problem;
    EXPECT_EQ(CheckTree(*TagInSlot(slot), nullptr, &problem), 0) << problem;
  }
}

TEST_F(BuiltIndexTest, ReplacesEmptyABuiltForTagAndFillItAgain) {
  // A FOR tag over 4,050 flagged records (the hanging-leaf layout) loses
  // every entry as the flags are cleared in a random order, down to an
  // empty root; the unconditional tag keeps them all.
  OpenNames(4050);
  ASSERT_TRUE(MakeAndOpenIndex({{"ON", "NAME", "FLAG", false, false}, {"AMOUNTS", "AMOUNT", "", false, false}}))
      << ErrorText;
  index_model::TagModel on = ModelOf(1), amounts = ModelOf(2);
  std::vector<std::int32_t> order(4050);
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::int32_t>(i + 1);
  std::mt19937 random(4);
  std::shuffle(order.begin(), order.end(), random);
  auto key_of = [&](std::int32_t record) {
    return index_model::KeyValue{(rows_[static_cast<std::size_t>(record - 1)].name + std::string(10, ' ')).substr(0, 10), 0};
  };
  for (std::size_t i = 0; i < order.size(); ++i) {
    Go(order[i]);
    SetFlag(false);
    Replace();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    on.Replace(static_cast<std::uint32_t>(order[i]), key_of(order[i]), true, key_of(order[i]), false);
    if (i % 1000 == 999 || i + 10 >= order.size()) {
      ASSERT_EQ(on.Check(WalkFile(1)), "") << "after " << i + 1;
      std::string problem;
      ASSERT_EQ(CheckTree(*TagInSlot(1), nullptr, &problem), 0) << problem << " after " << i + 1;
    }
  }
  EXPECT_EQ(WalkFile(1).entries.size(), 0u);
  GoTop();
  EXPECT_TRUE(dEOF());
  GoBottom();
  EXPECT_TRUE(dEOF());
  EXPECT_FALSE(Find("N0"));
  // Setting flags again (in natural order: these records are outside the
  // tag) fills the emptied tag.
  Set_Order_To(0);
  for (std::int32_t record : {17, 4000, 1, 2345}) {
    Go(record);
    SetFlag(true);
    Replace();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    on.Replace(static_cast<std::uint32_t>(record), key_of(record), false, key_of(record), true);
  }
  ASSERT_TRUE(SetOrderToTag("ON"));
  ExpectTagAsModel(1, on, "after four flags set again");
  ASSERT_TRUE(SetOrderToTag("AMOUNTS"));
  ExpectTagAsModel(2, amounts, "after the replaces");
}

TEST_F(BuiltIndexTest, MakeAndOpenStandsOnTagOnesFirstRecord) {
  // Tag 1 is a FOR tag whose first entries are deleted records: with
  // deleted records hidden the table stands on the first visible one.
  std::vector<Row> rows = {{"Delta", 5, 2001, 1, 1, true, false}, {"Alpha", 7, 2001, 1, 1, true, true},
                           {"Bravo", 9, 2001, 1, 1, false, false}, {"Charlie", 1, 2001, 1, 1, true, false},
                           {"Echo", 2, 2001, 1, 1, true, false}};
  OpenRows(rows);
  ASSERT_TRUE(MakeAndOpenIndex({{"NAMES", "NAME", "FLAG", false, false}, {"AMOUNTS", "AMOUNT", "", false, false}}))
      << ErrorText;
  EXPECT_EQ(CurrentOrder(), 1);
  EXPECT_EQ(RecNo(), 2);  // Alpha: deleted records are visible
  EXPECT_FALSE(dEOF());
  Skip(1);
  EXPECT_EQ(RecNo(), 4);  // Charlie (Bravo is outside the condition)

  CurrentWorkArea()->ignore_deleted = true;
  ASSERT_TRUE(MakeAndOpenIndex({{"NAMES", "NAME", "FLAG", false, false}})) << ErrorText;
  EXPECT_EQ(CurrentOrder(), 1);
  EXPECT_EQ(RecNo(), 4);
  Skip(-1);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), 4);
}

TEST_F(BuiltIndexTest, ReindexKeepsTheOrderByNameAndNaturalOrderStays) {
  OpenNames(500);
  ASSERT_TRUE(MakeAndOpenIndex({{"NAMES", "NAME", "", false, false},
                                {"AMOUNTS", "AMOUNT", "", true, false},
                                {"EVEN", "NAME", "AMOUNT > 0", false, false}}))
      << ErrorText;
  ASSERT_TRUE(SetOrderToTag("EVEN"));
  ASSERT_EQ(CurrentOrder(), 3);
  Reindex();
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(CurrentOrder(), 3);
  ExpectTagAsModel(3, ModelOf(3), "after Reindex");

  ASSERT_TRUE(SetOrderToTag("AMOUNTS"));
  Reindex();
  EXPECT_EQ(CurrentOrder(), 2);
  ExpectTagAsModel(2, ModelOf(2), "after Reindex");

  // Natural order stays natural order; the table's order is by record.
  ASSERT_TRUE(SetOrderToTag(""));
  Reindex();
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(CurrentOrder(), 0);
  V natural;
  for (std::uint32_t i = 1; i <= 500; ++i) natural.push_back(i);
  EXPECT_EQ(Forwards(), natural);
  ASSERT_TRUE(SetOrderToTag("NAMES"));
  ExpectTagAsModel(1, ModelOf(1), "after Reindex in natural order");
}

}  // namespace
}  // namespace qd::index_test
