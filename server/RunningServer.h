#pragma once

// A UOX3 server never reads files changed while it runs, and overwrites them
// at its next save: a freeze of its Type 255 items is undone and the objects
// stand twice, a melt's items vanish while their block is already empty. So
// every command that changes a world first looks for a server running on it:
// a process whose program is named uox3 (any case, with or without .exe) that
// runs from the server's folder or from the folder of the world save or the
// one above it, where the server starts. On Linux a process's working folder
// tells where it runs (/proc/<pid>/cwd), on Windows the folder of its program.

#include "Error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cryo {

struct ServerProcess {
    std::int64_t Id = 0;
    std::string Program; // "uox3", "UOX3.EXE"
    std::string Folder; // where it runs; empty when this user may not see it
    std::string FolderAccess; // a path to that folder to compare it by ("/proc/<pid>/cwd")
};

// Whether a program of that name is a UOX3 server: "uox3" or "uox3.exe" in any case.
bool IsServerProgram(std::string_view name);

// Where a command works: the server's folder (empty when not given) and the
// world save (a file or a folder; empty for a command without one).
struct WorldPlace {
    std::string ServerFolder;
    std::string WorldSave;
};

// The folders a server on that world runs from: the server's folder, the
// world save's folder (the save itself when it is one) and the folder above.
std::vector<std::string> ServerFoldersOf(const WorldPlace& place);

// The UOX3 servers that run from one of the folders, and those whose folder
// this user may not see (another user's, on Linux): they may run there too.
std::vector<ServerProcess> FindRunningServers(const std::vector<std::string>& folders);

// A command that changes files, stopped before it changes anything because a
// server runs on the world.
class ServerRunningError : public Error {
public:
    explicit ServerRunningError(const ServerProcess& process);
    const ServerProcess& Process() const { return process_; }

private:
    ServerProcess process_;
};

// The one check every command makes before it touches a world. A command
// that changes files (changes) throws ServerRunningError when a server runs
// on the world; one that only reads, or one the user lets run all the same,
// gets the warning to show. Nothing when no server runs.
std::optional<std::string> CheckRunningServer(const WorldPlace& place, bool changes);

// Whether the file lies in that folder (compared as folders, not as texts):
// an export into the world save's own folder changes the world.
bool LiesInFolder(const std::string& path, const std::string& folder);

namespace sys {

// The processes named uox3 (IsServerProgram), each with the folder it runs
// from, or an empty folder when this user may not see it.
std::vector<ServerProcess> ServerProcesses();

// Whether two paths name the same existing folder, however they are spelt.
bool SameFolder(const std::string& a, const std::string& b);

} // namespace sys

} // namespace cryo
