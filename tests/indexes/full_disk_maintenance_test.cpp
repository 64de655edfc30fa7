// Key upkeep on a full disk: a record change whose new index nodes would
// not fit is refused whole, before the record is written, so the table and
// its tags never disagree.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "index_model.h"
#include "index_test_support.h"
#include "support/small_disk.h"
#include "indexes/index_build.h"
#include "table/record_updates.h"

#ifdef __linux__

namespace qd::index_test {
namespace {

using test_support::SmallDisk;

class FullDiskMaintenanceTest : public IndexTest {};

// Rising names: every new key goes to the last leaf, which keeps splitting.
std::string Name(int i) { return "N" + std::to_string(100000 + i); }

void SetName(const std::string& name) {
  std::uint8_t* p = FieldAddress(1);
  p[0] = static_cast<std::uint8_t>(name.size());
  std::memcpy(p + 1, name.data(), name.size());
}

TEST_F(FullDiskMaintenanceTest, AChangeWithoutRoomForItsKeysIsRefusedBeforeTheRecordIsWritten) {
  const std::string dir = Path("small");
  const SmallDisk disk(dir, "256k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const std::string table = dir + "/KEYS.DBF";
  ASSERT_TRUE(CreateDBF(table, {{"NAME", 'C', 10, 0}})) << ErrorText;
  Use(table + " EXCLUSIVE", nullptr, 0);
  ASSERT_EQ(ErrorCode, 0) << ErrorText;
  ASSERT_TRUE(MakeAndOpenIndex({{"NAMES", "NAME", ""}, {"DESC", "NAME", "", true}})) << ErrorText;
  for (int i = 0; i < 300; ++i) {
    ClearRecord();
    SetName(Name(i));
    Append();
    ASSERT_EQ(ErrorCode, 0) << ErrorText;
  }
  disk.Fill();
  // New keys at every step until the disk refuses one: each change is either
  // made whole or refused with the disk-full code and the record unchanged.
  int refused = 0;
  for (int i = 300; i < 5000 && refused < 3; ++i) {
    const std::int32_t record = 1 + i % 300;
    Go(record);
    const std::string before = Peek(1, record);
    ErrorCode = 0;
    SetName(Name(i));
    try {
      Replace();
    } catch (const std::exception&) {
    }
    if (ErrorCode != 0) {
      ++refused;
      EXPECT_EQ(ErrorCode, 112) << ErrorText;
      EXPECT_EQ(Peek(1, record), before);
    }
  }
  EXPECT_GT(refused, 0);
  ErrorCode = 0;
  Close();
  ASSERT_EQ(ErrorCode, 0) << ErrorText;

  // Both tags hold exactly the records' keys.
  const Bytes dbf = table_test::ReadAll(table);
  const Bytes mdx = table_test::ReadAll(dir + "/KEYS.MDX");
  const std::size_t header = dbf[8] | (dbf[9] << 8);
  for (int tag = 1; tag <= 2; ++tag) {
    const index_model::Walked walked = index_model::WalkTag(mdx, tag);
    ASSERT_EQ(walked.problem, "");
    std::multiset<std::pair<std::uint32_t, std::string>> expected, found;
    for (std::uint32_t r = 1; r <= 300; ++r) {
      expected.emplace(r, std::string(reinterpret_cast<const char*>(dbf.data() + header + (r - 1) * 11 + 1), 10));
    }
    for (const auto& e : walked.entries) found.emplace(e.record, e.key.text);
    EXPECT_EQ(found, expected) << "tag " << tag;
  }
}

}  // namespace
}  // namespace qd::index_test

#endif
