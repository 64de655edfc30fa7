// ANSI <-> OEM conversion for the three code page pairs, best-fit
// replacements, ANSI case mapping, and the Unicode characters of the ANSI
// pages that the console host prints.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/code_pages.h"
#include "platform/platform.h"

namespace qd::platform {
namespace {

std::string ToOem(std::string text) {
  AnsiToOem(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  return text;
}
std::string ToAnsi(std::string text) {
  OemToAnsi(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  return text;
}
std::string Upper(std::string text) {
  AnsiUpper(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  return text;
}
std::string Lower(std::string text) {
  AnsiLower(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  return text;
}

class CodePagesTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCodePages(1252, 437); }
};

// Windows converts with the system's own pair only; elsewhere every pair is known.
#define USE_PAGES_OR_SKIP(ansi, oem) \
  if (!SetCodePages(ansi, oem)) GTEST_SKIP() << "pair not available here"


TEST_F(CodePagesTest, AsciiPassesUnchangedInEveryPair) {
  std::string ascii;
  for (int c = 0; c < 128; ++c) ascii += static_cast<char>(c);
  for (auto [ansi, oem] : {std::pair{1252, 437}, std::pair{1252, 850}, std::pair{1251, 866}}) {
    if (!SetCodePages(ansi, oem)) continue;
    EXPECT_EQ(ToOem(ascii), ascii) << ansi;
    EXPECT_EQ(ToAnsi(ascii), ascii) << oem;
  }
}

TEST_F(CodePagesTest, Windows1252AndCodePage437) {
  USE_PAGES_OR_SKIP(1252, 437);
  // Letters in both pages: Ä Ö Ü ä ö ü ß é è ç ñ Å æ £ ¿ ½ °
  const std::string ansi = "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\xE9\xE8\xE7\xF1\xC5\xE6\xA3\xBF\xBD\xB0";
  const std::string oem = "\x8E\x99\x9A\x84\x94\x81\xE1\x82\x8A\x87\xA4\x8F\x91\x9C\xA8\xAB\xF8";
  EXPECT_EQ(ToOem(ansi), oem);
  EXPECT_EQ(ToAnsi(oem), ansi);
  // Best fit for what 437 lacks: À Õ ý Š Œ “ ” – € Ø ×
  EXPECT_EQ(ToOem("\xC0\xD5\xFD\x8A\x8C\x93\x94\x96\x80\xD8\xD7"), "AOySO\"\"-?Ox");
  // § ¶ • go to the places where DOS shows them.
  EXPECT_EQ(ToOem("\xA7\xB6\x95"), "\x15\x14\x07");
  // Greek letters become their Latin look-alikes, horizontal lines '-'.
  EXPECT_EQ(ToAnsi("\xE0\xE3\xC4\xCD"), "ap--");
#ifndef _WIN32
  // Here corners and crossings become '+', vertical lines '|', blocks '?'
  // (Windows has its own choices for these).
  EXPECT_EQ(ToAnsi("\xDA\xBF\xB3\xC0\xBA\xC5\xDB"), "++|+|+?");
#endif
}

TEST_F(CodePagesTest, Windows1252AndCodePage850) {
  USE_PAGES_OR_SKIP(1252, 850);
  EXPECT_EQ(OemCodePage(), 850);
  // Ã ã Ø ø © Ê Õ Þ: missing from 437 but present in 850
  const std::string ansi = "\xC3\xE3\xD8\xF8\xA9\xCA\xD5\xDE";
  const std::string oem = "\xC7\xC6\x9D\x9B\xB8\xD2\xE5\xE8";
  EXPECT_EQ(ToOem(ansi), oem);
  EXPECT_EQ(ToAnsi(oem), ansi);
  // Every accented letter of 1252's upper half survives the round trip.
  for (int c = 0xC0; c <= 0xFF; ++c) {
    const std::string letter(1, static_cast<char>(c));
    EXPECT_EQ(ToAnsi(ToOem(letter)), letter) << c;
  }
  EXPECT_EQ(ToOem("\x8A\x9A\x80"), "Ss?");  // Š š €
  EXPECT_EQ(ToAnsi("\xD5"), "i");           // dotless i
}

TEST_F(CodePagesTest, Windows1251AndCodePage866) {
  USE_PAGES_OR_SKIP(1251, 866);
  EXPECT_EQ(AnsiCodePage(), 1251);
  // А Я а п р я Ё ё Ў є
  const std::string ansi = "\xC0\xDF\xE0\xEF\xF0\xFF\xA8\xB8\xA1\xBA";
  const std::string oem = "\x80\x9F\xA0\xAF\xE0\xEF\xF0\xF1\xF6\xF3";
  EXPECT_EQ(ToOem(ansi), oem);
  EXPECT_EQ(ToAnsi(oem), ansi);
  // Ѓ → Г, Ґ → Г, І → I, ј → j, « → <, Ђ → ?
  EXPECT_EQ(ToOem("\x81\xA5\xB2\xBC\xAB\x80"), "\x83\x83Ij<?");
  EXPECT_EQ(ToAnsi("\xC4\xBA"), "-|");
  EXPECT_EQ(Upper("\xE0\xE1\xFF\xB8\xA2"), "\xC0\xC1\xDF\xA8\xA1");  // а б я ё ў
  EXPECT_EQ(Lower("\xC0\xC1\xDF\xA8\xA1"), "\xE0\xE1\xFF\xB8\xA2");
}

TEST_F(CodePagesTest, UpperAndLowerFollowTheAnsiPage) {
  USE_PAGES_OR_SKIP(1252, 437);
  // à é ÿ š œ ä ö ü a z → À É Ÿ Š Œ Ä Ö Ü A Z
  EXPECT_EQ(Upper("\xE0\xE9\xFF\x9A\x9C\xE4\xF6\xFC" "az"), "\xC0\xC9\x9F\x8A\x8C\xC4\xD6\xDC" "AZ");
  EXPECT_EQ(Lower("\xC0\xC9\x9F\x8A\x8C\xC4\xD6\xDC" "AZ"), "\xE0\xE9\xFF\x9A\x9C\xE4\xF6\xFC" "az");
  // ß and µ have no single upper-case letter; digits, signs and ª º stay.
  const std::string fixed = "\xDF\xB5\xAA\xBA" "09 ,.-\xD7\xF7";
  EXPECT_EQ(Upper(fixed), fixed);
  EXPECT_EQ(Lower(fixed), fixed);
}

// What the console host shows of each ANSI byte: the Windows character,
// an unassigned byte as the control character of its number.
TEST_F(CodePagesTest, UnicodeCharactersOfTheAnsiPages) {
  const code_pages::UnicodeMap* western = code_pages::FindUnicodeMap(1252);
  const code_pages::UnicodeMap* cyrillic = code_pages::FindUnicodeMap(1251);
  ASSERT_NE(western, nullptr);
  ASSERT_NE(cyrillic, nullptr);
  EXPECT_EQ(code_pages::FindUnicodeMap(437), nullptr);
  for (int c = 0; c < 128; ++c) EXPECT_EQ(western->characters[c], c);
  EXPECT_EQ(western->characters[0xEB], 0x00EB);  // e with diaeresis
  EXPECT_EQ(western->characters[0x80], 0x20AC);  // euro sign
  EXPECT_EQ(western->characters[0x81], 0x0081);  // unassigned
  EXPECT_EQ(western->characters[0x9F], 0x0178);  // Y with diaeresis
  EXPECT_EQ(cyrillic->characters[0xC0], 0x0410);  // A
  EXPECT_EQ(cyrillic->characters[0xFF], 0x044F);  // ya
}

TEST_F(CodePagesTest, UnknownPairsAreRefused) {
  const int ansi = AnsiCodePage(), oem = OemCodePage();
  EXPECT_FALSE(SetCodePages(1252, 866));
  EXPECT_FALSE(SetCodePages(1250, 437));
  EXPECT_EQ(AnsiCodePage(), ansi);
  EXPECT_EQ(OemCodePage(), oem);
}

}  // namespace
}  // namespace qd::platform
