// A melt of an area of 100 x 100 blocks, 10,000 of them all holding objects,
// beside the baseline it is measured against: a durable copy (read, write
// and flush) of the files the melt rewrites, as the melt leaves them. Into a
// shared folder of 112 region files (about 60 MB; the area's objects go to
// 8 of them) and into a classic UOX3.wsc (about 30 MB, whose section
// numbers leave room for the area's objects). The worlds are kept between
// runs.
#include "BenchSupport.h"
#include "MapArea.h"
#include "Melt.h"
#include "RegionGen.h"
#include "StaticBlock.h"
#include "WorldGen.h"

#include <random>

namespace cryo::bench {
namespace {

namespace fs = std::filesystem;

constexpr BlockArea Area{300, 100, 100, 100};

// Fills every block of the area with perBlock objects.
void WriteAreaStatics(const std::string& folder, int perBlock)
{
    StaIdx table = worldgen::EmptyIndex();
    std::string statics;
    std::mt19937 random(7);
    for (int x = Area.X; x < Area.X + Area.Width; ++x) {
        for (int y = Area.Y; y < Area.Y + Area.Height; ++y) {
            table.At(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y))
                = {static_cast<std::int32_t>(statics.size()), perBlock * StaticItemSize, 0};
            for (int k = 0; k < perBlock; ++k) {
                unsigned char bytes[StaticItemSize];
                EncodeStaticItem(
                    {static_cast<std::uint16_t>(random() % 0x4000), static_cast<std::uint8_t>(random() % 8),
                        static_cast<std::uint8_t>(random() % 8), static_cast<std::int8_t>(random() % 100),
                        static_cast<std::uint16_t>(random() % 3000)},
                    bytes);
                statics.append(reinterpret_cast<const char*>(bytes), StaticItemSize);
            }
        }
    }
    NullReporter reporter;
    SaveStaIdx(folder + "/StaIdx0.mul", table, reporter);
    WriteFile(folder + "/Statics0.mul", statics);
}

struct AreaWorld {
    explicit AreaWorld(bool classic)
        : Folder(ScratchFolder(classic ? "area-classic" : "area-folder"))
        , Original(Folder + "/original")
        , Wsc(Folder + (classic ? "/UOX3.wsc" : "/shared"))
    {
        if (!fs::exists(Folder + "/complete")) {
            fs::remove_all(Original);
            fs::create_directories(Original);
            if (classic) {
                worldgen::WscOptions options;
                options.TargetBytes = 30'000'000;
                options.HighestNumber = 10000;
                options.Seed = 3;
                WriteFile(Original + "/UOX3.wsc", worldgen::GenerateWsc(options));
            } else {
                fs::create_directories(Original + "/shared");
                worldgen::RegionOptions options;
                options.TargetBytes = 60'000'000;
                options.Files = 112;
                worldgen::WriteRegionFolder(Original + "/shared", options);
            }
            WriteAreaStatics(Original, classic ? 5 : 20);
            WriteFile(Folder + "/complete", "");
        }
        fs::remove_all(Folder + "/shared");
        fs::remove(Folder + "/UOX3.wsc");
        fs::copy(Original, Folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    void Restore() const
    {
        for (const char* name : {"/StaIdx0.mul", "/Statics0.mul"})
            CopyFile(Original + name, Folder + name);
        if (fs::is_directory(Wsc)) {
            for (const auto& entry : fs::directory_iterator(Original + "/shared"))
                CopyFile(entry.path().string(), Wsc + "/" + entry.path().filename().string());
        } else {
            CopyFile(Original + "/UOX3.wsc", Wsc);
        }
    }

    std::unique_ptr<StaIdx> LoadedIndex() const
    {
        auto table = std::make_unique<StaIdx>();
        NullReporter reporter;
        LoadStaIdx(Folder + "/StaIdx0.mul", *table, reporter);
        return table;
    }

    int Melt() const
    {
        std::unique_ptr<StaIdx> table = LoadedIndex();
        LatestReporter reporter;
        return MeltArea(Folder + "/StaIdx0.mul", Folder + "/Statics0.mul", Wsc, Area, *table, reporter);
    }

    // The files a melt rewrote: the index and the world-save files that differ from the originals.
    std::vector<std::string> Rewritten() const
    {
        std::vector<std::string> paths{Folder + "/StaIdx0.mul"};
        if (!fs::is_directory(Wsc))
            return paths.push_back(Wsc), paths;
        for (const auto& entry : fs::directory_iterator(Wsc)) {
            const fs::path original = Original + "/shared/" + entry.path().filename().string();
            if (entry.path().filename().string().starts_with("."))
                continue;
            if (!fs::exists(original) || fs::file_size(original) != entry.file_size())
                paths.push_back(entry.path().string());
        }
        return paths;
    }

    std::string Folder;
    std::string Original;
    std::string Wsc;
};

const AreaWorld& World(bool classic)
{
    static const AreaWorld folder(false);
    static const AreaWorld save(true);
    return classic ? save : folder;
}

void MeltArea10000Blocks(benchmark::State& state)
{
    const AreaWorld& world = World(state.range(0) != 0);
    int moved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        world.Restore();
        fs::remove_all(world.Folder + "/.cryoweaver-history");
        state.ResumeTiming();
        moved = world.Melt();
    }
    state.counters["objects"] = moved;
}
BENCHMARK(MeltArea10000Blocks)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

// The durable copy of the files the melt rewrites, at their size after it.
void DurableCopyOfRewrittenFiles(benchmark::State& state)
{
    const AreaWorld& world = World(state.range(0) != 0);
    world.Restore();
    fs::remove_all(world.Folder + "/.cryoweaver-history");
    world.Melt();
    const std::vector<std::string> paths = world.Rewritten();
    std::uint64_t bytes = 0;
    for (const std::string& path : paths)
        bytes += fs::file_size(path);
    for (auto _ : state)
        for (const std::string& path : paths)
            PlainReadWrite(path);
    state.counters["files"] = static_cast<double>(paths.size());
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(DurableCopyOfRewrittenFiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
