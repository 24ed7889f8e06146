#pragma once

// The players' patch file: the blocks of one map whose objects an operator
// changed, each with a digest of the objects it held before and the objects it
// holds now. docs/patches.md describes the format byte by byte; in short, all
// little-endian:
//
//   header  "CWPATCH" 0x1A, format version (u16), map number (u16), width and
//           height in blocks (u16 each), index entries past the map's table (u32)
//   blocks  in rising entry order: X, Y (u16 each), the old object count (u16),
//           the XXH3-128 digest of the old objects' records (16 bytes), the new
//           object count (u16), the new objects' 7-byte records
//   footer  the number of blocks (u32), the XXH3-64 checksum of every byte
//           before it (u64)
//
// An index entry past the map's table is named as the block it would be were
// the table wider: X = entry number div height, Y = entry number mod height.

#include "File.h"
#include "MapSizes.h"
#include "StaIdx.h"
#include "StaticsWindow.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cryo {

inline constexpr std::uint16_t PatchFormatVersion = 1;
inline constexpr std::size_t PatchHeaderSize = 20;
inline constexpr std::size_t PatchBlockHeaderSize = 24;
inline constexpr std::size_t PatchFooterSize = 12;

// The map a patch belongs to: its number, its size, and how many whole index
// entries its index holds past the table.
struct PatchMap {
    int Map = 0;
    MapBlocks Size;
    std::uint32_t ExtraEntries = 0;

    bool operator==(const PatchMap&) const = default;
    std::size_t Entries() const
    {
        return static_cast<std::size_t>(Size.Width) * static_cast<std::size_t>(Size.Height) + ExtraEntries;
    }
};

// The map of an index loaded as map number map.
PatchMap PatchMapOf(int map, const StaIdx& table);

// "map 0 of 768 x 512 blocks", with " and 3 index entries past its table"
// where it has them, or " and no index entries past its table" where the
// map it is told apart from has some.
std::string PatchMapText(const PatchMap& map, const PatchMap& other);

// "block 100,200", or "index entry 393216" for an entry past the map's table.
std::string PatchBlockName(const PatchMap& map, std::size_t entry);

// Entry number n of the index, the table's or, past it, one of its trailing records.
TStaIdxEntry IndexEntry(const StaIdx& table, std::size_t n);
void SetIndexEntry(StaIdx& table, std::size_t n, const TStaIdxEntry& entry);

// The records of the block an entry refers to, read through the window: none
// for an empty entry. An entry the file cannot serve raises the read's error.
std::span<const unsigned char> BlockRecords(File& statics, StaticsWindow& window, const TStaIdxEntry& entry);

using BlockDigest = std::array<unsigned char, 16>;

// The XXH3-128 digest of a block's records: the low 64 bits, then the high
// 64, each little-endian.
BlockDigest DigestOfRecords(std::span<const unsigned char> records);

// Hashes the bytes of a patch file as they pass.
class PatchChecksum {
public:
    PatchChecksum();
    ~PatchChecksum();
    PatchChecksum(const PatchChecksum&) = delete;
    PatchChecksum& operator=(const PatchChecksum&) = delete;

    void Reset();
    void Update(const unsigned char* data, std::size_t size);
    std::uint64_t Value() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Appends the record of the block of entry n (its objects before and after)
// to out, as a patch file holds it.
void AppendPatchBlock(std::vector<unsigned char>& out, const PatchMap& map, std::size_t n,
    std::span<const unsigned char> oldRecords, std::span<const unsigned char> newRecords);

// Writes a patch file into a replacement of it through a buffer of bounded
// size: its header, block records in rising entry order, its footer.
class PatchWriter {
public:
    PatchWriter(ReplacementFile& out, const PatchMap& map);

    // Block records made by AppendPatchBlock, blocks of them.
    void Add(std::span<const unsigned char> records, std::uint32_t blocks);
    // Writes the footer and whatever the buffer holds.
    void Finish();

    std::uint32_t Blocks() const { return blocks_; }

private:
    void Put(const unsigned char* data, std::size_t size);
    void Drain();
    void Emit(const unsigned char* data, std::size_t size);

    ReplacementFile& out_;
    PatchMap map_;
    PatchChecksum checksum_;
    std::vector<unsigned char> buffer_;
    std::uint32_t blocks_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t started_ = 0; // bytes whose writing to the disk has begun
};

// One block of a patch, as the reader holds it until its next step.
struct PatchBlock {
    std::size_t Entry = 0;
    std::uint16_t X = 0;
    std::uint16_t Y = 0;
    std::uint16_t OldCount = 0;
    BlockDigest OldDigest{};
    std::uint16_t NewCount = 0;
    std::span<const unsigned char> NewRecords;
};

// Reads a patch file, only ever for reading, in passes from its first block to
// its footer. Opening it checks its signature and version; the first pass sums
// the bytes it reads and checks the checksum over the whole file at its end,
// so a caller decides nothing from the blocks before that pass has ended. A
// fault the first pass finds on its way (or that the caller finds, through
// ThrowIfDamaged) is reported as a damaged or cut-short file where the
// checksum says so. Every pass checks the blocks' order and sizes and, at its
// end, that the file is still the one opened.
class PatchReader {
public:
    explicit PatchReader(const std::string& path);

    const PatchMap& Map() const { return map_; }
    std::uint32_t BlockCount() const { return blockCount_; }
    const std::string& path() const { return file_.path(); }

    // The next block of this pass; false at the end of the blocks. The
    // records stay valid until the next call.
    bool Next(PatchBlock& block);
    // The next blocks of this pass, as many as lie whole in the reader's
    // buffer once the first is read, appended to blocks; false, with none, at
    // the end of the blocks. Their records are not copied: the reader's
    // buffer is handed over in bytes, whose memory the reader takes in its
    // place, so they stay valid until bytes changes.
    bool NextBatch(std::vector<PatchBlock>& blocks, std::vector<unsigned char>& bytes);
    // Starts a new pass at the first block.
    void Rewind();

    // Checks the checksum over the whole file unless a pass has: an error
    // found in the patch's blocks, or in what they name, is the file's damage
    // when the checksum fails.
    void ThrowIfDamaged();

private:
    // Makes at least size bytes from the reading position available.
    const unsigned char* Take(std::size_t size);
    Error Damaged() const;
    [[noreturn]] void Refuse(const Error& error);

    File file_;
    FileIdentity identity_;
    std::uint64_t size_ = 0;
    PatchMap map_;
    std::uint32_t blockCount_ = 0;
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0; // the reading position within the buffer
    std::size_t end_ = 0;
    std::uint64_t position_ = 0; // of the reading position in the file
    std::uint32_t blocksRead_ = 0;
    std::size_t nextEntry_ = 0; // the lowest entry the next block may have
    std::array<unsigned char, PatchFooterSize> footer_{};
    PatchChecksum checksum_;
    bool verified_ = false;
    std::uint64_t summed_ = 0; // bytes of the file the checksum has taken
    std::uint64_t fileRead_ = 0; // bytes of the file read into the buffer
};

// Whether the file at path begins as a patch file does, whatever its name;
// false for a file that cannot be read.
bool IsPatchFile(const std::string& path) noexcept;

} // namespace cryo
