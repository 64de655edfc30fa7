// Clock services, the language identifier taken from the locale, and the
// host seam.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace qd::platform {
namespace {

TEST(ClockTest, TicksAdvanceBySleepsAndDateIsToday) {
  // Only the direction is checked: tick resolution differs between systems.
  const std::uint32_t before = TickCount();
  SleepMs(60);
  const std::uint32_t elapsed = TickCount() - before;  // wrap-safe
  EXPECT_GT(elapsed, 0u);
  EXPECT_LT(elapsed, 0x80000000u);

  int year = 0, month = 0, day = 0;
  LocalDate(year, month, day);
  const std::time_t now = std::time(nullptr);
  const std::tm* parts = std::localtime(&now);
  // Equal unless midnight passed between the two reads.
  EXPECT_EQ(year * 10000 + month * 100 + day,
            (parts->tm_year + 1900) * 10000 + (parts->tm_mon + 1) * 100 + parts->tm_mday);
}

#ifndef _WIN32
// Sets the three locale variables for one test and restores them after.
class LocaleEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      const char* value = std::getenv(kNames[i]);
      if (value != nullptr) saved_[i] = value;
    }
  }
  void TearDown() override {
    for (int i = 0; i < 3; ++i) {
      if (saved_[i]) {
        ::setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        ::unsetenv(kNames[i]);
      }
    }
  }
  std::uint16_t LangIdFor(const char* lc_all, const char* lc_time, const char* lang) {
    const char* values[3] = {lc_all, lc_time, lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i] != nullptr) {
        ::setenv(kNames[i], values[i], 1);
      } else {
        ::unsetenv(kNames[i]);
      }
    }
    return UserDefaultLangID();
  }
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_TIME", "LANG"};
  std::optional<std::string> saved_[3];
};

TEST_F(LocaleEnvironment, LanguageIdFollowsTheLocaleVariables) {
  EXPECT_EQ(LangIdFor(nullptr, nullptr, nullptr), 0x0409);
  EXPECT_EQ(LangIdFor("C", nullptr, "de_DE.UTF-8"), 0x0409);  // LC_ALL wins
  EXPECT_EQ(LangIdFor("", "fr_CA.UTF-8", "de_DE"), 0x0C0C);   // empty is unset
  for (const auto& [lang, id] : {std::pair{"de_AT.UTF-8@euro", 0x0C07}, {"en_GB.UTF-8", 0x0809},
                                 {"es_CO.UTF-8", 0x0C0A}, {"it_IT", 0x0410}, {"nl_BE", 0x0813},
                                 {"ru_RU.KOI8-R", 0x0419}, {"fr", 0x040C}, {"xx_YY", 0x0409}}) {
    EXPECT_EQ(LangIdFor(nullptr, nullptr, lang), id) << lang;
  }
}
#endif

class RecordingHost : public Host {
 public:
  int ShowMessageBox(const std::string& text, const std::string& caption, int style) override {
    last = caption + "|" + text + "|" + std::to_string(style);
    return kIdOk;
  }
  std::string last;
};

TEST(HostTest, InstalledHostReceivesBoxesUntilRemoved) {
  Host& original = CurrentHost();
  RecordingHost recording;
  SetHost(&recording);
  EXPECT_EQ(&CurrentHost(), &recording);
  EXPECT_EQ(CurrentHost().ShowMessageBox("text", "Program halted.", kMbIconStop), kIdOk);
  EXPECT_EQ(recording.last, "Program halted.|text|16");
  SetHost(nullptr);
  EXPECT_EQ(&CurrentHost(), &original);
#ifndef _WIN32
  // The console host answers at once (the Windows host would open a real box
  // and wait for a click).
  EXPECT_EQ(CurrentHost().ShowMessageBox("console text", "Caption", kMbOk), kIdOk);
#endif
}

}  // namespace
}  // namespace qd::platform
