#include "StaIdx.h"
#include "Error.h"
#include "File.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace cryo {
namespace {

using test::Bytes;
using test::ReadBytes;
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

std::string LoadError(const std::string& path, StaIdx& table, RecordingReporter& reporter)
{
    try {
        LoadStaIdx(path, table, reporter);
    } catch (const Error& error) {
        return ErrorLine(error);
    }
    return "";
}

TEST(StaIdx, EntriesAreLittleEndianRecordsOfTwelveBytes)
{
    unsigned char bytes[12];
    EncodeStaIdxEntry({-1, 0x01020304, 0xA1B2C3D4}, bytes);
    EXPECT_EQ(Bytes(bytes, bytes + 12), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 0xD4, 0xC3, 0xB2, 0xA1}));
    EXPECT_EQ(DecodeStaIdxEntry(bytes), (TStaIdxEntry{-1, 0x01020304, 0xA1B2C3D4}));
    auto table = std::make_unique<StaIdx>();
    EXPECT_EQ(test::ErrorText([&] { table->At(768, 0); }), "Range check error");
    EXPECT_EQ(test::ErrorText([&] { table->At(0, 512); }), "Range check error");
}

TEST(LoadStaIdx, LoadsEveryRecordAndWritesTheSameBytesBack)
{
    TempFolder dir;
    Bytes bytes = RandomIndexBytes(7);
    EncodeStaIdxEntry({6144, 70, 1}, &bytes[6144]);
    EncodeStaIdxEntry({4718580, 13, 2}, &bytes[4718580]);
    // A longer index (wider maps) keeps its extra bytes.
    for (int i = 0; i < 1000; ++i)
        bytes.push_back(static_cast<unsigned char>(i * 7));
    WriteBytes(dir / "StaIdx0.mul", bytes);

    auto table = std::make_unique<StaIdx>();
    RecordingReporter loading;
    LoadStaIdx(dir / "StaIdx0.mul", *table, loading);
    EXPECT_TRUE(table->StaIdxLoaded);
    EXPECT_EQ(table->At(1, 0), (TStaIdxEntry{6144, 70, 1}));
    EXPECT_EQ(table->At(767, 511), (TStaIdxEntry{4718580, 13, 2}));
    // 0 at the start and through column 7, 1 from column 8, 99 in column 767, then 100.
    ASSERT_EQ(loading.Progress.size(), StaIdxEntryCount + 2u);
    EXPECT_EQ(loading.Progress[0], 0);
    EXPECT_EQ(loading.Progress[8 * 512], 0);
    EXPECT_EQ(loading.Progress[8 * 512 + 1], 1);
    EXPECT_EQ(loading.Progress[StaIdxEntryCount], 99);
    EXPECT_EQ(loading.Progress.back(), 100);

    table->At(5, 5) = {-1, 0, 0};
    EncodeStaIdxEntry({-1, 0, 0}, &bytes[StaIdx::Number(5, 5) * 12]);
    RecordingReporter saving;
    ReplacementFile file(dir / "StaIdx0.mul");
    WriteStaIdx(file, *table, saving);
    file.Commit();
    EXPECT_EQ(ReadBytes(dir / "StaIdx0.mul"), bytes);
    EXPECT_EQ(StaIdxBytes(*table), bytes.size());
    // 90 through column 76, 91 from column 77, 99 in column 767; the caller sets 100.
    ASSERT_EQ(saving.Progress.size(), static_cast<std::size_t>(StaIdxEntryCount));
    EXPECT_EQ(saving.Progress[0], 90);
    EXPECT_EQ(saving.Progress[77 * 512 - 1], 90);
    EXPECT_EQ(saving.Progress[77 * 512], 91);
    EXPECT_EQ(saving.Progress.back(), 99);
}

TEST(LoadStaIdx, AShortFileFailsAtItsFirstMissingRecordAndLeavesTheFlagFalse)
{
    TempFolder dir;
    const std::string path = dir / "StaIdx0.mul";
    const Bytes full = RandomIndexBytes(3);
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{11}, std::size_t{12}, std::size_t{13},
             std::size_t{6144}, StaIdxFileSize - 12, StaIdxFileSize - 1}) {
        WriteBytes(path, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size)));
        auto table = std::make_unique<StaIdx>();
        RecordingReporter reporter;
        EXPECT_EQ(LoadError(path, *table, reporter), path + ": Read beyond end of file.") << size;
        EXPECT_FALSE(table->StaIdxLoaded);
        // One position for each record read whole, after the first 0.
        EXPECT_EQ(reporter.Progress.size(), 1 + size / 12) << size;
        if (size == StaIdxFileSize - 1) {
            EXPECT_EQ(table->Entries[StaIdxEntryCount - 2], DecodeStaIdxEntry(&full[full.size() - 24]));
            EXPECT_EQ(table->Entries.back(), TStaIdxEntry{});
        }
    }
}

TEST(LoadStaIdx, AMissingFileIsNotFoundAndChangesNothing)
{
    TempFolder dir;
    auto table = std::make_unique<StaIdx>();
    table->Entries[9] = {1, 2, 3};
    RecordingReporter reporter;
    EXPECT_EQ(LoadError(dir / "StaIdx0.mul", *table, reporter), dir / "StaIdx0.mul: File not found.");
    EXPECT_EQ(reporter.Progress, std::vector<int>{0});
    EXPECT_EQ(table->Entries[9], (TStaIdxEntry{1, 2, 3}));
    EXPECT_FALSE(table->StaIdxLoaded);
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

#endif

} // namespace
} // namespace cryo
