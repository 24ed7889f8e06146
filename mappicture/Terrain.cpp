#include "Terrain.h"

#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cryo {

namespace {

// The bytes an entry's data holds once decompressed.
std::uint64_t DataLength(const UopEntry& entry)
{
    return entry.Compression == 0 ? entry.CompressedLength : entry.DecompressedLength;
}

} // namespace

std::string TerrainChunkName(int map, std::uint64_t chunk)
{
    char number[24];
    std::snprintf(number, sizeof number, "%08llu", static_cast<unsigned long long>(chunk));
    return "build/map" + std::to_string(map) + "legacymul/" + number + ".dat";
}

TerrainFile::TerrainFile(File file)
    : file_(std::move(file))
{
}

TerrainFile TerrainFile::Open(const std::string& path, int map)
{
    TerrainFile terrain(File::OpenForReading(path));
    if (!LowerCase(path).ends_with(".uop")) {
        terrain.blockCount_ = terrain.file_.Size() / TerrainBlockSize;
        return terrain;
    }
    terrain.container_ = true;
    const UopDirectory directory = UopDirectory::Read(terrain.file_);
    // The blocks run on as long as chunks follow each other whole.
    for (std::uint64_t i = 0;; ++i) {
        const UopEntry* entry = directory.Find(TerrainChunkName(map, i));
        if (entry == nullptr)
            break;
        terrain.chunks_.push_back(*entry);
        const std::uint64_t blocks = std::min(DataLength(*entry) / TerrainBlockSize, ChunkBlocks);
        terrain.blockCount_ = i * ChunkBlocks + blocks;
        if (blocks < ChunkBlocks)
            break;
    }
    terrain.map_ = map;
    return terrain;
}

TerrainFile TerrainFile::Reopen() const
{
    TerrainFile terrain(File::OpenForReading(file_.path()));
    terrain.blockCount_ = blockCount_;
    terrain.container_ = container_;
    terrain.chunks_ = chunks_;
    terrain.map_ = map_;
    return terrain;
}

const std::vector<unsigned char>& TerrainFile::Chunk(std::uint64_t chunk)
{
    if (chunkNumber_ != chunk) {
        chunkNumber_.reset();
        ReadUopEntry(file_, chunks_[chunk], TerrainChunkName(map_, chunk), chunk_);
        chunkNumber_ = chunk;
    }
    return chunk_;
}

void TerrainFile::CopyBlocks(std::uint64_t first, std::size_t count, unsigned char* out)
{
    if (first > blockCount_ || blockCount_ - first < count)
        throw file_.ReadBeyondEnd();
    if (!container_) {
        file_.Seek(static_cast<std::int64_t>(first * TerrainBlockSize));
        if (file_.ReadSome(out, count * TerrainBlockSize) < count * TerrainBlockSize)
            throw file_.ReadBeyondEnd();
        return;
    }
    for (std::size_t done = 0; done < count;) {
        const std::uint64_t block = first + done;
        const std::uint64_t chunk = block / ChunkBlocks;
        const std::size_t inChunk
            = std::min<std::size_t>(count - done, static_cast<std::size_t>(ChunkBlocks - block % ChunkBlocks));
        const std::uint64_t from = (block % ChunkBlocks) * TerrainBlockSize;
        // The blocks of an entry stored as it is are read straight into
        // place, not through a copy of the whole entry.
        if (chunks_[chunk].Compression == 0 && chunkNumber_ != chunk)
            ReadUopPart(file_, chunks_[chunk], from, out + done * TerrainBlockSize, inChunk * TerrainBlockSize);
        else
            std::memcpy(out + done * TerrainBlockSize, Chunk(chunk).data() + from, inChunk * TerrainBlockSize);
        done += inChunk;
    }
}

} // namespace cryo
