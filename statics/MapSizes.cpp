#include "MapSizes.h"

#include "Error.h"
#include "Text.h"

#include <algorithm>
#include <array>
#include <string>

namespace cryo {

namespace {

constexpr std::array<int, MapCount> HeightBlocks{512, 512, 200, 256, 181, 512};
constexpr int WideMapXBlocks = 896;
constexpr int ClassicMapXBlocks = 768;
constexpr int MostBlocks = 8192; // 65,536 tiles, the range of a tile coordinate

} // namespace

std::optional<std::uint32_t> DecimalNumber(std::string_view text, std::uint32_t limit)
{
    if (text.empty() || text.size() > 6)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > limit)
        return std::nullopt;
    return value;
}

int MapHeightBlocks(int map)
{
    if (map < 0 || map >= MapCount)
        throw RangeError();
    return HeightBlocks[static_cast<std::size_t>(map)];
}

std::optional<int> StaticsMapNumber(std::string_view path, StaticsFileKind kind)
{
#ifdef _WIN32
    const std::size_t separator = path.find_last_of("/\\:");
#else
    const std::size_t separator = path.find_last_of('/');
#endif
    const std::string name = LowerCase(separator == std::string_view::npos ? path : path.substr(separator + 1));
    const std::string_view stem = kind == StaticsFileKind::Index ? "staidx" : "statics";
    if (name.size() != stem.size() + 5 || !name.starts_with(stem) || !name.ends_with(".mul"))
        return std::nullopt;
    const char digit = name[stem.size()];
    if (digit < '0' || digit >= '0' + MapCount)
        return std::nullopt;
    return digit - '0';
}

int MapOfStaticsFiles(const std::string& staIdxPath, const std::string& staticsPath)
{
    const int indexMap = StaticsMapNumber(staIdxPath, StaticsFileKind::Index).value_or(0);
    const int dataMap = StaticsMapNumber(staticsPath, StaticsFileKind::Data).value_or(0);
    if (indexMap != dataMap)
        throw Error("The index '" + staIdxPath + "' belongs to map " + std::to_string(indexMap)
            + " but the statics file '" + staticsPath + "' to map " + std::to_string(dataMap)
            + ": give the two files of one map (staidxN.mul with staticsN.mul; a name without a map number is map "
              "0)");
    return indexMap;
}

MapBlocks MapSizeOfIndex(int map, std::uint64_t indexBytes)
{
    const int height = MapHeightBlocks(map);
    const std::uint64_t records = indexBytes / 12;
    if (map <= 1) {
        const bool wide = indexBytes == std::uint64_t{WideMapXBlocks} * 512 * 12;
        return {wide ? WideMapXBlocks : ClassicMapXBlocks, height};
    }
    const std::uint64_t width = records / static_cast<std::uint64_t>(height);
    if (width == 0)
        throw FileError(FileError::Kind::ReadBeyondEnd, 0);
    return {static_cast<int>(std::min<std::uint64_t>(width, MostBlocks)), height};
}

MapBlocks ParseMapSize(std::string_view text)
{
    const std::size_t x = text.find_first_of("xX");
    if (x != std::string_view::npos) {
        const auto width = DecimalNumber(text.substr(0, x), MostBlocks * 8);
        const auto height = DecimalNumber(text.substr(x + 1), MostBlocks * 8);
        if (width && height && *width >= 8 && *height >= 8 && *width % 8 == 0 && *height % 8 == 0)
            return {static_cast<int>(*width / 8), static_cast<int>(*height / 8)};
    }
    throw Error("Invalid map size '" + std::string(text)
        + "': give WIDTHxHEIGHT in tiles, multiples of 8 up to 65536, such as 7168x4096");
}

TilePosition ParsePosition(std::string_view text)
{
    const std::size_t comma = text.find(',');
    if (comma != std::string_view::npos) {
        const auto x = DecimalNumber(Trim(text.substr(0, comma)), UINT32_MAX);
        const auto y = DecimalNumber(Trim(text.substr(comma + 1)), UINT32_MAX);
        if (x && y && (*x > 65535 || *y > 65535))
            throw Error("The position " + std::string(text)
                + " lies outside every map: no map is wider or higher "
                  "than 65536 tiles");
        if (x && y)
            return {static_cast<std::uint16_t>(*x), static_cast<std::uint16_t>(*y)};
    }
    throw Error("Invalid position '" + std::string(text) + "': give X,Y in tiles, such as 1432,1696");
}

} // namespace cryo
