// The descent path's segments and its copies of nodes, and the bounded tree
// walk over sound and damaged trees: cycles, shared children, counts above
// capacity, pages outside the file, depth, and the ordering rules.
#include "index_test_support.h"

namespace qd::index_test {
namespace {

TEST(NodePathTest, SegmentsGrowAndShrinkWithTheDepth) {
  NodePath path;
  IndexArea file, other;
  path.Reset({&file, 1});
  NodeImage node{};
  std::uint8_t* root = nullptr;
  for (int level = 0; level < 20; ++level) {
    node[0] = static_cast<std::uint8_t>(level);
    std::uint8_t* copy = path.Push(100 + 2 * level, node.data());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], level);
    if (level == 0) root = copy;
  }
  EXPECT_EQ(path.Depth(), 20);
  EXPECT_EQ(path.Segments(), 3);
  EXPECT_EQ(path.NodeAt(0), root);  // entries never move
  EXPECT_EQ(path.PageAt(19), 138);
  EXPECT_EQ(path.Lookup(&file, 110), path.NodeAt(5));
  EXPECT_EQ(path.Lookup(&other, 110), nullptr);
  EXPECT_EQ(path.Lookup(&file, 111), nullptr);
  path.Invalidate();
  EXPECT_EQ(path.Owner().slot, 0);
  EXPECT_EQ(path.Lookup(&file, 110), path.NodeAt(5));  // the copies still follow the file

  EXPECT_EQ(path.Pop(), 136);
  for (int i = 0; i < 10; ++i) path.Pop();
  EXPECT_EQ(path.Depth(), 9);
  EXPECT_EQ(path.Segments(), 1);
  while (path.Depth() > 1) path.Pop();
  EXPECT_EQ(path.Pop(), 0);  // the root stays
  EXPECT_EQ(path.Depth(), 1);
  EXPECT_EQ(path.NodeAt(0), root);

  path.Reset({&other, 2});
  EXPECT_EQ(path.Depth(), 0);
  for (int level = 0; level < kMaxTreeDepth; ++level) ASSERT_NE(path.Push(level + 4, node.data()), nullptr);
  EXPECT_EQ(path.Push(999, node.data()), nullptr);  // deeper than any sound tree
  EXPECT_EQ(path.Depth(), kMaxTreeDepth);
}

class TreeWalkTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    // No records: opening an index then follows no node, so that damaged
    // trees reach the walk.
    OpenPeople(false, {});
  }

  // Two leaves under one branch root:
  //   page 4  leaf   Adams(3) Jones(2)
  //   page 6  leaf   Smith(1)
  //   page 8  root   [4: Jones] trailing 6
  //   page 10 tag header
  MdxImage TwoLevels(bool descending = false) {
    MdxImage image;
    if (descending) {
      image.Append(Node(16, {{1, CharKey("Smith     ")}, {2, CharKey("Jones     ")}}));
      image.Append(Node(16, {{3, CharKey("Adams     ")}}));
      image.Append(Node(16, {{4, CharKey("Jones     ")}}, 6));
    } else {
      image.Append(Node(16, {{3, CharKey("Adams     ")}, {2, CharKey("Jones     ")}}));
      image.Append(Node(16, {{1, CharKey("Smith     ")}}));
      image.Append(Node(16, {{4, CharKey("Jones     ")}}, 6));
    }
    TagHeader header;
    header.key = "NAME";
    header.root = 8;
    header.descending = descending;
    image.Entry(1, image.Append(TagHeaderBlock(header)), "NAMES", 'C');
    return image;
  }
  // Opens the image and walks tag 1: the walk's code, its problem text in
  // `problem_`, the records visited in `records_`.
  std::uint16_t Walk(const MdxImage& image, bool strict = false) {
    WriteMdx(image);
    CloseIndex();
    if (!SetIndexTo(MdxPath())) return static_cast<std::uint16_t>(1000 + ErrorCode);
    records_.clear();
    problem_.clear();
    summary_ = {};
    CurrIndex& tag = *TagInSlot(1);
    if (strict) return CheckTree(tag, &summary_, &problem_);
    return WalkTree(tag, [&](std::uint32_t record, const std::uint8_t*) { records_.push_back(record); }, {},
                    &summary_, &problem_);
  }
  static void PutNode(MdxImage& image, std::uint32_t page, const Bytes& node) {
    std::copy(node.begin(), node.end(), image.bytes.begin() + page * 512);
  }

  std::vector<std::uint32_t> records_;
  std::string problem_;
  TreeSummary summary_;
};

TEST_F(TreeWalkTest, ASoundTreeInKeyOrder) {
  MdxImage image = TwoLevels();
  ASSERT_EQ(Walk(image), 0) << problem_;
  EXPECT_EQ(records_, (std::vector<std::uint32_t>{3, 2, 1}));
  EXPECT_EQ(summary_.depth, 2);
  EXPECT_EQ(summary_.nodes, 3u);
  EXPECT_EQ(summary_.leaves, 2u);
  EXPECT_EQ(summary_.entries, 3u);
  EXPECT_EQ(Walk(image, true), 0) << problem_;
  // In a branch node the word after the last entry is the rightmost child.
  NodeImage root{};
  SeekAndRead(*TagInSlot(1), 8, root.data());
  EXPECT_EQ(TagInSlot(1)->View(root.data()).TrailingPointer(), 6u);
  EXPECT_FALSE(TagInSlot(1)->View(root.data()).IsLeaf());
  // A descending tag keeps the layout and inverts the order.
  EXPECT_EQ(Walk(TwoLevels(true), true), 0) << problem_;
  EXPECT_EQ(records_, (std::vector<std::uint32_t>{}));  // the check visits no entries
  image.bytes[10 * 512 + 8] |= 0x08;  // ascending keys under a descending tag
  EXPECT_EQ(Walk(image, true), 222);
  EXPECT_EQ(problem_, "page 4: key 0 outside its parent's bounds");
}

TEST_F(TreeWalkTest, CyclesAndSharedChildren) {
  MdxImage image = TwoLevels();
  Put32(image.bytes, 8 * 512 + 8 + 16, 8);  // the root is its own rightmost child
  EXPECT_EQ(Walk(image), 222);
  EXPECT_EQ(problem_, "page 8: reached twice");
  image = TwoLevels();
  Put32(image.bytes, 8 * 512 + 8 + 16, 4);  // both children are page 4
  EXPECT_EQ(Walk(image), 222);
  EXPECT_EQ(problem_, "page 4: reached twice");
}

TEST_F(TreeWalkTest, CountsAboveCapacityAndPagesOutsideTheFile) {
  MdxImage image = TwoLevels();
  Put16(image.bytes, 4 * 512, 64);
  EXPECT_EQ(Walk(image), 222);
  EXPECT_EQ(problem_, "page 4: 64 keys, more than the 63 a node holds");
  Put16(image.bytes, 4 * 512, 0xFFFF);  // -1
  EXPECT_EQ(Walk(image), 222);
  EXPECT_EQ(problem_, "page 4: -1 keys, more than the 63 a node holds");
  for (std::uint32_t page : {100u, 2u, 0x80000000u}) {
    image = TwoLevels();
    Put32(image.bytes, 8 * 512 + 8 + 16, page);
    EXPECT_EQ(Walk(image), 222) << page;
    EXPECT_FALSE(problem_.empty());
  }
  image = TwoLevels();
  Put32(image.bytes, 8 * 512 + 8, 0);
  EXPECT_EQ(Walk(image), 222);
  EXPECT_EQ(problem_, "page 8: child 0 is page 0");
}

TEST_F(TreeWalkTest, DepthIsBounded) {
  // A chain of branch nodes without keys, each leading to the next, and a
  // leaf at the end: `levels` deep in all.
  auto chain = [](int levels) {
    MdxImage image;
    const std::uint32_t first = 4;
    for (int level = 0; level + 1 < levels; ++level) {
      image.Append(Node(16, {}, first + 2 * static_cast<std::uint32_t>(level + 1)));
    }
    image.Append(Node(16, {{1, CharKey("Smith     ")}}));
    TagHeader header;
    header.key = "NAME";
    header.root = first;
    image.Entry(1, image.Append(TagHeaderBlock(header)), "NAMES", 'C');
    return image;
  };
  EXPECT_EQ(Walk(chain(kMaxTreeDepth)), 0) << problem_;
  EXPECT_EQ(summary_.depth, kMaxTreeDepth);
  EXPECT_EQ(records_, (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(Walk(chain(kMaxTreeDepth + 1)), 222);
  EXPECT_EQ(problem_, "page " + std::to_string(4 + 2 * kMaxTreeDepth) + ": tree deeper than 48 levels");
}

TEST_F(TreeWalkTest, TheCheckFindsTreesOutOfOrder) {
  MdxImage image = TwoLevels();
  PutNode(image, 4, Node(16, {{2, CharKey("Jones     ")}, {3, CharKey("Adams     ")}}));
  EXPECT_EQ(Walk(image), 0);  // a plain walk does not judge the order
  EXPECT_EQ(Walk(image, true), 222);
  EXPECT_EQ(problem_, "page 4: key 1 sorts before the key ahead of it");

  image = TwoLevels();
  PutNode(image, 8, Node(16, {{4, CharKey("Brown     ")}}, 6));
  EXPECT_EQ(Walk(image, true), 222);
  EXPECT_EQ(problem_, "page 4: key 1 outside its parent's bounds");

  // Leaves at two depths (the rightmost child is a branch over two leaves)
  // are sound: a build leaves its last leaf hanging from a higher level.
  image = TwoLevels();
  PutNode(image, 8, Node(16, {{4, CharKey("Jones     ")}}, 14));
  image.Append(Node(16, {{5, CharKey("Zed       ")}}));           // page 12
  image.Append(Node(16, {{6, CharKey("Smith     ")}}, 12));       // page 14
  EXPECT_EQ(Walk(image), 0);
  EXPECT_EQ(summary_.depth, 3);
  // Sound: deletions bypass branch nodes, so leaves lie at several depths.
  EXPECT_EQ(Walk(image, true), 0) << problem_;
}

TEST_F(TreeWalkTest, NodesOnThePathAreReadAndWrittenThroughTheirCopies) {
  WriteMdx(PeopleIndex());
  OpenIndex();
  CurrIndex& tag = *TagInSlot(1);
  IndexArea& index = *CurrentIndexArea();
  ASSERT_NE(SharedPath, nullptr);
  SharedPath->Reset({&index, 1});
  NodeImage changed{};
  SeekAndRead(tag, 4, changed.data());
  changed[8] = 99;  // the first record number, in memory only
  std::uint8_t* copy = SharedPath->Push(4, changed.data());
  NodeImage read{};
  SeekAndRead(tag, 4, read.data());
  EXPECT_EQ(read[8], 99);
  EXPECT_EQ(MdxBytes()[4 * 512 + 8], 3);  // the file still holds record 3

  read[8] = 7;
  ASSERT_TRUE(SeekAndWrite(tag, 4, read.data()));
  EXPECT_EQ(copy[8], 7);
  EXPECT_EQ(MdxBytes()[4 * 512 + 8], 7);
  // A node image that is the path's own copy is written as it is.
  copy[9] = 1;
  ASSERT_TRUE(SeekAndWrite(tag, 4, copy));
  EXPECT_EQ(MdxBytes()[4 * 512 + 9], 1);
}

}  // namespace
}  // namespace qd::index_test
