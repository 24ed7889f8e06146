// The command line run on a UOX3 server's folder (--server), and never behind
// the back of a server running on the world.
#include "ServerFolders.h"
#include "StaIdx.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace cryo {
namespace {

using test::RunningProgram;
using test::TestServer;
using Result = test::ProgramRun;

Result Cli(std::vector<std::string> args, const test::ChildLimits& limits = {})
{
    args.insert(args.begin(), CRYOWEAVER_CLI);
    return test::RunProgram(args, limits);
}

// A server whose map 0 is the sample world (block 100, 200 holds six
// objects) and whose custom map 2 (64 x 32 blocks) holds one object in
// block 10, 5; its world save, the shared folder, is empty.
struct SampleServer {
    SampleServer()
    {
        const Result sample = Cli({"sample", server.Client()});
        EXPECT_EQ(sample.Status, 0) << sample.Err;
        server.WriteMaps("[MAP 0]\r\n{\r\nSTAIDX=StaIdx0.mul\r\nSTATICS=Statics0.mul\r\nX=6144\r\nY=4096\r\n}\r\n"
                         "[MAP 2]\r\n{\r\nSTAIDX=custom-index.mul\r\nSTATICS=custom-statics.mul\r\nX=512\r\nY=256\r\n}"
                         "\r\n");
        StaIdx map2({64, 32});
        for (TStaIdxEntry& entry : map2.Entries)
            entry = {-1, 0, 0};
        map2.At(10, 5) = {0, 7, 0};
        test::WriteBytes(server.Client() + "/custom-index.mul", test::IndexBytes(map2));
        test::WriteBytes(server.Client() + "/custom-statics.mul", test::ItemBytes({{0x1234, 3, 4, 7, 0x21}}));
    }

    Result Run(
        const std::string& command, std::vector<std::string> rest = {}, const test::ChildLimits& limits = {}) const
    {
        rest.insert(rest.begin(), {command, "--server", server.Folder()});
        return Cli(rest, limits);
    }

    TestServer server;
};

const char* const SampleBlock = "Item #1: Item ID = 0E ED, X = 803, Y = 1605, Z = -5, Color = 00 00\n"
                                "Item #2: Item ID = 00 64, X = 800, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #3: Item ID = 00 65, X = 801, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #4: Item ID = 00 66, X = 802, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #5: Item ID = 04 95, X = 804, Y = 1604, Z = 0, Color = 04 81\n"
                                "Item #6: Item ID = 0B 41, X = 806, Y = 1602, Z = 3, Color = 00 00\n";

TEST(ServerCommandLine, EveryCommandFindsItsFilesInTheServersFolder)
{
    const SampleServer sample;
    const TestServer& server = sample.server;
    const std::string client = server.Client() + "/";
    const std::string region = server.Shared() + "/3.1.wsc";
    const struct {
        std::vector<std::string> Args;
        std::string Out;
        int Status = 0;
    } steps[] = {
        {{"list", "100", "200"}, SampleBlock},
        {{"melt", "100", "200"},
            "Melting in progress... Cryoweaver may look crashed, do not interrupt!\nHighest serial: 00 00 00 00\n"
            "Items added to "
                + region + ": 6\nWriting StaIdx file...\nDone!\nMelting completed!\n"},
        {{"list", "100", "200"}, ""},
        {{"history"}, "melt of block 100,200\n"},
        {{"export", server.Root() + "/patch.wsc"}, "Items exported to " + server.Root() + "/patch.wsc: 6\n"},
        {{"check"},
            "Unreferenced bytes in the statics file: 42 of 63 (66.7%); compact reclaims them\nNo problems "
            "found\n"},
        {{"freeze"},
            "Freezing in progress... Cryoweaver may look crashed, do not interrupt!\nItems taken from " + region
                + ": 6\nExtracting from WSC... XBlock: 100 YBlock: 200\nAppending to Statics... XBlock: 100 YBlock: "
                  "200\nFreezing completed!\n"},
        {{"list", "--at", "803,1605"}, SampleBlock},
        {{"compact"},
            "Compacting in progress... Cryoweaver may look crashed, do not interrupt!\nStatics file: 105 bytes "
            "before, 63 after; 42 bytes reclaimed\nCompacting completed!\n"},
        {{"undo"}, "Undoing the compact of the statics file from 105 to 63 bytes of {when}...\nUndo completed!\n"},
    };
    for (const auto& step : steps) {
        const Result run = sample.Run(step.Args[0], std::vector<std::string>(step.Args.begin() + 1, step.Args.end()));
        std::string out = run.Out;
        // The times of history and undo.
        if (step.Args[0] == "history")
            out = out.substr(out.find("  ") + 2);
        if (const std::size_t of = out.find(" bytes of "); step.Args[0] == "undo" && of != std::string::npos)
            out.replace(of + 10, 16, "{when}");
        EXPECT_EQ(out, step.Out) << step.Args[0];
        EXPECT_EQ(run.Err, "") << step.Args[0];
        EXPECT_EQ(run.Status, step.Status) << step.Args[0];
    }
    EXPECT_EQ(test::ReadText(server.Root() + "/patch.wsc").substr(0, 64),
        "[ITEM]\nSerial=0x40000000\nID=0xeed\nColour=0x0\nName=#\nLocation=803");
    const Result maps = sample.Run("maps");
    EXPECT_EQ(maps.Status, 0);
    EXPECT_EQ(maps.Out,
        "Client files: " + server.Client() + " (DATADIRECTORY, uox.ini line 4)\nWorld save: " + server.Shared()
            + " (SHAREDDIRECTORY, uox.ini line 6)\nDefinitions: " + server.Folder()
            + "/dfndata (DEFSDIRECTORY, uox.ini line 5)\nMaps in " + server.MapsDfn()
            + ":\nMap 0: 6144 x 4096 tiles (768 x 512 blocks)\n  STAIDX     found    " + client
            + "StaIdx0.mul\n  STATICS    found    " + client
            + "Statics0.mul\nMap 2: 512 x 256 tiles (64 x 32 blocks)\n  STAIDX     found    " + client
            + "custom-index.mul\n  STATICS    found    " + client + "custom-statics.mul\n");
}

TEST(ServerCommandLine, ACustomMapsSizeAndWorldComeFromMapsDfn)
{
    const SampleServer sample;
    const TestServer& server = sample.server;
    EXPECT_EQ(sample.Run("list", {"--map", "2", "--at", "83,44"}).Out,
        "Item #1: Item ID = 12 34, X = 83, Y = 44, Z = 7, Color = 00 21\n");
    const Result off = sample.Run("list", {"--map", "2", "--at", "512,0"});
    EXPECT_EQ(off.Err, "cryoweaver-cli: The position 512,0 lies outside the map of 512 x 256 tiles.\n");
    // Its items stand in world 2, though the files' names carry no map number.
    ASSERT_EQ(sample.Run("melt", {"--map", "2", "10", "5"}).Status, 0);
    EXPECT_EQ(test::ReadText(server.Shared() + "/0.0.wsc"),
        "[ITEM]\nSerial=0x40000000\nID=0x1234\nColour=0x21\nName=#\nLocation=83,44,7,2,0\nCont=0xffffffff\n"
        "Type=255\nMovable=2\n\no---o\n\n");
    const Result map0 = sample.Run("freeze");
    EXPECT_EQ(map0.Out,
        "Freezing in progress... Cryoweaver may look crashed, do not interrupt!\nNot frozen: [ITEM] Serial=0x40000000 "
        "in 0.0.wsc, line 1 is in world 2\nFreezing completed!\n");
    const Result map2 = sample.Run("freeze", {"--map", "2"});
    EXPECT_EQ(map2.Status, 0) << map2.Err;
    EXPECT_EQ(test::ReadText(server.Shared() + "/0.0.wsc"), "");

    // What the user gives overrides the server's own: here the sample's classic world save and another size.
    const std::string wsc = server.Client() + "/UOX3.wsc";
    const Result classic = sample.Run("melt", {"--wsc", wsc, "--map-size", "6144x4096", "100", "200"});
    EXPECT_EQ(classic.Status, 0) << classic.Err;
    EXPECT_NE(test::ReadText(wsc).find("SECTION WORLDITEM 10\r\n"), std::string::npos);
    // Map 2's index, whose block 10, 5 now refers to the frozen copy at byte 7, read from the sample's statics
    // file instead: its second object.
    const Result statics
        = sample.Run("list", {"--statics", server.Client() + "/Statics0.mul", "--map", "2", "10", "5"});
    EXPECT_EQ(statics.Out, "Item #1: Item ID = 00 64, X = 80, Y = 40, Z = 0, Color = 00 00\n");
}

TEST(ServerCommandLine, ErrorsNameTheServersFileAndLine)
{
    const SampleServer sample;
    const TestServer& server = sample.server;
    const auto before = server.Files();
    const struct {
        std::vector<std::string> Args;
        std::string Err;
    } cases[] = {
        {{"melt", "--map", "3", "0", "0"}, server.MapsDfn() + ": There is no [MAP 3] here; the maps defined are 0, 2."},
        {{"freeze", "--map-size", "7168x4096"}, server.Client() + "/StaIdx0.mul: Read beyond end of file."},
    };
    for (const auto& c : cases) {
        const Result run = sample.Run(c.Args[0], std::vector<std::string>(c.Args.begin() + 1, c.Args.end()));
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Err, "cryoweaver-cli: " + c.Err + "\n");
    }
    server.WriteIni("[directories]\r\nDATADIRECTORY=C:\\UO\\\r\n");
    const Result windows = sample.Run("freeze");
    EXPECT_EQ(windows.Err,
        "cryoweaver-cli: " + server.Ini() + ": line 2: DATADIRECTORY=C:\\UO\\ is no folder: " + server.Folder()
            + "/C:\\UO\\ does not exist; it looks like a Windows path, which Linux cannot open: give the folder as "
              "Linux names it.\n");
    // Given the files, the client's folder is not needed.
    const std::string client = server.Client() + "/";
    EXPECT_EQ(
        sample.Run("list", {"--staidx", client + "StaIdx0.mul", "--statics", client + "Statics0.mul", "100", "200"})
            .Out,
        SampleBlock);
    test::WriteText(server.Ini(), test::ReadText(server.Ini()).substr(0, 13) + "\r\n");
    EXPECT_EQ(Cli({"maps", "--server", server.Root()}).Err,
        "cryoweaver-cli: " + server.Root()
            + "/uox.ini: There is no uox.ini here, so this is no UOX3 server's folder: give the folder the server "
              "starts from.\n");
    const std::vector<std::vector<std::string>> wrong = {
        {"list", "--server", "d", "--map", "6", "0", "0"},
        {"list", "--staidx", "a", "--statics", "b", "--map", "1", "0", "0"},
        {"maps"},
        {"maps", "--server", "d", "--map", "1"},
        {"maps", "--server", "d", "extra"},
        {"compact", "--server", "d", "--wsc", "c"},
    };
    for (const auto& args : wrong) {
        const Result run = Cli(args);
        EXPECT_EQ(run.Status, 2) << testing::PrintToString(args);
        EXPECT_NE(run.Err.find("\n\nUsage:\n"), std::string::npos);
    }
    EXPECT_TRUE(Cli(wrong[0]).Err.starts_with("cryoweaver-cli: --map takes a map number from 0 to 5, not '6'\n"));
    EXPECT_TRUE(Cli(wrong[1]).Err.starts_with(
        "cryoweaver-cli: --map needs --server DIR; without it, the map is the number in the files' names\n"));
}

// Every command that changes files, and one that only reads, while a program
// runs in the server's folder.
TEST(ServerCommandLine, NothingChangesWhileAServerRunsOnTheWorld)
{
    const std::vector<std::vector<std::string>> changing = {
        {"melt", "100", "200"},
        {"freeze"},
        {"undo"},
        {"compact"},
        {"export", "{shared}/patch.wsc"},
    };
    for (const auto& args : changing) {
        SampleServer sample;
        const TestServer& server = sample.server;
        // Something for undo to take back, and a record for a freeze.
        ASSERT_EQ(sample.Run("melt", {"100", "200"}).Status, 0);
        std::vector<std::string> rest(args.begin() + 1, args.end());
        for (std::string& arg : rest)
            if (arg.starts_with("{shared}"))
                arg = server.Shared() + arg.substr(8);
        const auto before = server.Files();
        {
            const RunningProgram uox3("uox3", server.Folder());
            const Result refused = sample.Run(args[0], rest);
            EXPECT_EQ(refused.Status, 1) << args[0];
            EXPECT_EQ(refused.Out, "") << args[0];
            EXPECT_EQ(refused.Err,
                "cryoweaver-cli: " + std::filesystem::canonical(server.Folder()).string()
                    + ": A UOX3 server runs from this folder (process " + std::to_string(uox3.Id())
                    + ", uox3) and would overwrite the change at its next save: stop it first; no file was changed.\n"
                      "cryoweaver-cli: --server-running-ok runs the command all the same, for a server that does not "
                      "save to these files\n")
                << args[0];
            EXPECT_EQ(server.Files(), before) << args[0];
            rest.push_back("--server-running-ok");
            const Result anyway = sample.Run(args[0], rest);
            EXPECT_EQ(anyway.Status, 0) << args[0] << anyway.Err;
            EXPECT_TRUE(anyway.Err.starts_with("cryoweaver-cli: warning: ")) << anyway.Err;
            EXPECT_NE(server.Files(), before) << args[0];
        }
    }
    // An operator's shell and editor open in the folder are no server.
    const SampleServer sample;
    const RunningProgram shell("bash", sample.server.Folder());
    const RunningProgram editor("vim", sample.server.Folder());
    const Result melt = sample.Run("melt", {"100", "200"});
    EXPECT_EQ(melt.Status, 0);
    EXPECT_EQ(melt.Err, "");
}

TEST(ServerCommandLine, CommandsThatOnlyReadWarnWhileAServerRuns)
{
    const SampleServer sample;
    const TestServer& server = sample.server;
    const RunningProgram uox3("UOX3.exe", server.Folder());
    const std::string warning = "cryoweaver-cli: warning: " + std::filesystem::canonical(server.Folder()).string()
        + ": A UOX3 server runs from this folder (process " + std::to_string(uox3.Id())
        + ", UOX3.exe); it may rewrite the files meanwhile, and overwrites changes to them at its next save.\n";
    // What the runs leave but lock files.
    auto files = [&] {
        auto files = server.Files();
        std::erase_if(files, [](const auto& file) { return file.first.ends_with(".cryoweaver-lock"); });
        return files;
    };
    const auto before = files();
    const std::vector<std::vector<std::string>> reading = {
        {"list", "100", "200"},
        {"check"},
        {"history"},
        {"melt", "--dry-run", "100", "200"},
        {"export", server.Root() + "/patch.wsc"},
    };
    for (const auto& args : reading) {
        const Result run = sample.Run(args[0], std::vector<std::string>(args.begin() + 1, args.end()));
        EXPECT_EQ(run.Status, 0) << args[0];
        EXPECT_EQ(run.Err, warning) << args[0];
    }
    std::filesystem::remove(server.Root() + "/patch.wsc");
    EXPECT_EQ(files(), before);

    // Without --server: the folder above the world save is where the server starts.
    const std::string client = server.Client() + "/";
    const Result melt = Cli({"melt", "--staidx", client + "StaIdx0.mul", "--statics", client + "Statics0.mul", "--wsc",
        server.Shared(), "100", "200"});
    EXPECT_EQ(melt.Status, 1);
    EXPECT_TRUE(melt.Err.find("A UOX3 server runs from this folder") != std::string::npos) << melt.Err;
    EXPECT_EQ(files(), before);
}

TEST(ServerCommandLine, CheckWarnsOfBlocksThatDiffFilesReplace)
{
    const SampleServer sample;
    const TestServer& server = sample.server;
    server.WriteIni(std::string(test::TestIni)
                        .replace(std::string(test::TestIni).find("MAPDIFFSENABLED=0"), 17, "MAPDIFFSENABLED=1"));
    // Blocks 100,199 (empty), 100,200, 100,201 and 102,199 of the sample.
    auto block = [](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t n = x * 512 + y;
        return test::Bytes{static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
            static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
    };
    using test::operator+;
    test::WriteBytes(server.Client() + "/stadifl0.mul", block(100, 199) + block(100, 200) + block(102, 199));
    const Result check = sample.Run("check");
    EXPECT_EQ(check.Status, 0) << check.Err;
    EXPECT_EQ(check.Out,
        "Warning: Blocks with objects that a diff file replaces in game (MAPDIFFSENABLED=1 in uox.ini), where frozen "
        "edits stay invisible: 1\n  block 100, 200\nUnreferenced bytes in the statics file: 0 of 63 (0.0%)\nNo "
        "problems found\n");
    const Result json = sample.Run("check", {"--json"});
    EXPECT_TRUE(json.Out.ends_with(R"(  "findings": [
    {"kind": "past_end", "title": "Index entries past the end of the statics file", "count": 0, "examples": []},
    {"kind": "negative_offset", "title": "Index entries at a negative offset other than -1", "count": 0, "examples": []},
    {"kind": "bad_length", "title": "Index entries whose length is negative or not a multiple of 7", "count": 0, "examples": []},
    {"kind": "over_512", "title": "Blocks over 512 objects", "count": 0, "examples": []},
    {"kind": "offset_8_or_more", "title": "Static objects with an X or Y offset of 8 or more", "count": 0, "examples": []},
    {"kind": "not_frozen", "title": "TYPE 255 items a freeze would leave behind", "count": 0, "examples": []},
    {"kind": "duplicate_serials", "title": "Serials that more than one record carries", "count": 0, "examples": []},
    {"kind": "refused", "title": "Values the server or a freeze would refuse", "count": 0, "examples": []},
    {"kind": "block_overflow", "title": "Blocks a freeze would fill past 512 objects", "count": 0, "examples": []}
  ],
  "warnings": [
    {"kind": "diff_replaced", "title": "Blocks with objects that a diff file replaces in game (MAPDIFFSENABLED=1 in uox.ini), where frozen edits stay invisible", "count": 1, "examples": ["block 100, 200"]}
  ]
}
)")) << json.Out;
    // Diff files off: nothing to warn of.
    server.WriteIni(test::TestIni);
    EXPECT_EQ(sample.Run("check").Out, "Unreferenced bytes in the statics file: 0 of 63 (0.0%)\nNo problems found\n");
}

} // namespace
} // namespace cryo
