// Opening an index file: every tag with its checks, the exact codes and
// texts of what is refused, the questions about an open index, re-reading
// and closing, and the index file's name rules.
#include <filesystem>

#include "index_test_support.h"

namespace qd::index_test {
namespace {

class OpenIndexTest : public IndexTest {
 protected:
  // Writes the image and tries SetIndexTo; the error code (0 when it opened).
  std::uint16_t TryOpen(const MdxImage& image) {
    WriteMdx(image);
    ErrorCode = 0;
    const bool opened = SetIndexTo(MdxPath());
    EXPECT_EQ(opened, ErrorCode == 0) << ErrorText;
    return ErrorCode;
  }
  // The refusal of an image: its code, with the text checked and the index
  // left closed.
  void ExpectRefused(const MdxImage& image, std::uint16_t code, const std::string& text) {
    EXPECT_EQ(TryOpen(image), code);
    EXPECT_EQ(TakeErrorText(), text + MdxPath());
    ErrorCode = 0;
    EXPECT_EQ(Mdx(), "");
    EXPECT_EQ(TagInSlot(1), nullptr);
    EXPECT_EQ(OpenIndexFiles, 0);
    // Nothing is left logged in: the semaphore file went with the login.
    EXPECT_FALSE(std::filesystem::exists(Path("PEOPLE.@S@")));
  }
  static std::string Corrupted() { return "Invalid dBASE key expression or corrupted index file "; }
  static std::string KeyLength() { return "Incorrect key length: Must be 1 to 100. "; }
  // The people index with tag 1's header changed by `change`.
  MdxImage WithNamesHeader(const std::function<void(TagHeader&)>& change) {
    MdxImage image;
    TagHeader names;
    names.key = "NAME";
    change(names);
    image.LeafTag(1, "NAMES", names, {{1, CharKey("Smith     ")}});
    return image;
  }
};

TEST_F(OpenIndexTest, OpensEveryTagAndAnswersAboutThem) {
  OpenPeople();
  WriteMdx(PeopleIndex());
  OpenIndex();
  EXPECT_EQ(Mdx(), MdxPath());
  EXPECT_EQ(TagName(0), "");
  EXPECT_EQ(TagName(1), "NAMES");
  EXPECT_EQ(TagName(2), "AMOUNTS");
  EXPECT_EQ(TagName(3), "");
  EXPECT_EQ(TagDescription(1), MdxPath() + " [tag: NAMES]");
  EXPECT_EQ(TagDescription(2), MdxPath() + " [tag: AMOUNTS]");
  EXPECT_EQ(TagDescription(7), MdxPath());
  EXPECT_EQ(IndexHooks.TagDescription(2), TagDescription(2));
  const CurrIndex& names = *TagInSlot(1);
  const CurrIndex& amounts = *TagInSlot(2);
  EXPECT_EQ(names.key_type, 'C');
  EXPECT_EQ(amounts.key_type, 'N');
  EXPECT_EQ(amounts.item_length, 16);
  EXPECT_EQ(amounts.max_keys, 63);
  EXPECT_EQ(names.compare, &CompareCharacterKeys);
  EXPECT_EQ(amounts.compare, &CompareNumericKeys);
  // Opening moved the table to the first record in tag 1's order, whose
  // key is the tag's key.
  EXPECT_EQ(RecNo(), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(names.key.data())), "Adams     ");
  EXPECT_TRUE(IndexHooks.Ascending());
  EXPECT_FALSE(IndexHooks.KeyTransform());
  EXPECT_EQ(OpenIndexFiles, 1);
  ASSERT_NE(SharedPath, nullptr);

  CloseIndex();
  EXPECT_EQ(Mdx(), "");
  EXPECT_EQ(TagInSlot(1), nullptr);
  EXPECT_EQ(OpenIndexFiles, 0);
  EXPECT_EQ(SharedPath, nullptr);
  // Closing changed nothing in the file.
  EXPECT_EQ(MdxBytes(), PeopleIndex().bytes);
}

TEST_F(OpenIndexTest, ShortFilesAndEmptyTagTables) {
  OpenPeople();
  MdxImage image;
  image.bytes.resize(3071);
  ExpectRefused(image, 222, "Unable to open index: ");
  image.bytes.resize(3072);
  EXPECT_EQ(TryOpen(image), 0);
  EXPECT_EQ(Mdx(), MdxPath());
  EXPECT_EQ(TagInSlot(1), nullptr);
  CloseIndex();
  // More tags than the table has entries.
  image.bytes[28] = 48;
  ExpectRefused(image, 222, Corrupted());
}

TEST_F(OpenIndexTest, KeyExpressionsThatDoNotCompileOrDoNotFit) {
  OpenPeople();
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key = "NAME +"; }), 222, Corrupted());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key = ""; }), 222, Corrupted());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key = "NOSUCHFIELD"; }), 222, Corrupted());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key = "FLAG"; t.key_length = 1; }), 222, Corrupted());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.for_text = "NAME"; }), 222, Corrupted());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.for_text = "FLAG .AND."; }), 222, Corrupted());
  // A text without its terminator inside its 221 bytes.
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key = std::string(221, 'N'); }), 222, Corrupted());
  EXPECT_EQ(ErrorCode, 0);  // no compile error is left behind
}

TEST_F(OpenIndexTest, KeyLengthsThatDoNotMatchTheExpression) {
  OpenPeople();
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key_length = 5; }), 266, KeyLength());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key_length = 0; }), 266, KeyLength());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key = "AMOUNT"; t.key_length = 10; }), 266, KeyLength());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.key = "BORN"; t.key_length = 12; }), 266, KeyLength());
  // Item lengths and capacities that do not fit a node.
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.item_length = 12; }), 222, Corrupted());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.item_length = 1016; }), 222, Corrupted());
  ExpectRefused(WithNamesHeader([](TagHeader& t) { t.max_keys = 64; }), 222, Corrupted());
  MdxImage image = WithNamesHeader([](TagHeader&) {});
  Put16(image.bytes, 6 * 512 + 14, 0);  // no key fits
  ExpectRefused(image, 222, Corrupted());
}

TEST_F(OpenIndexTest, PagesOutsideTheFile) {
  OpenPeople();
  MdxImage image = PeopleIndex();
  Put32(image.bytes, 512 + 32, 0);  // tag 1's header in the file header
  ExpectRefused(image, 222, Corrupted());
  image = PeopleIndex();
  Put32(image.bytes, 512 + 64, 400);  // tag 2's header past the end
  ExpectRefused(image, 222, Corrupted());
  image = PeopleIndex();
  Put32(image.bytes, 6 * 512, 99);  // tag 1's root past the end
  ExpectRefused(image, 222, Corrupted());
  image = PeopleIndex();
  image.bytes.resize(image.bytes.size() - 100);  // tag 2's header cut short
  ExpectRefused(image, 222, Corrupted());
}

TEST_F(OpenIndexTest, TheKeyTypeComesFromTheExpression) {
  OpenPeople();
  // Stored as "N" (a writer's mistake) but NAME is character text.
  EXPECT_EQ(TryOpen(WithNamesHeader([](TagHeader& t) { t.type = 'N'; t.descending = true; })), 0);
  const CurrIndex& tag = *TagInSlot(1);
  EXPECT_EQ(tag.key_type, 'C');
  EXPECT_EQ(tag.header[9], 'C');
  EXPECT_EQ(tag.compare, &CompareCharacterKeysDescending);
  EXPECT_FALSE(IndexHooks.Ascending());
}

TEST_F(OpenIndexTest, OperatorsWrittenAgainstNamesReopen) {
  OpenPeople();
  // As this engine stores them after normalising, and as other programs do.
  for (const char* condition : {".NOT. DELETED()", ".NOT.DELETED()", "FLAG.AND..NOT.DELETED()", "flag .or. name = 'x y'"}) {
    EXPECT_EQ(TryOpen(WithNamesHeader([&](TagHeader& t) { t.for_text = condition; })), 0) << condition;
    ASSERT_NE(TagInSlot(1), nullptr);
    EXPECT_NE(TagInSlot(1)->for_expr, nullptr);
    WriteAnchor(1);  // stores the normalised text
    CloseIndex();
    EXPECT_EQ(SetIndexTo(MdxPath()), true) << condition << " " << ErrorText;
    CloseIndex();
  }
  const Bytes b = MdxBytes();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[6 * 512 + 762])), "FLAG .OR. NAME=\"x y\"");
}

TEST_F(OpenIndexTest, AnEmptyTableReadsTheRootAndHasNoKeys) {
  OpenPeople(false, {});
  WriteMdx(PeopleIndex());
  OpenIndex();
  const CurrIndex& tag = *TagInSlot(1);
  EXPECT_TRUE(tag.before_first);
  EXPECT_TRUE(tag.after_last);
  EXPECT_EQ(tag.node_page, 4);
  EXPECT_EQ(tag.View(tag.node_in_use).Count(), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(tag.key.data())), std::string(10, ' '));
  // The shared path holds tag 1's root only.
  ASSERT_NE(SharedPath, nullptr);
  EXPECT_EQ(SharedPath->Depth(), 1);
  EXPECT_EQ(SharedPath->PageAt(0), 4);
  EXPECT_EQ((SharedPath->Owner()), (PathOwner{CurrentIndexArea(), 1}));
  const CurrIndex& amounts = *TagInSlot(2);
  EXPECT_EQ(Bytes(amounts.key.begin(), amounts.key.end()), Bytes(101, 0));
}

TEST_F(OpenIndexTest, NamesFilesAndTheSemaphore) {
  OpenPeople();
  WriteMdx(PeopleIndex());
  const std::string dir = CurrentWorkArea()->file_name.substr(0, CurrentWorkArea()->file_name.size() - 10);
  EXPECT_EQ(ResolveIndexName(""), dir + "PEOPLE.MDX");
  EXPECT_EQ(ResolveIndexName("other"), dir + "other.MDX");
  EXPECT_EQ(ResolveIndexName("other.idx"), dir + "other.idx");
  EXPECT_EQ(ResolveIndexName("/x/other"), "/x/other.MDX");
  EXPECT_EQ(ResolveIndexName("c:other"), "c:other.MDX");

  EXPECT_FALSE(SetIndexTo("missing"));
  EXPECT_EQ(ErrorCode, 2);
  EXPECT_EQ(TakeErrorText(), "SetIndexTo(" + dir + "missing.MDX)");
  ErrorCode = 0;

  // The production index of a shared table, with its semaphore file.
  IndexHooks.OpenProductionIndex();
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  EXPECT_EQ(Mdx(), dir + "PEOPLE.MDX");
  EXPECT_TRUE(std::filesystem::exists(Path("PEOPLE.@S@")));
  EXPECT_EQ(table_test::ReadAll(Path("PEOPLE.@S@")), (Bytes{1, 0, 0, 0}));
  // Closing the table closes the index and logs out: the file goes.
  Close();
  EXPECT_FALSE(std::filesystem::exists(Path("PEOPLE.@S@")));
  EXPECT_EQ(OpenIndexFiles, 0);

  // An exclusive table has no semaphore file.
  OpenPeople(true);
  WriteMdx(PeopleIndex());
  OpenIndex();
  EXPECT_FALSE(std::filesystem::exists(Path("PEOPLE.@S@")));
  EXPECT_FALSE(SemaphoreLoggedIn());
}

TEST_F(OpenIndexTest, ClosingWritesModifiedAnchorsOnly) {
  OpenPeople();
  WriteMdx(PeopleIndex());
  OpenIndex();
  TagInSlot(2)->SetRootPage(40);
  CloseTag(1);
  EXPECT_EQ(MdxBytes(), PeopleIndex().bytes);
  EXPECT_EQ(Mdx(), MdxPath());  // tag 2 is still open
  CloseTag(2);
  EXPECT_EQ(Mdx(), "");
  EXPECT_FALSE(std::filesystem::exists(Path("PEOPLE.@S@")));
  Bytes expected = PeopleIndex().bytes;
  Put32(expected, 10 * 512, 40);  // tag 2's header follows its root, at page 10
  EXPECT_EQ(MdxBytes(), expected);
}

TEST_F(OpenIndexTest, AnchorsAreReadAgainAfterAnotherProgramsChange) {
  OpenPeople();
  MdxImage image = PeopleIndex();
  WriteMdx(image);
  OpenIndex();
  Put32(image.bytes, 6 * 512, 10);  // tag 1's root moved
  WriteMdx(image);
  ReadAnchorNodes();
  EXPECT_EQ(TagInSlot(1)->RootPage(), 10u);
  EXPECT_EQ(TagInSlot(1)->header[9], 'C');
  // A key layout never changes under an open tag: that file is damaged.
  Put16(image.bytes, 6 * 512 + 12, 12);
  WriteMdx(image);
  EXPECT_EQ(Raised([] { ReadAnchorNodes(); }),
            "Error # 222 (Corrupted index file)\r\nError reading index file:  " + MdxPath() +
                " [tag: NAMES] [ReadAnchorNodes]");
  EXPECT_EQ(TagInSlot(1)->key_length, 10);
}

TEST_F(OpenIndexTest, NodeReadsAndWritesOutsideTheBlocksAreRefused) {
  OpenPeople();
  WriteMdx(PeopleIndex());
  OpenIndex();
  CurrIndex& tag = *TagInSlot(1);
  NodeImage node{};
  node.fill(0xAB);
  EXPECT_EQ(Raised([&] { SeekAndRead(tag, 40, node.data()); }),
            "Error # 222 (Corrupted index file)\r\nError reading index file: " + MdxPath() +
                " [tag: NAMES] [SeekAndRead]");
  EXPECT_EQ(node, NodeImage{});  // an empty leaf, should the caller go on
  EXPECT_EQ(Raised([&] { SeekAndRead(tag, 2, node.data()); }).substr(0, 35), "Error # 222 (Corrupted index file)\r");
  EXPECT_EQ(Raised([&] { SeekAndWrite(tag, 3, node.data()); }),
            "Error # 222 (Corrupted index file)\r\nError writing index file: " + MdxPath() +
                " [tag: NAMES] [SeekAndWrite]");
  EXPECT_EQ(MdxBytes(), PeopleIndex().bytes);
}

}  // namespace
}  // namespace qd::index_test
