// qdbf's pieces in-process: the command-line parser, text conversion and
// quoting, and Run's exit statuses for usage.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "arguments.h"
#include "console_text.h"
#include "qdbf.h"
#include "table_access.h"

namespace qd::qdbf {
namespace {

TEST(QdbfArguments, OptionsAnywhereWithValuesInBothForms) {
  const CommandLine line =
      ParseCommandLine({"dump", "--json", "T", "--for=AMOUNT > 1", "--fields", "A,B", "--codepage", "850"});
  EXPECT_EQ(line.command, "dump");
  EXPECT_EQ(line.positional, std::vector<std::string>{"T"});
  EXPECT_TRUE(line.Has("--json"));
  EXPECT_EQ(line.Value("--for"), "AMOUNT > 1");
  EXPECT_EQ(line.Value("--fields"), "A,B");
  EXPECT_EQ(line.Value("--codepage"), "850");
  // "--" ends the options, so an expression may start with dashes.
  EXPECT_EQ(ParseCommandLine({"eval", "T", "--", "--X"}).positional[1], "--X");
  EXPECT_EQ(ParseCommandLine({"eval", "T", "-AMOUNT"}).positional[1], "-AMOUNT");
}

TEST(QdbfArguments, WrongUsageNamesTheCommand) {
  auto refused = [](std::vector<std::string> args) {
    try {
      ParseCommandLine(args);
    } catch (const UsageError& error) {
      return error.Command();
    }
    return std::string("accepted");
  };
  EXPECT_EQ(refused({}), "");
  EXPECT_EQ(refused({"nothing"}), "");
  EXPECT_EQ(refused({"dump"}), "dump");
  EXPECT_EQ(refused({"dump", "T", "--order"}), "dump");
  EXPECT_EQ(refused({"dump", "T", "--csv=1"}), "dump");
  EXPECT_EQ(refused({"dump", "T", "--for", "A", "--for", "B"}), "dump");
  EXPECT_EQ(refused({"find", "T", "TAG"}), "find");
  EXPECT_EQ(refused({"pack", "T", "U"}), "pack");
  EXPECT_EQ(refused({"check", "T", "--deleted"}), "check");
  EXPECT_NE(UsageLine("index").find("[--descending] [--unique]"), std::string::npos);
}

TEST(QdbfRun, UsageExitsTwoWithTheUsageLine) {
  std::ostringstream out, err;
  EXPECT_EQ(qdbf::Run({"info"}, out, err, false), kExitUsage);
  EXPECT_NE(err.str().find("usage: qdbf info TABLE"), std::string::npos);
  std::ostringstream out2, err2;
  EXPECT_EQ(qdbf::Run({"--help"}, out2, err2, false), kExitOk);
  EXPECT_NE(out2.str().find("qdbf check TABLE"), std::string::npos);
}

TEST(QdbfText, CodePagesRoundTripAndDriverBytes) {
  EXPECT_EQ(ToUtf8("\x89\x81", 437), "\xC3\xAB\xC3\xBC");  // ë ü
  EXPECT_EQ(ToUtf8("\xEB\xFC", 1252), "\xC3\xAB\xC3\xBC");
  EXPECT_EQ(ToUtf8("\x80", 1252), "\xE2\x82\xAC");  // €
  EXPECT_EQ(FromUtf8("\xC3\xAB\xC3\xBC", 437), "\x89\x81");
  int unmapped = 0;
  EXPECT_EQ(FromUtf8("a\xE2\x82\xAC" "b", 437, &unmapped), "a?b");
  EXPECT_EQ(unmapped, 1);
  unmapped = 0;
  EXPECT_EQ(FromUtf8("\xC3", 1252, &unmapped), "?");  // cut sequence
  EXPECT_EQ(CodePageOfDriver(0x01), 437);
  EXPECT_EQ(CodePageOfDriver(0x57), 1252);
  EXPECT_EQ(CodePageOfDriver(0xC9), 1251);
  EXPECT_EQ(TableCodePage(0x00), 437);
  EXPECT_EQ(TableCodePage(0xEE), 437);
  for (int page : {437, 850, 866, 1250, 1251, 1252}) {
    std::string all;
    for (int b = 0x20; b < 256; ++b) all += static_cast<char>(b);
    const std::string back = FromUtf8(ToUtf8(all, page), page);
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (back[i] != all[i]) {
        EXPECT_EQ(back[i], '?') << page << " byte " << i;  // only undefined bytes differ
      }
    }
  }
}

TEST(QdbfText, CsvAndJsonQuoting) {
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
  EXPECT_EQ(DisplayWidth("Z\xC3\xAB"), 2u);
}

TEST(QdbfValues, NumberAndDateTexts) {
  std::string json;
  EXPECT_TRUE(ParseNumberText("   -0.25", &json));
  EXPECT_EQ(json, "-0.25");
  EXPECT_TRUE(ParseNumberText("  .5", &json));
  EXPECT_EQ(json, "0.5");
  EXPECT_TRUE(ParseNumberText("007", &json));
  EXPECT_EQ(json, "7");
  EXPECT_TRUE(ParseNumberText("5.", &json));
  EXPECT_EQ(json, "5");
  for (const char* bad : {"", "   ", "-", ".", "1e5", "1.2.3", "**", "1 2", "nan"})
    EXPECT_FALSE(ParseNumberText(bad, nullptr)) << bad;
  EXPECT_TRUE(ValidStoredDate("20240229"));
  EXPECT_FALSE(ValidStoredDate("20230229"));
  EXPECT_FALSE(ValidStoredDate("20241301"));
  EXPECT_FALSE(ValidStoredDate("2024022"));
  EXPECT_FALSE(ValidStoredDate("00000000"));
}

}  // namespace
}  // namespace qd::qdbf
