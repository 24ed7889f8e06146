#pragma once

#include "MapArea.h"
#include "Reporter.h"
#include "StaIdx.h"

#include <cstdint>
#include <string>

namespace cryo {

// Moves the objects of block (xBlock, yBlock) from the statics files into the
// world save as TYPE 255 items, then empties the block's entry and rewrites the
// index file. The statics data file is never written. The old index and world
// save are kept in the history, to be undone. A dry run makes every check and
// logs what would move, but writes nothing. Returns the number of objects
// that moved, or would move.
int MeltBlock(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    std::uint16_t xBlock, std::uint16_t yBlock, StaIdx& table, Reporter& reporter, bool dryRun = false);

// Melts every block of the area as one operation: the index, the statics and
// the world save are read once and written once, in one commit with one
// entry in the history. Each block logs what a melt of it alone would, under
// a line that names it; the objects are numbered and serialled on, block
// after block in X-major order, as melts of the blocks one after another
// would. A classic world save without section numbers left for every object
// refuses the melt before anything changes.
int MeltArea(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    const BlockArea& area, StaIdx& table, Reporter& reporter, bool dryRun = false);

} // namespace cryo
