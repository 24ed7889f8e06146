#include "ServerFolder.h"

#include "Error.h"
#include "File.h"
#include "ServerPaths.h"
#include "ServerScript.h"
#include "Text.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace cryo {

namespace {

#ifdef _WIN32
constexpr const char* ThisSystem = "Windows";
#else
constexpr const char* ThisSystem = "Linux";
#endif

// The name of a file in the same folder whose name differs from the path's
// only in case: what a folder copied from Windows often holds.
std::string OtherCaseName(const std::string& path)
{
#ifdef _WIN32
    (void)path;
    return {};
#else
    namespace fs = std::filesystem;
    const std::string wanted = LowerCase(fs::path(path).filename().string());
    std::error_code error;
    for (fs::directory_iterator it(FolderOf(path), error), end; !error && it != end; it.increment(error))
        if (LowerCase(it->path().filename().string()) == wanted)
            return it->path().filename().string();
    return {};
#endif
}

// Why a path of another system names nothing here.
std::string ForeignNote(std::string_view path)
{
    const std::string_view foreign = ForeignSystemOf(path);
    return foreign.empty()
        ? ""
        : "; it looks like a " + std::string(foreign) + " path, which " + ThisSystem + " cannot open";
}

std::string CaseHint(const std::string& path)
{
    const std::string other = OtherCaseName(path);
    return other.empty() ? "" : "; there is " + other + ", whose name differs in case";
}

ServerSetting Setting(const ServerScript& ini, const std::string& folder, const char* key, const char* fallback)
{
    ServerSetting setting{key, fallback, {}, 0, false};
    if (const ScriptEntry* entry = ini.Find("DIRECTORIES", key)) {
        setting.Value = entry->Value;
        setting.Line = entry->Line;
    }
    if (!setting.Value.empty() || setting.Line > 0) {
        setting.Path = JoinPath(folder, setting.Value);
        setting.Exists = FolderExists(setting.Path);
    }
    return setting;
}

// A whole number of tiles that makes whole blocks, as a count of blocks.
std::optional<int> Blocks(const std::string& text)
{
    if (text.empty() || text.size() > 5
        || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int tiles = std::stoi(text);
    if (tiles < 8 || tiles > 65536 || tiles % 8 != 0)
        return std::nullopt;
    return tiles / 8;
}

// The number of a "[MAP n]" section, 0 to 5; nothing for any other section.
std::optional<int> MapNumber(const std::string& section)
{
    if (section.size() != 5 || !section.starts_with("MAP ") || section[4] < '0' || section[4] >= '0' + MapCount)
        return std::nullopt;
    return section[4] - '0';
}

ServerMapFile MapFile(const ServerScript& dfn, const ScriptSection& section, const char* key, const std::string& data,
    const std::string& fallback = {})
{
    ServerMapFile file{key, fallback, {}, 0, false};
    if (const ScriptEntry* entry = dfn.Find(section, key)) {
        file.Value = entry->Value;
        file.Line = entry->Line;
    }
    if (!file.Value.empty() && !data.empty()) {
        file.Path = JoinPath(data, file.Value);
        file.Exists = FileExists(file.Path);
    }
    return file;
}

void ReadMap(const ServerScript& dfn, const ScriptSection& section, const std::string& data, ServerMap& map)
{
    const auto fault = [&](int line, std::string text) {
        if (map.Fault.empty()) {
            map.Fault = std::move(text);
            map.FaultLine = line;
        }
    };
    map.StaIdx = MapFile(dfn, section, "STAIDX", data);
    map.Statics = MapFile(dfn, section, "STATICS", data);
    map.Terrain = MapFile(dfn, section, "MAP", data);
    map.TerrainUop = MapFile(dfn, section, "MAPUOPWRAP", data);
    map.DiffList = MapFile(dfn, section, "STATICSDIFFLIST", data, "stadifl" + std::to_string(map.Number) + ".mul");
    for (const ServerMapFile* file : {&map.StaIdx, &map.Statics})
        if (file->Value.empty())
            fault(file->Line > 0 ? file->Line : section.Line, "[" + section.Name + "] has no " + file->Key + "= file");
    const ScriptEntry* x = dfn.Find(section, "X");
    const ScriptEntry* y = dfn.Find(section, "Y");
    if (x == nullptr || y == nullptr)
        fault(section.Line, "[" + section.Name + "] has no " + (x == nullptr ? "X" : "Y") + "= size");
    for (const ScriptEntry* size : {x, y})
        if (size != nullptr && !Blocks(size->Value))
            fault(size->Line,
                size->Key + "=" + size->Value
                    + " is no size a map can have: give tiles, a multiple of 8 from 8 to "
                      "65536");
    if (map.Fault.empty()) {
        map.Size = {*Blocks(x->Value), *Blocks(y->Value)};
        map.SizeLine = x->Line;
    }
}

std::string FolderLine(const char* what, const ServerSetting& setting)
{
    const std::string source = setting.Line > 0 ? "uox.ini line " + std::to_string(setting.Line)
        : setting.Value.empty()                 ? std::string("not in uox.ini")
                                                : std::string("the server's default");
    const std::string line = std::string(what) + ": " + (setting.Path.empty() ? "not known" : setting.Path) + " ("
        + setting.Key + ", " + source + ")";
    const std::string problem = FolderProblem(setting);
    return problem.empty() ? line : line + ": " + problem;
}

std::string Padded(std::string text, std::size_t width)
{
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

} // namespace

ServerFolder ReadServerFolder(const std::string& folder)
{
    if (!FolderExists(folder)) {
        const std::string name = folder.substr(folder.find_last_of("/\\") + 1);
        Error error(!PathExists(folder)        ? "This server folder does not exist" + ForeignNote(folder)
                : LowerCase(name) == "uox.ini" ? "This is the server's uox.ini: give the folder that holds it"
                                               : "This is a file, not a server's folder");
        error.SetFile(folder);
        throw error;
    }
    ServerFolder server;
    server.Folder = folder;
    server.Ini = JoinPath(folder, "uox.ini");
    if (!FileExists(server.Ini)) {
        Error error("There is no uox.ini here, so this is no UOX3 server's folder: give the folder the server starts "
                    "from"
            + CaseHint(server.Ini));
        error.SetFile(server.Ini);
        throw error;
    }
    const ServerScript ini = ReadServerScript(server.Ini);
    for (const ScriptSection& section : ini.Sections())
        if (section.Name == "DIRECTORIES" && server.DirectoriesLine == 0)
            server.DirectoriesLine = section.Line;
    server.Data = Setting(ini, folder, "DATADIRECTORY", "");
    server.Shared = Setting(ini, folder, "SHAREDDIRECTORY", "./shared/");
    server.Defs = Setting(ini, folder, "DEFSDIRECTORY", "./dfndata/");
    if (const ScriptEntry* diffs = ini.Find("", "MAPDIFFSENABLED"))
        server.MapDiffsEnabled = !diffs->Value.empty() && diffs->Value.find_first_not_of('0') != std::string::npos
            && std::all_of(diffs->Value.begin(), diffs->Value.end(), [](char c) { return c >= '0' && c <= '9'; });
    return server;
}

std::string FolderProblem(const ServerSetting& setting)
{
    if (setting.Exists)
        return {};
    return setting.Path.empty() ? "uox.ini does not name it" : "no such folder" + ForeignNote(setting.Value);
}

const std::string& ExistingFolder(const ServerFolder& server, const ServerSetting& setting)
{
    if (setting.Exists)
        return setting.Path;
    Error error(setting.Path.empty()
            ? (server.DirectoriesLine > 0 ? "[directories] has no " : "There is no [directories] section with ")
                + setting.Key + "=, the folder of the client's files"
            : (setting.Line > 0 ? setting.Key + "=" + setting.Value
                                : setting.Key + " is not given, and the server's default " + setting.Value)
                + " is no folder: " + setting.Path + (PathExists(setting.Path) ? " is a file" : " does not exist")
                + ForeignNote(setting.Value)
                + (ForeignSystemOf(setting.Value).empty()
                        ? ""
                        : ": give the folder as " + std::string(ThisSystem) + " names it"));
    error.SetFile(server.Ini);
    const int line = setting.Line > 0 ? setting.Line : server.DirectoriesLine;
    if (line > 0)
        error.SetPlace("line " + std::to_string(line));
    throw error;
}

ServerMaps ReadServerMaps(const ServerFolder& server)
{
    ServerMaps maps;
    maps.Path = JoinPath(JoinPath(ExistingFolder(server, server.Defs), "maps"), "maps.dfn");
    if (!FileExists(maps.Path)) {
        Error error("There is no maps.dfn here, where the server's definitions name its maps" + CaseHint(maps.Path));
        error.SetFile(maps.Path);
        throw error;
    }
    const ServerScript dfn = ReadServerScript(maps.Path);
    const std::string data = server.Data.Exists ? server.Data.Path : "";
    for (const ScriptSection& section : dfn.Sections()) {
        const std::optional<int> number = MapNumber(section.Name);
        if (!number)
            continue;
        for (const ServerMap& other : maps.Maps)
            if (other.Number == *number)
                throw dfn.At(section.Line,
                    "[" + section.Name + "] is defined twice, here and in line " + std::to_string(other.Line)
                        + ": keep the one the server should use");
        ServerMap map;
        map.Number = *number;
        map.Line = section.Line;
        ReadMap(dfn, section, data, map);
        maps.Maps.push_back(std::move(map));
    }
    std::sort(
        maps.Maps.begin(), maps.Maps.end(), [](const ServerMap& a, const ServerMap& b) { return a.Number < b.Number; });
    return maps;
}

const ServerMap& FindServerMap(const ServerMaps& maps, int number)
{
    const auto found
        = std::find_if(maps.Maps.begin(), maps.Maps.end(), [&](const ServerMap& map) { return map.Number == number; });
    if (found != maps.Maps.end() && found->Fault.empty())
        return *found;
    std::string defined;
    for (const ServerMap& map : maps.Maps)
        defined += (defined.empty() ? "" : ", ") + std::to_string(map.Number);
    Error error(found != maps.Maps.end() ? found->Fault
                                         : "There is no [MAP " + std::to_string(number) + "] here; "
                + (defined.empty() ? std::string("no map is defined") : "the maps defined are " + defined));
    error.SetFile(maps.Path);
    if (found != maps.Maps.end())
        error.SetPlace("line " + std::to_string(found->FaultLine));
    throw error;
}

namespace {

// The file a map's definition names, which must exist.
const std::string& ExistingMapFile(const ServerFolder& server, const ServerMaps& maps, const ServerMapFile& file)
{
    ExistingFolder(server, server.Data);
    if (file.Exists)
        return file.Path;
    Error error(file.Key + "=" + file.Value + " names no file: " + file.Path + " does not exist" + CaseHint(file.Path));
    error.SetFile(maps.Path);
    error.SetPlace("line " + std::to_string(file.Line));
    throw error;
}

} // namespace

ServerWorld ResolveServerWorld(const ServerWorldRequest& request)
{
    const ServerFolder server = ReadServerFolder(request.Folder);
    ServerWorld world;
    world.Map.Map = request.Map;
    world.Map.Size = request.Size;
    world.MapDiffsEnabled = server.MapDiffsEnabled;
    const bool needsMaps = request.StaIdx.empty() || request.Statics.empty() || !request.Size;
    if (needsMaps) {
        const ServerMaps maps = ReadServerMaps(server);
        const ServerMap& map = FindServerMap(maps, request.Map);
        world.StaIdx = request.StaIdx.empty() ? ExistingMapFile(server, maps, map.StaIdx) : request.StaIdx;
        world.Statics = request.Statics.empty() ? ExistingMapFile(server, maps, map.Statics) : request.Statics;
        if (map.DiffList.Exists)
            world.DiffList = map.DiffList.Path;
        if (!request.Size) {
            world.Map.Size = map.Size;
            // The server reads the table at the start of the index; a shorter
            // one would be read past its end.
            const std::uint64_t needed = std::uint64_t{12} * static_cast<std::uint64_t>(map.Size.Width)
                * static_cast<std::uint64_t>(map.Size.Height);
            const std::uint64_t held = IdentityOf(world.StaIdx).Size;
            if (held < needed) {
                Error error("The index holds " + std::to_string(held) + " bytes, fewer than the "
                    + std::to_string(needed) + " of the map of " + std::to_string(map.Size.Width * 8) + " x "
                    + std::to_string(map.Size.Height * 8) + " tiles that " + maps.Path + " gives in line "
                    + std::to_string(map.SizeLine) + ": give the index of that map, or its size with the index");
                error.SetFile(world.StaIdx);
                throw error;
            }
        }
    } else {
        world.StaIdx = request.StaIdx;
        world.Statics = request.Statics;
    }
    if (!request.Wsc.empty())
        world.Wsc = request.Wsc;
    else if (request.NeedsWsc)
        world.Wsc = ExistingFolder(server, server.Shared);
    else
        world.Wsc = server.Shared.Path;
    return world;
}

std::vector<std::string> ServerMapsListing(const ServerFolder& server, const ServerMaps& maps)
{
    std::vector<std::string> lines{FolderLine("Client files", server.Data), FolderLine("World save", server.Shared),
        FolderLine("Definitions", server.Defs), "Maps in " + maps.Path + ":"};
    if (maps.Maps.empty())
        lines.emplace_back("  none");
    for (const ServerMap& map : maps.Maps) {
        if (!map.Fault.empty()) {
            lines.push_back(
                "Map " + std::to_string(map.Number) + ": line " + std::to_string(map.FaultLine) + ": " + map.Fault);
            continue;
        }
        lines.push_back("Map " + std::to_string(map.Number) + ": " + std::to_string(map.Size.Width * 8) + " x "
            + std::to_string(map.Size.Height * 8) + " tiles (" + std::to_string(map.Size.Width) + " x "
            + std::to_string(map.Size.Height) + " blocks)");
        for (const ServerMapFile* file : {&map.StaIdx, &map.Statics, &map.Terrain, &map.TerrainUop}) {
            if (file->Line == 0)
                continue;
            lines.push_back("  " + Padded(file->Key, 11) + Padded(file->Exists ? "found" : "missing", 9)
                + (file->Path.empty() ? file->Value : file->Path));
        }
    }
    return lines;
}

} // namespace cryo
