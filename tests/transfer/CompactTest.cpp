#include "Actions.h"
#include "Check.h"
#include "TestSupport.h"
#include "World.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <tuple>

namespace cryo {
namespace {

using test::Bytes;
using test::ItemBytes;
using test::operator+;

// Blocks A (2 objects), B (1) and C (3) in file order, then a cut-off record.
// The index refers to C before A, to C twice, to a length of no object, and
// has an empty entry with fields of its own.
struct CompactWorld {
    const Bytes A = ItemBytes({{1, 0, 0, 0, 0}, {2, 1, 1, 1, 1}});
    const Bytes B = ItemBytes({{3, 2, 2, 2, 2}});
    const Bytes C = ItemBytes({{4, 3, 3, 3, 3}, {5, 4, 4, 4, 4}, {6, 5, 5, 5, 5}});
    StaIdx Table{{1, 5}};
    test::WorldFolder Folder;

    CompactWorld() { Table.Entries = {{21, 23, 7}, {-1, 5, 9}, {0, 14, 8}, {21, 21, 6}, {0, 3, 5}}; }
    void Write() const { Folder.Write(Table, A + B + C + Bytes{1, 2, 3}, ""); }
    std::string Compact(test::RecordingReporter& reporter, const IndexMap& map = {0, MapBlocks{1, 5}}) const
    {
        auto table = std::make_unique<StaIdx>();
        return test::ErrorLineOf([&] {
            const WorldFiles files{Folder.StaIdx(), Folder.Statics(), {}};
            const LockedWorld locked(files, reporter);
            LoadStaIdx(files.StaIdx, *table, reporter, map);
            RunCompact(files, *table, reporter);
        });
    }
};

TEST(Compact, KeepsOnlyTheReferencedBlocksInIndexOrderAndSharesWhatWasShared)
{
    CompactWorld world;
    world.Write();
    test::RecordingReporter reporter;
    EXPECT_EQ(world.Compact(reporter), "");
    EXPECT_EQ(reporter.Lines,
        (std::vector<std::string>{
            "Compacting in progress... Cryoweaver may look crashed, do not interrupt!",
            "Statics file: 45 bytes before, 35 after; 10 bytes reclaimed",
            "Compacting completed!",
        }));
    EXPECT_EQ(test::ReadBytes(world.Folder.Statics()), world.C + world.A);
    StaIdx expected{{1, 5}};
    expected.Entries = {{0, 21, 7}, {-1, 5, 9}, {21, 14, 8}, {0, 21, 6}, {-1, 0, 5}};
    EXPECT_EQ(test::ReadBytes(world.Folder.StaIdx()), test::IndexBytes(expected));
    EXPECT_EQ(world.Folder.Dir().Entries(), (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));

    // Compact files stay as they are.
    const test::WorldFolder::Snapshot compacted = world.Folder.Take();
    EXPECT_EQ(world.Compact(reporter), "");
    EXPECT_EQ(reporter.Lines[4], "Statics file: 35 bytes before, 35 after; 0 bytes reclaimed");
    EXPECT_TRUE(world.Folder.Take() == compacted);
}

// Records past the table (a map given smaller than the index file, or a map-0
// index of no known size) keep their blocks, repointed like the table's; the
// bytes after the last whole record stay as they are.
TEST(Compact, KeepsTheBlocksOfRecordsPastTheTable)
{
    const Bytes tail{0xAA, 0xBB, 0xCC};
    StaIdx expected{{1, 5}};
    expected.Entries = {{0, 21, 7}, {-1, 5, 9}, {21, 14, 8}, {0, 21, 6}, {-1, 0, 5}};
    // The classic table with the world's entries at its end, then two more.
    const auto classic = [](const StaIdx& five) {
        StaIdx table;
        std::fill(table.Entries.begin(), table.Entries.end(), TStaIdxEntry{-1, 0, 0});
        std::copy(five.Entries.begin(), five.Entries.begin() + 3, table.Entries.end() - 3);
        StaIdx rest{{1, 2}};
        rest.Entries = {five.Entries[3], five.Entries[4]};
        return test::IndexBytes(table) + test::IndexBytes(rest);
    };
    for (const std::optional<MapBlocks> size :
        {std::optional(MapBlocks{1, 3}), std::optional(MapBlocks{1, 1}), std::optional<MapBlocks>()}) {
        SCOPED_TRACE(size ? size->Height : 0);
        CompactWorld world;
        world.Write();
        const bool byLength = !size;
        test::WriteBytes(
            world.Folder.StaIdx(), (byLength ? classic(world.Table) : test::IndexBytes(world.Table)) + tail);
        const WorldFiles files{world.Folder.StaIdx(), world.Folder.Statics(), world.Folder.Wsc()};
        test::RecordingReporter reporter;
        StaIdx table;
        LoadStaIdx(files.StaIdx, table, reporter, {0, size});
        EXPECT_EQ(CheckWorld(files, table, reporter).UnreferencedBytes, 10u);
        EXPECT_EQ(world.Compact(reporter, {0, size}), "");
        EXPECT_EQ(
            reporter.Lines[reporter.Lines.size() - 2], "Statics file: 45 bytes before, 35 after; 10 bytes reclaimed");
        EXPECT_EQ(test::ReadBytes(world.Folder.Statics()), world.C + world.A);
        EXPECT_EQ(
            test::ReadBytes(world.Folder.StaIdx()), (byLength ? classic(expected) : test::IndexBytes(expected)) + tail);
    }
}

TEST(Compact, RefusesADamagedIndexAndChangesNothing)
{
    // The last one lies past a table of 1 x 3 blocks.
    const std::tuple<TStaIdxEntry, std::string, int> damages[] = {{{50, 14, 0}, "block 0, 3", 5},
        {{-7, 7, 0}, "block 0, 3", 5}, {{0, -14, 0}, "block 0, 3", 5}, {{50, 14, 0}, "block 1, 0", 3}};
    for (const auto& [entry, place, height] : damages) {
        CompactWorld world;
        world.Table.Entries[3] = entry;
        world.Write();
        const test::WorldFolder::Snapshot before = world.Folder.Take();
        test::RecordingReporter reporter;
        EXPECT_EQ(world.Compact(reporter, {0, MapBlocks{1, height}}),
            world.Folder.StaIdx() + ": " + place
                + ": The index refers to bytes the statics file does not hold; no file was changed. Run check to list "
                  "every damaged entry.");
        EXPECT_TRUE(world.Folder.Take() == before);
        EXPECT_EQ(world.Folder.Dir().Entries(), (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));
    }
}

} // namespace
} // namespace cryo
