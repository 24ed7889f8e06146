#include "Actions.h"
#include "Error.h"
#include "ItemFreeze.h"
#include "ItemMelt.h"
#include "ItemSaveFiles.h"
#include "RegionGen.h"
#include "TestSupport.h"
#include "World.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

namespace cryo {
namespace {

using test::ErrorLineOf;
using test::ErrorText;
using test::ReadText;
using test::TempFolder;
using test::WriteText;

// A selected file's bytes without the records a freeze cuts.
std::string Rest(const FreezeFile& file)
{
    std::string bytes;
    ReadSelectedFile(file, bytes);
    RemoveRanges(bytes, file.Records);
    return bytes;
}

// A region file with the server's quirks, record by record, and the line each starts on.
const std::string Guard = "[CHARACTER]\nSerial=0x5\nName=Guard\nLocation=100,200,0,0,0\n\no---o\n\n"; // 1
const std::string Worn = "[ITEM]\nSerial=0x40000001\nID=0x1517\nCont=0x5\nType=255\n\no---o\n\n"; // 8
const std::string Quirky = "[ITEM]\nserial=0x40000002\nid=0X1F\ncolour=010\n" // 16
                           "Location=803, 1605, -5, 0, 0 // placed by hand\nUnknown=yes\nPoisonCharges0\n"
                           "type=255\n\no---o\n\n";
const std::string Separator = "---REGION---\n\n"; // 27
const std::string Box
    = "[ITEM]\nSerial=0x40000003\nID=0xe75\nLocation=10,20,0,0,0\nCont=-1\nType=255\n\no---o\n\n"; // 29
const std::string Content = "[ITEM]\nSerial=0x40000004\nID=0xeed\nCont=0x40000003\nType=0\n\no---o\n\n"; // 38
const std::string HouseItem = "[ITEM]\nSerial=0x40000005\nID=0xa2a\nLocation=30,40,0,0,0\nMultiID=0x40000100\n" // 46
                              "Type=255\n\no---o\n\n";
const std::string OtherWorld = "[ITEM]\nSerial=0x40000006\nID=0xb21\nLocation=30,40,0,1,0\nType=255\n\no---o\n\n"; // 55
const std::string OldKeys
    = "[ITEM]\nSerial=1073741831\nID=2849\nCOLOR=0x481\nX=255\nY=1023\nZ=127\nWORLDNUMBER=0\n" // 63
      "MultiID=-1\nCont=4294967295\nType=0x0ff\n\no---o\n\n";
const std::string NotMarked = "[ITEM]\nSerial=0x40000008\nType=0x1ff\nLocation=1,1,0,0,0\n\no---o\n\n"; // 77
const std::string Last = "[ITEM]\nSerial=0x40000009\nID=0x1\nType=255\n\no---o\n"; // 84, no blank line after
// CR LF, as a file edited on Windows.
const std::string Windows
    = "[ITEM]\r\nSerial=0x4000000a\r\nID=0x2\r\nLocation=256,1024,0,0,0\r\nType=255\r\n\r\no---o\r\n\r\n";
const std::string Faraway
    = "[ITEM]\r\nSerial=0x4000000b\r\nLocation=300,1100,0,2,0\r\nType=255\r\n\r\no---o\r\n\r\n"; // 9
const std::string Parked = "[CHARACTER]\nSerial=0x6\nLocation=7200,100,0,0,0\n\no---o\n\n";
const std::string ParkedItem = "[ITEM]\nSerial=0x4000000c\nCont=0x6\nType=255\n\no---o\n\n"; // 7

void WriteGoldenFolder(const std::string& dir)
{
    WriteText(dir + "/0.0.wsc",
        Guard + Worn + Quirky + Separator + Box + Content + HouseItem + OtherWorld + OldKeys + NotMarked + Last);
    WriteText(dir + "/1.1.wsc", Windows + Faraway);
    WriteText(dir + "/overflow.wsc", Parked + ParkedItem + "[SPAWNITEM]\nSerial=0x4000000d\nType=255\n\no---o\n\n");
    WriteText(dir + "/notes.wsc", "[ITEM]\nSerial=0x7ffffff0\nLocation=1,1,0,0,0\nType=255\n\no---o\n\n");
}

TEST(ItemFreeze, TakesGroundItemsOfTheMapAndNamesEveryItemItLeaves)
{
    TempFolder dir;
    WriteGoldenFolder(dir.path());
    const FreezeSelection selection = SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{0, 7168, 4096, {}});

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
    EXPECT_EQ(Rest(selection.Files[0]), Guard + Worn + Separator + Box + Content + HouseItem + OtherWorld + NotMarked);
    EXPECT_EQ(selection.Files[1].Path, dir / "1.1.wsc");
    EXPECT_EQ(Rest(selection.Files[1]), Faraway);

    // Another map takes its own world's items.
    EXPECT_EQ(SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{2, 2304, 1600, {}}).Objects,
        (std::vector<FrozenObject>{{37, 137, {0, 4, 4, 0, 0}}}));

    // A file cut short after the selection is not cut at the old places.
    WriteText(dir / "1.1.wsc", Faraway);
    EXPECT_EQ(ErrorText([&] { Rest(selection.Files[1]); }),
        "Another program changed the file while Cryoweaver worked; no file was changed");
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
        {item + "Location=5,5,0,0\nY=-1\n" + end, "This Type 255 item lies at 5,-1, off the map of 7168 x 4096 tiles",
            5},
        {item + "Location=1,1,128,0,0\n" + end, "This Type 255 item lies at altitude 128, outside -128..127", 4},
        {item + "[ITEM]\n" + end, "This Type 255 item has no o---o line: the server reads the next record into it", 1},
        {"[CHARACTER]\nSerial=0x1\n" + item + end,
            "The record before this Type 255 item (line 1) has no o---o line: the server reads the item into it", 3},
        {"\xEF\xBB\xBF" + item + end,
            "The file begins with a UTF-8 byte-order mark, which hides its first record from the server", 1},
        {item + "Name=" + std::string(4091, 'n') + "\n" + end,
            "This line is 4096 characters long: the server reads at most 4095 characters on a line inside a record "
            "and skips the rest of the file",
            4}};
    // A check reads the file another way, for every record's serial, and names the same.
    auto refusedInCheck = [](const std::string& path) {
        FreezeSelector selector(FreezeMap{}, true);
        std::string bytes;
        selector.ReadFile(path, bytes);
        selector.AddFile(path, bytes);
        const FreezeSelection selection = selector.Finish();
        return selection.Refused.empty() ? std::string() : ErrorLine(selection.Refused.front());
    };
    TempFolder dir;
    for (const auto& c : cases) {
        WriteText(dir / "0.0.wsc", c.Bytes);
        const std::string expected = dir / "0.0.wsc: line " + std::to_string(c.Line) + ": " + c.Text + ".";
        EXPECT_EQ(ErrorLineOf([&] { SelectForFreeze({dir / "0.0.wsc"}, FreezeMap{}); }), expected);
        EXPECT_EQ(refusedInCheck(dir / "0.0.wsc"), expected);
    }
    // The same behind 300 KB of other records, in a file read in two halves
    // that meet at the first section line after its middle: the case's last record.
    const std::string other = "[ITEM]\nSerial=0x2\nType=1\n\no---o\n\n";
    std::string before;
    while (before.size() < 300000)
        before += other;
    const auto linesBefore = static_cast<int>(std::count(before.begin(), before.end(), '\n'));
    for (const auto& c : cases) {
        if (c.Bytes.starts_with("\xEF"))
            continue;
        std::string bytes = before + c.Bytes;
        bytes.append(2 * (before.size() + c.Bytes.rfind('[') - 1) - bytes.size(), '\n');
        WriteText(dir / "0.0.wsc", bytes);
        std::string text = c.Text;
        if (const std::size_t at = text.find("(line 1)"); at != std::string::npos)
            text.replace(at, 8, "(line " + std::to_string(linesBefore + 1) + ")");
        const std::string expected = dir / "0.0.wsc: line " + std::to_string(linesBefore + c.Line) + ": " + text + ".";
        EXPECT_EQ(ErrorLineOf([&] { SelectForFreeze({dir / "0.0.wsc"}, FreezeMap{}); }), expected);
        EXPECT_EQ(refusedInCheck(dir / "0.0.wsc"), expected);
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
        std::uint32_t Width, Height;
        const char* Name;
    } cases[] = {
        {0, 0, 7168, 4096, "0.0.wsc"}, {255, 1023, 7168, 4096, "0.0.wsc"}, {256, 1023, 7168, 4096, "1.0.wsc"},
        {255, 1024, 7168, 4096, "0.1.wsc"}, {6143, 4095, 7168, 4096, "23.3.wsc"}, {7167, 4095, 7168, 4096, "27.3.wsc"},
        {7168, 0, 7168, 4096, "overflow.wsc"}, {0, 4096, 7168, 4096, "overflow.wsc"},
        {2303, 1535, 2304, 1600, "8.1.wsc"}, // map 2: 72 x 12 cells
        {2303, 1536, 2304, 1600, "overflow.wsc"}, {1439, 1407, 1448, 1448, "5.1.wsc"}, // map 4: 45 x 11 cells
        {1447, 1447, 1448, 1448, "overflow.wsc"}, {7168, 100, 8192, 4096, "overflow.wsc"}, // past the fixed grid
    };
    for (const auto& c : cases)
        EXPECT_EQ(RegionFileName(c.X, c.Y, c.Width, c.Height), c.Name) << c.X << "," << c.Y;
}

TEST(ItemMelt, RecordsAreWrittenInTheServersFormAndFrozenBackUnchanged)
{
    const std::string text = ItemRecordText({0x4000a1b2, 0xb21, 1432, 1696, -5, 0x481, 2});
    EXPECT_EQ(text,
        "[ITEM]\nSerial=0x4000a1b2\nID=0xb21\nColour=0x481\nName=#\nLocation=1432,1696,-5,2,0\nCont=0xffffffff\n"
        "Type=255\nMovable=2\n\no---o\n\n");
    for (const auto& [existing, crLf, end] : {std::tuple{"", false, ""}, {"o---o\n", false, ""},
             {"o---o\r\n", false, ""}, {"o---o", false, "\n"}, {"o---o", true, "\r\n"}, {"o---o\r\n", true, ""}})
        EXPECT_EQ(LineEndBefore(existing, crLf), end) << existing;
    EXPECT_EQ((std::vector<bool>{UsesCrLf("[ITEM]\r\nSerial=0x1\n"), UsesCrLf("[ITEM]\nSerial=0x1\r\n"), UsesCrLf(""),
                  UsesCrLf("\n")}),
        (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(WithCrLf("[ITEM]\nType=255\n\no---o\n\n"), "[ITEM]\r\nType=255\r\n\r\no---o\r\n\r\n");

    TempFolder dir;
    const std::string existing = Guard + "---REGION---";
    WriteText(dir / "5.1.wsc", existing + std::string(LineEndBefore(existing)) + text);
    const FreezeSelection selection = SelectForFreeze({dir / "5.1.wsc"}, FreezeMap{2, 7168, 4096, {}});
    EXPECT_EQ(selection.Objects, (std::vector<FrozenObject>{{179, 212, {0xb21, 0, 0, -5, 0x481}}}));
    EXPECT_EQ(Rest(selection.Files[0]), existing + "\n");

    const struct {
        std::string Bytes;
        std::string Text;
        int Line;
    } targets[] = {
        {Guard + "[ITEM]\nID=0x1\n", "The last record has no o---o line: the server would read new items into it", 8},
        {"\xEF\xBB\xBF" + Guard,
            "The file begins with a UTF-8 byte-order mark, which hides its first record from the server", 1},
        {"SECTION WORLDITEM 1\r\n{\r\n}\r\n",
            "This file is a classic world save of SECTION WORLDITEM sections, not a file of [ITEM] records: a melt "
            "writes no [ITEM] records into it",
            0},
        {std::string(1023, '/'),
            "This line is 1023 characters long: the server reads at most 1022 characters on a line between records "
            "and skips the rest of the file, so it would not load new items there",
            1},
        // Ending as most files do does not pass over a long line before.
        {Guard + std::string(1023, '/') + "\r\n" + Guard,
            "This line is 1024 characters long: the server reads at most 1022 characters on a line between records "
            "and skips the rest of the file, so it would not load new items there",
            8},
        {Guard + "[ITEM]\nID=0x1\no---o\r",
            "The last record has no o---o line: the server would read new items into it", 8}};
    for (const auto& c : targets)
        EXPECT_EQ(ErrorLineOf([&] { CheckAppendTarget("x.wsc", c.Bytes); }),
            "x.wsc: " + (c.Line == 0 ? "" : "line " + std::to_string(c.Line) + ": ") + c.Text + ".");
    // What ends as most files do, and what the server reads all the same.
    for (const std::string& bytes : {Guard, Guard + "[ITEM]\r\nID=0x1\r\n o---o \r\n\r\n", Guard + "o---o",
             "[ITEM]\n" + std::string(4000, '/') + "\no---o\n", Guard + "---REGION---", "\n---REGION---\n\n" + Guard,
             std::string()})
        EXPECT_EQ(ErrorLineOf([&] { CheckAppendTarget("x.wsc", bytes); }), "") << bytes.substr(0, 40);
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

TEST(ItemMelt, TheHighestSerialReadLineByLineIsTheOneOfEveryRecord)
{
    const struct {
        std::string Records;
        std::uint32_t Highest;
    } cases[] = {
        {"[ITEM]\nSerial=0x40000009\nSerial=0x40000002\n\no---o\n\n", 0x40000002}, // the last line counts
        {"[ITEM]\nSerial=0x5\n\no---o\nSerial=0x7fffffff\n", 5}, // none outside a record
        {"[ITEM]\n  sERIAL = 0X44 // a comment\n\no---o\n", 0x44},
        {"[ITEM]\nSerial=0x3\n\t o---o //\nSerial=0x99\n", 3},
        {"[ITEM]\nSerial=0x3\no---ox\nSerial=0x2\n", 2},
        {"[ITEM]\r\nSerial=0x21\r\n\r\no---o\r\nSerial=0x99\r\n", 0x21},
        {"[ITEM]\nSerial=0x8\nSerial=junk\n\no---o\n", 0},
        {"[ITEM]\nSerial=010\n\no---o\n[ITEM]\nSerial=0x123456789\n", 0x23456789},
        {"[HOUSE]\nSerials=0x60\nSerial=0x41\nSeria=0x77\n", 0x41},
    };
    const std::string character = "[CHARACTER]\nSerial=0x1\nName=x\n\no---o\n\n";
    for (const auto& c : cases) {
        // At every alignment of the lines against the sixteen bytes read at once.
        for (std::size_t blank = 0; blank < 17; ++blank) {
            const std::string text = std::string(blank, '\n') + character + c.Records + character;
            EXPECT_EQ(HighestSerialOfText(text), std::max(c.Highest, 1u)) << text;
            EXPECT_EQ(HighestSerialOfText(text), HighestSerial(ScanRecords(text))) << text;
        }
    }
    // A byte-order mark hides the first record.
    EXPECT_EQ(HighestSerialOfText("\xEF\xBB\xBF[ITEM]\nSerial=0x50\n\no---o\n"), 0u);
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
        WriteText(file.Path, Rest(file));
    const FreezeSelection again = SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{});
    EXPECT_TRUE(again.Objects.empty());
    EXPECT_EQ(again.NotFrozen, selection.NotFrozen);
}

TEST(ItemFreeze, FilesAreReadForTheirContainersSerialsAndType255RecordsLineByLine)
{
    const std::string serials = "Serial=0x1\n[ITEM]\nSerial=0x40000001\nSerial = 0X40000002 // moved\n\no---o\n"
                                "Serial=0x3\n[ITEM]\r\nSpawnerID=0x4\r\n\t serial=010\r\n o---o // end\r\n"
                                "[CHARACTER]\nSerial=\n\n[ITEM]\nSerial=-1\n[HOUSE]\nserial=0x40000009";
    const std::string marked = "[ITEM]\nCont=0x5\n\ttype = 0x0ff // marked\nType=255\n[ITEM]\nType=1\no---o\n"
                               "Type=255\n[ITEM]\r\nType=255\r\no---o\r\n";
    const struct {
        std::string Bytes;
        bool Passed;
        std::vector<std::uint32_t> Containers;
        std::vector<SerialLine> Serials = {};
        std::vector<std::uint32_t> Type255Lines = {}; // of the records listed, with the lines before them left open
    } cases[] = {
        {Content + "Cont=0xffffffff\n Cont = 0X10 // x\nCONT=-1\nCont=010\r\nContainer=5\n", true, {0x40000003, 16, 8},
            {{0x40000004, 1}}},
        // Each record once, whatever its Type lines; one outside any record is no record's.
        {marked, true, {5}, {}, {1, 0, 9, 0}},
        {"[ITEM]\nType=2550\nType=x\nTyped=255\n" + std::string(1022, 'x'), true, {}},
        {"Cont=0x7\n" + std::string(1023, 'x'), false, {}},
        {"\xEF\xBB\xBF" + Content, false, {}},
        // The last Serial of each record, before its "o---o", as the server reads it.
        {serials, true, {}, {{0x40000002, 2}, {8, 8}, {0xffffffff, 15}, {0x40000009, 17}}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint32_t> containers;
        std::vector<SerialLine> found;
        PassedFile passed;
        EXPECT_EQ(ReferencesPassing(c.Bytes, containers, found, passed), c.Passed) << c.Bytes.substr(0, 40);
        EXPECT_EQ(containers, c.Containers) << c.Bytes.substr(0, 40);
        EXPECT_EQ(found, c.Serials) << c.Bytes.substr(0, 40);
        std::vector<std::uint32_t> type255;
        for (const PassedFile::RecordStart& start : passed.Type255) {
            EXPECT_EQ(c.Bytes[start.Begin], '[');
            type255.insert(type255.end(), {start.Line, start.OpenBefore});
        }
        EXPECT_EQ(type255, c.Type255Lines) << c.Bytes.substr(0, 40);
        // Every record's serial as a whole scan reads it.
        if (c.Passed) {
            std::vector<SerialLine> scanned;
            for (const SaveRecord& record : ScanRecords(c.Bytes).Records)
                if (record.Serial.IsNumber())
                    scanned.push_back({record.Serial.Value, record.Line});
            EXPECT_EQ(found, scanned) << c.Bytes.substr(0, 40);
        }
    }
    // A marked box whose content lies in a file without marked items stays.
    TempFolder dir;
    WriteText(dir / "0.0.wsc", Box);
    WriteText(dir / "1.0.wsc", Guard + Content);
    EXPECT_EQ(SelectForFreeze(FreezeFiles(dir.path()), FreezeMap{}).NotFrozen,
        std::vector<std::string>{"Not frozen: [ITEM] Serial=0x40000003 in 0.0.wsc, line 1 contains other items"});
}

namespace fs = std::filesystem;
using Placed = std::pair<std::pair<int, int>, TStaticItem>;
const fs::file_time_type Yesterday = fs::file_time_type::clock::now() - std::chrono::hours(24);

// A shared folder beside the statics of map 0 at 896 x 512 blocks, each
// object alone in its block.
std::unique_ptr<test::WorldFolder> SharedWorld(const std::vector<Placed>& objects)
{
    auto world = std::make_unique<test::WorldFolder>(true);
    StaIdx table = worldgen::EmptyIndex({896, 512});
    std::vector<TStaticItem> items;
    for (const auto& [block, item] : objects) {
        table.At(static_cast<std::uint16_t>(block.first), static_cast<std::uint16_t>(block.second))
            = {static_cast<std::int32_t>(items.size() * StaticItemSize), StaticItemSize, 0};
        items.push_back(item);
    }
    world->Write(table, test::ItemBytes(items), "");
    return world;
}

// Melts block "X Y", or freezes from wsc (the folder when empty): the error
// line, "" on success; the log holds the run's lines.
std::string RunOn(const test::WorldFolder& world, test::RecordingReporter& log, const std::string& melt = {},
    const std::string& wsc = {})
{
    const WorldFiles files{world.StaIdx(), world.Statics(), wsc.empty() ? world.Wsc() : wsc};
    return test::ErrorLineOf([&] {
        StaIdx table;
        LoadStaIdx(files.StaIdx, table, log);
        log.Lines.clear();
        if (melt.empty())
            RunFreeze(files, table, log);
        else
            RunMelt(files, melt.substr(0, melt.find(' ')), melt.substr(melt.find(' ') + 1), table, log);
    });
}

TEST(FolderFreeze, TakesOnlyTheMarkedRecordsAsItsExportDoesAndMeltsThemBackIntoTheirRegionFile)
{
    const auto world = SharedWorld({{{100, 200}, {9, 1, 1, 0, 0}}});
    const std::string shared = world->Wsc();
    WriteGoldenFolder(shared);
    for (const auto& entry : fs::directory_iterator(shared))
        fs::last_write_time(entry.path(), Yesterday);
    // As the system keeps them: Wine, for one, rounds them.
    std::map<std::string, fs::file_time_type> times;
    for (const char* untouched : {"/overflow.wsc", "/notes.wsc"})
        times[untouched] = fs::last_write_time(shared + untouched);
    const auto before = world->Take();
    std::vector<std::string> log = SelectForFreeze(FreezeFiles(shared), FreezeMap{}).NotFrozen;
    const std::string patch = world->Dir() / "patch.wsc";
    test::RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] {
        RunExport({"", "", shared}, shared + "/../shared/5.0.wsc", {}, reporter);
    }),
        "The export would write into a file of the world save it reads");
    RunExport({world->StaIdx(), world->Statics(), shared}, patch, worldgen::EmptyIndex({896, 512}), reporter);
    EXPECT_EQ(ReadText(patch), Quirky + OldKeys + Last + "\n" + Windows);
    EXPECT_EQ(reporter.Lines.back(), "Items exported to " + patch + ": 4");
    EXPECT_TRUE(world->Take() == before);
    // Nor into the [ITEM] file it reads, however its path is spelt.
    EXPECT_EQ(ErrorText([&] {
        RunExport({"", "", patch}, world->Dir() / "./patch.wsc", {}, reporter);
    }),
        "The world save '" + patch + "' and the output file '" + world->Dir() / "./patch.wsc"
            + "' are one file: each must be a file of its own");
    EXPECT_EQ(ReadText(patch), Quirky + OldKeys + Last + "\n" + Windows);

    ASSERT_EQ(RunOn(*world, reporter), "");
    log.insert(log.begin(), "Freezing in progress... Cryoweaver may look crashed, do not interrupt!");
    log.push_back("[ITEM] Serial=0x40000009 in 0.0.wsc, line 84 has no Location: frozen at 100,100, where the server "
                  "places it");
    log.push_back("Items taken from " + shared + "/0.0.wsc: 3");
    log.push_back("Items taken from " + shared + "/1.1.wsc: 1");
    for (const char* block : {"12 YBlock: 12", "31 YBlock: 127", "32 YBlock: 128", "100 YBlock: 200"}) {
        log.push_back("Extracting from WSC... XBlock: " + std::string(block));
        log.push_back("Appending to Statics... XBlock: " + std::string(block));
    }
    log.push_back("Freezing completed!");
    log.push_back("4 items frozen into 4 blocks");
    EXPECT_EQ(reporter.Lines, log);
    // Existing objects first, blocks in X-major order, each one copy at the end.
    const TStaticItem existing{9, 1, 1, 0, 0};
    EXPECT_EQ(test::ReadBytes(world->Statics()),
        test::ItemBytes(
            {existing, {1, 4, 4, 0, 0}, {2849, 7, 7, 127, 0x481}, {2, 0, 0, 0, 0}, existing, {0x1F, 3, 5, -5, 8}}));
    StaIdx index = worldgen::EmptyIndex({896, 512});
    index.At(12, 12) = {7, 7, 0};
    index.At(31, 127) = {14, 7, 0};
    index.At(32, 128) = {21, 7, 0};
    index.At(100, 200) = {28, 14, 0};
    EXPECT_EQ(test::ReadBytes(world->StaIdx()), test::IndexBytes(index));
    EXPECT_EQ(
        ReadText(shared + "/0.0.wsc"), Guard + Worn + Separator + Box + Content + HouseItem + OtherWorld + NotMarked);
    EXPECT_EQ(ReadText(shared + "/1.1.wsc"), Faraway);
    for (const char* untouched : {"/overflow.wsc", "/notes.wsc"})
        EXPECT_EQ(fs::last_write_time(shared + untouched), times[untouched]) << untouched;

    // The block melts into the file of its positions, above every serial of the folder.
    const auto frozen = world->Take().Folder;
    ASSERT_EQ(RunOn(*world, reporter, "100 200"), "");
    EXPECT_EQ(reporter.Lines,
        (std::vector<std::string>{log[0].replace(0, 8, "Melting"), "Highest serial: 7F FF FF F0",
            "Items added to " + shared + "/3.1.wsc: 2", "Writing StaIdx file...", "Done!", "Melting completed!",
            "2 objects of block 100, 200 melted into shared"}));
    const std::string melted
        = ItemRecordText({0x7ffffff1, 9, 801, 1601, 0, 0, 0}) + ItemRecordText({0x7ffffff2, 0x1F, 803, 1605, -5, 8, 0});
    EXPECT_EQ(ReadText(shared + "/3.1.wsc"), melted);
    fs::remove(shared + "/3.1.wsc");
    EXPECT_TRUE(world->Take().Folder == frozen);

    // A melt into the export appends to its end; the file freezes as the folder did.
    const auto other = SharedWorld({{{100, 200}, existing}});
    ASSERT_EQ(RunOn(*other, reporter, "100 200", patch), "");
    EXPECT_EQ(ReadText(patch),
        Quirky + OldKeys + Last + "\n" + Windows + ItemRecordText({0x4000000b, 9, 801, 1601, 0, 0, 0}));
    ASSERT_EQ(RunOn(*other, reporter, {}, patch), "");
    EXPECT_EQ(ReadText(patch), "");
    EXPECT_EQ(test::ReadBytes(other->Statics()),
        test::ItemBytes(
            {existing, {1, 4, 4, 0, 0}, {2849, 7, 7, 127, 0x481}, {2, 0, 0, 0, 0}, {0x1F, 3, 5, -5, 8}, existing}));
}

TEST(FolderFreeze, EveryRefusedValueLeavesEveryFileAsItWas)
{
    const std::string item = "[ITEM]\nSerial=0x40000010\nID=0x1\nLocation=8,8,0,0,0\nType=255\n";
    const struct {
        std::string Record; // in 0.0.wsc after a character, whose record ends on line 7
        int Line;
        const char* Melt = "";
    } cases[] = {
        {"[ITEM]\nID=0x1\nType=255\n\no---o\n\n", 8}, {item + "Colour=\n\no---o\n\n", 13},
        {item + "ID=x\n\no---o\n\n", 13}, {item + "Location=1,2,3\n\no---o\n\n", 13},
        {item + "Location=7168,0,0,0,0\n\no---o\n\n", 13}, {item + "ID=0x10000\n\no---o\n\n", 13},
        {item + "Location=8,8,128,0,0\n\no---o\n\n", 13},
        {item + "Name=" + std::string(4091, 'n') + "\n\no---o\n\n", 13},
        {"[ITEM]\nSerial=0x1\n", 8, "2 0"}, // no o---o before the melted records
    };
    for (const auto& c : cases) {
        const auto world = SharedWorld({{{2, 0}, {7, 0, 0, 0, 0}}});
        WriteGoldenFolder(world->Wsc());
        WriteText(world->Wsc() + "/0.0.wsc", Guard + c.Record);
        const auto before = world->Take();
        test::RecordingReporter log;
        EXPECT_TRUE(RunOn(*world, log, c.Melt).starts_with(world->Wsc() + "/0.0.wsc: line " + std::to_string(c.Line)))
            << c.Record;
        EXPECT_TRUE(world->Take() == before) << c.Record;
    }
}

} // namespace
} // namespace cryo
