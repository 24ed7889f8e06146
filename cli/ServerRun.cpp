#include "ServerRun.h"

#include "File.h"
#include "MapDiffs.h"
#include "RunningServer.h"
#include "ServerPaths.h"
#include "Text.h"

#include <cstdio>

namespace cryo::cli {

const char* const ServerRunningOkHint
    = "--server-running-ok runs the command all the same, for a server that does not save to these files";

namespace {

bool UsesWsc(CommandKind kind)
{
    return kind != CommandKind::List && kind != CommandKind::Compact && kind != CommandKind::Patch
        && kind != CommandKind::Apply;
}

} // namespace

CommandWorld ResolveCommandWorld(const Command& command)
{
    CommandWorld world;
    if (command.Server.empty()) {
        world.Files = {command.StaIdx, command.Statics, command.Wsc};
        world.WorldSave = command.Wsc;
        return world;
    }
    const bool usesWsc = UsesWsc(command.Kind);
    // A patch's current files are the server's; the released ones are given.
    const bool patch = command.Kind == CommandKind::Patch;
    world.Server = ResolveServerWorld({command.Server, command.Map, patch ? command.NewStaIdx : command.StaIdx,
        patch ? command.NewStatics : command.Statics, command.Wsc, command.MapSize, usesWsc});
    world.Files = {world.Server->StaIdx, world.Server->Statics, usesWsc ? world.Server->Wsc : ""};
    world.WorldSave = world.Server->Wsc;
    return world;
}

IndexMap CommandWorld::Map(const Command& command) const
{
    if (Server)
        return Server->Map;
    return {MapOfStaticsFiles(Files.StaIdx, Files.Statics), command.MapSize};
}

bool ChangesFiles(const Command& command, const CommandWorld& world)
{
    switch (command.Kind) {
    case CommandKind::Melt:
    case CommandKind::Freeze:
    case CommandKind::Apply:
        return !command.DryRun;
    case CommandKind::Undo:
    case CommandKind::Compact:
        return true;
    case CommandKind::Export: {
        const std::string& save = world.WorldSave;
        return LiesInFolder(command.Output, FolderExists(save) ? save : FolderOf(save));
    }
    default:
        return false;
    }
}

void CheckForRunningServer(const Command& command, const CommandWorld& world)
{
    const bool refuse = ChangesFiles(command, world) && !command.ServerRunningOk;
    if (const auto warning = CheckRunningServer({command.Server, world.WorldSave}, refuse)) {
        std::fprintf(stderr, "cryoweaver-cli: warning: %s\n", WithFullStop(*warning).c_str());
        std::fflush(stderr);
    }
}

void AddServerWarnings(const CommandWorld& world, const StaIdx& table, CheckReport& report)
{
    if (!world.Server)
        return;
    CheckFinding replaced{"diff_replaced", ReplacedBlocksTitle, 0, {}};
    if (world.Server->MapDiffsEnabled && !world.Server->DiffList.empty()) {
        ReplacedBlocks blocks = BlocksDiffsReplace(world.Server->DiffList, table, CheckReport::MaxExamples);
        replaced.Count = blocks.Count;
        replaced.Examples = std::move(blocks.Examples);
    }
    report.Warnings.push_back(std::move(replaced));
}

void ListServerMaps(const Command& command, Reporter& reporter)
{
    const ServerFolder server = ReadServerFolder(command.Server);
    for (const std::string& line : ServerMapsListing(server, ReadServerMaps(server)))
        reporter.Log(line);
}

} // namespace cryo::cli
