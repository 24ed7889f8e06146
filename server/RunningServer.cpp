#include "RunningServer.h"

#include "File.h"
#include "ServerPaths.h"
#include "Text.h"

#include <algorithm>

namespace cryo {

namespace {

std::string Describe(const ServerProcess& process)
{
    return "process " + std::to_string(process.Id) + ", " + process.Program;
}

std::string ErrorText(const ServerProcess& process)
{
    if (process.Folder.empty())
        return "A UOX3 server runs whose folder this user may not see (" + Describe(process)
            + "): if it runs on this world, it would overwrite the change at its next save. Stop it first, or run as "
              "its user so that its folder can be seen; no file was changed";
    return "A UOX3 server runs from this folder (" + Describe(process)
        + ") and would overwrite the change at its next save: stop it first; no file was changed";
}

} // namespace

bool IsServerProgram(std::string_view name)
{
    const std::string lower = LowerCase(name);
    return lower == "uox3" || lower == "uox3.exe";
}

std::vector<std::string> ServerFoldersOf(const WorldPlace& place)
{
    std::vector<std::string> folders;
    if (!place.ServerFolder.empty())
        folders.push_back(place.ServerFolder);
    if (!place.WorldSave.empty()) {
        const std::string save = FolderExists(place.WorldSave) ? place.WorldSave : FolderOf(place.WorldSave);
        folders.push_back(save);
        folders.push_back(JoinPath(save, ".."));
    }
    return folders;
}

std::vector<ServerProcess> FindRunningServers(const std::vector<std::string>& folders)
{
    std::vector<ServerProcess> found;
    if (folders.empty())
        return found;
    for (ServerProcess& process : sys::ServerProcesses()) {
        const bool there = process.Folder.empty()
            || std::any_of(folders.begin(), folders.end(),
                [&](const std::string& folder) { return sys::SameFolder(process.FolderAccess, folder); });
        if (there)
            found.push_back(std::move(process));
    }
    // One that surely runs here comes before one that may.
    std::stable_partition(
        found.begin(), found.end(), [](const ServerProcess& process) { return !process.Folder.empty(); });
    return found;
}

ServerRunningError::ServerRunningError(const ServerProcess& process)
    : Error(ErrorText(process))
    , process_(process)
{
    if (!process.Folder.empty())
        SetFile(process.Folder);
}

std::optional<std::string> CheckRunningServer(const WorldPlace& place, bool changes)
{
    const std::vector<ServerProcess> servers = FindRunningServers(ServerFoldersOf(place));
    if (servers.empty())
        return std::nullopt;
    const ServerProcess& server = servers.front();
    if (changes)
        throw ServerRunningError(server);
    if (server.Folder.empty())
        return "A UOX3 server runs whose folder this user may not see (" + Describe(server)
            + "); if it runs on this world, it may rewrite the files meanwhile";
    return server.Folder + ": A UOX3 server runs from this folder (" + Describe(server)
        + "); it may rewrite the files meanwhile, and overwrites changes to them at its next save";
}

bool LiesInFolder(const std::string& path, const std::string& folder)
{
    return sys::SameFolder(FolderOf(path), folder);
}

} // namespace cryo
