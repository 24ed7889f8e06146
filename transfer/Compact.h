#pragma once

#include "Reporter.h"
#include "StaIdx.h"

#include <cstdint>
#include <string>

namespace cryo {

// What stops a freeze whose copies the index's signed 32-bit offsets could
// not address; compacting is the way out.
inline constexpr const char* StaticsTooLargeText
    = "The statics file would grow past 2 GiB, more than its index can address; no file was changed. Run compact "
      "to reclaim the room that old copies of blocks take";

struct CompactResult {
    std::uint64_t OldSize = 0;
    std::uint64_t NewSize = 0;
};

// Writes a new statics file that holds only the blocks the index refers to,
// in the index's order (blocks that share their bytes share them still), and
// the index that refers to it, and replaces both files as one (Commit.h). An
// entry that refers to no object becomes empty (offset -1); every other field
// but the offset and a length's remainder stays. An index entry the statics
// file cannot serve stops it before anything changes. The statics file is
// copied through a buffer of a few MB, whatever its size.
CompactResult CompactStatics(
    const std::string& staIdxPath, const std::string& staticsPath, StaIdx& table, Reporter& reporter);

} // namespace cryo
