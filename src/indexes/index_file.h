// The index file of the current work area: creating its header, opening it
// with every tag and every check, moving the file header, tag headers and
// nodes between disk and memory, and closing tags and the file.
//
// Error reporting: opening (SetIndexTo, OpenIndexFile) reports through
// SetError and answers False, so that a caller that deferred dispatch can
// look at the code (2, 222, 266 ...) and decide; node and tag header input
// and output in the middle of an operation (SeekAndRead, SeekAndWrite,
// WriteAnchor, ReadAnchorNodes) reports through RaiseError, which always
// ends the operation.
#pragma once

#include <cstdint>
#include <string>

#include "indexes/index_engine.h"

namespace qd {

// ------------------------------------------------------------ the file ---

// Allocates the file header buffer and associates the index file: an
// existing file is opened and its header read; otherwise a header for the
// current table is built and a new file of exactly 2048 bytes written.
// False after reporting. The first step of every index build.
bool CreateMdxHeader(const std::string& file_name);
// Writes the file header at offset 0 if it was modified.
void FlushMdxHeader();
// Header flush, close the file, free the header buffer.
void CloseMdxHeader();

// Opens the index file of the current work area with every tag. True when
// every tag opened; otherwise everything opened is closed again and the
// failure was reported (217, 222, 266 or the system's code).
bool OpenIndexFile(const std::string& file_name);
// Opens tag `number` of the open file into slot `number`: 0, or 217, 222
// or 266 (reported by the caller).
std::uint16_t OpenTag(int number);

// Closes the tag in a slot (1 to 47; other numbers are ignored), writing
// its header if modified; the last tag closed closes the file and logs out.
void CloseTag(int slot);
// Closes the current work area's index: every tag, the file, the header
// buffer and the semaphore login. Errors are collected while everything is
// closed and reported afterwards.
void CloseIndex();

// The index file name resolved as SetIndexTo and MakeIndex take it: empty
// gives the table's name with "MDX"; a name without extension gets "MDX";
// a name without a directory gets the table's directory.
std::string ResolveIndexName(const std::string& name);
// Closes the current index and opens the named file (after logging in to
// its semaphore for a shared table). False when it did not open.
bool SetIndexTo(const std::string& name);

// ---------------------------------------------------- headers and nodes ---

// Re-reads the header image of every open tag (after another program
// changed the index).
void ReadAnchorNodes();
// Writes the header image of the tag in a slot and clears its modified flag.
void WriteAnchor(int slot);
// The node at `page` into `buffer` (the descent path's copy when the page is
// on the path), with the modified word cleared.
void SeekAndRead(CurrIndex& tag, std::int32_t page, std::uint8_t* buffer);
// Writes a node (modified word cleared), keeping the path's copy equal.
bool SeekAndWrite(CurrIndex& tag, std::int32_t page, std::uint8_t* buffer);

// Reads the node at `page` of an index file without reporting: 0, 222 when
// the page is not a block of the file (inside the header or past the end),
// or the system's code.
std::uint16_t ReadNodeAt(IndexArea& index, std::int32_t page, std::uint8_t* buffer);
// Writes `count` bytes at `page` without reporting: 0 or the write error.
std::uint16_t WriteBlockAt(IndexArea& index, std::uint32_t page, const std::uint8_t* bytes,
                           std::size_t count);
// The page at which the next block is appended: file size div 512.
std::uint32_t EndOfFilePage(IndexArea& index);

// ----------------------------------------------------------- questions ---

// The name of the current work area's open index file; empty when none.
std::string Mdx();
// Name of tag `number` from the tag table; empty outside 1..tag count.
std::string TagName(int number);
// "<index file> [tag: <name>]" for the tag in a slot; the file name alone
// when the slot is empty.
std::string TagDescription(int slot);

}  // namespace qd
