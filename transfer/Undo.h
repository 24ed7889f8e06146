#pragma once

// Taking back the last melt, freeze, compact or apply of a world from the history
// that every completed one leaves beside its index (History.h).

#include "Actions.h"
#include "History.h"
#include "Reporter.h"

#include <vector>

namespace cryo {

// The operations on the world's index that undo takes back, newest first.
std::vector<HistoryEntry> UndoableOperations(const WorldFiles& files);

// Takes back the newest operation on the world under its locks, once every
// file it replaced is checked to be still the one it left: the old files
// return as one commit, the statics file is cut back to its old size unless
// something was appended since, and the operation leaves the history. A file
// changed since stops the undo before anything changes, with an error that
// names it.
void UndoLastOperation(const WorldFiles& files, Reporter& reporter);

} // namespace cryo
