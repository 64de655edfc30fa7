// Making keys from the current record: the makers of each key type, the
// tag-file maker, MakeKey, the key as display text, the FOR test, and the
// checks a new tag's key expression must pass (see keys.h).
#include <algorithm>
#include <charconv>
#include <cstring>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "indexes/keys.h"

namespace qd {

namespace {

// Engine-wide key buffers: each maker's result lives until its next call.
std::uint8_t NumericKeyBuffer[kNumericKeyLength];
std::uint8_t DateKeyBuffer[kDateKeyLength];
std::uint8_t MadeKeyBuffer[kKeyBufferSize];
const std::uint8_t NoKey[kKeyBufferSize] = {};

double NumberResult(const void* result) {
  double value = 0;
  if (result != nullptr) std::memcpy(&value, result, sizeof value);
  return value;
}

// Sets KeyTagNumber for the length of a key maker's call.
class KeyTagScope {
 public:
  explicit KeyTagScope(int slot) : saved_(KeyTagNumber) { KeyTagNumber = slot; }
  ~KeyTagScope() { KeyTagNumber = saved_; }
  KeyTagScope(const KeyTagScope&) = delete;
  KeyTagScope& operator=(const KeyTagScope&) = delete;

 private:
  int saved_;
};

}  // namespace

const std::uint8_t* CharacterKeyMaker() {
  auto* text = static_cast<std::uint8_t*>(EvalIndexExpr());
  if (text == nullptr) return NoKey;
  const WorkArea* area = CurrentWorkArea();
  if (area != nullptr && area->language == tlOem) {
    platform::AnsiToOem(text, std::strlen(reinterpret_cast<const char*>(text)));
  }
  return text;
}

const std::uint8_t* NumericKeyMaker() {
  const double value = NumberResult(EvalIndexExpr());
  EncodeNumericKey(value, IndexExpr != nullptr ? IndexExpr->result_decimals : 0, NumericKeyBuffer);
  return NumericKeyBuffer;
}

const std::uint8_t* DateKeyMaker() {
  EncodeDateKey(NumberResult(EvalIndexExpr()), DateKeyBuffer);
  return DateKeyBuffer;
}

const std::uint8_t* TagFileKeyMaker() {
  const CurrIndex* tag = TagInSlot(KeyTagNumber);
  if (tag == nullptr) return NoKey;
  IndexExpr = tag->key_expr;
  switch (tag->key_type) {
    case 'C':
      return CharacterKeyMaker();
    case 'N':
    case 'F':
      return NumericKeyMaker();
    default:
      return DateKeyMaker();
  }
}

KeyMaker MakerForType(char key_type) {
  switch (key_type) {
    case 'C':
      return CharacterKeyMaker;
    case 'N':
    case 'F':
      return NumericKeyMaker;
    default:
      return DateKeyMaker;
  }
}

const std::uint8_t* MakeKey(int slot) {
  CurrIndex* tag = TagInSlot(slot);
  if (tag == nullptr) return nullptr;
  const std::uint8_t* key;
  {
    KeyTagScope scope(slot);
    IndexExpr = tag->key_expr;
    key = tag->key_maker();
  }
  if (!tag->char_key) return key;
  // Stored keys always have the key length: a shorter text is padded with
  // blanks, a longer one cut.
  const std::size_t length = static_cast<std::size_t>(tag->key_length);
  const std::size_t text = std::min(std::strlen(reinterpret_cast<const char*>(key)), length);
  std::memcpy(MadeKeyBuffer, key, text);
  std::memset(MadeKeyBuffer + text, ' ', length - text);
  MadeKeyBuffer[length] = 0;
  return MadeKeyBuffer;
}

std::string KeyText(int slot) {
  CurrIndex* tag = TagInSlot(slot);
  if (tag == nullptr) return {};
  if (tag->char_key) {
    const std::uint8_t* key = MakeKey(slot);
    return std::string(reinterpret_cast<const char*>(key), static_cast<std::size_t>(tag->key_length));
  }
  IndexExpr = tag->key_expr;
  const double value = NumberResult(EvalIndexExpr());
  if (tag->key_type == 'D') return JulianToDate(value);
  const int decimals = tag->key_expr != nullptr ? tag->key_expr->result_decimals : 0;
  const int width = tag->key_expr != nullptr ? tag->key_expr->result_width : 0;
  char buffer[360];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed,
                                    std::clamp(decimals, 0, 30));
  std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  return text;
}

bool ForTest(ExprRecord* for_condition) {
  if (for_condition == nullptr) return true;
  IndexExpr = for_condition;
  const void* result = EvalIndexExpr();
  std::int32_t value = 0;
  if (result != nullptr) std::memcpy(&value, result, sizeof value);
  return value != 0;
}

char KeyTypeForResult(char result_type) {
  switch (result_type) {
    case 'C':
    case 'D':
    case 'N':
    case 'F':
      return result_type;
    default:
      SetError(254, "Wrong parser return type [AddIndexTag()]");
      return 0;
  }
}

int NewTagKeyLength(char key_type, KeyMaker maker) {
  int length = kNumericKeyLength;
  if (key_type == 'D') length = kDateKeyLength;
  if (key_type == 'C') {
    const std::uint8_t* key = maker();
    length = static_cast<int>(std::strlen(reinterpret_cast<const char*>(key)));
  }
  if (length < 1 || length > kMaxKeyLength) {
    SetError(266, "Incorrect key length: Must be 1 to 100. [AddIndexTag()]");
    return 0;
  }
  return length;
}

bool CheckKeyExpressionLength(const std::string& text) {
  if (text.size() <= kMaxExpressionText) return true;
  SetError(300, "Expression length exceeds 100 bytes [AddIndexTag()]");
  return false;
}

}  // namespace qd
