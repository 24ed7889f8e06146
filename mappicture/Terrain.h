#pragma once

#include "File.h"
#include "UopFile.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cryo {

// A terrain block: a 4-byte header, then 64 cells row by row, each a land
// tile number (16-bit) and an altitude (8-bit).
constexpr std::size_t TerrainBlockSize = 196;
constexpr std::size_t TerrainCellSize = 3;
constexpr std::size_t TerrainHeaderSize = 4;

// The terrain of a map, blocks numbered as in the statics index (block x times
// the map's height in blocks plus block y): map{n}.mul, or the same blocks in
// chunks of 4,096 inside the container map{n}LegacyMUL.uop (entries
// "build/map{n}legacymul/00000000.dat" on). The file stays open while this lives.
class TerrainFile {
public:
    // A path ending in ".uop" (in any case) is read as a container of map n.
    static TerrainFile Open(const std::string& path, int map);

    // The same terrain through a handle of its own, for another thread: the
    // file opened again, the container's list of chunks taken from this one.
    TerrainFile Reopen() const;

    // The number of blocks from block 0 on that the file holds.
    std::uint64_t BlockCount() const { return blockCount_; }

    // Copies count blocks from block first on, TerrainBlockSize bytes each,
    // to out. Blocks the file does not hold are "Read beyond end of file".
    void CopyBlocks(std::uint64_t first, std::size_t count, unsigned char* out);

    const std::string& Path() const { return file_.path(); }

private:
    static constexpr std::uint64_t ChunkBlocks = 4096;

    explicit TerrainFile(File file);
    // The decompressed chunk, read unless it is the one at hand.
    const std::vector<unsigned char>& Chunk(std::uint64_t chunk);

    File file_;
    std::uint64_t blockCount_ = 0;
    // For a container: its chunks' entries in order, and the one last read.
    bool container_ = false;
    std::vector<UopEntry> chunks_;
    int map_ = 0;
    std::vector<unsigned char> chunk_;
    std::optional<std::uint64_t> chunkNumber_;
};

// "build/map{n}legacymul/{chunk:08}.dat": the entry of a container that holds
// the chunk of blocks from chunk x 4,096 on.
std::string TerrainChunkName(int map, std::uint64_t chunk);

} // namespace cryo
