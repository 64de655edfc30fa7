// Keys: expression normalisation with both settings (and the blanks that
// must stay), the numeric key encoding with its examples and a sweep of
// random values, the comparisons and their descending forms, the length
// rules, and keys made from records of a table.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <random>

#include "foundation/dates.h"
#include "index_test_support.h"

namespace qd::index_test {
namespace {

using Key = std::array<std::uint8_t, 12>;

std::string Normalised(std::string text, bool keep_blanks) {
  NormaliseExpression(text, keep_blanks);
  return text;
}

Key Numeric(double value, int decimals) {
  Key key{};
  EncodeNumericKey(value, decimals, key.data());
  return key;
}

Bytes AsBytes(const Key& key) { return Bytes(key.begin(), key.end()); }

TEST(NormaliseTest, WithoutBlanks) {
  EXPECT_EQ(Normalised("upper( name ) + 'x y'", false), "UPPER(NAME)+\"x y\"");
  EXPECT_EQ(Normalised("dtos( born )\t+ name", false), "DTOS(BORN)+NAME");
  // Literals keep their case and blanks; one left open runs to the end.
  EXPECT_EQ(Normalised("name = \"Ab  c\"", false), "NAME=\"Ab  c\"");
  EXPECT_EQ(Normalised("name = 'abc", false), "NAME=\"abc");
  // A single-quoted literal holding a double quote keeps its own quotes:
  // with double quotes it would end early.
  EXPECT_EQ(Normalised("name = 'say \"hi\"'", false), "NAME='say \"hi\"'");
  EXPECT_EQ(Normalised("\"it's\"", false), "\"it's\"");
}

TEST(NormaliseTest, BlanksThatKeepNamesApart) {
  // Dropped, these blanks would join a dotted operator to a name, or two
  // names or numbers into one.
  EXPECT_EQ(Normalised(".NOT. DELETED()", false), ".NOT. DELETED()");
  EXPECT_EQ(Normalised("a .and. b", false), "A .AND. B");
  EXPECT_EQ(Normalised("a\t.or.\t\tb", false), "A .OR. B");
  EXPECT_EQ(Normalised("x = 1 .or. y", false), "X=1 .OR. Y");
  EXPECT_EQ(Normalised("deleted() .and. flag", false), "DELETED().AND. FLAG");
  EXPECT_EQ(Normalised("1 2", false), "1 2");
  EXPECT_EQ(Normalised("  name  ", false), "NAME");
}

TEST(NormaliseTest, WithBlanks) {
  EXPECT_EQ(Normalised("upper( name ) + 'x y'", true), "UPPER( NAME ) +'x y'");
  EXPECT_EQ(Normalised("a  =  b ", true), "A= B");
  EXPECT_EQ(Normalised("a\t\t.and. \"q\"", true), "A .AND.\"q\"");
}

TEST(NumericKeyTest, ExamplesAndEdges) {
  EXPECT_EQ(AsBytes(Numeric(123.45, 2)), HexKey("37 15 12 34 50 00 00 00 00 00 00 00"));
  EXPECT_EQ(AsBytes(Numeric(-5, 0)), HexKey("35 A9 50 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(AsBytes(Numeric(0, 0)), HexKey("34 01 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(AsBytes(Numeric(100, 0)), HexKey("37 29 10 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(AsBytes(Numeric(0.05, 2)), HexKey("33 05 50 00 00 00 00 00 00 00 00 00"));
  // A negative value that rounds to zero is zero, without its sign.
  EXPECT_EQ(AsBytes(Numeric(-0.001, 2)), HexKey("34 01 00 00 00 00 00 00 00 00 00 00"));
  // Trailing decimal zeros within the decimals count as digits.
  EXPECT_EQ(AsBytes(Numeric(1.5, 2)), HexKey("35 0D 15 00 00 00 00 00 00 00 00 00"));
  // Every integer digit counts for the exponent, also past the 20 stored.
  EXPECT_EQ(AsBytes(Numeric(1e19, 0)), HexKey("48 29 10 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(AsBytes(Numeric(1e20, 0)), HexKey("49 29 10 00 00 00 00 00 00 00 00 00"));
  EXPECT_LT(CompareNumericKeys(Numeric(1e19, 0).data(), Numeric(1e20, 0).data(), 12), 0);
  EXPECT_GT(CompareNumericKeys(Numeric(-1e19, 0).data(), Numeric(-1e20, 0).data(), 12), 0);
  EXPECT_LT(CompareNumericKeys(Numeric(5e22, 0).data(), Numeric(2e23, 0).data(), 12), 0);
  // The text form: blanks and a plus sign before the digits are skipped.
  Key key{};
  EncodeNumericText("  +007.50", 2, key.data());
  EXPECT_EQ(AsBytes(key), HexKey("35 0D 75 00 00 00 00 00 00 00 00 00"));
  EncodeNumericText("abc", 0, key.data());
  EXPECT_EQ(AsBytes(key), HexKey("34 01 00 00 00 00 00 00 00 00 00 00"));
}

// "Equal values" at the decimals a tag keeps: their fixed-point texts match.
std::string Fixed(double value, int decimals) {
  char buffer[400];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals).ptr;
  std::string text(buffer, end);
  if (text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);
  return text;
}

TEST(NumericKeyTest, RandomValuesSortInTheOrderOfTheirValues) {
  std::mt19937_64 random(20261206);
  std::uniform_real_distribution<double> exponent(-10, 25);
  for (const int decimals : {0, 2, 5, 10}) {
    std::vector<double> values;
    for (int i = 0; i < 25000; ++i) {
      double value = std::pow(10.0, exponent(random));
      if (random() % 2 != 0) value = -value;
      values.push_back(value);
    }
    for (double boundary : {0.0, 1.0, 1e19, 1e20, 1e21, 99999999999999999999.0, 0.5, 5e-11}) {
      values.push_back(boundary);
      values.push_back(-boundary);
    }
    std::sort(values.begin(), values.end());
    std::vector<Key> keys;
    for (double value : values) keys.push_back(Numeric(value, decimals));
    for (std::size_t i = 0; i + 1 < values.size(); ++i) {
      const int order = CompareNumericKeys(keys[i].data(), keys[i + 1].data(), 12);
      const bool same = Fixed(values[i], decimals) == Fixed(values[i + 1], decimals);
      if (same) {
        ASSERT_EQ(order, 0) << values[i] << " " << values[i + 1] << " with " << decimals;
      } else {
        ASSERT_LT(order, 0) << values[i] << " " << values[i + 1] << " with " << decimals;
        ASSERT_GT(CompareNumericKeysDescending(keys[i].data(), keys[i + 1].data(), 12), 0);
      }
    }
    // Sorting by the keys alone gives the values' order back.
    std::vector<std::size_t> order(values.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = order.size() - 1 - i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return CompareNumericKeys(keys[a].data(), keys[b].data(), 12) < 0;
    });
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
      const double a = values[order[i]], b = values[order[i + 1]];
      ASSERT_TRUE(a <= b || Fixed(a, decimals) == Fixed(b, decimals)) << a << " " << b << " with " << decimals;
    }
  }
}

TEST(CompareTest, EveryTypeAndDirection) {
  // -5 before 0 before 0.05 before 100.
  const Key minus5 = Numeric(-5, 0), zero = Numeric(0, 0), small = Numeric(0.05, 2), hundred = Numeric(100, 0);
  EXPECT_LT(CompareNumericKeys(minus5.data(), zero.data(), 12), 0);
  EXPECT_LT(CompareNumericKeys(zero.data(), small.data(), 12), 0);
  EXPECT_LT(CompareNumericKeys(small.data(), hundred.data(), 12), 0);
  EXPECT_GT(CompareNumericKeys(zero.data(), minus5.data(), 12), 0);
  EXPECT_LT(CompareNumericKeys(Numeric(-100, 0).data(), minus5.data(), 12), 0);
  // A digit count beyond 20 from a damaged file reads no further than the key.
  Key odd = hundred;
  odd[1] = 0xFD;
  EXPECT_NE(CompareNumericKeys(odd.data(), hundred.data(), 12), 2);

  const auto a = CharKey("A"), b = CharKey("B");
  EXPECT_LT(CompareCharacterKeys(a.data(), b.data(), 1), 0);
  EXPECT_LT(CompareCharacterKeysDescending(b.data(), a.data(), 1), 0);  // B before A
  EXPECT_EQ(CompareCharacterKeysDescending(a.data(), a.data(), 1), 0);
  EXPECT_EQ(CompareCharacterKeys(CharKey("AC").data(), CharKey("AA").data(), 2), 2);
  EXPECT_GT(CompareCharacterKeys(CharKey("\xe9").data(), CharKey("z").data(), 1), 0);  // unsigned bytes
  EXPECT_EQ(CompareCharacterKeys(CharKey("AX").data(), CharKey("AY").data(), 1), 0);   // over the key length

  const Bytes early = DateKey(JulianDate(1999, 3, 15)), late = DateKey(JulianDate(2001, 1, 1));
  const Bytes blank = DateKey(BlankDateValue);
  EXPECT_EQ(CompareDateKeys(early.data(), late.data(), 8), -1);
  EXPECT_EQ(CompareDateKeys(late.data(), early.data(), 8), 1);
  EXPECT_EQ(CompareDateKeys(blank.data(), late.data(), 8), 1);  // an empty date sorts last
  EXPECT_EQ(CompareDateKeysDescending(early.data(), late.data(), 8), 1);
  EXPECT_EQ(CompareDateKeys(early.data(), early.data(), 8), 0);

  EXPECT_EQ(ChooseComparison('C', false), &CompareCharacterKeys);
  EXPECT_EQ(ChooseComparison('N', false), &CompareNumericKeys);
  EXPECT_EQ(ChooseComparison('F', true), &CompareNumericKeysDescending);
  EXPECT_EQ(ChooseComparison('D', true), &CompareDateKeysDescending);
  EXPECT_EQ(ChooseComparison('L', false), nullptr);
}

TEST(LengthRuleTest, ItemLengthsAndCapacities) {
  EXPECT_EQ(ItemLength(10), 16);
  EXPECT_EQ(NodeCapacity(16), 63);
  EXPECT_EQ(ItemLength(8), 12);
  EXPECT_EQ(NodeCapacity(12), 84);
  EXPECT_EQ(ItemLength(12), 16);
  EXPECT_EQ(ItemLength(1), 8);
  EXPECT_EQ(NodeCapacity(8), 126);
  EXPECT_EQ(ItemLength(100), 104);
  EXPECT_EQ(NodeCapacity(104), 9);
  EXPECT_EQ(SecondaryKeyType('D'), 1);
  EXPECT_EQ(SecondaryKeyType('C'), 0);
}

class KeyMakerTest : public IndexTest {
 protected:
  // The people index with a date tag, a FOR tag and a tag whose key is
  // sometimes shorter than its length.
  void OpenPeopleIndex() {
    MdxImage image = PeopleIndex();
    TagHeader born;
    born.type = 'D';
    born.key_length = 8;
    born.key = "BORN";
    image.LeafTag(3, "BORN", born, {});
    TagHeader flagged;
    flagged.key = "IIF(FLAG, 'ab', NAME)";
    flagged.for_text = "FLAG";
    image.LeafTag(4, "FLAGGED", flagged, {});
    WriteMdx(image);
    OpenIndex();
  }
  static std::string Text(const std::uint8_t* key, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(key), length);
  }
};

TEST_F(KeyMakerTest, KeysOfEveryTypeFromTheRecord) {
  OpenPeople();
  OpenPeopleIndex();
  Go(1);
  EXPECT_EQ(Text(MakeKey(1), 11), std::string("Smith     \0", 11));
  EXPECT_EQ(Bytes(MakeKey(2), MakeKey(2) + 12), HexKey("36 11 12 50 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(Bytes(MakeKey(3), MakeKey(3) + 8), DateKey(JulianDate(1999, 3, 15)));
  EXPECT_EQ(Text(MakeKey(4), 10), "ab        ");  // padded to the key length
  EXPECT_EQ(MakeKey(5), nullptr);
  EXPECT_EQ(KeyTagNumber, 1);
  EXPECT_EQ(KeyText(1), "Smith     ");
  EXPECT_EQ(KeyText(2), "   12.50");
  EXPECT_EQ(KeyText(3), "03/15/99");
  EXPECT_EQ(IndexHooks.KeyTextFunction(2)(), "   12.50");
  EXPECT_FALSE(IndexHooks.KeyTextFunction(9));
  EXPECT_EQ(IndexHooks.CurrentKeyTextFunction()(), "Smith     ");
  CurrentIndexArea()->natural_order = true;
  EXPECT_EQ(IndexHooks.CurrentKeyTextFunction()(), "Rec:         1");
  CurrentIndexArea()->natural_order = false;
  EXPECT_TRUE(ForTest(TagInSlot(4)->for_expr));
  EXPECT_TRUE(ForTest(nullptr));

  Go(2);
  EXPECT_EQ(Bytes(MakeKey(2), MakeKey(2) + 12), HexKey("38 A9 15 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(KeyText(2), "-1500.00");
  EXPECT_EQ(Text(MakeKey(4), 10), "Jones     ");
  EXPECT_FALSE(ForTest(TagInSlot(4)->for_expr));
  Go(3);
  EXPECT_EQ(Bytes(MakeKey(3), MakeKey(3) + 8), DateKey(BlankDateValue));
  EXPECT_EQ(KeyText(3), "  /  /  ");
  EXPECT_EQ(Bytes(MakeKey(2), MakeKey(2) + 12), HexKey("34 01 00 00 00 00 00 00 00 00 00 00"));

  // The tag-file maker follows the key tag number.
  KeyTagNumber = 3;
  EXPECT_EQ(Bytes(TagFileKeyMaker(), TagFileKeyMaker() + 8), DateKey(BlankDateValue));
  KeyTagNumber = 1;
  EXPECT_EQ(Text(TagFileKeyMaker(), 6), std::string("Adams ", 6));
}

TEST_F(KeyMakerTest, CharacterKeysOfOemTablesAreOem) {
  AnsiTables = false;  // tables are then kept in the OEM code page
  OpenPeople(false, {Person(false, "Ren\x82", "1.00", "20000101", 'T')});
  OpenPeopleIndex();
  Go(1);  // the index names records the table lacks: opening left it at its end
  EXPECT_EQ(Text(MakeKey(1), 10), "Ren\x82      ");  // as stored, not as the record reads
  EXPECT_EQ(KeyText(1), "Ren\x82      ");
}

TEST_F(KeyMakerTest, TheChecksOfANewTag) {
  OpenPeople();
  Go(1);
  EXPECT_EQ(KeyTypeForResult('C'), 'C');
  EXPECT_EQ(KeyTypeForResult('F'), 'F');
  EXPECT_EQ(KeyTypeForResult('L'), 0);
  EXPECT_EQ(ErrorCode, 254);
  EXPECT_EQ(TakeErrorText(), "Wrong parser return type [AddIndexTag()]");
  ErrorCode = 0;
  auto length = [](const std::string& text) {
    IndexExpr = AssignExpr(text);
    const int result = NewTagKeyLength(IndexExpr->result_type, MakerForType(IndexExpr->result_type));
    FreeExpr(IndexExpr);
    return result;
  };
  EXPECT_EQ(length("NAME"), 10);
  EXPECT_EQ(length("BORN"), 8);
  EXPECT_EQ(length("AMOUNT * 2"), 12);
  EXPECT_EQ(length("REPLICATE('x', 100)"), 100);
  EXPECT_EQ(length("TRIM(SUBSTR(NAME, 9, 2))"), 0);  // empty text
  EXPECT_EQ(ErrorCode, 266);
  EXPECT_EQ(TakeErrorText(), "Incorrect key length: Must be 1 to 100. [AddIndexTag()]");
  ErrorCode = 0;
  EXPECT_EQ(length("REPLICATE('x', 101)"), 0);
  ExpectError(266);
  EXPECT_TRUE(CheckKeyExpressionLength(std::string(220, 'A')));
  EXPECT_FALSE(CheckKeyExpressionLength(std::string(221, 'A')));
  EXPECT_EQ(ErrorCode, 300);
  EXPECT_EQ(TakeErrorText(), "Expression length exceeds 100 bytes [AddIndexTag()]");
  ErrorCode = 0;
}

}  // namespace
}  // namespace qd::index_test
