#pragma once

// What the window's buttons do, shared by every front end: the same texts are
// converted the same way and the same lines are logged.

#include "Commit.h"
#include "MapArea.h"
#include "Reporter.h"
#include "StaIdx.h"
#include "StaticBlock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cryo {

struct WorldFiles {
    std::string StaIdx;
    std::string Statics;
    std::string Wsc;
};

// Refuses two of the files that are one file, however their paths are spelt
// (the same device and inode, or volume and file index): the index, the
// statics file, the world save and an export's output file. Files that do not
// exist are passed over. A world save folder that is the server's own folder
// (it holds a uox.ini that keeps the world elsewhere) is refused too. Called
// before anything is locked or read.
void CheckDistinctFiles(const WorldFiles& files, const std::string& outPath = {});

// The three files locked for one run, from before anything is read until the
// run ends, once whatever an interrupted earlier run left has been completed
// or undone (and logged). A second run on the same files waits a few seconds,
// then stops with an error that names the busy file.
class LockedWorld {
public:
    LockedWorld(const WorldFiles& files, Reporter& reporter);

private:
    FileLocks locks_;
};

// For a run that only reads the statics files: completes or undoes an
// interrupted run's commit first, so that it never reads half of one.
void RecoverBeforeReading(const WorldFiles& files, Reporter& reporter);

// Loads the index again when its file is no longer the one the table was
// loaded from (another run or program replaced it), and logs that it did, so
// that a melt or freeze never writes a stale table back.
void ReloadIfChanged(const WorldFiles& files, StaIdx& table, Reporter& reporter);

// A block edit's text as an unsigned 16-bit number: "'%s' is not a valid integer
// value" for text that is no integer, "Range check error" outside 0..65535.
std::uint16_t ParseBlockNumber(std::string_view text);

// The listing of the block the two texts name, one line per object ("Item #1:
// Item ID = 0E ED, X = 1234, Y = 567, Z = -5, Color = 00 00"); nothing is
// returned on an error.
std::vector<std::string> ListStaticBlock(const std::string& staticsPath, const StaIdx& table, std::string_view xText,
    std::string_view yText, Reporter& reporter);

// The listing of every block that the area of tiles touches, X-major; of
// several blocks, each that holds objects under a line that names it. The
// area of one block's tiles lists as that block does.
std::vector<std::string> ListStaticArea(
    const std::string& staticsPath, const StaIdx& table, const TileArea& area, Reporter& reporter);

// The GetStaticIndex load with its log lines, without the window's own steps
// between loading and "Init completed!".
void LogInitStart(Reporter& reporter);
void LogInitDone(Reporter& reporter);

// The Melt! button: logs the warning, converts the texts, melts, logs
// completion and what moved ("6 objects of block 100, 200 melted into
// UOX3.wsc"). A dry run checks and logs what would move, and writes nothing.
void RunMelt(const WorldFiles& files, std::string_view xText, std::string_view yText, StaIdx& table, Reporter& reporter,
    bool dryRun = false);

// Melt! for every block that the area of tiles touches, as one operation
// (MeltArea) with one summary at its end ("1,200 objects of 16 blocks,
// 100,200 to 103,203, melted into UOX3.wsc"). The area of one block's tiles
// melts as that block does. An area off the map is refused before anything
// is read.
void RunMelt(const WorldFiles& files, const TileArea& area, StaIdx& table, Reporter& reporter, bool dryRun = false);

// The Freeze! button: logs the warning, freezes, logs completion and what
// moved ("20 items frozen into 3 blocks"). With an area, only the items inside
// it, and how many it left outside.
void RunFreeze(const WorldFiles& files, StaIdx& table, Reporter& reporter, bool dryRun = false,
    const std::optional<TileArea>& area = std::nullopt);

// Check files: logs the report of CheckWorld (Check.h); true when the files are healthy.
bool RunCheck(const WorldFiles& files, const StaIdx& table, Reporter& reporter);

// Compact statics: logs the warning, compacts (Compact.h), logs the sizes and completion.
void RunCompact(const WorldFiles& files, StaIdx& table, Reporter& reporter);

// Writes the items a freeze of the world save into the loaded map would take
// into the file outPath, locked meanwhile; the world save stays as it is.
// With an area, only the items in the blocks it touches.
void RunExport(const WorldFiles& files, const std::string& outPath, const StaIdx& table, Reporter& reporter,
    const std::optional<TileArea>& area = std::nullopt);

} // namespace cryo
