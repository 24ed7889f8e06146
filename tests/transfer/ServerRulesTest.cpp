// Melt and freeze follow the UOX3 server's own rules for its files: which file
// an object belongs in, what it never keeps, and which of several records with
// one serial it loads.
#include "Actions.h"
#include "Error.h"
#include "ItemFreeze.h"
#include "ItemMelt.h"
#include "ItemSaveFiles.h"
#include "TestSupport.h"
#include "Undo.h"
#include "World.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

namespace cryo {
namespace {

namespace fs = std::filesystem;
using test::ItemBytes;
using test::ReadText;
using test::RecordingReporter;
using test::TempFolder;
using test::WriteText;
using test::operator+;

const std::string MeltStart = "Melting in progress... Cryoweaver may look crashed, do not interrupt!";
const std::string FreezeStart = "Freezing in progress... Cryoweaver may look crashed, do not interrupt!";

// The statics of map n of the given size beside a shared folder, each object
// alone in its block.
struct MapWorld {
    MapWorld(int map, MapBlocks size, const std::vector<std::pair<std::pair<int, int>, TStaticItem>>& objects)
        : Map(map)
        , Files{dir / ("staidx" + std::to_string(map) + ".mul"), dir / ("statics" + std::to_string(map) + ".mul"),
              dir / "shared"}
    {
        StaIdx table = worldgen::EmptyIndex(size);
        std::vector<TStaticItem> items;
        for (const auto& [block, item] : objects) {
            table.At(static_cast<std::uint16_t>(block.first), static_cast<std::uint16_t>(block.second))
                = {static_cast<std::int32_t>(items.size() * StaticItemSize), StaticItemSize, 7};
            items.push_back(item);
        }
        test::WriteBytes(Files.StaIdx, test::IndexBytes(table));
        test::WriteBytes(Files.Statics, ItemBytes(items));
        fs::create_directory(Files.Wsc);
    }

    // Melts block "X Y", or freezes when empty: the error line, "" on success.
    std::string Run(const std::string& melt = {})
    {
        Log.Lines.clear();
        return test::ErrorLineOf([&] {
            StaIdx table;
            NullReporter quiet;
            LoadStaIdx(Files.StaIdx, table, quiet, {Map, std::nullopt});
            if (melt.empty())
                RunFreeze(Files, table, Log);
            else
                RunMelt(Files, melt.substr(0, melt.find(' ')), melt.substr(melt.find(' ') + 1), table, Log);
        });
    }

    std::string Shared(const std::string& name) const { return Files.Wsc + "/" + name; }

    TempFolder dir;
    int Map;
    WorldFiles Files;
    RecordingReporter Log;
};

TEST(ServerRules, ObjectsOutsideTheirMapsGridMeltIntoOverflowWscAndFreezeBackOnce)
{
    const struct {
        int Map;
        MapBlocks Size;
        int XBlock, YBlock;
        TStaticItem Item;
        const char* File;
    } cases[] = {
        {2, {288, 200}, 287, 191, {0x101, 7, 7, 3, 0x22}, "8.1.wsc"}, // 2303, 1535
        {2, {288, 200}, 287, 192, {0x102, 7, 0, 3, 0x22}, "overflow.wsc"}, // 2303, 1536
        {2, {288, 200}, 0, 199, {0x103, 1, 7, -3, 0}, "overflow.wsc"}, // 1, 1599
        {4, {181, 181}, 179, 0, {0x104, 7, 0, 0, 0}, "5.0.wsc"}, // 1439, 0
        {4, {181, 181}, 180, 0, {0x105, 0, 0, 0, 0}, "overflow.wsc"}, // 1440, 0
        {4, {181, 181}, 1, 175, {0x106, 0, 7, 0, 0}, "0.1.wsc"}, // 8, 1407
        {4, {181, 181}, 1, 176, {0x107, 0, 0, 0, 0}, "overflow.wsc"}, // 8, 1408
        {0, {896, 512}, 895, 511, {0x108, 7, 7, 0, 0}, "27.3.wsc"}, // 7167, 4095
    };
    for (const auto& c : cases) {
        MapWorld world(c.Map, c.Size, {{{c.XBlock, c.YBlock}, c.Item}});
        const auto statics = test::ReadBytes(world.Files.Statics);
        const std::string where = std::to_string(c.Map) + ": " + c.File;
        ASSERT_EQ(world.Run(std::to_string(c.XBlock) + " " + std::to_string(c.YBlock)), "") << where;
        EXPECT_EQ(TempFolder::EntriesOf(world.Files.Wsc), std::vector<std::string>{c.File}) << where;
        EXPECT_EQ(ReadText(world.Shared(c.File)),
            ItemRecordText({0x40000000, c.Item.TileId, c.XBlock * 8u + c.Item.XOffset, c.YBlock * 8u + c.Item.YOffset,
                c.Item.Z, c.Item.Color, static_cast<std::uint32_t>(c.Map)}))
            << where;
        // Frozen back from there, the object is in its block once more, and nowhere else.
        ASSERT_EQ(world.Run(), "") << where;
        EXPECT_EQ(ReadText(world.Shared(c.File)), "") << where;
        EXPECT_EQ(test::ReadBytes(world.Files.Statics), statics + ItemBytes({c.Item})) << where;
    }
}

TEST(ServerRules, AnOverflowWscWithCrLfLineEndsGetsItsRecordsInCrLf)
{
    const std::string parkedLf = "[CHARACTER]\nSerial=0x6\nLocation=7200,100,0,0,0\n\no---o\n\n";
    const std::string parkedCrLf = "[CHARACTER]\r\nSerial=0x6\r\nLocation=7200,100,0,0,0\r\n\r\no---o\r\n\r\n";
    const TStaticItem item{0x102, 7, 0, 3, 0x22};
    const std::string record = ItemRecordText({0x40000000, 0x102, 2303, 1536, 3, 0x22, 2});
    const struct {
        std::string Before;
        std::string After;
    } cases[] = {
        {parkedLf, parkedLf + record},
        {parkedCrLf,
            parkedCrLf
                + test::CrLfLines({"[ITEM]", "Serial=0x40000000", "ID=0x102", "Colour=0x22", "Name=#",
                    "Location=2303,1536,3,2,0", "Cont=0xffffffff", "Type=255", "Movable=2", "", "o---o", ""})},
        {"[CHARACTER]\r\nSerial=0x6\r\n\r\no---o", "[CHARACTER]\r\nSerial=0x6\r\n\r\no---o\r\n" + WithCrLf(record)},
        {"", record},
    };
    for (const auto& c : cases) {
        MapWorld world(2, {288, 200}, {{{287, 192}, item}});
        WriteText(world.Shared("overflow.wsc"), c.Before);
        ASSERT_EQ(world.Run("287 192"), "");
        EXPECT_EQ(ReadText(world.Shared("overflow.wsc")), c.After) << testing::PrintToString(c.Before);
    }
    // A region file stays LF whatever its own line ends.
    MapWorld world(2, {288, 200}, {{{287, 191}, item}});
    WriteText(world.Shared("8.1.wsc"), parkedCrLf);
    ASSERT_EQ(world.Run("287 191"), "");
    EXPECT_EQ(
        ReadText(world.Shared("8.1.wsc")), parkedCrLf + ItemRecordText({0x40000000, 0x102, 2303, 1528, 3, 0x22, 2}));
}

TEST(ServerRules, AMeltIntoTheServersFilesLeavesObjectsAtXZeroInTheStaticsAndUndoTakesItBack)
{
    test::WorldFolder world(true);
    StaIdx table = worldgen::EmptyIndex({896, 512});
    const std::vector<TStaticItem> block{
        {0x10, 0, 1, 5, 0}, {0x11, 3, 2, 0, 0}, {0x12, 0, 3, -1, 0x44}, {0x13, 7, 7, 0, 0}};
    table.At(0, 200) = {7, 28, 0x99}; // x 0 to 7
    table.At(1, 200) = {7, 7, 0x98}; // x 8 to 15, no object at x = 0
    table.At(0, 201) = {21, 7, 0x97}; // only one object, at x = 0
    const test::Bytes statics = ItemBytes({{1, 1, 1, 1, 1}}) + ItemBytes(block);
    world.Write(table, statics, "");
    const WorldFiles files{world.StaIdx(), world.Statics(), world.Wsc()};
    const auto before = world.Take();

    auto melt = [&](const char* x, const char* y, RecordingReporter& log) {
        auto loaded = world.Load();
        RunMelt(files, x, y, *loaded, log);
    };
    RecordingReporter log;
    melt("0", "200", log);
    EXPECT_EQ(log.Lines,
        (std::vector<std::string>{MeltStart,
            "Left in the statics: Item #1, ID 00 10, at 0,1601,5: the server loses an item on the ground at x = 0 at "
            "its next save",
            "Left in the statics: Item #3, ID 00 12, at 0,1603,-1: the server loses an item on the ground at x = 0 at "
            "its next save",
            "Highest serial: 00 00 00 00", "Items added to " + world.Wsc() + "/0.1.wsc: 2", "Writing StaIdx file...",
            "Done!", "Melting completed!"}));
    EXPECT_EQ(ReadText(world.Wsc() + "/0.1.wsc"),
        ItemRecordText({0x40000000, 0x11, 3, 1602, 0, 0, 0}) + ItemRecordText({0x40000001, 0x13, 7, 1607, 0, 0, 0}));
    // The block keeps exactly its objects at x = 0, in a new copy.
    EXPECT_EQ(test::ReadBytes(world.Statics()), statics + ItemBytes({block[0], block[2]}));
    StaIdx expected = table;
    expected.At(0, 200) = {35, 14, 0x99};
    EXPECT_EQ(test::ReadBytes(world.StaIdx()), test::IndexBytes(expected));

    // A block without objects at x = 0 melts whole; one with only such objects keeps its entry.
    RecordingReporter whole;
    melt("1", "200", whole);
    expected.At(1, 200) = {-1, 0, 0};
    EXPECT_EQ(test::ReadBytes(world.StaIdx()), test::IndexBytes(expected));
    RecordingReporter none;
    melt("0", "201", none);
    EXPECT_EQ(none.Lines,
        (std::vector<std::string>{MeltStart,
            "Left in the statics: Item #1, ID 00 12, at 0,1611,-1: the server loses an item on the ground at x = 0 at "
            "its next save",
            "Nothing to do!", "Writing StaIdx file...", "Done!", "Melting completed!"}));
    EXPECT_EQ(test::ReadBytes(world.StaIdx()), test::IndexBytes(expected));
    EXPECT_EQ(test::ReadBytes(world.Statics()), statics + ItemBytes({block[0], block[2]}));

    // Undone one after the other, the melts leave the files as they were, byte for byte.
    for (int i = 0; i < 3; ++i)
        UndoLastOperation(files, log);
    EXPECT_TRUE(world.Take() == before);

    // A classic world save is the old server's, whose rules these are not: the block melts whole.
    test::WorldFolder classic;
    classic.Write(table, statics, test::CrLfLines({"EOF"}));
    auto loaded = classic.Load();
    RecordingReporter classicLog;
    RunMelt({classic.StaIdx(), classic.Statics(), classic.Wsc()}, "0", "200", *loaded, classicLog);
    EXPECT_EQ(test::Type255Items(ReadText(classic.Wsc())).size(), 4u);
    EXPECT_EQ(test::ReadBytes(classic.Statics()), statics);
}

TEST(ServerRules, AMeltStopsBeforeAnyChangeAtAnObjectOutsideItsBlockOrAFileItMayNotWrite)
{
    const std::string guard = "[CHARACTER]\nSerial=0x5\nLocation=100,200,0,0,0\n\no---o\n\n";
    const struct {
        const char* Name;
        TStaticItem Second; // the block's second object
        std::string Region; // 3.1.wsc, where the block's objects go
        std::string Error; // {shared} and {statics} stand for the paths
    } cases[] = {
        {"X offset 8", {2, 8, 0, 0, 0}, "",
            "{statics}: block 100, 200, Item #2: This object lies outside its block: X offset 8, Y offset 0, where a "
            "block's offsets run from 0 to 7; nothing was melted."},
        {"Y offset 255", {2, 0, 255, 0, 0}, "",
            "{statics}: block 100, 200, Item #2: This object lies outside its block: X offset 0, Y offset 255, where a "
            "block's offsets run from 0 to 7; nothing was melted."},
        {"byte-order mark", {2, 1, 1, 0, 0}, "\xEF\xBB\xBF" + guard,
            "{shared}/3.1.wsc: line 1: The file begins with a UTF-8 byte-order mark, which hides its first record "
            "from the server."},
        {"classic sections", {2, 1, 1, 0, 0}, test::CrLfLines({"SECTION WORLDITEM 1", "{", "TYPE 0", "}", "EOF"}),
            "{shared}/3.1.wsc: This file is a classic world save of SECTION WORLDITEM sections, not a file of [ITEM] "
            "records: a melt writes no [ITEM] records into it."},
    };
    for (const auto& c : cases) {
        test::WorldFolder world(true);
        StaIdx table = worldgen::EmptyIndex({896, 512});
        table.At(100, 200) = {0, 14, 0};
        world.Write(table, ItemBytes({{1, 3, 3, 0, 0}, c.Second}), "");
        if (!c.Region.empty())
            WriteText(world.Wsc() + "/3.1.wsc", c.Region);
        const auto before = world.Take();
        auto loaded = world.Load();
        RecordingReporter log;
        std::string error = test::ErrorLineOf([&] {
            RunMelt({world.StaIdx(), world.Statics(), world.Wsc()}, "100", "200", *loaded, log);
        });
        EXPECT_EQ(error,
            std::regex_replace(std::regex_replace(c.Error, std::regex("\\{shared\\}"), world.Wsc()),
                std::regex("\\{statics\\}"), world.Statics()))
            << c.Name;
        EXPECT_TRUE(world.Take() == before) << c.Name;
        EXPECT_EQ(loaded->At(100, 200), (TStaIdxEntry{0, 14, 0})) << c.Name;
    }
}

TEST(ServerRules, AnEmptiedPatchOrOneThatBeginsWithAComment)
{
    test::WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    table.At(100, 200) = {0, 7, 0};
    const TStaticItem object{0xeed, 3, 5, -5, 0};
    const std::string record = ItemRecordText({0x40000000, 0xeed, 803, 1605, -5, 0, 0});
    const std::string comment = "// patch for the players\r\n";
    const struct {
        const char* Name;
        std::string Text;
        std::string Melted; // the file after a melt of the block
    } cases[] = {
        {"patch.wsc", "", record},
        {"patch.wsc", comment, comment + record},
        {"patch.wsc", comment + test::CrLfLines({"[ITEM]", "Serial=0x40000007", "Type=0", "", "o---o", ""}),
            comment + test::CrLfLines({"[ITEM]", "Serial=0x40000007", "Type=0", "", "o---o", ""})
                + ItemRecordText({0x40000008, 0xeed, 803, 1605, -5, 0, 0})},
        {"uox3.wsc", "",
            test::CrLfLines({"SECTION WORLDITEM 0", "{", "SERIAL 1073741825", "NAME #", "ID 3821", "X 803", "Y 1605",
                "Z -5", "COLOR 0", "CONT -1", "TYPE 255", "}", "", "EOF", ""})},
    };
    for (const auto& c : cases) {
        world.Write(table, ItemBytes({object}), "");
        const std::string path = world.Dir() / c.Name;
        WriteText(path, c.Text);
        auto loaded = world.Load();
        RecordingReporter log;
        RunMelt({world.StaIdx(), world.Statics(), path}, "100", "200", *loaded, log);
        EXPECT_EQ(ReadText(path), c.Melted) << c.Name << " " << testing::PrintToString(c.Text);
        // Frozen back, the object returns and the file is as it was.
        RunFreeze({world.StaIdx(), world.Statics(), path}, *loaded, log);
        EXPECT_EQ(ReadText(path), c.Text + (c.Text.empty() && c.Name[0] == 'u' ? "\r\nEOF\r\n\r\n" : ""))
            << c.Name << " " << testing::PrintToString(c.Text);
        EXPECT_EQ(test::ReadBytes(world.Statics()), ItemBytes({object, object})) << c.Name;
        fs::remove(path);
    }
}

// An [ITEM] record on the ground of world 0 as the server writes it, with its Type.
std::string Item(std::uint32_t serial, int x, int y, int type = 255, const std::string& more = "")
{
    char hex[40];
    std::snprintf(
        hex, sizeof hex, "0x%x\nID=0x%x", static_cast<unsigned>(serial), static_cast<unsigned>(serial & 0xff));
    return "[ITEM]\nSerial=" + std::string(hex) + "\nLocation=" + std::to_string(x) + "," + std::to_string(y)
        + ",0,0,0\nCont=0xffffffff\nType=" + std::to_string(type) + "\n" + more + "\no---o\n\n";
}

TEST(ServerRules, OfASerialInSeveralRecordsAFreezeTakesTheOneTheServerKeepsAndCutsTheCopies)
{
    // 0x40000010 moved twice, last into overflow.wsc; 0x40000020's last record is an ordinary item;
    // 0x40000030's first an ordinary item; 0x40000040 last lies in a chest.
    const std::string a1 = Item(0x40000010, 10, 20);
    const std::string a2 = Item(0x40000010, 300, 20);
    const std::string a3 = Item(0x40000010, 5000, 100);
    const std::string b1 = Item(0x40000020, 30, 40);
    const std::string b2 = Item(0x40000020, 600, 40, 0);
    const std::string c1 = Item(0x40000030, 50, 60, 0);
    const std::string c2 = Item(0x40000030, 310, 60);
    const std::string d1 = Item(0x40000040, 70, 80);
    const std::string d2 = Item(0x40000040, 0, 0, 255, "Cont=0x40000050\n");
    const std::string plain = Item(0x40000060, 90, 100);
    test::WorldFolder world(true);
    world.Write(worldgen::EmptyIndex({896, 512}), {}, "");
    const std::string shared = world.Wsc();
    WriteText(shared + "/0.0.wsc", a1 + b1 + c1 + d1 + plain); // lines 1, 10, 19, 28, 37
    WriteText(shared + "/1.0.wsc", a2 + c2 + d2); // lines 1, 10, 19
    WriteText(shared + "/2.0.wsc", b2);
    WriteText(shared + "/overflow.wsc", a3);
    const WorldFiles files{world.StaIdx(), world.Statics(), shared};

    // The export writes each object once, from the record the server keeps.
    RecordingReporter log;
    const std::string patch = world.Dir() / "patch.wsc";
    RunExport(files, patch, worldgen::EmptyIndex({896, 512}), log);
    EXPECT_EQ(ReadText(patch), plain + c2 + a3);
    EXPECT_EQ(log.Lines.back(), "Items exported to " + patch + ": 3");

    log.Lines.clear();
    auto table = world.Load();
    RunFreeze(files, *table, log);
    EXPECT_EQ(log.Lines,
        (std::vector<std::string>{FreezeStart,
            "Not frozen: [ITEM] Serial=0x40000020 in 0.0.wsc, line 10 is dropped by the server, which keeps the later "
            "record with this serial in 2.0.wsc, line 1",
            "Not frozen: [ITEM] Serial=0x40000040 in 0.0.wsc, line 28 is dropped by the server, which keeps the later "
            "record with this serial in 1.0.wsc, line 19",
            "Not frozen: [ITEM] Serial=0x40000040 in 1.0.wsc, line 19 is inside a container or worn (Cont=0x40000050)",
            "Serial=0x40000010: frozen once, from overflow.wsc, line 1, the record the server keeps; 3 records with "
            "this serial removed",
            "Items taken from " + shared + "/0.0.wsc: 2", "Items taken from " + shared + "/1.0.wsc: 2",
            "Items taken from " + shared + "/overflow.wsc: 1", "Extracting from WSC... XBlock: 11 YBlock: 12",
            "Appending to Statics... XBlock: 11 YBlock: 12", "Extracting from WSC... XBlock: 38 YBlock: 7",
            "Appending to Statics... XBlock: 38 YBlock: 7", "Extracting from WSC... XBlock: 625 YBlock: 12",
            "Appending to Statics... XBlock: 625 YBlock: 12", "Freezing completed!"}));
    EXPECT_EQ(ReadText(shared + "/0.0.wsc"), b1 + c1 + d1);
    EXPECT_EQ(ReadText(shared + "/1.0.wsc"), d2);
    EXPECT_EQ(ReadText(shared + "/2.0.wsc"), b2);
    EXPECT_EQ(ReadText(shared + "/overflow.wsc"), "");
    EXPECT_EQ(
        test::ReadBytes(world.Statics()), ItemBytes({{0x60, 2, 4, 0, 0}, {0x30, 6, 4, 0, 0}, {0x10, 0, 4, 0, 0}}));

    // What is left is one record per serial, or copies a freeze must not take.
    log.Lines.clear();
    RunFreeze(files, *table, log);
    EXPECT_EQ(log.Lines.size(), 5u);
}

TEST(ServerRules, ItemsOfAnotherInstanceOrWithoutAPositionAreNamedInTheLog)
{
    test::WorldFolder world(true);
    world.Write(worldgen::EmptyIndex({896, 512}), {}, "");
    const std::string other = "[ITEM]\nSerial=0x40000001\nID=0x5\nLocation=10,20,0,0,1\nType=255\n\no---o\n\n";
    const std::string third = "[ITEM]\nSerial=0x40000002\nID=0x6\nLocation=10,20,0,0,2,7\nType=255\n\no---o\n\n";
    const std::string first = "[ITEM]\nSerial=0x40000003\nID=0x7\nLocation=10,20,0,0,0\nType=255\n\no---o\n\n";
    const std::string nowhere = "[ITEM]\nSerial=0x40000004\nID=0x8\nType=255\n\no---o\n\n";
    const std::string halfway = "[ITEM]\nSerial=0x40000005\nID=0x9\nX=20\nType=255\n\no---o\n\n";
    WriteText(world.Wsc() + "/0.0.wsc", other + third + first + nowhere + halfway); // lines 1, 9, 17, 25, 32
    auto table = world.Load();
    RecordingReporter log;
    RunFreeze({world.StaIdx(), world.Statics(), world.Wsc()}, *table, log);
    EXPECT_EQ(std::vector<std::string>(log.Lines.begin() + 1, log.Lines.begin() + 6),
        (std::vector<std::string>{
            "Not frozen: [ITEM] Serial=0x40000001 in 0.0.wsc, line 1 is in instance 1 of its world, not in the map "
            "itself",
            "Not frozen: [ITEM] Serial=0x40000002 in 0.0.wsc, line 9 is in instance 2 of its world, not in the map "
            "itself",
            "[ITEM] Serial=0x40000004 in 0.0.wsc, line 25 has no Location: frozen at 100,100, where the server places "
            "it",
            "[ITEM] Serial=0x40000005 in 0.0.wsc, line 32 has no Location: frozen at 20,100, where the server places "
            "it",
            "Items taken from " + world.Wsc() + "/0.0.wsc: 3"}));
    EXPECT_EQ(ReadText(world.Wsc() + "/0.0.wsc"), other + third);
    EXPECT_EQ(test::ReadBytes(world.Statics()), ItemBytes({{7, 2, 4, 0, 0}, {9, 4, 4, 0, 0}, {8, 4, 4, 0, 0}}));
}

} // namespace
} // namespace cryo
