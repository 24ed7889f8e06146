#include "Freeze.h"
#include "Actions.h"
#include "Error.h"
#include "FreezeReference.h"
#include "TestSupport.h"
#include "World.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace cryo {
namespace {

using test::Bytes;
using test::CrLfLines;
using test::ErrorText;
using test::ItemBytes;
using test::ReadText;
using test::RecordingReporter;
using test::WorldFolder;
using test::operator+;

const std::string Warning = "Freezing in progress... Cryoweaver may look crashed, do not interrupt!";

std::string Item(int number, int x, int y, int id = 100, int type = 255, const std::string& cont = "-1")
{
    return CrLfLines(
        {"SECTION WORLDITEM " + std::to_string(number), "{", "ID " + std::to_string(id), "X " + std::to_string(x),
            "Y " + std::to_string(y), "Z 0", "COLOR 0", "CONT " + cont, "TYPE " + std::to_string(type), "}", ""});
}

struct FreezeRun {
    RecordingReporter Reporter;
    std::string Error;
};

FreezeRun Freeze(const WorldFolder& world, StaIdx& table)
{
    FreezeRun run;
    run.Error = ErrorText([&] { RunFreeze({world.StaIdx(), world.Statics(), world.Wsc()}, table, run.Reporter); });
    return run;
}

// The log of a completed freeze: the selection's lines, then two per block,
// then the summary of the items moved.
std::vector<std::string> Logged(
    std::vector<std::string> selection, const std::vector<std::pair<int, int>>& blocks, std::size_t items)
{
    selection.insert(selection.begin(), Warning);
    for (const auto& [x, y] : blocks) {
        const std::string block = "XBlock: " + std::to_string(x) + " YBlock: " + std::to_string(y);
        selection.push_back("Extracting from WSC... " + block);
        selection.push_back("Appending to Statics... " + block);
    }
    selection.push_back("Freezing completed!");
    selection.push_back(items == 0 ? std::string("No TYPE 255 item was frozen")
                                   : std::to_string(items) + (items == 1 ? " item" : " items") + " frozen into "
                + std::to_string(blocks.size()) + (blocks.size() == 1 ? " block" : " blocks"));
    return selection;
}

std::vector<std::string> Selecting(std::initializer_list<int> numbers)
{
    std::vector<std::string> lines;
    for (const int n : numbers)
        lines.push_back("Selecting item for export: " + std::to_string(n));
    return lines;
}

TEST(Freeze, ItemsGoToTheirBlocksInXMajorOrderAfterTheExistingObjects)
{
    WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    const std::vector<TStaticItem> existing{{1, 0, 0, 0, 0}, {2, 1, 1, 1, 1}};
    table.At(1, 0) = {0, 14, 99};
    world.Write(table, ItemBytes(existing),
        Item(5, 8, 0, 50) + Item(6, 0, 4095, 60) + Item(7, 9, 1, 70) + Item(8, 6143, 4095, 80) + Item(9, 15, 7, 90)
            + "EOF\r\n");
    auto loaded = world.Load();

    const FreezeRun run = Freeze(world, *loaded);
    ASSERT_EQ(run.Error, "");
    EXPECT_EQ(run.Reporter.Lines, Logged(Selecting({5, 6, 7, 8, 9}), {{0, 511}, {1, 0}, {767, 511}}, 5));
    // Block (1, 0) reads its two objects, then the bar shows the blocks done.
    EXPECT_EQ(std::vector<int>(run.Reporter.Progress.begin(), run.Reporter.Progress.begin() + 6),
        (std::vector<int>{0, 30, 22, 45, 60, 90}));
    EXPECT_EQ(run.Reporter.Progress.back(), 100);

    EXPECT_EQ(test::ReadBytes(world.Statics()),
        ItemBytes(existing) + ItemBytes({{60, 0, 7, 0, 0}}) + ItemBytes(existing)
            + ItemBytes({{50, 0, 0, 0, 0}, {70, 1, 1, 0, 0}, {90, 7, 7, 0, 0}}) + ItemBytes({{80, 7, 7, 0, 0}}));
    StaIdx expectedIndex = table;
    expectedIndex.At(0, 511) = {14, 7, 0};
    expectedIndex.At(1, 0) = {21, 35, 99};
    expectedIndex.At(767, 511) = {56, 7, 0};
    EXPECT_EQ(test::ReadBytes(world.StaIdx()), test::IndexBytes(expectedIndex));
    EXPECT_EQ(ReadText(world.Wsc()), "\r\n\r\n\r\n\r\n\r\nEOF\r\n");

    // Nothing is left to freeze a second time; only the index is written again.
    const auto before = world.Take();
    EXPECT_EQ(Freeze(world, *loaded).Reporter.Lines, Logged({}, {}, 0));
    EXPECT_TRUE(world.Take() == before);
}

struct SectionCase {
    const char* Name;
    std::string Wsc;
    std::string Left; // the world save afterwards
    std::vector<std::string> Selection; // the selection's log lines
    std::vector<std::pair<std::pair<int, int>, std::vector<TStaticItem>>> Blocks; // X-major
};

TEST(Freeze, EachSectionIsFrozenOrLeftOnItsOwn)
{
    const std::string ordinary = Item(4, 3000, 2000, 9, 0);
    const std::string multi = CrLfLines({"SECTION MULTI 1", "{", "X 800", "Y 800", "}", ""});
    const std::string open = CrLfLines({"SECTION WORLDITEM 6", "TYPE 255", "X 8"});
    const std::string contained
        = Item(1, 8, 8, 1, 255, "1073741830") + Item(2, 8, 8, 2, 255, "$FF") + Item(3, 8, 8, 3, 255, "x");
    auto notFrozen = [](int n, const char* why) { return "Not frozen: SECTION WORLDITEM " + std::to_string(n) + why; };
    const std::string container = " is inside a container";
    const SectionCase cases[] = {
        {"reused number, TYPE 255 first", Item(4, 16, 16) + ordinary, "\r\n" + ordinary, Selecting({4}),
            {{{2, 2}, {{100, 0, 0, 0, 0}}}}},
        {"reused number, TYPE 255 second", ordinary + Item(4, 17, 18), ordinary + "\r\n", Selecting({4}),
            {{{2, 2}, {{100, 1, 2, 0, 0}}}}},
        {"one number in two blocks", Item(7, 80, 8, 1) + Item(7, 9, 1, 2), "\r\n\r\n", Selecting({7, 7}),
            {{{1, 0}, {{2, 1, 1, 0, 0}}}, {{10, 1}, {{1, 0, 0, 0, 0}}}}},
        {"multi after an item", Item(6, 8, 8) + multi, "\r\n" + multi, Selecting({6}), {{{1, 1}, {{100, 0, 0, 0, 0}}}}},
        {"multi after an item without its brace", open + multi, open + multi,
            {notFrozen(6, " has no closing } after its TYPE 255")}, {}},
        {"containers", contained, contained,
            {notFrozen(1, container.c_str()), notFrozen(2, container.c_str()), notFrozen(3, container.c_str())}, {}},
        {"number 65535", Item(65535, 8, 8) + Item(1, 8, 8, 5), Item(65535, 8, 8) + "\r\n",
            {notFrozen(65535, " is a number that is never frozen"), Selecting({1})[0]}, {{{1, 1}, {{5, 0, 0, 0, 0}}}}},
        // A section is cut through its last brace, with the values that selected it last.
        {"two braces, offsets wrap",
            CrLfLines({"SECTION WORLDITEM 4", "{", "X 805", "Y 1611", "TYPE 255", "} trailing", "cut", "}", "kept"}),
            CrLfLines({"kept"}), Selecting({4, 4}), {{{100, 201}, {{0, 5, 3, 0, 0}}}}},
        {"two braces, the second not selecting",
            CrLfLines({"SECTION WORLDITEM 4", "{", "ID 5", "X 16", "TYPE 255", "}", "ID 6", "X 900", "TYPE 0", "}", "",
                "SECTION WORLDITEM 5", "TYPE 0", "}"}),
            CrLfLines({"", "SECTION WORLDITEM 5", "TYPE 0", "}"}), Selecting({4}), {{{2, 0}, {{5, 0, 0, 0, 0}}}}},
        // Left after the first brace, the lines would join the ordinary item above.
        {"two braces after an ordinary item",
            Item(3, 100, 100, 9, 0)
                + CrLfLines({"SECTION WORLDITEM 4", "{", "ID 7", "X 8", "Y 8", "TYPE 255", "}", "TYPE 255", "}", ""}),
            Item(3, 100, 100, 9, 0) + "\r\n", Selecting({4, 4}), {{{1, 1}, {{7, 0, 0, 0, 0}}}}},
        {"byte-order mark, odd line ends, Ctrl-Z",
            "\xEF\xBB\xBF" + Item(1, 0, 0) + "kept  \rlf\ninside\r\nEOF\r\n\x1A" + "after\r\nthe end",
            "\xEF\xBB\xBF\r\nkept  \r\nlf\ninside\r\nEOF\r\n\x1A" + std::string("after\r\nthe end"), Selecting({1}),
            {{{0, 0}, {{100, 0, 0, 0, 0}}}}},
    };
    for (const SectionCase& c : cases) {
        WorldFolder world;
        world.Write(worldgen::EmptyIndex(), {}, c.Wsc);
        auto loaded = world.Load();
        const FreezeRun run = Freeze(world, *loaded);
        std::vector<std::pair<int, int>> blocks;
        std::size_t frozen = 0;
        Bytes statics;
        for (const auto& [block, items] : c.Blocks) {
            blocks.push_back(block);
            frozen += items.size();
            EXPECT_EQ(loaded->At(static_cast<std::uint16_t>(block.first), static_cast<std::uint16_t>(block.second)),
                (TStaIdxEntry{
                    static_cast<std::int32_t>(statics.size()), static_cast<std::int32_t>(items.size() * 7), 0}))
                << c.Name;
            statics = statics + ItemBytes(items);
        }
        EXPECT_EQ(run.Reporter.Lines, Logged(c.Selection, blocks, frozen)) << c.Name;
        EXPECT_EQ(test::ReadBytes(world.Statics()), statics) << c.Name;
        EXPECT_EQ(ReadText(world.Wsc()), c.Left) << c.Name;
    }
}

struct RefusedCase {
    std::string Wsc;
    std::string Error; // as the command line shows it; "WSC: " stands for the world save's path
    std::function<void(const WorldFolder&)> Prepare = [](const WorldFolder&) {};
    test::ChildLimits Limits = {};
};

TEST(Freeze, AFailureLeavesEveryFileAsItWas)
{
    std::string full;
    for (int i = 0; i < 513; ++i)
        full += Item(i, 80, 80);
    const std::string one = Item(1, 8, 8);
    const RefusedCase cases[] = {
        // Items outside the map: the lowest number is named.
        {Item(3, 6143, 4095) + Item(40, 6144, 0) + Item(7, 0, 4096) + Item(3, 6144, 0),
            "WSC: Invalid item in patch file! (Item#: 3)"},
        // More than 512 objects in a block, with those it holds or alone.
        {Item(1, 800, 800) + Item(10, 1, 1) + Item(11, 1, 1) + Item(12, 1, 1),
            "STATICS: block 0, 0: Range check error."},
        {full, "WSC: SECTION WORLDITEM 512: Range check error."},
        {one + CrLfLines({"SECTION WORLDITEM 2", "TYPE 255", "X 800", "COLOR 70000", "}"}),
            "WSC: SECTION WORLDITEM 2: Range check error."},
        {CrLfLines({"SECTION WORLDITEM 2", "ID 12 34", "TYPE 255", "}"}),
            "WSC: SECTION WORLDITEM 2: '12 34' is not a valid integer value."},
        {"SECTION WORLDITEM 1\nTYPE 255\n}\n",
            "WSC: The world save's lines end in LF alone, not CR LF: convert it to CR LF line ends first."},
        {"\xFF\xFE", "WSC: The world save is UTF-16 text: save it as ANSI or UTF-8 first."},
        {one, "STATICS: File not found.", [](const WorldFolder& w) { std::filesystem::remove(w.Statics()); }},
#ifndef _WIN32
        {one, "File access denied", [](const WorldFolder& w) { test::SetReadOnly(w.Wsc()); }, {.Unprivileged = true}},
        {one, "File access denied", [](const WorldFolder& w) { test::SetReadOnly(w.StaIdx()); },
            {.Unprivileged = true}},
        // Below each file's new size: the world save's, the statics file's, the index's.
        {CrLfLines({std::string(5000, 'x')}) + one, "Disk full", [](const WorldFolder&) {}, {.FileSizeLimit = 4000}},
        {one, "Disk full", [](const WorldFolder&) {}, {.FileSizeLimit = 510 * 7 + 3}},
        {one, "Disk full", [](const WorldFolder&) {}, {.FileSizeLimit = std::int64_t{StaIdxFileSize} - 1}},
#endif
    };
    StaIdx table = worldgen::EmptyIndex();
    table.At(0, 0) = {0, 510 * 7, 0};
    for (const RefusedCase& c : cases) {
        WorldFolder world;
        world.Write(table, Bytes(510 * 7, 1), c.Wsc);
#ifndef _WIN32
        ::chmod(world.Dir().path().c_str(), 0777);
        for (const std::string& path : {world.StaIdx(), world.Statics(), world.Wsc()})
            ::chmod(path.c_str(), 0666);
#endif
        c.Prepare(world);
        const auto before = world.Take();
        auto loaded = world.Load();
        RecordingReporter reporter;
        auto freeze = [&] { FreezeWorld(world.StaIdx(), world.Statics(), world.Wsc(), *loaded, reporter); };
        if (c.Limits.Unprivileged || c.Limits.FileSizeLimit >= 0) {
#ifndef _WIN32
            EXPECT_EQ(test::ErrorTextInChild(c.Limits, freeze), c.Error);
#endif
        } else {
            EXPECT_EQ(test::ErrorLineOf(freeze), world.WithPaths(c.Error));
            EXPECT_EQ(reporter.Progress, std::vector<int>{0});
            EXPECT_TRUE(loaded->Entries == table.Entries);
        }
        EXPECT_TRUE(world.Take() == before) << c.Error;
        EXPECT_EQ(world.Dir().Entries().size(), before.Statics.empty() ? 2u : 3u) << c.Error;
    }
}

TEST(Freeze, ItemsBeyondTheLoadedMapAreRefused)
{
    const std::string refused = "Invalid item in patch file! (Item#: 1)";
    const struct {
        int Map;
        MapBlocks Size;
        int X;
        int Y;
        std::string Error;
    } cases[] = {{0, {896, 512}, 7167, 4095, ""}, {0, {896, 512}, 7168, 0, refused}, {1, {768, 512}, 6144, 0, refused},
        {2, {288, 200}, 2303, 1599, ""}, {2, {288, 200}, 0, 1600, refused}, {4, {181, 181}, 1448, 0, refused},
        {5, {160, 512}, 1279, 4095, ""}, {5, {160, 512}, 1280, 0, refused}};
    for (const auto& c : cases) {
        WorldFolder world;
        world.Write(worldgen::EmptyIndex(c.Size), {}, Item(1, c.X, c.Y));
        const auto before = world.Take();
        StaIdx table;
        NullReporter quiet;
        LoadStaIdx(world.StaIdx(), table, quiet, {c.Map, std::nullopt});
        ASSERT_EQ(table.Size(), c.Size);
        EXPECT_EQ(Freeze(world, table).Error, c.Error) << c.Map << " " << c.X << "," << c.Y;
        if (c.Error.empty())
            EXPECT_EQ(table.At(static_cast<std::uint16_t>(c.X / 8), static_cast<std::uint16_t>(c.Y / 8)),
                (TStaIdxEntry{0, 7, 0}));
        else
            EXPECT_TRUE(world.Take() == before);
    }
}

// The freeze as the reference does it: one block after the other in X-major
// order, each appended to the statics file, and the index written at the end.
// Gives the error that stops it, and the log of a freeze that completes.
std::string FreezeByReference(const WorldFolder& world, StaIdx& table, std::vector<std::string>& log)
{
    const test::ReferenceFreeze freeze = test::FreezeOf(ReadText(world.Wsc()));
    if (!freeze.Error.empty())
        return freeze.Error;
    std::vector<std::pair<int, int>> blocks;
    std::size_t items = 0;
    NullReporter reporter;
    for (const auto& [block, extracted] : freeze.Blocks) {
        items += extracted.Items.size();
        if (!extracted.Error.empty())
            return extracted.Error;
        const std::string error = ErrorText([&] {
            AppendStaticBlock(world.Statics(),
                table.At(static_cast<std::uint16_t>(block.first), static_cast<std::uint16_t>(block.second)),
                StaticBlockOf(extracted.Items), reporter);
        });
        if (!error.empty())
            return error;
        blocks.push_back(block);
    }
    if (!freeze.Blocks.empty())
        test::WriteText(world.Wsc(), freeze.Text);
    SaveStaIdx(world.StaIdx(), table, reporter);
    log = Logged(freeze.Log, blocks, items);
    return "";
}

TEST(Freeze, OnePassGivesTheSameFilesAsTheReference)
{
    std::mt19937 random(12345);
    int compared = 0;
    std::map<std::string, int> kinds; // log lines by their first word

    for (int round = 0; round < 24; ++round) {
        worldgen::WscOptions options;
        options.Seed = static_cast<std::uint32_t>(round);
        options.Type255Items = 40;
        options.Blocks = 8;
        options.OrdinaryItems = 40 * round;
        options.ReusedNumbers = options.OtherSections = options.ContainedItems = options.Unterminated
            = options.TextAfterEof = true;
        options.Characters = round % 3;
        std::string wsc = (round % 4 == 0 ? "\xEF\xBB\xBF" : "") + worldgen::GenerateWsc(options);
        // Every fifth section of odd rounds gets a second brace, whose values then count.
        for (std::size_t at = 0, braces = 0; round % 2 == 1 && (at = wsc.find("\r\n}\r\n", at)) != std::string::npos;) {
            at += 5;
            if (++braces % 5 == 0)
                wsc.insert(at, "X 16\r\nkept or cut\r\n}\r\n");
        }
        // Half the blocks that receive items hold objects already.
        StaIdx table = worldgen::EmptyIndex();
        const Bytes statics(2000 * 7, 0x5A);
        for (const auto& [block, extracted] : test::FreezeOf(wsc).Blocks)
            if (random() % 2 == 0)
                table.At(static_cast<std::uint16_t>(block.first), static_cast<std::uint16_t>(block.second))
                    = {static_cast<std::int32_t>(random() % 200) * 7, static_cast<std::int32_t>(random() % 30) * 7,
                        static_cast<std::uint32_t>(random())};

        WorldFolder onePass;
        WorldFolder reference;
        onePass.Write(table, statics, wsc);
        reference.Write(table, statics, wsc);
        const auto before = onePass.Take();
        auto onePassTable = onePass.Load();
        auto referenceTable = reference.Load();
        const FreezeRun run = Freeze(onePass, *onePassTable);
        std::vector<std::string> log;
        ASSERT_EQ(run.Error, FreezeByReference(reference, *referenceTable, log)) << "round " << round;
        if (!run.Error.empty()) {
            EXPECT_TRUE(onePass.Take() == before) << "round " << round;
            continue;
        }
        EXPECT_EQ(run.Reporter.Lines, log) << "round " << round;
        EXPECT_TRUE(onePass.Take() == reference.Take()) << "round " << round;
        EXPECT_TRUE(onePassTable->Entries == referenceTable->Entries) << "round " << round;
        ++compared;
        for (const std::string& line : log)
            ++kinds[line.substr(0, line.find(' '))];
    }
    EXPECT_EQ(compared, 24);
    EXPECT_GT(kinds["Appending"], 150);
    EXPECT_GT(kinds["Not"], 500);
}

// The area 255,1600 to 263,1608 takes the items on its corners and edges,
// none a tile outside it, from a classic save and from a shared folder.
TEST(Freeze, AnAreaTakesOnlyTheItemsInsideItAndSaysHowManyItLeft)
{
    const std::vector<std::pair<int, int>> inside = {{255, 1600}, {263, 1608}, {260, 1604}};
    const std::vector<std::pair<int, int>> outside = {{254, 1604}, {264, 1604}, {260, 1599}, {260, 1609}};
    for (const bool shared : {false, true}) {
        WorldFolder world(shared);
        std::string wsc;
        std::string records;
        int number = 0;
        for (const auto* places : {&inside, &outside})
            for (const auto& [x, y] : *places) {
                wsc += Item(++number, x, y);
                records += "[ITEM]\nSerial=0x4000000" + std::to_string(number) + "\nID=0x64\nLocation="
                    + std::to_string(x) + "," + std::to_string(y) + ",0,0,0\nType=255\n\no---o\n\n";
            }
        world.Write(worldgen::EmptyIndex(), {}, wsc + CrLfLines({"EOF"}));
        if (shared)
            test::WriteText(world.Wsc() + "/0.1.wsc", records);
        auto table = world.Load();
        RecordingReporter reporter;
        RunFreeze(
            {world.StaIdx(), world.Statics(), world.Wsc()}, *table, reporter, false, ParseArea("263,1608,255,1600"));
        EXPECT_NE(std::find(reporter.Lines.begin(), reporter.Lines.end(),
                      "TYPE 255 items left outside the area 255,1600,263,1608: 4"),
            reporter.Lines.end())
            << shared;
        test::Objects frozen;
        for (const auto& [x, y] : inside)
            frozen.insert({100, x, y, 0, 0});
        EXPECT_EQ(test::IndexedObjects(world.StaIdx(), world.Statics()), frozen) << shared;
        // What is left is every item outside, as it was.
        test::Objects left;
        for (const auto& [x, y] : outside)
            left.insert({100, x, y, 0, 0});
        if (!shared) {
            EXPECT_EQ(test::Type255Items(ReadText(world.Wsc())), left);
            continue;
        }
        const std::string remaining = ReadText(world.Wsc() + "/0.1.wsc");
        auto holds = [&](const std::pair<int, int>& at) {
            return remaining.find(std::to_string(at.first) + "," + std::to_string(at.second) + ",")
                != std::string::npos;
        };
        EXPECT_TRUE(std::none_of(std::begin(inside), std::end(inside), holds));
        EXPECT_TRUE(std::all_of(std::begin(outside), std::end(outside), holds));
    }
}

} // namespace
} // namespace cryo
