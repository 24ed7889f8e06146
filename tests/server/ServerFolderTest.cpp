// A UOX3 server's own folder: uox.ini and maps.dfn read as the server reads
// them, the files and size of each map, and the errors that name the file
// and line at fault.
#include "ServerFolder.h"
#include "Error.h"
#include "ServerFolders.h"
#include "ServerPaths.h"
#include "ServerScript.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace cryo {
namespace {

using test::ErrorLineOf;
using test::TestServer;

TEST(ServerScript, ReadsKeysAsTheServerDoes)
{
    const ServerScript script("uox.ini",
        "\xEF\xBB\xBFSKIPPED=before any section\r\n[ directories ]\r\n  datadirectory = /srv/uo data/   // the "
        "client\r\nno equals sign\r\n[MAP   2]\n{\nX=2304//tiles\nURL=http://uox3.org/\n\tY\t=\t1600\t\n}\n[map 2]\n"
        "X=2304\n");
    const struct {
        const char* Section;
        const char* Key;
        std::string Found; // "value, line"
    } cases[] = {
        {"DIRECTORIES", "DATADIRECTORY", "/srv/uo data/, 3"},
        {"", "SKIPPED", ""},
        {"MAP 2", "X", "2304, 7"}, // the same value twice is no contradiction
        {"MAP 2", "URL", "http:, 8"},
        {"", "Y", "1600, 9"},
    };
    for (const auto& c : cases) {
        const ScriptEntry* entry = script.Find(c.Section, c.Key);
        EXPECT_EQ(entry == nullptr ? "" : entry->Value + ", " + std::to_string(entry->Line), c.Found) << c.Key;
    }
    const ServerScript twice("/srv/uo/uox.ini", "[directories]\nDATADIRECTORY=a\n[directories]\nDATADIRECTORY=b\n");
    EXPECT_EQ(ErrorLineOf([&] { twice.Find("DIRECTORIES", "DATADIRECTORY"); }),
        "/srv/uo/uox.ini: line 4: DATADIRECTORY=b contradicts DATADIRECTORY=a in line 2: keep the one the server "
        "should use.");
}

TEST(ServerPaths, RelativeToTheServersFolderInEachSystemsNotation)
{
    const struct {
        const char* Folder;
        const char* Relative;
        const char* Joined;
    } joins[] = {
        {"/srv/uo", "./shared/", "/srv/uo/shared"},
        {"/srv/uo", "./", "/srv/uo"},
        {"uo", "../client", "uo/../client"},
        {"/srv/uo", "/opt/uo/", "/opt/uo"},
        {"/", "shared", "/shared"},
#ifdef _WIN32
        {"C:\\UOX3", ".\\shared\\", "C:\\UOX3\\shared"},
        {"C:\\UOX3", "D:\\Ultima Online Classic\\", "D:\\Ultima Online Classic"},
        {"C:\\UOX3", "\\\\server\\uo", "\\\\server\\uo"},
        {"C:/UOX3", "shared", "C:/UOX3/shared"},
        {"C:\\UOX3", "C:\\", "C:\\"},
#else
        {"/srv/uo", "C:\\Ultima Online\\", "/srv/uo/C:\\Ultima Online\\"},
#endif
    };
    for (const auto& c : joins)
        EXPECT_EQ(JoinPath(c.Folder, c.Relative), c.Joined) << c.Folder << " + " << c.Relative;

    const struct {
        const char* Path;
        const char* Foreign;
        const char* Folder;
    } paths[] = {
        {"UOX3.wsc", "", "."},
#ifdef _WIN32
        {"/srv/uo/shared/", "Linux", "/srv/uo"},
        {"C:\\Program Files (x86)\\Ultima Online", "", "C:\\Program Files (x86)"},
        {"/home/uo/client", "Linux", "/home/uo"},
        {"C:\\uox3.exe", "", "C:\\"},
#else
        {"C:\\Program Files (x86)\\Ultima Online", "Windows", "."},
        {"data\\client", "Windows", "."},
        {"/srv/uo/shared/", "", "/srv/uo"},
#endif
    };
    for (const auto& c : paths) {
        EXPECT_EQ(ForeignSystemOf(c.Path), c.Foreign) << c.Path;
        EXPECT_EQ(FolderOf(c.Path), c.Folder) << c.Path;
    }
}

TEST(ServerFolder, ResolvesAMapsFilesAndSizeWithWhatTheUserGivesInstead)
{
    TestServer server;
    // The client's folder relative to the server's, the world save absolute.
    server.WriteIni("[directories]\r\nDATADIRECTORY=../client\r\nSHAREDDIRECTORY=" + server.Shared() + "/\r\n");
    const std::string client = server.Folder() + "/../client/";
    ServerWorld world = ResolveServerWorld({.Folder = server.Folder(), .Map = 2});
    EXPECT_EQ((std::vector<std::string>{world.StaIdx, world.Statics, world.Wsc}),
        (std::vector<std::string>{client + "custom-index.mul", client + "custom-statics.mul", server.Shared()}));
    EXPECT_EQ(world.Map.Size, (MapBlocks{64, 32}));
    // A longer index than the map's table: the server reads the table at its start.
    const std::string longer = server.Client() + "/staidx0.mul";
    EXPECT_EQ(ResolveServerWorld({.Folder = server.Folder(), .Map = 2, .StaIdx = longer}).StaIdx, longer);
    // Given the files and the size, maps.dfn is not read at all.
    server.WriteMaps("[MAP 5]\nX=what\n");
    world = ResolveServerWorld(
        {.Folder = server.Folder(), .Map = 5, .StaIdx = "a", .Statics = "b", .Size = MapBlocks{1, 2}});
    EXPECT_EQ((std::vector<std::string>{world.StaIdx, world.Statics, world.Wsc}),
        (std::vector<std::string>{"a", "b", server.Shared()}));
    EXPECT_EQ(world.Map.Map, 5);
}

TEST(ServerFolder, ErrorsNameTheFileAndTheLineAtFault)
{
    struct Case {
        std::string Ini; // empty: the test server's own
        std::string Maps;
        int Map;
        std::string Error; // {srv}, {client}, {maps} stand for those paths
        std::function<void(const TestServer&)> Change = nullptr;
    };
    const std::string ini = test::TestIni;
    const std::string maps = test::TestMaps;
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const Case cases[] = {
        {"", "", 0,
            "{srv}/uox.ini: There is no uox.ini here, so this is no UOX3 server's folder: give the folder the "
            "server starts from.",
            [](const TestServer& s) { std::filesystem::remove(s.Ini()); }},
        {"", "", 0, "{srv}: This server folder does not exist.",
            [](const TestServer& s) { std::filesystem::remove_all(s.Folder()); }},
        {"[directories]\r\nSHAREDDIRECTORY=./shared/\r\n", "", 0,
            "{srv}/uox.ini: line 1: [directories] has no DATADIRECTORY=, the folder of the client's files."},
        {"[system]\r\nDATADIRECTORY={client}\r\n", "", 0,
            "{srv}/uox.ini: There is no [directories] section with DATADIRECTORY=, the folder of the client's files."},
        {replaced(ini, "DATADIRECTORY={client}/", "DATADIRECTORY=./client/"), "", 0,
            "{srv}/uox.ini: line 4: DATADIRECTORY=./client/ is no folder: {srv}/client does not exist."},
        {replaced(ini, "DATADIRECTORY={client}/", "DATADIRECTORY=./uox.ini"), "", 0,
            "{srv}/uox.ini: line 4: DATADIRECTORY=./uox.ini is no folder: {srv}/uox.ini is a file."},
#ifndef _WIN32
        {replaced(ini, "DATADIRECTORY={client}/",
             "DATADIRECTORY=C:\\Program Files (x86)\\Electronic Arts\\Ultima Online Classic\\"),
            "", 0,
            "{srv}/uox.ini: line 4: DATADIRECTORY=C:\\Program Files (x86)\\Electronic Arts\\Ultima Online Classic\\ "
            "is no folder: {srv}/C:\\Program Files (x86)\\Electronic Arts\\Ultima Online Classic\\ does not exist; it "
            "looks like a Windows path, which Linux cannot open: give the folder as Linux names it."},
#endif
        {replaced(ini, "DEFSDIRECTORY=./dfndata/\r\n", ""), "", 0,
            "{srv}/uox.ini: line 3: DEFSDIRECTORY is not given, and the server's default ./dfndata/ is no folder: "
            "{srv}/dfndata does not exist.",
            [](const TestServer& s) { std::filesystem::rename(s.Folder() + "/dfndata", s.Folder() + "/defs"); }},
        {"", "", 3, "{maps}: There is no [MAP 3] here; the maps defined are 0, 2."},
        {"", replaced(maps, "STAIDX=staidx0.mul\n", ""), 0, "{maps}: line 2: [MAP 0] has no STAIDX= file."},
        {"", replaced(maps, "Y=256", "Y=250"), 2,
            "{maps}: line 16: Y=250 is no size a map can have: give tiles, a multiple of 8 from 8 to 65536."},
        {"", maps + "[MAP 0]\nX=6144\n", 0,
            "{maps}: line 18: [MAP 0] is defined twice, here and in line 2: keep the "
            "one the server should use."},
        {"", replaced(maps, "STATICS=statics0.mul", "STATICS=Statics0.mul"), 0,
#ifdef _WIN32
            ""},
#else
            "{maps}: line 5: STATICS=Statics0.mul names no file: {client}/Statics0.mul does not exist; there is "
            "statics0.mul, whose name differs in case."},
#endif
        // An index too short for the size maps.dfn gives: 768 blocks wide, not 896.
        {"", replaced(maps, "X=6144", "X=7168"), 0,
            "{client}/staidx0.mul: The index holds 4718592 bytes, fewer than the 5505024 of the map of 7168 x 4096 "
            "tiles that {maps} gives in line 7: give the index of that map, or its size with the index."},
    };
    for (const Case& c : cases) {
        TestServer server;
        if (!c.Ini.empty())
            server.WriteIni(c.Ini);
        if (!c.Maps.empty())
            server.WriteMaps(c.Maps);
        if (c.Change)
            c.Change(server);
        const auto before = server.Files();
        std::string expected = c.Error;
        for (const auto& [name, path] : {std::pair<std::string, std::string>{"{srv}", server.Folder()},
                 {"{client}", server.Client()}, {"{maps}", server.MapsDfn()}})
            for (std::size_t at; (at = expected.find(name)) != std::string::npos;)
                expected.replace(at, name.size(), path);
        EXPECT_EQ(ErrorLineOf([&] { ResolveServerWorld({.Folder = server.Folder(), .Map = c.Map}); }), expected);
        EXPECT_EQ(server.Files(), before) << expected;
    }
    // A file given for the folder: the server's uox.ini, or another.
    const TestServer server;
    EXPECT_EQ(ErrorLineOf([&] { ResolveServerWorld({.Folder = server.Ini()}); }),
        server.Ini() + ": This is the server's uox.ini: give the folder that holds it.");
    EXPECT_EQ(ErrorLineOf([&] { ResolveServerWorld({.Folder = server.MapsDfn()}); }),
        server.MapsDfn() + ": This is a file, not a server's folder.");
}

} // namespace
} // namespace cryo
