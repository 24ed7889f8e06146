#include "Melt.h"
#include "Actions.h"
#include "Error.h"
#include "TestSupport.h"
#include "World.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace cryo {
namespace {

using test::Bytes;
using test::ErrorText;
using test::ItemBytes;
using test::ReadText;
using test::RecordingReporter;
using test::WorldFolder;
using test::operator+;

const std::string Warning = "Melting in progress... Cryoweaver may look crashed, do not interrupt!";

const std::string SavedWorld = "SECTION CHARACTER 0\r\n{\r\nSERIAL 1073741900\r\n}\r\n\r\n"
                               "SECTION WORLDITEM 41\r\n{\r\nSERIAL 7\r\nID 5\r\nTYPE 0\r\n}\r\n\r\nEOF\r\n";

std::vector<int> SaveProgress()
{
    std::vector<int> progress;
    for (int i = 0; i < StaIdxEntryCount; ++i)
        progress.push_back(90 + i / 512 * 10 / 768);
    return progress;
}

std::vector<int> Concat(std::initializer_list<std::vector<int>> parts)
{
    std::vector<int> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct MeltWorld {
    WorldFolder world;
    std::vector<TStaticItem> items{{0x1234, 3, 5, -5, 0}, {0x0EED, 0, 7, 20, 0x0481}};

    MeltWorld()
    {
        StaIdx table = worldgen::EmptyIndex();
        table.At(100, 200) = {7, 14, 0xABCD};
        table.At(5, 5) = {-1, 33, 44};
        world.Write(table, ItemBytes({{9, 9, 9, 9, 9}}) + ItemBytes(items), SavedWorld);
    }
};

TEST(Melt, MovesTheBlockIntoTheWorldSaveAndEmptiesItsEntry)
{
    MeltWorld w;
    const auto before = w.world.Take();
    auto table = w.world.Load();
    RecordingReporter reporter;
    RunMelt({w.world.StaIdx(), w.world.Statics(), w.world.Wsc()}, "100", "200", *table, reporter);

    EXPECT_EQ(reporter.Lines,
        (std::vector<std::string>{Warning, "Highest number: 41", "Highest serial: 40 00 00 4C",
            "Writing StaIdx file...", "Done!", "Melting completed!"}));
    EXPECT_EQ(reporter.Flushes, 1);
    EXPECT_EQ(reporter.Progress, Concat({{0, 22, 45, 60, 75, 90}, SaveProgress(), {100}}));

    const auto after = w.world.Take();
    EXPECT_EQ(after.Statics, before.Statics);
    Bytes index = before.StaIdx;
    EncodeStaIdxEntry({-1, 0, 0}, &index[StaIdx::Number(100, 200) * 12]);
    EXPECT_EQ(after.StaIdx, index);
    EXPECT_EQ(ReadText(w.world.Wsc()),
        SavedWorld.substr(0, SavedWorld.size() - 5)
            + "SECTION WORLDITEM 42\r\n{\r\nSERIAL 1073741901\r\nNAME #\r\nID 4660\r\nX 803\r\nY 1605\r\nZ -5\r\n"
              "COLOR 0\r\nCONT -1\r\nTYPE 255\r\n}\r\n\r\n"
              "SECTION WORLDITEM 43\r\n{\r\nSERIAL 1073741902\r\nNAME #\r\nID 3821\r\nX 800\r\nY 1607\r\nZ 20\r\n"
              "COLOR 1153\r\nCONT -1\r\nTYPE 255\r\n}\r\n\r\nEOF\r\n\r\n");

    // The listing shows nothing now; a second melt of the block has nothing to do.
    EXPECT_TRUE(ListStaticBlock(w.world.Statics(), *table, "100", "200", reporter).empty());
    RecordingReporter again;
    const std::string wscAfterFirst = ReadText(w.world.Wsc());
    RunMelt({w.world.StaIdx(), w.world.Statics(), w.world.Wsc()}, "100", "200", *table, again);
    EXPECT_EQ(again.Lines,
        (std::vector<std::string>{Warning, "Nothing to do!", "Writing StaIdx file...", "Done!", "Melting completed!"}));
    EXPECT_EQ(ReadText(w.world.Wsc()), wscAfterFirst);
}

TEST(Melt, AnEmptyBlockStillRewritesTheIndexWithItsEntryNormalised)
{
    MeltWorld w;
    const auto before = w.world.Take();
    auto table = w.world.Load();
    std::filesystem::remove(w.world.Wsc());
    std::filesystem::remove(w.world.Statics());
    RecordingReporter reporter;
    RunMelt({w.world.StaIdx(), w.world.Statics(), w.world.Wsc()}, "5", "5", *table, reporter);
    EXPECT_EQ(reporter.Lines,
        (std::vector<std::string>{Warning, "Nothing to do!", "Writing StaIdx file...", "Done!", "Melting completed!"}));
    EXPECT_EQ(reporter.Progress, Concat({{0}, SaveProgress(), {100}}));
    Bytes index = before.StaIdx;
    EncodeStaIdxEntry({-1, 0, 0}, &index[StaIdx::Number(5, 5) * 12]);
    EXPECT_EQ(test::ReadBytes(w.world.StaIdx()), index);
}

TEST(Melt, TheCornersOfTheMapMelt)
{
    WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    table.At(0, 0) = {0, 7, 0};
    table.At(767, 511) = {7, 7, 0};
    world.Write(table, ItemBytes({{1, 0, 0, 0, 0}, {2, 7, 7, 0, 0}}), "EOF\r\n");
    auto loaded = world.Load();
    RecordingReporter reporter;
    MeltBlock(world.StaIdx(), world.Statics(), world.Wsc(), 0, 0, *loaded, reporter);
    MeltBlock(world.StaIdx(), world.Statics(), world.Wsc(), 767, 511, *loaded, reporter);
    const Bytes index = test::ReadBytes(world.StaIdx());
    EXPECT_EQ(DecodeStaIdxEntry(&index[0]), (TStaIdxEntry{-1, 0, 0}));
    EXPECT_EQ(DecodeStaIdxEntry(&index[4718580]), (TStaIdxEntry{-1, 0, 0}));
    EXPECT_EQ(test::Type255Items(ReadText(world.Wsc())), (test::Objects{{1, 0, 0, 0, 0}, {2, 6143, 4095, 0, 0}}));
}

struct BlockTextCase {
    const char* X;
    const char* Y;
    std::string Error;
    std::vector<int> Progress;
};

TEST(Melt, BlockTextsAreCheckedBeforeAnyFileChanges)
{
    const BlockTextCase cases[] = {
        {"abc", "0", "'abc' is not a valid integer value", {}},
        {"0", " 1", "' 1' is not a valid integer value", {}},
        {"65536", "x", "Range check error", {}},
        {"-1", "0", "Range check error", {}},
        {"768", "0", "Range check error", {0}},
        {"0", "512", "Range check error", {0}},
        {"$300", "0", "Range check error", {0}},
    };
    MeltWorld w;
    const auto before = w.world.Take();
    for (const BlockTextCase& c : cases) {
        auto table = w.world.Load();
        RecordingReporter reporter;
        EXPECT_EQ(ErrorText([&] {
            RunMelt({w.world.StaIdx(), w.world.Statics(), w.world.Wsc()}, c.X, c.Y, *table, reporter);
        }),
            c.Error)
            << c.X << "," << c.Y;
        EXPECT_EQ(reporter.Lines, std::vector<std::string>{Warning});
        EXPECT_EQ(reporter.Progress, c.Progress);
        EXPECT_TRUE(w.world.Take() == before);
    }
}

TEST(Melt, AFailingReadChangesNothing)
{
    MeltWorld w;
    auto table = w.world.Load();
    const auto before = w.world.Take();
    table->At(100, 200).Length = 513 * 7;
    RecordingReporter reporter;
    EXPECT_EQ(
        ErrorText([&] { MeltBlock(w.world.StaIdx(), w.world.Statics(), w.world.Wsc(), 100, 200, *table, reporter); }),
        "Read beyond end of file");
    table->At(100, 200).Offset = 0;
    std::filesystem::remove(w.world.Statics());
    EXPECT_EQ(
        ErrorText([&] { MeltBlock(w.world.StaIdx(), w.world.Statics(), w.world.Wsc(), 100, 200, *table, reporter); }),
        "File not found");
    EXPECT_EQ(w.world.Take().StaIdx, before.StaIdx);
    EXPECT_EQ(w.world.Take().Wsc, before.Wsc);
    EXPECT_EQ(w.world.Dir().Entries(), (std::vector<std::string>{"StaIdx0.mul", "UOX3.wsc"}));
}

#ifndef _WIN32

TEST(Melt, AnIndexThatCannotBeReplacedStopsTheMeltBeforeTheWorldSaveChanges)
{
    MeltWorld w;
    ::chmod(w.world.Dir().path().c_str(), 0777);
    test::SetReadOnly(w.world.StaIdx());
    ::chmod(w.world.Wsc().c_str(), 0666);
    ::chmod(w.world.Statics().c_str(), 0666);
    const auto before = w.world.Take();
    auto table = w.world.Load();
    const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] {
        RecordingReporter reporter;
        try {
            MeltBlock(w.world.StaIdx(), w.world.Statics(), w.world.Wsc(), 100, 200, *table, reporter);
        } catch (const Error&) {
            if (!reporter.Lines.empty())
                throw Error("the world save was read");
            throw;
        }
    });
    EXPECT_EQ(text, "File access denied");
    EXPECT_TRUE(w.world.Take() == before);
}

TEST(Melt, AFullDiskLeavesEveryFileAsItWas)
{
    MeltWorld w;
    const auto before = w.world.Take();
    auto table = w.world.Load();
    // The world save's replacement fails first, then the index's.
    for (const std::int64_t limit : {std::int64_t{100}, std::int64_t{1} << 20}) {
        const std::string text = test::ErrorTextInChild({.FileSizeLimit = limit}, [&] {
            RecordingReporter reporter;
            const TStaIdxEntry entry = table->At(100, 200);
            try {
                MeltBlock(w.world.StaIdx(), w.world.Statics(), w.world.Wsc(), 100, 200, *table, reporter);
            } catch (const Error&) {
                if (table->At(100, 200) != entry)
                    throw Error("the entry in memory no longer matches the index file");
                throw;
            }
        });
        EXPECT_EQ(text, "Disk full") << limit;
        EXPECT_TRUE(w.world.Take() == before) << limit;
        EXPECT_EQ(w.world.Dir().Entries(), (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));
    }
}

#endif

} // namespace
} // namespace cryo
