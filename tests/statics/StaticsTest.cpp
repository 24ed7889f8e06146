// The index file and the blocks of the statics file: records byte for byte,
// progress where the format fixes it, and what cut or odd files give.
#include "Error.h"
#include "File.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace cryo {
namespace {

using test::BlockItems;
using test::Bytes;
using test::ErrorLineOf;
using test::ItemBytes;
using test::RecordingReporter;
using test::TempFolder;
using test::WriteBytes;

// Every kind of entry a real index holds, and some it should not: empty
// entries with leftovers in Length and Extra, odd lengths.
Bytes RandomIndexBytes(std::uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(StaIdxFileSize);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(random());
    for (std::size_t i = 0; i < bytes.size(); i += StaIdxRecordSize * 7)
        std::fill_n(&bytes[i], 4, 0xFF);
    return bytes;
}

std::vector<TStaticItem> Items(int count)
{
    std::vector<TStaticItem> items;
    for (int i = 0; i < count; ++i)
        items.push_back({static_cast<std::uint16_t>(0x100 + i), static_cast<std::uint8_t>(i % 8),
            static_cast<std::uint8_t>(i / 8 % 8), static_cast<std::int8_t>(i - 60), static_cast<std::uint16_t>(i * 3)});
    return items;
}

TEST(Statics, RecordsAreLittleEndian)
{
    unsigned char bytes[12];
    EncodeStaIdxEntry({-1, 0x01020304, 0xA1B2C3D4}, bytes);
    EXPECT_EQ(Bytes(bytes, bytes + 12), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 0xD4, 0xC3, 0xB2, 0xA1}));
    EXPECT_EQ(DecodeStaIdxEntry(bytes), (TStaIdxEntry{-1, 0x01020304, 0xA1B2C3D4}));
    EncodeStaticItem({0x1234, 3, 5, -5, 0x0481}, bytes);
    EXPECT_EQ(Bytes(bytes, bytes + 7), (Bytes{0x34, 0x12, 3, 5, 0xFB, 0x81, 0x04}));
    EXPECT_EQ(DecodeStaticItem(bytes), (TStaticItem{0x1234, 3, 5, -5, 0x0481}));
}

TEST(LoadStaIdx, LoadsEveryRecordAndWritesTheSameBytesBack)
{
    TempFolder dir;
    Bytes bytes = RandomIndexBytes(7);
    WriteBytes(dir / "StaIdx0.mul", bytes);

    auto table = std::make_unique<StaIdx>();
    RecordingReporter loading;
    LoadStaIdx(dir / "StaIdx0.mul", *table, loading);
    EXPECT_TRUE(table->StaIdxLoaded);
    // 0 at the start and through column 7, 1 from column 8, 99 in column 767, then 100.
    ASSERT_EQ(loading.Progress.size(), StaIdxEntryCount + 2u);
    const std::vector<int>& load = loading.Progress;
    EXPECT_TRUE(load[0] == 0 && load[8 * 512] == 0 && load[8 * 512 + 1] == 1 && load[StaIdxEntryCount] == 99);
    EXPECT_EQ(load.back(), 100);

    table->At(5, 5) = {-1, 0, 0};
    EncodeStaIdxEntry({-1, 0, 0}, &bytes[table->Number(5, 5) * 12]);
    RecordingReporter saving;
    ReplacementFile file(dir / "StaIdx0.mul");
    WriteStaIdx(file, *table, saving);
    file.Commit();
    EXPECT_EQ(test::ReadBytes(dir / "StaIdx0.mul"), bytes);
    // 90 through column 76, 91 from column 77, 99 in column 767; the caller sets 100.
    const std::vector<int>& save = saving.Progress;
    ASSERT_EQ(save.size(), static_cast<std::size_t>(StaIdxEntryCount));
    EXPECT_TRUE(save[0] == 90 && save[77 * 512 - 1] == 90 && save[77 * 512] == 91 && save.back() == 99);
}

TEST(LoadStaIdx, AShortOrMissingFileFailsAtItsFirstMissingRecordAndLeavesTheFlagFalse)
{
    TempFolder dir;
    const std::string path = dir / "StaIdx0.mul";
    const Bytes full = RandomIndexBytes(3);
    auto table = std::make_unique<StaIdx>();
    RecordingReporter reporter;
    EXPECT_EQ(ErrorLineOf([&] { LoadStaIdx(path, *table, reporter); }), path + ": File not found.");
    EXPECT_EQ(reporter.Progress, std::vector<int>{0});
    // Cuts at and beside the first records, a column's end and the last record.
    for (const std::size_t size : {0, 1, 11, 12, 13, 6143, 6144, 6145, 4718580, 4718591}) {
        WriteBytes(path, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size)));
        table = std::make_unique<StaIdx>();
        reporter.Progress.clear();
        EXPECT_EQ(ErrorLineOf([&] { LoadStaIdx(path, *table, reporter); }), path + ": Read beyond end of file.");
        EXPECT_FALSE(table->StaIdxLoaded);
        // The records before the first missing one are read, each with its position.
        const std::size_t read = size / 12;
        EXPECT_EQ(reporter.Progress.size(), 1 + read) << size;
        if (read > 0) {
            EXPECT_EQ(table->Entries[read - 1], DecodeStaIdxEntry(&full[(read - 1) * 12])) << size;
        }
        EXPECT_EQ(table->Entries[read], TStaIdxEntry{}) << size;
    }
}

// The items read and the progress positions set, or the error as the command line shows it.
struct Read {
    std::vector<TStaticItem> Items;
    std::vector<int> Progress;
    std::string Error;
};

Read ReadBlock(const std::string& path, const TStaIdxEntry& entry)
{
    TStaticBlock block = StaticBlockOf(Items(5));
    RecordingReporter reporter;
    Read read;
    read.Error = ErrorLineOf([&] { ReadStaticBlock(path, entry, block, reporter); });
    // The buffer is cleared whole before it is filled.
    if (read.Error.empty()) {
        EXPECT_TRUE(std::all_of(block.Items.begin() + block.Count, block.Items.end(),
            [](const TStaticItem& item) { return item == TStaticItem{}; }));
    }
    read.Items = BlockItems(block);
    read.Progress = reporter.Progress;
    return read;
}

TEST(ReadStaticBlock, ReadsLengthDivSevenRecordsWithTheirProgress)
{
    TempFolder dir;
    const std::string path = dir / "Statics0.mul";
    const std::vector<TStaticItem> all = Items(513);
    WriteBytes(path, ItemBytes(all));

    // An empty entry touches neither the file, which need not exist, nor the progress.
    const Read empty = ReadBlock(dir / "missing.mul", {-1, 700, 9});
    EXPECT_TRUE(empty.Items.empty() && empty.Progress.empty() && empty.Error.empty());
    // Lengths below 7 give nothing, but the file must be there.
    for (const int length : {0, 6, -6}) {
        const Read none = ReadBlock(path, {0, length, 0});
        EXPECT_TRUE(none.Items.empty() && none.Progress.empty() && none.Error.empty()) << length;
    }
    EXPECT_EQ(ReadBlock(dir / "missing.mul", {0, 0, 0}).Error, dir / "missing.mul: File not found.");
    // A remainder of Length mod 7 is ignored.
    EXPECT_EQ(ReadBlock(path, {7, 20, 0}).Items, (std::vector<TStaticItem>{all[1], all[2]}));

    // i * 45 div n after item i.
    EXPECT_EQ(ReadBlock(path, {0, 7, 0}).Progress, std::vector<int>{45});
    const Read ninety = ReadBlock(path, {0, 90 * 7, 0});
    EXPECT_EQ(ninety.Items, Items(90));
    EXPECT_EQ(
        std::vector<int>(ninety.Progress.begin(), ninety.Progress.begin() + 5), (std::vector<int>{0, 1, 1, 2, 2}));
    const Read full = ReadBlock(path, {0, 512 * 7, 0});
    EXPECT_EQ(full.Items, Items(512));
    ASSERT_EQ(full.Progress.size(), 512u);
    EXPECT_TRUE(full.Progress[10] == 0 && full.Progress[11] == 1 && full.Progress.back() == 45);
}

TEST(ReadStaticBlock, MoreThan512ItemsAreRangeErrorsAndACutFileIsReadBeyondItsEnd)
{
    TempFolder dir;
    const std::string path = dir / "Statics0.mul";
    WriteBytes(path, ItemBytes(Items(513)));
    // The 513th item is refused after the first 512 have been read.
    EXPECT_EQ(ReadBlock(path, {0, 513 * 7, 0}).Progress.size(), 512u);
    for (const int length : {513 * 7, 3591, -7, 0x7FFFFFFF})
        EXPECT_EQ(ReadBlock(path, {0, length, 0}).Error, "Range check error.") << length;
    TStaticBlock block = StaticBlockOf(Items(510));
    EXPECT_EQ(test::ErrorText([&] { MergeBlockItems(block, StaticBlockOf(Items(3))); }), "Range check error");
    EXPECT_EQ(BlockItems(block), Items(510));

    struct Cut {
        std::size_t Size;
        TStaIdxEntry Entry;
        std::size_t ItemsRead;
    };
    // A short file reports the missing record before the count is refused.
    const Cut cuts[]
        = {{27, {0, 28, 0}, 3}, {22, {0, 28, 0}, 3}, {21, {0, 28, 0}, 3}, {20, {0, 28, 0}, 2}, {0, {0, 28, 0}, 0},
            {21, {1 << 20, 7, 0}, 0}, {700, {0, 600 * 7, 0}, 100}, {700, {-2, 7, 0}, 0}, {700, {INT32_MIN, 7, 0}, 0}};
    const Bytes hundred = ItemBytes(Items(100));
    for (const Cut& cut : cuts) {
        WriteBytes(path, Bytes(hundred.begin(), hundred.begin() + static_cast<std::ptrdiff_t>(cut.Size)));
        const Read read = ReadBlock(path, cut.Entry);
        EXPECT_EQ(read.Error, path + ": Read beyond end of file.") << cut.Size;
        EXPECT_EQ(read.Progress.size(), cut.ItemsRead) << cut.Size;
    }
}

} // namespace
} // namespace cryo
