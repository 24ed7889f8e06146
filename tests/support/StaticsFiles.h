#pragma once

// Whole-file steps that the product does differently (a freeze appends all its
// blocks and replaces the index once), for building files in tests and
// benchmarks.

#include "Reporter.h"
#include "StaIdx.h"
#include "StaticBlock.h"

#include <string>

namespace cryo {

// Replaces the index file with the table.
void SaveStaIdx(const std::string& path, const StaIdx& table, Reporter& reporter);

// Writes the block's old objects followed by the new ones as a new copy at the
// end of the statics file and points the entry at it (Extra is kept).
void AppendStaticBlock(
    const std::string& staticsPath, TStaIdxEntry& entry, const TStaticBlock& newItems, Reporter& reporter);

} // namespace cryo
