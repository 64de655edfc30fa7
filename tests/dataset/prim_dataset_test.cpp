// The primitive dataset through a test descendant whose cursor operations
// work on an in-memory list of records: buffer layout, result codes and
// their messages, end and beginning of the table, scroll events, bookmarks,
// searches and the state checks of field writes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "dataset/prim_dataset.h"
#include "framework/forms.h"
#include "support/recording_host.h"
#include "platform/platform.h"
#include "support/messages.h"

namespace qd {
namespace {

using namespace qd::fw;

// Record data: deletion byte, NAME as 10 characters and a zero, AGE as a
// 32-bit integer (-1 = blank). Bookmarks are 4-byte record identities; the
// cursor position is 0 before the first record, count + 1 after the last.
class ListDataset : public TQdPrimDataset {
 public:
  struct Record {
    std::int32_t id;
    std::string name;
    std::int32_t age;
  };
  explicit ListDataset(bool with_memo = false) : with_memo_(with_memo) {}
  ~ListDataset() override { CloseOnDestroy(); }

  std::vector<Record> records;
  std::vector<std::string> calls;
  std::string file_name = "people";
  std::uint16_t record_size = 16;
  std::map<int, std::int32_t> fail_next_at;  // position -> result code of the next read
  bool own_error_text = true;

  void Add(const std::string& name, std::int32_t age) { records.push_back({next_id_++, name, age}); }
  int Position() const { return pos_; }

  using TDataSet::ActiveBuffer;
  using TDataSet::BlobFieldCount;
  using TDataSet::CalcFieldsSize;
  using TDataSet::RestoreState;
  using TDataSet::SetTempState;
  using TQdPrimDataset::BufferRecNo;
  using TQdPrimDataset::CalcRecordLayout;
  using TQdPrimDataset::GetRecord;
  using TQdPrimDataset::GetBookmarkFlag;

 protected:
  std::string GetErrorText(std::int32_t code) override {
    return own_error_text ? "engine code " + std::to_string(code) : TQdPrimDataset::GetErrorText(code);
  }
  void InternalInitFieldDefs() override {
    calls.push_back("InitFieldDefs");
    FieldDefs().Clear();
    FieldDefs().Add("NAME", ftString, 10);
    FieldDefs().Add("AGE", ftInteger, 0);
    if (with_memo_) FieldDefs().Add("NOTES", ftMemo, 0);
  }
  std::int32_t QdiSetToBegin() override { calls.push_back("SetToBegin"); pos_ = 0; return kDsOk; }
  std::int32_t QdiSetToEnd() override { calls.push_back("SetToEnd"); pos_ = Count() + 1; return kDsOk; }
  std::int32_t QdiOpen() override {
    calls.push_back("Open");
    if (file_name.empty()) return kDsNoFileName;
    if (file_name == "missing") return 2;
    return kDsOk;
  }
  std::int32_t QdiClose() override { calls.push_back("Close"); return kDsOk; }
  std::int32_t QdiGetRecordCount() override { return Count(); }
  std::int32_t QdiForceReread() override { calls.push_back("ForceReread"); return kDsOk; }
  std::int32_t QdiAppendRecord(TRecordBuffer buffer) override {
    calls.push_back("AppendRecord");
    records.push_back(FromBuffer(buffer));
    pos_ = Count();
    return kDsOk;
  }
  std::int32_t QdiInsertRecord(TRecordBuffer buffer) override {
    calls.push_back("InsertRecord");
    records.push_back(FromBuffer(buffer));
    pos_ = Count();
    return kDsOk;
  }
  std::int32_t QdiDeleteRecord() override {
    calls.push_back("DeleteRecord");
    if (!OnRecord()) return kDsEof;
    records.erase(records.begin() + (pos_ - 1));
    return kDsOk;
  }
  std::int32_t QdiInitRecord(TRecordBuffer buffer) override {
    calls.push_back("InitRecord");
    const std::int32_t blank = -1;
    std::memcpy(buffer + 12, &blank, 4);
    return kDsOk;
  }
  std::int32_t QdiModifyRecord(TRecordBuffer buffer) override {
    calls.push_back("ModifyRecord");
    if (pos_ == 0) return kDsBof;
    if (pos_ > Count()) return kDsEof;
    const std::int32_t id = records[Index()].id;
    records[Index()] = FromBuffer(buffer);
    records[Index()].id = id;
    return kDsOk;
  }
  std::uint16_t QdiGetRecordSize() override { return record_size; }
  std::int32_t QdiGetRecord(TRecordBuffer buffer, std::int32_t& rec_no) override {
    calls.push_back(buffer == nullptr ? "GetRecord(none)" : "GetRecord");
    return Read(buffer, rec_no);
  }
  std::int32_t QdiGetNextRecord(TRecordBuffer buffer, std::int32_t& rec_no) override {
    auto failure = fail_next_at.find(pos_);
    if (failure != fail_next_at.end()) return failure->second;
    if (pos_ <= Count()) ++pos_;
    return Read(buffer, rec_no);
  }
  std::int32_t QdiGetPriorRecord(TRecordBuffer buffer, std::int32_t& rec_no) override {
    if (pos_ > 0) --pos_;
    return Read(buffer, rec_no);
  }
  std::int32_t QdiGetField(TField* field, TRecordBuffer record, bool& is_blank, void* value) override {
    is_blank = false;
    if (field->FieldNo() == 1) {
      if (value != nullptr) std::memcpy(value, record + 1, 11);
    } else if (field->FieldNo() == 2) {
      std::int32_t age = 0;
      std::memcpy(&age, record + 12, 4);
      is_blank = age == -1;
      if (value != nullptr) std::memcpy(value, &age, 4);
    }
    return kDsOk;
  }
  std::int32_t QdiSetField(TField* field, TRecordBuffer record, const void* value) override {
    calls.push_back("SetField " + field->FieldName());
    if (field->FieldNo() == 1) {
      std::memset(record + 1, 0, 11);
      if (value != nullptr) std::memcpy(record + 1, value, 11);
    } else if (field->FieldNo() == 2) {
      const std::int32_t blank = -1;
      std::memcpy(record + 12, value != nullptr ? value : &blank, 4);
    }
    return kDsOk;
  }
  std::int32_t QdiSetRecNo(std::int32_t rec_no) override {
    calls.push_back("SetRecNo " + std::to_string(rec_no));
    if (rec_no < 1 || rec_no > Count()) {
      pos_ = Count() + 1;  // a failed move leaves the cursor elsewhere
      return kDsEof;
    }
    pos_ = rec_no;
    return kDsOk;
  }
  bool QdiLocate(const std::string& key_fields, const Variant& key_values,
                 TLocateOptions /*options*/) override {
    calls.push_back("Locate " + key_fields);
    for (int i = 0; i < Count(); ++i)
      if (records[static_cast<std::size_t>(i)].name == key_values.AsString()) {
        pos_ = i + 1;
        return true;
      }
    pos_ = Count() + 1;  // a failed search leaves the cursor at the end
    return false;
  }
  // Searches without moving: the found record is read into the spare buffer
  // and its values are taken through the fields in the calc-fields state.
  Variant QdiLookup(const std::string& /*key_fields*/, const Variant& key_values,
                    const std::string& result_fields) override {
    for (int i = 0; i < Count(); ++i) {
      if (records[static_cast<std::size_t>(i)].name != key_values.AsString()) continue;
      const int saved = pos_;
      pos_ = i + 1;
      std::int32_t rec_no = 0;
      const TDataSetState old = SetTempState(dsCalcFields);
      Read(TempBuffer(), rec_no);
      CalculateFields(TempBuffer());
      const Variant value = FieldValues(result_fields);
      RestoreState(old);
      pos_ = saved;
      return value;
    }
    return Variant();
  }
  std::uint16_t QdiGetBookmarkSize() override { return 4; }
  std::int32_t QdiGotoBookmark(const std::uint8_t* bookmark) override {
    std::int32_t id = 0;
    std::memcpy(&id, bookmark, 4);
    for (int i = 0; i < Count(); ++i)
      if (records[static_cast<std::size_t>(i)].id == id) {
        pos_ = i + 1;
        return kDsOk;
      }
    return 77;
  }
  std::int32_t QdiGetBookmark(std::uint8_t* bookmark) override {
    if (!OnRecord()) return kDsEof;
    std::memcpy(bookmark, &records[Index()].id, 4);
    return kDsOk;
  }
  std::int32_t QdiCompareBookmarks(const std::uint8_t* a, const std::uint8_t* b, int& order) override {
    std::int32_t x = 0, y = 0;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    order = x < y ? -1 : x > y ? 1 : 0;
    return kDsOk;
  }

 private:
  int Count() const { return static_cast<int>(records.size()); }
  bool OnRecord() const { return pos_ >= 1 && pos_ <= Count(); }
  std::size_t Index() const { return static_cast<std::size_t>(pos_ - 1); }
  std::int32_t Read(TRecordBuffer buffer, std::int32_t& rec_no) {
    if (pos_ == 0) return kDsBof;
    if (pos_ > Count()) return kDsEof;
    rec_no = pos_;
    if (buffer != nullptr) {
      const Record& r = records[Index()];
      std::memset(buffer, 0, 12);
      std::memcpy(buffer + 1, r.name.data(), std::min<std::size_t>(r.name.size(), 10));
      std::memcpy(buffer + 12, &r.age, 4);
    }
    return kDsOk;
  }
  Record FromBuffer(TRecordBuffer buffer) {
    Record r{next_id_++, std::string(reinterpret_cast<const char*>(buffer + 1)), 0};
    std::memcpy(&r.age, buffer + 12, 4);
    return r;
  }

  bool with_memo_;
  std::int32_t next_id_ = 1;
  int pos_ = 0;
};

class PrimDatasetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qd::platform::SetHost(&host);
    for (int i = 1; i <= 5; ++i) ds.Add("P" + std::to_string(i), i * 10);
    ds.BeforeScroll = [this](TDataSet*) { events += "B"; };
    ds.AfterScroll = [this](TDataSet*) { events += "A"; };
  }
  void TearDown() override { qd::platform::SetHost(nullptr); }
  std::string Name() { return ds.FieldByName("NAME")->AsString(); }
  std::string TakeEvents() { return std::exchange(events, ""); }

  fw::testing::RecordingHost host;
  ListDataset ds;
  std::string events;
};

using test_support::MessageOf;

TEST_F(PrimDatasetTest, RecordLayoutArithmetic) {
  ds.Open();
  // No calculated and no blob fields: record info right after the record data.
  EXPECT_EQ(ds.RecordSize(), 16);
  EXPECT_EQ(ds.BlobCacheOfs(), 16);
  EXPECT_EQ(ds.RecInfoOfs(), 16);
  EXPECT_EQ(ds.BookmarkOfs(), 22);
  EXPECT_EQ(ds.RecBufSize(), 26);
  // The record number is little-endian at the start of the record info.
  ds.MoveBy(2);
  EXPECT_EQ(ds.BufferRecNo(ds.ActiveBuffer()), 3);
  EXPECT_EQ(ds.ActiveBuffer()[16], 3);
  EXPECT_EQ(ds.GetBookmarkFlag(ds.ActiveBuffer()), bfCurrent);
  ds.Close();

  ListDataset with_extras(true);
  with_extras.Add("A", 1);
  auto* twice = new TIntegerField(&with_extras);
  twice->SetFieldName("TWICE");
  twice->SetFieldKind(fkCalculated);
  twice->SetDataSet(&with_extras);
  for (const char* name : {"NAME", "AGE"}) {
    TField* f = name[0] == 'N' ? static_cast<TField*>(new TStringField(&with_extras))
                               : static_cast<TField*>(new TIntegerField(&with_extras));
    f->SetFieldName(name);
    f->SetDataSet(&with_extras);
  }
  auto* notes = new TMemoField(&with_extras);
  notes->SetFieldName("NOTES");
  notes->SetDataSet(&with_extras);
  with_extras.Open();
  EXPECT_EQ(with_extras.CalcFieldsSize(), 5);
  EXPECT_EQ(with_extras.BlobFieldCount(), 1);
  EXPECT_EQ(with_extras.BlobCacheOfs(), 16 + 5);
  EXPECT_EQ(with_extras.RecInfoOfs(), 16 + 5 + 4);
  EXPECT_EQ(with_extras.BookmarkOfs(), 16 + 5 + 4 + 6);
  EXPECT_EQ(with_extras.RecBufSize(), 16 + 5 + 4 + 6 + 4);

  // A layout that does not fit in 16 bits refuses to open, and the table
  // is closed again.
  ListDataset huge;
  huge.record_size = 65529;  // the bookmark would end beyond 65535
  EXPECT_THROW(huge.Open(), ERangeError);
  EXPECT_FALSE(huge.Active());
  EXPECT_FALSE(huge.CursorOpen());
  EXPECT_EQ(huge.calls.back(), "Close");
  huge.record_size = 65530;  // the record info must start below 65530
  EXPECT_THROW(huge.Open(), ERangeError);
  huge.record_size = 65525;  // exactly 65535 bytes
  huge.Open();
  EXPECT_EQ(huge.RecBufSize(), 65535);
}

TEST_F(PrimDatasetTest, ResultCodesBecomeExceptionsWithTheirMessages) {
  EXPECT_NO_THROW(ds.CheckResult(0));
  EXPECT_EQ(MessageOf([&] { ds.CheckResult(1401); }), "Dataset error: 1401");
  EXPECT_EQ(MessageOf([&] { ds.CheckResult(1403); }), "Dataset error: 1403");
  EXPECT_EQ(MessageOf([&] { ds.CheckResult(1404); }), "Missing DbfFilename property");
  EXPECT_EQ(MessageOf([&] { ds.CheckResult(5); }), "Dataset error: engine code 5");
  ds.own_error_text = false;
  EXPECT_EQ(MessageOf([&] { ds.CheckResult(5); }), "Dataset error: 5");
  EXPECT_THROW(ds.CheckResult(1403), qd::Exception);

  ds.file_name.clear();
  EXPECT_EQ(MessageOf([&] { ds.Open(); }), "Missing DbfFilename property");
  EXPECT_FALSE(ds.Active());
  ds.file_name = "missing";
  EXPECT_EQ(MessageOf([&] { ds.Open(); }), "Dataset error: 2");
  EXPECT_FALSE(ds.CursorOpen());

  // At design time a stored active flag that fails to open goes to the
  // application's exception handler instead of the caller.
  ds.file_name.clear();
  ds.SetDesigning(true);
  ds.BeginLoading();
  ds.SetActive(true);
  ds.EndLoading();
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Missing DbfFilename property");
}

TEST_F(PrimDatasetTest, OpenAndCloseSequences) {
  ds.Open();
  EXPECT_EQ(host.pumps, 1);  // pending messages are processed before the open
  const std::vector<std::string> open_calls(ds.calls.begin(), ds.calls.begin() + 3);
  EXPECT_EQ(open_calls, (std::vector<std::string>{"Open", "InitFieldDefs", "SetToBegin"}));
  EXPECT_TRUE(ds.CursorOpen());
  EXPECT_TRUE(ds.DefaultFields());
  EXPECT_EQ(ds.FieldCount(), 2);
  EXPECT_EQ(Name(), "P1");
  EXPECT_EQ(ds.RecordCount(), 5);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_TRUE(ds.IsSequenced());
  ds.SetFiltered(true);
  EXPECT_FALSE(ds.IsSequenced());
  ds.calls.clear();
  ds.Close();
  EXPECT_EQ(ds.calls, std::vector<std::string>{"Close"});
  EXPECT_FALSE(ds.CursorOpen());
  EXPECT_EQ(ds.FieldCount(), 0);

  // Field definitions asked for while closed open the table briefly.
  ds.calls.clear();
  ds.FieldDefs().SetUpdated(false);
  ds.FieldDefs().Update();
  EXPECT_EQ(ds.FieldDefs().Count(), 2);
  EXPECT_EQ(ds.calls, (std::vector<std::string>{"Open", "InitFieldDefs", "Close"}));
  EXPECT_FALSE(ds.Active());
}

TEST_F(PrimDatasetTest, EndAndBeginningOfTableRaiseNothing) {
  ds.Open();
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  ds.Next();
  ds.Next();
  EXPECT_EQ(Name(), "P5");
  EXPECT_EQ(ds.RecNo(), 5);
  ds.First();
  ds.Prior();
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(Name(), "P1");

  // Reads past either end answer the crack whatever the check flag.
  std::vector<std::uint8_t> buffer(ds.RecBufSize());
  ds.Last();
  EXPECT_EQ(ds.GetRecord(buffer.data(), gmNext, true), grEOF);
  EXPECT_EQ(ds.GetRecord(buffer.data(), gmNext, false), grEOF);
  ds.First();
  EXPECT_EQ(ds.GetRecord(buffer.data(), gmPrior, true), grBOF);

  // An engine failure raises only when the framework asks for a check.
  ds.fail_next_at[2] = 66;
  EXPECT_EQ(ds.GetRecord(buffer.data(), gmCurrent, true), grBOF);
  ds.First();
  ds.Next();
  EXPECT_EQ(MessageOf([&] { ds.Next(); }), "Dataset error: engine code 66");

  ListDataset empty;
  empty.Open();
  EXPECT_TRUE(empty.Bof());
  EXPECT_TRUE(empty.Eof());
  EXPECT_EQ(empty.RecNo(), 0);  // the buffers hold no record
  EXPECT_TRUE(empty.FieldByName("AGE")->IsNull());
  empty.Last();
  empty.Next();
  EXPECT_EQ(empty.RecordCount(), 0);
}

TEST_F(PrimDatasetTest, ScrollEventsOfRecordNumbersAndSearches) {
  ds.SetBufferCount(3);
  ds.Open();
  ds.MoveBy(2);
  TakeEvents();
  ds.SetRecNo(3);  // already there
  EXPECT_EQ(TakeEvents(), "");
  ds.SetRecNo(5);
  EXPECT_EQ(TakeEvents(), "BA");
  EXPECT_EQ(Name(), "P5");
  EXPECT_EQ(ds.RecNo(), 5);
  ds.SetRecNo(42);  // fails quietly: no after-scroll, still on P5
  EXPECT_EQ(TakeEvents(), "B");
  EXPECT_EQ(Name(), "P5");
  ds.Prior();  // the cursor is put back before moving
  EXPECT_EQ(Name(), "P4");

  ds.First();
  TakeEvents();
  EXPECT_TRUE(ds.Locate("NAME", Variant("P4"), 0));
  EXPECT_EQ(TakeEvents(), "BA");
  EXPECT_EQ(Name(), "P4");
  EXPECT_EQ(ds.RecNo(), 4);
  ASSERT_EQ(ds.BufferedRecords(), 3);
  EXPECT_EQ(ds.ActiveRecord(), 1);  // centred

  EXPECT_FALSE(ds.Locate("NAME", Variant("nobody"), loCaseInsensitive));
  EXPECT_EQ(TakeEvents(), "B");
  EXPECT_EQ(Name(), "P4");  // the buffers are as they were
  EXPECT_EQ(ds.BufferedRecords(), 3);
  ds.Next();  // and the cursor is found again
  EXPECT_EQ(Name(), "P5");

  EXPECT_EQ(ds.Lookup("NAME", Variant("P2"), "AGE").AsInteger(), 20);
  const Variant both = ds.Lookup("NAME", Variant("P3"), "NAME;AGE");
  ASSERT_EQ(both.Count(), 2);
  EXPECT_EQ(both[0].AsString(), "P3");
  EXPECT_EQ(both[1].AsInteger(), 30);
  EXPECT_EQ(Name(), "P5");  // a lookup does not move
  EXPECT_TRUE(ds.Lookup("NAME", Variant("P9"), "AGE").IsNull());

  // A search during an edit posts the pending change first.
  ds.Edit();
  ds.FieldByName("AGE")->SetAsInteger(55);
  EXPECT_TRUE(ds.Locate("NAME", Variant("P1"), 0));
  EXPECT_EQ(ds.records[4].age, 55);
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST_F(PrimDatasetTest, FindFirstNextPriorLast) {
  ds.Open();
  ds.MoveBy(2);
  TakeEvents();
  EXPECT_TRUE(ds.FindNext());
  EXPECT_TRUE(ds.Found());
  EXPECT_EQ(Name(), "P4");
  EXPECT_EQ(TakeEvents(), "BA");
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(Name(), "P5");
  EXPECT_FALSE(ds.FindNext());
  EXPECT_FALSE(ds.Found());
  EXPECT_EQ(TakeEvents(), "BAB");
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(Name(), "P4");
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(Name(), "P1");
  EXPECT_FALSE(ds.FindPrior());
  ds.Next();
  EXPECT_EQ(Name(), "P2");
}

TEST_F(PrimDatasetTest, Bookmarks) {
  ds.Open();
  ds.MoveBy(3);
  const TBookmark p4 = ds.GetBookmark();
  ASSERT_EQ(p4.size(), 4u);
  ds.First();
  const TBookmark p1 = ds.GetBookmark();
  ds.GotoBookmark(p4);
  EXPECT_EQ(Name(), "P4");

  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, p1), 1);
  EXPECT_EQ(ds.CompareBookmarks(p1, {}), -1);
  EXPECT_EQ(ds.CompareBookmarks(p1, p4), -1);
  EXPECT_EQ(MessageOf([&] { ds.CompareBookmarks(p1, TBookmark{1, 0}); }), "Invalid bookmark");
  EXPECT_EQ(MessageOf([&] { ds.GotoBookmark(TBookmark{1, 0, 0, 0, 0}); }), "Invalid bookmark");

  EXPECT_TRUE(ds.BookmarkValid(p1));
  EXPECT_FALSE(ds.BookmarkValid(TBookmark{1}));
  ds.Delete();  // P4
  EXPECT_FALSE(ds.BookmarkValid(p4));
  EXPECT_EQ(MessageOf([&] { ds.GotoBookmark(p4); }), "Dataset error: engine code 77");
  ds.Next();  // the failed checks did not lose the cursor
  ds.Close();
  EXPECT_FALSE(ds.BookmarkValid(p1));
  EXPECT_EQ(ds.CompareBookmarks(p1, p4), 0);  // closed: no order
}

TEST_F(PrimDatasetTest, StateChecksOfFieldWrites) {
  auto* name = new TStringField(&ds);
  name->SetFieldName("NAME");
  name->SetSize(10);
  name->SetDataSet(&ds);
  auto* age = new TIntegerField(&ds);
  age->SetFieldName("AGE");
  age->SetDataSet(&ds);
  auto* label = new TStringField(&ds);
  label->SetFieldName("LABEL");
  label->SetFieldKind(fkCalculated);
  label->SetDataSet(&ds);
  ds.OnCalcFields = [&](TDataSet*) { label->SetAsString("#" + name->AsString()); };
  int changes = 0;
  age->OnChange = [&](TField*) { ++changes; };
  int validations = 0;
  age->OnValidate = [&](TField*) { ++validations; };
  ds.Open();
  EXPECT_EQ(label->AsString(), "#P1");

  EXPECT_EQ(MessageOf([&] { age->SetAsInteger(1); }), "Dataset not in edit or insert mode");

  name->SetReadOnly(true);
  name->SetDisplayLabel("Full name");
  ds.Edit();
  EXPECT_EQ(MessageOf([&] { name->SetAsString("X"); }), "Field 'Full name' cannot be modified");
  age->SetAsInteger(11);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(validations, 1);
  EXPECT_EQ(ds.calls.back(), "SetField AGE");
  ds.Post();
  EXPECT_EQ(ds.records[0].age, 11);
  EXPECT_EQ(ds.calls[ds.calls.size() - 2], "ModifyRecord");

  // The filter state lets read-only fields be set; with no record buffer
  // the value is validated but stored nowhere, and no change is announced.
  const TDataSetState old = ds.SetTempState(dsFilter);
  ds.calls.clear();
  EXPECT_NO_THROW(name->SetAsString("filter"));
  EXPECT_NO_THROW(age->SetAsInteger(99));
  EXPECT_EQ(validations, 2);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(ds.calls.empty());
  EXPECT_FALSE(age->GetData(nullptr));  // nothing to read in this state
  ds.RestoreState(old);
  EXPECT_EQ(age->AsInteger(), 11);
  EXPECT_EQ(name->AsString(), "P1");

  // While calculating, data fields cannot be written.
  ds.OnCalcFields = [&](TDataSet*) { age->SetAsInteger(0); };
  EXPECT_EQ(MessageOf([&] { ds.Next(); }), "Dataset not in edit or insert mode");
}

TEST_F(PrimDatasetTest, EditingThroughTheCursorOperations) {
  ds.Open();
  ds.Next();
  ds.records[1].name = "Outside";  // changed by another program
  ds.calls.clear();
  ds.Edit();  // the record is read again before editing
  EXPECT_EQ(ds.calls, std::vector<std::string>{"GetRecord"});
  EXPECT_EQ(Name(), "Outside");
  ds.Cancel();

  ds.Insert();
  EXPECT_EQ(ds.calls.back(), "InitRecord");
  EXPECT_TRUE(ds.FieldByName("AGE")->IsNull());  // initialised blank
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_FALSE(ds.GetCurrentRecord(ds.ActiveBuffer()));  // a new record is not current
  ds.FieldByName("NAME")->SetAsString("NEW");
  ds.Post();
  EXPECT_EQ(ds.calls[ds.calls.size() - 2], "InsertRecord");
  EXPECT_EQ(ds.records.back().name, "NEW");
  EXPECT_EQ(Name(), "NEW");
  EXPECT_EQ(ds.RecNo(), 6);

  ds.AppendRecord({Variant("APP"), Variant(3)});
  EXPECT_EQ(ds.records.back().name, "APP");
  EXPECT_NE(std::find(ds.calls.begin(), ds.calls.end(), "AppendRecord"), ds.calls.end());
  ds.InsertRecord({Variant("INS")});
  EXPECT_EQ(ds.records.back().name, "INS");

  ds.First();
  std::vector<std::uint8_t> buffer(ds.RecBufSize());
  EXPECT_TRUE(ds.GetCurrentRecord(buffer.data()));
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data() + 1), "P1");
  ds.Refresh();
  EXPECT_NE(std::find(ds.calls.begin(), ds.calls.end(), "ForceReread"), ds.calls.end());
  ds.Delete();
  EXPECT_EQ(Name(), "Outside");
  EXPECT_EQ(ds.RecordCount(), 7);

  // Adding the first record of an empty table.
  ListDataset empty;
  empty.Open();
  EXPECT_FALSE(empty.GetCurrentRecord(empty.ActiveBuffer()));
  empty.Append();
  empty.FieldByName("NAME")->SetAsString("ONE");
  empty.FieldByName("AGE")->SetAsInteger(1);
  empty.Post();
  EXPECT_EQ(empty.records.size(), 1u);
  EXPECT_EQ(empty.FieldByName("NAME")->AsString(), "ONE");
  EXPECT_EQ(empty.RecNo(), 1);
  EXPECT_FALSE(empty.Eof());
}

}  // namespace
}  // namespace qd
