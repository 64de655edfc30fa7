// The file dataset over real table files: the open request (alias, exclusive
// and read-only use, record-count correction, creating a missing table,
// record hooks), the Exclusive setter, IsSequenced, and the locked updates
// while another process holds the lock (retry events, the "Lock failed"
// warnings, and buffers that show what is stored after a refused lock).
//
// The other process is this test binary started again with
// --gtest_filter=LockHolderProcess.* and the arguments after --qd-holder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "dataset/file_dataset.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "support/recording_host.h"
#include "platform/platform.h"
#include "table/locking_test_support.h"
#include "table/locking.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using fw::testing::ScopedHost;

// ------------------------------------------------------------ helpers ---

using test_support::ReadBytes;

// Waits (polling) until the file exists; false after about a minute.
bool WaitForFile(const fs::path& path) {
  for (int i = 0; i < 12000; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void Touch(const fs::path& path) { std::ofstream(path) << "x"; }

// The test dataset exposes the work area it opened.
class TestDbf : public TQdDbf {
 public:
  using TQdDbf::TQdDbf;
  const qd::WorkArea& Area() const { return *WorkAreas.at(WorkArea()); }
  using TQdDbf::KeepsTableOpen;
  using TQdDbf::s_ReplaceWithLock;
};

// The table fixture, with engine failures raised instead of halting.
class FileDatasetTest : public lock_testing::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    ImmediateDispatch = true;
    RaiseExceptions = true;
  }
  void TearDown() override {
    TableTest::TearDown();
    qd::AutoFixRecCount = false;
  }

  // A names table PEOPLE.DBF and a dataset over it (not yet open).
  std::unique_ptr<TestDbf> PeopleDataset(const std::vector<std::string>& names) {
    CreateNamesTable("PEOPLE.DBF", names);
    auto dataset = std::make_unique<TestDbf>();
    dataset->SetDbfFileName(Path("PEOPLE.DBF"));
    return dataset;
  }

  ScopedHost host_;
  const fs::path& dir_ = scratch_.dir();
};

// ------------------------------------------------------ the open request ---

TEST_F(FileDatasetTest, ReadOnlyUseOpensWithTheOverrideAndChangesNothing) {
  auto people = PeopleDataset({"ANN", "BOB"});
  const auto before = ReadBytes(Path("PEOPLE.DBF"));

  // Read-only and shared: read-only access, others may read and write.
  people->SetReadOnly(true);
  people->Open();
  EXPECT_EQ(people->Area().open_mode, kReadOnlySharedOpenMode);
  EXPECT_FALSE(people->Area().exclusive);
  EXPECT_EQ(OpenModeOverride, -1);
  EXPECT_FALSE(people->CanModify());
  EXPECT_THROW(people->Edit(), Exception);
  EXPECT_THROW(people->Append(), Exception);
  // The framework lets a delete through to the dataset, which refuses it.
  people->Delete();
  people->Restore();
  EXPECT_EQ(people->FieldByName("NAME")->AsString(), "ANN");
  people->Close();

  // Read-only and exclusive: plain read-only access, still counted exclusive.
  people->SetExclusive(true);
  EXPECT_FALSE(people->Active());  // setting Exclusive does not open
  people->Open();
  EXPECT_EQ(people->Area().open_mode, kReadOnlyOpenMode);
  EXPECT_TRUE(people->Area().exclusive);
  EXPECT_EQ(OpenModeOverride, -1);
  people->Delete();
  people->Close();
  EXPECT_EQ(ReadBytes(Path("PEOPLE.DBF")), before);

  // Without ReadOnly the modes are the engine's own.
  people->SetReadOnly(false);
  people->Open();
  EXPECT_EQ(people->Area().open_mode, kExclusiveOpenMode);
  people->SetExclusive(false);  // closes and reopens the active dataset
  EXPECT_TRUE(people->Active());
  EXPECT_EQ(people->Area().open_mode, kSharedOpenMode);
  EXPECT_TRUE(host_.host.boxes.empty());
}

TEST_F(FileDatasetTest, RequestCarriesTheComponentNameAsAlias) {
  auto people = PeopleDataset({"ANN"});
  people->SetName(" staff ");
  people->Open();
  Select(people->WorkArea());
  EXPECT_EQ(Alias(), "STAFF");
  EXPECT_FALSE(people->Area().exclusive);

  // Another table under the same component name is refused its alias.
  CreateNamesTable("OTHER.DBF", {"ZED"});
  TestDbf other;
  other.SetName("Staff");
  other.SetDbfFileName(Path("OTHER.DBF"));
  EXPECT_THROW(other.Open(), Exception);
  EXPECT_FALSE(other.Active());
}

TEST_F(FileDatasetTest, RecordCountCorrectionOnlyAroundTheOpen) {
  auto people = PeopleDataset({"ANN", "BOB", "CAY"});
  // The header claims one record; the file holds three.
  {
    std::fstream file(Path("PEOPLE.DBF"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4);
    const char count[4] = {1, 0, 0, 0};
    file.write(count, 4);
  }
  people->SetExclusive(true);  // no refresh of the count from the file size
  people->Open();
  EXPECT_EQ(people->RecordCount(), 1);
  people->Close();

  people->SetAutoFixRecCount(true);
  people->Open();
  EXPECT_EQ(people->RecordCount(), 3);
  EXPECT_FALSE(qd::AutoFixRecCount);
}

TEST_F(FileDatasetTest, MissingTableIsCreatedFromTheStructureList) {
  TestDbf stock;
  stock.SetDbfFileName(Path("STOCK"));
  stock.DbfFields().Add("ITEM, C, 12, 0");
  stock.DbfFields().Add("QTY, N, 6, 0");
  stock.Open();
  EXPECT_EQ(stock.FieldCount(), 2);
  EXPECT_EQ(stock.RecordCount(), 0);
  EXPECT_TRUE(host_.host.boxes.empty());
  stock.Close();

  // Without structure lines: both warnings, then the engine's own failure.
  TestDbf empty;
  empty.SetDbfFileName(Path("EMPTY"));
  EXPECT_THROW(empty.Open(), Exception);
  ASSERT_EQ(host_.host.boxes.size(), 2u);
  EXPECT_EQ(host_.host.boxes[0].text, "FieldList.Count is <= 0 trying to create a database");
  EXPECT_EQ(host_.host.boxes[1].text, "Could not create \"" + Path("EMPTY") + ".DBF\"");
  EXPECT_FALSE(fs::exists(dir_ / "EMPTY.DBF"));

  // CreateIfNotFound off: no attempt and no warning.
  host_.host.boxes.clear();
  TestDbf absent;
  absent.SetCreateIfNotFound(false);
  absent.SetDbfFileName(Path("ABSENT"));
  absent.DbfFields().Add("ITEM, C, 12, 0");
  EXPECT_THROW(absent.Open(), Exception);
  EXPECT_TRUE(host_.host.boxes.empty());
  EXPECT_FALSE(fs::exists(dir_ / "ABSENT.DBF"));
}

TEST_F(FileDatasetTest, RecordHooksSwitchTheOpenToHookedUse) {
  auto people = PeopleDataset({"ANN", "BOB"});
  // Stored text is kept in lower case; the program sees upper case.
  auto upper = [](std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      if (bytes[i] >= 'a' && bytes[i] <= 'z') bytes[i] = static_cast<std::uint8_t>(bytes[i] - 32);
  };
  auto lower = [](std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      if (bytes[i] >= 'A' && bytes[i] <= 'Z') bytes[i] = static_cast<std::uint8_t>(bytes[i] + 32);
  };
  people->BeforeWriteHook = lower;
  people->Open();
  people->Edit();
  people->FieldByName("NAME")->SetAsString("Zed");
  people->Post();
  people->Close();
  const auto stored = ReadBytes(Path("PEOPLE.DBF"));
  const std::string text(stored.begin(), stored.end());
  EXPECT_NE(text.find("zed       "), std::string::npos);

  people->BeforeWriteHook = nullptr;
  people->AfterReadHook = upper;
  people->Open();
  EXPECT_EQ(people->FieldByName("NAME")->AsString(), "ZED");
}

TEST_F(FileDatasetTest, SequencedUnlessFilteredOrOrdered) {
  auto people = PeopleDataset({"ANN", "BOB"});
  // An inactive dataset answers without reporting "Database is not open";
  // searching it is refused like any other operation on a closed dataset.
  RaiseExceptions = false;
  ImmediateDispatch = false;
  EXPECT_TRUE(people->IsSequenced());
  EXPECT_THROW(people->Locate("NAME", fw::Variant("BOB"), 0), fw::EDatabaseError);
  EXPECT_EQ(ErrorCode, 0);
  EXPECT_EQ(host_.host.terminate_requests, 0);
  RaiseExceptions = true;
  people->Open();
  EXPECT_TRUE(people->IsSequenced());
  IndexHooks.OrderActive = [] { return true; };
  EXPECT_FALSE(people->IsSequenced());
  IndexHooks.OrderActive = nullptr;
  people->SetFiltered(true);
  EXPECT_FALSE(people->IsSequenced());
  people->SetFiltered(false);
  EXPECT_TRUE(people->Locate("NAME", fw::Variant(std::string("BOB")), 0));
  EXPECT_EQ(people->FieldByName("AMOUNT")->AsInteger(), 2);
}

TEST_F(FileDatasetTest, EngineFailureInsideALockedUpdateReleasesTheLock) {
  auto people = PeopleDataset({"ANN", "BOB"});
  people->Open();
  // An index engine that fails while updating its keys raises out of the
  // update; the record lock and the append lock are released all the same.
  // The order reports itself active only inside the locked updates, so the
  // moves around them need none of its other hooks.
  IndexHookTable failing;
  failing.OrderActive = [] {
    const qd::WorkArea* area = CurrentWorkArea();
    return area != nullptr && area->lock_kind != 0;
  };
  failing.UpdateKeys = [] { SetError(1200, "Key update failed [test]"); };
  failing.AppendNewKey = [] { SetError(1200, "Key update failed [test]"); };
  people->Edit();
  people->FieldByName("NAME")->SetAsString("ZED");
  IndexHooks = failing;
  EXPECT_THROW(people->Post(), Exception);
  IndexHooks = IndexHookTable{};
  EXPECT_EQ(people->Area().lock_kind, 0);
  EXPECT_TRUE(people->Area().record_locks.empty());
  people->Cancel();
  people->Append();
  people->FieldByName("NAME")->SetAsString("NEW");
  IndexHooks = failing;
  EXPECT_THROW(people->Post(), Exception);
  IndexHooks = IndexHookTable{};
  EXPECT_EQ(people->Area().lock_kind, 0);
  people->Cancel();
  EXPECT_EQ(people->RecordCount(), 3);
}

#ifndef _WIN32
TEST_F(FileDatasetTest, ClosingATableWhoseFileWasLost) {
  auto people = PeopleDataset({"ANN"});
  // The file goes away under the open table (a reopen that cannot get it
  // back), with its header still to be written: closing raises.
  auto lose_the_file = [&] {
    Select(people->WorkArea());
    RaiseExceptions = false;
    SetProductionFlag(true);
    fs::rename(Path("PEOPLE.DBF"), Path("MOVED.DBF"));
    EXPECT_NE(ReopenTable(false), 0u);
    ErrorCode = 0;
    RaiseExceptions = true;
  };
  people->Open();
  const int area = people->WorkArea();
  lose_the_file();
  EXPECT_THROW(people->Close(), Exception);
  // The dataset is closed all the same, its work area free, and it opens
  // again once the file is back.
  EXPECT_FALSE(people->Active());
  EXPECT_EQ(people->WorkArea(), 0);
  Select(area);
  EXPECT_EQ(CurrentWorkArea(), nullptr);
  fs::rename(Path("MOVED.DBF"), Path("PEOPLE.DBF"));
  people->Open();
  EXPECT_EQ(people->FieldByName("NAME")->AsString(), "ANN");

  // Freed while open in that state, the dataset hands the failure to the
  // application rather than ending the program from its destructor.
  lose_the_file();
  people.reset();
  ASSERT_EQ(host_.host.boxes.size(), 1u);
  EXPECT_NE(host_.host.boxes[0].text.find("PEOPLE"), std::string::npos) << host_.host.boxes[0].text;
  fs::rename(Path("MOVED.DBF"), Path("PEOPLE.DBF"));
}
#endif

// ---------------------------------------------- locks held elsewhere ---

// Another process holding the append lock (kind "A") or the lock of one
// record (kind "R") of a table, until told to let go.
class LockHolder {
 public:
  LockHolder(const fs::path& dir, const std::string& table, char kind, int record)
      : dir_(dir) {
    for (const char* marker : {"locked", "release", "released"}) fs::remove(dir_ / marker);
    const std::string self = fs::absolute(::testing::internal::GetArgvs().at(0)).string();
    std::string command = "\"" + self + "\" --gtest_filter=LockHolderProcess.* --qd-holder \"" +
                          table + "\" " + kind + " " + std::to_string(record) + " \"" +
                          dir.generic_string() + "\" >\"" + (dir / "holder.out").generic_string() +
                          "\" 2>&1";
#ifdef _WIN32
    command = "\"" + command + "\"";
#endif
    process_ = std::thread([this, command] { status_ = std::system(command.c_str()); });
    held_ = WaitForFile(dir_ / "locked");
  }
  ~LockHolder() { Release(); }
  bool Held() const { return held_; }
  // Tells the other process to unlock, and waits until it has.
  void Release() {
    if (!process_.joinable()) return;
    Touch(dir_ / "release");
    if (held_) WaitForFile(dir_ / "released");
    process_.join();
    std::ifstream report(dir_ / "holder.out");
    EXPECT_EQ(status_, 0) << std::string(std::istreambuf_iterator<char>(report), {});
  }

 private:
  fs::path dir_;
  std::thread process_;
  bool held_ = false;
  int status_ = -1;
};

// The other process's side: runs only when started by LockHolder.
TEST(LockHolderProcess, HoldLock) {
  const auto& args = ::testing::internal::GetArgvs();
  std::size_t at = 0;
  while (at < args.size() && args[at] != "--qd-holder") ++at;
  if (at + 4 >= args.size()) GTEST_SKIP() << "only run as the other process of a lock test";
  const std::string table = args[at + 1];
  const char kind = args[at + 2].at(0);
  const int record = std::atoi(args[at + 3].c_str());
  const fs::path dir = args[at + 4];
  InitErrorUnit();
  ImmediateDispatch = false;
  Select(1);
  Use(table, nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  Go(record);
  ASSERT_TRUE(kind == 'A' ? ALock() : RLock());
  Touch(dir / "locked");
  ASSERT_TRUE(WaitForFile(dir / "release"));
  Unlock();
  Close();
  Touch(dir / "released");
}

class LockedUpdateTest : public FileDatasetTest {
 protected:
  std::unique_ptr<TestDbf> OpenPeople() {
    auto people = PeopleDataset({"ANN", "BOB", "CAY"});
    people->Open();
    return people;
  }
  std::string Name(TestDbf& dataset) { return dataset.FieldByName("NAME")->AsString(); }
};

TEST_F(LockedUpdateTest, RetryHandlerDecidesHowOftenTheLockIsTried) {
  auto people = OpenPeople();
  const auto before = ReadBytes(Path("PEOPLE.DBF"));
  LockHolder holder(dir_, Path("PEOPLE.DBF"), 'R', 1);
  ASSERT_TRUE(holder.Held());

  // Retry twice, then give up: three attempts, nothing written, and the
  // buffers show the stored record again.
  int calls = 0;
  fw::TComponent* sender = nullptr;
  people->OnRLockFailedOnPost = [&](fw::TComponent* from, bool& retry) {
    EXPECT_FALSE(retry);
    sender = from;
    retry = ++calls < 3;
  };
  people->Edit();
  people->FieldByName("NAME")->SetAsString("ZED");
  people->Post();
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(sender, people.get());
  EXPECT_EQ(Name(*people), "ANN");
  EXPECT_EQ(ReadBytes(Path("PEOPLE.DBF")), before);
  EXPECT_TRUE(host_.host.boxes.empty());  // a handler replaces the warning

  // The other program lets go while the handler waits: the retry succeeds.
  calls = 0;
  people->OnRLockFailedOnPost = [&](fw::TComponent*, bool& retry) {
    ++calls;
    holder.Release();
    retry = true;
  };
  people->Edit();
  people->FieldByName("NAME")->SetAsString("ZED");
  people->Post();
  EXPECT_EQ(calls, 1);
  people->Close();
  people->Open();
  EXPECT_EQ(Name(*people), "ZED");
}

TEST_F(LockedUpdateTest, RefusedLockWithoutHandlerWarnsAndShowsWhatIsStored) {
  auto people = OpenPeople();
  const auto before = ReadBytes(Path("PEOPLE.DBF"));
  {
    LockHolder holder(dir_, Path("PEOPLE.DBF"), 'R', 1);
    ASSERT_TRUE(holder.Held());
    people->Edit();
    people->FieldByName("NAME")->SetAsString("ZED");
    people->Post();
    EXPECT_EQ(Name(*people), "ANN");
    EXPECT_FALSE(people->Modified());
    // The work area's record is read back at once, not only when the
    // framework next fetches it.
    Select(people->WorkArea());
    std::memcpy(FieldAddress(1) + 1, "ZED", 3);
    people->s_ReplaceWithLock();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(FieldAddress(1)) + 1, 3), "ANN");
    people->Delete();
    EXPECT_EQ(Name(*people), "ANN");
    EXPECT_EQ(people->RecordCount(), 3);
  }
  {
    LockHolder holder(dir_, Path("PEOPLE.DBF"), 'A', 1);
    ASSERT_TRUE(holder.Held());
    // Appending moves to the last record first; that is what remains.
    people->Append();
    people->FieldByName("NAME")->SetAsString("NEW");
    people->Post();
    EXPECT_EQ(people->RecordCount(), 3);
    EXPECT_EQ(Name(*people), "CAY");
  }
  EXPECT_EQ(ReadBytes(Path("PEOPLE.DBF")), before);
  ASSERT_EQ(host_.host.boxes.size(), 4u);
  EXPECT_EQ(host_.host.boxes[0].text, "Lock failed [Post]");
  EXPECT_EQ(host_.host.boxes[1].text, "Lock failed [Post]");
  EXPECT_EQ(host_.host.boxes[2].text, "Lock failed [Delete]");
  EXPECT_EQ(host_.host.boxes[3].text, "Lock failed [Insert]");

  // With the locks gone the same operations go through.
  people->First();
  people->Edit();
  people->FieldByName("NAME")->SetAsString("ZED");
  people->Post();
  people->Delete();
  EXPECT_EQ(Name(*people), "ZED");  // deleted records stay in view
  people->Append();
  people->FieldByName("NAME")->SetAsString("NEW");
  people->Post();
  EXPECT_EQ(people->RecordCount(), 4);
  EXPECT_EQ(host_.host.boxes.size(), 4u);
  people->First();

  // Recalling a deleted record while another program holds its lock.
  {
    LockHolder holder(dir_, Path("PEOPLE.DBF"), 'R', 1);
    ASSERT_TRUE(holder.Held());
    int calls = 0;
    people->OnRLockFailedOnRestore = [&](fw::TComponent*, bool&) { ++calls; };
    people->Restore();
    EXPECT_EQ(calls, 1);
  }
  Select(people->WorkArea());
  EXPECT_EQ(Peek(0, 1), "*");
  people->Restore();
  EXPECT_EQ(Peek(0, 1), " ");
}

}  // namespace
}  // namespace qd
