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
#include <cstring>

namespace cryo {

namespace {

constexpr int BlockTiles = 8;
constexpr int TilesInBlock = BlockTiles * BlockTiles;
// Enough for any block's records, and few enough to keep a painter small.
constexpr std::size_t StaticsReadAhead = std::size_t{1} << 20;

void PutPixel(unsigned char* out, PackedRgb colour)
{
    out[0] = static_cast<unsigned char>(colour >> 16);
    out[1] = static_cast<unsigned char>(colour >> 8);
    out[2] = static_cast<unsigned char>(colour);
}

// A pixel as four bytes in memory: red, green, blue and a spare one, so that
// one store writes it. The spare byte falls on the next pixel, written after
// it, or past the row's end, where the strip keeps a spare byte.
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

// Writes a block's 8 x 8 tiles at the pixel (x, y) of the strip: one pixel a
// tile, or the rounded mean of the scale x scale tiles of each pixel.
void PutBlock(const BlockWords& words, int scale, const PictureView& strip, int x, int y)
{
    if (scale == 1) {
        for (int row = 0; row < BlockTiles; ++row) {
            unsigned char* pixel
                = strip.Pixels + static_cast<std::size_t>(y + row) * strip.Stride + static_cast<std::size_t>(x) * 3;
            for (int column = 0; column < BlockTiles; ++column, pixel += 3)
                std::memcpy(pixel, &words[static_cast<std::size_t>(row * BlockTiles + column)], sizeof(PixelWord));
        }
        return;
    }
    const int side = BlockTiles / scale;
    const unsigned tiles = static_cast<unsigned>(scale * scale);
    for (int row = 0; row < side; ++row) {
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
            unsigned char mean[sizeof(PixelWord)] = {};
            for (int channel = 0; channel < 3; ++channel)
                mean[channel] = static_cast<unsigned char>((sum[channel] + tiles / 2) / tiles);
            std::memcpy(strip.Pixels + static_cast<std::size_t>(y + row) * strip.Stride
                    + static_cast<std::size_t>(x + column) * 3,
                mean, sizeof mean);
        }
    }
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

MapPainter::MapPainter(const StaIdx& table, const std::string& staticsPath, const ClientMap* client)
    : table_(table)
    , client_(client)
    , staticsPath_(staticsPath)
{
    if (client_ != nullptr) {
        terrain_ = std::make_unique<TerrainFile>(TerrainFile::Open(client_->TerrainPath, client_->Map));
        const std::uint64_t mapBlocks = std::uint64_t(table.Width()) * std::uint64_t(table.Height());
        if (terrain_->BlockCount() < mapBlocks) {
            Error error("The terrain holds " + std::to_string(terrain_->BlockCount()) + " blocks, fewer than the "
                + std::to_string(mapBlocks) + " of the map of " + std::to_string(table.Width() * 8) + " x "
                + std::to_string(table.Height() * 8) + " tiles");
            error.SetFile(client_->TerrainPath);
            throw error;
        }
    }
    if (client_ != nullptr) {
        words_.resize(RadarColours::Entries);
        for (std::size_t i = 0; i < RadarColours::LandTiles; ++i)
            words_[i] = WordOf(client_->Colours.Land(static_cast<std::uint16_t>(i)));
        for (std::size_t i = RadarColours::LandTiles; i < RadarColours::Entries; ++i)
            words_[i] = WordOf(client_->Colours.Static(static_cast<std::uint16_t>(i - RadarColours::LandTiles)));
    }
    statics_ = std::make_unique<File>(File::OpenExisting(staticsPath));
    window_ = std::make_unique<StaticsWindow>(*statics_, StaticsReadAhead);
}

MapPainter::~MapPainter() = default;

void MapPainter::Draw(const BlockArea& area, int scale, const PictureView& out, Reporter* reporter)
{
    if (!ValidScale(scale) || area.X < 0 || area.Y < 0 || area.Width < 0 || area.Height < 0
        || area.X + area.Width > table_.Width() || area.Y + area.Height > table_.Height()
        || out.Width != PictureWidth(area, scale) || out.Height != PictureHeight(area, scale))
        throw RangeError();
    // The files are read a column of blocks at a time. Written straight into
    // a wide picture, every row of a block would touch a page of its own; a
    // strip of columns in a buffer of their own keeps those pages at hand, and
    // is then copied row by row.
    const int side = BlockTiles / scale;
    const std::size_t stripBytes = std::size_t(StripColumns * side) * 3 + 1;
    strip_.resize(stripBytes * std::size_t(out.Height));
    for (int first = 0; first < area.Width; first += StripColumns) {
        const int columns = std::min(StripColumns, area.Width - first);
        const PictureView strip{strip_.data(), columns * side, out.Height, stripBytes};
        for (int column = 0; column < columns; ++column) {
            DrawColumn(area.X + first + column, area.Y, area.Height, scale, strip, column * side);
            if (reporter != nullptr)
                reporter->SetProgress((first + column + 1) * 100 / area.Width);
        }
        for (int y = 0; y < out.Height; ++y)
            std::memcpy(out.Pixels + std::size_t(y) * out.Stride + std::size_t(first * side) * 3,
                strip.Pixels + std::size_t(y) * strip.Stride, std::size_t(strip.Width) * 3);
    }
}

void MapPainter::DrawColumn(int x, int top, int height, int scale, const PictureView& strip, int left)
{
    const int side = BlockTiles / scale;
    const PixelWord ground = WordOf(GroundColour);
    const PixelWord* landWords = words_.data();
    const PixelWord* staticWords = words_.data() + RadarColours::LandTiles;
    BlockWords words{};
    std::array<int, TilesInBlock> highest{};
    std::array<int, TilesInBlock> objects{};
    const unsigned char* terrain = nullptr;
    if (terrain_)
        terrain = terrain_->Blocks(table_.Number(x, top), static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        const int y = top + row;
        if (terrain != nullptr) {
            const unsigned char* cell = terrain + static_cast<std::size_t>(row) * TerrainBlockSize + TerrainHeaderSize;
            for (std::size_t t = 0; t < TilesInBlock; ++t, cell += TerrainCellSize)
                words[t] = landWords[le::GetU16(cell) & (RadarColours::LandTiles - 1)];
        } else {
            words.fill(ground);
        }
        const TStaIdxEntry& entry = table_.Entries[table_.Number(x, y)];
        if (entry.Offset != -1 && entry.Length >= StaticItemSize) {
            const int count = ReadStatics(entry, x, y);
            const unsigned char* items = staticsBytes_;
            objects.fill(0);
            for (int i = 0; i < count; ++i, items += StaticItemSize) {
                const unsigned xOffset = items[2];
                const unsigned yOffset = items[3];
                if (xOffset >= BlockTiles || yOffset >= BlockTiles)
                    continue;
                const std::size_t t = yOffset * BlockTiles + xOffset;
                const int z = static_cast<std::int8_t>(items[4]);
                if (objects[t]++ == 0 || z >= highest[t]) {
                    highest[t] = z;
                    if (terrain != nullptr)
                        words[t] = staticWords[le::GetU16(items)];
                }
            }
            if (terrain == nullptr)
                for (std::size_t t = 0; t < TilesInBlock; ++t)
                    if (objects[t] > 0)
                        words[t] = WordOf(StaticsShade(objects[t], highest[t]));
        }
        PutBlock(words, scale, strip, left, row * side);
    }
}

int MapPainter::ReadStatics(const TStaIdxEntry& entry, int x, int y)
{
    try {
        const int count = EntryItemCount(entry);
        staticsBytes_
            = window_->Read(static_cast<std::uint32_t>(entry.Offset), static_cast<std::size_t>(count) * StaticItemSize);
        return count;
    } catch (Error& error) {
        error.SetFile(staticsPath_);
        error.SetPlace("block " + std::to_string(x) + ", " + std::to_string(y));
        throw;
    }
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
