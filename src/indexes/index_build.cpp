// MakeIndex, make and open, AddIndexTag, Reindex, the progress setting and
// the tag list (see index_build.h); the tree itself is built by
// tree_build.cpp.
#include "indexes/index_build.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "foundation/errors.h"
#include "foundation/utilities.h"
#include "indexes/index_file.h"
#include "indexes/keys.h"
#include "indexes/index_navigation.h"
#include "indexes/tag_header_layout.h"
#include "indexes/tag_table.h"
#include "indexes/tag_table_layout.h"
#include "indexes/tree_build.h"

namespace qd {

using namespace table_text;
namespace pf = qd::platform;
namespace th = qd::mdx::tag_header;

namespace {

constexpr const char* kAddIndexTagSuffix = " [AddIndexTag()]";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The detail text of an EQuindleError: what follows the message line.
std::string DetailOf(const EQuindleError& error) {
  const std::string text = error.what();
  const std::size_t line = text.find("\r\n");
  return line == std::string::npos ? text : text.substr(line + 2);
}

void StoreText(std::uint8_t* field, const std::string& text) {
  std::memcpy(field, text.data(), std::min(text.size(), th::kExpressionSize - 1));
}

std::string StoredText(const std::uint8_t* field, std::size_t size) {
  const void* end = std::memchr(field, 0, size);
  return std::string(reinterpret_cast<const char*>(field),
                     end != nullptr ? static_cast<const std::uint8_t*>(end) - field : size);
}

// The index area of a file being made: open, with its header, no tags open.
IndexArea* FileBeingMade() {
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !index->IsOpen() || !index->header) return nullptr;
  for (const auto& tag : index->tags) {
    if (tag != nullptr) return nullptr;
  }
  return index;
}

// The compiled expressions of a tag being built, freed on every way out.
struct TagExpressions {
  ExprRecord* key = nullptr;
  ExprRecord* condition = nullptr;
  ~TagExpressions() {
    if (IndexExpr == key || IndexExpr == condition) IndexExpr = nullptr;
    FreeExpr(key);
    FreeExpr(condition);
  }
};

// Builds the tag; false after reporting (dispatch is deferred here).
bool BuildTag(IndexArea& index, const TagDefinition& definition) {
  const std::string name = AllTrim(definition.name).substr(0, mdx::tag_entry::kMaxNameLength);
  if (!CheckRoomForTag(name, "AddIndexTag()")) return false;

  // 1. The FOR condition, checked before anything is built.
  const std::string condition = AllTrim(definition.for_condition);
  const bool has_for = !condition.empty();
  if (has_for) {
    if (const std::uint16_t code = CheckCondition(condition); code != 0) {
      SetError(code, "Invalid FOR expression for " + name);
      return false;
    }
  }
  // 2. The key expression.
  const std::string& key_text = definition.key_expression;
  if (!CheckKeyExpressionLength(key_text)) return false;
  TagExpressions expressions;
  expressions.key = AssignExpr(key_text);
  if (expressions.key == nullptr) {
    if (ErrorCode == 0) SetError(254, "Invalid key expression " + key_text);
    return false;
  }
  IndexExpr = expressions.key;

  // 3-5. Key type, maker, comparison and layout.
  TreeBuildTag tag;
  tag.key_type = KeyTypeForResult(expressions.key->result_type);
  if (tag.key_type == 0) return false;
  tag.key_expr = expressions.key;
  tag.maker = MakerForType(tag.key_type);
  tag.compare = ChooseComparison(tag.key_type, definition.descending);
  tag.unique = definition.unique;
  tag.key_length = NewTagKeyLength(tag.key_type, tag.maker);
  if (tag.key_length == 0 || ErrorCode != 0) return false;
  tag.item_length = ItemLength(tag.key_length);
  tag.capacity = NodeCapacity(tag.item_length);

  // 6. The FOR condition compiled for the build.
  if (has_for) {
    expressions.condition = AssignExpr(condition);
    if (expressions.condition == nullptr) return false;
    tag.for_expr = expressions.condition;
  }

  // 7. The tree.
  bool key_entered = false;
  const std::int32_t root = BuildTree(tag, key_entered);
  if (root <= 0) return false;

  // 8. The tag header block at the end of the file, then the tag entry.
  std::array<std::uint8_t, mdx::kBlockSize> block{};
  std::uint8_t* h = block.data();
  Put32(h + th::kRootPage, static_cast<std::uint32_t>(root));
  h[th::kKeyFormat] = static_cast<std::uint8_t>(th::kFormatAlways | (definition.descending ? th::kFormatDescending : 0) |
                                                (definition.unique ? th::kFormatUnique : 0));
  h[th::kKeyType] = static_cast<std::uint8_t>(tag.key_type);
  Put16(h + th::kKeyLength, static_cast<std::uint32_t>(tag.key_length));
  Put16(h + th::kMaxKeys, static_cast<std::uint32_t>(tag.capacity));
  Put16(h + th::kSecondaryType, static_cast<std::uint32_t>(SecondaryKeyType(tag.key_type)));
  Put16(h + th::kItemLength, static_cast<std::uint32_t>(tag.item_length));
  h[th::kUnique] = definition.unique ? 1 : 0;
  StoreText(h + th::kKeyExpression, key_text);
  if (has_for) {
    h[th::kForFlag] = 1;
    h[th::kKeyEntered] = key_entered ? 1 : 0;
    StoreText(h + th::kForExpression, definition.for_condition);
  }
  const std::uint32_t header_page = EndOfFilePage(index);
  if (const std::uint16_t code = WriteBlockAt(index, header_page, h, block.size()); code != 0) {
    SetError(code, "Error writing index file: " + index.file_name + " [MakeIndex]");
    return false;
  }
  if (AddTagEntry(header_page, name, tag.key_type) == 0) return false;
  std::uint8_t* file_header = index.Header();
  Put32(file_header + mdx::header::kPageField, static_cast<std::uint32_t>(root) + mdx::kPagesPerBlock);
  index.header_modified = true;
  // The header goes to the file now, so that the file opens with every tag
  // built so far whatever happens to the next one.
  if (const std::uint16_t code = WriteBlockAt(index, 0, file_header, mdx::kFileHeaderSize); code != 0) {
    SetError(code, "Error writing index file: " + index.file_name + " [MakeIndex]");
    return false;
  }
  index.header_modified = false;
  return true;
}

// Closes the file being made and gives the table back its shared use, on
// every way out of MakeIndex.
struct MakeIndexEnd {
  const std::string& file_name;
  bool reopened = false;
  bool done = false;

  // Writes the header, closes the file; reopens a table made exclusive.
  void Finish() {
    done = true;
    CloseMdxHeader();
    ReopenShared();
  }
  void ReopenShared() {
    if (!reopened) return;
    reopened = false;
    const std::uint32_t code = ReopenTable(false);
    if (code != 0 && ErrorCode == 0) {
      SetError(static_cast<std::uint16_t>(code), "Cannot_Reopen_Database_Sharable MakeIndex(" + file_name + ")");
    }
  }
  ~MakeIndexEnd() {
    if (done) return;
    const bool dispatch = SetImmediateDispatch(false);
    const std::uint16_t code = ErrorCode;
    std::string text = ErrorText;
    try {
      CloseMdxHeader();
    } catch (...) {
    }
    if (reopened) {
      reopened = false;
      ReopenTable(false);
    }
    ErrorCode = code;
    ErrorText = text;
    SetImmediateDispatch(dispatch);
  }
};

}  // namespace

bool AddIndexTag(const TagDefinition& definition) {
  IndexArea* index = FileBeingMade();
  if (index == nullptr) {
    SetError(221, "Index file not open" + std::string(kAddIndexTagSuffix));
    return false;
  }
  // The steps report with dispatch deferred; their report is delivered
  // once, at the end, with this operation's name.
  const bool dispatch = SetImmediateDispatch(false);
  ErrorCode = 0;
  bool built = false;
  std::string raised;
  try {
    built = BuildTag(*index, definition);
  } catch (const EQuindleError& error) {
    raised = DetailOf(error);
    built = false;
  } catch (const std::bad_alloc&) {
    SetError(217, " to allocate curr_index");
    built = false;
  }
  SetImmediateDispatch(dispatch);
  if (built) return true;
  const std::uint16_t code = ErrorCode != 0 ? ErrorCode : 254;
  std::string text = raised.empty() ? TakeErrorText() : raised;
  if (!EndsWith(text, kAddIndexTagSuffix)) text += kAddIndexTagSuffix;
  SetError(code, text);
  return false;
}

bool MakeIndex(const std::vector<TagDefinition>& tags, const std::string& name) {
  WorkArea* area = RequireTable("MakeIndex");
  if (area == nullptr) return false;
  const std::string file_name = ResolveIndexName(name);
  CloseIndex();
  MakeIndexEnd end{file_name};
  if (!area->exclusive) {
    // A file that cannot be erased is held by another program: the build
    // needs the table to itself then.
    const bool dispatch = SetImmediateDispatch(false);
    const std::uint32_t erased = EraseFile(file_name);
    if (erased == 5 || erased == 32) {
      if (ReopenTable(true) != 0) {
        SetImmediateDispatch(dispatch);
        end.done = true;
        SetError(225, area->file_name + " MakeIndex(" + file_name + ")");
        return false;
      }
      end.reopened = true;
    }
    ErrorCode = 0;
    TakeErrorText();
    SetImmediateDispatch(dispatch);
  }
  if (pf::FileExists(file_name)) EraseFile(file_name);
  bool built = CreateMdxHeader(file_name);
  if (built) {
    for (const TagDefinition& tag : tags) {
      if (tag.name.empty()) break;
      if (!AddIndexTag(tag)) {
        built = false;
        break;
      }
    }
  }
  end.Finish();
  return built;
}

bool MakeAndOpenIndex(const std::vector<TagDefinition>& tags, const std::string& name) {
  if (!MakeIndex(tags, name)) return false;
  return SetIndexTo(name);
}

std::vector<TagDefinition> OpenTagDefinitions() {
  std::vector<TagDefinition> definitions;
  IndexArea* index = CurrentIndexArea();
  if (index == nullptr || !index->header) return definitions;
  const int count = std::min(TagCount(index->Header()), mdx::kMaxTags);
  for (int number = 1; number <= count; ++number) {
    const CurrIndex* tag = nullptr;
    for (const auto& slot : index->tags) {
      if (slot != nullptr && slot->tag_number == number) tag = slot.get();
    }
    if (tag == nullptr) continue;
    const std::uint8_t* h = tag->header.data();
    TagDefinition definition;
    definition.name = TagName(number);
    definition.key_expression = StoredText(h + th::kKeyExpression, th::kExpressionSize);
    definition.for_condition = StoredText(h + th::kForExpression, th::kExpressionSize);
    definition.descending = (h[th::kKeyFormat] & th::kFormatDescending) != 0;
    definition.unique = (h[th::kKeyFormat] & th::kFormatUnique) != 0;
    definitions.push_back(std::move(definition));
  }
  return definitions;
}

void Reindex() {
  WorkArea* area = RequireTable("Reindex");
  if (area == nullptr) return;
  IndexArea* index = IndexAreaOf(*area);
  if (index == nullptr || !index->IsOpen() || index->tags[1] == nullptr) {
    SetError(221, "Index not open. (DBF=" + area->file_name + ") [Reindex]");
    return;
  }
  const std::string file_name = index->file_name;
  std::vector<TagDefinition> definitions;
  try {
    definitions = OpenTagDefinitions();
  } catch (const std::bad_alloc&) {
    SetError(217, area->file_name + " [Reindex()]");
    return;
  }
  const std::string current = index->natural_order ? std::string() : TagName(index->tags[1]->tag_number);
  if (!MakeAndOpenIndex(definitions, file_name)) return;
  SetOrderToTag(current);
}

void SetIndexProgress(std::function<void()> callback, int steps) { SetBuildProgress(std::move(callback), steps); }

void TagList(std::vector<std::string>& lines, const std::string& name) {
  lines.clear();
  const std::string file_name = ResolveIndexName(name);
  pf::FileHandle file = pf::kNoFile;
  if (pf::OpenFile(file_name, pf::kAccessRead | pf::kShareDenyNone, file) != 0) return;
  struct Closer {
    pf::FileHandle file;
    ~Closer() { pf::CloseFile(file); }
  } closer{file};
  std::array<std::uint8_t, mdx::kFileHeaderSize> header{};
  std::size_t done = 0;
  if (pf::ReadAt(file, 0, header.data(), header.size(), done) != 0 || done < header.size()) return;
  const int count = std::min(TagCount(header.data()), mdx::kMaxTags);
  for (int number = 1; number <= count; ++number) {
    const std::uint8_t* entry = header.data() + mdx::tag_entry::Offset(number);
    const std::string tag_name = AllTrim(StoredText(entry + mdx::tag_entry::kName, mdx::tag_entry::kNameSize));
    std::array<std::uint8_t, th::kImageSize> image{};
    const std::uint64_t offset = static_cast<std::uint64_t>(Get32(entry + mdx::tag_entry::kHeaderPage)) * mdx::kPageSize;
    if (pf::ReadAt(file, offset, image.data(), image.size(), done) != 0 || done < image.size()) continue;
    const std::string key = AllTrim(StoredText(image.data() + th::kKeyExpression, th::kExpressionSize));
    if (tag_name.empty() || key.empty()) continue;
    const std::uint8_t format = image[th::kKeyFormat];
    lines.push_back(tag_name + ((format & th::kFormatDescending) != 0 ? ",T," : ",F,") +
                    ((format & th::kFormatUnique) != 0 ? "T," : "F,") + key);
    lines.push_back(AllTrim(StoredText(image.data() + th::kForExpression, th::kExpressionSize)));
  }
}

}  // namespace qd
