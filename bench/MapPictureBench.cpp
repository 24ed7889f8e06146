// The picture of the whole of map 0 (7168 x 4096 tiles, one pixel a tile)
// from a generated client folder: map0.mul, the same terrain in
// map0LegacyMUL.uop, radarcol.mul and statics of about 5.7 million objects
// (40 MB), beside a plain read of the files it reads. The folder (about
// 230 MB) is kept between runs. Each drawing reports how much memory it
// needed beyond the picture, which the caller owns.
#include "BenchSupport.h"
#include "MapPicture.h"
#include "Png.h"
#include "RadarColours.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "Terrain.h"
#include "UopFile.h"

#include <cstring>
#include <fstream>
#include <random>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

namespace cryo::bench {
namespace {

namespace fs = std::filesystem;

constexpr MapBlocks Map0{896, 512};

void PutLe(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

struct ClientFolder {
    std::string Folder = ScratchFolder("mappicture");
    std::string Index = Folder + "/StaIdx0.mul";
    std::string Statics = Folder + "/Statics0.mul";
    std::string Terrain = Folder + "/map0.mul";
    std::string Container = Folder + "/map0LegacyMUL.uop";
    std::string Radar = Folder + "/radarcol.mul";

    ClientFolder()
    {
        if (fs::exists(Folder + "/complete"))
            return;
        std::mt19937 random(7);
        // Land in patches of one tile number, as real terrain is.
        std::string terrain;
        terrain.reserve(std::size_t(Map0.Width) * Map0.Height * TerrainBlockSize);
        for (int x = 0; x < Map0.Width; ++x) {
            for (int y = 0; y < Map0.Height; ++y) {
                PutLe(terrain, 0, 4);
                const std::uint32_t patch = (std::uint32_t(x / 4) * 131 + std::uint32_t(y / 4) * 17) % 0x4000;
                for (int cell = 0; cell < 64; ++cell) {
                    PutLe(terrain, random() % 8 == 0 ? random() % 0x4000 : patch, 2);
                    PutLe(terrain, random() % 20, 1);
                }
            }
        }
        WriteFile(Terrain, terrain);
        // The same blocks in chunks of 4,096, stored as they are, one table.
        std::string container;
        const std::size_t chunkBytes = 4096 * TerrainBlockSize;
        const std::size_t chunks = (terrain.size() + chunkBytes - 1) / chunkBytes;
        PutLe(container, 0x0050594D, 4);
        PutLe(container, 5, 4);
        PutLe(container, 0, 4);
        PutLe(container, 28, 8);
        PutLe(container, chunks, 4);
        PutLe(container, chunks, 4);
        PutLe(container, chunks, 4);
        PutLe(container, 0, 8);
        std::size_t at = 28 + 12 + chunks * 34;
        for (std::size_t i = 0; i < chunks; ++i) {
            const std::size_t size = std::min(chunkBytes, terrain.size() - i * chunkBytes);
            PutLe(container, at, 8);
            PutLe(container, 0, 4);
            PutLe(container, size, 4);
            PutLe(container, size, 4);
            PutLe(container, UopNameHash(TerrainChunkName(0, i)), 8);
            PutLe(container, 0, 4);
            PutLe(container, 0, 2);
            at += size;
        }
        container += terrain;
        terrain = {};
        WriteFile(Container, container);
        container = {};

        std::string radar;
        for (std::size_t i = 0; i < RadarColours::Entries; ++i)
            PutLe(radar, random() & 0x7FFF, 2);
        WriteFile(Radar, radar);

        // 0 to 24 objects a block, in index order, as a client's files lie.
        StaIdx table(Map0);
        std::string statics;
        for (int x = 0; x < Map0.Width; ++x) {
            for (int y = 0; y < Map0.Height; ++y) {
                const int count = static_cast<int>(random() % 25);
                table.At(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y))
                    = {count == 0 ? -1 : static_cast<std::int32_t>(statics.size()), count * StaticItemSize, 0};
                for (int i = 0; i < count; ++i) {
                    unsigned char item[StaticItemSize];
                    EncodeStaticItem(
                        {static_cast<std::uint16_t>(random() % 0x4000), static_cast<std::uint8_t>(random() % 8),
                            static_cast<std::uint8_t>(random() % 8), static_cast<std::int8_t>(random() % 60), 0},
                        item);
                    statics.append(reinterpret_cast<const char*>(item), sizeof item);
                }
            }
        }
        WriteFile(Statics, statics);
        NullReporter reporter;
        SaveStaIdx(Index, table, reporter);
        WriteFile(Folder + "/complete", "");
    }
};

ClientFolder& Folder()
{
    static ClientFolder folder;
    return folder;
}

std::size_t ReadAll(const std::vector<std::string>& paths)
{
    std::size_t total = 0;
    for (const std::string& path : paths)
        total += PlainRead(path);
    return total;
}

// The files a picture from this terrain reads.
std::vector<std::string> PictureFiles(const std::string& terrain)
{
    const ClientFolder& folder = Folder();
    return {folder.Index, folder.Statics, terrain, folder.Radar};
}

// Warm: the files in the system's cache, as after a first picture. Cold:
// dropped from it before each run, as a first picture after a start reads
// them from the disk.
enum class Cache { Warm, Cold };

void Prepare(const std::vector<std::string>& paths, Cache cache)
{
    for (const std::string& path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (cache == Cache::Cold) {
            ::fdatasync(fd);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        }
        ::close(fd);
    }
    if (cache == Cache::Warm)
        ReadAll(paths);
}

// The files read once in blocks of 1 MB.
void PlainReadOfTheFiles(benchmark::State& state, const std::string& terrain, Cache cache)
{
    const std::vector<std::string> paths = PictureFiles(terrain);
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Prepare(paths, cache);
        state.ResumeTiming();
        benchmark::DoNotOptimize(bytes = ReadAll(paths));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK_CAPTURE(PlainReadOfTheFiles, mul_warm, Folder().Terrain, Cache::Warm)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainReadOfTheFiles, uop_warm, Folder().Container, Cache::Warm)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainReadOfTheFiles, mul_cold, Folder().Terrain, Cache::Cold)->Unit(benchmark::kMillisecond);

// What no picture can do without: the files read and the picture's memory
// written once.
void PlainReadAndFill(benchmark::State& state)
{
    const std::vector<std::string> paths = PictureFiles(Folder().Terrain);
    std::vector<unsigned char> pixels(std::size_t(7168) * 4096 * 3, 1);
    Prepare(paths, Cache::Warm);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadAll(paths));
        std::memset(pixels.data(), 2, pixels.size());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(PlainReadAndFill)->Unit(benchmark::kMillisecond);

// The resident memory in kB: now, or at its peak since ResetPeak.
std::int64_t ResidentKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field))
            return std::stoll(line.substr(std::string_view(field).size()));
    return -1;
}

void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// FNV-1a of the picture, 32 bits so that a counter shows it exactly: the same
// before and after a change to the drawing.
double PictureHash(const std::vector<unsigned char>& pixels)
{
    std::uint32_t hash = 2166136261u;
    for (const unsigned char byte : pixels)
        hash = (hash ^ byte) * 16777619u;
    return hash;
}

// The whole map at the scale, from its files: the index loaded, the radar
// colours read, the picture drawn into memory the caller holds.
void DrawWholeMap(benchmark::State& state, const std::string& terrain, int scale, Cache cache)
{
    const ClientFolder& folder = Folder();
    const std::vector<std::string> paths = PictureFiles(terrain);
    const BlockArea area = WholeMap(Map0);
    const int width = PictureWidth(area, scale);
    const int height = PictureHeight(area, scale);
    std::vector<unsigned char> pixels(std::size_t(width) * height * 3, 1);
    const PictureView picture{pixels.data(), width, height, std::size_t(width) * 3};
    LatestReporter reporter;
    std::int64_t beyondPicture = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Prepare(paths, cache);
        // What the last drawing freed goes back to the system, so that this
        // one's memory shows in its peak.
        ::malloc_trim(0);
        state.ResumeTiming();
        const std::int64_t before = ResidentKb("VmRSS:");
        ResetPeak();
        {
            auto table = std::make_unique<StaIdx>(MapBlocks{0, 0}); // as the command line makes it
            LoadStaIdx(folder.Index, *table, reporter);
            const ClientMap client{terrain, 0, RadarColours::Read(folder.Radar)};
            MapPainter(*table, folder.Statics, &client).Draw(area, scale, picture, &reporter);
        }
        beyondPicture = std::max(beyondPicture, ResidentKb("VmHWM:") - before);
    }
    benchmark::DoNotOptimize(pixels.data());
    state.counters["beyond_picture_MB"] = static_cast<double>(beyondPicture) / 1024.0;
    state.counters["picture_MB"] = static_cast<double>(pixels.size()) / (1 << 20);
    state.counters["picture_hash"] = PictureHash(pixels);
}
BENCHMARK_CAPTURE(DrawWholeMap, mul_1_warm, Folder().Terrain, 1, Cache::Warm)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DrawWholeMap, uop_1_warm, Folder().Container, 1, Cache::Warm)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DrawWholeMap, mul_1_cold, Folder().Terrain, 1, Cache::Cold)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DrawWholeMap, uop_8_warm, Folder().Container, 8, Cache::Warm)->Unit(benchmark::kMillisecond);

// What a window's pane does for one tile of 256 x 256 tiles: opens the files
// and draws it, with the index and radar colours already loaded.
void DrawOneTile(benchmark::State& state)
{
    const ClientFolder& folder = Folder();
    auto table = std::make_unique<StaIdx>();
    NullReporter reporter;
    LoadStaIdx(folder.Index, *table, reporter);
    const ClientMap client{folder.Container, 0, RadarColours::Read(folder.Radar)};
    const int scale = static_cast<int>(state.range(0));
    const BlockArea tile{400, 200, 32 * scale, 32 * scale};
    std::vector<unsigned char> pixels(256 * 256 * 3);
    for (auto _ : state)
        MapPainter(*table, folder.Statics, &client).Draw(tile, scale, {pixels.data(), 256, 256, 256 * 3});
    benchmark::DoNotOptimize(pixels.data());
    state.counters["picture_hash"] = PictureHash(pixels);
}
BENCHMARK(DrawOneTile)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

// The PNG file of the whole picture, once drawn.
void EncodeWholeMap(benchmark::State& state)
{
    const ClientFolder& folder = Folder();
    auto table = std::make_unique<StaIdx>();
    NullReporter reporter;
    LoadStaIdx(folder.Index, *table, reporter);
    const ClientMap client{folder.Terrain, 0, RadarColours::Read(folder.Radar)};
    const BlockArea area = WholeMap(Map0);
    std::vector<unsigned char> pixels(std::size_t(7168) * 4096 * 3);
    const PictureView picture{pixels.data(), 7168, 4096, 7168 * 3};
    MapPainter(*table, folder.Statics, &client).Draw(area, 1, picture);
    std::size_t size = 0;
    for (auto _ : state)
        size = EncodePng(picture).size();
    state.counters["png_MB"] = static_cast<double>(size) / (1 << 20);
}
BENCHMARK(EncodeWholeMap)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
