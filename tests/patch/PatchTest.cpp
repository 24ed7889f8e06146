// Players' patches: what a patch holds, byte for byte, and what applying it
// leaves in a player's files, including every refusal.
#include "ApplyPatch.h"
#include "MakePatch.h"
#include "PatchFormat.h"
#include "TestSupport.h"
#include "Undo.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cryo {
namespace {

using test::Bytes;
using test::ItemBytes;
using test::operator+;
using Items = std::vector<TStaticItem>;

// The statics files of one map, built block by block in a folder of their own.
struct Pair {
    Pair(const test::TempFolder& dir, const std::string& name, int map, MapBlocks size, int extraEntries)
        : Folder(dir / name)
        , Table(size)
    {
        std::filesystem::create_directory(Folder);
        StaIdx = Folder + "/staidx" + std::to_string(map) + ".mul";
        Statics = Folder + "/statics" + std::to_string(map) + ".mul";
        for (TStaIdxEntry& entry : Table.Entries)
            entry = {-1, 0, 0};
        Table.Trailing = Bytes(static_cast<std::size_t>(extraEntries) * StaIdxRecordSize, 0xFF);
    }

    // Entry n gets a new copy holding the items (none: empty), keeping Extra.
    void Set(std::size_t n, const Items& items)
    {
        TStaIdxEntry entry = IndexEntry(Table, n);
        entry = items.empty() ? TStaIdxEntry{-1, 0, entry.Extra}
                              : TStaIdxEntry{static_cast<std::int32_t>(Data.size()),
                                  static_cast<std::int32_t>(items.size() * StaticItemSize), entry.Extra};
        Data = Data + ItemBytes(items);
        SetIndexEntry(Table, n, entry);
    }
    void Write() const
    {
        test::WriteBytes(StaIdx, test::IndexBytes(Table));
        test::WriteBytes(Statics, Data);
    }
    Pair CopyTo(const test::TempFolder& dir, const std::string& name) const
    {
        Pair copy = *this;
        copy.Folder = dir / name;
        copy.StaIdx = copy.Folder + StaIdx.substr(Folder.size());
        copy.Statics = copy.Folder + Statics.substr(Folder.size());
        std::filesystem::create_directory(copy.Folder);
        copy.Write();
        return copy;
    }
    StaticsPair Files() const { return {StaIdx, Statics}; }
    Bytes IndexFile() const { return test::ReadBytes(StaIdx); }
    Bytes StaticsFile() const { return test::ReadBytes(Statics); }

    // Every non-empty block of the files on disk, by entry number.
    std::map<std::size_t, Items> Blocks() const
    {
        auto table = std::make_unique<cryo::StaIdx>();
        NullReporter reporter;
        LoadStaIdx(StaIdx, *table, reporter, {MapOfStaticsFiles(StaIdx, Statics), std::nullopt});
        std::map<std::size_t, Items> blocks;
        File file = File::OpenExisting(Statics);
        for (std::size_t n = 0; n < table->Entries.size() + table->Trailing.size() / StaIdxRecordSize; ++n) {
            TStaticBlock block;
            ReadBlockRecords(file, IndexEntry(*table, n), block, reporter);
            if (block.Count > 0)
                blocks[n] = test::BlockItems(block);
        }
        return blocks;
    }

    std::string Folder;
    std::string StaIdx;
    std::string Statics;
    cryo::StaIdx Table;
    Bytes Data;
};

std::string Make(const Pair& release, const Pair& current, const std::string& out, test::RecordingReporter& reporter)
{
    return test::ErrorLineOf([&] { MakePatch(release.Files(), current.Files(), out, reporter); });
}

std::string Apply(
    const Pair& player, const std::string& patch, test::RecordingReporter& reporter, const ApplyOptions& options = {})
{
    return test::ErrorLineOf([&] {
        const WorldFiles files{player.StaIdx, player.Statics, {}};
        const LockedWorld locked(files, reporter);
        auto table = std::make_unique<StaIdx>();
        LoadStaIdx(files.StaIdx, *table, reporter, {MapOfStaticsFiles(files.StaIdx, files.Statics), std::nullopt});
        RunApplyPatch(files.StaIdx, files.Statics, patch, *table, reporter, options);
    });
}

const TStaticItem A1{0x0EED, 3, 5, -5, 0}, A2{0x0064, 0, 0, 0, 0}, A3{0x0065, 1, 0, 0, 0x481};
const TStaticItem B1{0x0B41, 6, 2, 3, 0}, B2{0x0B42, 7, 7, 127, 1}, C1{0x0495, 4, 4, 0, 0x481};
const TStaticItem D1{0x0001, 2, 2, 2, 2}, E1{0x3FFF, 0, 7, -128, 0xFFFF}, F1{0x0200, 5, 5, 10, 0};

struct MapCase {
    int Map;
    MapBlocks Size;
};

class PatchOnMap : public testing::TestWithParam<MapCase> { };

// The operator moves, removes, recolours and adds objects in several blocks
// and in an index entry past the map's table; the player's files then list
// exactly what the operator's list, block by block.
TEST_P(PatchOnMap, GivesThePlayerExactlyTheOperatorsBlocks)
{
    const auto [map, size] = GetParam();
    test::TempFolder dir;
    Pair release(dir, "release", map, size, 2);
    const std::size_t h = static_cast<std::size_t>(size.Height);
    const std::size_t a = 10 * h + 20, b = 11 * h + 20, c = 12 * h + 21, d = 13 * h + 22, e = 14 * h + 23;
    const std::size_t f = 15 * h + 24, past = release.Table.Entries.size() + 1;
    release.Set(a, {A1, A2, A3});
    release.Set(b, {B1, B2});
    // Unreferenced bytes: blocks far apart are read each on its own, the rest through reads ahead.
    release.Data = release.Data + Bytes(100000, 0x5A);
    release.Set(c, {C1});
    release.Set(d, {D1});
    release.Set(f, {F1});
    release.Set(past, {D1});
    release.Write();
    Pair current = release.CopyTo(dir, "current");
    Pair player = release.CopyTo(dir, "player");
    current.Set(a, {A1, {0x0064, 2, 0, 0, 0}, A3}); // moved
    current.Set(b, {B1}); // one removed
    current.Set(c, {{0x0495, 4, 4, 0, 0x21}}); // recoloured
    current.Set(e, {E1, E1}); // added to an empty block
    current.Set(f, {}); // emptied
    current.Set(past, {D1, F1});
    current.Set(d, {D1}); // a new copy of the same objects is no change
    current.Write();

    const std::string patch = dir / "players.patch";
    test::RecordingReporter made;
    EXPECT_EQ(Make(release, current, patch, made), "");
    EXPECT_EQ(made.Lines,
        std::vector<std::string>{"Patch written to " + patch + ": 6 blocks changed, 5 objects added, 4 removed"});
    EXPECT_EQ(made.Progress.back(), 100);
    const Bytes patchBytes = test::ReadBytes(patch);

    test::RecordingReporter applied;
    EXPECT_EQ(Apply(player, patch, applied), "");
    const std::string pastName = "index entry " + std::to_string(past);
    EXPECT_EQ(applied.Lines,
        (std::vector<std::string>{
            "Applying the patch... Cryoweaver may look crashed, do not interrupt!",
            "Replacing the 3 objects of block 10,20 by 3",
            "Replacing the 2 objects of block 11,20 by 1",
            "Replacing the 1 object of block 12,21 by 1",
            "Replacing the 0 objects of block 14,23 by 2",
            "Replacing the 1 object of block 15,24 by 0",
            "Replacing the 1 object of " + pastName + " by 2",
            "Blocks replaced: 6",
            "Blocks already up to date: 0",
            "Applying completed!",
        }));
    EXPECT_EQ(player.Blocks(), current.Blocks());
    // Appended in patch order, as a freeze appends; the emptied block is -1.
    EXPECT_EQ(player.StaticsFile(),
        release.StaticsFile() + ItemBytes({A1, {0x0064, 2, 0, 0, 0}, A3, B1, {0x0495, 4, 4, 0, 0x21}, E1, E1, D1, F1}));
    EXPECT_EQ(DecodeStaIdxEntry(&player.IndexFile()[f * StaIdxRecordSize]), (TStaIdxEntry{-1, 0, 0}));

    // Applying it again changes nothing, and the patch is only read.
    const Bytes index = player.IndexFile(), statics = player.StaticsFile();
    test::RecordingReporter again;
    EXPECT_EQ(Apply(player, patch, again), "");
    EXPECT_EQ(again.Lines,
        (std::vector<std::string>{"Applying the patch... Cryoweaver may look crashed, do not interrupt!",
            "Every block of the patch is up to date; no file was changed", "Applying completed!"}));
    EXPECT_EQ(player.IndexFile(), index);
    EXPECT_EQ(player.StaticsFile(), statics);
    EXPECT_EQ(test::ReadBytes(patch), patchBytes);

    // Undo takes the apply back byte for byte.
    test::RecordingReporter undone;
    EXPECT_EQ(test::ErrorText([&] { UndoLastOperation({player.StaIdx, player.Statics, {}}, undone); }), "");
    EXPECT_EQ(player.IndexFile(), release.IndexFile());
    EXPECT_EQ(player.StaticsFile(), release.StaticsFile());
    EXPECT_EQ(test::TempFolder::EntriesOf(player.Folder),
        (std::vector<std::string>{"staidx" + std::to_string(map) + ".mul", "statics" + std::to_string(map) + ".mul"}));
}

INSTANTIATE_TEST_SUITE_P(Maps, PatchOnMap, testing::Values(MapCase{0, {768, 512}}, MapCase{2, {288, 200}}),
    [](const testing::TestParamInfo<MapCase>& info) { return "Map" + std::to_string(info.param.Map); });

// A small world for the refusals: the release has objects in block 0,1, the
// operator adds one there and fills seven empty blocks 1,1 .. 1,7.
struct Small {
    Small()
        : release(dir, "release", 0, {768, 512}, 0)
    {
        release.Set(1, {A1});
        release.Write();
        player = std::make_unique<Pair>(release.CopyTo(dir, "player"));
        Pair current = release.CopyTo(dir, "current");
        current.Set(1, {A1, A2});
        for (std::size_t y = 1; y <= 7; ++y)
            current.Set(512 + y, {B1});
        current.Write();
        operatorBlocks = current.Blocks();
        test::RecordingReporter reporter;
        EXPECT_EQ(Make(release, current, patch, reporter), "");
    }

    test::TempFolder dir;
    Pair release;
    std::unique_ptr<Pair> player;
    std::map<std::size_t, Items> operatorBlocks;
    std::string patch = dir / "players.patch";
};

TEST(Patch, BlocksThatDifferFromTheReleaseStopTheApplyUnlessForced)
{
    const struct {
        std::vector<std::size_t> Changed; // the player's own edits, by entry
        std::string Named;
    } cases[] = {
        {{513}, "1 block differs from the release the patch was made from: block 1,1"},
        {{1, 514}, "2 blocks differ from the release the patch was made from: block 0,1 and block 1,2"},
        {{1, 513, 514, 515, 516, 517, 518},
            "7 blocks differ from the release the patch was made from: block 0,1, block 1,1, block 1,2, block 1,3, "
            "block 1,4 and 2 more"},
    };
    for (const auto& c : cases) {
        Small world;
        for (const std::size_t n : c.Changed)
            world.player->Set(n, {F1});
        world.player->Write();
        const Bytes index = world.player->IndexFile(), statics = world.player->StaticsFile();
        test::RecordingReporter reporter;
        EXPECT_EQ(Apply(*world.player, world.patch, reporter),
            world.player->Statics + ": " + c.Named
                + ". Nothing was changed; apply with --force to replace them all the same.");
        EXPECT_EQ(world.player->IndexFile(), index);
        EXPECT_EQ(world.player->StaticsFile(), statics);

        test::RecordingReporter forced;
        EXPECT_EQ(Apply(*world.player, world.patch, forced, {.Force = true}), "");
        EXPECT_EQ(world.player->Blocks(), world.operatorBlocks);
        EXPECT_EQ(forced.Lines[forced.Lines.size() - 3],
            "Blocks replaced: 8 (" + std::to_string(c.Changed.size()) + " differing from the release)");
    }
    Small world;
    world.player->Set(513, {F1});
    world.player->Set(514, {B1}); // already what the patch brings
    world.player->Write();
    test::RecordingReporter forced;
    EXPECT_EQ(Apply(*world.player, world.patch, forced, {.Force = true}), "");
    EXPECT_EQ(std::vector<std::string>(forced.Lines.begin() + 1, forced.Lines.begin() + 4),
        (std::vector<std::string>{"Replacing the 1 object of block 0,1 by 2",
            "Replacing the 1 object of block 1,1, which differs from the release, by 1",
            "Replacing the 0 objects of block 1,3 by 1"}));
    EXPECT_EQ(forced.Lines[forced.Lines.size() - 2], "Blocks already up to date: 1");
}

TEST(Patch, ADryRunSaysWhatItWouldReplaceAndWritesNothing)
{
    Small world;
    const std::vector<std::string> before = test::TempFolder::EntriesOf(world.player->Folder);
    const Bytes index = world.player->IndexFile(), statics = world.player->StaticsFile();
    test::RecordingReporter reporter;
    EXPECT_EQ(Apply(*world.player, world.patch, reporter, {.DryRun = true}), "");
    EXPECT_EQ(reporter.Lines.front(), "Dry run of the patch: every check, but no file is changed...");
    EXPECT_EQ(reporter.Lines[1], "Would replace the 1 object of block 0,1 by 2");
    EXPECT_EQ(std::vector<std::string>(reporter.Lines.end() - 3, reporter.Lines.end()),
        (std::vector<std::string>{"Blocks to replace: 8", "Blocks already up to date: 0",
            "Dry run of the patch completed; no file was changed."}));
    EXPECT_EQ(world.player->IndexFile(), index);
    EXPECT_EQ(world.player->StaticsFile(), statics);
    EXPECT_EQ(test::TempFolder::EntriesOf(world.player->Folder), before);
}

// The whole file of a one-block patch, as another program would read it.
TEST(Patch, TheFileHoldsTheHeaderTheChangedBlocksAndTheChecksum)
{
    test::TempFolder dir;
    Pair release(dir, "release", 0, {768, 512}, 0);
    release.Set(3 * 512 + 4, {A1});
    release.Write();
    Pair current = release.CopyTo(dir, "current");
    current.Set(3 * 512 + 4, {A1, C1});
    current.Write();
    test::RecordingReporter reporter;
    EXPECT_EQ(Make(release, current, dir / "p", reporter), "");

    const Bytes old = ItemBytes({A1});
    const XXH128_hash_t digest = XXH3_128bits(old.data(), old.size());
    Bytes expected{
        'C', 'W', 'P', 'A', 'T', 'C', 'H', 0x1A, 1, 0, 0, 0, 0x00, 0x03, 0x00, 0x02, 0, 0, 0, 0, 3, 0, 4, 0, 1, 0};
    for (const std::uint64_t half : {digest.low64, digest.high64})
        for (int i = 0; i < 8; ++i)
            expected.push_back(static_cast<unsigned char>(half >> (8 * i)));
    expected = expected + Bytes{2, 0} + ItemBytes({A1, C1}) + Bytes{1, 0, 0, 0};
    const std::uint64_t checksum = XXH3_64bits(expected.data(), expected.size());
    for (int i = 0; i < 8; ++i)
        expected.push_back(static_cast<unsigned char>(checksum >> (8 * i)));
    EXPECT_EQ(test::ReadBytes(dir / "p"), expected);
    EXPECT_TRUE(IsPatchFile(dir / "p"));

    // The same files make an empty patch, which applies as up to date.
    EXPECT_EQ(Make(release, release, dir / "empty", reporter), "");
    EXPECT_EQ(
        reporter.Lines.back(), "Patch written to " + dir / "empty" + ": 0 blocks changed, 0 objects added, 0 removed");
    const Bytes empty = test::ReadBytes(dir / "empty");
    EXPECT_EQ(empty.size(), PatchHeaderSize + PatchFooterSize);
    Pair player = release.CopyTo(dir, "player");
    EXPECT_EQ(Apply(player, dir / "empty", reporter), "");
    EXPECT_EQ(reporter.Lines[reporter.Lines.size() - 2], "Every block of the patch is up to date; no file was changed");
    EXPECT_EQ(player.IndexFile(), release.IndexFile());
}

// Every byte of a patch damaged in turn, and the patch cut short at every
// length or lengthened: refused with its reason, every file unchanged.
TEST(Patch, ADamagedOrCutShortPatchIsRefusedAndChangesNothing)
{
    Small world;
    const Bytes good = test::ReadBytes(world.patch);
    const Bytes index = world.player->IndexFile(), statics = world.player->StaticsFile();
    const std::string damaged = world.patch + ": The patch file is damaged or cut short. Get it again.";
    // Every case through the reader, a few through the whole apply.
    int applied = 0;
    auto refused = [&](const Bytes& bytes, const std::string& expected, const std::string& what) {
        test::WriteBytes(world.patch, bytes);
        EXPECT_EQ(test::ErrorLineOf([&] {
            PatchReader reader(world.patch);
            for (PatchBlock block; reader.Next(block);) { }
        }),
            expected)
            << what;
        if (applied++ % 37 != 0)
            return;
        test::RecordingReporter reporter;
        EXPECT_EQ(Apply(*world.player, world.patch, reporter), expected) << what;
        EXPECT_EQ(world.player->IndexFile(), index) << what;
        EXPECT_EQ(world.player->StaticsFile(), statics) << what;
    };
    for (std::size_t i = 0; i < good.size(); ++i) {
        Bytes bytes = good;
        bytes[i] ^= 0x20;
        const std::string expected = i < 8 ? world.patch + ": This is not a Cryoweaver patch file."
            : i < 10 ? world.patch + ": The patch file has format version " + std::to_string(i == 8 ? 33 : 8193)
                + ", which this Cryoweaver cannot read; use a newer Cryoweaver."
                     : damaged;
        refused(bytes, expected, "byte " + std::to_string(i));
    }
    for (std::size_t size = 0; size < good.size(); ++size)
        refused(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size)),
            size == 0 ? world.patch + ": This is not a Cryoweaver patch file." : damaged,
            "cut to " + std::to_string(size));
    refused(good + Bytes{0}, damaged, "a byte more");
    refused(test::ReadBytes(world.player->StaIdx), world.patch + ": This is not a Cryoweaver patch file.", "an index");
    EXPECT_FALSE(IsPatchFile(world.player->StaIdx));
    EXPECT_FALSE(IsPatchFile(world.dir / "missing"));
}

// The player's statics file ends inside a block the patch names.
TEST(Patch, APlayersBlockCutShortIsRefusedAndChangesNothing)
{
    Small world;
    test::WriteBytes(world.player->Statics, Bytes(StaticItemSize - 1, 0));
    const Bytes index = world.player->IndexFile(), statics = world.player->StaticsFile();
    test::RecordingReporter reporter;
    EXPECT_EQ(
        Apply(*world.player, world.patch, reporter), world.player->Statics + ": block 0,1: Read beyond end of file.");
    EXPECT_EQ(world.player->IndexFile(), index);
    EXPECT_EQ(world.player->StaticsFile(), statics);
}

// A patch of thousands of blocks is decided by two threads: what stops it is
// still the first block in the patch's order, whichever thread met it.
TEST(Patch, OfManyBlocksTheFirstBlockInThePatchsOrderIsTheOneReported)
{
    test::TempFolder dir;
    Pair release(dir, "release", 0, {768, 512}, 0);
    for (std::size_t n = 0; n < 5000; ++n)
        release.Set(n, {A1});
    release.Write();
    Pair current = release.CopyTo(dir, "current");
    for (std::size_t n = 0; n < 5000; ++n)
        current.Set(n, {A1, A2});
    current.Write();
    const std::string patch = dir / "players.patch";
    test::RecordingReporter made;
    ASSERT_EQ(Make(release, current, patch, made), "");

    Pair player = release.CopyTo(dir, "player");
    for (const std::size_t n : {4999, 1100, 3700, 2048, 2049, 1500, 4100})
        player.Set(n, {F1});
    player.Write();
    const Bytes index = player.IndexFile();
    for (int round = 0; round < 3; ++round) {
        test::RecordingReporter reporter;
        EXPECT_EQ(Apply(player, patch, reporter),
            player.Statics
                + ": 7 blocks differ from the release the patch was made from: block 2,76, block 2,476, block 4,0, "
                  "block 4,1, block 7,116 and 2 more. Nothing was changed; apply with --force to replace them all "
                  "the same.");
        EXPECT_EQ(player.IndexFile(), index);
    }
    // Cut inside the records of entry 2500: it and every block after it lie past the end.
    const Pair cut = release.CopyTo(dir, "cut");
    const Bytes cutIndex = cut.IndexFile();
    test::WriteBytes(cut.Statics, Bytes(cut.Data.begin(), cut.Data.begin() + 2500 * StaticItemSize + 3));
    for (int round = 0; round < 3; ++round) {
        test::RecordingReporter reporter;
        EXPECT_EQ(Apply(cut, patch, reporter), cut.Statics + ": block 4,452: Read beyond end of file.");
        EXPECT_EQ(cut.IndexFile(), cutIndex);
        EXPECT_EQ(cut.StaticsFile().size(), 2500 * StaticItemSize + 3);
    }
}

// A patch of several of the reader's buffers: blocks of up to 512 objects
// lie across every buffer's end, and the blocks already up to date are left.
TEST(Patch, APatchOfManyMegabytesGivesThePlayerEveryBlock)
{
    test::TempFolder dir;
    std::mt19937 random(11);
    auto fill = [&](Pair& pair, std::size_t blocks) {
        for (std::size_t n = 0; n < blocks; ++n) {
            const std::size_t count = n % 97 == 0 ? 512 : random() % 300;
            pair.Table.Entries[n] = {count == 0 ? -1 : static_cast<std::int32_t>(pair.Data.size()),
                static_cast<std::int32_t>(count * StaticItemSize), 0};
            for (std::size_t i = 0; i < count * StaticItemSize; ++i)
                pair.Data.push_back(static_cast<unsigned char>(random()));
        }
        pair.Write();
    };
    Pair release(dir, "release", 0, {768, 512}, 0);
    fill(release, 3000);
    Pair current(dir, "current", 0, {768, 512}, 0);
    fill(current, 3000);
    const std::string patch = dir / "players.patch";
    test::RecordingReporter made;
    ASSERT_EQ(Make(release, current, patch, made), "");
    ASSERT_GT(test::ReadBytes(patch).size(), std::size_t{3} << 20);

    // Every third block of the player's is the operator's already.
    auto bytesOf = [](const Pair& pair, std::size_t n) {
        const TStaIdxEntry& entry = pair.Table.Entries[n];
        const auto begin = pair.Data.begin() + std::max(entry.Offset, 0);
        return Bytes(begin, begin + entry.Length);
    };
    Pair player = release.CopyTo(dir, "player");
    std::size_t upToDate = 0;
    for (std::size_t n = 0; n < 3000; n += 3) {
        const Bytes block = bytesOf(current, n);
        upToDate += block != bytesOf(release, n); // a block of the patch
        player.Table.Entries[n] = {block.empty() ? -1 : static_cast<std::int32_t>(player.Data.size()),
            static_cast<std::int32_t>(block.size()), 0};
        player.Data.insert(player.Data.end(), block.begin(), block.end());
    }
    player.Write();
    test::RecordingReporter applied;
    EXPECT_EQ(Apply(player, patch, applied), "");
    EXPECT_EQ(applied.Lines.at(applied.Lines.size() - 2), "Blocks already up to date: " + std::to_string(upToDate));
    EXPECT_EQ(player.Blocks(), current.Blocks());
}

TEST(Patch, APatchOfAnotherMapOrSizeIsRefused)
{
    Small world;
    const struct {
        int Map;
        MapBlocks Size;
        int Extra;
        std::string Files;
    } others[] = {
        {2, {288, 200}, 0, "map 2 of 288 x 200 blocks"},
        {0, {896, 512}, 0, "map 0 of 896 x 512 blocks"},
        {0, {768, 512}, 3, "map 0 of 768 x 512 blocks and 3 index entries past its table"},
        {0, {768, 512}, 1, "map 0 of 768 x 512 blocks and 1 index entry past its table"},
    };
    for (const auto& other : others) {
        test::TempFolder dir;
        Pair player(dir, "player", other.Map, other.Size, other.Extra);
        player.Write();
        test::RecordingReporter reporter;
        EXPECT_EQ(Apply(player, world.patch, reporter),
            world.patch + ": The patch is for map 0 of 768 x 512 blocks"
                + (other.Extra > 0 ? " and no index entries past its table" : "") + " but these files are "
                + other.Files + "; nothing was changed.");
        EXPECT_EQ(player.IndexFile(), test::IndexBytes(player.Table));
        EXPECT_EQ(player.StaticsFile(), Bytes{});
    }
}

TEST(Patch, MakingOneRefusesPairsOfTwoMapsOrSizesAndAnOutputItReads)
{
    Small world;
    test::TempFolder dir;
    Pair map2(dir, "map2", 2, {288, 200}, 0);
    map2.Write();
    Pair wide(dir, "wide", 0, {896, 512}, 0);
    wide.Write();
    test::RecordingReporter reporter;
    EXPECT_EQ(Make(world.release, map2, dir / "p", reporter),
        "The released files belong to map 0 but the current ones to map 2: a patch is made from two pairs of one map.");
    EXPECT_EQ(Make(world.release, wide, dir / "p", reporter),
        wide.StaIdx
            + ": The released index is map 0 of 768 x 512 blocks but the current one map 0 of 896 x 512 blocks: a "
              "patch is made from two pairs of one size.");
    EXPECT_EQ(Make(world.release, *world.player, world.release.Statics, reporter),
        world.release.Statics + ": The patch would overwrite one of the files it is made from.");
    EXPECT_EQ(world.release.StaticsFile(), world.release.Data);
    EXPECT_EQ(test::TempFolder::EntriesOf(dir.path()), (std::vector<std::string>{"map2", "wide"}));
}

#ifndef _WIN32
// The release is a copy nobody may change: its files are only read.
TEST(Patch, MakingOneReadsAReleaseAndCurrentFilesThatAreReadOnly)
{
    Small world;
    Pair current(world.dir, "current", 0, {768, 512}, 0);
    for (const std::string& path : {world.release.StaIdx, world.release.Statics, current.StaIdx, current.Statics})
        ::chmod(path.c_str(), 0444);
    ::chmod(world.dir.path().c_str(), 0777);
    const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] {
        if (::geteuid() == 0)
            throw Error("still root");
        test::RecordingReporter reporter;
        if (const std::string error = Make(world.release, current, world.dir / "again.patch", reporter); !error.empty())
            throw Error(error);
    });
    ASSERT_EQ(text, "");
    EXPECT_EQ(test::ReadBytes(world.dir / "again.patch"), test::ReadBytes(world.patch));
}
#endif

} // namespace
} // namespace cryo
