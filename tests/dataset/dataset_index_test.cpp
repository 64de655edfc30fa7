// The file dataset's production index through the component, as a host
// program uses it: building from the index list at open (events, veto,
// progress window), the four open modes, the semaphore check, rebuilding a
// damaged file, the searches through the current order, and a second
// process sharing the index.
//
// The other process is this test binary started again with
// --gtest_filter=IndexSharerProcess.* and the arguments after --qd-sharer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "dataset/dbf_streaming.h"
#include "dataset/file_dataset.h"
#include "expressions/expressions.h"
#include "foundation/errors.h"
#include "indexes/indexes.h"
#include "support/recording_host.h"
#include "table/locking_test_support.h"
#include "table/work_areas.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using fw::testing::ScopedHost;
using test_support::ReadBytes;

bool WaitForFile(const fs::path& path) {
  for (int i = 0; i < 12000; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void Touch(const fs::path& path) { std::ofstream(path) << "x"; }

// A semaphore file as a program using the index leaves it: one user.
void WriteSemaphore(const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  const char record[4] = {1, 0, 0, 0};
  out.write(record, sizeof record);
}

const std::vector<std::string> kPeopleIndex = {"NAMES,F,F,UPPER(NAME)", "", "AMOUNTS,T,F,AMOUNT",
                                               "AMOUNT > 0"};

void SetLines(fw::TStrings& list, const std::vector<std::string>& lines) {
  list.Clear();
  for (const std::string& line : lines) list.Add(line);
}

// A PEOPLE dataset (NAME C(10), AMOUNT N(5,0)) with the given index list;
// the events it sees are recorded.
struct People {
  People(const std::string& path, const std::vector<std::string>& index_list,
         TCreateIndexType mode = ciNotFound) {
    dataset.SetDbfFileName(path);
    dataset.DbfFields().SetText("NAME, C, 10, 0\nAMOUNT, N, 5, 0\n");
    SetLines(dataset.IndexList(), index_list);
    dataset.SetCreateIndex(mode);
    dataset.OnBeforeMakeIndex = [this](const std::string& name, bool& can_make) {
      events.push_back("before " + name);
      can_make = !veto;
    };
    dataset.OnAfterMakeIndex = [this](const std::string& name) { events.push_back("after " + name); };
  }
  void Add(const std::string& name, int amount) {
    dataset.Append();
    dataset.FieldByName("NAME")->SetAsString(name);
    dataset.FieldByName("AMOUNT")->SetAsInteger(amount);
    dataset.Post();
  }
  std::string Name() { return dataset.FieldByName("NAME")->AsString(); }
  // The names in the current order, first to last.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (dataset.First(); !dataset.Eof(); dataset.Next()) names.push_back(Name());
    return names;
  }
  // Selects an order of the open index by tag name (empty: file order).
  void Order(const std::string& tag) {
    Select(dataset.WorkArea());
    ASSERT_TRUE(SetOrderToTag(tag));
    dataset.First();
  }
  TQdDbf dataset;
  std::vector<std::string> events;
  bool veto = false;
};

class DatasetIndexTest : public lock_testing::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    InitExpressionUnit();
    InitIndexUnit();
    ImmediateDispatch = true;
    RaiseExceptions = true;
  }
  std::string Table() const { return Path("PEOPLE.DBF"); }
  std::string Mdx() const { return Path("PEOPLE.MDX"); }
  // Creates the table through the component and fills it: ann 10, Bob 20,
  // CAROL 30, dave 0 (appended in the order CAROL, ann, Bob, dave).
  void CreatePeople() {
    People people(Table(), kPeopleIndex);
    people.dataset.Open();
    people.Add("CAROL", 30);
    people.Add("ann", 10);
    people.Add("Bob", 20);
    people.Add("dave", 0);
    people.dataset.Close();
  }

  ScopedHost host_;
  const fs::path& dir_ = scratch_.dir();
};

// --------------------------------------------------- whole-component use ---

TEST_F(DatasetIndexTest, CreatedTableIsIndexedAndKeptInOrderThroughTheComponent) {
  People people(Table(), {kPeopleIndex[0], kPeopleIndex[1]});
  people.dataset.Open();
  // Built at the first open: the events around it, and a progress window
  // of 100 steps for the one tag, closed afterwards.
  EXPECT_EQ(people.events, (std::vector<std::string>{"before " + Mdx(), "after " + Mdx()}));
  ASSERT_EQ(host_.host.status_paints.size(), 101u);
  EXPECT_EQ(host_.host.status_paints.front().image.caption, "Indexing " + Mdx() + "...");
  EXPECT_EQ(host_.host.status_paints.front().image.text, std::string(100, '|'));
  EXPECT_EQ(host_.host.status_paints.back().image.percent, 100);
  EXPECT_EQ(host_.host.status_closes.size(), 1u);
  EXPECT_TRUE(fs::exists(Mdx()));
  EXPECT_FALSE(people.dataset.IsSequenced());

  people.Add("CAROL", 30);
  people.Add("ann", 10);
  people.Add("Bob", 20);
  EXPECT_EQ(people.Names(), (std::vector<std::string>{"ann", "Bob", "CAROL"}));
  // An edit moves the record within the order.
  people.dataset.First();
  people.dataset.Edit();
  people.dataset.FieldByName("NAME")->SetAsString("zoe");
  people.dataset.Post();
  EXPECT_EQ(people.Names(), (std::vector<std::string>{"Bob", "CAROL", "zoe"}));
  people.dataset.Close();
  EXPECT_TRUE(host_.host.boxes.empty());
}

TEST_F(DatasetIndexTest, VerifyHeaderRebuildsOnlyForAChangedTagList) {
  CreatePeople();
  const auto built = ReadBytes(Mdx());

  // The same tags in other letter case, and with blanks the index does not
  // keep ("AMOUNT>0" in the file): opened as it is.
  std::vector<std::string> lower = {"names,f,f,upper(name)", "", "amounts,t,f,amount", "amount > 0"};
  {
    People people(Table(), lower, ciVerifyHeader);
    people.dataset.Open();
    EXPECT_TRUE(people.events.empty());
    EXPECT_EQ(people.Names(), (std::vector<std::string>{"ann", "Bob", "CAROL", "dave"}));
  }
  EXPECT_EQ(ReadBytes(Mdx()), built);

  // A changed key expression, and a missing tag: rebuilt.
  for (const auto& list : {std::vector<std::string>{"NAMES,F,F,NAME", "", kPeopleIndex[2], kPeopleIndex[3]},
                           std::vector<std::string>{kPeopleIndex[0], kPeopleIndex[1]}}) {
    People people(Table(), list, ciVerifyHeader);
    people.dataset.Open();
    EXPECT_EQ(people.events.size(), 2u) << list[0];
    people.dataset.Close();
  }
  // The list last built has one tag: NAME without UPPER would sort "Bob"
  // before "CAROL" before "ann".
  People people(Table(), {"NAMES,F,F,NAME", ""}, ciVerifyHeader);
  people.dataset.Open();
  EXPECT_EQ(people.Names(), (std::vector<std::string>{"Bob", "CAROL", "ann", "dave"}));
}

TEST_F(DatasetIndexTest, OpenModesAndTheProductionMark) {
  CreatePeople();
  const auto built = ReadBytes(Mdx());

  // ciNotFound with the file present opens it; ciAlways rebuilds it.
  {
    People people(Table(), kPeopleIndex, ciNotFound);
    people.dataset.Open();
    EXPECT_TRUE(people.events.empty());
  }
  {
    People people(Table(), kPeopleIndex, ciAlways);
    people.dataset.Open();
    EXPECT_EQ(people.events.size(), 2u);
  }
  // An empty list on a table marked as indexed only opens the file, whatever
  // the mode says.
  {
    People people(Table(), {}, ciAlways);
    people.dataset.Open();
    EXPECT_TRUE(people.events.empty());
    EXPECT_FALSE(people.dataset.IsSequenced());
    EXPECT_EQ(people.Names(), (std::vector<std::string>{"ann", "Bob", "CAROL", "dave"}));
  }
  // A veto leaves the table without index and clears its mark, so that an
  // empty list then opens no index at all.
  {
    People people(Table(), kPeopleIndex, ciAlways);
    people.veto = true;
    people.dataset.Open();
    EXPECT_EQ(people.events, (std::vector<std::string>{"before " + Mdx()}));
    EXPECT_TRUE(people.dataset.IsSequenced());
    Select(people.dataset.WorkArea());
    EXPECT_FALSE(GetProductionFlag());
  }
  {
    People people(Table(), {}, ciNever);
    people.dataset.Open();
    EXPECT_TRUE(people.dataset.IsSequenced());
    EXPECT_EQ(people.Names(), (std::vector<std::string>{"CAROL", "ann", "Bob", "dave"}));
  }
  // A missing file is built whatever the mode.
  fs::remove(Mdx());
  {
    People people(Table(), kPeopleIndex, ciVerifyHeader);
    people.dataset.Open();
    EXPECT_EQ(people.events.size(), 2u);
  }
  // Without ShowProgress no window is shown. Handlers that select other
  // work areas do not turn the build or the open elsewhere.
  host_.host.status_paints.clear();
  {
    People people(Table(), kPeopleIndex, ciAlways);
    people.dataset.SetShowProgress(false);
    people.dataset.OnBeforeMakeIndex = [](const std::string&, bool&) { Select(30); };
    people.dataset.OnAfterMakeIndex = [](const std::string&) { Select(31); };
    people.dataset.Open();
    EXPECT_FALSE(people.dataset.IsSequenced());
    EXPECT_EQ(people.Names(), (std::vector<std::string>{"ann", "Bob", "CAROL", "dave"}));
  }
  EXPECT_TRUE(host_.host.status_paints.empty());
  EXPECT_TRUE(host_.host.boxes.empty());
}

TEST_F(DatasetIndexTest, DamagedIndexIsRebuiltSilentlyAndTheDataKept) {
  CreatePeople();
  const auto table = ReadBytes(Table());
  const auto built = ReadBytes(Mdx());
  const std::vector<std::string> in_order = {"ann", "Bob", "CAROL", "dave"};

  // Truncated after its header, filled with garbage, cut to nothing.
  std::vector<std::vector<std::uint8_t>> damaged = {
      std::vector<std::uint8_t>(built.begin(), built.begin() + 1024),
      std::vector<std::uint8_t>(built.size(), 0x5A), {}};
  // The headers intact, the tree nodes destroyed: the damage shows only
  // when the tree is read to position the table.
  auto nodes = built;
  std::fill(nodes.begin() + 3072, nodes.end(), 0xFF);
  damaged.push_back(nodes);
  for (const auto& bytes : damaged) {
    {
      std::ofstream out(Mdx(), std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    People people(Table(), kPeopleIndex);
    people.dataset.Open();
    EXPECT_EQ(people.events.size(), 2u) << bytes.size();
    EXPECT_EQ(people.Names(), in_order) << bytes.size();
    people.dataset.Close();
    EXPECT_EQ(ReadBytes(Table()), table);
  }
  EXPECT_TRUE(host_.host.boxes.empty());
  EXPECT_EQ(ErrorCode, 0);
}

TEST_F(DatasetIndexTest, StaleSemaphoreFileIsErasedAndAFreshOneKeepsTheIndex) {
  CreatePeople();
  const fs::path semaphore = SemaphoreFileName(Table());
  // A semaphore file of today's date stands for a program using the index:
  // ciAlways falls back to opening the file.
  WriteSemaphore(semaphore);
  {
    People people(Table(), kPeopleIndex, ciAlways);
    people.dataset.Open();
    EXPECT_TRUE(people.events.empty());
  }
  // One from an earlier day was left by a program that ended without
  // logging out: erased, and the index rebuilt.
  fs::last_write_time(semaphore, fs::file_time_type::clock::now() - std::chrono::hours(72));
  {
    People people(Table(), kPeopleIndex, ciAlways);
    people.dataset.Open();
    EXPECT_EQ(people.events.size(), 2u);
    people.dataset.Close();
  }
  EXPECT_FALSE(fs::exists(semaphore));
}

// An index that cannot be opened is reported, and the table is not left
// open without it (its changes would not reach the index). At design time
// nothing about the index happens at all.
TEST_F(DatasetIndexTest, FailedIndexOpenLeavesNothingOpenAndDesignTimeSkipsIt) {
  CreatePeople();
  fs::remove(Mdx());
  {
    People people(Table(), {}, ciNotFound);  // marked as indexed: ciNever
    EXPECT_THROW(people.dataset.Open(), EQuindleError);
    EXPECT_EQ(ErrorCode, 2);
    EXPECT_FALSE(people.dataset.Active());
    for (const auto& area : WorkAreas) EXPECT_TRUE(area == nullptr) << area->file_name;
  }
  ErrorCode = 0;
  {
    fw::TComponent form;
    form.SetDesigning(true);
    TQdDbf designed(&form);
    ASSERT_TRUE(designed.Designing());
    designed.SetDbfFileName(Table());
    SetLines(designed.IndexList(), kPeopleIndex);
    designed.SetCreateIndex(ciAlways);
    int builds = 0;
    designed.OnBeforeMakeIndex = [&](const std::string&, bool&) { ++builds; };
    designed.Open();
    EXPECT_EQ(builds, 0);
    EXPECT_FALSE(fs::exists(Mdx()));
    designed.Close();
  }
  EXPECT_TRUE(host_.host.boxes.empty());
}

// ------------------------------------------------------------ searches ---

TEST_F(DatasetIndexTest, FindFindExactAndLocateFollowTheCurrentOrder) {
  CreatePeople();
  People people(Table(), kPeopleIndex);
  people.dataset.Open();

  // NAMES order: a prefix is found by Find, only the whole key by FindExact.
  EXPECT_TRUE(people.dataset.Find("BO"));
  EXPECT_EQ(people.Name(), "Bob");
  EXPECT_FALSE(people.dataset.FindExact("BO"));
  EXPECT_EQ(people.Name(), "dave");  // not found: the last record is shown
  EXPECT_FALSE(ExactLength);          // the switch is put back
  EXPECT_TRUE(people.dataset.FindExact("CAROL"));
  EXPECT_EQ(people.Name(), "CAROL");
  EXPECT_FALSE(people.dataset.Find("ZZ"));
  // A key longer than any key is cut to 100 characters, not refused.
  EXPECT_FALSE(people.dataset.Find(std::string(300, 'A')));

  // Locate through the order: the key text only, field names ignored.
  EXPECT_TRUE(people.dataset.Locate("NO_SUCH_FIELD", fw::Variant("CA"), fw::loPartialKey));
  EXPECT_EQ(people.Name(), "CAROL");
  EXPECT_FALSE(people.dataset.Locate("NAME", fw::Variant("CA"), 0));
  EXPECT_TRUE(people.dataset.Locate("NAME", fw::Variant("ANN"), 0));
  EXPECT_EQ(people.Name(), "ann");

  // AMOUNTS order, descending with a FOR condition: dave (0) is not in it.
  people.Order("AMOUNTS");
  EXPECT_EQ(people.Names(), (std::vector<std::string>{"CAROL", "Bob", "ann"}));
  EXPECT_TRUE(people.dataset.Find("20"));
  EXPECT_EQ(people.Name(), "Bob");
  EXPECT_FALSE(people.dataset.Find("0"));

  // File order with the index open: Locate searches the fields again.
  people.Order("");
  EXPECT_TRUE(people.dataset.Locate("NAME", fw::Variant("Bob"), 0));
  EXPECT_EQ(people.Name(), "Bob");
  EXPECT_TRUE(host_.host.boxes.empty());
}

// ------------------------------------------------- two programs sharing ---

// The other program: opens the table with its index through the component,
// says so, and on request lists the names in index order into a file.
class IndexSharer {
 public:
  IndexSharer(const fs::path& dir, const std::string& table) : dir_(dir) {
    for (const char* marker : {"opened", "list", "listed"}) fs::remove(dir_ / marker);
    const std::string self = fs::absolute(::testing::internal::GetArgvs().at(0)).string();
    std::string command = "\"" + self + "\" --gtest_filter=IndexSharerProcess.* --qd-sharer \"" +
                          table + "\" \"" + dir.generic_string() + "\" >\"" +
                          (dir / "sharer.out").generic_string() + "\" 2>&1";
#ifdef _WIN32
    command = "\"" + command + "\"";
#endif
    process_ = std::thread([this, command] { status_ = std::system(command.c_str()); });
    opened_ = WaitForFile(dir_ / "opened");
  }
  ~IndexSharer() { Finish(); }
  bool Opened() const { return opened_; }
  // Asks for the list and waits until the program has ended.
  std::vector<std::string> Finish() {
    std::vector<std::string> names;
    if (!process_.joinable()) return names;
    Touch(dir_ / "list");
    process_.join();
    std::ifstream report(dir_ / "sharer.out");
    EXPECT_EQ(status_, 0) << std::string(std::istreambuf_iterator<char>(report), {});
    std::ifstream list(dir_ / "names.txt");
    for (std::string line; std::getline(list, line);) names.push_back(line);
    return names;
  }

 private:
  fs::path dir_;
  std::thread process_;
  bool opened_ = false;
  int status_ = -1;
};

TEST(IndexSharerProcess, ListInIndexOrder) {
  const auto& args = ::testing::internal::GetArgvs();
  std::size_t at = 0;
  while (at < args.size() && args[at] != "--qd-sharer") ++at;
  if (at + 2 >= args.size()) GTEST_SKIP() << "only run as the other process of an index test";
  const fs::path dir = args[at + 2];
  InitErrorUnit();
  InitExpressionUnit();
  InitIndexUnit();
  RaiseExceptions = true;
  People people(args[at + 1], kPeopleIndex);
  people.dataset.Open();
  ASSERT_TRUE(people.events.empty());
  Touch(dir / "opened");
  ASSERT_TRUE(WaitForFile(dir / "list"));
  std::ofstream out(dir / "names.txt");
  for (const std::string& name : people.Names()) out << name << "\n";
}

TEST_F(DatasetIndexTest, AnotherProgramsOpenIndexIsNotRebuiltAndSeesTheAppends) {
  CreatePeople();
  IndexSharer sharer(dir_, Table());
  ASSERT_TRUE(sharer.Opened());
  {
    People people(Table(), kPeopleIndex, ciAlways);
    people.dataset.Open();
    EXPECT_TRUE(people.events.empty());  // in use elsewhere: opened, not built
    people.Add("AARON", 5);
    people.Add("bea", 15);
    EXPECT_EQ(people.Names(),
              (std::vector<std::string>{"AARON", "ann", "bea", "Bob", "CAROL", "dave"}));
  }
  EXPECT_EQ(sharer.Finish(), (std::vector<std::string>{"AARON", "ann", "bea", "Bob", "CAROL", "dave"}));
}

// ------------------------------------------------- stored description ---

TEST_F(DatasetIndexTest, StoredDescriptionCarriesTheIndexSettingsAndOpensWhenRead) {
  CreatePeople();
  People people(Table(), kPeopleIndex, ciVerifyHeader);
  people.dataset.SetName("People");
  people.dataset.IndexList().Add("it's #1\t");  // a quote and a control character
  people.dataset.SetShowProgress(false);
  people.dataset.SetCreateIfNotFound(false);
  const std::string text = WriteDbfDescription(people.dataset);
  EXPECT_NE(text.find("  CreateIndex = ciVerifyHeader\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    'it''s #1'#9)\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("AutoFixRecCount"), std::string::npos) << text;  // at its default

  TQdDbf copy;
  ReadDbfDescription(copy, text);
  EXPECT_EQ(copy.Name(), "People");
  EXPECT_EQ(copy.CreateIndex(), ciVerifyHeader);
  EXPECT_EQ(copy.IndexList().Text(), people.dataset.IndexList().Text());
  EXPECT_EQ(copy.DbfFields().Text(), people.dataset.DbfFields().Text());
  EXPECT_EQ(copy.DbfFileName(), people.dataset.DbfFileName());
  EXPECT_FALSE(copy.ShowProgress());
  EXPECT_FALSE(copy.CreateIfNotFound());
  EXPECT_FALSE(copy.Active());
  EXPECT_EQ(WriteDbfDescription(copy), text);
  // The default mode is stored as well: it has no default.
  TQdDbf plain;
  EXPECT_NE(WriteDbfDescription(plain).find("CreateIndex = ciNotFound"), std::string::npos);

  // Active = True opens once every property is read, index included.
  const std::string active = "object Live: TQdDbf\n  Active = True\n  DbfFileName = '" + Table() +
                             "'\n  CreateIndex = ciNever\nend\n";
  TQdDbf live;
  ReadDbfDescription(live, active);
  EXPECT_TRUE(live.Active());
  EXPECT_FALSE(live.IsSequenced());  // the production index is open
  EXPECT_TRUE(live.Find("CAR"));
  EXPECT_EQ(live.FieldByName("NAME")->AsString(), "CAROL");

  for (const char* bad : {"object X: TQdDbf\n  Colour = True\nend\n",
                          "object X: TQdDbf\n  CreateIndex = ciSometimes\nend\n",
                          "object X: TQdDbf\n  DbfFileName = 'open\nend\n", "object X: TOther\nend\n"}) {
    TQdDbf broken;
    EXPECT_THROW(ReadDbfDescription(broken, bad), fw::EStreamError) << bad;
    EXPECT_FALSE(broken.IsLoading());
  }
}

}  // namespace
}  // namespace qd
