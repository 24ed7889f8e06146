#pragma once

#include "File.h"
#include "MapSizes.h"
#include "Reporter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cryo {

// The classic map 0 of 768 x 512 blocks, the size of a table before it is
// loaded, and of its index file.
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

// The map an index belongs to, and its size when the user gives it.
struct IndexMap {
    int Map = 0;
    std::optional<MapBlocks> Size;
};

// The index table of a whole map, X-major: entry (x, y) is number
// x * Height() + y.
class StaIdx {
public:
    // All zeros, 768 x 512 blocks.
    StaIdx();
    explicit StaIdx(MapBlocks size);

    // Width and height in blocks.
    int Width() const { return size_.Width; }
    int Height() const { return size_.Height; }
    MapBlocks Size() const { return size_; }
    // All zeros at the new size.
    void Resize(MapBlocks size);
    // The entries of a table of that size, column after column.
    void Replace(MapBlocks size, std::vector<TStaIdxEntry> entries);

    // The entry of block (x, y); a block outside the map raises "Range check error".
    TStaIdxEntry& At(std::uint16_t xBlock, std::uint16_t yBlock);
    const TStaIdxEntry& At(std::uint16_t xBlock, std::uint16_t yBlock) const;

    std::size_t Number(int xBlock, int yBlock) const
    {
        return static_cast<std::size_t>(xBlock) * static_cast<std::size_t>(size_.Height)
            + static_cast<std::size_t>(yBlock);
    }

    std::vector<TStaIdxEntry> Entries;
    // False until a load succeeds; never cleared.
    bool StaIdxLoaded = false;
    // Bytes after the table in a longer index file; they are written back
    // after the table unchanged.
    std::vector<unsigned char> Trailing;
    // The file the table was loaded from, or last written to: a replacement
    // of the index must replace that very file.
    std::optional<FileIdentity> Source;
    // The map it was loaded as: its number is the world its objects stand in
    // once melted, and a reload keeps a size that was given.
    IndexMap LoadedAs;

private:
    MapBlocks size_;
};

// How an index file is opened: for an operation that may write it (so a
// read-only file is refused), or for one that only ever reads it.
enum class IndexAccess { ReadWrite, ReadOnly };

// Reads the whole index file into the table, at the size of the map (the
// given one, or the one the index's length gives). Progress runs 0, then
// x * 100 div width after every record of column x, then 100.
void LoadStaIdx(const std::string& path, StaIdx& table, Reporter& reporter, const IndexMap& map = {},
    IndexAccess access = IndexAccess::ReadWrite);

// Writes the table (and any trailing bytes) to a replacement of the index file,
// without committing it. Progress is 90 + x * 10 div width after every record
// of column x; the caller sets 100.
void WriteStaIdx(ReplacementFile& out, const StaIdx& table, Reporter& reporter);

} // namespace cryo
