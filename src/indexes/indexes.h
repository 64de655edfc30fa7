// The index unit as the rest of the engine sees it: its start-up and
// closing sections, and the headers of its parts (index file, keys, descent
// path, semaphore protocol, tag table, tree walk).
#pragma once

#include "indexes/index_build.h"
#include "indexes/index_engine.h"
#include "indexes/index_file.h"
#include "indexes/index_navigation.h"
#include "indexes/keys.h"
#include "indexes/node_path.h"
#include "indexes/semaphore.h"
#include "indexes/tag_table.h"
#include "indexes/tree_build.h"
#include "indexes/tree_walk.h"

namespace qd {

// Start-up: fills the index hooks this unit provides so far, sets the key
// tag number to 1 and clears the exact-length switch and the found flag.
void InitIndexUnit();
// Shutdown: closes the index of every work area (nothing is reported).
void StopIndexUnit();

}  // namespace qd
