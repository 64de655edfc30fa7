// Index files for the index benchmarks: one empty tag (a root leaf and a tag
// header) per key expression, made with the engine's own building blocks.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "indexes/indexes.h"
#include "indexes/tag_header_layout.h"
#include "table/table_text.h"

namespace qd_bench {

struct TagSpec {
  const char* name;
  const char* key;
  char type;
  int length;
};

// Writes the index file `path` for the current work area's table.
inline void WriteEmptyTags(const std::string& path, const std::vector<TagSpec>& tags) {
  namespace th = qd::mdx::tag_header;
  qd::CreateMdxHeader(path);
  qd::IndexArea& index = *qd::CurrentIndexArea();
  for (const TagSpec& tag : tags) {
    const std::vector<std::uint8_t> leaf(1024, 0);
    const std::uint32_t root = qd::EndOfFilePage(index);
    qd::WriteBlockAt(index, root, leaf.data(), leaf.size());
    std::vector<std::uint8_t> header(1024, 0);
    qd::table_text::Put32(&header[th::kRootPage], root);
    header[th::kKeyFormat] = th::kFormatAlways;
    header[th::kKeyType] = static_cast<std::uint8_t>(tag.type);
    const int item = qd::ItemLength(tag.length);
    qd::table_text::Put16(&header[th::kKeyLength], static_cast<std::uint32_t>(tag.length));
    qd::table_text::Put16(&header[th::kMaxKeys], static_cast<std::uint32_t>(qd::NodeCapacity(item)));
    qd::table_text::Put16(&header[th::kSecondaryType], static_cast<std::uint32_t>(qd::SecondaryKeyType(tag.type)));
    qd::table_text::Put16(&header[th::kItemLength], static_cast<std::uint32_t>(item));
    std::memcpy(&header[th::kKeyExpression], tag.key, std::strlen(tag.key));
    const std::uint32_t page = qd::EndOfFilePage(index);
    qd::WriteBlockAt(index, page, header.data(), header.size());
    qd::AddTagEntry(page, tag.name, tag.type);
  }
  qd::CloseMdxHeader();
}

}  // namespace qd_bench
