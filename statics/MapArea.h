#pragma once

#include "MapSizes.h"

#include <cstdint>
#include <string>
#include <string_view>

// Areas of the map: a rectangle of tiles as the user gives it, and the whole
// blocks it touches, which is what an area operation works on.
namespace cryo {

// A rectangle in tiles, as /where shows positions, both corners included.
struct TileArea {
    std::uint16_t X1 = 0;
    std::uint16_t Y1 = 0;
    std::uint16_t X2 = 0; // at least X1
    std::uint16_t Y2 = 0; // at least Y1

    bool operator==(const TileArea&) const = default;
};

// "X1,Y1,X2,Y2" in tiles, each 0..65,535: any two opposite corners, in any
// order.
TileArea ParseArea(std::string_view text);

// "X1,Y1,X2,Y2", the corners as the area holds them.
std::string AreaText(const TileArea& area);

// A rectangle of whole blocks.
struct BlockArea {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;

    bool operator==(const BlockArea&) const = default;
};

// Every block that the area touches, even by one tile. An area that reaches
// outside the map is refused with an error that gives the map's size.
BlockArea BlocksTouching(const TileArea& area, MapBlocks map);

// Every tile of the blocks, the rectangle that the blocks of an area cover.
TileArea TilesOf(const BlockArea& blocks);

// "X,Y to X2,Y2": the first and the last block, in block numbers.
std::string CornersText(const BlockArea& blocks);

// Every block of the map.
BlockArea WholeMap(MapBlocks map);

} // namespace cryo
