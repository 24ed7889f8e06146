#pragma once

// A UOX3 server's own folder, the one it starts from: what its uox.ini says
// about where the client's files, the world save and the definitions are,
// the maps its maps.dfn defines, and the files and size of one map, as the
// server itself would find them. Relative paths are taken from the server's
// folder, and the file names of maps.dfn from the client's folder.

#include "MapSizes.h"
#include "StaIdx.h"

#include <optional>
#include <string>
#include <vector>

namespace cryo {

// A folder uox.ini names.
struct ServerSetting {
    std::string Key; // "DATADIRECTORY"
    std::string Value; // as uox.ini gives it, or the server's default
    std::string Path; // taken from the server's folder; empty when not given
    int Line = 0; // 0: not in uox.ini
    bool Exists = false;
};

struct ServerFolder {
    std::string Folder;
    std::string Ini; // the path of uox.ini
    int DirectoriesLine = 0; // of its [directories] line
    ServerSetting Data; // DATADIRECTORY: the client's files (no default)
    ServerSetting Shared; // SHAREDDIRECTORY: the world save (default ./shared/)
    ServerSetting Defs; // DEFSDIRECTORY: the definitions (default ./dfndata/)
    bool MapDiffsEnabled = false; // MAPDIFFSENABLED=1: diff files replace blocks
};

// Reads uox.ini in the folder. A folder that does not exist, or holds no
// uox.ini, is refused; the folders it names are looked up but not required.
ServerFolder ReadServerFolder(const std::string& folder);

// The setting's folder; refused, naming uox.ini and the line, when the
// setting is missing or names no folder (saying when its value looks like a
// path of another system).
const std::string& ExistingFolder(const ServerFolder& server, const ServerSetting& setting);

// What is wrong with a setting's folder, for a listing; empty when it exists.
std::string FolderProblem(const ServerSetting& setting);

// A file a map's definition names.
struct ServerMapFile {
    std::string Key; // "STAIDX"
    std::string Value; // as maps.dfn gives it; empty when it gives none
    std::string Path; // in the client's folder; empty when that is not known
    int Line = 0;
    bool Exists = false;
};

// One [MAP n] section of maps.dfn.
struct ServerMap {
    int Number = 0;
    int Line = 0;
    MapBlocks Size;
    int SizeLine = 0; // of its X= line
    ServerMapFile StaIdx;
    ServerMapFile Statics;
    ServerMapFile Terrain; // MAP: map0.mul
    ServerMapFile TerrainUop; // MAPUOPWRAP: map0LegacyMUL.uop
    ServerMapFile DiffList; // STATICSDIFFLIST, or stadifl<n>.mul: the blocks diff files replace
    // Why the server cannot use the definition, and the line at fault; empty
    // when it can.
    std::string Fault;
    int FaultLine = 0;
};

struct ServerMaps {
    std::string Path; // maps.dfn
    std::vector<ServerMap> Maps; // by number, 0 to 5
};

// Reads maps.dfn under the definitions folder; a section defined twice is
// refused, naming both lines.
ServerMaps ReadServerMaps(const ServerFolder& server);

// The map of that number; refused, naming maps.dfn and the maps it defines,
// when there is none, and naming the line at fault when its definition is
// faulty.
const ServerMap& FindServerMap(const ServerMaps& maps, int number);

// The files a command works on, taken from the server's folder where the
// user gives none of their own.
struct ServerWorldRequest {
    std::string Folder{};
    int Map = 0;
    std::string StaIdx{}; // empty: the map's own, from maps.dfn
    std::string Statics{};
    std::string Wsc{}; // empty: the shared folder
    std::optional<MapBlocks> Size{}; // empty: the map's size from maps.dfn
    bool NeedsWsc = true; // false: the shared folder need not exist
};

struct ServerWorld {
    std::string StaIdx;
    std::string Statics;
    std::string Wsc;
    IndexMap Map;
    bool MapDiffsEnabled = false;
    std::string DiffList; // the map's list of blocks diff files replace; empty when not known
};

// Resolves the request: every file the server's settings name must exist, and
// the index must hold the table of the size maps.dfn gives (the error names
// both). Nothing is read but uox.ini, maps.dfn and the index's size.
ServerWorld ResolveServerWorld(const ServerWorldRequest& request);

// The folders and maps as "cryoweaver-cli maps" shows them: each map's
// number, size and files, and whether each is there.
std::vector<std::string> ServerMapsListing(const ServerFolder& server, const ServerMaps& maps);

} // namespace cryo
