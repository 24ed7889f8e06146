#include "MapPicture.h"

#include "Bytes.h"
#include "Error.h"
#include "File.h"
#include "StaticBlock.h"
#include "StaticsWindow.h"
#include "Terrain.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cryo {

namespace {

constexpr int BlockTiles = 8;
constexpr int TilesInBlock = BlockTiles * BlockTiles;
// Enough for any block's records, and few enough to keep a painter small.
constexpr std::size_t StaticsReadAhead = std::size_t{1} << 20;
// Areas of this many blocks and more are drawn by two threads: a window's
// tiles at 8 tiles a pixel, not its tiles at one.
constexpr std::int64_t TwoBandsFrom = 4096;
// The columns of blocks a band reads before it draws them, row by row: at
// one pixel a tile, a streamed picture row then takes runs of 384 bytes,
// which the memory takes at nearly twice the speed of runs half as long.
constexpr int GroupColumns = 16;
// The bytes between a group's records, beyond a sixteenth of them, that a
// read of the group's run of the file may pass over.
constexpr std::uint64_t RunSlack = 64 * 1024;
// The bytes the memory moves at once, which a streamed row writes whole.
constexpr std::size_t CacheLine = 64;
// Pictures of this many bytes and more are written past the caches: they do
// not fit them, and a write that goes through them first reads every line
// from memory.
constexpr std::size_t StreamFrom = std::size_t{32} << 20;

#if defined(__SSE2__)
// Copies a row of pixels into the picture, its whole cache lines past the
// caches. A line written there in part is merged in memory, which costs
// several times a line taken through the caches: the lines the row shares
// with the pixels beside it are written as usual.
void StreamRow(unsigned char* to, const unsigned char* from, std::size_t size)
{
    const std::size_t head = std::min(size, (CacheLine - reinterpret_cast<std::uintptr_t>(to) % CacheLine) % CacheLine);
    std::memcpy(to, from, head);
    std::size_t at = head;
    for (; size - at >= CacheLine; at += CacheLine)
        for (std::size_t part = 0; part < CacheLine; part += 16)
            _mm_stream_si128(reinterpret_cast<__m128i*>(to + at + part),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at + part)));
    std::memcpy(to + at, from + at, size - at);
}
#endif

// The first column of blocks whose pixels start a cache line in every row of
// the picture, or 0 when none does. Groups of columns begin at it and every
// GroupColumns after, so that a streamed row of a group holds whole lines,
// but at the band's edges.
int LineColumn(const PictureView& out, int scale)
{
    const std::size_t blockBytes = std::size_t(BlockTiles / scale) * 3;
    const auto start = reinterpret_cast<std::uintptr_t>(out.Pixels);
    if (out.Stride % CacheLine != 0)
        return 0;
    for (int column = 0; column < GroupColumns; ++column)
        if ((start + column * blockBytes) % CacheLine == 0)
            return column;
    return 0;
}

// Where the group of columns that begins at group ends.
int GroupEnd(int group, int last, int lineColumn)
{
    const int past = ((group - lineColumn) % GroupColumns + GroupColumns) % GroupColumns;
    return std::min(last, group + GroupColumns - past);
}

void PutPixel(unsigned char* out, PackedRgb colour)
{
    out[0] = static_cast<unsigned char>(colour >> 16);
    out[1] = static_cast<unsigned char>(colour >> 8);
    out[2] = static_cast<unsigned char>(colour);
}

// A pixel as four bytes in memory: red, green, blue and a spare one, so that
// one store writes it. The spare byte falls on the next pixel of the block,
// written after it; the last pixel of a block's row is written as three
// bytes, as the next block may be another thread's.
using PixelWord = std::uint32_t;

PixelWord WordOf(PackedRgb colour)
{
    const std::uint32_t r = (colour >> 16) & 0xFF;
    const std::uint32_t g = (colour >> 8) & 0xFF;
    const std::uint32_t b = colour & 0xFF;
    if constexpr (std::endian::native == std::endian::little)
        return r | g << 8 | b << 16;
    else
        return r << 24 | g << 16 | b << 8;
}

using BlockWords = std::array<PixelWord, TilesInBlock>;

// A block's static records as they lie in the file.
struct StaticItems {
    const unsigned char* Bytes = nullptr;
    int Count = 0;
};

// Calls put(tile, record, highest) for every object on its block, tile
// being y * 8 + x in the block, highest whether it is, so far, the highest of
// its tile (the greatest z; on a tie the later). Objects off their block are
// left out. The choice is left to the caller as a value, not a branch: the
// heights of a block's objects follow no pattern a branch could learn.
template <typename Put> void ForStatics(const StaticItems& items, Put put)
{
    std::array<int, TilesInBlock> highest;
    highest.fill(INT_MIN);
    const unsigned char* item = items.Bytes;
    for (int i = 0; i < items.Count; ++i, item += StaticItemSize) {
        // Both offsets at once: x in the low byte, y in the high one.
        const unsigned offsets = le::GetU16(item + 2);
        if ((offsets & 0xF8F8) != 0) // either is 8 or more
            continue;
        const unsigned tile = (offsets >> 8) * BlockTiles + (offsets & 0xFF);
        const int z = static_cast<std::int8_t>(item[4]);
        const bool isHighest = z >= highest[tile];
        highest[tile] = isHighest ? z : highest[tile];
        put(tile, item, isHighest);
    }
}

// Writes a row of a block at one pixel a tile.
template <typename WordOfColumn> void PutRow(unsigned char* pixels, WordOfColumn word)
{
    for (int column = 0; column < BlockTiles - 1; ++column)
        std::memcpy(pixels + column * 3, &word(column), sizeof(PixelWord));
    std::memcpy(pixels + (BlockTiles - 1) * 3, &word(BlockTiles - 1), 3);
}

// The colour of a terrain cell's land tile: its number is taken within the land's table.
const PixelWord& LandWord(const unsigned char* cell, const PixelWord* land)
{
    return land[le::GetU16(cell) & (RadarColours::LandTiles - 1)];
}

void LandWords(const unsigned char* block, const PixelWord* land, BlockWords& words)
{
    const unsigned char* cell = block + TerrainHeaderSize;
    for (std::size_t t = 0; t < TilesInBlock; ++t, cell += TerrainCellSize)
        words[t] = LandWord(cell, land);
}

void HighestStaticWords(const StaticItems& items, const PixelWord* statics, BlockWords& words)
{
    ForStatics(items, [&](unsigned tile, const unsigned char* item, bool highest) {
        const PixelWord keep = PixelWord{highest} - 1;
        words[tile] = (statics[le::GetU16(item)] & ~keep) | (words[tile] & keep);
    });
}

// Writes a block at one pixel a tile straight into rows of pixels that end
// in a spare byte or more: each tile's colour with one four-byte store,
// whose fourth byte the next pixel's store overwrites (the last in a row
// lands on the next block's first pixel, drawn after it, or on the spare
// bytes), then the colour of each tile's highest static over it.
void PutBlockInRows(const unsigned char* block, const StaticItems& items, const PixelWord* colours,
    unsigned char* pixels, std::size_t stride)
{
    const unsigned char* cell = block + TerrainHeaderSize;
    unsigned char* row = pixels;
    for (int y = 0; y < BlockTiles; ++y, row += stride)
        for (int x = 0; x < BlockTiles; ++x, cell += TerrainCellSize)
            std::memcpy(row + x * 3, &LandWord(cell, colours), sizeof(PixelWord));
    const PixelWord* statics = colours + RadarColours::LandTiles;
    unsigned char aside[3];
    ForStatics(items, [&](unsigned tile, const unsigned char* item, bool highest) {
        // Every object is written, those below the highest so far aside:
        // the choice is an index, not a branch.
        unsigned char* const places[2] = {aside, pixels + tile / BlockTiles * stride + tile % BlockTiles * 3};
        unsigned char* at = places[highest];
        const PixelWord word = statics[le::GetU16(item)];
        std::memcpy(at, &word, 3);
    });
}

// The picture of the statics alone: StaticsShade where a tile has objects.
void ShadeStatics(const StaticItems& items, BlockWords& words)
{
    words.fill(WordOf(GroundColour));
    std::array<int, TilesInBlock> objects{};
    std::array<int, TilesInBlock> highest{};
    ForStatics(items, [&](unsigned tile, const unsigned char* item, bool isHighest) {
        highest[tile] = isHighest ? static_cast<std::int8_t>(item[4]) : highest[tile];
        ++objects[tile];
    });
    for (std::size_t t = 0; t < TilesInBlock; ++t)
        if (objects[t] > 0)
            words[t] = WordOf(StaticsShade(objects[t], highest[t]));
}

// Writes a block's 8 x 8 tiles from pixels on, rows stride bytes apart: one
// pixel a tile, or the rounded mean of the scale x scale tiles of each pixel.
void PutBlock(const BlockWords& words, int scale, unsigned char* pixels, std::size_t stride)
{
    if (scale == 1) {
        for (int row = 0; row < BlockTiles; ++row, pixels += stride)
            PutRow(pixels, [&](int column) -> const PixelWord& {
                return words[static_cast<std::size_t>(row * BlockTiles + column)];
            });
        return;
    }
    const int side = BlockTiles / scale;
    const unsigned tiles = static_cast<unsigned>(scale * scale);
    for (int row = 0; row < side; ++row, pixels += stride) {
        for (int column = 0; column < side; ++column) {
            unsigned sum[3] = {};
            for (int dy = 0; dy < scale; ++dy) {
                for (int dx = 0; dx < scale; ++dx) {
                    unsigned char tile[sizeof(PixelWord)];
                    std::memcpy(tile,
                        &words[static_cast<std::size_t>((row * scale + dy) * BlockTiles + column * scale + dx)],
                        sizeof tile);
                    for (int channel = 0; channel < 3; ++channel)
                        sum[channel] += tile[channel];
                }
            }
            for (int channel = 0; channel < 3; ++channel)
                pixels[column * 3 + channel] = static_cast<unsigned char>((sum[channel] + tiles / 2) / tiles);
        }
    }
}

// Whether an entry names objects to read: it is not empty and holds a whole record.
bool HoldsRecords(const TStaIdxEntry& entry)
{
    return entry.Offset != -1 && entry.Length >= StaticItemSize;
}

// The block's records, read through the window, or an error that names the
// file and the block.
StaticItems ReadStatics(StaticsWindow& window, const std::string& path, const TStaIdxEntry& entry, int x, int y)
{
    StaticItems items{nullptr, 0};
    // Every object is drawn, as the client shows them all, however many a block holds.
    NamingBlock(path, x, y, [&] {
        const int count = EntryRecordCount(entry);
        items
            = {window.Read(static_cast<std::uint32_t>(entry.Offset), static_cast<std::size_t>(count) * StaticItemSize),
                count};
    });
    return items;
}

unsigned char Blend(unsigned char a, unsigned char b)
{
    return static_cast<unsigned char>((a + b + 1) / 2);
}

} // namespace

bool ValidScale(int scale)
{
    return scale == 1 || scale == 2 || scale == 4 || scale == 8;
}

int PictureWidth(const BlockArea& area, int scale)
{
    return area.Width * BlockTiles / scale;
}

int PictureHeight(const BlockArea& area, int scale)
{
    return area.Height * BlockTiles / scale;
}

PackedRgb StaticsShade(int objects, int highestZ)
{
    const int value = std::clamp(128 + 2 * highestZ, 64, 255);
    const int more = std::min(objects - 1, 4);
    return static_cast<PackedRgb>(value) << 16 | static_cast<PackedRgb>(std::max(value - 16 * more, 0)) << 8
        | static_cast<PackedRgb>(std::max(value - 32 * more, 0));
}

struct MapPainter::Band {
    Band(const std::string& staticsPath, const TerrainFile* terrain)
        : Statics(File::OpenExisting(staticsPath))
        , Window(Statics, StaticsReadAhead)
    {
        if (terrain != nullptr)
            Terrain.emplace(terrain->Reopen());
    }

    File Statics;
    StaticsWindow Window;
    std::optional<TerrainFile> Terrain;
    // A group of columns as read: their terrain blocks column after column,
    // their static records, and where each block's records lie among them.
    std::vector<unsigned char> Land;
    std::vector<unsigned char> Records;
    std::vector<std::pair<std::size_t, int>> Places;
    std::vector<unsigned char> Pixels; // a row of the group's blocks, drawn
};

MapPainter::MapPainter(const StaIdx& table, const std::string& staticsPath, const ClientMap* client)
    : table_(table)
    , client_(client)
    , staticsPath_(staticsPath)
{
    bands_.push_back(std::make_unique<Band>(staticsPath, nullptr));
    if (client_ != nullptr) {
        bands_[0]->Terrain.emplace(TerrainFile::Open(client_->TerrainPath, client_->Map));
        const std::uint64_t mapBlocks = std::uint64_t(table.Width()) * std::uint64_t(table.Height());
        if (bands_[0]->Terrain->BlockCount() < mapBlocks) {
            Error error("The terrain holds " + std::to_string(bands_[0]->Terrain->BlockCount())
                + " blocks, fewer than the " + std::to_string(mapBlocks) + " of the map of "
                + std::to_string(table.Width() * 8) + " x " + std::to_string(table.Height() * 8) + " tiles");
            error.SetFile(client_->TerrainPath);
            throw error;
        }
        words_.resize(RadarColours::Entries);
        for (std::size_t i = 0; i < RadarColours::LandTiles; ++i)
            words_[i] = WordOf(client_->Colours.Land(static_cast<std::uint16_t>(i)));
        for (std::size_t i = RadarColours::LandTiles; i < RadarColours::Entries; ++i)
            words_[i] = WordOf(client_->Colours.Static(static_cast<std::uint16_t>(i - RadarColours::LandTiles)));
    }
}

MapPainter::~MapPainter() = default;

std::unique_ptr<MapPainter::Band> MapPainter::OpenBand() const
{
    const std::optional<TerrainFile>& terrain = bands_[0]->Terrain;
    return std::make_unique<Band>(staticsPath_, terrain ? &*terrain : nullptr);
}

void MapPainter::Draw(const BlockArea& area, int scale, const PictureView& out, Reporter* reporter)
{
    if (!ValidScale(scale) || area.X < 0 || area.Y < 0 || area.Width < 0 || area.Height < 0
        || area.X + area.Width > table_.Width() || area.Y + area.Height > table_.Height()
        || out.Width != PictureWidth(area, scale) || out.Height != PictureHeight(area, scale))
        throw RangeError();
    columnsDone_ = 0;
    std::atomic<bool> stop{false};
    const bool twoBands = area.Width >= 2 && std::int64_t{area.Width} * area.Height >= TwoBandsFrom
        && std::thread::hardware_concurrency() != 1;
    if (!twoBands) {
        DrawBand(*bands_[0], area, 0, area.Width, scale, out, reporter, stop);
        return;
    }
    if (bands_.size() < 2)
        bands_.push_back(OpenBand());
    // The left band on this thread, the right one beside it; an error on the
    // left comes first in the files' order and stops the right. They meet at
    // a group's edge, so that no cache line is streamed by both.
    const int lineColumn = LineColumn(out, scale);
    const int middle = std::clamp(
        (area.Width / 2 - lineColumn + GroupColumns / 2) / GroupColumns * GroupColumns + lineColumn, 1, area.Width - 1);
    std::exception_ptr rightFailure;
    std::thread right;
    try {
        right = std::thread([&] {
            try {
                DrawBand(*bands_[1], area, middle, area.Width, scale, out, nullptr, stop);
            } catch (...) {
                rightFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No second thread to be had: the whole area on this one.
        DrawBand(*bands_[0], area, 0, area.Width, scale, out, reporter, stop);
        return;
    }
    try {
        DrawBand(*bands_[0], area, 0, middle, scale, out, reporter, stop);
    } catch (...) {
        stop = true;
        right.join();
        throw;
    }
    right.join();
    if (rightFailure)
        std::rethrow_exception(rightFailure);
    if (reporter != nullptr)
        reporter->SetProgress(100);
}

void MapPainter::DrawBand(Band& band, const BlockArea& area, int first, int last, int scale, const PictureView& out,
    Reporter* reporter, const std::atomic<bool>& stop)
{
    // The files hold the map column after column. A group of columns is read
    // in that order, then drawn row of blocks after row of blocks, so that
    // each row of the picture is written in runs, not a few bytes at a time.
    // A picture too large for the caches is drawn a row of the group's
    // blocks at a time into a buffer they hold, then streamed into place a
    // row of pixels at a time; a smaller one is drawn in place.
    const int side = BlockTiles / scale;
    const std::size_t height = static_cast<std::size_t>(area.Height);
#if defined(__SSE2__)
    const bool stream = out.Stride * static_cast<std::size_t>(out.Height) >= StreamFrom;
#else
    const bool stream = false;
#endif
    const int lineColumn = LineColumn(out, scale);
    for (int group = first, end = 0; group < last && !stop; group = end) {
        end = GroupEnd(group, last, lineColumn);
        const int columns = end - group;
        ReadGroup(band, area, group, columns);
        const std::size_t rowBytes = std::size_t(columns * side) * 3;
        // The buffer's rows end in a spare word, for the stores of whole words.
        const std::size_t bufferStride = rowBytes + sizeof(PixelWord);
        band.Pixels.resize(stream ? std::size_t(side) * bufferStride : 0);
        for (std::size_t row = 0; row < height; ++row) {
            unsigned char* pixels = out.Pixels + row * std::size_t(side) * out.Stride + std::size_t(group * side) * 3;
            unsigned char* drawn = stream ? band.Pixels.data() : pixels;
            for (int column = 0; column < columns; ++column)
                DrawBlock(band, std::size_t(column) * height + row, scale, drawn + std::size_t(column * side) * 3,
                    stream ? bufferStride : out.Stride, stream);
#if defined(__SSE2__)
            for (int line = 0; stream && line < side; ++line, pixels += out.Stride)
                StreamRow(pixels, drawn + std::size_t(line) * bufferStride, rowBytes);
#endif
        }
        columnsDone_ += columns;
        if (reporter != nullptr)
            reporter->SetProgress(columnsDone_ * 100 / area.Width);
    }
#if defined(__SSE2__)
    if (stream)
        _mm_sfence(); // the streamed rows are in the picture before it is read
#endif
}

bool MapPainter::ReadGroupRun(Band& band, const BlockArea& area, int group, int columns) const
{
    const std::size_t height = static_cast<std::size_t>(area.Height);
    std::uint64_t first = UINT64_MAX;
    std::uint64_t end = 0;
    std::uint64_t bytes = 0;
    for (int column = 0; column < columns; ++column) {
        const std::size_t number = table_.Number(area.X + group + column, area.Y);
        for (std::size_t row = 0; row < height; ++row) {
            const TStaIdxEntry& entry = table_.Entries[number + row];
            if (!HoldsRecords(entry))
                continue;
            if (entry.Length / StaticItemSize > MaxBlockItems)
                return false;
            const auto offset = static_cast<std::uint32_t>(entry.Offset);
            const auto size = static_cast<std::uint64_t>(entry.Length / StaticItemSize * StaticItemSize);
            first = std::min<std::uint64_t>(first, offset);
            end = std::max(end, offset + size);
            bytes += size;
        }
    }
    if (bytes == 0)
        return true;
    if (end - first > bytes + bytes / 16 + RunSlack)
        return false;
    try {
        // Entries past the file's end go block by block, which names the
        // first, before any memory is taken for what they claim.
        if (end > band.Statics.Size())
            return false;
        band.Records.resize(end - first);
        band.Statics.Seek(static_cast<std::int64_t>(first));
        if (band.Statics.ReadSome(band.Records.data(), band.Records.size()) < band.Records.size())
            return false;
    } catch (const Error&) {
        return false;
    }
    for (int column = 0; column < columns; ++column) {
        const std::size_t number = table_.Number(area.X + group + column, area.Y);
        for (std::size_t row = 0; row < height; ++row) {
            const TStaIdxEntry& entry = table_.Entries[number + row];
            if (HoldsRecords(entry))
                band.Places[std::size_t(column) * height + row]
                    = {static_cast<std::uint32_t>(entry.Offset) - first, entry.Length / StaticItemSize};
        }
    }
    return true;
}

void MapPainter::ReadGroup(Band& band, const BlockArea& area, int group, int columns) const
{
    const std::size_t height = static_cast<std::size_t>(area.Height);
    if (band.Terrain)
        band.Land.resize(std::size_t(columns) * height * TerrainBlockSize);
    band.Places.assign(std::size_t(columns) * height, {0, 0});
    // Most groups' records lie in one run of the file, read into place at
    // once; the others, or a run the file fails, block by block through the
    // window, which names the block. The buffer keeps its size from group to
    // group, not to be filled anew for each.
    const bool run = ReadGroupRun(band, area, group, columns);
    if (!run)
        band.Records.clear();
    for (int column = 0; column < columns; ++column) {
        const int x = area.X + group + column;
        const std::size_t number = table_.Number(x, area.Y);
        if (band.Terrain)
            band.Terrain->CopyBlocks(
                number, height, band.Land.data() + std::size_t(column) * height * TerrainBlockSize);
        for (std::size_t row = 0; row < height && !run; ++row) {
            const TStaIdxEntry& entry = table_.Entries[number + row];
            if (!HoldsRecords(entry))
                continue;
            const StaticItems items = ReadStatics(band.Window, staticsPath_, entry, x, area.Y + static_cast<int>(row));
            band.Places[std::size_t(column) * height + row] = {band.Records.size(), items.Count};
            band.Records.insert(
                band.Records.end(), items.Bytes, items.Bytes + std::size_t(items.Count) * StaticItemSize);
        }
    }
}

void MapPainter::DrawBlock(
    Band& band, std::size_t block, int scale, unsigned char* pixels, std::size_t stride, bool inRows) const
{
    const StaticItems items{band.Records.data() + band.Places[block].first, band.Places[block].second};
    if (inRows && scale == 1 && band.Terrain) {
        PutBlockInRows(band.Land.data() + block * TerrainBlockSize, items, words_.data(), pixels, stride);
        return;
    }
    BlockWords words;
    if (!band.Terrain) {
        ShadeStatics(items, words);
        PutBlock(words, scale, pixels, stride);
        return;
    }
    LandWords(band.Land.data() + block * TerrainBlockSize, words_.data(), words);
    HighestStaticWords(items, words_.data() + RadarColours::LandTiles, words);
    PutBlock(words, scale, pixels, stride);
}

void DrawMarks(const std::vector<TilePosition>& tiles, const BlockArea& area, int scale, const PictureView& out)
{
    const int left = area.X * BlockTiles;
    const int top = area.Y * BlockTiles;
    for (const TilePosition& tile : tiles) {
        const int x = tile.X - left;
        const int y = tile.Y - top;
        if (x < 0 || y < 0 || x >= area.Width * BlockTiles || y >= area.Height * BlockTiles)
            continue;
        PutPixel(
            out.Pixels + static_cast<std::size_t>(y / scale) * out.Stride + static_cast<std::size_t>(x / scale) * 3,
            MarkColour);
    }
}

void FillPicture(const PictureView& out, PackedRgb colour)
{
    for (int y = 0; y < out.Height; ++y)
        for (int x = 0; x < out.Width; ++x)
            PutPixel(out.Pixels + static_cast<std::size_t>(y) * out.Stride + static_cast<std::size_t>(x) * 3, colour);
}

void DrawBlockGrid(const BlockArea& area, int scale, const PictureView& out)
{
    const int side = BlockTiles / scale;
    const unsigned char grid[3] = {static_cast<unsigned char>(GridColour >> 16),
        static_cast<unsigned char>(GridColour >> 8), static_cast<unsigned char>(GridColour)};
    for (int y = 0; y < PictureHeight(area, scale); ++y) {
        unsigned char* pixel = out.Pixels + static_cast<std::size_t>(y) * out.Stride;
        for (int x = 0; x < PictureWidth(area, scale); ++x, pixel += 3) {
            if (x % side != 0 && y % side != 0)
                continue;
            for (int channel = 0; channel < 3; ++channel)
                pixel[channel] = Blend(pixel[channel], grid[channel]);
        }
    }
}

} // namespace cryo
