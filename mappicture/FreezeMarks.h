#pragma once

#include "ItemFreeze.h"
#include "MapSizes.h"
#include "Reporter.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cryo {

// Where the items that a freeze into the map would take lie.
struct FreezeMarks {
    std::vector<TilePosition> Tiles;
    std::size_t Items = 0;
};

// The items of the world save (classic, a shared folder or a file of [ITEM]
// records) that a freeze into the map would take, selected by the freeze's
// own code, which reads the files and changes nothing. It logs a "Not frozen:
// ..." line for every Type 255 item it leaves, and refuses what a freeze
// refuses. A classic world save records only the block of each item, so every
// tile of those blocks is marked; items outside the map are not.
FreezeMarks FindFreezeMarks(const std::string& savePath, const FreezeMap& map, Reporter& reporter);

} // namespace cryo
