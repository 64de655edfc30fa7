// Search and navigation in index order: the order hooks behind GoTop,
// GoBottom, Skip and Go, the current order and its selection, Find with and
// without the exact-length switch, descending tags, natural order, and
// descent paths deeper than one path segment.
#include "nav_test_support.h"

namespace qd::index_test {
namespace {

using V = std::vector<std::uint32_t>;

class NavigationTest : public NavTest {
 protected:
  // The people table (Smith 1, Jones 2, Adams 3 deleted) with tag NAMES
  // and AMOUNTS, plus a descending name tag.
  void OpenPeopleWithIndex() {
    OpenPeople();
    MdxImage image = PeopleIndex();
    image.LeafTag(3, "DNAMES", CharTag("NAME", 10, true),
                  {{1, CharKey("Smith     ")}, {2, CharKey("Jones     ")}, {3, CharKey("Adams     ")}});
    WriteMdx(image);
    OpenIndex();
  }
};

TEST_F(NavigationTest, MovesFollowTheCurrentOrder) {
  OpenPeopleWithIndex();
  EXPECT_TRUE(IndexHooks.OrderActive());
  EXPECT_EQ(CurrentOrder(), 1);
  EXPECT_EQ(RecNo(), 3);  // opening went to the first record in order
  EXPECT_EQ(Forwards(), (V{3, 2, 1}));
  EXPECT_EQ(Backwards(), (V{3, 2, 1}));

  // Past the last entry: end of file, and the next step is refused.
  GoBottom();
  EXPECT_EQ(RecNo(), 1);
  Skip(1);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 4);
  Skip(1);
  ExpectError(212);
  Skip(-1);
  EXPECT_EQ(RecNo(), 1);
  // Before the first: beginning of file on the first record.
  GoTop();
  Skip(-1);
  EXPECT_TRUE(dBOF());
  EXPECT_EQ(RecNo(), 3);
  Skip(2);
  EXPECT_EQ(RecNo(), 1);
  // Go by number puts the order on that record.
  Go(2);
  Skip(1);
  EXPECT_EQ(RecNo(), 1);
  Go(2);
  Skip(-1);
  EXPECT_EQ(RecNo(), 3);

  // Deleted records are passed over while hidden.
  SetIgnoreDel(true);
  EXPECT_EQ(Forwards(), (V{2, 1}));
  EXPECT_EQ(Backwards(), (V{2, 1}));
  SetIgnoreDel(false);

  // Another order; tag 1 stays reachable.
  Set_Order_To(2);
  EXPECT_EQ(CurrentOrder(), 2);
  EXPECT_EQ(Forwards(), (V{2, 3, 1}));
  Set_Order_To(3);
  EXPECT_EQ(CurrentOrder(), 3);
  EXPECT_FALSE(IndexHooks.Ascending());
  EXPECT_EQ(Forwards(), (V{1, 2, 3}));
  EXPECT_EQ(Backwards(), (V{1, 2, 3}));
  Set_Order_To(1);
  EXPECT_EQ(CurrentOrder(), 1);
  EXPECT_EQ(Forwards(), (V{3, 2, 1}));
  // Changing order keeps the current record.
  Go(1);
  Set_Order_To(2);
  EXPECT_EQ(RecNo(), 1);
  Skip(-1);
  EXPECT_EQ(RecNo(), 3);

  // Natural order keeps the index open but visits records by number.
  Set_Order_To(0);
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_EQ(Mdx(), MdxPath());
  EXPECT_EQ(Forwards(), (V{1, 2, 3}));
  EXPECT_EQ(Backwards(), (V{1, 2, 3}));
  EXPECT_EQ(IndexHooks.CurrentKeyTextFunction()(), "Rec:         1");
  EXPECT_FALSE(Find("Smith"));
  ExpectError(254);
  EXPECT_EQ(TakeErrorText(), "Cannot use Find() with index order 0 (natural order) [Find]");

  // Selecting orders by name.
  EXPECT_TRUE(SetOrderToTag("amounts"));
  EXPECT_EQ(CurrentOrder(), 2);
  EXPECT_TRUE(SetOrderToTag(""));
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_FALSE(SetOrderToTag("AMOUNT"));
  ExpectError(220);
  EXPECT_EQ(TakeErrorText(), "Invalid Index Order Specified: SET_ORDER_TO. [SetOrderToTag(AMOUNT)] (DBF=" +
                                 CurrentWorkArea()->file_name + ")");
  Set_Order_To(4);
  ExpectError(220);
  EXPECT_EQ(TakeErrorText(), "Invalid Index Order Specified: SET_ORDER_TO. [Set_Order_To(4)] (DBF=" +
                                 CurrentWorkArea()->file_name + ")");
  CloseIndex();
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_FALSE(IndexHooks.OrderActive());
  EXPECT_TRUE(IndexNotOpen("Find"));
  ExpectError(221);
  EXPECT_EQ(TakeErrorText(), "Index not open. (DBF=" + CurrentWorkArea()->file_name + ") [Find]");
  EXPECT_EQ(Forwards(), (V{1, 2, 3}));
}

TEST_F(NavigationTest, FindSeeksTheCurrentOrder) {
  OpenPeopleWithIndex();
  EXPECT_TRUE(Find("Jo"));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_TRUE(*IndexHooks.found_flag);
  Skip(1);
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(Find("Smith"));
  EXPECT_EQ(RecNo(), 1);
  // A text shorter than the key matches its prefix unless whole keys are
  // asked for.
  EXPECT_FALSE(SetExactLength());
  EXPECT_FALSE(Find("Smi"));
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(Find("Smith"));
  EXPECT_TRUE(ClearExactLength());
  EXPECT_TRUE(Find("Smi"));
  // A key above every key leaves the table at its end.
  EXPECT_FALSE(Find("Zorro"));
  EXPECT_FALSE(*IndexHooks.found_flag);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 4);
  Skip(-1);
  EXPECT_EQ(RecNo(), 1);
  // Between keys: not found, at the end.
  EXPECT_FALSE(Find("B"));
  EXPECT_TRUE(dEOF());
  // An empty text changes nothing.
  Go(2);
  EXPECT_FALSE(Find(""));
  EXPECT_EQ(RecNo(), 2);
  // Deleted records are passed while hidden.
  SetIgnoreDel(true);
  EXPECT_FALSE(Find("Adams"));
  SetIgnoreDel(false);
  EXPECT_TRUE(Find("Adams"));
  EXPECT_EQ(RecNo(), 3);

  // Numeric order: the text is read as a number.
  Set_Order_To(2);
  EXPECT_TRUE(Find("12.5"));
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(Find("-1500"));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_FALSE(Find("7"));
  EXPECT_TRUE(dEOF());

  // Descending: a prefix lands on the greatest key that has it.
  Set_Order_To(3);
  EXPECT_TRUE(Find("S"));
  EXPECT_EQ(RecNo(), 1);
  EXPECT_TRUE(Find("Jones"));
  EXPECT_EQ(RecNo(), 2);
}

TEST_F(NavigationTest, EmptyTablesAndEmptyTags) {
  OpenEmpty({{"NAMES", CharTag("NAME", 10)}, {"FLAGGED", CharTag("NAME", 10, false, false, "FLAG")}});
  EXPECT_EQ(IndexHooks.FirstInOrder(), 1);  // record count + 1
  GoTop();
  EXPECT_TRUE(dEOF());
  EXPECT_TRUE(dBOF());
  Set_Order_To(0);
  EXPECT_EQ(IndexHooks.FirstInOrder(), 1);
  EXPECT_FALSE(*IndexHooks.found_flag);
  EXPECT_EQ(IndexHooks.LastInOrder(), 1);
  Set_Order_To(2);
  // Records none of which enter the FOR tag: the order is empty.
  AppendPerson("Nobody", 1, false);
  AppendPerson("Noone", 2, false);
  EXPECT_EQ(TagInSlot(1)->header[246], 0);
  GoTop();
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(RecNo(), 3);
  EXPECT_FALSE(Find("Nobody"));
  EXPECT_EQ(Forwards(), V{});
  Set_Order_To(1);
  EXPECT_EQ(Forwards(), (V{1, 2}));
}

TEST_F(NavigationTest, PathsDeeperThanOneSegment) {
  // A lopsided tree 12 levels deep: each branch node has one key leading to
  // a leaf and its trailing pointer leading to the next branch node.
  MdxImage image;
  const int levels = 12;
  std::vector<std::uint32_t> branch_pages;
  // Leaves first: leaf i holds record i + 1 with key "K" + two digits.
  std::vector<std::uint32_t> leaves;
  auto key = [](int i) { return CharKey("K" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "       "); };
  for (int i = 0; i < levels; ++i) leaves.push_back(image.Append(Node(16, {{static_cast<std::uint32_t>(i + 1), key(i)}})));
  // The deepest branch node leads to leaf levels-2 and, by its trailing
  // pointer, to the last leaf; each one above to its leaf and the one below.
  std::uint32_t below = leaves[levels - 1];
  for (int i = levels - 2; i >= 0; --i) below = image.Append(Node(16, {{leaves[static_cast<std::size_t>(i)], key(i)}}, below));
  TagHeader header = CharTag("NAME", 10);
  header.root = below;
  image.Entry(1, image.Append(TagHeaderBlock(header)), "NAMES", 'C');
  std::vector<std::string> records;
  for (int i = 0; i < levels; ++i) records.push_back(Person(false, "K" + std::string(i < 10 ? "0" : "") + std::to_string(i), "1", "", 'T'));
  OpenPeople(false, records);
  WriteMdx(image);
  OpenIndex();
  ASSERT_EQ(WalkFile(1).problem, "");
  EXPECT_EQ(WalkFile(1).depth, levels);

  V all;
  for (int i = 1; i <= levels; ++i) all.push_back(static_cast<std::uint32_t>(i));
  GoTop();
  EXPECT_EQ(SharedPath->Segments(), 1);
  EXPECT_EQ(Forwards(), all);
  GoBottom();
  EXPECT_EQ(SharedPath->Depth(), levels);
  EXPECT_EQ(SharedPath->Segments(), 2);  // a second segment for levels 10 to 12
  GoTop();
  EXPECT_EQ(SharedPath->Depth(), 2);
  EXPECT_EQ(SharedPath->Segments(), 1);  // and it went when the path shrank
  EXPECT_EQ(Backwards(), all);
  EXPECT_TRUE(Find("K11"));
  EXPECT_EQ(RecNo(), 12);
  Skip(-1);
  EXPECT_EQ(RecNo(), 11);
  EXPECT_TRUE(Find("K00"));
  EXPECT_EQ(RecNo(), 1);
}

TEST_F(NavigationTest, DamagedNodesEndTheStepWithAnError) {
  OpenPeople();
  MdxImage image;
  // The root leads to page 0 for its first child.
  const std::uint32_t leaf = image.Append(Node(16, {{1, CharKey("Smith     ")}}));
  const std::uint32_t root = image.Append(Node(16, {{0, CharKey("Jones     ")}}, leaf));
  TagHeader header = CharTag("NAME", 10);
  header.root = root;
  image.Entry(1, image.Append(TagHeaderBlock(header)), "NAMES", 'C');
  WriteMdx(image);
  // Opening follows the first child: the file is refused as corrupted.
  EXPECT_FALSE(SetIndexTo(MdxPath()));
  EXPECT_EQ(ErrorCode, 222);
  ErrorCode = 0;
}

}  // namespace
}  // namespace qd::index_test
