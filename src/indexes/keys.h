// Keys: how a tag's expression text is normalised, how a key is made from
// the current record for each key type, the stored encodings, the length
// rules and the comparisons that order keys.
//
//   Key type  Length   Stored form
//   C         1..100   the key text's bytes (OEM for OEM tables)
//   D         8        the day number as a little-endian IEEE 754 double
//                      (BlankDateValue for an empty date)
//   N, F      12       the numeric key below
//
// Numeric key (12 bytes), made from the value's fixed-point text with the
// expression's decimals:
//   byte 0       exponent: 52 + the number of integer digits (leading zeros
//                skipped); below 1: 52 - the zeros between the point and the
//                first digit; kept within 1 to 255
//   byte 1       bit 7 negative sign (never with count 0), bits 2-6 digit
//                count (0 to 20), bit 0 always set
//   bytes 2-11   up to 20 digits, two per byte, first digit in the high half
// e.g. 123.45 with 2 decimals: 37 15 12 34 50 00 ...; -5: 35 A9 50 00 ...;
// 0: 34 01 00 ....
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "indexes/index_engine.h"

namespace qd {

inline constexpr int kNumericKeyLength = 12;
inline constexpr int kDateKeyLength = 8;
inline constexpr int kNumericKeyDigits = 20;
inline constexpr std::size_t kMaxExpressionText = 220;

// ------------------------------------------------------- normalisation ----

// Rewrites an expression text: outside quoted literals upper case; literal
// contents unchanged. With keep_blanks off, literal delimiters become
// double quotes (a single-quoted literal holding a double quote keeps its
// single quotes) and blanks and tabs go, except one blank between two
// characters that would otherwise read as one name or number (A .AND. B).
// With keep_blanks on, delimiters stay and each run of blanks and tabs
// becomes one blank, dropped before a quote, "=" or the end.
void NormaliseExpression(std::string& text, bool keep_blanks);

// ---------------------------------------------------------- encodings -----

// The numeric key of a fixed-point text; `decimals` is the expression's
// number of decimals.
void EncodeNumericText(std::string_view text, int decimals, std::uint8_t* key);
// The numeric key of a value, formatted with `decimals` decimals.
void EncodeNumericKey(double value, int decimals, std::uint8_t* key);
// A date key (the day number's bytes) and back.
void EncodeDateKey(double day_number, std::uint8_t* key);
double DecodeDateKey(const std::uint8_t* key);

// --------------------------------------------------------- comparisons ----

int CompareCharacterKeys(const std::uint8_t* a, const std::uint8_t* b, int length);
int CompareNumericKeys(const std::uint8_t* a, const std::uint8_t* b, int length);
int CompareDateKeys(const std::uint8_t* a, const std::uint8_t* b, int length);
int CompareCharacterKeysDescending(const std::uint8_t* a, const std::uint8_t* b, int length);
int CompareNumericKeysDescending(const std::uint8_t* a, const std::uint8_t* b, int length);
int CompareDateKeysDescending(const std::uint8_t* a, const std::uint8_t* b, int length);
// Character for "C", numeric for "N" and "F", date for "D", reversed for a
// descending tag; nil for any other type.
KeyCompare ChooseComparison(char key_type, bool descending);

// ---------------------------------------------------------- length rules --

// 4 + key length rounded up to a multiple of 4.
int ItemLength(int key_length);
// 1012 div item length.
int NodeCapacity(int item_length);
// 1 for "D", 0 otherwise.
int SecondaryKeyType(char key_type);

// The key type of a new tag from the expression's result type; 0 after
// reporting 254 "Wrong parser return type [AddIndexTag()]" for any other.
char KeyTypeForResult(char result_type);
// The key length of a new tag: the key text's length made from the current
// record with `maker` for "C", 8 for "D", 12 for "N" and "F". 0 after
// reporting 266 when it is not 1 to 100.
int NewTagKeyLength(char key_type, KeyMaker maker);
// False after reporting 300 for a key expression text over 220 characters.
bool CheckKeyExpressionLength(const std::string& text);

// ---------------------------------------------------------- key makers ----

// Each makes the key of the current record with the expression in
// IndexExpr. Character keys are the expression's text (zero-terminated, OEM
// for OEM tables); numeric and date keys live in engine-wide buffers.
const std::uint8_t* CharacterKeyMaker();
const std::uint8_t* NumericKeyMaker();
const std::uint8_t* DateKeyMaker();
// For tags read from a file: the tag in slot KeyTagNumber picks the maker of
// its type and its own key expression.
const std::uint8_t* TagFileKeyMaker();
// The maker of a key type (what a build gives a new tag).
KeyMaker MakerForType(char key_type);

// The key of the current record for the tag in a slot. Character keys are
// copied into an engine-wide buffer, padded with blanks to the key length
// and terminated. Nil when the slot is empty.
const std::uint8_t* MakeKey(int slot);
// The key of the current record as display text (character keys as text,
// date keys in the display form, numeric keys with the expression's width
// and decimals).
std::string KeyText(int slot);
// True without a FOR condition; otherwise whether it holds for the record.
bool ForTest(ExprRecord* for_condition);

}  // namespace qd
