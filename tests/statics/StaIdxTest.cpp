#include "StaIdx.h"
#include "Error.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace cryo {
namespace {

using test::Bytes;
using test::ErrorText;
using test::ReadBytes;
using test::RecordingReporter;
using test::TempFolder;
using test::WriteBytes;

// Every kind of entry a real index holds, and some it should not.
Bytes RandomIndexBytes(std::uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(StaIdxFileSize);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(random());
    // Empty entries with leftovers in Length and Extra, and odd lengths.
    for (std::size_t i = 0; i < bytes.size(); i += StaIdxRecordSize * 7)
        std::fill_n(&bytes[i], 4, 0xFF);
    return bytes;
}

std::vector<int> ExpectedLoadProgress(std::size_t records)
{
    std::vector<int> progress{0};
    for (std::size_t i = 0; i < records; ++i)
        progress.push_back(static_cast<int>(i / 512) * 100 / 768);
    return progress;
}

TEST(StaIdx, EntriesAreLittleEndianRecordsOfTwelveBytes)
{
    unsigned char bytes[12];
    EncodeStaIdxEntry({-1, 0x01020304, 0xA1B2C3D4}, bytes);
    const Bytes expected{0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_EQ(Bytes(bytes, bytes + 12), expected);
    EXPECT_EQ(DecodeStaIdxEntry(bytes), (TStaIdxEntry{-1, 0x01020304, static_cast<std::uint32_t>(0xA1B2C3D4)}));
}

TEST(StaIdx, BlocksOutsideTheMapAreRangeErrors)
{
    auto table = std::make_unique<StaIdx>();
    EXPECT_EQ(ErrorText([&] { table->At(768, 0); }), "Range check error");
    EXPECT_EQ(ErrorText([&] { table->At(0, 512); }), "Range check error");
    EXPECT_EQ(&table->At(767, 511), &table->Entries.back());
    EXPECT_EQ(&table->At(1, 0), &table->Entries[512]);
}

TEST(LoadStaIdx, LoadsEveryRecordAtItsPositionAndSavesTheSameBytes)
{
    TempFolder dir;
    Bytes bytes = RandomIndexBytes(7);
    // Entry (1, 0) lies at byte 6,144 and entry (767, 511) at 4,718,580.
    EncodeStaIdxEntry({6144, 70, 1}, &bytes[6144]);
    EncodeStaIdxEntry({4718580, 13, 2}, &bytes[4718580]);
    WriteBytes(dir / "StaIdx0.mul", bytes);

    auto table = std::make_unique<StaIdx>();
    RecordingReporter reporter;
    LoadStaIdx(dir / "StaIdx0.mul", *table, reporter);
    EXPECT_TRUE(table->StaIdxLoaded);
    EXPECT_EQ(table->At(1, 0), (TStaIdxEntry{6144, 70, 1}));
    EXPECT_EQ(table->At(767, 511), (TStaIdxEntry{4718580, 13, 2}));

    std::vector<int> expected = ExpectedLoadProgress(StaIdxEntryCount);
    expected.push_back(100);
    EXPECT_EQ(reporter.Progress, expected);
    // 0 through column 7, 1 from column 8, 99 in column 767.
    EXPECT_EQ(reporter.Progress[8 * 512], 0);
    EXPECT_EQ(reporter.Progress[8 * 512 + 1], 1);
    EXPECT_EQ(reporter.Progress[StaIdxEntryCount], 99);

    RecordingReporter saving;
    SaveStaIdx(dir / "copy.mul", *table, saving);
    EXPECT_EQ(ReadBytes(dir / "copy.mul"), bytes);
    ASSERT_EQ(saving.Progress.size(), static_cast<std::size_t>(StaIdxEntryCount));
    for (std::size_t i = 0; i < saving.Progress.size(); ++i)
        ASSERT_EQ(saving.Progress[i], 90 + static_cast<int>(i / 512) * 10 / 768) << i;
    EXPECT_EQ(saving.Progress[76 * 512 + 511], 90);
    EXPECT_EQ(saving.Progress[77 * 512], 91);
    EXPECT_EQ(saving.Progress.back(), 99);
}

TEST(LoadStaIdx, AShortFileFailsAtItsLastRecordAndLeavesTheFlagFalse)
{
    TempFolder dir;
    const Bytes full = RandomIndexBytes(3);
    auto table = std::make_unique<StaIdx>();
    WriteBytes(dir / "StaIdx0.mul", Bytes(full.begin(), full.end() - 1));

    RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] { LoadStaIdx(dir / "StaIdx0.mul", *table, reporter); }), "Read beyond end of file");
    EXPECT_FALSE(table->StaIdxLoaded);
    EXPECT_EQ(reporter.Progress, ExpectedLoadProgress(StaIdxEntryCount - 1));
    // The records before the missing one have been read.
    EXPECT_EQ(table->Entries[StaIdxEntryCount - 2], DecodeStaIdxEntry(&full[full.size() - 24]));
    EXPECT_EQ(table->Entries.back(), TStaIdxEntry{});
}

TEST(LoadStaIdx, FilesCutAtRecordBoundariesAndBesideThemFail)
{
    TempFolder dir;
    const Bytes full = RandomIndexBytes(4);
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{11}, std::size_t{12}, std::size_t{13},
             std::size_t{6144}, StaIdxFileSize - 12, StaIdxFileSize - 11}) {
        WriteBytes(dir / "StaIdx0.mul", Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size)));
        auto table = std::make_unique<StaIdx>();
        RecordingReporter reporter;
        EXPECT_EQ(ErrorText([&] { LoadStaIdx(dir / "StaIdx0.mul", *table, reporter); }), "Read beyond end of file")
            << size;
        EXPECT_FALSE(table->StaIdxLoaded);
        EXPECT_EQ(reporter.Progress.size(), 1 + size / 12) << size;
        EXPECT_EQ(ReadBytes(dir / "StaIdx0.mul").size(), size);
    }
}

TEST(LoadStaIdx, BytesAfterTheTableAreKeptAndWrittenBack)
{
    TempFolder dir;
    Bytes bytes = RandomIndexBytes(5);
    for (int i = 0; i < 1000; ++i)
        bytes.push_back(static_cast<unsigned char>(i * 7));
    WriteBytes(dir / "StaIdx0.mul", bytes);

    auto table = std::make_unique<StaIdx>();
    RecordingReporter reporter;
    LoadStaIdx(dir / "StaIdx0.mul", *table, reporter);
    EXPECT_TRUE(table->StaIdxLoaded);
    EXPECT_EQ(table->Trailing.size(), 1000u);
    table->At(5, 5) = {-1, 0, 0};
    SaveStaIdx(dir / "StaIdx0.mul", *table, reporter);

    EncodeStaIdxEntry({-1, 0, 0}, &bytes[StaIdx::Number(5, 5) * 12]);
    EXPECT_EQ(ReadBytes(dir / "StaIdx0.mul"), bytes);
}

TEST(LoadStaIdx, AMissingFileIsNotFoundAndChangesNothing)
{
    TempFolder dir;
    auto table = std::make_unique<StaIdx>();
    table->Entries[9] = {1, 2, 3};
    RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] { LoadStaIdx(dir / "StaIdx0.mul", *table, reporter); }), "File not found");
    EXPECT_EQ(reporter.Progress, std::vector<int>{0});
    EXPECT_EQ(table->Entries[9], (TStaIdxEntry{1, 2, 3}));
    EXPECT_FALSE(table->StaIdxLoaded);
}

TEST(SaveStaIdx, CreatesTheFileWhenItIsMissing)
{
    TempFolder dir;
    auto table = std::make_unique<StaIdx>();
    table->At(767, 511) = {-1, 5, 6};
    RecordingReporter reporter;
    SaveStaIdx(dir / "StaIdx0.mul", *table, reporter);
    EXPECT_EQ(ReadBytes(dir / "StaIdx0.mul"), test::IndexBytes(*table));
}

#ifndef _WIN32

TEST(LoadStaIdx, AReadOnlyFileDeniesAccess)
{
    TempFolder dir;
    WriteBytes(dir / "StaIdx0.mul", RandomIndexBytes(1));
    test::SetReadOnly(dir / "StaIdx0.mul");
    const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] {
        auto table = std::make_unique<StaIdx>();
        RecordingReporter reporter;
        LoadStaIdx(dir / "StaIdx0.mul", *table, reporter);
    });
    EXPECT_EQ(text, "File access denied");
}

TEST(SaveStaIdx, AFailedSaveLeavesTheOldIndexByteIdentical)
{
    TempFolder dir;
    const Bytes old = RandomIndexBytes(2);
    WriteBytes(dir / "StaIdx0.mul", old);
    auto table = std::make_unique<StaIdx>();
    table->At(3, 4) = {-1, 0, 0};

    const std::string full = test::ErrorTextInChild({.FileSizeLimit = 1 << 20}, [&] {
        RecordingReporter reporter;
        SaveStaIdx(dir / "StaIdx0.mul", *table, reporter);
    });
    EXPECT_EQ(full, "Disk full");
    EXPECT_EQ(ReadBytes(dir / "StaIdx0.mul"), old);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"StaIdx0.mul"});

    ::chmod(dir.path().c_str(), 0777);
    test::SetReadOnly(dir / "StaIdx0.mul");
    const std::string denied = test::ErrorTextInChild({.Unprivileged = true}, [&] {
        RecordingReporter reporter;
        SaveStaIdx(dir / "StaIdx0.mul", *table, reporter);
    });
    EXPECT_EQ(denied, "File access denied");
    EXPECT_EQ(ReadBytes(dir / "StaIdx0.mul"), old);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"StaIdx0.mul"});
}

#endif

} // namespace
} // namespace cryo
