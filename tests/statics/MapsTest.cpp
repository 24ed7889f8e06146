// Maps 0 to 5: the map of a pair of statics files, the size of its index, the
// texts of sizes and positions, and the table loaded and written at its size.
#include "Error.h"
#include "File.h"
#include "MapArea.h"
#include "MapSizes.h"
#include "StaIdx.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace cryo {
namespace {

using test::Bytes;
using test::ErrorText;

TEST(MapSizes, MapsAndTheirSizes)
{
    const struct {
        std::string_view Path;
        StaticsFileKind Kind;
        std::optional<int> Map;
    } names[] = {
        {"/srv/uo/staidx2.mul", StaticsFileKind::Index, 2},
#ifdef _WIN32
        {"C:\\UO\\StaIdx0.MUL", StaticsFileKind::Index, 0},
        {"C:Statics5.mul", StaticsFileKind::Data, 5},
#else
        {"/srv/UO\\StaIdx0.MUL", StaticsFileKind::Index, std::nullopt},
        {"/srv/uo/Statics5.MUL", StaticsFileKind::Data, 5},
#endif
        {"statics6.mul", StaticsFileKind::Data, std::nullopt},
        {"staidx2.mul", StaticsFileKind::Data, std::nullopt},
        {"staidx12.mul", StaticsFileKind::Index, std::nullopt},
        {"staidx2.mul/", StaticsFileKind::Index, std::nullopt},
    };
    for (const auto& c : names)
        EXPECT_EQ(StaticsMapNumber(c.Path, c.Kind), c.Map) << c.Path;
    const struct {
        int Map;
        std::uint64_t Bytes;
        MapBlocks Size;
    } sizes[] = {
        // The sizes of real files are loaded below.
        {0, 5505036, {768, 512}},
        {1, 5000000, {768, 512}},
        {2, 691211, {288, 200}},
        {3, 4000000000, {8192, 256}},
    };
    for (const auto& c : sizes)
        EXPECT_EQ(MapSizeOfIndex(c.Map, c.Bytes), c.Size) << c.Map << " " << c.Bytes;
}

TEST(MapSizes, MapSizeAndPositionTexts)
{
    EXPECT_EQ(ParseMapSize("7168x4096"), (MapBlocks{896, 512}));
    EXPECT_EQ(ParseMapSize("8X65536"), (MapBlocks{1, 8192}));
    for (const char* bad : {"7004x4096", "7168", "x4096", "0x8", "7168x4096x8", "65544x8", "+8x8", " 8x8", "8x8 "})
        EXPECT_EQ(ErrorText([&] { ParseMapSize(bad); }),
            "Invalid map size '" + std::string(bad)
                + "': give WIDTHxHEIGHT in tiles, multiples of 8 up to 65536, such as 7168x4096");
    EXPECT_EQ(ParsePosition("1432,1696"), (TilePosition{1432, 1696}));
    EXPECT_EQ(ParsePosition(" 0 , 65535 "), (TilePosition{0, 65535}));
    for (const char* bad : {"1432", "1432,", "-1,5", "1,2,3", "0x10,5", "99999999999,0"})
        EXPECT_EQ(ErrorText([&] { ParsePosition(bad); }),
            "Invalid position '" + std::string(bad) + "': give X,Y in tiles, such as 1432,1696");
    EXPECT_EQ(ErrorText([&] { ParsePosition("65536,0"); }),
        "The position 65536,0 lies outside every map: no map is wider or higher than 65536 tiles");
}

TEST(MapArea, AnyTwoCornersNameTheBlocksTheyTouch)
{
    const MapBlocks map0{896, 512};
    const struct {
        const char* Text;
        TileArea Area;
        BlockArea Blocks;
    } areas[] = {
        {"1400,1600,1500,1700", {1400, 1600, 1500, 1700}, {175, 200, 13, 13}},
        {"1500,1700,1400,1600", {1400, 1600, 1500, 1700}, {175, 200, 13, 13}},
        {"1500,1600,1400,1700", {1400, 1600, 1500, 1700}, {175, 200, 13, 13}},
        {" 1400 , 1700,1500 ,1600 ", {1400, 1600, 1500, 1700}, {175, 200, 13, 13}},
        // Edges that touch a block by one tile take it.
        {"7,7,8,8", {7, 7, 8, 8}, {0, 0, 2, 2}},
        {"8,8,15,15", {8, 8, 15, 15}, {1, 1, 1, 1}},
        {"15,16,16,15", {15, 15, 16, 16}, {1, 1, 2, 2}},
        {"803,1605,803,1605", {803, 1605, 803, 1605}, {100, 200, 1, 1}},
        {"0,0,7167,4095", {0, 0, 7167, 4095}, {0, 0, 896, 512}},
    };
    for (const auto& c : areas) {
        EXPECT_EQ(ParseArea(c.Text), c.Area) << c.Text;
        EXPECT_EQ(BlocksTouching(c.Area, map0), c.Blocks) << c.Text;
    }
    EXPECT_EQ(AreaText({15, 15, 16, 16}), "15,15,16,16");

    for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,2,,4", "-1,2,3,4", "1,2,3,65536", "0x10,1,2,3", "", "1;2;3;4"})
        EXPECT_EQ(ErrorText([&] { ParseArea(bad); }),
            "Invalid area '" + std::string(bad)
                + "': give X1,Y1,X2,Y2 in tiles, two opposite corners, such as 1400,1600,1500,1700")
            << bad;
    const struct {
        TileArea Area;
        MapBlocks Map;
        const char* Text;
    } offMap[] = {
        {{0, 0, 7168, 0}, map0, "The area 0,0,7168,0 reaches outside the map of 7168 x 4096 tiles"},
        {{6143, 0, 6144, 10}, {768, 512}, "The area 6143,0,6144,10 reaches outside the map of 6144 x 4096 tiles"},
        {{0, 1599, 10, 1600}, {288, 200}, "The area 0,1599,10,1600 reaches outside the map of 2304 x 1600 tiles"},
        {{65535, 65535, 65535, 65535}, map0,
            "The area 65535,65535,65535,65535 reaches outside the map of 7168 x 4096 tiles"},
    };
    for (const auto& c : offMap)
        EXPECT_EQ(ErrorText([&] { BlocksTouching(c.Area, c.Map); }), c.Text);
}

TEST(MapSizes, FilesOfTwoMapsAreRefusedNamingBoth)
{
    EXPECT_EQ(MapOfStaticsFiles("/uo/StaIdx2.MUL", "/uo/statics2.mul"), 2);
    EXPECT_EQ(MapOfStaticsFiles("/uo/index.mul", "/uo/data.mul"), 0);
    EXPECT_EQ(MapOfStaticsFiles("/uo/StaIdx0.mul", "/uo/data.mul"), 0);
    EXPECT_EQ(ErrorText([] { MapOfStaticsFiles("/uo/staidx2.mul", "/uo/statics3.mul"); }),
        "The index '/uo/staidx2.mul' belongs to map 2 but the statics file '/uo/statics3.mul' to map 3: give the two "
        "files of one map (staidxN.mul with staticsN.mul; a name without a map number is map 0)");
    EXPECT_NE(ErrorText([] { MapOfStaticsFiles("/uo/staidx2.mul", "/uo/data.mul"); }), "");
}

TEST(LoadStaIdx, TheTableHasTheSizeOfItsMapAndWritesEveryByteBack)
{
    test::TempFolder dir;
    const std::string path = dir / "staidx.mul";
    const struct {
        int Map;
        std::optional<MapBlocks> Given;
        std::size_t Bytes;
        MapBlocks Size; // or the error
        std::string Error = "";
    } cases[] = {
        {0, {}, 4718592, {768, 512}},
        {0, {}, 4718593, {768, 512}},
        {0, {}, 5505024, {896, 512}},
        {1, {}, 5505024, {896, 512}},
        {2, {}, 691200, {288, 200}},
        {3, {}, 983040, {320, 256}},
        {4, {}, 393132, {181, 181}},
        {5, {}, 983040, {160, 512}},
        // Cut inside its last column: one column fewer, whose records are kept.
        {3, {}, 983039, {319, 256}},
        {0, MapBlocks{768, 512}, 5505024, {768, 512}},
        {0, MapBlocks{2, 8}, 200, {2, 8}},
        {0, {}, 4718591, {}, "Read beyond end of file"},
        {2, {}, 2399, {}, "Read beyond end of file"},
        {1, MapBlocks{896, 512}, 4718592, {}, "Read beyond end of file"},
    };
    std::mt19937 random(5);
    for (const auto& c : cases) {
        Bytes bytes(c.Bytes);
        for (auto& b : bytes)
            b = static_cast<unsigned char>(random());
        test::WriteBytes(path, bytes);
        StaIdx table;
        test::RecordingReporter loading;
        const std::string error = test::ErrorLineOf([&] { LoadStaIdx(path, table, loading, {c.Map, c.Given}); });
        if (!c.Error.empty()) {
            EXPECT_EQ(error, path + ": " + c.Error + ".") << c.Bytes;
            EXPECT_FALSE(table.StaIdxLoaded);
            // A file too short for the size given: its records replace the
            // first entries, and the table keeps its size.
            EXPECT_EQ(table.Size(), (MapBlocks{768, 512})) << c.Bytes;
            if (c.Given) {
                EXPECT_EQ(table.Entries.back(), DecodeStaIdxEntry(&bytes[c.Bytes - 12])) << c.Bytes;
            }
            continue;
        }
        ASSERT_EQ(error, "") << c.Bytes;
        EXPECT_EQ(table.Size(), c.Size) << c.Bytes;
        // Block (x, y) is record x * height + y; nothing past the map is a block.
        const auto last = static_cast<std::uint16_t>(c.Size.Width - 1);
        const auto bottom = static_cast<std::uint16_t>(c.Size.Height - 1);
        EXPECT_EQ(table.At(last, bottom), DecodeStaIdxEntry(&bytes[(table.Entries.size() - 1) * 12]));
        EXPECT_EQ(table.At(1, 0), DecodeStaIdxEntry(&bytes[static_cast<std::size_t>(c.Size.Height) * 12]));
        EXPECT_EQ(ErrorText([&] { table.At(last + 1, 0); }), "Range check error");
        EXPECT_EQ(ErrorText([&] { table.At(0, bottom + 1); }), "Range check error");
        // The position follows the columns: 800 div 896 is 0, 900 div 896 is 1.
        if (c.Size.Width == 896) {
            EXPECT_TRUE(loading.Progress[1 + 8 * 512] == 0 && loading.Progress[1 + 9 * 512] == 1);
        }
        ReplacementFile saved(dir / "saved.mul");
        WriteStaIdx(saved, table, loading);
        saved.Commit();
        EXPECT_EQ(test::ReadBytes(dir / "saved.mul"), bytes) << c.Bytes;
    }
}

} // namespace
} // namespace cryo
