// The dataset framework over a tiny in-memory dataset: open and close
// sequences, field binding, navigation through a ring of several buffers,
// editing, bookmarks, calculated and lookup fields, and the events.
#include <gtest/gtest.h>

#include <memory>

#include "framework/dataset.h"
#include "memory_dataset.h"
#include "support/messages.h"

namespace qd::fw {
namespace {

using testing::MemoryDataSet;
using test_support::MessageOf;

std::unique_ptr<MemoryDataSet> People(int rows = 5) {
  auto ds = std::make_unique<MemoryDataSet>(std::vector<MemoryDataSet::Column>{
      {"NAME", ftString, 10}, {"AGE", ftInteger, 0}, {"ODD", ftUnknown, 0}});
  ds->SetName("People");
  for (int i = 1; i <= rows; ++i) ds->AddRow({"P" + std::to_string(i), std::to_string(i * 10)});
  return ds;
}

// The names of the rows held in the buffers, active one in brackets.
std::string Window(MemoryDataSet& ds) {
  std::string text;
  const int active = ds.ActiveRecord();
  for (int i = 0; i < ds.BufferedRecords(); ++i) {
    ds.SetActiveRecord(i);
    const std::string name = ds.FieldByName("NAME")->AsString();
    text += i == active ? "[" + name + "]" : name;
    text += ' ';
  }
  ds.SetActiveRecord(active);
  return text;
}

// Records every event of a dataset as a word.
struct EventLog {
  std::vector<std::string> events;
  explicit EventLog(TDataSet& ds) {
    auto note = [this](const char* word) { return [this, word](TDataSet*) { events.push_back(word); }; };
    ds.BeforeOpen = note("BeforeOpen");
    ds.AfterOpen = note("AfterOpen");
    ds.BeforeClose = note("BeforeClose");
    ds.AfterClose = note("AfterClose");
    ds.BeforeInsert = note("BeforeInsert");
    ds.AfterInsert = note("AfterInsert");
    ds.BeforeEdit = note("BeforeEdit");
    ds.AfterEdit = note("AfterEdit");
    ds.BeforePost = note("BeforePost");
    ds.AfterPost = note("AfterPost");
    ds.BeforeCancel = note("BeforeCancel");
    ds.AfterCancel = note("AfterCancel");
    ds.BeforeDelete = note("BeforeDelete");
    ds.AfterDelete = note("AfterDelete");
    ds.BeforeScroll = note("BeforeScroll");
    ds.AfterScroll = note("AfterScroll");
    ds.OnNewRecord = note("OnNewRecord");
  }
  std::string Take() {
    std::string text;
    for (const auto& e : events) text += e + " ";
    events.clear();
    return text;
  }
};

TEST(DataSetLifecycle, OpenBuildsFieldsAndCloseDestroysDefaultOnes) {
  auto ds = People();
  EventLog log(*ds);
  ds->Open();
  EXPECT_EQ(log.Take(), "BeforeOpen AfterOpen AfterScroll ");
  EXPECT_EQ(ds->calls[0], "InternalOpen");
  EXPECT_EQ(ds->calls[1], "InitFieldDefs");
  EXPECT_TRUE(ds->DefaultFields());
  ASSERT_EQ(ds->FieldCount(), 2);  // the column of unknown type gets no field
  EXPECT_NE(dynamic_cast<TStringField*>(ds->FieldByName("name")), nullptr);
  EXPECT_NE(dynamic_cast<TIntegerField*>(ds->FieldByName("AGE")), nullptr);
  EXPECT_EQ(ds->FieldByName("AGE")->FieldNo(), 2);
  EXPECT_EQ(ds->FieldByName("NAME")->DataSize(), 11);
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_TRUE(ds->Bof());
  EXPECT_FALSE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "P1");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->FieldByName("NOPE"); }), "Field 'NOPE' not found");
  ds->Close();
  EXPECT_EQ(log.Take(), "BeforeClose AfterClose ");
  EXPECT_EQ(ds->FieldCount(), 0);
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->RecordCount(); }),
            "Cannot perform this operation on a closed dataset");
}

TEST(DataSetLifecycle, PersistentFieldsAreBoundAndKept) {
  auto ds = People();
  auto* age = new TIntegerField(ds.get());
  age->SetFieldName("AGE");
  age->SetDataSet(ds.get());
  auto* name = new TStringField(ds.get());  // default size 20; the column says 10
  name->SetFieldName("NAME");
  name->SetDataSet(ds.get());
  ds->Open();
  EXPECT_FALSE(ds->DefaultFields());
  EXPECT_EQ(ds->FieldCount(), 2);
  EXPECT_EQ(name->Size(), 10);
  EXPECT_EQ(age->AsInteger(), 10);
  EXPECT_THROW(age->SetFieldName("X"), EDatabaseError);  // not while open
  ds->Close();
  EXPECT_EQ(ds->FieldCount(), 2);

  auto* wrong = new TFloatField(ds.get());
  wrong->SetFieldName("NAME");
  name->SetDataSet(nullptr);
  wrong->SetDataSet(ds.get());
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->Open(); }),
            "Type mismatch for field 'NAME', expecting: Float actual: String");
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(ds->calls.back(), "InternalClose");  // a failed open closes the cursor again
  delete name;
}

TEST(DataSetLifecycle, StreamedActiveOpensWhenLoadedAndDesignTimeFailuresAreHandled) {
  struct Failing : MemoryDataSet {
    using MemoryDataSet::MemoryDataSet;
    int handled = 0;
    void InternalOpen() override { throw EDatabaseError("cannot open"); }
    void InternalHandleException() override { ++handled; }
  };
  auto good = People();
  good->BeginLoading();
  good->SetActive(true);
  EXPECT_FALSE(good->Active());
  good->EndLoading();
  EXPECT_TRUE(good->Active());

  Failing bad({{"A", ftInteger, 0}});
  bad.BeginLoading();
  bad.SetActive(true);
  EXPECT_THROW(bad.EndLoading(), EDatabaseError);
  bad.SetDesigning(true);
  bad.BeginLoading();
  bad.SetActive(true);
  bad.EndLoading();
  EXPECT_EQ(bad.handled, 1);
}

TEST(DataSetNavigation, SingleBufferWalk) {
  auto ds = People(3);
  ds->Open();
  EventLog log(*ds);
  std::string seen;
  for (; !ds->Eof(); ds->Next()) seen += ds->FieldByName("NAME")->AsString();
  EXPECT_EQ(seen, "P1P2P3");
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "P3");  // Eof stays on the last row
  log.Take();
  ds->Next();  // nothing to move: no events
  EXPECT_EQ(log.Take(), "");
  EXPECT_EQ(ds->MoveBy(-5), -2);
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(log.Take(), "BeforeScroll AfterScroll ");
  ds->Last();
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("AGE")->AsInteger(), 30);
  EXPECT_EQ(ds->RecNo(), 3);
  EXPECT_EQ(ds->RecordCount(), 3);
  ds->First();
  EXPECT_EQ(ds->RecNo(), 1);

  auto empty = People(0);
  empty->Open();
  EXPECT_TRUE(empty->Bof());
  EXPECT_TRUE(empty->Eof());
  EXPECT_TRUE(empty->IsEmpty());
  EXPECT_EQ(empty->FieldByName("NAME")->AsString(), "");
  EXPECT_EQ(empty->MoveBy(1), 0);
}

TEST(DataSetNavigation, SeveralBuffersKeepAWindowOfRows) {
  auto ds = People(6);
  ds->SetBufferCount(3);
  ds->Open();
  EXPECT_EQ(Window(*ds), "[P1] P2 P3 ");
  ds->MoveBy(2);
  EXPECT_EQ(Window(*ds), "P1 P2 [P3] ");
  ds->Next();
  EXPECT_EQ(Window(*ds), "P2 P3 [P4] ");
  ds->Last();
  EXPECT_EQ(Window(*ds), "P4 P5 [P6] ");
  ds->MoveBy(-3);
  EXPECT_EQ(Window(*ds), "[P3] P4 P5 ");
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "P3");
  // Centring resync places the record in the middle.
  const TBookmark p5 = [&] { ds->MoveBy(2); return ds->GetBookmark(); }();
  ds->First();
  ds->GotoBookmark(p5);
  EXPECT_EQ(Window(*ds), "P4 [P5] P6 ");
  // Growing the ring on an open dataset keeps the current row.
  ds->SetBufferCount(5);
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "P5");
  EXPECT_EQ(ds->BufferedRecords(), 5);
  ds->SetBufferCount(1);
  EXPECT_EQ(Window(*ds), "[P5] ");
}

TEST(DataSetEditing, EditPostCancelAndEvents) {
  auto ds = People(3);
  ds->Open();
  EventLog log(*ds);
  TField* name = ds->FieldByName("NAME");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { name->SetAsString("X"); }), "Dataset not in edit or insert mode");
  EXPECT_THROW(ds->Post(), EDatabaseError);

  ds->Next();
  ds->Edit();
  EXPECT_EQ(ds->State(), dsEdit);
  EXPECT_FALSE(ds->Modified());
  name->SetAsString("Changed name too long");
  EXPECT_TRUE(ds->Modified());
  EXPECT_EQ(name->AsString(), "Changed na");  // cut to the field size
  ds->Post();
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->RowText(1, 0), "Changed na");
  EXPECT_EQ(log.Take(), "BeforeScroll AfterScroll BeforeEdit AfterEdit BeforePost AfterPost ");

  ds->Edit();
  name->SetAsString("Gone");
  ds->Cancel();
  EXPECT_EQ(name->AsString(), "Changed na");
  EXPECT_EQ(ds->RowText(1, 0), "Changed na");
  EXPECT_EQ(log.Take(), "BeforeEdit AfterEdit BeforeCancel AfterCancel ");

  // Moving while editing posts a modified record and cancels an unmodified one.
  ds->Edit();
  ds->FieldByName("AGE")->SetAsInteger(99);
  ds->Next();
  EXPECT_EQ(ds->RowText(1, 1), "99");
  ds->Edit();
  ds->calls.clear();
  ds->Prior();
  EXPECT_EQ(ds->calls, std::vector<std::string>{"Cancel"});
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "Changed na");

  ds->read_only = true;
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->Edit(); }), "Cannot modify a read-only dataset");
}

TEST(DataSetEditing, InsertAppendAndDelete) {
  auto ds = People(3);
  ds->SetBufferCount(3);
  ds->Open();
  EventLog log(*ds);
  ds->Next();
  log.Take();
  ds->Insert();  // before P2
  EXPECT_EQ(log.Take(), "BeforeInsert BeforeScroll OnNewRecord AfterInsert AfterScroll ");
  EXPECT_EQ(ds->State(), dsInsert);
  EXPECT_TRUE(ds->GetBookmark().empty());
  ds->FieldByName("NAME")->SetAsString("NEW");
  ds->Post();
  EXPECT_EQ(ds->RowCount(), 4);
  EXPECT_EQ(ds->RowText(1, 0), "NEW");
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "NEW");

  ds->Append();
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "");
  ds->FieldByName("NAME")->SetAsString("END");
  ds->Post();
  EXPECT_EQ(ds->RowText(4, 0), "END");
  EXPECT_EQ(Window(*ds), "P2 P3 [END] ");

  ds->Insert();
  ds->Cancel();  // nothing stored, the row before is current again
  EXPECT_EQ(ds->RowCount(), 5);
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "END");

  log.Take();
  ds->Delete();
  EXPECT_EQ(log.Take(), "BeforeDelete BeforeScroll AfterDelete AfterScroll ");
  EXPECT_EQ(ds->RowCount(), 4);
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "P3");  // the last row moved up

  ds->AppendRecord({Variant("REC"), Variant(7)});
  EXPECT_EQ(ds->RowText(4, 0), "REC");
  EXPECT_EQ(ds->RowText(4, 1), "7");
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "REC");

  auto empty = People(0);
  empty->Open();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { empty->Delete(); }),
            "Cannot perform this operation on an empty dataset");
  empty->Edit();  // editing an empty dataset inserts
  EXPECT_EQ(empty->State(), dsInsert);
  empty->FieldByName("NAME")->SetAsString("FIRST");
  empty->Post();
  EXPECT_EQ(empty->RowCount(), 1);
  EXPECT_FALSE(empty->IsEmpty());
}

TEST(DataSetEditing, ErrorEventsCanRetryAbortOrFail) {
  struct Flaky : MemoryDataSet {
    using MemoryDataSet::MemoryDataSet;
    int failures = 0;
    void InternalPost() override {
      if (failures-- > 0) throw Exception("disk busy");
      MemoryDataSet::InternalPost();
    }
  };
  Flaky ds({{"A", ftInteger, 0}});
  ds.AddRow({"1"});
  ds.Open();
  int asked = 0;
  ds.OnPostError = [&](TDataSet*, const Exception& e, TDataAction& action) {
    EXPECT_STREQ(e.what(), "disk busy");
    action = ++asked < 3 ? daRetry : daAbort;
  };
  ds.failures = 2;
  ds.Edit();
  ds.FieldByName("A")->SetAsInteger(5);
  ds.Post();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(ds.RowText(0, 0), "5");

  ds.failures = 5;
  ds.Edit();
  ds.FieldByName("A")->SetAsInteger(6);
  EXPECT_THROW(ds.Post(), EAbort);
  EXPECT_EQ(ds.State(), dsEdit);  // the edit is still pending
  ds.OnPostError = nullptr;
  EXPECT_THROW(ds.Post(), Exception);
  ds.Cancel();
  EXPECT_EQ(ds.RowText(0, 0), "5");
}

TEST(DataSetBookmarks, ReturnCompareAndRefuseWrongSizes) {
  auto ds = People(4);
  ds->Open();
  ds->MoveBy(2);
  const TBookmark third = ds->GetBookmark();
  ASSERT_EQ(third.size(), 4u);
  ds->First();
  EventLog log(*ds);
  ds->GotoBookmark(third);
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "P3");
  EXPECT_EQ(log.Take(), "BeforeScroll AfterScroll ");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->GotoBookmark(TBookmark{1, 2}); }), "Invalid bookmark");
  ds->GotoBookmark(TBookmark{});  // no bookmark: nothing happens
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "P3");
  ds->Delete();
  EXPECT_THROW(ds->GotoBookmark(third), EDatabaseError);
}

TEST(DataSetFields, CalculatedAndLookupFields) {
  auto cities = std::make_unique<MemoryDataSet>(
      std::vector<MemoryDataSet::Column>{{"CODE", ftInteger, 0}, {"CITY", ftString, 12}});
  cities->AddRow({"10", "Lyon"});
  cities->AddRow({"30", "Oslo"});
  cities->Open();

  auto ds = People(3);
  ds->SetBufferCount(3);
  auto* name = new TStringField(ds.get());
  name->SetFieldName("NAME");
  name->SetDataSet(ds.get());
  auto* age = new TIntegerField(ds.get());
  age->SetFieldName("AGE");
  age->SetDataSet(ds.get());
  auto* twice = new TIntegerField(ds.get());
  twice->SetFieldName("TWICE");
  twice->SetFieldKind(fkCalculated);
  twice->SetDataSet(ds.get());
  auto* city = new TStringField(ds.get());
  city->SetFieldName("CITY");
  city->SetFieldKind(fkLookup);
  city->LookupDataSet = cities.get();
  city->KeyFields = "AGE";
  city->LookupKeyFields = "CODE";
  city->LookupResultField = "CITY";
  city->SetDataSet(ds.get());
  int calculations = 0;
  ds->OnCalcFields = [&](TDataSet* d) {
    ++calculations;
    EXPECT_EQ(d->State(), dsCalcFields);
    if (!age->IsNull()) twice->SetAsInteger(age->AsInteger() * 2);
  };
  ds->Open();
  EXPECT_EQ(ds->CalcFieldsSize(), (4 + 1) + (20 + 1 + 1));
  EXPECT_EQ(twice->FieldNo(), -1);
  EXPECT_EQ(city->Offset(), 5);
  EXPECT_EQ(calculations, 3);  // once per row read
  EXPECT_EQ(twice->AsInteger(), 20);
  EXPECT_EQ(city->AsString(), "Lyon");
  ds->Next();
  EXPECT_TRUE(city->IsNull());  // no city with code 20
  ds->Next();
  EXPECT_EQ(city->AsString(), "Oslo");
  EXPECT_EQ(twice->AsInteger(), 60);
  // Changing a data field recalculates while editing.
  ds->Edit();
  age->SetAsInteger(10);
  EXPECT_EQ(twice->AsInteger(), 20);
  EXPECT_EQ(city->AsString(), "Lyon");
  ds->Cancel();
  EXPECT_EQ(twice->AsInteger(), 60);
  ds->Close();
  cities->Close();
}

TEST(DataSetFields, BlobFieldsGoThroughStreams) {
  MemoryDataSet ds({{"ID", ftInteger, 0}, {"NOTES", ftMemo, 0}});
  ds.AddRow({"1", "first note"});
  ds.AddRow({"2", ""});
  ds.Open();
  EXPECT_EQ(ds.BlobFieldCount(), 1);
  TField* notes = ds.FieldByName("NOTES");
  EXPECT_NE(dynamic_cast<TMemoField*>(notes), nullptr);
  EXPECT_EQ(notes->AsString(), "first note");
  EXPECT_EQ(notes->DisplayText(), "(MEMO)");
  ds.Next();
  EXPECT_TRUE(notes->IsNull());
  EXPECT_EQ(notes->DisplayText(), "(memo)");
  notes->SetAsString("written");  // the stream puts the dataset into edit mode
  EXPECT_EQ(ds.State(), dsEdit);
  ds.Post();
  EXPECT_EQ(ds.RowText(1, 1), "written");
  ds.Prior();
  notes->Clear();
  ds.Post();
  EXPECT_EQ(ds.RowText(0, 1), "");
}

}  // namespace
}  // namespace qd::fw
