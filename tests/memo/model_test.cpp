// Model tests: thousands of random writes, longer and shorter rewrites and
// clears of memo values with a fixed seed, per memo variant. Afterwards every
// record's value equals the model, and the layout checker (memo_checker.h)
// finds the files consistent.
#include <algorithm>
#include <map>
#include <random>
#include <sstream>

#include "memo_checker.h"
#include "memo_test_support.h"

namespace qd::memo_test {
namespace {

class MemoModelTest : public MemoTest, public ::testing::WithParamInterface<Variant> {
 protected:
  std::string RandomValue(std::mt19937& random) {
    const int kind = static_cast<int>(random() % 100);
    std::size_t size = 0;
    if (kind < 8) return std::string();
    if (kind < 55) size = 1 + random() % 200;
    else if (kind < 85) size = 200 + random() % 1300;
    else if (kind < 97) size = 1500 + random() % 3500;
    else size = 5000 + random() % 15000;
    std::string value(size, ' ');
    const bool binary = random() % 10 == 0;
    for (char& c : value) c = static_cast<char>(binary ? random() % 256 : 'a' + random() % 26);
    if (!binary && size > 10) value.replace(size / 2, 2, "\r\n");
    return value;
  }

  void Check(const Variant& v, const std::vector<std::string>& model, const std::string& when) {
    Close();
    MemoFileChecker checker(table_test::ReadAll(Path("model.DBF")), MemoBytes("model", v.version), v);
    checker.CheckValues(model);
    checker.CheckHeader();
    std::ostringstream failures;
    for (const std::string& failure : checker.Failures()) failures << "\n  " << failure;
    EXPECT_TRUE(checker.Failures().empty()) << when << failures.str();
    Open("model", !v.shared);
  }
};

TEST_P(MemoModelTest, RandomWritesRewritesAndClearsKeepEveryValue) {
  const Variant v = GetParam();
  MakeMemoTable("model", v.version, v.block_size);
  Open("model", !v.shared);
  std::mt19937 random(20240611u + v.version);
  constexpr int kRecords = 60;
  constexpr int kOperations = 2000;
  std::vector<std::string> model;
  for (int r = 0; r < kRecords; ++r) {
    model.push_back(RandomValue(random));
    AppendValue(model.back());
  }
  for (int op = 1; op <= kOperations; ++op) {
    const std::int32_t record = static_cast<std::int32_t>(1 + random() % kRecords);
    std::string& value = model[static_cast<std::size_t>(record - 1)];
    switch (random() % 4) {
      case 0:  // a little longer
        value += std::string(1 + random() % 700, 'L');
        break;
      case 1:  // shorter
        value.resize(value.size() / 3);
        break;
      case 2:
        value = random() % 5 == 0 ? std::string() : RandomValue(random);
        break;
      default:
        value = RandomValue(random);
    }
    SetValue(record, value);
    ASSERT_EQ(ErrorCode, 0) << ErrorText << " at operation " << op;
    if (op % 100 == 0) Check(v, model, "after operation " + std::to_string(op));
  }
  for (int r = 1; r <= kRecords; ++r) EXPECT_EQ(ValueOf(r), model[static_cast<std::size_t>(r - 1)]) << r;
  Check(v, model, "at the end");
}

INSTANTIATE_TEST_SUITE_P(Variants, MemoModelTest,
                         ::testing::Values(Variant{0x83, 512, false}, Variant{0x8B, 512, true},
                                           Variant{0x8B, 64, false}, Variant{0x8C, 1024, false},
                                           Variant{0xF5, 64, true}),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                           std::ostringstream name;
                           name << "v" << std::hex << int(info.param.version) << std::dec << "b"
                                << info.param.block_size << (info.param.shared ? "shared" : "");
                           return name.str();
                         });

}  // namespace
}  // namespace qd::memo_test
