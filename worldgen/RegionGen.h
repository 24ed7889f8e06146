#pragma once

#include "StaticBlock.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Generated shared folders of a UOX3 server, for tests and benchmarks:
// region files as the server names and writes them (LF line ends, records of
// many keys, "---REGION---" separators), holding characters with equipped
// items, ground items with contents, houses with their items, items of other
// worlds, Type 255 items ready to freeze and Type 255 items a freeze must
// leave, and an overflow.wsc.
namespace cryo::worldgen {

using BlockXY = std::pair<int, int>;

struct RegionOptions {
    // Ordinary records are added until the files hold about this many bytes.
    std::uint64_t TargetBytes = 0;
    // Region files, in X-major order from 0.0.wsc; at most 112. Files that
    // the blocks below need are added.
    int Files = 112;
    // Items ready to freeze into map World, spread over the blocks in turn;
    // each lies in the region file of its position.
    int Type255Items = 0;
    std::vector<BlockXY> Blocks;
    std::uint32_t World = 0;
    // Type 255 items that a freeze must leave (in a container, holding an
    // item, in a house, in another world): one of each per file that holds
    // items to freeze.
    bool LeftItems = true;
    bool Overflow = true;
    // Ordinary items with only the keys a static-like item needs, about 110
    // bytes each, in place of the server's 80 keys.
    bool ShortRecords = false;
    std::uint32_t Seed = 1;
};

// An object that a freeze of the folder must take.
struct ExpectedObject {
    std::uint16_t XBlock = 0;
    std::uint16_t YBlock = 0;
    TStaticItem Item;
};

struct RegionFolder {
    std::vector<std::string> Files; // names, in the order a freeze reads them
    std::vector<ExpectedObject> Frozen; // in that order
    int LeftBehind = 0; // Type 255 items a freeze must leave
    std::uint64_t Bytes = 0;
};

// Writes the folder's files into an existing folder.
RegionFolder WriteRegionFolder(const std::string& folder, const RegionOptions& options);

// count distinct blocks of map 0 inside the region files numbered 0, every,
// 2 * every, ... in X-major order (of files region files in all).
std::vector<BlockXY> BlocksInEveryNthFile(int count, int every, int files, std::uint32_t seed);

} // namespace cryo::worldgen
