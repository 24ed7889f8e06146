#include "StaticBlock.h"
#include "Error.h"
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

TEST(TStaticItem, IsSevenLittleEndianBytes)
{
    unsigned char bytes[7];
    EncodeStaticItem({0x1234, 3, 5, -5, 0x0481}, bytes);
    EXPECT_EQ(Bytes(bytes, bytes + 7), (Bytes{0x34, 0x12, 3, 5, 0xFB, 0x81, 0x04}));
    EXPECT_EQ(DecodeStaticItem(bytes), (TStaticItem{0x1234, 3, 5, -5, 0x0481}));
}

TEST(ReadStaticBlock, AnEmptyEntryTouchesNeitherFileNorProgress)
{
    TempFolder dir;
    TStaticBlock block = StaticBlockOf(Items(5));
    RecordingReporter reporter;
    ReadStaticBlock(dir / "missing.mul", {-1, 700, 9}, block, reporter);
    EXPECT_EQ(block.Count, 0);
    EXPECT_TRUE(block.Items == TStaticBlock{}.Items);
    EXPECT_TRUE(reporter.Progress.empty());
}

TEST(ReadStaticBlock, ShortLengthsGiveNoItemsButStillNeedTheFile)
{
    TempFolder dir;
    WriteBytes(dir / "Statics0.mul", ItemBytes(Items(3)));
    for (int length = 0; length <= 6; ++length) {
        TStaticBlock block = StaticBlockOf(Items(2));
        RecordingReporter reporter;
        ReadStaticBlock(dir / "Statics0.mul", {0, length, 0}, block, reporter);
        EXPECT_EQ(block.Count, 0);
        EXPECT_TRUE(block.Items == TStaticBlock{}.Items);
        EXPECT_TRUE(reporter.Progress.empty());
    }
    TStaticBlock block;
    RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] { ReadStaticBlock(dir / "missing.mul", {0, 0, 0}, block, reporter); }), "File not found");
    // A remainder of Length mod 7 is ignored; an offset past the end reads nothing when nothing is asked.
    ReadStaticBlock(dir / "Statics0.mul", {7, 20, 0}, block, reporter);
    EXPECT_EQ(BlockItems(block), (std::vector<TStaticItem>{Items(3)[1], Items(3)[2]}));
    ReadStaticBlock(dir / "Statics0.mul", {1000, 6, 0}, block, reporter);
    EXPECT_EQ(block.Count, 0);
    ReadStaticBlock(dir / "Statics0.mul", {0, -6, 0}, block, reporter);
    EXPECT_EQ(block.Count, 0);
}

TEST(ReadStaticBlock, ReportsItemTimesFortyFiveDivCountAfterEveryItem)
{
    TempFolder dir;
    WriteBytes(dir / "Statics0.mul", ItemBytes(Items(512)));
    auto progressOf = [&](int count) {
        TStaticBlock block;
        RecordingReporter reporter;
        ReadStaticBlock(dir / "Statics0.mul", {0, count * 7, 0}, block, reporter);
        EXPECT_EQ(BlockItems(block), Items(count));
        return reporter.Progress;
    };
    EXPECT_EQ(progressOf(1), std::vector<int>{45});

    std::vector<int> ninety;
    for (int i = 1; i <= 90; ++i)
        ninety.push_back(i * 45 / 90);
    EXPECT_EQ(progressOf(90), ninety);
    EXPECT_EQ(std::vector<int>(ninety.begin(), ninety.begin() + 5), (std::vector<int>{0, 1, 1, 2, 2}));

    const std::vector<int> full = progressOf(512);
    ASSERT_EQ(full.size(), 512u);
    EXPECT_EQ(full[10], 0);
    EXPECT_EQ(full[11], 1);
    EXPECT_EQ(full.back(), 45);
}

TEST(ReadStaticBlock, MoreThan512ItemsAreRangeErrorsAfterTheFirst512AreRead)
{
    TempFolder dir;
    WriteBytes(dir / "Statics0.mul", ItemBytes(Items(513)));
    TStaticBlock block;
    RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] {
        ReadStaticBlock(dir / "Statics0.mul", {0, 513 * 7, 0}, block, reporter);
    }),
        "Range check error");
    EXPECT_EQ(reporter.Progress.size(), 512u);
    EXPECT_EQ(ErrorText([&] {
        ReadStaticBlock(dir / "Statics0.mul", {0, 3591, 0}, block, reporter);
    }),
        "Range check error");
    EXPECT_EQ(ErrorText([&] {
        ReadStaticBlock(dir / "Statics0.mul", {0, -7, 0}, block, reporter);
    }),
        "Range check error");
    EXPECT_EQ(ErrorText([&] {
        ReadStaticBlock(dir / "Statics0.mul", {0, 0x7FFFFFFF, 0}, block, reporter);
    }),
        "Range check error");

    // A short file reports the missing record before the count is refused.
    WriteBytes(dir / "Statics0.mul", ItemBytes(Items(100)));
    RecordingReporter shortRead;
    EXPECT_EQ(ErrorText([&] {
        ReadStaticBlock(dir / "Statics0.mul", {0, 600 * 7, 0}, block, shortRead);
    }),
        "Read beyond end of file");
    EXPECT_EQ(shortRead.Progress.size(), 100u);
}

TEST(ReadStaticBlock, RecordsRunningPastTheEndFailAtTheFirstIncompleteOne)
{
    TempFolder dir;
    const Bytes bytes = ItemBytes(Items(4));
    for (std::size_t cut : {std::size_t{27}, std::size_t{22}, std::size_t{21}, std::size_t{20}, std::size_t{0}}) {
        WriteBytes(dir / "Statics0.mul", Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        TStaticBlock block;
        RecordingReporter reporter;
        EXPECT_EQ(ErrorText([&] {
            ReadStaticBlock(dir / "Statics0.mul", {0, 28, 0}, block, reporter);
        }),
            "Read beyond end of file")
            << cut;
        EXPECT_EQ(reporter.Progress.size(), cut / 7) << cut;
    }
    TStaticBlock block;
    RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] {
        ReadStaticBlock(dir / "Statics0.mul", {1 << 20, 7, 0}, block, reporter);
    }),
        "Read beyond end of file");
}

TEST(AppendStaticBlock, WritesTheOldItemsThenTheNewAsACopyAtTheEnd)
{
    TempFolder dir;
    const std::vector<TStaticItem> old = Items(2, 0); // A, B
    const std::vector<TStaticItem> added = Items(2, 50); // C, D
    const Bytes before = ItemBytes(Items(3, 9)) + ItemBytes(old);
    WriteBytes(dir / "Statics0.mul", before);

    TStaIdxEntry entry{21, 14, 0xDEADBEEF};
    RecordingReporter reporter;
    AppendStaticBlock(dir / "Statics0.mul", entry, StaticBlockOf(added), reporter);
    EXPECT_EQ(entry, (TStaIdxEntry{35, 28, 0xDEADBEEF}));
    EXPECT_EQ(ReadBytes(dir / "Statics0.mul"), before + ItemBytes(old) + ItemBytes(added));
    EXPECT_EQ(reporter.Progress, (std::vector<int>{22, 45}));

    // A second append leaves a third copy; the entry points at the newest.
    AppendStaticBlock(dir / "Statics0.mul", entry, StaticBlockOf(Items(1, 80)), reporter);
    EXPECT_EQ(entry, (TStaIdxEntry{63, 35, 0xDEADBEEF}));
    TStaticBlock block;
    ReadStaticBlock(dir / "Statics0.mul", entry, block, reporter);
    std::vector<TStaticItem> all = old;
    all.insert(all.end(), added.begin(), added.end());
    all.push_back(Items(1, 80)[0]);
    EXPECT_EQ(BlockItems(block), all);
    EXPECT_EQ(ReadBytes(dir / "Statics0.mul").size(), 21u + 14 + 28 + 35);
}

TEST(AppendStaticBlock, AnEmptyBlockGetsItsFirstCopyAtTheEnd)
{
    TempFolder dir;
    WriteBytes(dir / "Statics0.mul", ItemBytes(Items(5)));
    TStaIdxEntry entry{-1, 99, 7};
    RecordingReporter reporter;
    AppendStaticBlock(dir / "Statics0.mul", entry, StaticBlockOf(Items(3, 1)), reporter);
    EXPECT_EQ(entry, (TStaIdxEntry{35, 21, 7}));
    EXPECT_EQ(ReadBytes(dir / "Statics0.mul"), ItemBytes(Items(5)) + ItemBytes(Items(3, 1)));
    EXPECT_TRUE(reporter.Progress.empty());

    // Nothing added to nothing still repoints the entry, which then reads as empty.
    TStaIdxEntry none{-1, 0, 0};
    AppendStaticBlock(dir / "Statics0.mul", none, TStaticBlock{}, reporter);
    EXPECT_EQ(none, (TStaIdxEntry{56, 0, 0}));
    EXPECT_EQ(ReadBytes(dir / "Statics0.mul").size(), 56u);

    TStaIdxEntry missing{-1, 0, 0};
    EXPECT_EQ(
        ErrorText([&] { AppendStaticBlock(dir / "nope.mul", missing, TStaticBlock{}, reporter); }), "File not found");
    EXPECT_EQ(missing, (TStaIdxEntry{-1, 0, 0}));
}

TEST(AppendStaticBlock, AMergeBeyond512ItemsChangesNothing)
{
    TempFolder dir;
    WriteBytes(dir / "Statics0.mul", ItemBytes(Items(510)));
    TStaIdxEntry entry{0, 510 * 7, 3};
    RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] { AppendStaticBlock(dir / "Statics0.mul", entry, StaticBlockOf(Items(3, 7)), reporter); }),
        "Range check error");
    EXPECT_EQ(entry, (TStaIdxEntry{0, 510 * 7, 3}));
    EXPECT_EQ(ReadBytes(dir / "Statics0.mul"), ItemBytes(Items(510)));

    AppendStaticBlock(dir / "Statics0.mul", entry, StaticBlockOf(Items(2, 7)), reporter);
    EXPECT_EQ(entry, (TStaIdxEntry{510 * 7, 512 * 7, 3}));
}

#ifndef _WIN32

TEST(AppendStaticBlock, AFailedWriteKeepsTheEntryAndTheFile)
{
    TempFolder dir;
    const Bytes before = ItemBytes(Items(100));
    WriteBytes(dir / "Statics0.mul", before);
    const std::string text = test::ErrorTextInChild({.FileSizeLimit = 1000}, [&] {
        TStaIdxEntry entry{0, 700, 5};
        RecordingReporter reporter;
        try {
            AppendStaticBlock(dir / "Statics0.mul", entry, StaticBlockOf(Items(10)), reporter);
        } catch (const Error&) {
            if (entry != TStaIdxEntry{0, 700, 5})
                throw Error("entry changed");
            throw;
        }
    });
    EXPECT_EQ(text, "Disk full");
    EXPECT_EQ(ReadBytes(dir / "Statics0.mul"), before);
}

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
