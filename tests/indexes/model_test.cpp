// The model test: thousands of random appends, replaces that change keys,
// deletions (flag only) and recalls on a table with six tags (character,
// numeric and date keys; ascending and descending; a unique tag; a FOR
// tag), checked after every batch against a sorted in-memory model: every
// tag's tree is sound (walked from the file's bytes), holds exactly the
// model's entries, is visited in that order forwards and backwards, and
// Find of its keys lands on the first record holding each.
#include <random>

#include "nav_test_support.h"

namespace qd::index_test {
namespace {

using index_model::KeyValue;
using index_model::TagModel;

struct PersonState {
  std::string name;  // padded to 10
  double amount = 0;
  int year = 0, month = 1, day = 1;  // year 0: empty date
  bool flag = false;
};

constexpr int kTags = 6;

class ModelTest : public NavTest {
 protected:
  void SetUp() override {
    NavTest::SetUp();
    OpenEmpty({{"NAMES", CharTag("NAME", 10)},
               {"DNAMES", CharTag("NAME", 10, true)},
               {"AMOUNTS", NumericTag("AMOUNT")},
               {"BORN", DateTag("BORN", true)},
               {"UNAMES", CharTag("NAME", 10, false, true)},
               {"FLAGGED", CharTag("NAME", 10, false, false, "FLAG")}});
    const Bytes bytes = FileBytes();
    for (int tag = 1; tag <= kTags; ++tag) {
      layouts_.push_back(index_model::ReadLayout(bytes, tag));
      models_.emplace_back(layouts_.back());
    }
  }

  // The key of a person in tag `tag` (1-based), and whether it enters.
  KeyValue KeyOf(int tag, const PersonState& p) const {
    KeyValue key;
    switch (tag) {
      case 3:
        key.number = std::round(p.amount * 1e6) / 1e6;
        break;
      case 4:
        key.number = p.year == 0 ? BlankDateValue : JulianDate(p.year, p.month, p.day);
        break;
      default:
        key.text = p.name;
    }
    return key;
  }
  static bool Enters(int tag, const PersonState& p) { return tag != 6 || p.flag; }

  PersonState RandomPerson() {
    PersonState p;
    const int n = static_cast<int>(random_() % 400);
    p.name = ("P" + std::to_string(n) + "          ").substr(0, 10);
    p.amount = static_cast<double>(static_cast<int>(random_() % 4001) - 2000) / 4.0;
    if (random_() % 10 != 0) {
      p.year = 1990 + static_cast<int>(random_() % 20);
      p.month = 1 + static_cast<int>(random_() % 12);
      p.day = 1 + static_cast<int>(random_() % 28);
    }
    p.flag = random_() % 2 == 0;
    return p;
  }
  static void WriteNative(const PersonState& p) {
    SetName(p.name);
    SetAmount(p.amount);
    SetBorn(p.year, p.month, p.day);
    SetFlag(p.flag);
  }

  void DoAppend() {
    const PersonState p = RandomPerson();
    ClearRecord();
    WriteNative(p);
    Append();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    people_.push_back(p);
    const auto record = static_cast<std::uint32_t>(people_.size());
    for (int tag = 1; tag <= kTags; ++tag) models_[tag - 1].Append(record, KeyOf(tag, p), Enters(tag, p));
  }

  void DoReplace() {
    const auto record = static_cast<std::int32_t>(1 + random_() % people_.size());
    // Any order but the FOR tag's, where a record outside it is not reached.
    Set_Order_To(static_cast<int>(random_() % kTags));
    Go(record);
    ASSERT_EQ(RecNo(), record);
    PersonState p = people_[static_cast<std::size_t>(record - 1)];
    const PersonState old = p;
    const PersonState fresh = RandomPerson();
    switch (random_() % 4) {
      case 0:
        p.name = fresh.name;
        break;
      case 1:
        p.amount = fresh.amount;
        p.flag = fresh.flag;
        break;
      case 2:
        p.year = fresh.year;
        p.month = fresh.month;
        p.day = fresh.day;
        break;
      default:
        p = fresh;
    }
    WriteNative(p);
    Replace();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
    people_[static_cast<std::size_t>(record - 1)] = p;
    for (int tag = 1; tag <= kTags; ++tag) {
      models_[tag - 1].Replace(static_cast<std::uint32_t>(record), KeyOf(tag, old), Enters(tag, old), KeyOf(tag, p),
                               Enters(tag, p));
    }
  }

  void DoFlag() {
    const auto record = static_cast<std::int32_t>(1 + random_() % people_.size());
    Set_Order_To(0);
    Go(record);
    if (random_() % 2 == 0) {
      DeleteRec();
    } else {
      RecallRec();
    }
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }

  // The text Find takes for a key of tag `tag`.
  static std::string FindText(int tag, const KeyValue& key) {
    if (tag == 3) {
      char text[32];
      std::snprintf(text, sizeof text, "%.2f", key.number);
      return text;
    }
    if (tag == 4) return key.number == BlankDateValue ? std::string() : JulianToDate(key.number);
    return key.text;
  }

  void CheckAll(const std::string& when) {
    for (int tag = 1; tag <= kTags; ++tag) {
      SCOPED_TRACE(when + ", tag " + std::to_string(tag));
      const index_model::Walked walked = WalkFile(tag);
      ASSERT_EQ(models_[tag - 1].Check(walked), "");
      const auto records = Records(walked);
      Set_Order_To(tag);
      ASSERT_EQ(Forwards(), records);
      ASSERT_EQ(Backwards(), records);
      // Find of keys (all of them at the end, a sample before).
      const std::size_t step = when == "end" ? 1 : std::max<std::size_t>(1, walked.entries.size() / 25);
      for (std::size_t i = 0; i < walked.entries.size(); i += step) {
        const KeyValue& key = walked.entries[i].key;
        const std::string text = FindText(tag, key);
        if (text.empty()) continue;
        std::size_t first = i;
        while (first > 0 && walked.entries[first - 1].key == key) --first;
        ASSERT_TRUE(Find(text)) << "'" << text << "'";
        ASSERT_EQ(RecNo(), static_cast<std::int32_t>(walked.entries[first].record)) << "'" << text << "'";
      }
    }
  }

  std::mt19937 random_{20261207};
  std::vector<PersonState> people_;
  std::vector<index_model::TagLayout> layouts_;
  std::vector<TagModel> models_;
};

TEST_F(ModelTest, RandomUpdatesKeepEveryTagAsTheModelSays) {
  constexpr int kOperations = 3000;
  constexpr int kBatch = 300;
  for (int i = 0; i < 20; ++i) DoAppend();
  for (int op = 1; op <= kOperations; ++op) {
    const unsigned choice = random_() % 100;
    if (choice < 40) {
      DoAppend();
    } else if (choice < 80) {
      DoReplace();
    } else {
      DoFlag();
    }
    if (HasFatalFailure()) return;
    if (op % kBatch == 0) {
      CheckAll("after " + std::to_string(op) + " operations");
      if (HasFatalFailure()) return;
    }
  }
  // Deleted records stay in every tag; hidden, they are passed over.
  SetIgnoreDel(true);
  Set_Order_To(1);
  const auto visible = Forwards();
  std::size_t hidden = 0;
  for (std::size_t r = 0; r < people_.size(); ++r) {
    Set_Order_To(0);
    Go(static_cast<std::int32_t>(r + 1));
    if (FieldAddress(0)[0] != 0) ++hidden;
  }
  EXPECT_EQ(visible.size() + hidden, people_.size());
  SetIgnoreDel(false);
  CheckAll("end");
  // The file closes and opens again with the same trees.
  CloseIndex();
  OpenIndex();
  CheckAll("end");
}

}  // namespace
}  // namespace qd::index_test
