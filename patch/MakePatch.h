#pragma once

#include "MapSizes.h"
#include "Reporter.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cryo {

// An index and its statics file.
struct StaticsPair {
    std::string StaIdx;
    std::string Statics;
};

struct MadePatch {
    std::uint32_t Blocks = 0;
    std::uint64_t Added = 0;
    std::uint64_t Removed = 0;
};

// Compares the released statics files with the current ones block by block
// (a block's objects are its records in file order, an index entry past the
// map's table counts as a block) and writes every block whose objects differ
// into a patch file (PatchFormat.h), which replaces outPath as a whole. Both
// pairs must be of the same map and size: the number in their names and the
// size their index tells (or size, for a custom map). The four files are only
// read, locked meanwhile, and streamed: memory does not grow with the statics
// files. Logs what it wrote: blocks changed, objects added and removed (an
// object moved or recoloured counts as removed and added).
MadePatch MakePatch(const StaticsPair& release, const StaticsPair& current, const std::string& outPath,
    Reporter& reporter, std::optional<MapBlocks> size = std::nullopt);

} // namespace cryo
