// The index file's byte layouts against bytes built by hand: the file header
// of a new file, the tag table with its name tree through adds and removes,
// the tag header image and the node word that is never stored.
#include "index_test_support.h"

namespace qd::index_test {
namespace {

class LayoutTest : public IndexTest {
 protected:
  // The header CreateMdxHeader writes for a table named `table` today.
  static Bytes NewHeader(const std::string& table) {
    Bytes b(2048, 0);
    int year = 0, month = 0, day = 0;
    platform::LocalDate(year, month, day);
    const std::uint8_t date[3] = {static_cast<std::uint8_t>(year - 1900), static_cast<std::uint8_t>(month),
                                  static_cast<std::uint8_t>(day)};
    b[0] = 2;
    std::copy(date, date + 3, b.begin() + 1);
    PutText(b, 4, table);
    Put16(b, 20, 2);
    Put16(b, 22, 1024);
    b[24] = 1;
    b[25] = 48;
    b[26] = 32;
    std::copy(date, date + 3, b.begin() + 44);
    return b;
  }
  // Tag table entry `number` of a header image.
  static Bytes EntryOf(const Bytes& header, int number) {
    const auto at = static_cast<std::ptrdiff_t>(512 + 32 * number);
    return Bytes(header.begin() + at, header.begin() + at + 32);
  }
  static Bytes Entry(std::uint32_t page, const std::string& name, int lower, int higher, int parent, char type) {
    Bytes e(32, 0);
    Put32(e, 0, page);
    PutText(e, 4, name);
    e[16] = static_cast<std::uint8_t>(lower);
    e[17] = static_cast<std::uint8_t>(higher);
    e[18] = static_cast<std::uint8_t>(parent);
    e[19] = 2;
    e[20] = static_cast<std::uint8_t>(type);
    return e;
  }
};

TEST_F(LayoutTest, ANewIndexFileIsItsHeaderAlone) {
  OpenPeople();
  ASSERT_TRUE(CreateMdxHeader(MdxPath())) << ErrorText;
  EXPECT_EQ(Mdx(), MdxPath());
  CloseMdxHeader();
  EXPECT_EQ(MdxBytes(), NewHeader("PEOPLE"));

  // A table name longer than 15 characters is cut to 15.
  Close();
  table_test::WriteAll(Path("a_rather_long_table.dbf"), table_test::BuildDbf(0x03, PeopleFields(), {}));
  Use(Path("a_rather_long_table.dbf"), nullptr, 0);
  ASSERT_TRUE(CreateMdxHeader(Path("long.mdx")));
  CloseMdxHeader();
  EXPECT_EQ(table_test::ReadAll(Path("long.mdx")), NewHeader("A_RATHER_LONG_T"));
}

TEST_F(LayoutTest, AnExistingFileKeepsItsHeader) {
  OpenPeople();
  const MdxImage image = PeopleIndex();
  WriteMdx(image);
  ASSERT_TRUE(CreateMdxHeader(MdxPath()));
  EXPECT_EQ(TagName(1), "NAMES");
  EXPECT_EQ(TagName(2), "AMOUNTS");
  EXPECT_EQ(TagName(3), "");
  EXPECT_EQ(EndOfFilePage(*CurrentIndexArea()), image.bytes.size() / 512);
  CloseMdxHeader();
  EXPECT_EQ(MdxBytes(), image.bytes);  // unmodified: nothing written
}

TEST_F(LayoutTest, TagTableEntriesAndTheirNameTree) {
  OpenPeople();
  ASSERT_TRUE(CreateMdxHeader(MdxPath()));
  EXPECT_EQ(AddTagEntry(4, "name", 'C'), 1);
  EXPECT_EQ(AddTagEntry(6, "AMOUNT", 'N'), 2);
  EXPECT_EQ(AddTagEntry(8, "born", 'D'), 3);
  EXPECT_EQ(AddTagEntry(10, "ZIP", 'C'), 4);
  FlushMdxHeader();
  Bytes b = MdxBytes();
  // NAME is the root; AMOUNT sorts lower, BORN above AMOUNT, ZIP above NAME.
  Bytes head(32, 0);
  head[17] = 1;
  EXPECT_EQ(EntryOf(b, 0), head);
  EXPECT_EQ(EntryOf(b, 1), Entry(4, "NAME", 2, 4, 0, 'C'));
  EXPECT_EQ(EntryOf(b, 2), Entry(6, "AMOUNT", 0, 3, 1, 'N'));
  EXPECT_EQ(EntryOf(b, 3), Entry(8, "BORN", 0, 0, 2, 'D'));
  EXPECT_EQ(EntryOf(b, 4), Entry(10, "ZIP", 0, 0, 1, 'C'));
  EXPECT_EQ(b[28], 4);

  // Removing tag 2 moves the last entry into its slot; the old last slot is
  // zero again and the tree is rebuilt.
  RemoveTagEntry(2);
  FlushMdxHeader();
  b = MdxBytes();
  EXPECT_EQ(b[28], 3);
  EXPECT_EQ(EntryOf(b, 1), Entry(4, "NAME", 3, 2, 0, 'C'));
  EXPECT_EQ(EntryOf(b, 2), Entry(10, "ZIP", 0, 0, 1, 'C'));
  EXPECT_EQ(EntryOf(b, 3), Entry(8, "BORN", 0, 0, 1, 'D'));
  EXPECT_EQ(EntryOf(b, 4), Bytes(32, 0));

  // A tag of an existing name replaces it: the old entry goes first.
  EXPECT_EQ(AddTagEntry(12, "Name", 'C'), 3);
  FlushMdxHeader();
  b = MdxBytes();
  EXPECT_EQ(EntryOf(b, 1), Entry(8, "BORN", 0, 2, 0, 'D'));
  EXPECT_EQ(EntryOf(b, 2), Entry(10, "ZIP", 3, 0, 1, 'C'));
  EXPECT_EQ(EntryOf(b, 3), Entry(12, "NAME", 0, 0, 2, 'C'));

  // The last tag removed leaves an empty tree.
  RemoveTagEntry(3);
  RemoveTagEntry(2);
  RemoveTagEntry(1);
  CloseMdxHeader();
  EXPECT_EQ(MdxBytes(), NewHeader("PEOPLE"));
}

TEST_F(LayoutTest, AFortyEighthTagIsRefusedAndNothingIsWritten) {
  OpenPeople();
  ASSERT_TRUE(CreateMdxHeader(MdxPath()));
  for (int i = 1; i <= 47; ++i) ASSERT_EQ(AddTagEntry(static_cast<std::uint32_t>(2 + 2 * i), "T" + std::to_string(i), 'C'), i);
  CloseMdxHeader();
  const Bytes full = MdxBytes();
  ASSERT_TRUE(CreateMdxHeader(MdxPath()));
  EXPECT_FALSE(CheckRoomForTag("T48", "AddIndexTag()"));
  ExpectError(220);
  EXPECT_EQ(AddTagEntry(200, "T48", 'C'), 0);
  EXPECT_EQ(ErrorCode, 220);
  EXPECT_EQ(TakeErrorText(), "No room for tag T48: an index file holds at most 47 tags [AddIndexTag()]");
  ErrorCode = 0;
  // Replacing one of the 47 is allowed.
  EXPECT_TRUE(CheckRoomForTag("t7", "AddIndexTag()"));
  CloseMdxHeader();
  EXPECT_EQ(MdxBytes(), full);
}

TEST_F(LayoutTest, TagHeaderImageAndAnchorWrites) {
  OpenPeople();
  MdxImage image;
  TagHeader header;
  header.key = "upper( name )";
  header.for_text = ".not. deleted()";
  header.descending = true;
  const std::uint32_t page = image.LeafTag(1, "NAMES", header, {});
  // Bytes beyond the 983 the engine keeps must survive its writes.
  std::fill(image.bytes.begin() + page * 512 + 983, image.bytes.begin() + page * 512 + 1024, 0xEE);
  WriteMdx(image);
  OpenIndex();
  CurrIndex* tag = TagInSlot(1);
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->tag_number, 1);
  EXPECT_EQ(tag->header_page, page);
  EXPECT_EQ(tag->RootPage(), 4u);
  EXPECT_EQ(tag->key_length, 10);
  EXPECT_EQ(tag->item_length, 16);
  EXPECT_EQ(tag->max_keys, 63);
  EXPECT_TRUE(tag->descending);
  EXPECT_TRUE(tag->char_key);
  EXPECT_FALSE(tag->header_modified);

  tag->SetRootPage(40);
  EXPECT_TRUE(tag->header_modified);
  WriteAnchor(1);
  EXPECT_FALSE(tag->header_modified);
  const Bytes b = MdxBytes();
  Bytes expected = TagHeaderBlock(header);
  Put32(expected, 0, 40);
  // The texts are stored as normalised when the tag opened.
  std::fill(expected.begin() + 24, expected.begin() + 245, 0);
  PutText(expected, 24, "UPPER(NAME)");
  std::fill(expected.begin() + 762, expected.begin() + 983, 0);
  PutText(expected, 762, ".NOT. DELETED()");
  std::fill(expected.begin() + 983, expected.end(), 0xEE);
  EXPECT_EQ(Bytes(b.begin() + page * 512, b.begin() + page * 512 + 1024), expected);
}

TEST_F(LayoutTest, TheNodeModifiedWordIsNeverStored) {
  OpenPeople();
  MdxImage image = PeopleIndex();
  const std::size_t root = 4 * 512;  // the NAMES leaf
  image.bytes[root + 2] = 0x55;
  image.bytes[root + 3] = 0x66;
  WriteMdx(image);
  OpenIndex();
  CurrIndex& tag = *TagInSlot(1);
  NodeImage node{};
  SeekAndRead(tag, 4, node.data());
  EXPECT_EQ(node[2], 0);
  EXPECT_EQ(node[3], 0);
  EXPECT_EQ(tag.View(node.data()).Count(), 3);
  EXPECT_TRUE(tag.View(node.data()).IsLeaf());
  // In a leaf the 4 bytes after the last entry are zero.
  EXPECT_EQ(Get32(Bytes(node.begin(), node.end()), 8 + 3 * 16), 0u);

  node[2] = 0x77;
  ASSERT_TRUE(SeekAndWrite(tag, 4, node.data()));
  EXPECT_EQ(node[2], 0);
  const Bytes b = MdxBytes();
  EXPECT_EQ(b[root + 2], 0);
  EXPECT_EQ(b[root + 3], 0);
  EXPECT_EQ(Bytes(b.begin() + root + 4, b.begin() + root + 1024), Bytes(image.bytes.begin() + root + 4, image.bytes.begin() + root + 1024));
}

TEST_F(LayoutTest, BlocksAreAppendedAtTheEndOfTheFile) {
  OpenPeople();
  ASSERT_TRUE(CreateMdxHeader(MdxPath()));
  IndexArea& index = *CurrentIndexArea();
  EXPECT_EQ(EndOfFilePage(index), 4u);
  const Bytes block = Node(16, {{1, CharKey("Smith     ")}});
  EXPECT_EQ(WriteBlockAt(index, EndOfFilePage(index), block.data(), block.size()), 0);
  EXPECT_EQ(EndOfFilePage(index), 6u);
  CloseMdxHeader();
  const Bytes b = MdxBytes();
  ASSERT_EQ(b.size(), 3072u);
  EXPECT_EQ(Bytes(b.begin() + 2048, b.end()), block);
}

}  // namespace
}  // namespace qd::index_test
