// The node cache: leaves take the slots of a bounded ring (the oldest gives
// way, a re-noted leaf keeps its slot, a dropped leaf is never found again
// even after its slot is taken), branch nodes are kept apart from them, and
// a page that turns from branch to leaf (or back) is found only as it is now.
#include <gtest/gtest.h>

#include "index_test_support.h"
#include "indexes/node_cache.h"

namespace qd::index_test {
namespace {

constexpr int kItem = 16;

// A node image tagged with `mark` in its first key byte: a leaf, or a
// branch node (trailing pointer set).
NodeImage Image(int mark, bool branch = false) {
  const Bytes bytes = Node(kItem, {{1, {static_cast<std::uint8_t>(mark), static_cast<std::uint8_t>(mark >> 8)}}},
                           branch ? 99 : 0);
  NodeImage image{};
  std::copy(bytes.begin(), bytes.end(), image.begin());
  return image;
}
int MarkOf(const std::uint8_t* node) { return node == nullptr ? -1 : node[12] | (node[13] << 8); }

TEST(NodeCacheTest, LeavesRingAroundBranchesAndFollowTheirPages) {
  NodeCache cache;
  const auto leaves = static_cast<int>(NodeCache::kMaxLeaves);
  const NodeImage branch = Image(7, true);
  cache.Note(4, branch.data(), kItem);
  for (int i = 0; i < leaves + 100; ++i) {
    const NodeImage leaf = Image(i);
    cache.Note(100 + 2 * i, leaf.data(), kItem);
  }
  // The 100 oldest leaves gave way; the rest and the branch node stay.
  EXPECT_EQ(cache.Find(100), nullptr);
  EXPECT_EQ(cache.Find(100 + 2 * 99), nullptr);
  for (int i = 100; i < leaves + 100; ++i) ASSERT_EQ(MarkOf(cache.Find(100 + 2 * i)), i) << i;
  EXPECT_EQ(MarkOf(cache.Find(4)), 7);

  // A leaf written again keeps its slot and shows its new bytes.
  const NodeImage changed = Image(5000);
  cache.Note(100 + 2 * 300, changed.data(), kItem);
  EXPECT_EQ(MarkOf(cache.Find(100 + 2 * 300)), 5000);
  // A dropped leaf is gone, also after its slot was taken by later leaves.
  cache.Drop(100 + 2 * 301, 1024);
  EXPECT_EQ(cache.Find(100 + 2 * 301), nullptr);
  for (int i = 0; i < leaves; ++i) {
    const NodeImage leaf = Image(10000 + i);
    cache.Note(5000 + 2 * i, leaf.data(), kItem);
  }
  EXPECT_EQ(cache.Find(100 + 2 * 301), nullptr);
  for (int i = 0; i < leaves; ++i) ASSERT_EQ(MarkOf(cache.Find(5000 + 2 * i)), 10000 + i) << i;

  // A branch page that becomes a leaf, and back.
  const NodeImage as_leaf = Image(8);
  cache.Note(4, as_leaf.data(), kItem);
  EXPECT_EQ(MarkOf(cache.Find(4)), 8);
  const NodeImage as_branch = Image(9, true);
  cache.Note(4, as_branch.data(), kItem);
  EXPECT_EQ(MarkOf(cache.Find(4)), 9);
  // A count that does not fit a node is not kept at all.
  NodeImage bad = Image(10);
  bad[0] = 0xFF;
  bad[1] = 0x7F;
  cache.Note(4, bad.data(), kItem);
  EXPECT_EQ(cache.Find(4), nullptr);
  cache.Clear();
  EXPECT_EQ(cache.Find(5000), nullptr);
}

}  // namespace
}  // namespace qd::index_test
