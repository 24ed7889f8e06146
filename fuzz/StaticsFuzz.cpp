// The statics readers. The input is a piece of an index file and a statics
// file: its first byte chooses whether the index is whole (its other records
// empty, maybe with bytes after the table) or cut after the piece, its next
// two bytes give the piece's length, and the bytes after the piece are
// Statics0.mul. A cut index must not load; every block of the piece must read
// as its records decode, with the errors its entry calls for.
#include "Bytes.h"
#include "FuzzSupport.h"
#include "StaIdx.h"
#include "StaticBlock.h"

#include <memory>
#include <vector>

using namespace cryo;

namespace {

// What reading the block must give: its objects, or the error's text.
std::string ExpectedRead(
    const TStaIdxEntry& entry, const std::uint8_t* statics, std::size_t size, std::vector<TStaticItem>& items)
{
    if (entry.Offset == -1)
        return "";
    // A negative offset lies before the file, whatever the length.
    if (entry.Offset < 0)
        return "Read beyond end of file";
    const std::int64_t n = entry.Length / StaticItemSize;
    if (n < 0 || n > 65535)
        return "Range check error";
    const std::int64_t wanted = std::min<std::int64_t>(n, MaxBlockItems);
    for (std::int64_t i = 0; i < wanted; ++i) {
        const std::int64_t at = std::int64_t{entry.Offset} + i * StaticItemSize;
        if (at + StaticItemSize > static_cast<std::int64_t>(size))
            return "Read beyond end of file";
        items.push_back(DecodeStaticItem(statics + at));
    }
    if (n > MaxBlockItems)
        return "Range check error";
    return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    // One input in four loads a whole index: that costs a 4.7 MB file.
    const bool whole = (data[0] & 5) == 5;
    const bool trailing = (data[0] & 2) != 0;
    const std::size_t piece = std::min<std::size_t>(le::GetU16(data + 1), size - 3);
    const std::uint8_t* index = data + 3;
    const std::uint8_t* statics = data + 3 + piece;
    const std::size_t staticsSize = size - 3 - piece;
    const std::string staticsPath = fuzz::ScratchFile("Statics0.mul");
    fuzz::WriteFileBytes(staticsPath, statics, staticsSize);

    static auto table = std::make_unique<StaIdx>();
    NullReporter reporter;
    if (whole) {
        // The rest of the index is empty blocks; the file is kept between inputs
        // and only the piece changes.
        static const std::string wholePath = fuzz::ScratchFile("StaIdx0.mul");
        static const std::vector<unsigned char> empty(StaIdxFileSize, 0xFF);
        static const int fd = [] {
            fuzz::WriteFileBytes(wholePath, empty.data(), empty.size());
            return ::open(wholePath.c_str(), O_RDWR | O_CLOEXEC);
        }();
        if (::pwrite(fd, index, piece, 0) != static_cast<ssize_t>(piece)
            || ::ftruncate(fd, static_cast<off_t>(StaIdxFileSize + (trailing ? 5 : 0))) != 0)
            std::abort();
        const std::string error = fuzz::ErrorOf([&] { LoadStaIdx(wholePath, *table, reporter); });
        if (::pwrite(fd, empty.data(), piece, 0) != static_cast<ssize_t>(piece))
            std::abort();
        if (!error.empty() || !table->StaIdxLoaded || table->Trailing.size() != (trailing ? 5u : 0u))
            fuzz::Mismatch("a whole index did not load");
        for (std::size_t i = 0; i < StaIdxEntryCount; ++i) {
            // The record the piece ends in holds bytes of both.
            if (i == piece / StaIdxRecordSize && piece % StaIdxRecordSize != 0)
                continue;
            const TStaIdxEntry expected = i < piece / StaIdxRecordSize ? DecodeStaIdxEntry(index + i * StaIdxRecordSize)
                                                                       : TStaIdxEntry{-1, -1, 0xFFFFFFFF};
            if (!(table->Entries[i] == expected))
                fuzz::Mismatch("entry");
        }
    } else {
        const std::string shortPath = fuzz::ScratchFile("short.mul");
        fuzz::WriteFileBytes(shortPath, index, piece);
        table->StaIdxLoaded = false;
        if (fuzz::ErrorOf([&] { LoadStaIdx(shortPath, *table, reporter); }) != "Read beyond end of file"
            || table->StaIdxLoaded)
            fuzz::Mismatch("a short index loaded");
    }

    // Each read opens the file: a few blocks are enough, and fast.
    for (std::size_t i = 0; i < std::min<std::size_t>(piece / StaIdxRecordSize, 16); ++i) {
        const TStaIdxEntry entry = DecodeStaIdxEntry(index + i * StaIdxRecordSize);
        auto block = std::make_unique<TStaticBlock>();
        std::vector<TStaticItem> expected;
        const std::string expectedError = ExpectedRead(entry, statics, staticsSize, expected);
        const std::string error = fuzz::ErrorOf([&] { ReadStaticBlock(staticsPath, entry, *block, reporter); });
        if (error != expectedError)
            fuzz::Mismatch("read error");
        if (error.empty()
            && (block->Count != expected.size() || !std::equal(expected.begin(), expected.end(), block->Items.begin())))
            fuzz::Mismatch("objects");
        for (std::size_t k = block->Count; error.empty() && k < MaxBlockItems; ++k)
            if (!(block->Items[k] == TStaticItem{}))
                fuzz::Mismatch("slots past the count");
        if (error.empty() && EntryItemCount(entry) != block->Count)
            fuzz::Mismatch("EntryItemCount");
    }
    return 0;
}
