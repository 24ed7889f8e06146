#include "MapArea.h"

#include "Error.h"
#include "Text.h"

#include <algorithm>
#include <array>
#include <optional>

namespace cryo {

namespace {

// Decimal digits, blanks around them allowed, 0..65,535.
std::optional<std::uint16_t> Coordinate(std::string_view text)
{
    const std::optional<std::uint32_t> value = DecimalNumber(Trim(text), 65535);
    if (!value)
        return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

} // namespace

TileArea ParseArea(std::string_view text)
{
    std::array<std::uint16_t, 4> corners{};
    std::size_t start = 0;
    bool valid = true;
    for (std::size_t i = 0; i < corners.size() && valid; ++i) {
        const std::size_t comma = i + 1 < corners.size() ? text.find(',', start) : text.size();
        const auto value
            = comma == std::string_view::npos ? std::nullopt : Coordinate(text.substr(start, comma - start));
        valid = value.has_value();
        corners[i] = value.value_or(0);
        start = comma + 1;
    }
    if (!valid)
        throw Error("Invalid area '" + std::string(text)
            + "': give X1,Y1,X2,Y2 in tiles, two opposite corners, such as 1400,1600,1500,1700");
    return {std::min(corners[0], corners[2]), std::min(corners[1], corners[3]), std::max(corners[0], corners[2]),
        std::max(corners[1], corners[3])};
}

std::string AreaText(const TileArea& area)
{
    return std::to_string(area.X1) + "," + std::to_string(area.Y1) + "," + std::to_string(area.X2) + ","
        + std::to_string(area.Y2);
}

BlockArea BlocksTouching(const TileArea& area, MapBlocks map)
{
    if (area.X2 / 8 >= map.Width || area.Y2 / 8 >= map.Height)
        throw Error("The area " + AreaText(area) + " reaches outside the map of " + std::to_string(map.Width * 8)
            + " x " + std::to_string(map.Height * 8) + " tiles");
    return {area.X1 / 8, area.Y1 / 8, area.X2 / 8 - area.X1 / 8 + 1, area.Y2 / 8 - area.Y1 / 8 + 1};
}

TileArea TilesOf(const BlockArea& blocks)
{
    return {static_cast<std::uint16_t>(blocks.X * 8), static_cast<std::uint16_t>(blocks.Y * 8),
        static_cast<std::uint16_t>((blocks.X + blocks.Width) * 8 - 1),
        static_cast<std::uint16_t>((blocks.Y + blocks.Height) * 8 - 1)};
}

std::string CornersText(const BlockArea& blocks)
{
    return std::to_string(blocks.X) + "," + std::to_string(blocks.Y) + " to "
        + std::to_string(blocks.X + blocks.Width - 1) + "," + std::to_string(blocks.Y + blocks.Height - 1);
}

BlockArea WholeMap(MapBlocks map)
{
    return {0, 0, map.Width, map.Height};
}

} // namespace cryo
