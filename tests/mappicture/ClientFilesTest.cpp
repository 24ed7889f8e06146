// The client's files that show the map: the container's name hash, its
// tables and compressed entries, the terrain in both forms, the radar colours
// and where they are found.
#include "ClientFolder.h"
#include "Error.h"
#include "MapPicture.h"
#include "PictureFiles.h"
#include "RadarColours.h"
#include "Terrain.h"
#include "UopFile.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace cryo {
namespace {

using test::Bytes;
using test::ErrorLineOf;
using test::TempFolder;

TEST(UopFile, NamesHashAsLookup3HashLittle2)
{
    // The reference values of lookup3's own self-test.
    const struct {
        std::string_view Text;
        std::uint32_t C;
        std::uint32_t B;
    } hashes[] = {{"", 0xDEADBEEF, 0xDEADBEEF}, {"Four score and seven years ago", 0x17770551, 0xCE7226E6}};
    for (const auto& h : hashes) {
        std::uint32_t c = 0;
        std::uint32_t b = 0;
        HashLittle2(h.Text, c, b);
        EXPECT_EQ(c, h.C) << h.Text;
        EXPECT_EQ(b, h.B) << h.Text;
    }
    EXPECT_EQ(UopNameHash("Four score and seven years ago"), 0xCE7226E617770551u);
    EXPECT_EQ(TerrainChunkName(0, 0), "build/map0legacymul/00000000.dat");
    EXPECT_EQ(TerrainChunkName(5, 123), "build/map5legacymul/00000123.dat");
}

// The terrain of a map of 16 x 512 blocks: every cell tells its block and place.
test::Cell CellOf(std::size_t block, int cell)
{
    return {static_cast<std::uint16_t>(block), static_cast<std::int8_t>(cell - 32)};
}

constexpr std::size_t ChunkBytes = 4096 * TerrainBlockSize;

Bytes Part(const Bytes& bytes, std::size_t from, std::size_t size)
{
    return Bytes(
        bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(from + size));
}

// Two tables: the first lists chunk 1 (stored as it is) and an entry of
// another name, the second chunk 0, compressed with zlib.
Bytes TwoTableContainer(const Bytes& terrain)
{
    return test::UopBytes(
        {{{TerrainChunkName(0, 1), Part(terrain, ChunkBytes, ChunkBytes)}, {"build/map0legacymul/notes.txt", {1, 2}}},
            {{TerrainChunkName(0, 0), Part(terrain, 0, ChunkBytes), 1}}});
}

TEST(Terrain, AContainerOfTwoTablesWithACompressedChunkHoldsTheBlocksOfTheMulFile)
{
    const TempFolder dir;
    const Bytes terrain = test::TerrainBytes(8192, CellOf);
    test::WriteBytes(dir / "map0.mul", terrain);
    const Bytes container = TwoTableContainer(terrain);
    test::WriteBytes(dir / "map0LegacyMUL.uop", container);
    EXPECT_LT(container.size(), terrain.size()); // chunk 0 is packed

    File file = File::OpenForReading(dir / "map0LegacyMUL.uop");
    const UopDirectory directory = UopDirectory::Read(file);
    EXPECT_EQ(directory.Size(), 3u);
    ASSERT_NE(directory.Find("build/map0legacymul/notes.txt"), nullptr);
    EXPECT_EQ(directory.Find("build/map0legacymul/00000002.dat"), nullptr);

    for (const char* name : {"map0.mul", "map0LegacyMUL.uop"}) {
        TerrainFile file = TerrainFile::Open(dir / name, 0);
        EXPECT_EQ(file.BlockCount(), 8192u) << name;
        // In one chunk, across the two, the last block, again the first.
        const struct {
            std::uint64_t First;
            std::size_t Count;
        } reads[] = {{0, 1}, {100, 512}, {4094, 4}, {4095, 1}, {4096, 1}, {8191, 1}, {0, 8192}, {7, 3}};
        for (const auto& read : reads) {
            Bytes blocks(read.Count * TerrainBlockSize);
            file.CopyBlocks(read.First, read.Count, blocks.data());
            EXPECT_EQ(blocks, Part(terrain, read.First * TerrainBlockSize, read.Count * TerrainBlockSize))
                << name << " " << read.First << " " << read.Count;
        }
        Bytes two(2 * TerrainBlockSize);
        EXPECT_EQ(
            ErrorLineOf([&] { file.CopyBlocks(8191, 2, two.data()); }), dir / name + ": Read beyond end of file.");
    }
}

TEST(Terrain, DamagedContainersAreRefusedNamingTheFile)
{
    const TempFolder dir;
    const std::string path = dir / "map0LegacyMUL.uop";
    const Bytes chunk = test::TerrainBytes(4096, CellOf);
    const Bytes good = test::UopBytes({{{TerrainChunkName(0, 0), chunk}}});
    Bytes notMyp = good;
    notMyp[0] = 'X';
    Bytes newer = test::UopBytes({{{TerrainChunkName(0, 0), chunk}}}, 6);
    Bytes tableOutside = good;
    tableOutside[18] = 0x01;
    Bytes loop = good;
    loop[28 + 4] = 28; // the first table's next table is itself
    Bytes tooManyEntries = good;
    tooManyEntries[28 + 3] = 0x7F;
    const struct {
        Bytes Container;
        std::string Error;
    } opened[] = {{notMyp, "Not a UOP container: the file does not begin with \"MYP\""},
        {Bytes(good.begin(), good.begin() + 20), "Not a UOP container: the file is too short."},
        {newer, "UOP container version 6 is newer than the versions known (up to 5)"},
        {tableOutside, "Read beyond end of file."}, {loop, "The tables of the UOP container form a loop (at byte 28)"},
        {tooManyEntries, "Read beyond end of file."}};
    for (const auto& c : opened) {
        test::WriteBytes(path, c.Container);
        EXPECT_EQ(ErrorLineOf([&] { TerrainFile::Open(path, 0); }), path + ": " + c.Error);
    }

    const std::string entry = "The entry build/map0legacymul/00000000.dat of the UOP container ";
    const struct {
        Bytes Container;
        std::string Error;
    } read[] = {{test::UopBytes({{{TerrainChunkName(0, 0), chunk, 2}}}),
                    entry + "is compressed by method 2, which cannot be read (only 0, none, and 1, zlib)"},
        {test::UopBytes({{{TerrainChunkName(0, 0), chunk, 1, 0, false}}}),
            entry + "does not decompress to its 802816 bytes (zlib: data error)"},
        {Bytes(good.begin(), good.end() - 1), "Read beyond end of file."}};
    for (const auto& c : read) {
        test::WriteBytes(path, c.Container);
        TerrainFile terrain = TerrainFile::Open(path, 0);
        EXPECT_EQ(terrain.BlockCount(), 4096u);
        // The last block, which a container cut short no longer holds whole.
        Bytes block(TerrainBlockSize);
        EXPECT_EQ(ErrorLineOf([&] { terrain.CopyBlocks(4095, 1, block.data()); }), path + ": " + c.Error);
    }

    // A chunk cut short ends the blocks; the map then asks for more.
    test::WriteBytes(path,
        test::UopBytes({{{TerrainChunkName(0, 0), Part(chunk, 0, 1000 * TerrainBlockSize + 100)},
            {TerrainChunkName(0, 1), chunk}}}));
    EXPECT_EQ(TerrainFile::Open(path, 0).BlockCount(), 1000u);
    test::WriteBytes(dir / "Statics0.mul", {});
    const StaIdx table({16, 512});
    const ClientMap client{path, 0, RadarColours()};
    EXPECT_EQ(ErrorLineOf([&] { MapPainter(table, dir / "Statics0.mul", &client); }),
        path + ": The terrain holds 1000 blocks, fewer than the 8192 of the map of 128 x 4096 tiles.");
}

TEST(RadarColours, FiveBitsAChannelBecomeEight)
{
    const std::pair<std::uint16_t, PackedRgb> colours[] = {{0x0000, 0x000000}, {0x7C00, 0xFF0000}, {0x03E0, 0x00FF00},
        {0x001F, 0x0000FF}, {0x7FFF, 0xFFFFFF}, {0xFFFF, 0xFFFFFF}, {0x4210, 0x848484}, {0x0421, 0x080808}};
    for (const auto& [in, out] : colours)
        EXPECT_EQ(ColourOf1555(in), out) << in;

    // An older, shorter table: statics past its end are black.
    const TempFolder dir;
    test::WriteBytes(dir / "radarcol.mul", test::RadarBytes({{1, 0x7C00}, {0x7FFF, 0x001F}, {0x8000, 0x7FFF}}, 0x8000));
    const RadarColours table = RadarColours::Read(dir / "radarcol.mul");
    EXPECT_EQ(table.Land(1), 0xFF0000u);
    EXPECT_EQ(table.Land(0x4001), 0xFF0000u);
    EXPECT_EQ(table.Static(0x3FFF), 0x0000FFu);
    EXPECT_EQ(table.Static(0x4000), 0u);
    EXPECT_EQ(table.Static(0xFFFF), 0u);
    EXPECT_EQ(ErrorLineOf([&] { RadarColours::Read(dir / "missing.mul"); }), dir / "missing.mul: File not found.");
}

TEST(ClientFolder, FilesAreFoundInAnyCaseTheContainerFirst)
{
    const TempFolder dir;
    EXPECT_EQ(MissingClientFiles(FindClientFiles(dir.path(), 0), 0), "radarcol.mul, nor map0LegacyMUL.uop or map0.mul");
    test::WriteBytes(dir / "RadarCol.MUL", {});
    test::WriteBytes(dir / "MAP0.mul", {});
    std::filesystem::create_directory(dir / "map1.mul");
    ClientFiles files = FindClientFiles(dir.path(), 0);
    EXPECT_EQ(files.RadarColours, dir / "RadarCol.MUL");
    EXPECT_EQ(files.Terrain, dir / "MAP0.mul");
    EXPECT_TRUE(files.Complete());
    EXPECT_EQ(MissingClientFiles(FindClientFiles(dir.path(), 1), 1), "map1LegacyMUL.uop or map1.mul");

    test::WriteBytes(dir / "Map0LegacyMUL.uop", {});
    files = FindClientFiles(dir.path() + "/", 0);
    EXPECT_EQ(files.Terrain, dir / "Map0LegacyMUL.uop");
    EXPECT_EQ(MissingClientFiles(files, 0), "");
#ifndef _WIN32
    // Of names that differ only in case, the exact one.
    test::WriteBytes(dir / "radarcol.mul", {});
    EXPECT_EQ(FindClientFiles(dir.path(), 0).RadarColours, dir / "radarcol.mul");
#endif

    EXPECT_EQ(ErrorLineOf([&] { FindClientFiles(dir / "none", 0); }), dir / "none: File not found.");
}

} // namespace
} // namespace cryo
