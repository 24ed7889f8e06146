#pragma once

#include "MapArea.h"
#include "MapSizes.h"

#include <optional>
#include <string>
#include <vector>

namespace cryo::cli {

enum class CommandKind {
    Help,
    Version,
    List,
    Melt,
    Freeze,
    Export,
    Sample,
    Check,
    Compact,
    Undo,
    History,
    Patch,
    Apply,
    Maps,
    Render
};

struct Command {
    CommandKind Kind = CommandKind::Help;
    std::string StaIdx;
    std::string Statics;
    std::string Wsc;
    // The block as numbers, or a tile position in it (--at).
    std::string XText;
    std::string YText;
    std::optional<TilePosition> At;
    // A size in blocks given instead of the one the index's length tells.
    std::optional<MapBlocks> MapSize;
    std::string Folder;
    bool DryRun = false;
    // check: the report as one JSON object.
    bool Json = false;
    // The file an export, a patch or a render writes, or the patch an apply reads.
    std::string Output;
    // patch: the current pair, compared with the released one (StaIdx, Statics).
    std::string NewStaIdx;
    std::string NewStatics;
    // apply: replaces blocks that differ from the release too.
    bool Force = false;
    // The server's folder, whose settings name the files not given, and its map.
    std::string Server;
    int Map = 0;
    // Runs a command that changes files even while a UOX3 server runs on them.
    bool ServerRunningOk = false;
    // render: the client's folder, the tiles per pixel, the block grid.
    std::string Client;
    int Scale = 1;
    bool Grid = false;
    // The blocks that a rectangle of tiles touches.
    std::optional<TileArea> Area;
};

// A command line that cannot be run: the text says what is wrong.
struct UsageError {
    std::string Text;
};

// Parses the arguments after the program name; a wrong command line throws UsageError.
Command ParseCommandLine(const std::vector<std::string>& args);

extern const char* const UsageText;

} // namespace cryo::cli
