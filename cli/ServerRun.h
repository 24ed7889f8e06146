#pragma once

// What the command line takes from a UOX3 server's folder (--server): the
// files and the map a command works on, the running-server check every
// command makes first, and the listing of the server's maps.

#include "Actions.h"
#include "Check.h"
#include "CommandLine.h"
#include "ServerFolder.h"

#include <optional>
#include <string>

namespace cryo::cli {

struct CommandWorld {
    WorldFiles Files;
    std::optional<ServerWorld> Server; // when --server was given
    std::string WorldSave; // where a server would save, for the running-server check

    // The map to load the index as: the server's, or the number in the files' names.
    IndexMap Map(const Command& command) const;
};

// The files the options name, the server's folder naming those not given.
CommandWorld ResolveCommandWorld(const Command& command);

// Whether the command changes files (a dry run does not; an export only
// when it writes into the world save's own folder).
bool ChangesFiles(const Command& command, const CommandWorld& world);

// Stops a command that changes files while a UOX3 server runs on its world,
// unless --server-running-ok; otherwise warns on standard error.
void CheckForRunningServer(const Command& command, const CommandWorld& world);

// The hint for the error the check above raises.
extern const char* const ServerRunningOkHint;

// Adds to check's report the blocks that the server's diff files replace.
void AddServerWarnings(const CommandWorld& world, const StaIdx& table, CheckReport& report);

// "maps --server DIR": prints the maps and their files.
void ListServerMaps(const Command& command, Reporter& reporter);

} // namespace cryo::cli
