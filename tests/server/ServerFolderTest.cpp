// A UOX3 server's own folder: uox.ini and maps.dfn read as the server reads
// them, the files and size of each map, and the errors that name the file
// and line at fault.
#include "ServerFolder.h"
#include "Error.h"
#include "MapDiffs.h"
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
    const std::string text = "\xEF\xBB\xBF"
                             "SKIPPED=before any section\r\n"
                             "[ directories ]\r\n"
                             "  datadirectory = /srv/uo data/   // where the client is\r\n"
                             "SharedDirectory=./shared/\r\n"
                             "no equals sign here\r\n"
                             "[MAP   2]\n"
                             "{\n"
                             "X=2304//tiles\n"
                             "URL=http://uox3.org/\n"
                             "\tY\t=\t1600\t\n"
                             "}\n"
                             "[map 2]\n"
                             "X=2304\n";
    const ServerScript script("uox.ini", text);
    ASSERT_EQ(script.Sections().size(), 3u);
    EXPECT_EQ(script.Sections()[0].Name, "DIRECTORIES");
    EXPECT_EQ(script.Sections()[1].Name, "MAP 2");
    EXPECT_EQ(script.Sections()[1].Line, 6);
    const struct {
        const char* Section;
        const char* Key;
        const char* Value; // nullptr: not found
        int Line;
    } cases[] = {
        {"DIRECTORIES", "DATADIRECTORY", "/srv/uo data/", 3},
        {"DIRECTORIES", "SHAREDDIRECTORY", "./shared/", 4},
        {"DIRECTORIES", "SKIPPED", nullptr, 0},
        {"", "SKIPPED", nullptr, 0},
        {"MAP 2", "X", "2304", 8}, // the same value twice is no contradiction
        {"MAP 2", "Y", "1600", 10},
        {"MAP 2", "URL", "http:", 9},
        {"", "Y", "1600", 10},
        {"MAP 3", "X", nullptr, 0},
    };
    for (const auto& c : cases) {
        const ScriptEntry* entry = script.Find(c.Section, c.Key);
        if (c.Value == nullptr) {
            EXPECT_EQ(entry, nullptr) << c.Key;
            continue;
        }
        ASSERT_NE(entry, nullptr) << c.Key;
        EXPECT_EQ(entry->Value, c.Value);
        EXPECT_EQ(entry->Line, c.Line);
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
        {"/srv/uo/", "shared", "/srv/uo/shared"},
        {"/srv/uo", ".", "/srv/uo"},
        {"/srv/uo", "./", "/srv/uo"},
        {"uo", "../client", "uo/../client"},
        {"/srv/uo", "/opt/uo/", "/opt/uo"},
        {"/", "shared", "/shared"},
#ifdef _WIN32
        {"C:\\UOX3", ".\\shared\\", "C:\\UOX3\\shared"},
        {"C:\\UOX3\\", "dfndata/maps", "C:\\UOX3\\dfndata/maps"},
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
        {"shared/0.0.wsc", "", "shared"},
        {"UOX3.wsc", "", "."},
#ifdef _WIN32
        {"/srv/uo/shared/", "Linux", "/srv/uo"},
        {"C:\\Program Files (x86)\\Ultima Online", "", "C:\\Program Files (x86)"},
        {"/home/uo/client", "Linux", "/home/uo"},
        {"C:\\uox3.exe", "", "C:\\"},
#else
        {"C:\\Program Files (x86)\\Ultima Online", "Windows", "."},
        {"D:/uo/client", "Windows", "D:/uo"},
        {"data\\client", "Windows", "."},
        {"/home/uo/client", "", "/home/uo"},
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
    const std::string folder = server.Folder();
    const std::string given = server.Client() + "/staidx0.mul";
    const struct {
        ServerWorldRequest Request;
        std::vector<std::string> Files; // index, statics, world save
        MapBlocks Size;
    } cases[] = {
        {{.Folder = folder, .Map = 0}, {client + "staidx0.mul", client + "statics0.mul", server.Shared()}, {768, 512}},
        {{.Folder = folder, .Map = 2}, {client + "custom-index.mul", client + "custom-statics.mul", server.Shared()},
            {64, 32}},
        // A longer index than the map's table: the server reads the table at its start.
        {{.Folder = folder, .Map = 2, .StaIdx = given, .Wsc = "/x/UOX3.wsc"},
            {given, client + "custom-statics.mul", "/x/UOX3.wsc"}, {64, 32}},
        // Given all three, maps.dfn is not read at all.
        {{.Folder = folder, .Map = 5, .StaIdx = "a.mul", .Statics = "b.mul", .Size = MapBlocks{1, 2}},
            {"a.mul", "b.mul", server.Shared()}, {1, 2}},
    };
    for (const auto& c : cases) {
        if (c.Request.Map == 5)
            server.WriteMaps("[MAP 5]\nX=what\n");
        const ServerWorld world = ResolveServerWorld(c.Request);
        EXPECT_EQ((std::vector<std::string>{world.StaIdx, world.Statics, world.Wsc}), c.Files);
        EXPECT_EQ(world.Map.Map, c.Request.Map);
        EXPECT_EQ(world.Map.Size, c.Size);
        EXPECT_FALSE(world.MapDiffsEnabled);
    }
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
#ifndef _WIN32
        {"", "", 0,
            "{srv}/uox.ini: There is no uox.ini here, so this is no UOX3 server's folder: give the folder the "
            "server starts from; there is UOX.INI, whose name differs in case.",
            [](const TestServer& s) { std::filesystem::rename(s.Ini(), s.Folder() + "/UOX.INI"); }},
#endif
        {"", "", 0, "{srv}: This server folder does not exist.",
            [](const TestServer& s) { std::filesystem::remove_all(s.Folder()); }},
        {"[directories]\r\nSHAREDDIRECTORY=./shared/\r\n", "", 0,
            "{srv}/uox.ini: line 1: [directories] has no DATADIRECTORY=, the folder of the client's files."},
        {"[system]\r\nDATADIRECTORY={client}\r\n", "", 0,
            "{srv}/uox.ini: There is no [directories] section with DATADIRECTORY=, the folder of the client's files."},
        {replaced(ini, "DATADIRECTORY={client}/", "DATADIRECTORY=./client/"), "", 0,
            "{srv}/uox.ini: line 4: DATADIRECTORY=./client/ is no folder: {srv}/client does not exist."},
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
        {"", "// nothing yet\n", 0, "{maps}: There is no [MAP 0] here; no map is defined."},
        {"", replaced(maps, "STAIDX=staidx0.mul\n", ""), 0, "{maps}: line 2: [MAP 0] has no STAIDX= file."},
        {"", replaced(maps, "Y=256", "Y=250"), 2,
            "{maps}: line 16: Y=250 is no size a map can have: give tiles, a multiple of 8 from 8 to 65536."},
        {"", replaced(maps, "X=512", "X=\n"), 2,
            "{maps}: line 15: X= is no size a map can have: give tiles, a multiple of 8 from 8 to 65536."},
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
        {"", replaced(maps, "STAIDX=custom-index.mul", "STAIDX=gone.mul"), 2,
            "{maps}: line 14: STAIDX=gone.mul names no file: {client}/gone.mul does not exist."},
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
}

TEST(ServerFolder, ListsEveryMapWithItsSizeAndFiles)
{
    TestServer server;
    server.WriteMaps(std::string(test::TestMaps)
        + "[MAP 1]\nSTAIDX=staidx0.mul\nSTATICS=statics0.mul\nMAP=map0.mul\n"
          "MAPUOPWRAP=map0LegacyMUL.uop\nX=6144\nY=4096\n[MAP 4]\nX=1448\n");
    test::WriteText(server.Client() + "/map0LegacyMUL.uop", "");
    const ServerFolder folder = ReadServerFolder(server.Folder());
    const std::string client = server.Client() + "/";
    EXPECT_EQ(ServerMapsListing(folder, ReadServerMaps(folder)),
        (std::vector<std::string>{
            "Client files: " + server.Client() + " (DATADIRECTORY, uox.ini line 4)",
            "World save: " + server.Shared() + " (SHAREDDIRECTORY, uox.ini line 6)",
            "Definitions: " + server.Folder() + "/dfndata (DEFSDIRECTORY, uox.ini line 5)",
            "Maps in " + server.MapsDfn() + ":",
            "Map 0: 6144 x 4096 tiles (768 x 512 blocks)",
            "  STAIDX     found    " + client + "staidx0.mul",
            "  STATICS    found    " + client + "statics0.mul",
            "  MAP        missing  " + client + "map0.mul",
            "Map 1: 6144 x 4096 tiles (768 x 512 blocks)",
            "  STAIDX     found    " + client + "staidx0.mul",
            "  STATICS    found    " + client + "statics0.mul",
            "  MAP        missing  " + client + "map0.mul",
            "  MAPUOPWRAP found    " + client + "map0LegacyMUL.uop",
            "Map 2: 512 x 256 tiles (64 x 32 blocks)",
            "  STAIDX     found    " + client + "custom-index.mul",
            "  STATICS    found    " + client + "custom-statics.mul",
            "Map 4: line 25: [MAP 4] has no STAIDX= file",
        }));

#ifndef _WIN32
    // A client's folder that is not there, as a Windows path on Linux: every file is missing.
    server.WriteIni("[directories]\nDATADIRECTORY=D:\\UO\\\nSHAREDDIRECTORY=gone\n");
    const ServerFolder elsewhere = ReadServerFolder(server.Folder());
    const std::vector<std::string> lines = ServerMapsListing(elsewhere, ReadServerMaps(elsewhere));
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
        (std::vector<std::string>{"Client files: " + server.Folder()
                + "/D:\\UO\\ (DATADIRECTORY, uox.ini line 2): "
                  "no such folder; it looks like a Windows path, "
                  "which Linux cannot open",
            "World save: " + server.Folder() + "/gone (SHAREDDIRECTORY, uox.ini line 3): no such folder",
            "Definitions: " + server.Folder() + "/dfndata (DEFSDIRECTORY, the server's default)"}));
    EXPECT_EQ(lines[5], "  STAIDX     missing  staidx0.mul");
#endif
}

TEST(MapDiffs, NamesTheBlocksWithObjectsThatADiffReplaces)
{
    test::TempFolder dir;
    StaIdx table({4, 3});
    for (TStaIdxEntry& entry : table.Entries)
        entry = {-1, 0, 0};
    table.At(0, 1) = {0, 7, 0};
    table.At(1, 0) = {7, 14, 0};
    table.At(2, 2) = {21, 3, 0}; // no whole object
    table.At(3, 2) = {28, 7, 0};
    // Blocks 1, 3 (twice), 4, 8 and 11 in the list; one past the map, and a cut-off record.
    test::WriteBytes(dir / "stadifl0.mul",
        {11, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0, 8, 0, 0, 0, 12, 0, 0, 0, 7});
    const ReplacedBlocks all = BlocksDiffsReplace(dir / "stadifl0.mul", table, 5);
    EXPECT_EQ(all.Count, 3u);
    EXPECT_EQ(all.Examples, (std::vector<std::string>{"block 0, 1", "block 1, 0", "block 3, 2"}));
    const ReplacedBlocks first = BlocksDiffsReplace(dir / "stadifl0.mul", table, 1);
    EXPECT_EQ(first.Count, 3u);
    EXPECT_EQ(first.Examples, std::vector<std::string>{"block 0, 1"});
    EXPECT_EQ(ErrorLineOf([&] { BlocksDiffsReplace(dir / "gone.mul", table, 5); }), dir / "gone.mul: File not found.");
}

} // namespace
} // namespace cryo
