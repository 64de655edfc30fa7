// Building one tag's B-tree from the current table by external sort and a
// bottom-up node writer.
//
// Collect: the records are read in blocks straight from the table file,
// decoded as the table layer decodes them and made current one by one; for
// each record the FOR condition decides, the key is made and stored with
// the record number as a sort item in pools, its pointer in the pointer
// array. A full pointer array is sorted and written as a run.
//
// Runs (the temporary run file, a new file in the system's temporary
// directory, erased at the end in every case):
//
//   Offset                          Size        Content
//   ------------------------------  ----------  ----------------------------
//   r x capacity x item size        n x item    run r: its n sorted items
//
//   item: key (key length bytes) then the record number (4 bytes, this
//   machine's byte order); capacity is the pointer capacity (at most 8189
//   items a run). Items order by the tag's comparison of the keys and, for
//   equal keys, by ascending record number.
//
// Merge: a single run that was never written is read from the sorted
// pointer array; otherwise the pools are freed and their memory becomes one
// input buffer per run, and the runs are merged through an array of run
// cursors kept ordered by their current item.
//
// Nodes: written from the end of the index file onward through the RW
// buffer, each at page 2 x (block counter + 1), the counter starting at
// (file size div 1024) - 1. Items arrive sorted (a unique tag skips an item
// whose key equals the previous one) and go to the leaf at level 0. A leaf
// is written when the next item finds it full; its page and last key go up
// as the next entry of the level above, or into that node's trailing
// pointer when it is full, which writes that node and passes its page
// further up with the same key. At the end the last leaf is written, then
// every level above that holds an entry gets the page written last as its
// trailing pointer and is written; the last node written is the root. So
// exactly capacity items give one root leaf, and the last leaf may hang
// directly from a higher level (leaves at two depths).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "indexes/index_engine.h"

namespace qd {

// What a build needs of the tag being made.
struct TreeBuildTag {
  char key_type = 'C';
  int key_length = 0;
  int item_length = 0;  // node item length (key length + 4, rounded up to 4)
  int capacity = 0;     // keys in a node
  bool unique = false;
  KeyCompare compare = nullptr;
  KeyMaker maker = nullptr;
  ExprRecord* key_expr = nullptr;
  ExprRecord* for_expr = nullptr;  // nil without a FOR condition
};

// Builds the tree of a tag into the index file being made in the current
// work area. Returns the root page, or 0 after reporting (SetError: 217
// memory, 227 disk space, the read or write error with " [MakeIndex]").
// `key_entered` tells whether a record passed the FOR condition. The record
// that was current before is current again afterwards.
std::int32_t BuildTree(const TreeBuildTag& tag, bool& key_entered);

// Installs the progress callback of the next builds: called exactly `steps`
// times per tree built. A step count of 0 removes it.
void SetBuildProgress(std::function<void()> callback, int steps);

// What the last build did (for tests and benchmarks).
struct BuildStatistics {
  std::int32_t records = 0;      // records read
  std::int32_t items = 0;        // sort items made (records passing FOR)
  int runs = 0;                  // runs written to the temporary file
  int pointer_capacity = 0;      // items in a run at most
  std::size_t pool_size = 0;
  std::size_t rw_buffer_size = 0;
  std::size_t peak_bytes = 0;    // largest sum of the build's own buffers
  std::string run_file;          // the temporary file's name ("" for none)
  int progress_calls = 0;
};
const BuildStatistics& LastBuildStatistics();

// The number of stack levels of a build over n records: how often n can be
// divided by the capacity before it reaches 0, at least 1.
int BuildLevels(std::int64_t records, int capacity);

}  // namespace qd
