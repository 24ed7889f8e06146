#include "File.h"
#include "ItemRecords.h"
#include "ItemSaveFiles.h"
#include "ItemValues.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace cryo {
namespace {

using test::ErrorText;
using test::TempFolder;
using test::WriteText;
using State = ServerNumber::State;

TEST(ItemValues, NumbersAreReadAsTheServerReadsThem)
{
    const struct {
        std::string_view Text;
        State Status;
        std::uint32_t Value;
    } cases[] = {{"0x4000a1b2", State::Number, 0x4000a1b2}, {"0X1F", State::Number, 31}, {"010", State::Number, 8},
        {"09", State::Number, 0}, {"0x", State::Number, 0}, {"2849", State::Number, 2849}, {"12abc", State::Number, 12},
        {"+7", State::Number, 7}, {"-1", State::Number, 0xFFFFFFFF}, {"-0x5", State::Number, 0xFFFFFFFB},
        {"0x100000005", State::Number, 5}, {"18446744073709551615", State::Number, 0xFFFFFFFF},
        {"18446744073709551616", State::TooLarge, 0}, {"", State::Empty, 0}, {" \t", State::Empty, 0},
        {"red", State::NotNumber, 0}, {"-", State::NotNumber, 0}, {"x12", State::NotNumber, 0}};
    for (const auto& c : cases) {
        const ServerNumber number = ReadServerNumber(c.Text);
        EXPECT_EQ(number.Status, c.Status) << c.Text;
        EXPECT_EQ(number.Value, c.Value) << c.Text;
    }
    EXPECT_EQ(ReadServerNumber("-5").Signed(), -5);
}

TEST(ItemValues, LinesAreCutAtCommentsTrimmedAndSplitAtTheFirstEquals)
{
    const struct {
        std::string_view Line;
        RecordLine::Kind Kind;
        std::string_view Key;
        std::string_view Value;
    } cases[] = {
        {"Name=http://x", RecordLine::Kind::KeyValue, "Name", "http:"},
        {" \t\v\fcolour = 0x5 \f", RecordLine::Kind::KeyValue, "colour", "0x5"},
        {"Desc=a=b", RecordLine::Kind::KeyValue, "Desc", "a=b"},
        {"Type=255\r", RecordLine::Kind::KeyValue, "Type", "255\r"},
        {"PoisonCharges0", RecordLine::Kind::Ignored, "", ""},
        {"// Type=255", RecordLine::Kind::Ignored, "", ""},
        {"  o---o // end", RecordLine::Kind::RecordEnd, "", ""},
        {"o---o\r", RecordLine::Kind::Ignored, "", ""},
        {"O---O", RecordLine::Kind::Ignored, "", ""},
    };
    for (const auto& c : cases) {
        const RecordLine line = ReadRecordLine(c.Line);
        EXPECT_EQ(line.LineKind, c.Kind) << c.Line;
        EXPECT_EQ(line.Key, c.Key) << c.Line;
        EXPECT_EQ(line.Value, c.Value) << c.Line;
    }
    EXPECT_TRUE(KeyIs("mUltiId", "MULTIID"));
    EXPECT_FALSE(KeyIs("MultiIDs", "MULTIID"));
}

TEST(ItemRecords, RecordsRunThroughTheBlankLineAfterTheirEndLine)
{
    const std::string character = "[CHARACTER]\r\nSerial=0x5\r\n\r\no---o\r\n\r\n";
    const std::string item = "[ITEM]\nserial = 0x40000001\nId=0X1F\nCOLOR=010\nColour=0x20\n"
                             "Location=1,2,3\nXYZ=803,1605,-5\nworldnumber=2\nType=255\n\no---o\n\n";
    const std::string between = "---REGION---\n\n";
    const std::string open = "[SPAWNITEM]\nSerial=0x40000002\n";
    const std::string house = "[house]\nSerial=0x40000003\n\no---o\n";
    const std::string bytes = character + item + between + open + house + "\n\n";
    const RecordScan scan = ScanRecords(bytes);

    ASSERT_EQ(scan.Records.size(), 4u);
    const std::uint64_t itemAt = character.size();
    const std::uint64_t openAt = itemAt + item.size() + between.size();
    const std::uint64_t houseAt = openAt + open.size();
    const struct {
        RecordKind Kind;
        std::uint64_t Begin, End;
        std::uint32_t Line;
        bool Terminated;
    } expected[] = {
        {RecordKind::Character, 0, itemAt, 1, true}, {RecordKind::Item, itemAt, itemAt + item.size(), 6, true},
        {RecordKind::SpawnItem, openAt, houseAt, 20, false},
        {RecordKind::Other, houseAt, houseAt + house.size() + 1, 22, true}, // section names keep their case
    };
    for (std::size_t i = 0; i < 4; ++i) {
        const SaveRecord& r = scan.Records[i];
        const auto& e = expected[i];
        EXPECT_EQ(std::tuple(r.Kind, r.Begin, r.End, r.Line, r.Terminated),
            std::tuple(e.Kind, e.Begin, e.End, e.Line, e.Terminated))
            << i;
    }
    EXPECT_EQ(scan.Records[0].Serial.Value, 5u);
    ASSERT_EQ(scan.Records[1].Details, 0);
    EXPECT_EQ(scan.Details.size(), 1u); // only records whose Type reads 255 keep all values
    const RecordValues& values = scan.Details[0];
    EXPECT_EQ(values.Serial.Text(), "serial=0x40000001");
    EXPECT_EQ(values.Id.Value, "0X1F");
    EXPECT_EQ(values.Colour.Text(), "Colour=0x20");
    EXPECT_EQ(values.Unreadable.Text(), "Location=1,2,3");
    EXPECT_EQ(values.UnreadableProblem, "it needs at least four fields");
    const ItemPosition position = PositionOf(values);
    EXPECT_EQ(std::tuple(position.X, position.Y, position.Z, position.World, position.XLine),
        std::tuple(803u, 1605u, -5, 2u, 12u));
    EXPECT_FALSE(scan.EndsInsideRecord);
    EXPECT_EQ(scan.LongLine.Line, 0u);

    // No position key: where the server puts such an item.
    const ItemPosition none = PositionOf(ScanRecords("[ITEM]\nType=255\n").Details.at(0));
    EXPECT_EQ(std::make_tuple(none.X, none.Y, none.Z, none.World), std::make_tuple(100u, 100u, 0, 0u));
    const ItemPosition spaced = PositionOf(ScanRecords("[ITEM]\nX =7\ny\t=8\n  z\v= -9\nType=255\n").Details.at(0));
    EXPECT_EQ(std::make_tuple(spaced.X, spaced.Y, spaced.Z), std::make_tuple(7u, 8u, -9));
    EXPECT_TRUE(ScanRecords("[ITEM]\nType=255\n").EndsInsideRecord);
    // A byte-order mark hides the first record, as it does from the server.
    EXPECT_EQ(ScanRecords("\xEF\xBB\xBF[ITEM]\nType=255\n\no---o\n\n[ITEM]\n").Records.size(), 1u);
}

TEST(ItemRecords, LinesLongerThanTheServerReadsAreFound)
{
    const std::string inside(LongestLineInRecord - 5, 'a');
    const std::string between(LongestLineBetweenRecords, 'b');
    const struct {
        std::string Bytes;
        std::uint32_t Line;
        std::size_t Length;
    } cases[] = {
        {between + "\n[ITEM]\nName=" + inside + "\n\no---o\n" + between, 0, 0},
        {between + "b\n", 1, 1023},
        {"[ITEM]\nName=" + inside + "\r\n", 2, 4096}, // a CR before the LF counts
        {"[ITEM]\n\no---o\n\n" + between + "\n[" + between, 6, 1023},
    };
    for (const auto& c : cases) {
        const RecordScan scan = ScanRecords(c.Bytes);
        EXPECT_EQ(scan.LongLine.Line, c.Line);
        EXPECT_EQ(scan.LongLine.Length, c.Length);
    }
    EXPECT_EQ(LongLineText(ScanRecords("[ITEM]\nName=" + inside + "\r\n")),
        "This line is 4096 characters long: the server reads at most 4095 characters on a line inside a record "
        "and skips the rest of the file");
}

TEST(ItemSaveFiles, TheWorldSaveIsAClassicFileAnItemFileOrAFolder)
{
    using enum WorldSaveKind;
    const struct {
        std::string Text;
        WorldSaveKind Kind; // named w.wsc
        WorldSaveKind KindAsUox3 = Kind; // named UOX3.wsc
    } cases[] = {
        {"[ITEM]\nSerial=0x40000001\n", ItemFile},
        {"\r\n \t\n\v\f\r\n[CHARACTER]\r\n", ItemFile},
        {"\xEF\xBB\xBF[ITEM]\n", ItemFile},
        {std::string(10000, '\n') + "[ITEM]\n", ItemFile},
        {"SECTION WORLDITEM 0\r\n{\r\n", Classic},
        {"  [ITEM]\n", Classic},
        // Comment lines are passed over, whatever the line ends.
        {"// [ITEM] saved\n[ITEM]\n", ItemFile},
        {"// patch of 2024-05-01\r\n\t// by hand\r\n[ITEM]\r\nSerial=0x40000001\r\n", ItemFile},
        {"// " + std::string(70000, '/') + "\r[ITEM]\r", ItemFile},
        {"// saved\r\nSECTION WORLDITEM 0\r\n", Classic},
        {"/\n[ITEM]\n", Classic},
        {"/", Classic},
        // So are the lines the server writes between records, which a region file may begin with.
        {"\n---REGION---\n\n---REGION--- \n\no---o\n\n[ITEM]\n", ItemFile},
        {"o---o // end\r\n[ITEM]\r\n", ItemFile},
        {"---REGION--- x\n[ITEM]\n", Classic},
        {"oo\n[ITEM]\n", Classic},
        {"---REGION---\n", ItemFile, Classic},
        // Nothing decides: only a file named UOX3.wsc is classic.
        {"", ItemFile, Classic},
        {"\n\n", ItemFile, Classic},
        {"\xEF\xBB\xBF// emptied\r\n", ItemFile, Classic},
        // UTF-16, which the classic reader refuses with its own message.
        {std::string("\xFF\xFES\0E\0", 6), Classic},
    };
    TempFolder dir;
    for (const auto& c : cases) {
        for (const char* name : {"w.wsc", "UOX3.wsc", "uox3.WSC"}) {
            const WorldSaveKind kind = std::string(name) == "w.wsc" ? c.Kind : c.KindAsUox3;
            WriteText(dir / name, c.Text);
            EXPECT_EQ(WorldSaveKindOf(dir / name), kind) << name << " " << testing::PrintToString(c.Text);
            EXPECT_EQ(WorldSaveKindOfText(c.Text, dir / name), kind) << name << " " << testing::PrintToString(c.Text);
            std::filesystem::remove(dir / name);
        }
    }
    EXPECT_EQ(WorldSaveKindOf(dir.path()), Folder);
    EXPECT_EQ(WorldSaveKindOf(dir.path() + "/"), Folder);
    EXPECT_EQ(WorldSaveKindOf(dir / "missing.wsc"), Classic);

    // Binary data is no world save of either kind, but only its first 64 KiB are read.
    const struct {
        std::string Text;
        std::string Error;
    } binary[] = {
        {std::string("\0\0\0\0", 4), "This is not a world save but a binary file: it holds a NUL byte at offset 0"},
        {std::string("[ITEM]\nSerial=0x1\0\n", 19),
            "This is not a world save but a binary file: it holds a NUL byte at offset 17"},
        {std::string(65535, '\n') + std::string(1, '\0'),
            "This is not a world save but a binary file: it holds a NUL byte at offset 65535"},
        {std::string(65536, '\n') + std::string(1, '\0') + "[ITEM]\n", ""},
    };
    for (const auto& c : binary) {
        WriteText(dir / "w.wsc", c.Text);
        EXPECT_EQ(ErrorText([&] { WorldSaveKindOf(dir / "w.wsc"); }), c.Error);
    }
}

TEST(ItemSaveFiles, FreezeReadsTheServersFilesInGridOrderAndSerialsComeFromEveryWscFile)
{
    TempFolder dir;
    for (const char* name : {"house.wsc", "overflow.wsc", "10.0.wsc", "2.3.wsc", "2.0.wsc", "0.0.wsc", "28.0.wsc",
             "0.4.wsc", "02.0.wsc", "notes.WSC", "readme.txt"})
        WriteText(dir / name, "");
    MakeFolder(dir / "sub.wsc");
    std::vector<std::string> expected;
    for (const char* name : {"0.0.wsc", "2.0.wsc", "2.3.wsc", "10.0.wsc", "overflow.wsc", "house.wsc"})
        expected.push_back(dir / name);
    EXPECT_EQ(FreezeFiles(dir.path()), expected);
    expected.clear();
    for (const char* name : {"0.0.wsc", "0.4.wsc", "02.0.wsc", "10.0.wsc", "2.0.wsc", "2.3.wsc", "28.0.wsc",
             "house.wsc", "notes.WSC", "overflow.wsc"})
        expected.push_back(dir / name);
    EXPECT_EQ(WscFiles(dir.path()), expected);
    EXPECT_EQ(ErrorText([&] { WscFiles(dir / "missing"); }), "File not found");
}

} // namespace
} // namespace cryo
