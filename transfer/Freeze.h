#pragma once

#include "Reporter.h"
#include "StaIdx.h"

#include <string>

namespace cryo {

// Moves every TYPE 255 item of the world save into the statics files, block by
// block in X-major order, and rewrites the index file.
//
// Everything that can fail is checked before a file changes. The merged block
// copies are then appended to the statics file and flushed, and the index file
// and the world save without the items are replaced as one (Commit.h), so that
// every item is in exactly one of them once the next run has begun. The old
// index and world save are kept in the history, to be undone.
//
// A dry run makes every check and logs what each block would receive, but
// writes nothing.
void FreezeWorld(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    StaIdx& table, Reporter& reporter, bool dryRun = false);

} // namespace cryo
