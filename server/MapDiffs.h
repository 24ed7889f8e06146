#pragma once

// With MAPDIFFSENABLED=1 in uox.ini the server loads diff files that replace
// whole blocks of the statics: an edit frozen into such a block is never
// seen in game. The list of those blocks (stadifl<n>.mul) holds one 32-bit
// little-endian block number per replaced block, numbered as the index is.

#include "StaIdx.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cryo {

// The blocks in the diff list that hold objects in the statics files, by block number.
struct ReplacedBlocks {
    std::uint64_t Count = 0;
    std::vector<std::string> Examples; // the first few, "block 100, 200"
};

ReplacedBlocks BlocksDiffsReplace(const std::string& diffList, const StaIdx& table, std::size_t examples);

// The title under which check reports them.
extern const char* const ReplacedBlocksTitle;

} // namespace cryo
