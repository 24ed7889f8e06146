// The picture of the map, pixel by pixel: from the client's files, from the
// statics alone, at every scale, with marks and grid; and the render of it
// as a PNG file, read back.
#include "MapPicture.h"
#include "Error.h"
#include "PictureFiles.h"
#include "Png.h"
#include "RadarColours.h"
#include "Render.h"
#include "Terrain.h"

#include <gtest/gtest.h>

#include <stb_image.h>
#include <zlib.h>

#include <filesystem>
#include <map>
#include <random>

namespace cryo {
namespace {

using test::Bytes;
using test::ErrorLineOf;
using test::TempFolder;

constexpr PackedRgb Red = 0xFF0000, Green = 0x00FF00, Grey = 0x848484, Blue = 0x0000FF, White = 0xFFFFFF,
                    Dark = 0x080808;

// A map of 2 x 2 blocks. Land: block (0, 0) red, (0, 1) green, (1, 0) grey,
// (1, 1) red but its first tile green. Statics: over the red block one blue
// object, two heights on one tile in either order, two equal heights in
// either order, three objects off their block; a dark one at the lowest altitude
// over the grey block; six on one tile of block (1, 1).
struct SmallMap {
    TempFolder Dir;
    StaIdx Table{MapBlocks{2, 2}};
    ClientMap Client;

    SmallMap()
    {
        test::WriteBytes(Dir / "radarcol.mul",
            test::RadarBytes(
                {{1, 0x7C00}, {2, 0x03E0}, {3, 0x4210}, {0x4010, 0x001F}, {0x4011, 0x7FFF}, {0x4012, 0x0421}}));
        test::WriteBytes(Dir / "map0.mul", test::TerrainBytes(4, [](std::size_t block, int cell) {
            const std::uint16_t land[] = {1, 2, 3, 1};
            return test::Cell{block == 3 && cell == 0 ? std::uint16_t{0x4002} : land[block], 0};
        }));
        const std::vector<std::vector<TStaticItem>> blocks = {
            {{0x10, 2, 3, 0, 0}, {0x11, 5, 5, 10, 0}, {0x10, 5, 5, 5, 0}, {0x10, 6, 6, 5, 0}, {0x11, 6, 6, 10, 0},
                {0x10, 1, 1, 7, 0}, {0x11, 1, 1, 7, 0}, {0x11, 0, 7, 7, 0}, {0x10, 0, 7, 7, 0}, {0x11, 8, 0, 0, 0},
                {0x11, 0, 8, 0, 0}, {0x11, 3, 200, 0, 0}},
            {{0x12, 7, 0, -128, 0}},
            std::vector<TStaticItem>(6, {0x12, 3, 4, 127, 0}),
        };
        const std::pair<int, int> places[] = {{0, 0}, {1, 0}, {1, 1}};
        Bytes statics;
        for (TStaIdxEntry& entry : Table.Entries)
            entry = {-1, 0, 0};
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            Table.At(places[i].first, places[i].second)
                = {static_cast<std::int32_t>(statics.size()), static_cast<std::int32_t>(blocks[i].size() * 7), 0};
            const Bytes items = test::ItemBytes(blocks[i]);
            statics.insert(statics.end(), items.begin(), items.end());
        }
        test::WriteBytes(Dir / "Statics0.mul", statics);
        test::WriteBytes(Dir / "StaIdx0.mul", test::IndexBytes(Table));
        Client = {Dir / "map0.mul", 0, RadarColours::Read(Dir / "radarcol.mul")};
    }
};

// The picture of an area as colours, row by row, drawn into memory whose rows
// are wider than the picture; the bytes beside it must stay as they were.
std::vector<PackedRgb> Draw(const SmallMap& map, const ClientMap* client, const BlockArea& area, int scale)
{
    const int width = PictureWidth(area, scale);
    const int height = PictureHeight(area, scale);
    const std::size_t stride = std::size_t(width) * 3 + 5;
    std::vector<unsigned char> memory(stride * std::size_t(height), 0xAA);
    MapPainter(map.Table, map.Dir / "Statics0.mul", client).Draw(area, scale, {memory.data(), width, height, stride});
    std::vector<PackedRgb> colours;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = &memory[std::size_t(y) * stride];
        for (int x = 0; x < width; ++x)
            colours.push_back(PackedRgb(row[x * 3]) << 16 | PackedRgb(row[x * 3 + 1]) << 8 | row[x * 3 + 2]);
        EXPECT_EQ(Bytes(row + width * 3, row + stride), Bytes(5, 0xAA));
    }
    return colours;
}

// A picture of 16 x 16 tiles: the ground everywhere, with the tiles given.
std::vector<PackedRgb> Picture(
    const std::function<PackedRgb(int, int)>& ground, const std::map<std::pair<int, int>, PackedRgb>& tiles)
{
    std::vector<PackedRgb> colours;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            colours.push_back(tiles.count({x, y}) ? tiles.at({x, y}) : ground(x, y));
    return colours;
}

PackedRgb Land(int x, int y)
{
    return x < 8 ? (y < 8 ? Red : Green) : (y < 8 ? Grey : Red);
}

const std::vector<PackedRgb> ClientPicture = Picture(Land,
    {{{2, 3}, Blue}, {{5, 5}, White}, {{6, 6}, White}, {{1, 1}, White}, {{0, 7}, Blue}, {{15, 0}, Dark},
        {{8, 8}, Green}, {{11, 12}, Dark}});

TEST(MapPicture, EachTileHasTheColourOfItsHighestStaticOrOfItsLand)
{
    const SmallMap map;
    EXPECT_EQ(Draw(map, &map.Client, WholeMap({2, 2}), 1), ClientPicture);
    // Each pixel the rounded mean of its tiles.
    const std::vector<PackedRgb> half = Draw(map, &map.Client, WholeMap({2, 2}), 2);
    ASSERT_EQ(half.size(), 64u);
    EXPECT_EQ(half[0], 0xFF4040u); // three red tiles and a white one
    EXPECT_EQ(half[1 * 8 + 1], 0xBF0040u); // three red and a blue
    EXPECT_EQ(half[7], 0x656565u); // three grey and a dark
    EXPECT_EQ(
        Draw(map, &map.Client, WholeMap({2, 2}), 8), (std::vector<PackedRgb>{0xF70C14, 0x828282, 0x00FF00, 0xF70400}));
    // One column of blocks, or one block, is that part of the whole picture.
    std::vector<PackedRgb> right;
    for (int y = 0; y < 16; ++y)
        right.insert(right.end(), ClientPicture.begin() + y * 16 + 8, ClientPicture.begin() + y * 16 + 16);
    EXPECT_EQ(Draw(map, &map.Client, {1, 0, 1, 2}, 1), right);
    EXPECT_EQ(Draw(map, &map.Client, {1, 1, 1, 1}, 1), std::vector<PackedRgb>(right.begin() + 64, right.end()));
}

TEST(MapPicture, WithoutTheClientsFilesTheStaticsAreShadedOnTheGround)
{
    const SmallMap map;
    const PackedRgb oneAtZero = 0x808080, twoUpTo10 = 0x948474, twoAt7 = 0x8E7E6E, lowest = 0x404040,
                    sixAt127 = 0xFFBF7F;
    EXPECT_EQ(Draw(map, nullptr, WholeMap({2, 2}), 1),
        Picture([](int, int) { return GroundColour; },
            {{{2, 3}, oneAtZero}, {{5, 5}, twoUpTo10}, {{6, 6}, twoUpTo10}, {{1, 1}, twoAt7}, {{0, 7}, twoAt7},
                {{15, 0}, lowest}, {{11, 12}, sixAt127}}));
    EXPECT_EQ(GroundColour, 0x303438u);
    EXPECT_EQ(StaticsShade(1, 0), oneAtZero);
    EXPECT_EQ(StaticsShade(20, -128), 0x400000u);
}

TEST(MapPicture, MarksAndTheGridLieOverThePicture)
{
    const SmallMap map;
    std::vector<unsigned char> pixels(16 * 16 * 3);
    const PictureView view{pixels.data(), 16, 16, 48};
    MapPainter(map.Table, map.Dir / "Statics0.mul", &map.Client).Draw(WholeMap({2, 2}), 1, view);
    DrawMarks({{3, 3}, {15, 15}, {16, 0}, {0, 16}, {65535, 65535}}, WholeMap({2, 2}), 1, view);
    DrawBlockGrid(WholeMap({2, 2}), 1, view);
    auto at = [&](int x, int y) {
        const unsigned char* p = &pixels[std::size_t(y * 48 + x * 3)];
        return PackedRgb(p[0]) << 16 | PackedRgb(p[1]) << 8 | p[2];
    };
    EXPECT_EQ(at(3, 3), MarkColour);
    EXPECT_EQ(at(15, 15), MarkColour);
    EXPECT_EQ(at(0, 3), 0xFF8000u); // red half under yellow
    EXPECT_EQ(at(8, 5), 0xC2C242u); // grey half under yellow
    EXPECT_EQ(at(3, 0), 0xFF8000u);
    EXPECT_EQ(at(9, 9), Red);
    EXPECT_EQ(at(1, 1), White);

    // At 2 tiles a pixel, a mark takes its pixel; outside the area, nothing.
    std::vector<unsigned char> half(8 * 8 * 3, 0);
    DrawMarks({{3, 3}, {7, 7}}, {0, 0, 1, 1}, 2, {half.data(), 4, 4, 12});
    DrawMarks({{0, 0}, {8, 9}}, {1, 1, 1, 1}, 2, {half.data() + 12 * 4, 4, 4, 12});
    std::vector<int> marked;
    for (std::size_t i = 0; i < half.size(); i += 3)
        if (half[i] == 0xFF)
            marked.push_back(static_cast<int>(i / 3));
    EXPECT_EQ(marked, (std::vector<int>{5, 15, 16}));
}

TEST(MapPicture, UnreadableStaticsStopTheDrawingNamingTheBlock)
{
    SmallMap map;
    const std::string statics = map.Dir / "Statics0.mul";
    std::vector<unsigned char> pixels(16 * 16 * 3);
    auto draw = [&](int scale) {
        return ErrorLineOf([&] {
            MapPainter(map.Table, statics, nullptr).Draw(WholeMap({2, 2}), scale, {pixels.data(), 16, 16, 48});
        });
    };
    map.Table.At(1, 0).Offset = 1000;
    EXPECT_EQ(draw(1), statics + ": block 1, 0: Read beyond end of file.");
    map.Table.At(1, 0) = {0, 65536 * 7, 0};
    EXPECT_EQ(draw(1), statics + ": block 1, 0: Range check error.");
    map.Table.At(1, 0) = {70, 7, 0};
    // A block of more objects than a melt takes is drawn whole: its 600th stands highest.
    Bytes bytes = test::ReadBytes(statics);
    std::vector<TStaticItem> many(599, {0x10, 0, 0, 0, 0});
    many.push_back({0x11, 0, 0, 100, 0});
    map.Table.At(0, 1) = {static_cast<std::int32_t>(bytes.size()), 600 * 7, 0};
    const Bytes items = test::ItemBytes(many);
    bytes.insert(bytes.end(), items.begin(), items.end());
    test::WriteBytes(statics, bytes);
    EXPECT_EQ(Draw(map, &map.Client, WholeMap({2, 2}), 1)[8 * 16], 0xFFFFFFu);
    EXPECT_EQ(draw(2), "Range check error."); // a picture of another size than the area's
    EXPECT_EQ(ErrorLineOf([&] { MapPainter(map.Table, map.Dir / "none.mul", nullptr); }),
        map.Dir / "none.mul: File not found.");
}

// A map large enough for two threads, each a band of columns: the picture
// is what each column drawn alone gives (objects of three heights, so that
// many tiles hold two of one height), from map0.mul and from a container
// whose chunks end inside columns, and with the blocks elsewhere in the
// statics file; of two unreadable blocks, the one in the
// left band is named, then the one in the right.
TEST(MapPicture, TwoBandsDrawWhatEachColumnDrawsAlone)
{
    const TempFolder dir;
    const MapBlocks size{64, 80};
    StaIdx table(size);
    std::mt19937 random(5);
    Bytes radar(0x14000 * 2);
    for (unsigned char& byte : radar)
        byte = static_cast<unsigned char>(random());
    test::WriteBytes(dir / "radarcol.mul", radar);
    const Bytes terrain = test::TerrainBytes(std::size_t(size.Width) * size.Height, [&](std::size_t, int) {
        return test::Cell{static_cast<std::uint16_t>(random()), 0};
    });
    test::WriteBytes(dir / "map0.mul", terrain);
    const auto chunk1 = terrain.begin() + 4096 * TerrainBlockSize;
    test::WriteBytes(dir / "map0LegacyMUL.uop",
        test::UopBytes({{{TerrainChunkName(0, 0), Bytes(terrain.begin(), chunk1)}},
            {{TerrainChunkName(0, 1), Bytes(chunk1, terrain.end()), 1}}}));
    std::vector<TStaticItem> items;
    for (TStaIdxEntry& entry : table.Entries) {
        const int count = static_cast<int>(random() % 5);
        entry = {count == 0 ? -1 : static_cast<std::int32_t>(items.size() * 7), count * 7, 0};
        for (int i = 0; i < count; ++i)
            items.push_back({static_cast<std::uint16_t>(random()), static_cast<std::uint8_t>(random() % 9),
                static_cast<std::uint8_t>(random() % 8), static_cast<std::int8_t>(random() % 3 * 100 - 100), 0});
    }
    const std::string statics = dir / "Statics0.mul";
    test::WriteBytes(statics, test::ItemBytes(items));

    const RadarColours colours = RadarColours::Read(dir / "radarcol.mul");
    const ClientMap mul{dir / "map0.mul", 0, colours};
    const ClientMap container{dir / "map0LegacyMUL.uop", 0, colours};
    std::vector<unsigned char> fromMul[2];
    for (const ClientMap* client : {&mul, &container, static_cast<const ClientMap*>(nullptr)}) {
        for (const int scale : {1, 2}) {
            const int side = 8 / scale;
            const std::size_t stride = std::size_t(size.Width * side) * 3;
            std::vector<unsigned char> whole(stride * std::size_t(size.Height * side));
            MapPainter painter(table, statics, client);
            painter.Draw(WholeMap(size), scale, {whole.data(), size.Width * side, size.Height * side, stride});
            std::vector<unsigned char> columns(whole.size());
            for (int x = 0; x < size.Width; ++x)
                painter.Draw({x, 0, 1, size.Height}, scale,
                    {columns.data() + std::size_t(x * side) * 3, side, size.Height * side, stride});
            EXPECT_TRUE(whole == columns) << (client ? client->TerrainPath : "statics alone") << ", scale " << scale;
            // The container holds the terrain of map0.mul.
            if (client == &mul) {
                fromMul[scale - 1] = whole;
            } else if (client == &container) {
                EXPECT_TRUE(whole == fromMul[scale - 1]) << "scale " << scale;
            }
            // A picture larger than the caches is written past them, whatever
            // its rows' alignment, and nothing beside its rows is touched.
            const auto rows = std::size_t(size.Height * side);
            const std::size_t wide = (std::size_t{32} << 20) / rows + 13;
            const std::size_t lined = (wide + 63) / 64 * 64;
            for (const auto& [start, rowBytes] : {std::pair{std::size_t{1}, wide}, {8, lined}, {40, lined}}) {
                std::vector<unsigned char> large(lined * rows + 128, 0xEE);
                const auto aligned = static_cast<std::size_t>(-reinterpret_cast<std::uintptr_t>(large.data()) % 64);
                unsigned char* first = large.data() + aligned + start;
                painter.Draw(WholeMap(size), scale, {first, size.Width * side, size.Height * side, rowBytes});
                std::size_t differing = 0;
                std::size_t touched = 0;
                for (std::size_t y = 0; y < rows; ++y) {
                    const unsigned char* row = first + y * rowBytes;
                    differing += !std::equal(whole.begin() + std::ptrdiff_t(y * stride),
                        whole.begin() + std::ptrdiff_t((y + 1) * stride), row);
                    touched += std::size_t(
                        std::count_if(row + stride, y + 1 < rows ? row + rowBytes : large.data() + large.size(),
                            [](unsigned char byte) { return byte != 0xEE; }));
                }
                touched
                    += std::size_t(std::count_if(large.data(), first, [](unsigned char byte) { return byte != 0xEE; }));
                EXPECT_EQ(touched, 0u) << "start " << start << ", scale " << scale;
                EXPECT_EQ(differing, 0u) << (client ? client->TerrainPath : "statics alone") << ", start " << start
                                         << ", scale " << scale;
            }
        }
    }
    // The same blocks in another order, some far from the others past bytes
    // no entry names, as freezes leave a file: the same picture.
    StaIdx moved = table;
    Bytes layout;
    const Bytes canonical = test::ReadBytes(statics);
    for (std::size_t i = table.Entries.size(); i-- > 0;) {
        TStaIdxEntry& entry = moved.Entries[i];
        if (entry.Offset == -1)
            continue;
        if (i % 997 == 0)
            layout.resize(layout.size() + 100000, 0xAB);
        entry.Offset = static_cast<std::int32_t>(layout.size());
        layout.insert(layout.end(), canonical.begin() + table.Entries[i].Offset,
            canonical.begin() + table.Entries[i].Offset + table.Entries[i].Length);
    }
    test::WriteBytes(dir / "moved.mul", layout);
    for (const ClientMap* client : {&mul, static_cast<const ClientMap*>(nullptr)}) {
        const std::size_t stride = std::size_t(size.Width) * 8 * 3;
        std::vector<unsigned char> before(stride * std::size_t(size.Height) * 8);
        std::vector<unsigned char> after(before.size());
        MapPainter(table, statics, client).Draw(WholeMap(size), 1, {before.data(), 512, 640, stride});
        MapPainter(moved, dir / "moved.mul", client).Draw(WholeMap(size), 1, {after.data(), 512, 640, stride});
        EXPECT_TRUE(before == after) << (client ? client->TerrainPath : "statics alone");
    }
    std::vector<unsigned char> pixels(512 * 640 * 3);
    auto draw = [&] {
        return ErrorLineOf([&] {
            MapPainter(table, statics, &container).Draw(WholeMap(size), 1, {pixels.data(), 512, 640, 1536});
        });
    };
    table.At(40, 3).Offset = 1 << 30;
    EXPECT_EQ(draw(), statics + ": block 40, 3: Read beyond end of file.");
    table.At(5, 70).Length = 65536 * 7;
    EXPECT_EQ(draw(), statics + ": block 5, 70: Range check error.");
}

// The PNG file's pixels as colours, row by row.
std::vector<PackedRgb> ReadPng(const std::string& path, int& width, int& height)
{
    const Bytes png = test::ReadBytes(path);
    int channels = 0;
    unsigned char* pixels
        = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width, &height, &channels, 3);
    EXPECT_NE(pixels, nullptr) << path;
    EXPECT_EQ(channels, 3);
    std::vector<PackedRgb> colours;
    for (int i = 0; pixels != nullptr && i < width * height; ++i)
        colours.push_back(PackedRgb(pixels[i * 3]) << 16 | PackedRgb(pixels[i * 3 + 1]) << 8 | pixels[i * 3 + 2]);
    stbi_image_free(pixels);
    return colours;
}

// A picture of more than 1 MB of rows is compressed by two threads, each a
// half, joined into the one stream a PNG file holds: the pixels read back,
// and zlib, which checks the stream's checksum, inflates the rows whole.
TEST(Png, LargePicturesAreCompressedInHalvesJoinedIntoOneStream)
{
    for (const auto& [width, height] : {std::pair{16, 16}, {1000, 700}}) {
        std::vector<unsigned char> pixels(std::size_t(width) * std::size_t(height) * 3);
        std::mt19937 random(3);
        for (std::size_t i = 0; i < pixels.size(); ++i) // runs of noise between runs of a pattern
            pixels[i] = static_cast<unsigned char>(i / 3000 % 2 != 0 ? random() : i % 251);
        const std::string png = EncodePng({pixels.data(), width, height, std::size_t(width) * 3});
        int readWidth = 0, readHeight = 0, channels = 0;
        unsigned char* read = stbi_load_from_memory(reinterpret_cast<const unsigned char*>(png.data()),
            static_cast<int>(png.size()), &readWidth, &readHeight, &channels, 3);
        ASSERT_NE(read, nullptr) << width << " x " << height;
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), read)) << width << " x " << height;
        stbi_image_free(read);
        const std::size_t chunk = png.find("IDAT");
        ASSERT_NE(chunk, std::string::npos);
        uLong length = 0;
        for (std::size_t i = chunk - 4; i < chunk; ++i)
            length = length << 8 | static_cast<unsigned char>(png[i]);
        std::vector<unsigned char> rows((std::size_t(width) * 3 + 1) * std::size_t(height));
        uLongf inflated = static_cast<uLongf>(rows.size());
        EXPECT_EQ(
            uncompress(rows.data(), &inflated, reinterpret_cast<const Bytef*>(png.data() + chunk + 4), length), Z_OK)
            << width << " x " << height;
        EXPECT_EQ(inflated, rows.size());
    }
}

const char* const MeltedItems
    = "[ITEM]\nSerial=0x40000001\nID=0x10\nLocation=3,4,0,0,0\nCont=0xffffffff\nType=255\n\n"
      "o---o\n\n[ITEM]\nSerial=0x40000002\nID=0x10\nLocation=12,12,0,1,0\nType=255\n\no---o\n\n";

TEST(Render, ThePngFileHoldsThePictureWithTheItemsToFreezeMarked)
{
    const SmallMap map;
    test::WriteText(map.Dir / "items.wsc", MeltedItems);
    RenderRequest request{{map.Dir / "StaIdx0.mul", map.Dir / "Statics0.mul", map.Dir / "items.wsc"}, "", std::nullopt,
        1, false, IndexMap{0, MapBlocks{2, 2}}, map.Dir / "map.png"};
    test::RecordingReporter reporter;
    RenderMapPicture(request, reporter);
    EXPECT_EQ(reporter.Lines,
        (std::vector<std::string>{"Terrain: " + map.Dir / "map0.mul", "Radar colours: " + map.Dir / "radarcol.mul",
            "Not frozen: [ITEM] Serial=0x40000002 in items.wsc, line 10 is in world 1", "Items to freeze, marked: 1",
            "Wrote " + map.Dir / "map.png" + ": 16 x 16 pixels, tiles 0,0,15,15, 1 tile a pixel"}));
    int width = 0, height = 0;
    std::vector<PackedRgb> expected = ClientPicture;
    expected[4 * 16 + 3] = MarkColour;
    EXPECT_EQ(ReadPng(map.Dir / "map.png", width, height), expected);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 16);

    // A classic world save knows only the block of an item: all of it is marked.
    test::WriteText(map.Dir / "UOX3.wsc",
        test::CrLfLines({"SECTION WORLDITEM 1", "{", "SERIAL 1073741825", "ID 16", "X 12", "Y 3", "Z 0", "CONT -1",
            "TYPE 255", "}", "", "SECTION WORLDITEM 2", "{", "SERIAL 1073741826", "ID 16", "X 13", "Y 4", "CONT 5",
            "TYPE 255", "}", "", "EOF"}));
    request.Files.Wsc = map.Dir / "UOX3.wsc";
    reporter.Lines.clear();
    RenderMapPicture(request, reporter);
    EXPECT_EQ(std::vector<std::string>(reporter.Lines.begin() + 2, reporter.Lines.end() - 1),
        (std::vector<std::string>{
            "Not frozen: SECTION WORLDITEM 2 is inside a container", "Items to freeze, marked: 1"}));
    expected = ClientPicture;
    for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x)
            expected[std::size_t(y * 16 + x)] = MarkColour;
    EXPECT_EQ(ReadPng(map.Dir / "map.png", width, height), expected);

    // The area's corners in any order; the statics alone where the client's
    // files are missing, and the grid.
    request.Files.Wsc = map.Dir / "items.wsc";
    for (const char* name : {"map0.mul", "radarcol.mul"})
        std::filesystem::remove(map.Dir / name);
    request.Area = TileArea{8, 0, 9, 15};
    request.Scale = 2;
    request.Grid = true;
    reporter.Lines.clear();
    RenderMapPicture(request, reporter);
    EXPECT_EQ(reporter.Lines[0],
        "No radarcol.mul, nor map0LegacyMUL.uop or map0.mul beside the statics: the picture shows the statics alone");
    EXPECT_EQ(
        reporter.Lines.back(), "Wrote " + map.Dir / "map.png" + ": 4 x 8 pixels, tiles 8,0,15,15, 2 tiles a pixel");
    const std::vector<PackedRgb> half = ReadPng(map.Dir / "map.png", width, height);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 8);
    EXPECT_EQ(half[1 * 4 + 1], GroundColour);
    EXPECT_EQ(half[0], 0x989A1Cu); // the ground, half under the grid
    EXPECT_EQ(half[3], 0x9A9B1Du); // three tiles of ground and a low object, half under the grid
}

TEST(Render, WhatItRefusesLeavesTheOutputFileAsItWas)
{
    const SmallMap map;
    const std::string out = map.Dir / "map.png";
    test::WriteText(out, "an older picture");
    test::WriteText(map.Dir / "items.wsc", "[ITEM]\nSerial=0x40000001\nID=0x10\nLocation=3,4,0,0,0\nType=255\n");
    const RenderRequest request{{map.Dir / "StaIdx0.mul", map.Dir / "Statics0.mul", ""}, "", std::nullopt, 1, false,
        IndexMap{0, MapBlocks{2, 2}}, out};
    auto with = [&](const std::function<void(RenderRequest&)>& change) {
        RenderRequest changed = request;
        change(changed);
        return ErrorLineOf([&] {
            test::RecordingReporter reporter;
            RenderMapPicture(changed, reporter);
        });
    };
    const struct {
        std::function<void(RenderRequest&)> Change;
        std::string Error;
    } refused[] = {{[](RenderRequest& r) {
                        r.Area = TileArea{0, 0, 16, 3};
                    },
                       "The area 0,0,16,3 reaches outside the map of 16 x 16 tiles."},
        {[&](RenderRequest& r) { r.Output = map.Dir / "map.jpg"; },
            map.Dir / "map.jpg: The picture is written as PNG: give a file name ending in .png."},
        {[&](RenderRequest& r) { r.ClientFolder = map.Dir / "none"; }, map.Dir / "none: File not found."},
        {[&](RenderRequest& r) { r.ClientFolder = map.Dir.path() + "/"; },
            map.Dir.path() + "/: The client folder holds no map0LegacyMUL.uop or map0.mul."},
        {[&](RenderRequest& r) { r.Files.Wsc = map.Dir / "items.wsc"; },
            map.Dir / "items.wsc: line 1: This Type 255 item has no o---o line before the end of the file."},
        {[&](RenderRequest& r) { r.Files.Statics = map.Dir.path() + "/./map.png"; },
            out + ": The picture would overwrite one of the files it is drawn from."}};
    std::filesystem::remove(map.Dir / "map0.mul");
    const std::vector<std::string> files{"StaIdx0.mul", "Statics0.mul", "items.wsc", "map.png", "radarcol.mul"};
    for (const auto& c : refused) {
        EXPECT_EQ(with(c.Change), c.Error);
        EXPECT_EQ(test::ReadText(out), "an older picture");
        EXPECT_EQ(map.Dir.Entries(), files);
    }
    EXPECT_TRUE(FitsInPng(7168, 4096));
    EXPECT_TRUE(FitsInPng(715827882, 1));
    EXPECT_FALSE(FitsInPng(715827883, 1));
    EXPECT_FALSE(FitsInPng(65536, 65536));
    EXPECT_FALSE(FitsInPng(0, 8));
#ifndef _WIN32
    EXPECT_EQ(test::ErrorTextInChild({.FileSizeLimit = 100},
                  [&] {
                      test::RecordingReporter reporter;
                      RenderMapPicture(request, reporter);
                  }),
        "Disk full");
    EXPECT_EQ(test::ReadText(out), "an older picture");
    EXPECT_EQ(map.Dir.Entries(), files);
#endif
}

} // namespace
} // namespace cryo
