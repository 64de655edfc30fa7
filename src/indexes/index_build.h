// Making index files: MakeIndex (a new file with the given tags, reopening
// a shared table exclusively when another program holds the old file),
// make and open, AddIndexTag (one tag built into the file being made),
// Reindex (the open index rebuilt from its own tags), the build progress
// setting and the tag list of a file.
//
// Reporting: these report through SetError and answer False, so a caller
// that deferred dispatch can test ErrorCode (217, 220, 225, 227, 254, 266,
// 300, the compiler's codes and the file routines' codes). A tag that fails
// leaves the tags built before it; the file header is written after every
// tag, so the file opens with them whatever happens later.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "indexes/index_engine.h"

namespace qd {

// One tag to build. A list of them ends at the first definition whose name
// is empty.
struct TagDefinition {
  std::string name;            // at most 10 characters
  std::string key_expression;  // at most 220 characters
  std::string for_condition;   // empty for none
  bool descending = false;
  bool unique = false;
};

// Builds a new index file with the given tags for the current table. An
// empty name means the table's name with "MDX"; a name without extension
// gets "MDX", one without a directory the table's directory. True when
// every tag was built. The work area has no index open afterwards.
bool MakeIndex(const std::vector<TagDefinition>& tags, const std::string& name = "");
// MakeIndex, then on success SetIndexTo with the same name.
bool MakeAndOpenIndex(const std::vector<TagDefinition>& tags, const std::string& name = "");
// Builds one tag into the index file being made in the current work area
// (after CreateMdxHeader); a tag of the same name is replaced.
bool AddIndexTag(const TagDefinition& tag);
// Rebuilds the open index from its own tags and selects the current order
// again by its tag name.
void Reindex();
// The definitions of the open index's tags, in table order.
std::vector<TagDefinition> OpenTagDefinitions();

// Installs the callback that each tree build calls exactly `steps` times;
// 0 steps removes it.
void SetIndexProgress(std::function<void()> callback, int steps);

// Two lines per tag of the named index file (name rules as MakeIndex):
// "NAME,F,T,UPPER(NAME)" (name, descending, unique, key expression, each
// trimmed) and the trimmed FOR condition or an empty line. Tags without a
// name or key expression are skipped; a missing file gives no lines. The
// file is opened read-only, shared, and closed again.
void TagList(std::vector<std::string>& lines, const std::string& name);

}  // namespace qd
