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

// Melts block "X Y" of map n, or freezes it when melt is empty: the error line, "" on success.
std::string Transfer(const WorldFiles& files, int map, const std::string& melt, RecordingReporter& log)
{
    log.Lines.clear();
    return test::ErrorLineOf([&] {
        StaIdx table;
        NullReporter quiet;
        LoadStaIdx(files.StaIdx, table, quiet, {map, std::nullopt});
        if (melt.empty())
            RunFreeze(files, table, log);
        else
            RunMelt(files, melt.substr(0, melt.find(' ')), melt.substr(melt.find(' ') + 1), table, log);
    });
}

TEST(ServerRules, ObjectsOutsideTheirMapsGridMeltIntoOverflowWscInItsLineEndsAndFreezeBackOnce)
{
    const std::string parked = "[CHARACTER]\nSerial=0x6\n\no---o\n\n";
    const std::string parkedCrLf = "[CHARACTER]\r\nSerial=0x6\r\n\r\no---o\r\n\r\n";
    const struct {
        int Map;
        MapBlocks Size;
        int XBlock, YBlock;
        TStaticItem Item;
        const char* File;
        std::string Before = ""; // the file's bytes before the melt
        bool CrLf = false; // the melted record's line ends
    } cases[] = {
        {2, {288, 200}, 287, 191, {0x101, 7, 7, 3, 0x22}, "8.1.wsc"}, // 2303, 1535
        {2, {288, 200}, 287, 192, {0x102, 7, 0, 3, 0x22}, "overflow.wsc"}, // 2303, 1536
        {2, {288, 200}, 0, 199, {0x103, 1, 7, -3, 0}, "overflow.wsc"}, // 1, 1599
        {4, {181, 181}, 179, 0, {0x104, 7, 0, 0, 0}, "5.0.wsc"}, // 1439, 0
        {4, {181, 181}, 180, 0, {0x105, 0, 0, 0, 0}, "overflow.wsc"}, // 1440, 0
        {4, {181, 181}, 1, 175, {0x106, 0, 7, 0, 0}, "0.1.wsc"}, // 8, 1407
        {4, {181, 181}, 1, 176, {0x107, 0, 0, 0, 0}, "overflow.wsc"}, // 8, 1408
        {0, {896, 512}, 895, 511, {0x108, 7, 7, 0, 0}, "27.3.wsc"}, // 7167, 4095
        {0, {896, 512}, 31, 127, {1, 7, 7, 0, 0}, "0.0.wsc"}, // 255, 1023
        {0, {896, 512}, 32, 127, {2, 0, 7, 0, 0}, "1.0.wsc"}, // 256, 1023
        {0, {896, 512}, 31, 128, {3, 7, 0, 0, 0}, "0.1.wsc"}, // 255, 1024
        {0, {896, 512}, 127, 255, {4, 7, 7, 0, 0}, "3.1.wsc"}, // 1023, 2047
        {0, {896, 512}, 128, 256, {5, 0, 0, 0, 0}, "4.2.wsc"}, // 1024, 2048
        // overflow.wsc keeps its own line ends; a region file is LF whatever it holds.
        {4, {181, 181}, 180, 0, {0x105, 0, 0, 0, 0}, "overflow.wsc", parked},
        {4, {181, 181}, 180, 0, {0x105, 0, 0, 0, 0}, "overflow.wsc", parkedCrLf, true},
        {4, {181, 181}, 180, 0, {0x105, 0, 0, 0, 0}, "overflow.wsc", "[CHARACTER]\r\n\r\no---o", true},
        {4, {181, 181}, 179, 0, {0x104, 7, 0, 0, 0}, "5.0.wsc", parkedCrLf},
    };
    for (const auto& c : cases) {
        TempFolder dir;
        const std::string n = std::to_string(c.Map);
        const WorldFiles files{dir / ("staidx" + n + ".mul"), dir / ("statics" + n + ".mul"), dir / "shared"};
        StaIdx table = worldgen::EmptyIndex(c.Size);
        table.At(static_cast<std::uint16_t>(c.XBlock), static_cast<std::uint16_t>(c.YBlock)) = {0, 7, 0};
        test::WriteBytes(files.StaIdx, test::IndexBytes(table));
        test::WriteBytes(files.Statics, ItemBytes({c.Item}));
        fs::create_directory(files.Wsc);
        const std::string target = files.Wsc + "/" + c.File;
        if (!c.Before.empty())
            WriteText(target, c.Before);
        RecordingReporter log;
        const std::string where = n + ": " + c.File + " " + testing::PrintToString(c.Before);
        ASSERT_EQ(Transfer(files, c.Map, std::to_string(c.XBlock) + " " + std::to_string(c.YBlock), log), "") << where;
        EXPECT_EQ(TempFolder::EntriesOf(files.Wsc), std::vector<std::string>{c.File}) << where;
        const std::string record = ItemRecordText({0x40000000, c.Item.TileId, c.XBlock * 8u + c.Item.XOffset,
            c.YBlock * 8u + c.Item.YOffset, c.Item.Z, c.Item.Color, static_cast<std::uint32_t>(c.Map)});
        const std::string lineEnd = c.Before.empty() || c.Before.back() == '\n' ? "" : "\r\n";
        EXPECT_EQ(ReadText(target), c.Before + lineEnd + (c.CrLf ? WithCrLf(record) : record)) << where;
        // Frozen back from there, the object is in its block once more, and nowhere else.
        ASSERT_EQ(Transfer(files, c.Map, "", log), "") << where;
        EXPECT_EQ(ReadText(target), c.Before + lineEnd) << where;
        EXPECT_EQ(test::ReadBytes(files.Statics), ItemBytes({c.Item, c.Item})) << where;
    }
}

TEST(ServerRules, AMeltIntoTheServersFilesLeavesObjectsAtXZeroInTheStaticsAndUndoTakesItBack)
{
    test::WorldFolder world(true);
    StaIdx table = worldgen::EmptyIndex({896, 512});
    const std::vector<TStaticItem> block{
        {0x10, 0, 1, 5, 0}, {0x11, 3, 2, 0, 0}, {0x12, 0, 3, -1, 0x44}, {0x13, 7, 7, 0, 0}};
    table.At(0, 200) = {7, 28, 0x99};
    table.At(0, 201) = {21, 7, 0x97}; // one object, at x = 0
    const test::Bytes statics = ItemBytes({{1, 1, 1, 1, 1}}) + ItemBytes(block);
    world.Write(table, statics, "");
    const WorldFiles files{world.StaIdx(), world.Statics(), world.Wsc()};
    const auto before = world.Take();
    auto left = [](const std::string& object) {
        return "Left in the statics: " + object + ": the server loses an item on the ground at x = 0 at its next save";
    };
    RecordingReporter log;
    ASSERT_EQ(Transfer(files, 0, "0 200", log), "");
    EXPECT_EQ(log.Lines,
        (std::vector<std::string>{MeltStart, left("Item #1, ID 00 10, at 0,1601,5"),
            left("Item #3, ID 00 12, at 0,1603,-1"), "Highest serial: 00 00 00 00",
            "Items added to " + world.Wsc() + "/0.1.wsc: 2", "Writing StaIdx file...", "Done!", "Melting completed!",
            "2 objects of block 0, 200 melted into shared"}));
    EXPECT_EQ(ReadText(world.Wsc() + "/0.1.wsc"),
        ItemRecordText({0x40000000, 0x11, 3, 1602, 0, 0, 0}) + ItemRecordText({0x40000001, 0x13, 7, 1607, 0, 0, 0}));
    // The block keeps exactly its objects at x = 0, in a new copy.
    EXPECT_EQ(test::ReadBytes(world.Statics()), statics + ItemBytes({block[0], block[2]}));
    StaIdx melted = table;
    melted.At(0, 200) = {35, 14, 0x99};
    EXPECT_EQ(test::ReadBytes(world.StaIdx()), test::IndexBytes(melted));

    // Undone, the melt leaves the files as they were, byte for byte.
    UndoLastOperation(files, log);
    EXPECT_TRUE(world.Take() == before);

    // A block with objects at x = 0 alone keeps its entry.
    ASSERT_EQ(Transfer(files, 0, "0 201", log), "");
    EXPECT_EQ(log.Lines,
        (std::vector<std::string>{MeltStart, left("Item #1, ID 00 12, at 0,1611,-1"), "Nothing to do!",
            "Writing StaIdx file...", "Done!", "Melting completed!", "No object of block 0, 201 was melted"}));
    EXPECT_TRUE(world.Take() == before);

    // A classic world save is the old server's, whose rules these are not: the block melts whole.
    test::WorldFolder classic;
    classic.Write(table, statics, test::CrLfLines({"EOF"}));
    ASSERT_EQ(Transfer({classic.StaIdx(), classic.Statics(), classic.Wsc()}, 0, "0 200", log), "");
    EXPECT_EQ(test::Type255Items(ReadText(classic.Wsc())).size(), 4u);
    EXPECT_EQ(test::ReadBytes(classic.Statics()), statics);
}

TEST(ServerRules, AMeltStopsBeforeAnyChangeAtARegionFileItMayNotWrite)
{
    const struct {
        std::string Region; // 3.1.wsc, where block (100, 200) melts into
        std::string Error;
    } cases[] = {
        {"\xEF\xBB\xBF[CHARACTER]\nSerial=0x5\n\no---o\n\n",
            "line 1: The file begins with a UTF-8 byte-order mark, which hides its first record from the server."},
        {test::CrLfLines({"SECTION WORLDITEM 1", "{", "TYPE 0", "}", "EOF"}),
            "This file is a classic world save of SECTION WORLDITEM sections, not a file of [ITEM] records: a melt "
            "writes no [ITEM] records into it."},
    };
    for (const auto& c : cases) {
        test::WorldFolder world(true);
        StaIdx table = worldgen::EmptyIndex({896, 512});
        table.At(100, 200) = {0, 7, 0};
        world.Write(table, ItemBytes({{1, 3, 3, 0, 0}}), "");
        WriteText(world.Wsc() + "/3.1.wsc", c.Region);
        const auto before = world.Take();
        RecordingReporter log;
        EXPECT_EQ(Transfer({world.StaIdx(), world.Statics(), world.Wsc()}, 0, "100 200", log),
            world.Wsc() + "/3.1.wsc: " + c.Error);
        EXPECT_TRUE(world.Take() == before) << c.Error;
    }
}

TEST(ServerRules, AnEmptiedPatchOrOneThatBeginsWithACommentHoldsItemRecords)
{
    test::WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    table.At(100, 200) = {0, 7, 0};
    const TStaticItem object{0xeed, 3, 5, -5, 0};
    const std::string comment = "// patch for the players\r\n";
    const std::string ordinary = test::CrLfLines({"[ITEM]", "Serial=0x40000007", "Type=0", "", "o---o", ""});
    const struct {
        const char* Name;
        std::string Text;
        std::string Melted; // appended by a melt of the block; the freeze that follows takes it out
    } cases[] = {
        {"patch.wsc", "", ItemRecordText({0x40000000, 0xeed, 803, 1605, -5, 0, 0})},
        {"patch.wsc", comment + ordinary, ItemRecordText({0x40000008, 0xeed, 803, 1605, -5, 0, 0})},
        {"uox3.wsc", "",
            test::CrLfLines({"SECTION WORLDITEM 0", "{", "SERIAL 1073741825", "NAME #", "ID 3821", "X 803", "Y 1605",
                "Z -5", "COLOR 0", "CONT -1", "TYPE 255", "}", "", "EOF", ""})},
    };
    for (const auto& c : cases) {
        world.Write(table, ItemBytes({object}), "");
        const WorldFiles files{world.StaIdx(), world.Statics(), world.Dir() / c.Name};
        WriteText(files.Wsc, c.Text);
        RecordingReporter log;
        ASSERT_EQ(Transfer(files, 0, "100 200", log), "") << c.Name;
        EXPECT_EQ(ReadText(files.Wsc), c.Text + c.Melted) << c.Name << " " << testing::PrintToString(c.Text);
        ASSERT_EQ(Transfer(files, 0, "", log), "") << c.Name;
        EXPECT_EQ(ReadText(files.Wsc), c.Text + (c.Name[0] == 'u' ? "\r\nEOF\r\n\r\n" : "")) << c.Name;
        EXPECT_EQ(test::ReadBytes(world.Statics()), ItemBytes({object, object})) << c.Name;
        fs::remove(files.Wsc);
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
    // 0x40000030's first an ordinary item, which would come back once the other is frozen; 0x40000040 last lies
    // in a chest.
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
    EXPECT_EQ(ReadText(patch), plain + a3);
    EXPECT_EQ(log.Lines.back(), "Items exported to " + patch + ": 2");

    log.Lines.clear();
    auto table = world.Load();
    RunFreeze(files, *table, log);
    EXPECT_EQ(log.Lines,
        (std::vector<std::string>{FreezeStart,
            "Not frozen: [ITEM] Serial=0x40000020 in 0.0.wsc, line 10 is dropped by the server, which keeps the later "
            "record with this serial in 2.0.wsc, line 1",
            "Not frozen: [ITEM] Serial=0x40000040 in 0.0.wsc, line 28 is dropped by the server, which keeps the later "
            "record with this serial in 1.0.wsc, line 19",
            "Not frozen: [ITEM] Serial=0x40000030 in 1.0.wsc, line 10: the server would load another record with "
            "this serial, which is no Type 255 item on the ground, in its place",
            "Not frozen: [ITEM] Serial=0x40000040 in 1.0.wsc, line 19 is inside a container or worn (Cont=0x40000050)",
            "Serial=0x40000010: frozen once, from overflow.wsc, line 1, the record the server keeps; 3 records with "
            "this serial removed",
            "Items taken from " + shared + "/0.0.wsc: 2", "Items taken from " + shared + "/1.0.wsc: 1",
            "Items taken from " + shared + "/overflow.wsc: 1", "Extracting from WSC... XBlock: 11 YBlock: 12",
            "Appending to Statics... XBlock: 11 YBlock: 12", "Extracting from WSC... XBlock: 625 YBlock: 12",
            "Appending to Statics... XBlock: 625 YBlock: 12", "Freezing completed!", "2 items frozen into 2 blocks"}));
    EXPECT_EQ(ReadText(shared + "/0.0.wsc"), b1 + c1 + d1);
    EXPECT_EQ(ReadText(shared + "/1.0.wsc"), c2 + d2);
    EXPECT_EQ(ReadText(shared + "/2.0.wsc"), b2);
    EXPECT_EQ(ReadText(shared + "/overflow.wsc"), "");
    EXPECT_EQ(test::ReadBytes(world.Statics()), ItemBytes({{0x60, 2, 4, 0, 0}, {0x10, 0, 4, 0, 0}}));
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
