#pragma once

#include "Error.h"
#include "Reporter.h"
#include "StaIdx.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cryo {

class File;

constexpr int StaticItemSize = 7;
constexpr int MaxBlockItems = 512;

// One static object as the statics file stores it.
struct TStaticItem {
    std::uint16_t TileId = 0;
    std::uint8_t XOffset = 0; // 0..7 within the block
    std::uint8_t YOffset = 0;
    std::int8_t Z = 0;
    std::uint16_t Color = 0;

    bool operator==(const TStaticItem&) const = default;
};

void EncodeStaticItem(const TStaticItem& item, unsigned char* out);
TStaticItem DecodeStaticItem(const unsigned char* in);

// The objects of one block. Items[0 .. Count-1] are valid, in stored order
// (the user-visible item numbers count from 1).
struct TStaticBlock {
    std::uint16_t Count = 0;
    std::array<TStaticItem, MaxBlockItems> Items{};

    void Clear() { *this = TStaticBlock{}; }
};

// "block x, y": the place an error about a block names.
std::string BlockPlace(int x, int y);

// Runs read, naming the statics file in any error it raises, and the block
// in those that concern its records rather than the whole file.
template <typename Read> void NamingBlock(const std::string& staticsPath, int x, int y, Read&& read)
{
    try {
        read();
    } catch (Error& error) {
        error.SetFile(staticsPath);
        const auto* file = dynamic_cast<const FileError*>(&error);
        if (file == nullptr || file->What() == FileError::Kind::ReadBeyondEnd)
            error.SetPlace(BlockPlace(x, y));
        throw;
    }
}

// A block holding the items in order; more than 512 raise "Range check error".
TStaticBlock StaticBlockOf(const std::vector<TStaticItem>& items);

// Reads the block an entry refers to. An entry with Offset -1 gives an empty
// block without touching the file. Progress: i * 45 div n after item i of n.
void ReadStaticBlock(
    const std::string& staticsPath, const TStaIdxEntry& entry, TStaticBlock& block, Reporter& reporter);

// The steps of ReadStaticBlock after the file has been opened.
void ReadBlockRecords(File& statics, const TStaIdxEntry& entry, TStaticBlock& block, Reporter& reporter);

// Number of records an entry refers to (none for Offset -1), whatever their
// number; more than 65535 raise "Range check error".
int EntryRecordCount(const TStaIdxEntry& entry);

// Number of objects an entry refers to, checked as a read checks it.
int EntryItemCount(const TStaIdxEntry& entry);

// Appends extra's items after block's; more than 512 in all raises "Range check error"
// and leaves block unchanged.
void MergeBlockItems(TStaticBlock& block, const TStaticBlock& extra);

// Writes the block's records at the end of the open file (not flushed) and returns
// the entry that refers to the copy, with entry's Extra.
TStaIdxEntry AppendBlockRecords(File& statics, const TStaticBlock& block, const TStaIdxEntry& entry);

} // namespace cryo
