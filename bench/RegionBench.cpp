// A freeze from a generated shared folder of 112 region files, about 300 MB,
// with 20,000 Type 255 items over 2,000 blocks in every tenth file, beside
// the baseline of what it cannot do without: reading every file, and a
// durable copy of every file it changes (the index and the region files that
// lose items). The folder is kept between runs; the peak memory of the
// process is reported with each benchmark.
#include "BenchSupport.h"
#include "Freeze.h"
#include "ItemSaveFiles.h"
#include "RegionGen.h"
#include "WorldGen.h"

#include <memory>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace cryo::bench {
namespace {

namespace fs = std::filesystem;

struct SharedWorld {
    std::string Folder = ScratchFolder("regions");
    std::string Shared = Folder + "/shared";
    std::string Original = Folder + "/original";
    std::string Index = Folder + "/staidx0.mul";
    std::string Statics = Folder + "/statics0.mul";
    std::vector<std::string> Changed; // names of the region files a freeze changes

    SharedWorld()
    {
        if (!fs::exists(Folder + "/complete")) {
            fs::remove_all(Original);
            fs::create_directories(Original);
            worldgen::RegionOptions options;
            options.TargetBytes = 300'000'000;
            options.Files = 112;
            options.Type255Items = 20000;
            options.Blocks = worldgen::BlocksInEveryNthFile(2000, 10, 112, 5);
            worldgen::WriteRegionFolder(Original, options);
            StaIdx table = worldgen::EmptyIndex({896, 512});
            std::vector<unsigned char> statics;
            worldgen::GenerateStatics(20000, 20, 3, table, statics);
            NullReporter reporter;
            SaveStaIdx(Original + "/staidx0.mul", table, reporter);
            WriteFile(Original + "/statics0.mul", std::string(statics.begin(), statics.end()));
            WriteFile(Folder + "/complete", "");
        }
        fs::remove_all(Shared);
        fs::create_directories(Shared);
        for (const auto& entry : fs::directory_iterator(Original))
            if (entry.path().extension() == ".wsc")
                CopyFile(entry.path().string(), Shared + "/" + entry.path().filename().string());
        Restore();
        for (const FreezeFile& file : SelectForFreeze(FreezeFiles(Shared), FreezeMapOf(*LoadedIndex())).Files)
            Changed.push_back(fs::path(file.Path).filename().string());
    }

    std::unique_ptr<StaIdx> LoadedIndex() const
    {
        auto table = std::make_unique<StaIdx>();
        NullReporter reporter;
        LoadStaIdx(Index, *table, reporter);
        return table;
    }

    // Only the files a freeze changes need to be put back.
    void Restore() const
    {
        CopyFile(Original + "/staidx0.mul", Index);
        CopyFile(Original + "/statics0.mul", Statics);
        for (const std::string& name : Changed)
            CopyFile(Original + "/" + name, Shared + "/" + name);
    }
};

SharedWorld& World()
{
    static SharedWorld world;
    return world;
}

void ReportMemory(benchmark::State& state)
{
#ifndef _WIN32
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
#else
    (void)state;
#endif
}

void ReadAllCopyChanged(benchmark::State& state)
{
    const SharedWorld& world = World();
    for (auto _ : state) {
        for (const std::string& path : FreezeFiles(world.Shared))
            benchmark::DoNotOptimize(PlainRead(path));
        PlainReadWrite(world.Index);
        for (const std::string& name : world.Changed)
            PlainReadWrite(world.Shared + "/" + name);
    }
    ReportMemory(state);
}
BENCHMARK(ReadAllCopyChanged)->Unit(benchmark::kMillisecond)->Iterations(5);

void FreezeSharedFolder(benchmark::State& state)
{
    const SharedWorld& world = World();
    LatestReporter reporter;
    for (auto _ : state) {
        state.PauseTiming();
        world.Restore();
        std::unique_ptr<StaIdx> table = world.LoadedIndex();
        state.ResumeTiming();
        FreezeWorld(world.Index, world.Statics, world.Shared, *table, reporter);
    }
    state.counters["files_changed"] = static_cast<double>(world.Changed.size());
    ReportMemory(state);
}
BENCHMARK(FreezeSharedFolder)->Unit(benchmark::kMillisecond)->Iterations(5);

// The selection alone: what reading and deciding every record costs.
void SelectSharedFolder(benchmark::State& state)
{
    const SharedWorld& world = World();
    world.Restore();
    const FreezeMap map = FreezeMapOf(*world.LoadedIndex());
    for (auto _ : state)
        benchmark::DoNotOptimize(SelectForFreeze(FreezeFiles(world.Shared), map).Objects.size());
    ReportMemory(state);
}
BENCHMARK(SelectSharedFolder)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
