// Shared pieces of the table dataset tests: a concrete dataset whose table
// opening and locked updates are plain engine calls (the file dataset's
// place), and a fixture with a fresh directory, recorded message boxes and
// errors kept instead of dispatched.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dataset/table_dataset.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "support/recording_host.h"
#include "support/scratch_dir.h"
#include "table/record_updates.h"
#include "table/work_areas.h"

namespace qd::dataset_test {

class TestDbf : public TQdCDataSet {
 public:
  explicit TestDbf(fw::TComponent* owner = nullptr) : TQdCDataSet(owner) {}
  ~TestDbf() override { CloseOnDestroy(); }

  bool keeps_table_open = true;
  bool create_if_missing = false;
  std::vector<std::string> calls;

  using TQdDataSet::LoadRecord;
  using TQdDataSet::QdiGetNextRecord;
  using TQdDataSet::QdiGetPriorRecord;
  using TQdDataSet::QdiGetRecord;
  using TQdDataSet::QdiGetRecordCount;
  using TQdDataSet::QdiSetToBegin;
  using TQdDataSet::QdiSetToEnd;
  using TQdDataSet::StoreRecord;
  using TQdDataSet::ActiveBuffer;

 protected:
  bool OpenTable(const std::string& file_name) override {
    if (create_if_missing && !std::filesystem::exists(file_name)) CreateTableFromDbfFields();
    ErrorCode = 0;
    Use(file_name, nullptr, 0);
    return ErrorCode == 0;
  }
  void s_AppendWithLock() override {
    calls.push_back("append");
    if (ALock()) {
      qd::Append();
      if (!ResyncVisible()) Unlock();
    }
  }
  void s_DeleteWithLock() override {
    calls.push_back("delete");
    if (RLock()) {
      DeleteRec();
      if (!ResyncVisible()) Unlock();
    }
  }
  void s_RestoreWithLock() override {
    calls.push_back("restore");
    if (RLock()) {
      RecallRec();
      Unlock();
    }
  }
  void s_ReplaceWithLock() override {
    calls.push_back("replace");
    if (RLock()) {
      qd::Replace();
      if (!ResyncVisible()) Unlock();
    }
  }
  bool KeepsTableOpen() override { return keeps_table_open && !Designing(); }
};

class DatasetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitErrorUnit();
    SetImmediateDispatch(false);
    CloseEveryWorkArea();
    DateFormat = 0;
    CenturyOn = false;
    EpochYear = 1956;
    SetDateFormat(0);
    AnsiTables = false;
  }
  void TearDown() override {
    SetImmediateDispatch(false);
    SetRaiseExceptions(false);
    CloseEveryWorkArea();
    ErrorCode = 0;
  }
  std::string Path(const std::string& name) const { return scratch_.Path(name); }

  // A table with the fields C(10), N(5,0), N(8,2), L and D.
  std::string SampleTable(const std::string& name = "people.dbf") {
    const std::string path = Path(name);
    EXPECT_TRUE(CreateDBF(path, {{"NAME", 'C', 10, 0},
                                 {"AGE", 'N', 5, 0},
                                 {"PRICE", 'N', 8, 2},
                                 {"OK", 'L', 1, 0},
                                 {"BORN", 'D', 8, 0}}));
    return path;
  }

  // The stored text of field `field` of record `record`, read in a work
  // area of its own.
  std::string Stored(const std::string& path, int field, std::int32_t record) {
    const int saved = Selected();
    Select(33);
    Use(path + " ALIAS PEEKER", nullptr, 0);
    EXPECT_EQ(ErrorCode, 0) << ErrorText;
    RecCount();  // the count from the file size: the header is written at close
    const std::string text = Peek(field, record);
    Use("", nullptr, 0);
    Select(saved);
    return text;
  }

  fw::testing::ScopedHost host_;
  test_support::ScratchDir scratch_{"qd_ds"};
};

}  // namespace qd::dataset_test
