#pragma once

#include "ItemFreeze.h"
#include "MapArea.h"
#include "Reporter.h"
#include "StaIdx.h"

#include <optional>
#include <string>

namespace cryo {

// What a freeze moved, or would move.
struct FreezeCounts {
    int Items = 0;
    int Blocks = 0;
};

// Moves every TYPE 255 item of the world save into the statics files, block by
// block in X-major order, and rewrites the index file. The world save is a
// classic one, a shared folder of region files or a file of [ITEM] records;
// of a folder only the files that lose records are rewritten.
//
// Everything that can fail is checked before a file changes. The merged block
// copies are then appended to the statics file and flushed, and the index file
// and the world save without the items are replaced as one (Commit.h), so that
// every item is in exactly one of them once the next run has begun. The old
// index and world save are kept in the history, to be undone.
//
// A dry run makes every check and logs what each block would receive, but
// writes nothing. With an area of tiles, only the items inside it are frozen,
// and the log says how many it left outside; an area that reaches off the
// map is refused before anything is read.
FreezeCounts FreezeWorld(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    StaIdx& table, Reporter& reporter, bool dryRun = false, const std::optional<TileArea>& area = std::nullopt);

// The map a freeze into the loaded table writes into: the one it was loaded
// as, at its size.
FreezeMap FreezeMapOf(const StaIdx& table);

// Refuses an export from a classic world save, and one into a file of the
// world save it reads, where the items would then be twice.
void CheckExportTarget(const std::string& savePath, const std::string& outPath);

// Writes the [ITEM] records that a freeze into the map would take from the
// world save (a shared folder or a file of [ITEM] records) into one file of
// [ITEM] records, byte for byte and in reading order, which replaces outPath
// as a whole; the world save is only read. The caller has checked the two
// paths with CheckExportTarget.
void ExportFrozenItems(
    const std::string& savePath, const std::string& outPath, const FreezeMap& map, Reporter& reporter);

} // namespace cryo
