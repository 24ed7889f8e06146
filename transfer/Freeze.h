#pragma once

#include "Reporter.h"
#include "StaIdx.h"

#include <string>

namespace cryo {

// Moves every TYPE 255 item of the world save into the statics files, block by
// block in X-major order, and rewrites the index file.
//
// Everything that can fail is checked before a file changes. The files are then
// changed in an order that keeps every item in at least one of them at every
// moment: the merged block copies are appended to the statics file and flushed,
// the index file is replaced, and only then the world save without the items.
void FreezeWorld(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    StaIdx& table, Reporter& reporter);

} // namespace cryo
