#include "StaticBlock.h"
#include "Error.h"
#include "File.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

using test::BlockItems;
using test::Bytes;
using test::ErrorText;
using test::ItemBytes;
using test::ReadBytes;
using test::RecordingReporter;
using test::TempFolder;
using test::operator+;
using test::WriteBytes;

std::vector<TStaticItem> Items(int count, int seed = 0)
{
    std::vector<TStaticItem> items;
    for (int i = 0; i < count; ++i)
        items.push_back({static_cast<std::uint16_t>(0x100 + i + seed), static_cast<std::uint8_t>(i % 8),
            static_cast<std::uint8_t>((i / 8) % 8), static_cast<std::int8_t>(i - 60),
            static_cast<std::uint16_t>(i * 3 + seed)});
    return items;
}

// The items read and the progress positions set, or the error as the command line shows it.
struct Read {
    std::vector<TStaticItem> Items;
    std::vector<int> Progress;
    std::string Error;
};

Read ReadBlock(const std::string& path, const TStaIdxEntry& entry)
{
    TStaticBlock block = StaticBlockOf(Items(5, 9));
    RecordingReporter reporter;
    Read read;
    try {
        ReadStaticBlock(path, entry, block, reporter);
        // The buffer is cleared whole before it is filled.
        EXPECT_TRUE(std::all_of(block.Items.begin() + block.Count, block.Items.end(),
            [](const TStaticItem& item) { return item == TStaticItem{}; }));
    } catch (const Error& error) {
        read.Error = ErrorLine(error);
    }
    read.Items = BlockItems(block);
    read.Progress = reporter.Progress;
    return read;
}

TEST(TStaticItem, IsSevenLittleEndianBytes)
{
    unsigned char bytes[7];
    EncodeStaticItem({0x1234, 3, 5, -5, 0x0481}, bytes);
    EXPECT_EQ(Bytes(bytes, bytes + 7), (Bytes{0x34, 0x12, 3, 5, 0xFB, 0x81, 0x04}));
    EXPECT_EQ(DecodeStaticItem(bytes), (TStaticItem{0x1234, 3, 5, -5, 0x0481}));
}

TEST(ReadStaticBlock, ReadsLengthDivSevenRecordsWithTheirProgress)
{
    TempFolder dir;
    const std::string path = dir / "Statics0.mul";
    WriteBytes(path, ItemBytes(Items(513)));
    const std::vector<TStaticItem> all = Items(513);
    auto first = [&](int n) { return std::vector<TStaticItem>(all.begin(), all.begin() + n); };

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
    EXPECT_EQ(ninety.Items, first(90));
    EXPECT_EQ(
        std::vector<int>(ninety.Progress.begin(), ninety.Progress.begin() + 5), (std::vector<int>{0, 1, 1, 2, 2}));
    EXPECT_EQ(ninety.Progress.back(), 45);
    const Read full = ReadBlock(path, {0, 512 * 7, 0});
    EXPECT_EQ(full.Items, first(512));
    ASSERT_EQ(full.Progress.size(), 512u);
    EXPECT_EQ(full.Progress[10], 0);
    EXPECT_EQ(full.Progress[11], 1);
    EXPECT_EQ(full.Progress.back(), 45);
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

    struct Cut {
        std::size_t Size;
        TStaIdxEntry Entry;
        std::size_t ItemsRead;
    };
    const Cut cuts[] = {{27, {0, 28, 0}, 3}, {22, {0, 28, 0}, 3}, {21, {0, 28, 0}, 3}, {20, {0, 28, 0}, 2},
        {0, {0, 28, 0}, 0}, {21, {1 << 20, 7, 0}, 0},
        // A short file reports the missing record before the count is refused.
        {700, {0, 600 * 7, 0}, 100}};
    const Bytes hundred = ItemBytes(Items(100));
    for (const Cut& cut : cuts) {
        WriteBytes(path, Bytes(hundred.begin(), hundred.begin() + static_cast<std::ptrdiff_t>(cut.Size)));
        const Read read = ReadBlock(path, cut.Entry);
        EXPECT_EQ(read.Error, path + ": Read beyond end of file.") << cut.Size;
        EXPECT_EQ(read.Progress.size(), cut.ItemsRead) << cut.Size;
    }
}

TEST(AppendBlockRecords, WritesTheOldItemsThenTheNewAsACopyAtTheEnd)
{
    TempFolder dir;
    const std::string path = dir / "Statics0.mul";
    const Bytes before = ItemBytes(Items(3, 9)) + ItemBytes(Items(2)); // ..., A, B
    WriteBytes(path, before);
    const TStaIdxEntry entry{21, 14, 0xDEADBEEF};

    TStaticBlock merged;
    RecordingReporter reporter;
    ReadStaticBlock(path, entry, merged, reporter);
    MergeBlockItems(merged, StaticBlockOf(Items(2, 50))); // C, D
    File file = File::OpenExisting(path);
    EXPECT_EQ(AppendBlockRecords(file, merged, entry), (TStaIdxEntry{35, 28, 0xDEADBEEF}));
    // Nothing added to nothing still makes a copy, which reads as empty.
    EXPECT_EQ(AppendBlockRecords(file, TStaticBlock{}, {-1, 0, 7}), (TStaIdxEntry{63, 0, 7}));
    file.Close();
    EXPECT_EQ(ReadBytes(path), before + ItemBytes(Items(2)) + ItemBytes(Items(2, 50)));

    // 510 and 2 make 512; 510 and 3 are refused and change nothing.
    TStaticBlock block = StaticBlockOf(Items(510));
    MergeBlockItems(block, StaticBlockOf(Items(2)));
    EXPECT_EQ(block.Count, 512);
    block = StaticBlockOf(Items(510));
    EXPECT_EQ(ErrorText([&] { MergeBlockItems(block, StaticBlockOf(Items(3))); }), "Range check error");
    EXPECT_EQ(BlockItems(block), Items(510));
    EXPECT_EQ(ErrorText([&] { StaticBlockOf(Items(513)); }), "Range check error");
}

#ifndef _WIN32

TEST(ReadStaticBlock, AReadOnlyFileDeniesAccessEvenForReading)
{
    TempFolder dir;
    WriteBytes(dir / "Statics0.mul", ItemBytes(Items(3)));
    test::SetReadOnly(dir / "Statics0.mul");
    const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] {
        TStaticBlock block;
        RecordingReporter reporter;
        ReadStaticBlock(dir / "Statics0.mul", {0, 21, 0}, block, reporter);
    });
    EXPECT_EQ(text, "File access denied");
}

#endif

} // namespace
} // namespace cryo
