#include "Melt.h"
#include "Actions.h"
#include "Error.h"
#include "TestSupport.h"
#include "Undo.h"
#include "World.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace cryo {
namespace {

using test::CrLfLines;
using test::ItemBytes;
using test::ReadText;
using test::RecordingReporter;
using test::WorldFolder;
using test::operator+;

const std::string Warning = "Melting in progress... Cryoweaver may look crashed, do not interrupt!";
const std::vector<TStaticItem> Objects{{0x1234, 3, 5, -5, 0}, {0x0EED, 0, 7, 20, 0x0481}};
const std::string Saved = CrLfLines(
    {"SECTION CHARACTER 0", "{", "SERIAL 1073741900", "}", "", "SECTION WORLDITEM 41", "TYPE 0", "}", "", "EOF"});

// Block (100, 200) holds the objects, block (5, 5) an empty entry with a length.
void WriteWorld(const WorldFolder& world)
{
    StaIdx table = worldgen::EmptyIndex();
    table.At(100, 200) = {7, 14, 0xABCD};
    table.At(5, 5) = {-1, 33, 44};
    world.Write(table, ItemBytes({{9, 9, 9, 9, 9}}) + ItemBytes(Objects), Saved);
}

std::vector<std::string> Completed(std::vector<std::string> lines, const std::string& summary)
{
    lines.insert(lines.begin(), Warning);
    lines.insert(lines.end(), {"Writing StaIdx file...", "Done!", "Melting completed!", summary});
    return lines;
}

TEST(Melt, MovesTheBlockIntoTheWorldSaveAndEmptiesItsEntry)
{
    WorldFolder world;
    WriteWorld(world);
    const auto before = world.Take();
    auto table = world.Load();
    const WorldFiles files{world.StaIdx(), world.Statics(), world.Wsc()};
    RecordingReporter reporter;
    RunMelt(files, "100", "200", *table, reporter);
    EXPECT_EQ(reporter.Lines,
        Completed(
            {"Highest number: 41", "Highest serial: 40 00 00 4C"}, "2 objects of block 100, 200 melted into UOX3.wsc"));
    EXPECT_EQ(reporter.Flushes, 1);
    EXPECT_EQ(std::vector<int>(reporter.Progress.begin(), reporter.Progress.begin() + 6),
        (std::vector<int>{0, 22, 45, 60, 75, 90}));
    EXPECT_EQ(reporter.Progress.back(), 100);

    test::Bytes index = before.StaIdx;
    EncodeStaIdxEntry({-1, 0, 0}, &index[table->Number(100, 200) * 12]);
    EXPECT_EQ(world.Take().StaIdx, index);
    EXPECT_EQ(world.Take().Statics, before.Statics);
    const std::string melted = ReadText(world.Wsc());

    // Now the block is empty: a melt only normalises its entry, here or in
    // block (5, 5), and opens neither the world save nor the statics file.
    EXPECT_TRUE(ListStaticBlock(world.Statics(), *table, "100", "200", reporter).empty());
    const test::Bytes statics = test::ReadBytes(world.Statics());
    std::filesystem::remove(world.Statics());
    for (const auto& [x, y] : {std::pair{"100", "200"}, {"5", "5"}}) {
        RecordingReporter again;
        RunMelt(files, x, y, *table, again);
        EXPECT_EQ(again.Lines,
            Completed({"Nothing to do!"}, "No object of block " + std::string(x) + ", " + y + " was melted"));
        EXPECT_EQ(ReadText(world.Wsc()), melted);
    }
    EncodeStaIdxEntry({-1, 0, 0}, &index[table->Number(5, 5) * 12]);
    EXPECT_EQ(test::ReadBytes(world.StaIdx()), index);

    // A freeze gives the block the same objects back, in the same order.
    test::WriteBytes(world.Statics(), statics);
    RunFreeze(files, *table, reporter);
    EXPECT_EQ(table->At(100, 200), (TStaIdxEntry{21, 14, 0}));
    EXPECT_EQ(test::ReadBytes(world.Statics()), statics + ItemBytes(Objects));
    EXPECT_EQ(ReadText(world.Wsc()), Saved.substr(0, Saved.size() - 5) + "\r\n\r\nEOF\r\n\r\n");
}

TEST(Melt, TheLastBlockOfAWiderMapMeltsAndFreezesAtItsOwnRecord)
{
    WorldFolder world;
    StaIdx table = worldgen::EmptyIndex({896, 512});
    table.At(895, 511) = {7, 14, 0xABCD};
    world.Write(table, ItemBytes({{9, 9, 9, 9, 9}}) + ItemBytes(Objects), Saved);
    const auto before = world.Take();
    // 5,505,024 bytes: map 0 at 896 x 512 blocks, block (895, 511) at byte 5,505,012.
    ASSERT_EQ(before.StaIdx.size(), 5505024u);
    auto loaded = world.Load();
    const WorldFiles files{world.StaIdx(), world.Statics(), world.Wsc()};
    RecordingReporter reporter;
    RunMelt(files, "895", "511", *loaded, reporter);
    auto withLastRecord = [&](const TStaIdxEntry& entry) {
        test::Bytes index = before.StaIdx;
        EncodeStaIdxEntry(entry, &index[5505012]);
        return index;
    };
    EXPECT_EQ(world.Take().StaIdx, withLastRecord({-1, 0, 0}));
    EXPECT_EQ(test::Type255Items(ReadText(world.Wsc())),
        (test::Objects{{0x1234, 7163, 4093, -5, 0}, {0x0EED, 7160, 4095, 20, 0x0481}}));

    RunFreeze(files, *loaded, reporter);
    EXPECT_EQ(world.Take().StaIdx, withLastRecord({21, 14, 0}));
    EXPECT_EQ(world.Take().Statics, before.Statics + ItemBytes(Objects));
}

struct FailCase {
    const char* Name;
    std::function<void(const WorldFolder&, StaIdx&)> Prepare;
    const char* X;
    const char* Y;
    std::string Error; // as the command line shows it; "WSC: " stands for the world save's path
    std::vector<int> Progress;
    bool Unprivileged = false;
    std::int64_t FileSizeLimit = -1;
};

TEST(Melt, AFailureLeavesEveryFileAsItWas)
{
    auto wsc = [](const std::string& text) {
        return [text](const WorldFolder& world, StaIdx&) { test::WriteText(world.Wsc(), text); };
    };
    auto nothing = [](const WorldFolder&, StaIdx&) {};
    // The block's second object at other offsets.
    auto outside = [](const TStaticItem& second) {
        return [second](const WorldFolder& world, StaIdx&) {
            test::WriteBytes(world.Statics(), ItemBytes({{9, 9, 9, 9, 9}, Objects[0], second}));
        };
    };
    auto tooFew = [](const std::string& highest, const std::string& left) {
        return "WSC: Too few item numbers left: new sections after SECTION WORLDITEM " + highest
            + " would pass 65534, the highest number a freeze takes: the melt needs 2, and " + left + " left.";
    };
    auto offsets = [](const std::string& x, const std::string& y) {
        return "STATICS: block 100, 200, Item #2: This object lies outside its block: X offset " + x + ", Y offset " + y
            + ", where a block's offsets run from 0 to 7; nothing was melted.";
    };
    const std::string lfAlone
        = "WSC: The world save's lines end in LF alone, not CR LF: convert it to CR LF line ends first.";
    const FailCase cases[] = {
        {"not a number", nothing, "0", " 1", "' 1' is not a valid integer value.", {}},
        {"65536", nothing, "65536", "x", "Range check error.", {}},
        {"768", nothing, "768", "0", "Range check error.", {0}},
        {"$200", nothing, "0", "$200", "Range check error.", {0}},
        {"too long", [](const WorldFolder&, StaIdx& table) { table.At(100, 200).Length = 513 * 7; }, "100", "200",
            "STATICS: block 100, 200: Read beyond end of file.", {0, 0, 0}},
        {"no statics", [](const WorldFolder& w, StaIdx&) { std::filesystem::remove(w.Statics()); }, "100", "200",
            "STATICS: File not found.", {0}},
        {"offset 8", outside({0x0EED, 8, 7, 20, 0x0481}), "100", "200", offsets("8", "7"), {0, 22, 45}},
        {"offset 255", outside({0x0EED, 0, 255, 20, 0x0481}), "100", "200", offsets("0", "255"), {0, 22, 45}},
        {"LF alone", wsc("SECTION WORLDITEM 1\nEOF\n"), "100", "200", lfAlone, {0, 22, 45}},
        {"UTF-16", wsc("\xFE\xFF"), "100", "200", "WSC: The world save is UTF-16 text: save it as ANSI or UTF-8 first.",
            {0, 22, 45}},
        // No section numbered above 65534, whatever the serials.
        {"numbers", wsc(CrLfLines({"SECTION WORLDITEM 65533", "SERIAL 2147483647"})), "100", "200",
            tooFew("65533", "1 is"), {0, 22, 45}},
        {"largest number", wsc(CrLfLines({"SECTION WORLDITEM 2147483647"})), "100", "200",
            tooFew("2147483647", "0 are"), {0, 22, 45}},
        {"serial", wsc(CrLfLines({"SERIAL 2147483646"})), "100", "200", "WSC: Integer overflow.", {0, 22, 45, 60, 75}},
        {"bad serial", wsc(CrLfLines({"SERIAL 12 34"})), "100", "200", "WSC: '12 34' is not a valid integer value.",
            {0, 22, 45}},
#ifndef _WIN32
        {"read-only index", [](const WorldFolder& w, StaIdx&) { test::SetReadOnly(w.StaIdx()); }, "100", "200",
            "File access denied", {}, true},
        {"read-only world save", [](const WorldFolder& w, StaIdx&) { test::SetReadOnly(w.Wsc()); }, "100", "200",
            "File access denied", {}, true},
        // The world save's replacement fails first, then the index's.
        {"full disk", nothing, "100", "200", "Disk full", {}, false, 100},
        {"fuller disk", nothing, "100", "200", "Disk full", {}, false, 1 << 20},
#endif
    };
    for (const FailCase& c : cases) {
        WorldFolder world;
        WriteWorld(world);
        auto table = world.Load();
#ifndef _WIN32
        ::chmod(world.Dir().path().c_str(), 0777);
        for (const std::string& path : {world.StaIdx(), world.Statics(), world.Wsc()})
            ::chmod(path.c_str(), 0666);
#endif
        c.Prepare(world, *table);
        const auto before = world.Take();
        const TStaIdxEntry entry = table->At(100, 200);
        RecordingReporter reporter;
        auto melt = [&] {
            try {
                RunMelt({world.StaIdx(), world.Statics(), world.Wsc()}, c.X, c.Y, *table, reporter);
            } catch (const Error&) {
                if (table->At(100, 200) != entry)
                    throw Error("the entry in memory changed");
                throw;
            }
        };
        if (c.Unprivileged || c.FileSizeLimit >= 0) {
#ifndef _WIN32
            EXPECT_EQ(test::ErrorTextInChild({.Unprivileged = c.Unprivileged, .FileSizeLimit = c.FileSizeLimit}, melt),
                c.Error)
                << c.Name;
#endif
        } else {
            EXPECT_EQ(test::ErrorLineOf(melt), world.WithPaths(c.Error)) << c.Name;
            EXPECT_EQ(reporter.Progress, c.Progress) << c.Name;
        }
        EXPECT_TRUE(world.Take() == before) << c.Name;
        EXPECT_EQ(world.Dir().Entries().size(), before.Statics.empty() ? 2u : 3u) << c.Name;
    }
}

// Blocks 31 and 32 lie in two region files (x 248..255 and 256..263). The
// area touches blocks 31 and 201 by one tile.
const char* const AreaText = "263,1608,255,1600";

void WriteAreaWorld(const WorldFolder& world)
{
    StaIdx table = worldgen::EmptyIndex();
    table.At(31, 200) = {7, 14, 0xABCD};
    table.At(31, 201) = {-1, 33, 44};
    table.At(32, 200) = {7, 7, 0};
    table.At(32, 201) = {14, 7, 0};
    world.Write(table, ItemBytes({{9, 9, 9, 9, 9}}) + ItemBytes(Objects), Saved);
}

TEST(Melt, AnAreaIsOneMeltOfTheBlocksItTouchesAsMeltsOfThemOneAfterAnother)
{
    for (const bool shared : {false, true}) {
        WorldFolder area(shared);
        WorldFolder oneByOne(shared);
        WriteAreaWorld(area);
        WriteAreaWorld(oneByOne);
        const auto before = area.Take();
        auto table = area.Load();
        const WorldFiles files{area.StaIdx(), area.Statics(), area.Wsc()};
        RecordingReporter reporter;
        RunMelt(files, ParseArea(AreaText), *table, reporter);

        auto blocks = oneByOne.Load();
        for (const auto& [x, y] : {std::pair{"31", "200"}, {"31", "201"}, {"32", "200"}, {"32", "201"}}) {
            RecordingReporter quiet;
            RunMelt({oneByOne.StaIdx(), oneByOne.Statics(), oneByOne.Wsc()}, x, y, *blocks, quiet);
        }
        EXPECT_TRUE(area.Take() == oneByOne.Take()) << shared;
        EXPECT_EQ(table->Entries, blocks->Entries);
        EXPECT_EQ(std::count_if(reporter.Lines.begin(), reporter.Lines.end(),
                      [](const std::string& line) { return line.starts_with("Melting XBlock: "); }),
            4);
        EXPECT_EQ(std::vector(reporter.Lines.end() - 4, reporter.Lines.end()),
            (std::vector<std::string>{"Writing StaIdx file...", "Done!", "Melting completed!",
                std::string("4 objects of 4 blocks, 31,200 to 32,201, melted into ")
                    + (shared ? "shared" : "UOX3.wsc")}));

        // One entry in the history, which undo takes back whole.
        EXPECT_EQ(UndoableOperations(files).size(), 1u);
        UndoLastOperation(files, reporter);
        EXPECT_TRUE(area.Take() == before) << shared;
        EXPECT_TRUE(UndoableOperations(files).empty());
    }
}

TEST(Melt, AnAreaOffTheMapOrBeyondTheSectionNumbersLeftChangesNothing)
{
    const struct {
        const char* Name;
        const char* Area;
        std::string Wsc;
        std::string Error;
    } cases[] = {
        {"off the map", "0,4000,10,4096", Saved,
            "The area 0,4000,10,4096 reaches outside the map of 6144 x 4096 tiles."},
        {"numbers", AreaText, CrLfLines({"SECTION WORLDITEM 65532", "EOF"}),
            "WSC: Too few item numbers left: new sections after SECTION WORLDITEM 65532 would pass 65534, the "
            "highest number a freeze takes: the melt needs 4, and 2 are left."},
    };
    for (const auto& c : cases) {
        WorldFolder world;
        WriteAreaWorld(world);
        test::WriteText(world.Wsc(), c.Wsc);
        const auto before = world.Take();
        auto table = world.Load();
        const std::vector<TStaIdxEntry> entries = table->Entries;
        RecordingReporter reporter;
        EXPECT_EQ(test::ErrorLineOf([&] {
            RunMelt({world.StaIdx(), world.Statics(), world.Wsc()}, ParseArea(c.Area), *table, reporter);
        }),
            world.WithPaths(c.Error))
            << c.Name;
        EXPECT_TRUE(world.Take() == before) << c.Name;
        EXPECT_EQ(table->Entries, entries) << c.Name;
        EXPECT_EQ(world.Dir().Entries().size(), 3u) << c.Name;
    }
}

// The region files an area's records go to are read and checked two at a
// time; of two that would not load them, the first in the folder's order is
// named, and nothing changes.
TEST(Melt, AnAreaRefusedByItsRegionFilesNamesTheFirstAndChangesNothing)
{
    const std::string open = "[ITEM]\nSerial=0x40000001\nID=0x1\n";
    const std::string closed = open + "\no---o\n";
    const struct {
        std::string First, Second;
        const char* Named;
    } cases[] = {{open, open, "0.1.wsc"}, {closed, open, "1.1.wsc"}, {open, closed, "0.1.wsc"}};
    for (const auto& c : cases) {
        WorldFolder world(true);
        WriteAreaWorld(world);
        test::WriteText(world.Wsc() + "/0.1.wsc", c.First);
        test::WriteText(world.Wsc() + "/1.1.wsc", c.Second);
        const auto before = world.Take();
        auto table = world.Load();
        const std::vector<TStaIdxEntry> entries = table->Entries;
        RecordingReporter reporter;
        EXPECT_EQ(test::ErrorLineOf([&] {
            RunMelt({world.StaIdx(), world.Statics(), world.Wsc()}, ParseArea(AreaText), *table, reporter);
        }),
            world.Wsc() + "/" + c.Named
                + ": line 1: The last record has no o---o line: the server would read new items into it.");
        EXPECT_TRUE(world.Take() == before) << c.Named;
        EXPECT_EQ(table->Entries, entries) << c.Named;
    }
}

} // namespace
} // namespace cryo
