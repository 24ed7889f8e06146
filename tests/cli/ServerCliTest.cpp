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
using Result = test::ProgramRun;
using Args = std::vector<std::string>;

Result Cli(Args args)
{
    args.insert(args.begin(), CRYOWEAVER_CLI);
    return test::RunProgram(args);
}

// A server whose map 0 is the sample world (block 100, 200 holds six
// objects) and whose custom map 2 (64 x 32 blocks) holds one object in
// block 10, 5; its world save, the shared folder, is empty.
struct SampleServer : test::TestServer {
    SampleServer()
    {
        EXPECT_EQ(Cli({"sample", Client()}).Status, 0);
        WriteMaps("[MAP 0]\r\n{\r\nSTAIDX=StaIdx0.mul\r\nSTATICS=Statics0.mul\r\nX=6144\r\nY=4096\r\n}\r\n"
                  "[MAP 2]\r\nSTAIDX=custom-index.mul\r\nSTATICS=custom-statics.mul\r\nX=512\r\nY=256\r\n");
        StaIdx map2({64, 32});
        for (TStaIdxEntry& entry : map2.Entries)
            entry = {-1, 0, 0};
        map2.At(10, 5) = {0, 7, 0};
        test::WriteBytes(Client() + "/custom-index.mul", test::IndexBytes(map2));
        test::WriteBytes(Client() + "/custom-statics.mul", test::ItemBytes({{0x1234, 3, 4, 7, 0x21}}));
    }

    Result Run(Args args) const
    {
        args.insert(args.begin() + 1, {"--server", Folder()});
        return Cli(args);
    }
};

const char* const SampleBlock = "Item #1: Item ID = 0E ED, X = 803, Y = 1605, Z = -5, Color = 00 00\n"
                                "Item #2: Item ID = 00 64, X = 800, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #3: Item ID = 00 65, X = 801, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #4: Item ID = 00 66, X = 802, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #5: Item ID = 04 95, X = 804, Y = 1604, Z = 0, Color = 04 81\n"
                                "Item #6: Item ID = 0B 41, X = 806, Y = 1602, Z = 3, Color = 00 00\n";

TEST(ServerCommandLine, EveryCommandFindsItsFilesInTheServersFolder)
{
    const SampleServer server;
    const std::string client = server.Client() + "/";
    const std::string patch = server.Root() + "/patch.wsc";
    const struct {
        Args Command;
        std::string Out; // all of it, or without a line end its beginning
    } steps[] = {
        {{"list", "100", "200"}, SampleBlock},
        {{"melt", "100", "200"},
            "Melting in progress... Cryoweaver may look crashed, do not interrupt!\nHighest serial: 00 00 00 00\nItems "
            "added to "
                + server.Shared()
                + "/3.1.wsc: 6\nWriting StaIdx file...\nDone!\nMelting completed!\n6 objects of block 100, 200 "
                  "melted into shared\n"},
        {{"history"}, "melt of block 100,200\n"},
        {{"export", patch}, "Items exported to " + patch + ": 6\n"},
        {{"check"},
            "Unreferenced bytes in the statics file: 42 of 63 (66.7%); compact reclaims them\nNo problems found\n"},
        {{"freeze"}, "Freezing in progress... Cryoweaver may look crashed, do not interrupt!"},
        {{"list", "--at", "803,1605"}, SampleBlock},
        {{"compact"}, "Compacting in progress... Cryoweaver may look crashed, do not interrupt!"},
        {{"undo"}, "Undoing the compact of the statics file from 105 to 63 bytes of "},
        {{"maps"},
            "Client files: " + server.Client() + " (DATADIRECTORY, uox.ini line 4)\nWorld save: " + server.Shared()
                + " (SHAREDDIRECTORY, uox.ini line 6)\nDefinitions: " + server.Folder()
                + "/dfndata (DEFSDIRECTORY, uox.ini line 5)\nMaps in " + server.MapsDfn()
                + ":\nMap 0: 6144 x 4096 tiles (768 x 512 blocks)\n  STAIDX     found    " + client
                + "StaIdx0.mul\n  STATICS    found    " + client + "Statics0.mul\nMap 2: 512 x 256 tiles (64 x 32 "
                + "blocks)\n  STAIDX     found    " + client + "custom-index.mul\n  STATICS    found    " + client
                + "custom-statics.mul\n"},
    };
    for (const auto& step : steps) {
        const Result run = server.Run(step.Command);
        // history begins with the time.
        const std::string out = step.Command[0] == "history" ? run.Out.substr(22) : run.Out;
        EXPECT_EQ(out.substr(0, step.Out.ends_with('\n') ? std::string::npos : step.Out.size()), step.Out)
            << step.Command[0];
        EXPECT_EQ(run.Err, "") << step.Command[0];
        EXPECT_EQ(run.Status, 0) << step.Command[0];
    }
    EXPECT_EQ(test::ReadText(server.Shared() + "/3.1.wsc"), "");
    EXPECT_TRUE(test::ReadText(patch).starts_with("[ITEM]\nSerial=0x40000000\nID=0xeed\nColour=0x0\nName=#\n"));
}

TEST(ServerCommandLine, ACustomMapsSizeAndWorldComeFromMapsDfnAndTheUsersFilesOverrideThem)
{
    const SampleServer server;
    EXPECT_EQ(server.Run({"list", "--map", "2", "--at", "83,44"}).Out,
        "Item #1: Item ID = 12 34, X = 83, Y = 44, Z = 7, Color = 00 21\n");
    EXPECT_EQ(server.Run({"list", "--map", "2", "--at", "512,0"}).Err,
        "cryoweaver-cli: The position 512,0 lies outside the map of 512 x 256 tiles.\n");
    // Its items stand in world 2, though the files' names carry no map number.
    ASSERT_EQ(server.Run({"melt", "--map", "2", "10", "5"}).Status, 0);
    EXPECT_EQ(test::ReadText(server.Shared() + "/0.0.wsc"),
        "[ITEM]\nSerial=0x40000000\nID=0x1234\nColour=0x21\nName=#\nLocation=83,44,7,2,0\nCont=0xffffffff\n"
        "Type=255\nMovable=2\n\no---o\n\n");
    EXPECT_EQ(server.Run({"freeze"}).Out,
        "Freezing in progress... Cryoweaver may look crashed, do not interrupt!\nNot frozen: [ITEM] Serial=0x40000000 "
        "in 0.0.wsc, line 1 is in world 2\nFreezing completed!\nNo TYPE 255 item was frozen\n");
    ASSERT_EQ(server.Run({"freeze", "--map", "2"}).Status, 0);
    EXPECT_EQ(test::ReadText(server.Shared() + "/0.0.wsc"), "");

    // The sample's classic world save and statics file in place of the server's.
    const std::string wsc = server.Client() + "/UOX3.wsc";
    ASSERT_EQ(server.Run({"melt", "--wsc", wsc, "--map-size", "6144x4096", "100", "200"}).Status, 0);
    EXPECT_NE(test::ReadText(wsc).find("SECTION WORLDITEM 10\r\n"), std::string::npos);
    // Map 2's block 10, 5 now refers to the frozen copy at byte 7: the sample's second object.
    EXPECT_EQ(server.Run({"list", "--statics", server.Client() + "/Statics0.mul", "--map", "2", "10", "5"}).Out,
        "Item #1: Item ID = 00 64, X = 80, Y = 40, Z = 0, Color = 00 00\n");

    // Given both statics files, the client's folder is not needed.
    server.WriteIni("[directories]\r\nDATADIRECTORY=C:\\UO\\\r\n");
    const std::string client = server.Client() + "/";
    EXPECT_EQ(
        server.Run({"list", "--staidx", client + "StaIdx0.mul", "--statics", client + "Statics0.mul", "0", "0"}).Status,
        0);
    for (const Args& wrong : std::vector<Args>{{"list", "--server", "d", "--map", "6", "0", "0"},
             {"list", "--staidx", "a", "--statics", "b", "--map", "1", "0", "0"}, {"maps"},
             {"maps", "--server", "d", "--map", "1"}, {"compact", "--server", "d", "--wsc", "c"}})
        EXPECT_EQ(Cli(wrong).Status, 2) << testing::PrintToString(wrong);
    EXPECT_TRUE(Cli({"list", "--server", "d", "--map", "6", "0", "0"})
                    .Err.starts_with("cryoweaver-cli: --map takes a map number from 0 to 5, not '6'\n\nUsage:"));
}

// The maps of a server share its world save: an undo that a later operation
// on another map holds up names it, and works once that one is undone.
TEST(ServerCommandLine, AnUndoHeldUpByAnotherMapsLaterOperationNamesIt)
{
    const SampleServer server;
    // Map 0's block 10, 5 gets an object too: both melts write 0.0.wsc.
    const std::string index = server.Client() + "/StaIdx0.mul";
    const std::string statics = server.Client() + "/Statics0.mul";
    test::Bytes entries = test::ReadBytes(index);
    test::Bytes objects = test::ReadBytes(statics);
    EncodeStaIdxEntry({static_cast<std::int32_t>(objects.size()), 7, 0}, &entries[(10 * 512 + 5) * 12]);
    const test::Bytes item = test::ItemBytes({{0x1235, 1, 1, 0, 0}});
    objects.insert(objects.end(), item.begin(), item.end());
    test::WriteBytes(index, entries);
    test::WriteBytes(statics, objects);
    // The server's files, without Cryoweaver's locks and history.
    const auto files = [&] {
        auto all = server.Files();
        std::erase_if(all, [](const auto& file) { return file.first.find(".cryoweaver") != std::string::npos; });
        return all;
    };
    const auto before = files();
    ASSERT_EQ(server.Run({"melt", "10", "5"}).Status, 0);
    ASSERT_EQ(server.Run({"melt", "--map", "2", "10", "5"}).Status, 0);
    const Result held = server.Run({"undo"});
    EXPECT_EQ(held.Status, 1);
    EXPECT_TRUE(held.Err.starts_with("cryoweaver-cli: " + server.Shared()
        + "/0.0.wsc: The file changed after the "
          "melt of block 10,5 of "))
        << held.Err;
    EXPECT_NE(held.Err.find(": the melt of block 10,5 of "), std::string::npos) << held.Err;
    EXPECT_TRUE(held.Err.ends_with(
        ", on " + server.Client() + "/custom-index.mul, changed it since; undo that first; nothing was undone.\n"))
        << held.Err;
    EXPECT_EQ(server.Run({"undo", "--map", "2"}).Status, 0);
    EXPECT_EQ(server.Run({"undo"}).Status, 0);
    EXPECT_EQ(files(), before);
}

// Every command that changes files, while a program runs in the server's folder.
TEST(ServerCommandLine, TheServersOwnFolderIsNoWorldSaveUnlessUoxIniKeepsTheWorldThere)
{
    const SampleServer server;
    const std::string client = server.Client() + "/";
    const Args files{
        "--staidx", client + "StaIdx0.mul", "--statics", client + "Statics0.mul", "--wsc", server.Folder()};
    const auto before = server.Files();
    for (const char* command : {"melt", "freeze", "check"}) {
        Args args{command};
        args.insert(args.end(), files.begin(), files.end());
        if (args[0] == "melt")
            args.insert(args.end(), {"100", "200"});
        const Result run = Cli(args);
        EXPECT_EQ(run.Err,
            "cryoweaver-cli: " + server.Folder()
                + ": This is the server's own folder, not its world save: the server loads its world from ./shared/ "
                  "(SHAREDDIRECTORY in uox.ini)\n")
            << command;
        EXPECT_EQ(run.Status, 1) << command;
        EXPECT_EQ(server.Files(), before) << command;
    }
    // A server that keeps its world beside uox.ini.
    server.WriteIni("[directories]\r\nDATADIRECTORY={client}/\r\nSHAREDDIRECTORY=./\r\n");
    Args melt{"melt"};
    melt.insert(melt.end(), files.begin(), files.end());
    melt.insert(melt.end(), {"100", "200"});
    EXPECT_EQ(Cli(melt).Status, 0);
    EXPECT_TRUE(test::ReadText(server.Folder() + "/3.1.wsc").starts_with("[ITEM]\nSerial=0x40000000\n"));
}

TEST(ServerCommandLine, NothingChangesWhileAServerRunsOnTheWorld)
{
    for (const Args& args : std::vector<Args>{
             {"melt", "100", "201"}, {"freeze"}, {"undo"}, {"compact"}, {"export", "{shared}/patch.wsc"}}) {
        const SampleServer server;
        // Something for undo to take back, and records for a freeze.
        ASSERT_EQ(server.Run({"melt", "100", "200"}).Status, 0);
        Args run = args;
        if (run.back() == "{shared}/patch.wsc")
            run.back() = server.Shared() + "/patch.wsc";
        const auto before = server.Files();
        const RunningProgram uox3("uox3", server.Folder());
        const Result refused = server.Run(run);
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
        run.push_back("--server-running-ok");
        const Result anyway = server.Run(run);
        EXPECT_EQ(anyway.Status, 0) << args[0] << anyway.Err;
        EXPECT_TRUE(anyway.Err.starts_with("cryoweaver-cli: warning: ")) << anyway.Err;
        EXPECT_NE(server.Files(), before) << args[0];
    }
    // An operator's shell and editor open in the folder are no server.
    const SampleServer server;
    const RunningProgram shell("bash", server.Folder());
    const RunningProgram editor("vim", server.Folder());
    const Result melt = server.Run({"melt", "100", "200"});
    EXPECT_EQ(melt.Status, 0);
    EXPECT_EQ(melt.Err, "");
}

// The operator's files are the server's; the released copy is given. An
// apply changes files like any other command: not while a server runs there.
TEST(ServerCommandLine, APatchIsMadeFromTheServersFilesAndAppliedOnlyWithoutAServer)
{
    const SampleServer server;
    const std::string release = server.Root() + "/release/";
    std::filesystem::create_directories(release);
    for (const char* name : {"StaIdx0.mul", "Statics0.mul"})
        std::filesystem::copy_file(server.Client() + "/" + name, release + name);
    ASSERT_EQ(server.Run({"melt", "100", "200"}).Status, 0);
    const std::string patch = server.Root() + "/players.patch";
    const Args files{"--staidx", release + "StaIdx0.mul", "--statics", release + "Statics0.mul"};
    Args make{"patch"};
    make.insert(make.end(), files.begin(), files.end());
    make.push_back(patch);
    const Result made = server.Run(make);
    EXPECT_EQ(made.Out, "Patch written to " + patch + ": 1 block changed, 0 objects added, 6 removed\n");
    EXPECT_EQ(made.Status, 0) << made.Err;

    Args apply{"apply"};
    apply.insert(apply.end(), files.begin(), files.end());
    apply.push_back(patch);
    const test::Bytes index = test::ReadBytes(release + "StaIdx0.mul");
    const RunningProgram uox3("uox3", server.Folder());
    const Result refused = server.Run(apply);
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("A UOX3 server runs from this folder"), std::string::npos) << refused.Err;
    EXPECT_EQ(test::ReadBytes(release + "StaIdx0.mul"), index);
    apply.push_back("--server-running-ok");
    EXPECT_EQ(server.Run(apply).Status, 0);
    Args list{"list", "100", "200"};
    list.insert(list.end(), files.begin(), files.end());
    EXPECT_EQ(Cli(list).Out, "");
}

TEST(ServerCommandLine, CommandsThatOnlyReadWarnWhileAServerRuns)
{
    const SampleServer server;
    const RunningProgram uox3("UOX3.exe", server.Folder());
    const std::string warning = "cryoweaver-cli: warning: " + std::filesystem::canonical(server.Folder()).string()
        + ": A UOX3 server runs from this folder (process " + std::to_string(uox3.Id())
        + ", UOX3.exe); it may rewrite the files meanwhile, and overwrites changes to them at its next save.\n";
    const auto before = server.Files();
    for (const Args& args : std::vector<Args>{{"list", "100", "200"}, {"check"}, {"history"},
             {"melt", "--dry-run", "100", "200"}, {"export", server.Root() + "/patch.wsc"}}) {
        const Result run = server.Run(args);
        EXPECT_EQ(run.Status, 0) << args[0];
        EXPECT_EQ(run.Err, warning) << args[0];
    }
    // Without --server: the folder above the world save is where the server starts.
    const std::string client = server.Client() + "/";
    const Result melt = Cli({"melt", "--staidx", client + "StaIdx0.mul", "--statics", client + "Statics0.mul", "--wsc",
        server.Shared(), "100", "200"});
    EXPECT_NE(melt.Err.find("A UOX3 server runs from this folder"), std::string::npos) << melt.Err;
    std::filesystem::remove(server.Root() + "/patch.wsc");
    auto after = server.Files();
    std::erase_if(after, [](const auto& file) { return file.first.ends_with(".cryoweaver-lock"); });
    EXPECT_EQ(after, before);
}

TEST(ServerCommandLine, CheckWarnsOfBlocksThatDiffFilesReplace)
{
    const SampleServer server;
    const std::string ini = test::TestIni;
    server.WriteIni(ini.substr(0, ini.find("MAPDIFFSENABLED=0")) + "MAPDIFFSENABLED=1\r\n");
    // Blocks 100,199 and 102,199 (empty), 100,200 (twice) of the sample, and one past the map.
    test::Bytes list;
    for (const std::uint32_t block : {100u * 512 + 199, 100u * 512 + 200, 102u * 512 + 199, 100u * 512 + 200, 1u << 20})
        for (int shift = 0; shift < 32; shift += 8)
            list.push_back(static_cast<unsigned char>(block >> shift));
    test::WriteBytes(server.Client() + "/stadifl0.mul", list);
    const std::string title = "Blocks with objects that a diff file replaces in game (MAPDIFFSENABLED=1 in uox.ini), "
                              "where frozen edits stay invisible";
    const Result check = server.Run({"check"});
    EXPECT_EQ(check.Status, 0) << check.Err;
    EXPECT_EQ(check.Out,
        "Warning: " + title
            + ": 1\n  block 100, 200\nUnreferenced bytes in the statics file: 0 of 63 (0.0%)\nNo "
              "problems found\n");
    EXPECT_TRUE(server.Run({"check", "--json"})
                    .Out.ends_with("\n  ],\n  \"warnings\": [\n    {\"kind\": \"diff_replaced\", \"title\": \"" + title
                        + "\", \"count\": 1, \"examples\": [\"block 100, 200\"]}\n  ]\n}\n"));
    server.WriteIni(test::TestIni);
    EXPECT_EQ(server.Run({"check"}).Out, "Unreferenced bytes in the statics file: 0 of 63 (0.0%)\nNo problems found\n");
}

TEST(ServerCommandLine, RenderTakesTheClientsFilesOfTheServersMap)
{
    const SampleServer server;
    test::WriteBytes(server.Client() + "/radarcol.mul", test::Bytes(0x28000, 0));
    test::WriteBytes(server.Client() + "/map2.mul", test::Bytes(64 * 32 * 196, 0));
    const std::string out = server.Root() + "/map2.png";
    const Result render = server.Run({"render", "--map", "2", "--scale", "8", out});
    EXPECT_EQ(render.Status, 0) << render.Err;
    EXPECT_EQ(render.Out,
        "Terrain: " + server.Client() + "/map2.mul\nRadar colours: " + server.Client()
            + "/radarcol.mul\nItems to freeze, marked: 0\nWrote " + out
            + ": 64 x 32 pixels, tiles 0,0,511,255, 8 tiles a pixel\n");
}

} // namespace
} // namespace cryo
