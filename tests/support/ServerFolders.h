#pragma once

// A UOX3 server's folder made by a test, and programs that run in a folder
// as a server would.

#include "StaIdx.h"
#include "TestSupport.h"

#include <map>
#include <string>

namespace cryo::test {

// Under one temporary folder: the server's folder "uo" with uox.ini, its
// definitions dfndata/maps/maps.dfn and its world save "uo/shared"; the
// client's files in "client", named in uox.ini by its absolute path.
class TestServer {
public:
    TestServer();

    std::string Root() const { return root_.path(); }
    std::string Folder() const { return root_ / "uo"; }
    std::string Client() const { return root_ / "client"; }
    std::string Shared() const { return Folder() + "/shared"; }
    std::string MapsDfn() const { return Folder() + "/dfndata/maps/maps.dfn"; }
    std::string Ini() const { return Folder() + "/uox.ini"; }

    // uox.ini as the server's own: {client} stands for the client's folder.
    void WriteIni(const std::string& text) const;
    void WriteMaps(const std::string& text) const;

    // Every file under the root and its bytes: what a refused command must leave.
    std::map<std::string, Bytes> Files() const;

private:
    TempFolder root_;
};

// The uox.ini and maps.dfn of a server with map 0 (768 x 512 blocks) and a
// custom map 2 of 64 x 32 blocks.
extern const char* const TestIni;
extern const char* const TestMaps;

#ifndef _WIN32
// A copy of sleep named name, run in folder until destroyed; as root it runs
// as the unprivileged user, whose processes every test may look into.
class RunningProgram {
public:
    RunningProgram(const std::string& name, const std::string& folder);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    int Id() const { return process_; }

private:
    TempFolder bin_;
    int process_ = -1;
};
#endif

} // namespace cryo::test
