#pragma once

#include "File.h"
#include "Reporter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cryo {

constexpr int MapXBlocks = 768;
constexpr int MapYBlocks = 512;
constexpr int StaIdxEntryCount = MapXBlocks * MapYBlocks;
constexpr int StaIdxRecordSize = 12;
constexpr std::uint64_t StaIdxFileSize = std::uint64_t{StaIdxEntryCount} * StaIdxRecordSize;

// One index record: where a block's objects lie in the statics file.
struct TStaIdxEntry {
    std::int32_t Offset = 0; // -1: the block has no objects
    std::int32_t Length = 0; // bytes, 7 per object; a remainder is ignored
    std::uint32_t Extra = 0; // carried unchanged

    bool operator==(const TStaIdxEntry&) const = default;
};

void EncodeStaIdxEntry(const TStaIdxEntry& entry, unsigned char* out);
TStaIdxEntry DecodeStaIdxEntry(const unsigned char* in);

// The index table of the whole map, X-major: entry (x, y) is number x * 512 + y.
class StaIdx {
public:
    StaIdx();

    // The entry of block (x, y); a block outside the map raises "Range check error".
    TStaIdxEntry& At(std::uint16_t xBlock, std::uint16_t yBlock);
    const TStaIdxEntry& At(std::uint16_t xBlock, std::uint16_t yBlock) const;

    static int Number(int xBlock, int yBlock) { return xBlock * MapYBlocks + yBlock; }

    std::vector<TStaIdxEntry> Entries;
    // False until a load succeeds; never cleared.
    bool StaIdxLoaded = false;
    // Bytes after the table in a longer index file (maps wider than this one);
    // they are written back after the table unchanged.
    std::vector<unsigned char> Trailing;
    // The file the table was loaded from, or last written to: a replacement
    // of the index must replace that very file.
    std::optional<FileIdentity> Source;
};

// Reads the whole index file into the table. Progress runs 0, then x * 100 div 768
// after every record of column x, then 100.
void LoadStaIdx(const std::string& path, StaIdx& table, Reporter& reporter);

// Writes the table (and any trailing bytes) to a replacement of the index file,
// without committing it. Progress is 90 + x * 10 div 768 after every record of
// column x; the caller sets 100.
void WriteStaIdx(ReplacementFile& out, const StaIdx& table, Reporter& reporter);

} // namespace cryo
