// The tag table of the file header being built or open in the current work
// area (tag_table_layout.h): adding and removing entries and the tag-name
// tree rebuilt after each change.
#pragma once

#include <cstdint>
#include <string>

#include "indexes/index_engine.h"

namespace qd {

// Tags in use (file header offset 28).
int TagCount(const std::uint8_t* header);
// The number of the tag with this name (compared in upper case), 0 if none.
int FindTag(const std::uint8_t* header, const std::string& name);
// Whether a tag of this name can be added: there is a free entry, or a tag
// of the same name will be replaced. Otherwise reports code 220 with
// "No room for tag <name>: an index file holds at most 47 tags [<op>]".
bool CheckRoomForTag(const std::string& name, const std::string& operation);
// Adds an entry (removing a tag of the same name first) and marks the file
// header modified. Returns the new tag's number; 0 (after reporting, with
// nothing changed) when the table is full.
int AddTagEntry(std::uint32_t header_page, const std::string& name, char key_type);
// Removes entry `number`: the last entry moves into its slot, the count
// goes down, the tree is rebuilt. The tag's blocks stay in the file.
void RemoveTagEntry(int number);
// Rebuilds bytes 16 to 18 of every entry and entry 0 from the names.
void RebuildTagNameTree(std::uint8_t* header);

}  // namespace qd
