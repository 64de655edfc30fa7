// Index builds: whole files compared byte by byte with layouts computed
// here from the rules of the format (node order, pages, tag headers, tag
// table), for an empty table, 63, 64, 4,050 and 8,190 records, a unique
// tag, a FOR tag, a descending numeric tag, and two tags with a replaced
// one; built trees walked from their bytes and checked with CheckTree;
// the tag list, progress, Reindex and the failures (expressions, key
// lengths, disk space, a full disk).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "index_test_support.h"
#include "support/small_disk.h"
#include "indexes/index_navigation.h"
#include "platform/platform.h"

namespace qd::index_test {
namespace {

// A sorted leaf entry as a test computes it.
struct Entry {
  std::uint32_t record;
  Bytes key;
};

std::string Amount(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// Appends the nodes of a tag over sorted entries to the image the way a
// build writes them: a leaf is written when the next entry finds it full,
// its page and last key go up (or into a full node's trailing pointer,
// which writes that node in turn); at the end the last leaf, then every
// level with an entry. Returns the root page.
std::uint32_t AppendTree(MdxImage& image, int item_length, const std::vector<Entry>& entries) {
  const int capacity = 1012 / item_length;
  std::vector<std::vector<Item>> levels(1);
  for (const Entry& e : entries) {
    if (static_cast<int>(levels[0].size()) == capacity) {
      const Bytes key = levels[0].back().key;
      std::uint32_t page = image.Append(Node(item_length, levels[0]));
      levels[0].clear();
      for (std::size_t l = 1;; ++l) {
        if (l == levels.size()) levels.emplace_back();
        if (static_cast<int>(levels[l].size()) < capacity) {
          levels[l].push_back({page, key});
          break;
        }
        page = image.Append(Node(item_length, levels[l], page));
        levels[l].clear();
      }
    }
    levels[0].push_back({e.record, e.key});
  }
  std::uint32_t page = image.Append(Node(item_length, levels[0]));
  for (std::size_t l = 1; l < levels.size(); ++l) {
    if (!levels[l].empty()) page = image.Append(Node(item_length, levels[l], page));
  }
  return page;
}

// The leaf entries of a tag read straight from the file's bytes, in order,
// with the depth of each leaf.
void WalkBytes(const Bytes& file, std::uint32_t page, int item_length, int depth, std::vector<Entry>& out,
               std::vector<int>* depths = nullptr) {
  const std::size_t at = page * 512;
  const int n = Get16(file, at);
  const int key_length = item_length;  // keys are compared over the whole item here
  const bool leaf = Get32(file, at + 8 + static_cast<std::size_t>(n * item_length)) == 0;
  for (int i = 0; i < n; ++i) {
    const std::size_t entry = at + 8 + static_cast<std::size_t>(i * item_length);
    if (leaf) {
      out.push_back({Get32(file, entry), Bytes(file.begin() + static_cast<std::ptrdiff_t>(entry + 4),
                                               file.begin() + static_cast<std::ptrdiff_t>(entry + 4 + key_length - 4))});
    } else {
      WalkBytes(file, Get32(file, entry), item_length, depth + 1, out, depths);
    }
  }
  if (leaf && depths != nullptr) depths->push_back(depth);
  if (!leaf) WalkBytes(file, Get32(file, at + 8 + static_cast<std::size_t>(n * item_length)), item_length, depth + 1, out, depths);
}

class IndexBuildTest : public IndexTest {
 protected:
  // The built file, whatever the case of its extension.
  Bytes MdxBytes() const { return table_test::ReadAll(platform::ResolvePath(MdxPath())); }

  // The people table with n records: names in a shuffled order, amounts
  // with repeats.
  void OpenRecords(int n, bool exclusive = true) {
    std::vector<std::string> records;
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
    std::mt19937 random(7);
    std::shuffle(order.begin(), order.end(), random);
    for (int i = 0; i < n; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "N%05d", order[static_cast<std::size_t>(i)]);
      records.push_back(Person(false, name, Amount((order[static_cast<std::size_t>(i)] % 97) - 40.5), "20240101", 'T'));
    }
    names_.clear();
    for (int i = 0; i < n; ++i) names_.push_back(records[static_cast<std::size_t>(i)].substr(1, 10));
    OpenPeople(exclusive, records);
  }

  // The expected file: header (today's date, table PEOPLE), with the tags
  // added in `build`, the page field set to the last root + 2.
  MdxImage Expected() {
    MdxImage image;
    int year = 0, month = 0, day = 0;
    platform::LocalDate(year, month, day);
    for (std::size_t at : {1u, 44u}) {
      image.bytes[at] = static_cast<std::uint8_t>(year - 1900);
      image.bytes[at + 1] = static_cast<std::uint8_t>(month);
      image.bytes[at + 2] = static_cast<std::uint8_t>(day);
    }
    return image;
  }
  // Appends a tag's nodes and header; sets the entry and the page field.
  void AddTag(MdxImage& image, int number, const std::string& name, TagHeader header,
              const std::vector<Entry>& entries) {
    header.root = AppendTree(image, header.Item(), entries);
    const std::uint32_t page = image.Append(TagHeaderBlock(header));
    image.Entry(number, page, name, header.type);
    Put32(image.bytes, 32, header.root + 2);
    image.bytes[512 + 17] = 1;  // the tag-name tree's root is tag 1
  }

  // Entries of a character tag on NAME, sorted by key then record number.
  std::vector<Entry> NameEntries(bool descending = false) const {
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < names_.size(); ++i) entries.push_back({static_cast<std::uint32_t>(i + 1), CharKey(names_[i])});
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
      return descending ? b.key < a.key : a.key < b.key;
    });
    return entries;
  }

  void ExpectFile(const MdxImage& expected) {
    const Bytes actual = MdxBytes();
    ASSERT_EQ(actual.size(), expected.bytes.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
      ASSERT_EQ(actual[i], expected.bytes[i]) << "first difference at offset " << i << " (page " << i / 512 << ")";
    }
  }

  // Opens the built index and checks every tag's tree.
  void ExpectSoundTags() {
    OpenIndex();
    IndexArea& index = *CurrentIndexArea();
    for (int slot = 1; slot <= TagCount(index.Header()); ++slot) {
      std::string problem;
      EXPECT_EQ(CheckTree(*TagInSlot(slot), nullptr, &problem), 0) << problem;
    }
    CloseIndex();
  }

  static TagDefinition Tag(const std::string& name, const std::string& key, const std::string& condition = "",
                           bool descending = false, bool unique = false) {
    return TagDefinition{name, key, condition, descending, unique};
  }

  std::vector<std::string> names_;
};

TEST_F(IndexBuildTest, AnEmptyTableGivesOneEmptyRootLeaf) {
  OpenRecords(0);
  ASSERT_TRUE(MakeIndex({Tag("names", "NAME")})) << ErrorText;
  MdxImage expected = Expected();
  TagHeader header;
  header.key = "NAME";
  AddTag(expected, 1, "NAMES", header, {});
  ExpectFile(expected);
  EXPECT_EQ(Get32(MdxBytes(), 2048 + 1024), 4u);  // header at page 6 names root page 4
  EXPECT_EQ(CurrentIndexArea()->IsOpen(), false);
  ExpectSoundTags();
}

TEST_F(IndexBuildTest, CapacityItemsGiveOneRootLeafAndOneMoreGivesTwoLeavesAndARoot) {
  for (const int n : {63, 64}) {
    OpenRecords(n);
    ASSERT_TRUE(MakeIndex({Tag("names", "NAME")})) << ErrorText;
    MdxImage expected = Expected();
    TagHeader header;
    header.key = "NAME";
    AddTag(expected, 1, "NAMES", header, NameEntries());
    ExpectFile(expected);
    const Bytes file = MdxBytes();
    if (n == 63) {
      EXPECT_EQ(file.size(), 2048u + 2 * 1024);  // one leaf, the tag header
      EXPECT_EQ(Get16(file, 2048), 63);
    } else {
      // Leaf of 63 at page 4, leaf of 1 at page 6, root at page 8 with one
      // entry (page 4, its last key) and trailing pointer 6.
      EXPECT_EQ(file.size(), 2048u + 4 * 1024);
      EXPECT_EQ(Get16(file, 8 * 512), 1);
      EXPECT_EQ(Get32(file, 8 * 512 + 8), 4u);
      EXPECT_EQ(Get32(file, 8 * 512 + 8 + 16), 6u);
      EXPECT_EQ(Get32(file, 10 * 512), 8u);
    }
    ExpectSoundTags();
    Close();
  }
}

TEST_F(IndexBuildTest, TwoRunsThroughTheTemporaryFileGiveTheSameLayout) {
  // Amounts repeat every 97 records: equal keys span both runs and come
  // out by ascending record number.
  OpenRecords(8190);
  ASSERT_TRUE(MakeIndex({Tag("names", "NAME"), Tag("amounts", "AMOUNT")})) << ErrorText;
  EXPECT_EQ(LastBuildStatistics().runs, 2);
  EXPECT_EQ(LastBuildStatistics().pointer_capacity, 8189);
  const std::string run_file = LastBuildStatistics().run_file;
  EXPECT_FALSE(run_file.empty());
  EXPECT_FALSE(std::filesystem::exists(run_file));
  MdxImage expected = Expected();
  TagHeader header;
  header.key = "NAME";
  AddTag(expected, 1, "NAMES", header, NameEntries());
  std::vector<Entry> amounts;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    std::uint8_t key[12];
    EncodeNumericKey((std::stoi(names_[i].substr(1, 5)) % 97) - 40.5, 2, key);
    amounts.push_back({static_cast<std::uint32_t>(i + 1), Bytes(key, key + 12)});
  }
  std::stable_sort(amounts.begin(), amounts.end(), [](const Entry& a, const Entry& b) {
    return CompareNumericKeys(a.key.data(), b.key.data(), 12) < 0;
  });
  TagHeader amount_header;
  amount_header.type = 'N';
  amount_header.key_length = 12;
  amount_header.key = "AMOUNT";
  AddTag(expected, 2, "AMOUNTS", amount_header, amounts);
  expected.bytes[512 + 32 + 16] = 2;  // AMOUNTS sorts lower than NAMES
  expected.bytes[512 + 64 + 18] = 1;
  ExpectFile(expected);
  ExpectSoundTags();
  Close();

  // 8,189 records are sorted in memory.
  OpenRecords(8189);
  ASSERT_TRUE(MakeIndex({Tag("names", "NAME")})) << ErrorText;
  EXPECT_EQ(LastBuildStatistics().runs, 0);
  EXPECT_TRUE(LastBuildStatistics().run_file.empty());
}

TEST_F(IndexBuildTest, TheLastLeafHangsFromTheHighestLevelWithEntries) {
  // 4,050 keys at 63 a node: 64 full leaves fill one branch node, which goes
  // up to a third level; the last 18 keys' leaf hangs from that level.
  OpenRecords(4050);
  ASSERT_TRUE(MakeIndex({Tag("names", "NAME")})) << ErrorText;
  MdxImage expected = Expected();
  TagHeader header;
  header.key = "NAME";
  AddTag(expected, 1, "NAMES", header, NameEntries());
  ExpectFile(expected);
  const Bytes file = MdxBytes();
  const std::uint32_t root = Get32(file, file.size() - 1024);
  EXPECT_EQ(Get16(file, root * 512), 1);
  const std::uint32_t trailing = Get32(file, root * 512 + 8 + 16);
  EXPECT_EQ(Get16(file, trailing * 512), 18);
  EXPECT_EQ(Get32(file, trailing * 512 + 8 + 18 * 16), 0u);  // a leaf
  std::vector<Entry> walked;
  std::vector<int> depths;
  WalkBytes(file, root, 16, 1, walked, &depths);
  EXPECT_EQ(walked.size(), 4050u);
  EXPECT_EQ(*std::min_element(depths.begin(), depths.end()), 2);
  EXPECT_EQ(*std::max_element(depths.begin(), depths.end()), 3);
  ExpectSoundTags();
}

TEST_F(IndexBuildTest, EveryTagOfARandomTableWalksInSortedOrder) {
  // 9,000 records (two runs) with repeated names and dates, deleted
  // records among them; each tag walked equals the records sorted by its
  // comparison and record number.
  std::vector<std::string> records;
  std::mt19937 random(5);
  for (int i = 0; i < 9000; ++i) {
    char name[16], born[16];
    std::snprintf(name, sizeof name, "R%03d", static_cast<int>(random() % 700));
    std::snprintf(born, sizeof born, "%04d%02d%02d", 1900 + static_cast<int>(random() % 120),
                  1 + static_cast<int>(random() % 12), 1 + static_cast<int>(random() % 28));
    records.push_back(Person(random() % 10 == 0, name, Amount(static_cast<double>(random() % 2000) / 4 - 250),
                             random() % 50 == 0 ? "" : born, random() % 2 ? 'T' : 'F'));
  }
  OpenPeople(true, records);
  const std::vector<TagDefinition> tags = {Tag("names", "NAME"), Tag("down", "NAME", "", true),
                                           Tag("born", "BORN"), Tag("late", "BORN", "FLAG .AND. AMOUNT > 0", true),
                                           Tag("amounts", "AMOUNT", "", true, true)};
  ASSERT_TRUE(MakeIndex(tags)) << ErrorText;
  OpenIndex();
  for (int slot = 1; slot <= 5; ++slot) {
    CurrIndex& tag = *TagInSlot(slot);
    std::string problem;
    ASSERT_EQ(CheckTree(tag, nullptr, &problem), 0) << problem;
    // The model: every record passing the FOR condition, its key made as
    // for a search, sorted.
    std::vector<Entry> model;
    for (std::int32_t n = 1; n <= RecCount(); ++n) {
      Go(n);
      if (!ForTest(tag.for_expr)) continue;
      const std::uint8_t* key = MakeKey(slot);
      model.push_back({static_cast<std::uint32_t>(n), Bytes(key, key + tag.key_length)});
    }
    std::stable_sort(model.begin(), model.end(),
                     [&](const Entry& a, const Entry& b) { return tag.Compare(a.key.data(), b.key.data()) < 0; });
    if (tag.Unique()) {
      model.erase(std::unique(model.begin(), model.end(),
                              [&](const Entry& a, const Entry& b) { return tag.Compare(a.key.data(), b.key.data()) == 0; }),
                  model.end());
    }
    std::vector<Entry> walked;
    ASSERT_EQ(WalkTree(tag, [&](std::uint32_t record, const std::uint8_t* key) {
                walked.push_back({record, Bytes(key, key + tag.key_length)});
              }),
              0);
    ASSERT_EQ(walked.size(), model.size()) << "slot " << slot;
    for (std::size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(walked[i].record, model[i].record) << "slot " << slot << " entry " << i;
      ASSERT_EQ(walked[i].key, model[i].key) << "slot " << slot << " entry " << i;
    }
  }
}

TEST_F(IndexBuildTest, AUniqueTagKeepsTheSmallestRecordOfEachKey) {
  // Amounts repeat every 97 records; equal keys come out by record number.
  OpenRecords(300);
  ASSERT_TRUE(MakeIndex({Tag("amounts", "AMOUNT", "", false, true)})) << ErrorText;
  std::vector<Entry> walked;
  const Bytes file = MdxBytes();
  const std::uint32_t header_page = Get32(file, 512 + 32);
  WalkBytes(file, Get32(file, header_page * 512), 16, 1, walked);
  ASSERT_EQ(walked.size(), 97u);
  EXPECT_EQ(file[header_page * 512 + 8], 0x50);  // 0x10 | unique 0x40
  EXPECT_EQ(file[header_page * 512 + 23], 1);

  // The whole file: the first record of each amount, in amount order.
  std::vector<Entry> firsts;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    std::uint8_t key[12];
    EncodeNumericKey((std::stoi(names_[i].substr(1, 5)) % 97) - 40.5, 2, key);
    firsts.push_back({static_cast<std::uint32_t>(i + 1), Bytes(key, key + 12)});
  }
  std::stable_sort(firsts.begin(), firsts.end(), [](const Entry& a, const Entry& b) {
    return CompareNumericKeys(a.key.data(), b.key.data(), 12) < 0;
  });
  firsts.erase(std::unique(firsts.begin(), firsts.end(), [](const Entry& a, const Entry& b) { return a.key == b.key; }),
               firsts.end());
  MdxImage expected = Expected();
  TagHeader header;
  header.type = 'N';
  header.key_length = 12;
  header.key = "AMOUNT";
  header.unique = true;
  AddTag(expected, 1, "AMOUNTS", header, firsts);
  ExpectFile(expected);
  ExpectSoundTags();
}

TEST_F(IndexBuildTest, ForDescendingAndReplacedTagsAreLaidOutExactly) {
  OpenRecords(150);
  // Tag 1 NAMES, tag 2 LOW (FOR, descending numeric), then NAMES again
  // (unique, FOR matching nothing), which replaces the first.
  ASSERT_TRUE(MakeIndex({Tag("names", "NAME"), Tag("low", "AMOUNT", "AMOUNT < 0", true),
                         Tag("Names", "upper(NAME)", "AMOUNT > 1000", false, true)}))
      << ErrorText;
  MdxImage expected = Expected();
  TagHeader names;
  names.key = "NAME";
  AddTag(expected, 1, "NAMES", names, NameEntries());

  std::vector<Entry> low;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    const int order = std::stoi(names_[i].substr(1, 5));
    const double amount = (order % 97) - 40.5;
    if (amount >= 0) continue;
    std::uint8_t key[12];
    EncodeNumericKey(amount, 2, key);
    low.push_back({static_cast<std::uint32_t>(i + 1), Bytes(key, key + 12)});
  }
  std::stable_sort(low.begin(), low.end(), [](const Entry& a, const Entry& b) {
    return CompareNumericKeys(b.key.data(), a.key.data(), 12) < 0;
  });
  TagHeader low_header;
  low_header.type = 'N';
  low_header.key_length = 12;
  low_header.key = "AMOUNT";
  low_header.for_text = "AMOUNT < 0";
  low_header.key_entered = true;
  low_header.descending = true;
  AddTag(expected, 2, "LOW", low_header, low);

  TagHeader replaced;
  replaced.key = "upper(NAME)";
  replaced.for_text = "AMOUNT > 1000";
  replaced.unique = true;
  AddTag(expected, 3, "NAMES", replaced, {});
  // The first NAMES left the table: LOW moved into entry 1, the new NAMES
  // took entry 2; NAMES sorts higher than LOW, so it hangs at byte 17.
  std::copy(expected.bytes.begin() + 512 + 64, expected.bytes.begin() + 512 + 96, expected.bytes.begin() + 512 + 32);
  std::copy(expected.bytes.begin() + 512 + 96, expected.bytes.begin() + 512 + 128, expected.bytes.begin() + 512 + 64);
  std::fill(expected.bytes.begin() + 512 + 96, expected.bytes.begin() + 512 + 128, 0);
  expected.bytes[28] = 2;
  expected.bytes[512 + 32 + 17] = 2;
  expected.bytes[512 + 64 + 18] = 1;
  ExpectFile(expected);
  ExpectSoundTags();

  std::vector<std::string> lines;
  TagList(lines, "");
  EXPECT_EQ(lines, (std::vector<std::string>{"LOW,T,F,AMOUNT", "AMOUNT < 0", "NAMES,F,T,upper(NAME)", "AMOUNT > 1000"}));
  TagList(lines, "missing");
  EXPECT_TRUE(lines.empty());
}

TEST_F(IndexBuildTest, ProgressIsCalledExactlyTheStepCount) {
  OpenRecords(1000);
  int calls = 0;
  SetIndexProgress([&] { ++calls; }, 7);
  ASSERT_TRUE(MakeIndex({Tag("names", "NAME"), Tag("amounts", "AMOUNT")})) << ErrorText;
  EXPECT_EQ(calls, 14);
  SetIndexProgress([&] { ++calls; }, 5000);  // more steps than records
  ASSERT_TRUE(MakeIndex({Tag("names", "NAME")})) << ErrorText;
  EXPECT_EQ(calls, 5014);
  SetIndexProgress(nullptr, 0);
  ASSERT_TRUE(MakeIndex({Tag("names", "NAME")})) << ErrorText;
  EXPECT_EQ(calls, 5014);
}

TEST_F(IndexBuildTest, FailedTagsAreReportedAndLeaveTheTagsBuiltBefore) {
  OpenRecords(100);
  const auto failing = [&](const TagDefinition& bad, std::uint16_t code, const std::string& text) {
    ErrorCode = 0;
    EXPECT_FALSE(MakeIndex({Tag("names", "NAME"), bad, Tag("after", "AMOUNT")}));
    EXPECT_EQ(ErrorCode, code) << ErrorText;
    EXPECT_EQ(ErrorText, text);
    ErrorCode = 0;
    ErrorText.clear();
    std::vector<std::string> lines;
    TagList(lines, "");
    EXPECT_EQ(lines, (std::vector<std::string>{"NAMES,F,F,NAME", ""}));
    ExpectSoundTags();
  };
  failing(Tag("flag", "FLAG"), 254, "Wrong parser return type [AddIndexTag()]");
  failing(Tag("long", std::string(221, 'A')), 300, "Expression length exceeds 100 bytes [AddIndexTag()]");
  failing(Tag("empty", "TRIM(\"\")"), 266, "Incorrect key length: Must be 1 to 100. [AddIndexTag()]");
  failing(Tag("cond", "NAME", "AMOUNT"), 362, "Invalid FOR expression for cond [AddIndexTag()]");
}

TEST_F(IndexBuildTest, ReindexRebuildsFromTheTagsAndKeepsTheCurrentOrder) {
  OpenRecords(200);
  ASSERT_TRUE(MakeAndOpenIndex({Tag("names", "NAME"), Tag("low", "AMOUNT", "AMOUNT < 0", true, true)})) << ErrorText;
  ASSERT_TRUE(SetOrderToTag("LOW"));
  Reindex();
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  ASSERT_NE(TagInSlot(1), nullptr);
  EXPECT_EQ(TagInSlot(1)->tag_number, 2);
  CloseIndex();
  // The same file as a build from the tags' texts as the open index holds
  // them (normalised).
  const Bytes rebuilt = MdxBytes();
  ASSERT_TRUE(MakeIndex({Tag("NAMES", "NAME"), Tag("LOW", "AMOUNT", "AMOUNT<0", true, true)}, "again"));
  EXPECT_EQ(table_test::ReadAll(platform::ResolvePath(Path("again.mdx"))), rebuilt);
  Close();
  Use(Path("people.dbf"), nullptr, 0);
  Reindex();
  EXPECT_EQ(ErrorCode, 221);
  EXPECT_EQ(ErrorText, "Index not open. (DBF=" + CurrentWorkArea()->file_name + ") [Reindex]");
}

TEST_F(IndexBuildTest, AFileHeldElsewhereIsLeftAloneAndTheTableSharedAgain) {
  OpenRecords(100, false);
  ASSERT_TRUE(MakeIndex({Tag("old", "NAME")}));
  // Another handle holds the index file (not the table): the table is
  // reopened exclusively, the file still cannot be replaced, and the table
  // is shared again afterwards.
  platform::FileHandle other = platform::kNoFile;
  ASSERT_EQ(platform::OpenFile(platform::ResolvePath(MdxPath()), platform::kAccessRead | platform::kShareDenyNone, other), 0u);
  const bool built = MakeIndex({Tag("new", "AMOUNT")});
  const std::uint16_t code = ErrorCode;
  const std::string text = ErrorText;
  platform::CloseFile(other);
  EXPECT_FALSE(CurrentWorkArea()->exclusive);
  std::vector<std::string> lines;
  TagList(lines, "");
  EXPECT_FALSE(built);
  EXPECT_EQ(code, 32);
  EXPECT_EQ(text, "Unable to open index: " + CurrentWorkArea()->file_name.substr(0, CurrentWorkArea()->file_name.size() - 3) +
                      "MDX [CreateMdxHeader]");
  EXPECT_EQ(lines, (std::vector<std::string>{"OLD,F,F,NAME", ""}));
  ErrorCode = 0;
}

#ifdef __linux__
using test_support::SmallDisk;

// Points the temporary directory elsewhere for one test.
class TemporaryDirectory {
 public:
  explicit TemporaryDirectory(const std::string& path) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old, had_ = true;
    setenv("TMPDIR", path.c_str(), 1);
  }
  ~TemporaryDirectory() {
    if (had_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

 private:
  std::string old_;
  bool had_ = false;
};

TEST_F(IndexBuildTest, TooLittleDiskSpaceStopsBeforeAnythingIsWritten) {
  const SmallDisk disk(Path("small"), "128k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  // 8,190 records: 112 KB of runs and 135 KB of nodes are needed.
  OpenRecords(8190);
  const std::string index = Path("small") + "/people.mdx";
  EXPECT_FALSE(MakeIndex({Tag("names", "NAME")}, index));
  EXPECT_EQ(ErrorCode, 227) << ErrorText;
  EXPECT_EQ(ErrorText.rfind("Available disk space: ", 0), 0u) << ErrorText;
  EXPECT_NE(ErrorText.find(" KBytes;needed: 246 KBytes [MakeIndex] [AddIndexTag()]"), std::string::npos)
      << ErrorText;
  EXPECT_EQ(std::filesystem::file_size(index), 2048u);  // only the new header
  EXPECT_TRUE(LastBuildStatistics().run_file.empty());
}

TEST_F(IndexBuildTest, AFullDiskEndsWithTheWriteErrorAndKeepsTheTagsBuilt) {
  const SmallDisk disk(Path("small"), "1m");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  OpenRecords(8190);
  const std::string index = Path("small") + "/people.mdx";
  // Another program fills the disk while the second tag is collected.
  int calls = 0;
  SetIndexProgress([&] {
    if (++calls == 12) disk.Fill();
  }, 10);
  EXPECT_FALSE(MakeIndex({Tag("names", "NAME"), Tag("amounts", "AMOUNT")}, index));
  SetIndexProgress(nullptr, 0);
  EXPECT_EQ(ErrorCode, 101) << ErrorText;
  EXPECT_EQ(ErrorText, "Error writing index file: " + index + " [MakeIndex] [AddIndexTag()]");
  ErrorCode = 0;
  const std::string run_file = LastBuildStatistics().run_file;
  EXPECT_FALSE(run_file.empty());
  EXPECT_FALSE(std::filesystem::exists(run_file));
  // The file opens with the first tag.
  std::vector<std::string> lines;
  TagList(lines, index);
  EXPECT_EQ(lines, (std::vector<std::string>{"NAMES,F,F,NAME", ""}));
  ASSERT_TRUE(SetIndexTo(index)) << ErrorText;
  std::string problem;
  EXPECT_EQ(CheckTree(*TagInSlot(1), nullptr, &problem), 0) << problem;
  CloseIndex();
}

TEST_F(IndexBuildTest, AFullTemporaryDirectoryEndsTheBuildAndTheRunFileGoes) {
  const SmallDisk disk(Path("small"), "64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const TemporaryDirectory temporary(Path("small"));
  OpenRecords(8190);
  EXPECT_FALSE(MakeIndex({Tag("names", "NAME")}));
  EXPECT_EQ(ErrorCode, 101) << ErrorText;
  const std::string run_file = LastBuildStatistics().run_file;
  EXPECT_EQ(ErrorText, "Error writing temporary file " + run_file + " [MakeIndex] [AddIndexTag()]");
  ErrorCode = 0;
  EXPECT_FALSE(std::filesystem::exists(run_file));
  EXPECT_TRUE(std::filesystem::is_empty(Path("small")));
  // The file holds its header only, no tag: it is no index file.
  std::vector<std::string> lines;
  TagList(lines, "");
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(SetIndexTo(""));
  EXPECT_EQ(ErrorCode, 222);
  ErrorCode = 0;
}
#endif

}  // namespace
}  // namespace qd::index_test
