#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The server's maps 0 to 5: their size in blocks of 8 x 8 tiles, the map a
// statics file belongs to, and the size and position texts of the command line.
namespace cryo {

// Decimal digits only, without sign or blanks, up to limit; nothing otherwise.
std::optional<std::uint32_t> DecimalNumber(std::string_view text, std::uint32_t limit);

constexpr int MapCount = 6;

struct MapBlocks {
    int Width = 0;
    int Height = 0;

    bool operator==(const MapBlocks&) const = default;
};

// The height in blocks of map 0..5 as the server defines it: 512, 512, 200,
// 256, 181, 512.
int MapHeightBlocks(int map);

enum class StaticsFileKind { Index, Data };

// The map number in a statics file's name, "staidx2.mul" or "statics2.mul" in
// any case, after the path's last separator; nothing for any other name.
std::optional<int> StaticsMapNumber(std::string_view path, StaticsFileKind kind);

// The map of an index and its statics file: the number in their names, 0 for
// a name that carries none. Files of two different maps are refused with an
// error that names both.
int MapOfStaticsFiles(const std::string& staIdxPath, const std::string& staticsPath);

// The size of map 0..5 from the size of its index, 12 bytes per block, X-major.
// Maps 0 and 1 are 768 x 512 blocks unless the index holds exactly 896 x 512
// records; the width of maps 2..5 is the record count divided by the height
// (at most 8,192 blocks). Bytes past the table are kept by whoever loads it.
// An index too short for one column reads as "Read beyond end of file".
MapBlocks MapSizeOfIndex(int map, std::uint64_t indexBytes);

// "WIDTHxHEIGHT" in tiles, each a multiple of 8 from 8 to 65,536, as blocks.
MapBlocks ParseMapSize(std::string_view text);

struct TilePosition {
    std::uint16_t X = 0;
    std::uint16_t Y = 0;

    bool operator==(const TilePosition&) const = default;
};

// "X,Y" in tiles, as the game's /where shows them, each 0..65,535.
TilePosition ParsePosition(std::string_view text);

} // namespace cryo
