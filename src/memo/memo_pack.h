// Memo pack and copy: rewriting a table's memo file with only the values its
// records still name, copying one value from another work area's memo file
// (converting between the variants), and replacing the memo file by an
// empty one. All act on the current work area.
//
// Values move with one copier: the value is read by its own layout and
// passes through the source table's after-read hook, then is written in
// the destination's layout through the destination's before-write hook. A
// dBASE III destination takes it as text ended by 0x1A 0x1A when it was
// text, or when it holds no 0x00 or 0x1A byte and does not begin like a
// block header; otherwise it keeps a block header and is named by the
// negated block. FoxPro values are written as type 1. A value without bytes
// is not written: its block is 0 (an empty field).
#pragma once

#include <cstdint>
#include <string>

namespace qd {

// Rewrites the current table's memo file so that it holds only the values
// the records name (deleted records included), in record order, each field
// getting its own copy, and renumbers the memo fields. The table must be
// open for exclusive use (225). Values are first copied into a new file
// beside the memo file ("<name>.$$$"); only when that file is complete and
// on disk are the records renumbered, and then the files are exchanged. A
// failure before the exchange leaves the old memo file and every record as
// they were: 1012 not enough free disk space, the file system's code when
// the new file cannot be created or written, 30 a read failure. A field
// naming no value the file can hold (a block beyond the end or inside the
// header, a damaged block header) is emptied, and after the pack 1003
// names the first such field. Reopening the packed file reports "Memo file
// not found: ".
void PackMemofile();

// Copies the value at `source_block` of work area `source_area`'s memo file
// into the current work area's memo file and answers its block there (as
// the table's memo field stores it: negated for a value with a block header
// in a dBASE III file); 0 when nothing was copied. Keep position writes it
// at the source's block number (for a memo file built in block order),
// else at the end of the file. The memo lock is held from the placing of
// the value until the header is updated, and released on every failure.
std::int32_t CopyMemo(int source_area, std::int32_t source_block, bool keep_position);

// Closes the current table's memo file and replaces it by an empty one of
// the table's memo variant and the old file's block size, under the memo
// file's own name (`name` empty) or `name` with the variant's extension,
// then opens it as the table's memo file.
void EmptyMemofile(const std::string& name = std::string());

}  // namespace qd
