#include "Error.h"
#include "ItemFreeze.h"
#include "ItemMelt.h"
#include "ItemSaveFiles.h"
#include "RegionFolder.h"
#include "RegionGen.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

using test::ErrorText;
using test::TempFolder;
using test::WriteText;
using namespace test::golden;

TEST(ItemFreeze, TakesGroundItemsOfTheMapAndNamesEveryItemItLeaves)
{
    TempFolder dir;
    WriteGoldenFolder(dir.path());
    const FreezeSelection selection = SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{0, 7168, 4096});

    EXPECT_EQ(selection.Objects,
        (std::vector<FrozenObject>{{100, 200, {0x1F, 3, 5, -5, 8}}, {31, 127, {2849, 7, 7, 127, 0x481}},
            {12, 12, {1, 4, 4, 0, 0}}, {32, 128, {2, 0, 0, 0, 0}}}));
    EXPECT_EQ(ObjectsByBlock(selection.Objects),
        (std::vector<BlockObjects>{{12, 12, {{1, 4, 4, 0, 0}}}, {31, 127, {{2849, 7, 7, 127, 0x481}}},
            {32, 128, {{2, 0, 0, 0, 0}}}, {100, 200, {{0x1F, 3, 5, -5, 8}}}}));
    EXPECT_EQ(selection.NotFrozen,
        (std::vector<std::string>{
            "Not frozen: [ITEM] Serial=0x40000001 in 0.0.wsc, line 8 is inside a container or worn (Cont=0x5)",
            "Not frozen: [ITEM] Serial=0x40000003 in 0.0.wsc, line 29 contains other items",
            "Not frozen: [ITEM] Serial=0x40000005 in 0.0.wsc, line 46 belongs to a house or boat "
            "(MultiID=0x40000100)",
            "Not frozen: [ITEM] Serial=0x40000006 in 0.0.wsc, line 55 is in world 1",
            "Not frozen: [ITEM] Serial=0x4000000b in 1.1.wsc, line 9 is in world 2",
            "Not frozen: [ITEM] Serial=0x4000000c in overflow.wsc, line 7 is inside a container or worn (Cont=0x6)",
            "Not frozen: [SPAWNITEM] Serial=0x4000000d in overflow.wsc, line 14 is not an [ITEM] record",
        }));

    // Only the files that lose records, each without them and otherwise as it was.
    ASSERT_EQ(selection.Files.size(), 2u);
    EXPECT_EQ(selection.Files[0].Path, dir / "0.0.wsc");
    EXPECT_EQ(WithoutRanges(selection.Files[0].Bytes, selection.Files[0].Records),
        Guard + Worn + Separator + Box + Content + HouseItem + OtherWorld + NotMarked);
    EXPECT_EQ(selection.Files[1].Path, dir / "1.1.wsc");
    EXPECT_EQ(WithoutRanges(selection.Files[1].Bytes, selection.Files[1].Records), Faraway);

    // Another map takes its own world's items.
    EXPECT_EQ(SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{2, 2304, 1600}).Objects,
        (std::vector<FrozenObject>{{37, 137, {0, 4, 4, 0, 0}}}));
}

TEST(ItemFreeze, RefusesWhatTheServerCannotLoadNamingFileAndLine)
{
    const std::string item = "[ITEM]\nSerial=0x40000001\nType=255\n";
    const std::string end = "\no---o\n\n";
    const struct {
        std::string Bytes;
        std::string Text;
        int Line;
    } cases[] = {
        {"[ITEM]\nID=0x1\nType=255\n" + end, "This Type 255 item has no Serial: the server does not load it", 1},
        {item + "ID=\n" + end, "The server cannot load ID=: the value is empty", 4},
        {item + "Colour=red\n" + end, "The server cannot load Colour=red: the value is not a number", 4},
        {item + "Colour=\nColour=0x5\n" + end, "The server cannot load Colour=: the value is empty", 4},
        {item + "ID=99999999999999999999\n" + end,
            "The server cannot load ID=99999999999999999999: the value is too large", 4},
        {item + "Location=\n" + end, "The server cannot load Location=: the value is empty", 4},
        {item + "Location=1,2,3\n" + end, "The server cannot load Location=1,2,3: it needs at least four fields", 4},
        {item + "Location=1,,3,0\n" + end, "The server cannot load Location=1,,3,0: a field is empty", 4},
        {item + "XYZ=1,2\n" + end, "The server cannot load XYZ=1,2: it needs at least three fields", 4},
        {item + "Cont=0x5\nLocation=1,a,3,0\n" + end,
            "The server cannot load Location=1,a,3,0: a field is not a number", 5},
        {item + "ID=0x10000\n" + end, "ID=0x10000 is above 0xFFFF, the highest graphic", 4},
        {item + "COLOR=65536\n" + end, "COLOR=65536 is above 0xFFFF, the highest hue", 4},
        {item + "Location=7168,5,0,0,0\n" + end, "This Type 255 item lies at 7168,5, off the map of 7168 x 4096 tiles",
            4},
        {item + "Location=5,5,0,0\nY=-1\n" + end,
            "This Type 255 item lies at 5,4294967295, off the map of 7168 x 4096 tiles", 5},
        {item + "Location=1,1,128,0,0\n" + end, "This Type 255 item lies at altitude 128, outside -128..127", 4},
        {item + "[ITEM]\n" + end, "This Type 255 item has no o---o line: the server reads the next record into it", 1},
        {"[CHARACTER]\nSerial=0x1\n" + item + end,
            "The record before this Type 255 item (line 1) has no o---o line: the server reads the item into it", 3},
        {"\xEF\xBB\xBF" + item + end,
            "The file begins with a UTF-8 byte-order mark, which hides its first record from the server", 1},
        {item + "Name=" + std::string(4091, 'n') + "\n" + end,
            "This line is 4096 characters long: the server reads at most 4095 characters on a line inside a record "
            "and skips the rest of the file",
            4},
    };
    TempFolder dir;
    for (const auto& c : cases) {
        WriteText(dir / "0.0.wsc", c.Bytes);
        try {
            SelectForFreeze({dir / "0.0.wsc"}, FreezeMap{});
            ADD_FAILURE() << "accepted: " << c.Bytes;
        } catch (const Error& error) {
            EXPECT_EQ(error.what(), c.Text);
            EXPECT_EQ(error.File(), dir / "0.0.wsc");
            EXPECT_EQ(error.Place(), "line " + std::to_string(c.Line)) << c.Text;
        }
    }
    // A record without "o---o" is refused only where it matters.
    WriteText(dir / "0.0.wsc", item + end + "[ITEM]\nSerial=0x40000002\n");
    EXPECT_EQ(SelectForFreeze({dir / "0.0.wsc"}, FreezeMap{}).Objects.size(), 1u);
    EXPECT_EQ(ErrorText([&] { SelectForFreeze({dir / "missing.wsc"}, FreezeMap{}); }), "File not found");
}

TEST(ItemMelt, RegionFilesAreTheServersAtTheirBoundaries)
{
    const struct {
        std::uint32_t X, Y;
        const char* Name;
    } cases[] = {
        {0, 0, "0.0.wsc"},
        {255, 1023, "0.0.wsc"},
        {256, 1023, "1.0.wsc"},
        {255, 1024, "0.1.wsc"},
        {6143, 4095, "23.3.wsc"},
        {7167, 4095, "27.3.wsc"}, // the last column of a map 896 blocks wide
        {7168, 0, "overflow.wsc"},
        {0, 4096, "overflow.wsc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RegionFileName(c.X, c.Y), c.Name) << c.X << "," << c.Y;
}

TEST(ItemMelt, RecordsAreWrittenInTheServersFormAndFrozenBackUnchanged)
{
    const std::string text = ItemRecordText({0x4000a1b2, 0xb21, 1432, 1696, -5, 0x481, 2});
    EXPECT_EQ(text,
        "[ITEM]\nSerial=0x4000a1b2\nID=0xb21\nColour=0x481\nName=#\nLocation=1432,1696,-5,2,0\nCont=0xffffffff\n"
        "Type=255\nMovable=2\n\no---o\n\n");
    EXPECT_EQ(LineEndBefore(""), "");
    EXPECT_EQ(LineEndBefore("o---o\n"), "");
    EXPECT_EQ(LineEndBefore("o---o\r\n"), "");
    EXPECT_EQ(LineEndBefore("o---o"), "\n");

    TempFolder dir;
    const std::string existing = Guard + "---REGION---";
    WriteText(dir / "5.1.wsc", existing + std::string(LineEndBefore(existing)) + text);
    const FreezeSelection selection = SelectForFreeze({dir / "5.1.wsc"}, FreezeMap{2, 7168, 4096});
    EXPECT_EQ(selection.Objects, (std::vector<FrozenObject>{{179, 212, {0xb21, 0, 0, -5, 0x481}}}));
    EXPECT_EQ(WithoutRanges(selection.Files[0].Bytes, selection.Files[0].Records), existing + "\n");

    const struct {
        std::string Bytes;
        std::string Text;
        int Line;
    } targets[] = {
        {Guard + "[ITEM]\nID=0x1\n", "The last record has no o---o line: the server would read new items into it", 8},
        {std::string(1023, '/'),
            "This line is 1023 characters long: the server reads at most 1022 characters on a line between records "
            "and skips the rest of the file, so it would not load new items there",
            1},
    };
    for (const auto& c : targets) {
        try {
            CheckAppendTarget("x.wsc", ScanRecords(c.Bytes));
            ADD_FAILURE() << "accepted: " << c.Bytes;
        } catch (const Error& error) {
            EXPECT_EQ(error.what(), c.Text);
            EXPECT_EQ(error.Place(), "line " + std::to_string(c.Line));
        }
    }
    CheckAppendTarget("x.wsc", ScanRecords(Guard + "---REGION---"));
}

TEST(ItemMelt, NewSerialsLieAboveEveryObjectOfEveryWscFile)
{
    TempFolder dir;
    WriteGoldenFolder(dir.path());
    WriteText(dir / "2.0.wsc", "[HOUSE]\nSerial=0x7ffffff5\n\no---o\n\n[ITEM]\nSerial=junk\n\no---o\n\n");
    EXPECT_EQ(HighestSerialOfFiles(WscFiles(dir.path())), 0x7ffffff5u);
    EXPECT_EQ(HighestSerial(ScanRecords(Guard)), 5u);
    EXPECT_EQ(FirstNewSerial(5, 3), 0x40000000u);
    EXPECT_EQ(FirstNewSerial(0x4000000c, 1), 0x4000000du);
    EXPECT_EQ(FirstNewSerial(0xFFFFFFFC, 2), 0xFFFFFFFDu);
    EXPECT_EQ(ErrorText([] { FirstNewSerial(0xFFFFFFFC, 3); }),
        "No serial is left for 3 new items above the highest serial, 0xfffffffc");
}

TEST(ItemFreeze, FilesWithoutType255ItemsGiveOnlyTheirContainersAndTheirLongLines)
{
    const struct {
        std::string Bytes;
        bool Alone;
        std::vector<std::uint32_t> Containers;
    } cases[] = {
        {Guard + Content + "Cont=0xffffffff\n Cont = 0X10 // x\nCONT=-1\nCont=010\r\nContainer=5\ncont=\n", true,
            {0x40000003, 0x10, 8}},
        {"[ITEM]\nType=0x0ff\nCont=0x5\n", false, {}},
        {"[ITEM]\n\ttype = 255 // marked\n", false, {}},
        {"[ITEM]\nType=2550\nType=x\nTyped=255\n", true, {}},
        {std::string(1022, 'x') + "\nCont=0x7", true, {7}},
        {std::string(1023, 'x') + "\nCont=0x7", false, {}},
        {"Cont=0x7\n" + std::string(1023, 'x'), false, {}},
        {"\xEF\xBB\xBF" + Content, false, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint32_t> containers{1};
        EXPECT_EQ(ContainersOnly(c.Bytes, containers), c.Alone) << c.Bytes.substr(0, 40);
        containers.erase(containers.begin());
        EXPECT_EQ(containers, c.Containers) << c.Bytes.substr(0, 40);
    }

    // A marked box whose content lies in a file without marked items stays.
    TempFolder dir;
    WriteText(dir / "0.0.wsc", Box);
    WriteText(dir / "1.0.wsc", Guard + Content);
    const FreezeSelection selection = SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{});
    EXPECT_TRUE(selection.Objects.empty());
    EXPECT_EQ(selection.NotFrozen,
        std::vector<std::string>{"Not frozen: [ITEM] Serial=0x40000003 in 0.0.wsc, line 1 contains other items"});
}

TEST(ItemFreeze, AGeneratedSharedFolderFreezesExactlyItsMarkedItems)
{
    TempFolder dir;
    worldgen::RegionOptions options;
    options.TargetBytes = 400000;
    options.Files = 6;
    options.Type255Items = 60;
    options.Blocks = worldgen::BlocksInEveryNthFile(12, 3, 6, 7);
    const worldgen::RegionFolder folder = worldgen::WriteRegionFolder(dir.path(), options);
    ASSERT_EQ(folder.Frozen.size(), 60u);
    EXPECT_GT(folder.Bytes, 400000u);

    const FreezeSelection selection = SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{});
    std::vector<FrozenObject> expected;
    for (const worldgen::ExpectedObject& object : folder.Frozen)
        expected.push_back({object.XBlock, object.YBlock, object.Item});
    EXPECT_EQ(selection.Objects, expected);
    EXPECT_EQ(static_cast<int>(selection.NotFrozen.size()), folder.LeftBehind);
    EXPECT_EQ(ObjectsByBlock(selection.Objects).size(), 12u);

    // Without the frozen records, a second freeze takes nothing and leaves the same items.
    for (const FreezeFile& file : selection.Files)
        WriteText(file.Path, WithoutRanges(file.Bytes, file.Records));
    const FreezeSelection again = SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{});
    EXPECT_TRUE(again.Objects.empty());
    EXPECT_EQ(again.NotFrozen, selection.NotFrozen);
}

} // namespace
} // namespace cryo
